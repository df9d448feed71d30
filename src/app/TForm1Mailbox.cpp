// SPDX-License-Identifier: GPL-3.0-or-later
// The mailbox list's handlers of the main window: check marks and the two
// bulk boxes, the choice of the message a command acts on, sorting by column
// and the column widths.

#include "app/TForm1.h"

#include "app/CheckMatchingDialog.h"
#include "app/StatusTextBar.h"
#include "mailbox/ColumnWidthRule.h"
#include "mailbox/MailListModel.h"
#include "mailbox/MailListView.h"
#include "mailbox/MailRowOrder.h"

#include <QAction>
#include <QCheckBox>
#include <QHeaderView>
#include <QItemSelectionModel>

namespace {

// A text from the server in a status line: one line, and not without end.
QString shortened(QString text)
{
    constexpr qsizetype Longest = 80;
    if (text.size() > Longest)
        text = text.left(Longest - 3) + QStringLiteral("...");
    return text;
}

}  // namespace

void TForm1::setUpMailList()
{
    mailInfo->setModel(mailModel);
    mailModel->setHeaderImages(imgs);
    QHeaderView *header = mailInfo->header();
    for (int column = 0; column < ColumnWidthRule::ColumnCount; ++column)
        header->resizeSection(column, ColumnWidthRule::MinimumWidths[column]);
    mailInfo->setColumnMinimumWidths(
        QList<int>(ColumnWidthRule::MinimumWidths.cbegin(), ColumnWidthRule::MinimumWidths.cend()));

    // Marks, texts and added rows report through the model; selection
    // changes through the view, except those that removing or sorting rows
    // cause, which are no change of a row.
    mailModel->setChangeHandler([this] { mailInfoChange(); });
    connect(mailInfo->selectionModel(), &QItemSelectionModel::selectionChanged, mailInfo, [this] {
        if (!mailModel->isRestructuring())
            mailInfoChange();
    });
    connect(header, &QHeaderView::sectionClicked, mailInfo, [this](int column) { mailInfoColumnClick(column); });
    connect(mailInfo, &MailListView::listDoubleClicked, mailInfo, [this] { mailInfoDblClick(mailInfo); });
    connect(mailInfo, &MailListView::resized, mailInfo, [this] { mailInfoResize(mailInfo); });
    // `toggled` comes only when the state really changes, whether the user or
    // the program changed it.
    connect(selMail, &QCheckBox::toggled, selMail, [this] { selMailClick(selMail); });
    connect(AllMail, &QCheckBox::toggled, AllMail, [this] { AllMailClick(AllMail); });
    mailInfoResize(mailInfo);

    DecodeHeaders1 = new QAction(QStringLiteral("&Decode Headers"), mailInfo);
    DecodeHeaders1->setObjectName(QStringLiteral("DecodeHeaders1"));
    DecodeHeaders1->setCheckable(true);
    mailInfo->addAction(DecodeHeaders1);
    AutoHeaders1 = new QAction(QStringLiteral("Get Headers &Automatically"), mailInfo);
    AutoHeaders1->setObjectName(QStringLiteral("AutoHeaders1"));
    AutoHeaders1->setCheckable(true);
    mailInfo->addAction(AutoHeaders1);
    auto *separator = new QAction(mailInfo);
    separator->setSeparator(true);
    mailInfo->addAction(separator);
    CheckSameSender1 = new QAction(QStringLiteral("Check All From This &Sender"), mailInfo);
    CheckSameSender1->setObjectName(QStringLiteral("CheckSameSender1"));
    mailInfo->addAction(CheckSameSender1);
    CheckMatching1 = new QAction(QStringLiteral("&Check Matching..."), mailInfo);
    CheckMatching1->setObjectName(QStringLiteral("CheckMatching1"));
    mailInfo->addAction(CheckMatching1);
    mailInfo->setContextMenuPolicy(Qt::ActionsContextMenu);
    checkMatchingDialog = new CheckMatchingDialog(this);

    connect(DecodeHeaders1, &QAction::toggled, mailModel, [this](bool on) {
        mailModel->setDecodedHeaders(on);
        // The texts the rows are sorted by changed.
        reapplySort();
    });
    connect(mailInfo, &MailListView::contextMenuOpening, this, &TForm1::mailInfoContextPopup);
    connect(CheckSameSender1, &QAction::triggered, this, [this] { CheckSameSender1Click(CheckSameSender1); });
    connect(CheckMatching1, &QAction::triggered, this, [this] { CheckMatching1Click(CheckMatching1); });
    connect(checkMatchingDialog, &QDialog::accepted, this, &TForm1::checkMatchingAccepted);
}

