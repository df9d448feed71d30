// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QList>
#include <QTreeView>

// The report-style view of the mailbox list: whole rows, several selectable,
// the selection kept visible without focus. It reports double-clicks and size
// changes, and keeps every column at least as wide as its minimum width.
class MailListView : public QTreeView {
    Q_OBJECT
public:
    explicit MailListView(QWidget *parent = nullptr);

    // Per-column minimum widths; a column dragged narrower springs back.
    void setColumnMinimumWidths(const QList<int> &widths);
    int columnMinimumWidth(int column) const;

    // The selected rows in list order.
    QList<int> selectedRows() const;
    // The selected row with the lowest index, or -1.
    int selectedRow() const;
    bool hasSelectedRow() const;

signals:
    // A double-click with the left button anywhere in the list.
    void listDoubleClicked();
    // The list's size changed.
    void resized();
    // The context menu is about to open over the row of at (invalid over no
    // row, or when the keyboard opened it).
    void contextMenuOpening(const QModelIndex &at);

protected:
    void mouseDoubleClickEvent(QMouseEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    bool event(QEvent *event) override;
    bool viewportEvent(QEvent *event) override;

private:
    void keepMinimumWidth(int column, int width);

    QList<int> minimumWidths;
    // While the rows' own context menu event is being handled.
    bool menuOverRows = false;
};
