// SPDX-License-Identifier: GPL-3.0-or-later
// The mailbox list's handlers of the main window: check marks and the two
// bulk boxes, the choice of the message a command acts on, sorting by column
// and the column widths.

#include "app/TForm1.h"

#include "mailbox/ColumnWidthRule.h"
#include "mailbox/MailListModel.h"
#include "mailbox/MailListView.h"
#include "mailbox/MailRowOrder.h"

#include <QAction>
#include <QCheckBox>
#include <QHeaderView>
#include <QItemSelectionModel>


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
    mailInfo->setContextMenuPolicy(Qt::ActionsContextMenu);
    connect(DecodeHeaders1, &QAction::toggled, mailModel, &MailListModel::setDecodedHeaders);
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
    return {QPersistentModelIndex(mailModel->index(row, MailListModel::IdColumn)), mailModel->subItem(row, MailRow::Id)};
}

int TForm1::mailRowOf(const MailRowRef &ref) const
{
    if (ref.id.isEmpty())
        return -1;
    // The row followed sorts and removals; after a new listing, which
    // replaced all rows, the message is looked up by its number.
    if (ref.row.isValid() && mailModel->subItem(ref.row.row(), MailRow::Id) == ref.id)
        return ref.row.row();
    return FindMailRow(ref.id, 0);
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

void TForm1::removeDeletedMailRow(int row)
{
    if (mailModel->removeMailRow(row) && CheckedCount > 0)
        --CheckedCount;
}

void TForm1::removeAllMailRows()
{
    // Emptying the list runs no change handler, yet a count of checked rows
    // left behind would let Get Header or Read Mail send a command for a row
    // that is gone ("TOP  0") until the next listing arrives.
    mailModel->removeAllMailRows();
    CheckedCount = 0;
}