int TForm1::FindMailRow(const QByteArray &text, int subItem) const
{
    return mailModel->findRow(text, subItem);
}

int TForm1::CountChecked() const
{
    return mailModel->count() == 0 ? 0 : mailModel->checkedCount();
}

int TForm1::TargetMailRow() const
{
    // Checked rows go before the selection.
    return CheckedCount > 0 ? mailModel->firstCheckedRow() : mailInfo->selectedRow();
}

QByteArray TForm1::TargetMailId() const
{
    const int row = TargetMailRow();
    return row < 0 ? QByteArray() : mailModel->subItem(row, MailRow::Id);
}

MailRowRef TForm1::mailRowRef(int row) const
{
    if (row < 0 || row >= mailModel->count())
        return {};
    return {mailModel->subItem(row, MailRow::Id)};
}

int TForm1::mailRowOf(const MailRowRef &ref) const
{
    if (ref.id.isEmpty())
        return -1;
    // Within a connection a number always names the same message, whatever
    // sorting, removals or a new listing did to the rows.
    return mailModel->rowOfId(ref.id);
}

void TForm1::mailInfoChange()
{
    if (mailModel->count() == 0) {
        EnableMessageControls(false);
        CheckedCount = 0;
    } else {
        CheckedCount = CountChecked();
    }
    EnableMessageControls(CheckedCount > 0 || mailInfo->hasSelectedRow());
    if (CheckedCount == 0) {
        // A box that was checked runs its handler, which finds no mark to clear.
        AllMail->setChecked(false);
        selMail->setChecked(false);
    }
}

void TForm1::selMailClick(QObject *)
{
    mailModel->setRowsChecked(mailInfo->selectedRows(), selMail->isChecked());
}

void TForm1::AllMailClick(QObject *)
{
    mailModel->setAllChecked(AllMail->isChecked());
}

void TForm1::mailInfoDblClick(QObject *)
{
    const int row = mailInfo->selectedRow();
    if (row >= 0)
        mailModel->setRowChecked(row, !mailModel->isChecked(row));
}

void TForm1::mailInfoColumnClick(int column)
{
    if (column <= MailListModel::CheckColumn || column >= MailListModel::ColumnCount)
        return;
    if (column == SortColumn) {
        SortAscending = !SortAscending;
    } else {
        for (int c = MailListModel::IdColumn; c < MailListModel::ColumnCount; ++c)
            mailModel->setHeaderImage(c, -1);
        SortColumn = column;
    }
    mailModel->setHeaderImage(column, SortAscending ? 0 : 1);
    // The model sorts with the same comparison as mailInfoCompare.
    mailModel->sortRows(SortColumn, SortAscending);
}

int TForm1::mailInfoCompare(int Item1, int Item2) const
{
    if (Item1 < 0 || Item2 < 0 || Item1 >= mailModel->count() || Item2 >= mailModel->count())
        return 0;
    return MailRowOrder::compare(SortColumn, SortAscending, mailModel->mailRow(Item1), mailModel->mailRow(Item2),
                                 mailModel->decodedHeaders());
}

void TForm1::mailInfoResize(QObject *)
{
    QHeaderView *header = mailInfo->header();
    ColumnWidthRule::Widths widths{};
    for (int column = 0; column < ColumnWidthRule::ColumnCount; ++column)
        widths[column] = header->sectionSize(column);
    widths = ColumnWidthRule::apply(mailInfo->width(), widths);
    for (int column = 2; column < ColumnWidthRule::ColumnCount; ++column) {
        if (header->sectionSize(column) != widths[column])
            header->resizeSection(column, widths[column]);
    }
    mailInfo->viewport()->update();
}

void TForm1::reapplySort()
{
    if (!mailModel->isSortedBy(SortColumn, SortAscending))
        mailModel->sortRows(SortColumn, SortAscending);
}

