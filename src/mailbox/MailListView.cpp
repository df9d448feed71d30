// SPDX-License-Identifier: GPL-3.0-or-later
#include "mailbox/MailListView.h"

#include <QContextMenuEvent>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QMouseEvent>
#include <QResizeEvent>

#include <algorithm>

MailListView::MailListView(QWidget *parent) : QTreeView(parent)
{
    setRootIsDecorated(false);
    setUniformRowHeights(true);
    setItemsExpandable(false);
    setExpandsOnDoubleClick(false);
    setSelectionMode(QAbstractItemView::ExtendedSelection);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setFrameShape(QFrame::NoFrame);
    setAllColumnsShowFocus(true);
    setSortingEnabled(false);  // the window sorts on header clicks itself
    header()->setStretchLastSection(false);
    header()->setSectionsMovable(false);
    header()->setSectionsClickable(true);
    header()->setHighlightSections(false);
    header()->setSortIndicatorShown(false);
    connect(header(), &QHeaderView::sectionResized, this,
            [this](int column, int, int width) { keepMinimumWidth(column, width); });
}

void MailListView::setColumnMinimumWidths(const QList<int> &widths)
{
    minimumWidths = widths;
    if (!widths.isEmpty())
        header()->setMinimumSectionSize(*std::min_element(widths.cbegin(), widths.cend()));
    for (int column = 0; column < widths.size() && column < header()->count(); ++column)
        keepMinimumWidth(column, header()->sectionSize(column));
}

int MailListView::columnMinimumWidth(int column) const
{
    return minimumWidths.value(column, 0);
}

void MailListView::keepMinimumWidth(int column, int width)
{
    const int minimum = columnMinimumWidth(column);
    if (width < minimum)
        header()->resizeSection(column, minimum);
}

QList<int> MailListView::selectedRows() const
{
    QList<int> rows;
    if (!selectionModel())
        return rows;
    const QItemSelection selection = selectionModel()->selection();
    for (const QItemSelectionRange &range : selection) {
        if (!range.isValid())
            continue;
        for (int row = range.top(); row <= range.bottom(); ++row)
            rows.append(row);
    }
    // Ranges of one row may be split by column; count each row once.
    std::sort(rows.begin(), rows.end());
    rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
    return rows;
}

int MailListView::selectedRow() const
{
    if (!selectionModel())
        return -1;
    int lowest = -1;
    const QItemSelection selection = selectionModel()->selection();
    for (const QItemSelectionRange &range : selection) {
        if (range.isValid() && (lowest < 0 || range.top() < lowest))
            lowest = range.top();
    }
    return lowest;
}

bool MailListView::hasSelectedRow() const
{
    return selectionModel() && selectionModel()->hasSelection();
}

void MailListView::mouseDoubleClickEvent(QMouseEvent *event)
{
    QTreeView::mouseDoubleClickEvent(event);
    if (event->button() == Qt::LeftButton)
        emit listDoubleClicked();
}

void MailListView::resizeEvent(QResizeEvent *event)
{
    QTreeView::resizeEvent(event);
    if (event->size() != event->oldSize())
        emit resized();
}

bool MailListView::event(QEvent *event)
{
    // From the keyboard (or over the header) the menu comes to the view
    // itself: it is over no row.
    if (event->type() == QEvent::ContextMenu && !menuOverRows)
        emit contextMenuOpening(QModelIndex());
    return QTreeView::event(event);
}

bool MailListView::viewportEvent(QEvent *event)
{
    if (event->type() != QEvent::ContextMenu)
        return QTreeView::viewportEvent(event);
    // A click of the mouse on the rows: over the row at the mouse, or over
    // none below the last row.
    emit contextMenuOpening(indexAt(static_cast<QContextMenuEvent *>(event)->pos()));
    menuOverRows = true;
    const bool handled = QTreeView::viewportEvent(event);
    menuOverRows = false;
    return handled;
}