void TForm1::mailInfoContextPopup(const QModelIndex &at)
{
    contextRow = at.isValid() ? QPersistentModelIndex(at) : QPersistentModelIndex();
    contextOverRow = at.isValid();
    const int row = contextMenuRow();
    CheckSameSender1->setEnabled(row >= 0 && mailModel->hasHeader(row) &&
                                 !MailRowFilter::senderAddress(mailModel->shownText(row, MailRow::From)).isEmpty());
    CheckMatching1->setEnabled(mailModel->count() > 0);
}

int TForm1::contextMenuRow() const
{
    // A row the menu opened over and that is gone since counts as none.
    if (contextOverRow)
        return contextRow.isValid() ? contextRow.row() : -1;
    return mailInfo->currentIndex().isValid() ? mailInfo->currentIndex().row() : -1;
}

void TForm1::CheckSameSender1Click(QObject *)
{
    const int row = contextMenuRow();
    if (row < 0 || !mailModel->hasHeader(row))
        return;
    const QString address = MailRowFilter::senderAddress(mailModel->shownText(row, MailRow::From));
    if (address.isEmpty())
        return;
    const QList<int> rows = mailModel->rowsFromSender(address);
    const int before = mailModel->checkedCount();
    mailModel->setRowsChecked(rows, true);
    const qsizetype now = mailModel->checkedCount() - before;
    const QString from = shortened(address);
    msgBar->setText(
        now == rows.size()
            ? QStringLiteral(" Checked %1 row(s) from %2.").arg(now).arg(from)
            : QStringLiteral(" Checked %1 more row(s) from %2 (%3 in all).").arg(now).arg(from).arg(rows.size()));
}

void TForm1::CheckMatching1Click(QObject *)
{
    // Window-modal without a loop of its own: the conversation goes on while
    // it is open, and OK acts on the rows as they are then.
    checkMatchingDialog->open();
}

void TForm1::checkMatchingAccepted()
{
    const MailRowFilter::Rule rule = checkMatchingDialog->rule();
    if (!rule.hasCondition()) {
        msgBar->setText(QStringLiteral(" Check Matching: no condition given, no row checked."));
        return;
    }
    const QList<int> rows = mailModel->rowsMatching(rule);
    const int before = mailModel->checkedCount();
    mailModel->setRowsChecked(rows, true);
    const qsizetype now = mailModel->checkedCount() - before;
    if (rows.isEmpty())
        msgBar->setText(QStringLiteral(" Check Matching: no row matches."));
    else if (now == rows.size())
        msgBar->setText(QStringLiteral(" Check Matching: checked %1 row(s).").arg(now));
    else
        msgBar->setText(
            QStringLiteral(" Check Matching: checked %1 more row(s) (%2 match).").arg(now).arg(rows.size()));
}

void TForm1::markMailRowDeleted(int row)
{
    if (mailModel->markRowDeleted(row) && CheckedCount > 0)
        --CheckedCount;
}

void TForm1::removeDeletedMailRow(int row)
{
    markMailRowDeleted(row);
    applyReplies();
}

void TForm1::applyReplies()
{
    if (!mailModel->hasDeletedRows())
        return;
    throttleListRepaint();
    // The current row, when deleted, passes to the nearest row kept, as it
    // would for a removal of that row alone, without scrolling the list.
    const QModelIndex current = mailInfo->currentIndex();
    if (current.isValid() && mailModel->mailRow(current.row()).deleted) {
        const int next = mailModel->nearestKeptRow(current.row());
        const bool scrolls = mailInfo->hasAutoScroll();
        mailInfo->setAutoScroll(false);
        mailInfo->selectionModel()->setCurrentIndex(
            next >= 0 ? mailModel->index(next, current.column()) : QModelIndex(), QItemSelectionModel::NoUpdate);
        mailInfo->setAutoScroll(scrolls);
    }
    mailModel->removeDeletedRows();
}

void TForm1::removeAllMailRows()
{
    // Emptying the list runs no change handler, yet a count of checked rows
    // left behind would let Get Header or Read Mail send a command for a row
    // that is gone ("TOP  0") until the next listing arrives.
    mailModel->removeAllMailRows();
    CheckedCount = 0;
}
