// SPDX-License-Identifier: GPL-3.0-or-later
// The mailbox list in the main window: finding rows, the message a command
// acts on, marks with the "All" and "Selection" boxes, double-clicks and the
// two check actions of the context menu, the message buttons, header clicks
// and the column widths.

#include "app/StatusTextBar.h"
#include "app/TForm1.h"
#include "mailbox/ColumnWidthRule.h"
#include "mailbox/MailListModel.h"
#include "mailbox/MailListView.h"
#include "support/FormFixture.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QContextMenuEvent>
#include <QDialog>
#include <QDialogButtonBox>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QSignalSpy>
#include <QSpinBox>
#include <QTest>
#include <QTimer>

namespace {

void addRows(TForm1 &w, const QList<QByteArray> &ids)
{
    QList<ListingEntry> entries;
    for (const QByteArray &id : ids)
        entries.append({id, QByteArray::number(id.size() * 100)});
    w.mailModel->addListingRows(entries);
}

void addNumberedRows(TForm1 &w, int count)
{
    QList<QByteArray> ids;
    for (int i = 1; i <= count; ++i)
        ids.append(QByteArray::number(i));
    addRows(w, ids);
}

void select(TForm1 &w, const QList<int> &rows)
{
    for (int row : rows)
        w.mailInfo->selectionModel()->select(w.mailModel->index(row, 0),
                                             QItemSelectionModel::Select | QItemSelectionModel::Rows);
}

QList<int> checkedRows(const TForm1 &w)
{
    QList<int> rows;
    for (int r = 0; r < w.mailModel->count(); ++r) {
        if (w.mailModel->isChecked(r))
            rows.append(r);
    }
    return rows;
}

QList<QByteArray> column(const TForm1 &w, int subItem)
{
    QList<QByteArray> texts;
    for (int r = 0; r < w.mailModel->count(); ++r)
        texts.append(w.mailModel->subItem(r, subItem));
    return texts;
}

QList<int> headerImages(const TForm1 &w)
{
    QList<int> images;
    for (int c = 0; c < MailListModel::ColumnCount; ++c)
        images.append(w.mailModel->headerImage(c));
    return images;
}

QList<int> widths(const TForm1 &w)
{
    QList<int> result;
    for (int c = 0; c < MailListModel::ColumnCount; ++c)
        result.append(w.mailInfo->header()->sectionSize(c));
    return result;
}

bool messageButtonsEnabled(const TForm1 &w)
{
    const bool on = w.btnHeader->isEnabled();
    // The three go together.
    if (w.btnDelete->isEnabled() != on || w.btnRead->isEnabled() != on)
        qFatal("message buttons disagree");
    return on;
}

// Rows with texts in every column, for sorting; two sizes are no 32-bit number.
void addSortRows(TForm1 &w)
{
    w.mailModel->addListingRows({{"3", "1520"}, {"10", ""}, {"1", "99"}, {"x", "120"}, {"2", "4294967296"}});
    const QList<QList<QByteArray>> headers{{"Re: Lunch", "carol", "Zed"},
                                           {"Lunch menu", "alice", "amy"},
                                           {"Lunch", "Bob", "bo"},
                                           {"zz", "ALICE", ""},
                                           {"re: apples", "", "Amy"}};
    for (int r = 0; r < headers.size(); ++r)
        w.mailModel->setRowHeaders(r, headers[r][0], headers[r][1], headers[r][2]);
}

// Writes a row's header as a TOP reply would: the server's texts and their
// decoded form.
void setHeader(TForm1 &w, int row, const QByteArray &subject, const QByteArray &from, const QByteArray &to)
{
    w.mailModel->setRowHeaders(row, subject, from, to,
                               DecodeHeaders({"Subject: " + subject, "From: " + from, "To: " + to}));
}

// Opens the list's context menu with the mouse over a row and picks an
// entry by its accelerator key, as the user does.
void pickFromContextMenu(TForm1 &w, int row, char key)
{
    const QPoint at = w.mailInfo->visualRect(w.mailModel->index(row, MailListModel::FromColumn)).center();
    bool picked = false;
    QTimer::singleShot(0, &w, [&] {
        if (auto *menu = qobject_cast<QMenu *>(QApplication::activePopupWidget())) {
            QTest::keyClick(menu, key);
            picked = true;
        }
    });
    QContextMenuEvent event(QContextMenuEvent::Mouse, at, w.mailInfo->viewport()->mapToGlobal(at));
    QApplication::sendEvent(w.mailInfo->viewport(), &event);
    QVERIFY(picked);
}

// Check Matching through its dialog: opened from the action, filled in and
// answered with OK (or Cancel).
void checkMatching(TForm1 &w, const QString &text, int field, int minKB, bool ok = true)
{
    auto *dialog = w.findChild<QDialog *>(QStringLiteral("CheckMatchingDialog"));
    QVERIFY(dialog);
    w.CheckMatching1->trigger();
    QVERIFY(dialog->isVisible());
    dialog->findChild<QLineEdit *>(QStringLiteral("matchText"))->setText(text);
    dialog->findChild<QComboBox *>(QStringLiteral("matchField"))->setCurrentIndex(field);
    dialog->findChild<QSpinBox *>(QStringLiteral("matchMinKB"))->setValue(minKB);
    auto *buttons = dialog->findChild<QDialogButtonBox *>();
    buttons->button(ok ? QDialogButtonBox::Ok : QDialogButtonBox::Cancel)->click();
    QVERIFY(!dialog->isVisible());
}

}  // namespace

class TestMailboxForm : public QObject {
    Q_OBJECT
private slots:
    void findMailRow_data();
    void findMailRow();
    void targetMailId();
    void allBox();
    void clearingMarksByHand();
    void selectionBox();
    void selectionBoxWithNothingSelected();
    void doubleClick();
    void realMouseClicks();
    void buttonsFollowMarksAndSelection();
    void newListingResetsCount();
    void removingDeletedRows();
    void rowsDeletedTogether();
    void columnClicks();
    void idClickAfterStart();
    void sortKeepsSelectionAndAgreesWithCompare_data();
    void sortKeepsSelectionAndAgreesWithCompare();
    void laterChangesDoNotMoveRows();
    void widthsFollowListWidth_data();
    void widthsFollowListWidth();
    void widthsFollowWindow();
    void dividerDragKeepsMinimum();
    void checkAllFromThisSender();
    void checkMatchingRows();
};

void TestMailboxForm::findMailRow_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<int>("subItem");
    QTest::addColumn<int>("expected");
    QTest::newRow("12 among 1 12 123") << QByteArray("12") << 0 << 1;
    QTest::newRow("1") << QByteArray("1") << 0 << 0;
    QTest::newRow("123") << QByteArray("123") << 0 << 2;
    QTest::newRow("missing") << QByteArray("7") << 0 << -1;
    QTest::newRow("leading zero") << QByteArray("012") << 0 << -1;
    QTest::newRow("prefix only") << QByteArray("12 ") << 0 << -1;
    QTest::newRow("empty") << QByteArray() << 0 << -1;
    QTest::newRow("first of equal") << QByteArray("Same") << 1 << 1;
    QTest::newRow("case counts") << QByteArray("same") << 1 << -1;
    QTest::newRow("bad sub-item") << QByteArray("12") << 5 << -1;
}

void TestMailboxForm::findMailRow()
{
    QFETCH(QByteArray, text);
    QFETCH(int, subItem);
    QFETCH(int, expected);
    FormFixture f;
    TForm1 &w = *f.form;
    QCOMPARE(w.FindMailRow(text, subItem), -1);  // empty list
    addRows(w, {"1", "12", "123"});
    w.mailModel->setRowHeaders(1, "Same", "", "");
    w.mailModel->setRowHeaders(2, "Same", "", "");
    QCOMPARE(w.FindMailRow(text, subItem), expected);
}

void TestMailboxForm::targetMailId()
{
    FormFixture f;
    TForm1 &w = *f.form;
    QCOMPARE(w.TargetMailId(), QByteArray());
    addRows(w, {"11", "12", "13", "14", "15"});
    QCOMPARE(w.TargetMailId(), QByteArray());

    select(w, {4, 2});
    QCOMPARE(w.TargetMailId(), QByteArray("13"));  // lowest selected
    w.mailModel->setRowChecked(4, true);
    QCOMPARE(w.CheckedCount, 1);
    QCOMPARE(w.TargetMailId(), QByteArray("15"));  // checked goes first
    w.mailModel->setRowChecked(3, true);
    QCOMPARE(w.TargetMailId(), QByteArray("14"));  // first checked in list order

    // A count left over from removed rows finds no checked row: no target,
    // even with a row selected.
    w.mailModel->removeMailRow(4);
    w.mailModel->removeMailRow(3);
    QCOMPARE(w.CheckedCount, 2);
    QCOMPARE(w.TargetMailId(), QByteArray());
}

void TestMailboxForm::allBox()
{
    FormFixture f;
    TForm1 &w = *f.form;
    w.EnableMailboxControls(true);
    addNumberedRows(w, 3);
    QSignalSpy selToggled(w.selMail, &QCheckBox::toggled);

    w.selMail->setChecked(true);  // nothing selected: no mark, the box stays checked
    QVERIFY(w.selMail->isChecked());
    QVERIFY(checkedRows(w).isEmpty());

    w.AllMail->setChecked(true);
    QCOMPARE(checkedRows(w), (QList<int>{0, 1, 2}));
    QCOMPARE(w.CheckedCount, 3);
    QVERIFY(messageButtonsEnabled(w));

    w.AllMail->setChecked(false);
    QVERIFY(checkedRows(w).isEmpty());
    QCOMPARE(w.CheckedCount, 0);
    QVERIFY(!messageButtonsEnabled(w));
    QVERIFY(!w.selMail->isChecked());  // the last cleared mark unchecked it
    QCOMPARE(selToggled.size(), 2);

    // With a row selected the buttons stay enabled.
    select(w, {1});
    w.AllMail->setChecked(true);
    w.AllMail->setChecked(false);
    QCOMPARE(w.CheckedCount, 0);
    QVERIFY(messageButtonsEnabled(w));
    QVERIFY(checkedRows(w).isEmpty());

    // Setting a box to the state it has runs nothing.
    QSignalSpy allToggled(w.AllMail, &QCheckBox::toggled);
    w.AllMail->setChecked(false);
    QCOMPARE(allToggled.size(), 0);
}

void TestMailboxForm::clearingMarksByHand()
{
    FormFixture f;
    TForm1 &w = *f.form;
    addNumberedRows(w, 3);
    w.AllMail->setChecked(true);
    w.selMail->setChecked(true);  // nothing selected: marks stay
    QCOMPARE(w.CheckedCount, 3);

    // A click on a row's box goes through the model's check state.
    QVERIFY(w.mailModel->setData(w.mailModel->index(1, 0), Qt::Unchecked, Qt::CheckStateRole));
    QCOMPARE(w.CheckedCount, 2);
    QVERIFY(w.AllMail->isChecked());
    w.mailModel->setRowChecked(0, false);
    QVERIFY(w.AllMail->isChecked());
    QVERIFY(w.selMail->isChecked());
    w.mailModel->setRowChecked(2, false);
    QCOMPARE(w.CheckedCount, 0);
    QVERIFY(!w.AllMail->isChecked());
    QVERIFY(!w.selMail->isChecked());
    QVERIFY(checkedRows(w).isEmpty());  // unchecking "All" found nothing left to clear
}

void TestMailboxForm::selectionBox()
{
    FormFixture f;
    TForm1 &w = *f.form;
    addNumberedRows(w, 5);
    w.mailModel->setRowChecked(4, true);
    select(w, {0, 2});

    w.selMail->setChecked(true);
    QCOMPARE(checkedRows(w), (QList<int>{0, 2, 4}));
    QCOMPARE(w.CheckedCount, 3);

    // Rows selected later, while the box stays checked, get no mark.
    select(w, {1});
    QVERIFY(w.selMail->isChecked());
    QCOMPARE(checkedRows(w), (QList<int>{0, 2, 4}));

    // Unchecking clears the marks of the rows selected now.
    w.mailInfo->selectionModel()->clearSelection();
    select(w, {2, 3, 4});
    w.selMail->setChecked(false);
    QCOMPARE(checkedRows(w), (QList<int>{0}));
    QCOMPARE(w.CheckedCount, 1);
}

void TestMailboxForm::selectionBoxWithNothingSelected()
{
    FormFixture f;
    TForm1 &w = *f.form;
    addNumberedRows(w, 3);
    w.selMail->setChecked(true);
    QVERIFY(w.selMail->isChecked());
    QVERIFY(checkedRows(w).isEmpty());
    QVERIFY(!messageButtonsEnabled(w));

    // The next change of any row, a selection too, finds no mark and unchecks it.
    select(w, {1});
    QVERIFY(!w.selMail->isChecked());
    QVERIFY(checkedRows(w).isEmpty());
    QVERIFY(messageButtonsEnabled(w));
}

void TestMailboxForm::doubleClick()
{
    FormFixture f;
    TForm1 &w = *f.form;
    addNumberedRows(w, 5);
    w.mailInfoDblClick();  // nothing selected: nothing happens
    QVERIFY(checkedRows(w).isEmpty());

    select(w, {3, 1});
    w.mailInfoDblClick();
    QCOMPARE(checkedRows(w), (QList<int>{1}));
    QCOMPARE(w.CheckedCount, 1);
    w.mailInfoDblClick();
    QVERIFY(checkedRows(w).isEmpty());
    QCOMPARE(w.CheckedCount, 0);
}

void TestMailboxForm::realMouseClicks()
{
    FormFixture f;
    TForm1 &w = *f.form;
    addNumberedRows(w, 4);
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));

    // A double-click on a row selects it and inverts its mark.
    const QRect cell = w.mailInfo->visualRect(w.mailModel->index(2, MailListModel::SubjectColumn));
    QVERIFY(cell.isValid());
    QTest::mouseDClick(w.mailInfo->viewport(), Qt::LeftButton, {}, cell.center());
    QCOMPARE(w.mailInfo->selectedRow(), 2);
    QCOMPARE(checkedRows(w), (QList<int>{2}));
    QCOMPARE(w.CheckedCount, 1);

    // A click on a row's check box sets its mark.
    const QRect box = w.mailInfo->visualRect(w.mailModel->index(0, MailListModel::CheckColumn));
    QTest::mouseClick(w.mailInfo->viewport(), Qt::LeftButton, {}, box.center());
    QCOMPARE(checkedRows(w), (QList<int>{0, 2}));
    QCOMPARE(w.CheckedCount, 2);
    QVERIFY(messageButtonsEnabled(w));
}

void TestMailboxForm::buttonsFollowMarksAndSelection()
{
    FormFixture f;
    TForm1 &w = *f.form;
    w.EnableMessageControls(true);
    w.mailInfoChange();  // an empty list disables them
    QVERIFY(!messageButtonsEnabled(w));
    QCOMPARE(w.CheckedCount, 0);

    addNumberedRows(w, 3);
    QVERIFY(!messageButtonsEnabled(w));
    select(w, {2});
    QVERIFY(messageButtonsEnabled(w));
    w.mailInfo->selectionModel()->clearSelection();
    QVERIFY(!messageButtonsEnabled(w));
    w.mailModel->setRowChecked(0, true);
    QVERIFY(messageButtonsEnabled(w));
    w.mailModel->setRowChecked(0, false);
    QVERIFY(!messageButtonsEnabled(w));

    // A commands' switch stays until the next row change.
    w.EnableMessageControls(true);
    w.mailModel->setRowHeaders(1, "s", "f", "t");
    QVERIFY(!messageButtonsEnabled(w));
}

void TestMailboxForm::newListingResetsCount()
{
    FormFixture f;
    TForm1 &w = *f.form;
    addNumberedRows(w, 3);
    w.AllMail->setChecked(true);
    QCOMPARE(w.CheckedCount, 3);
    w.mailModel->removeAllMailRows();  // clearing runs nothing
    QCOMPARE(w.CheckedCount, 3);
    QCOMPARE(w.mailModel->count(), 0);
    addNumberedRows(w, 2);
    QCOMPARE(w.CheckedCount, 0);
    QVERIFY(!w.AllMail->isChecked());
    QVERIFY(!messageButtonsEnabled(w));
}

void TestMailboxForm::removingDeletedRows()
{
    FormFixture f;
    TForm1 &w = *f.form;
    addNumberedRows(w, 4);
    w.mailModel->setRowChecked(1, true);
    w.mailModel->setRowChecked(3, true);
    select(w, {0});
    QCOMPARE(w.CheckedCount, 2);

    w.removeDeletedMailRow(w.FindMailRow("2", 0));
    QCOMPARE(w.CheckedCount, 1);
    QCOMPARE(w.TargetMailId(), QByteArray("4"));
    w.removeDeletedMailRow(w.FindMailRow("4", 0));
    QCOMPARE(w.CheckedCount, 0);

    // A selected row without a mark leaves the count at 0, not -1, so a
    // delete batch stops instead of going on with another row.
    QCOMPARE(w.TargetMailId(), QByteArray("1"));
    w.removeDeletedMailRow(w.FindMailRow("1", 0));
    QCOMPARE(w.CheckedCount, 0);
    // Removing runs no change handler: the buttons stay as they were.
    QVERIFY(messageButtonsEnabled(w));
    QCOMPARE(w.mailInfo->selectedRow(), -1);
    w.removeDeletedMailRow(-1);
    w.removeDeletedMailRow(99);
    QCOMPARE(column(w, MailRow::Id), (QList<QByteArray>{"3"}));
    QCOMPARE(w.CheckedCount, 0);
}

void TestMailboxForm::rowsDeletedTogether()
{
    // Rows deleted in one read leave together: scattered ones in one
    // reordering and one removal, a run in one removal. The rows kept keep
    // their order, marks and selection; a deleted current row passes to the
    // next row kept. A wrong mapping here would select, and so delete, a
    // message the user never picked.
    FormFixture f;
    TForm1 &w = *f.form;
    addNumberedRows(w, 30);
    w.mailModel->setRowChecked(7, true);
    select(w, {5, 20});
    w.mailInfo->selectionModel()->setCurrentIndex(w.mailModel->index(10, 1), QItemSelectionModel::NoUpdate);
    QSignalSpy removals(w.mailModel, &QAbstractItemModel::rowsRemoved);
    for (int row = 0; row < 30; row += 2)
        w.markMailRowDeleted(row);
    // Until the read is handled they stay, but no number finds them.
    QCOMPARE(w.mailModel->count(), 30);
    QCOMPARE(w.FindMailRow("11", 0), 10);
    QCOMPARE(w.mailModel->rowOfId("11"), -1);
    w.applyReplies();
    QCOMPARE(removals.count(), 1);
    QList<QByteArray> kept;
    for (int id = 2; id <= 30; id += 2)
        kept.append(QByteArray::number(id));
    QCOMPARE(column(w, MailRow::Id), kept);
    QCOMPARE(checkedRows(w), (QList<int>{3}));
    QCOMPARE(w.CheckedCount, 1);
    QCOMPARE(w.mailInfo->selectedRows(), (QList<int>{2}));
    QCOMPARE(w.mailInfo->currentIndex().row(), 5);
    QCOMPARE(w.mailModel->rowOfId("12"), 5);

    // A run of three around the current row: one removal.
    removals.clear();
    for (int row = 4; row <= 6; ++row)
        w.markMailRowDeleted(row);
    w.applyReplies();
    QCOMPARE(removals.count(), 1);
    QCOMPARE(w.mailModel->count(), 12);
    QCOMPARE(w.mailModel->subItem(w.mailInfo->currentIndex().row(), MailRow::Id), QByteArray("16"));
    QCOMPARE(w.mailInfo->selectedRows(), (QList<int>{2}));
    QCOMPARE(w.mailModel->rowOfId("30"), 11);
}

void TestMailboxForm::columnClicks()
{
    FormFixture f;
    TForm1 &w = *f.form;
    addSortRows(w);
    const QList<QByteArray> listed = column(w, MailRow::Id);
    QCOMPARE(headerImages(w), (QList<int>{-1, 0, -1, -1, -1, -1}));

    // A real click on the "Subject" header.
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    QHeaderView *header = w.mailInfo->header();
    QTest::mouseClick(header->viewport(), Qt::LeftButton, {},
                      QPoint(header->sectionViewportPosition(2) + 10, header->height() / 2));
    QCOMPARE(w.SortColumn, 2);
    QVERIFY(w.SortAscending);
    QCOMPARE(headerImages(w), (QList<int>{-1, -1, 0, -1, -1, -1}));
    QCOMPARE(column(w, MailRow::Subject), (QList<QByteArray>{"re: apples", "Lunch", "Lunch menu", "Re: Lunch", "zz"}));

    w.mailInfoColumnClick(2);
    QVERIFY(!w.SortAscending);
    QCOMPARE(headerImages(w), (QList<int>{-1, -1, 1, -1, -1, -1}));
    QCOMPARE(column(w, MailRow::Subject), (QList<QByteArray>{"zz", "Re: Lunch", "Lunch menu", "Lunch", "re: apples"}));

    // A new column keeps the direction last used; "ALICE" and "alice" compare
    // equal and keep the order the subject sort gave them.
    w.mailInfoColumnClick(3);
    QCOMPARE(w.SortColumn, 3);
    QVERIFY(!w.SortAscending);
    QCOMPARE(headerImages(w), (QList<int>{-1, -1, -1, 1, -1, -1}));
    QCOMPARE(column(w, MailRow::From), (QList<QByteArray>{"carol", "Bob", "ALICE", "alice", ""}));

    // The check-box column changes nothing.
    const QList<QByteArray> before = column(w, MailRow::Id);
    w.mailInfoColumnClick(0);
    QCOMPARE(column(w, MailRow::Id), before);
    QCOMPARE(headerImages(w), (QList<int>{-1, -1, -1, 1, -1, -1}));
    QCOMPARE(w.SortColumn, 3);
    QVERIFY(!w.SortAscending);

    // Sizes: the ones that are no 32-bit number first, then by value.
    w.mailInfoColumnClick(5);
    w.mailInfoColumnClick(5);
    QVERIFY(w.SortAscending);
    QCOMPARE(column(w, MailRow::Bytes), (QList<QByteArray>{"", "4294967296", "99", "120", "1520"}));
    QCOMPARE(headerImages(w), (QList<int>{-1, -1, -1, -1, -1, 0}));
    QCOMPARE(w.mailModel->headerData(5, Qt::Horizontal, Qt::DecorationRole).value<QIcon>().cacheKey(),
             w.imgs[0].cacheKey());
    QCOMPARE(w.mailModel->count(), listed.size());
}

void TestMailboxForm::idClickAfterStart()
{
    FormFixture f;
    TForm1 &w = *f.form;
    addRows(w, {"9", "100", "10"});
    w.mailInfoColumnClick(1);  // key already "ID", ascending
    QCOMPARE(w.SortColumn, 1);
    QVERIFY(!w.SortAscending);
    QCOMPARE(headerImages(w), (QList<int>{-1, 1, -1, -1, -1, -1}));
    QCOMPARE(column(w, MailRow::Id), (QList<QByteArray>{"100", "10", "9"}));
    w.mailInfoColumnClick(1);
    QCOMPARE(column(w, MailRow::Id), (QList<QByteArray>{"9", "10", "100"}));
    QCOMPARE(headerImages(w), (QList<int>{-1, 0, -1, -1, -1, -1}));
}

void TestMailboxForm::sortKeepsSelectionAndAgreesWithCompare_data()
{
    QTest::addColumn<QList<int>>("clicks");
    QTest::newRow("id descending") << QList<int>{1};
    QTest::newRow("subject") << QList<int>{2};
    QTest::newRow("subject descending") << QList<int>{2, 2};
    QTest::newRow("from") << QList<int>{3};
    QTest::newRow("to descending") << QList<int>{4, 4};
    QTest::newRow("bytes") << QList<int>{5};
}

void TestMailboxForm::sortKeepsSelectionAndAgreesWithCompare()
{
    QFETCH(QList<int>, clicks);
    FormFixture f;
    TForm1 &w = *f.form;
    addSortRows(w);
    select(w, {3});                       // "x"
    w.mailModel->setRowChecked(1, true);  // "10"
    for (int c : clicks)
        w.mailInfoColumnClick(c);
    for (int r = 0; r + 1 < w.mailModel->count(); ++r)
        QVERIFY2(w.mailInfoCompare(r, r + 1) <= 0, qPrintable(QString::number(r)));
    QCOMPARE(w.mailModel->subItem(w.mailInfo->selectedRow(), MailRow::Id), QByteArray("x"));
    QCOMPARE(w.TargetMailId(), QByteArray("10"));
    QCOMPARE(w.CheckedCount, 1);
    QList<QByteArray> sortedIds = column(w, MailRow::Id);
    std::sort(sortedIds.begin(), sortedIds.end());
    QCOMPARE(sortedIds, (QList<QByteArray>{"1", "10", "2", "3", "x"}));
}

void TestMailboxForm::laterChangesDoNotMoveRows()
{
    FormFixture f;
    TForm1 &w = *f.form;
    addRows(w, {"2", "1"});
    w.mailInfoColumnClick(2);
    addRows(w, {"0"});
    w.mailModel->setRowHeaders(0, "zzz", "", "");
    QCOMPARE(column(w, MailRow::Id), (QList<QByteArray>{"2", "1", "0"}));
    QCOMPARE(headerImages(w), (QList<int>{-1, -1, 0, -1, -1, -1}));
}

void TestMailboxForm::widthsFollowListWidth_data()
{
    QTest::addColumn<QList<int>>("listWidths");
    QTest::addColumn<QList<int>>("expected");
    QTest::newRow("542") << QList<int>{542} << QList<int>{20, 55, 195, 95, 95, 65};
    QTest::newRow("500") << QList<int>{500} << QList<int>{20, 55, 195, 95, 95, 65};
    QTest::newRow("547") << QList<int>{547} << QList<int>{20, 55, 200, 95, 95, 65};
    QTest::newRow("552") << QList<int>{552} << QList<int>{20, 55, 200, 97, 97, 66};
    QTest::newRow("561") << QList<int>{561} << QList<int>{20, 55, 200, 97, 97, 66};
    QTest::newRow("600") << QList<int>{600} << QList<int>{20, 55, 220, 105, 105, 70};
    QTest::newRow("651") << QList<int>{651} << QList<int>{20, 55, 245, 115, 115, 75};
    QTest::newRow("shrink 651 to 547") << QList<int>{651, 547} << QList<int>{20, 55, 200, 115, 115, 75};
    QTest::newRow("651 then 500") << QList<int>{651, 500} << QList<int>{20, 55, 195, 95, 95, 65};
}

void TestMailboxForm::widthsFollowListWidth()
{
    QFETCH(QList<int>, listWidths);
    QFETCH(QList<int>, expected);
    FormFixture f;
    TForm1 &w = *f.form;
    for (int width : listWidths) {
        w.mailInfo->resize(width, w.mailInfo->height());
        w.mailInfoResize();
    }
    QCOMPARE(widths(w), expected);
}

void TestMailboxForm::widthsFollowWindow()
{
    // The list is anchored on all sides, so it grows with the window and its
    // resize runs the width rule.
    FormFixture f;
    TForm1 &w = *f.form;
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    const int grow = 600 - w.mailInfo->width();
    w.resize(w.width() + grow, w.height() + 40);
    QTRY_COMPARE(w.mailInfo->width(), 600);
    QTRY_COMPARE(widths(w), (QList<int>{20, 55, 220, 105, 105, 70}));
    w.resize(w.width() - 53, w.height());
    QTRY_COMPARE(w.mailInfo->width(), 547);
    QTRY_COMPARE(widths(w), (QList<int>{20, 55, 200, 105, 105, 70}));
}

void TestMailboxForm::dividerDragKeepsMinimum()
{
    FormFixture f;
    TForm1 &w = *f.form;
    QHeaderView *header = w.mailInfo->header();
    header->resizeSection(3, 30);
    QCOMPARE(header->sectionSize(3), 95);
    header->resizeSection(2, 260);
    QCOMPARE(header->sectionSize(2), 260);
    header->resizeSection(0, 5);
    QCOMPARE(header->sectionSize(0), 20);

    // Real drags of the divider after "From": wider, then far to the left.
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    const int y = header->height() / 2;
    const auto drag = [&](int by) {
        const int divider = header->sectionViewportPosition(3) + header->sectionSize(3) - 1;
        QTest::mousePress(header->viewport(), Qt::LeftButton, {}, QPoint(divider, y));
        QTest::mouseMove(header->viewport(), QPoint(divider + by / 2, y));
        QTest::mouseMove(header->viewport(), QPoint(divider + by, y));
        QTest::mouseRelease(header->viewport(), Qt::LeftButton, {}, QPoint(divider + by, y));
    };
    drag(20);
    QCOMPARE(header->sectionSize(3), 115);
    drag(-80);
    QCOMPARE(header->sectionSize(3), 95);
}

void TestMailboxForm::checkAllFromThisSender()
{
    FormFixture f;
    TForm1 &w = *f.form;
    addNumberedRows(w, 7);
    setHeader(w, 0, "one", "=?UTF-8?Q?J=C3=B6rg?= <Joerg@X.org>", "me");
    setHeader(w, 1, "two", " joerg@x.ORG ", "me");
    setHeader(w, 2, "three", "Other <joerg@x.org.evil>", "me");
    // Row 3: no header.
    setHeader(w, 4, "five", "=?UTF-8?Q?Zo=C3=AB_=3Cjoerg@x.org=3E?=", "me");
    setHeader(w, 5, "six", "someone@y", "joerg@x.org");
    setHeader(w, 6, "seven", "<JOERG@x.org>", "me");
    w.mailModel->setRowChecked(1, true);
    w.mailModel->setRowChecked(2, true);
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));

    // As the server sent them: row 4's address is inside an encoded word.
    pickFromContextMenu(w, 0, 'S');
    QCOMPARE(checkedRows(w), (QList<int>{0, 1, 2, 6}));
    QCOMPARE(w.CheckedCount, 4);
    QVERIFY(messageButtonsEnabled(w));
    QCOMPARE(w.msgBar->text(), QStringLiteral(" Checked 2 more row(s) from Joerg@X.org (3 in all)."));

    // Decoded, from the keyboard: the current row's sender.
    w.AllMail->setChecked(true);
    w.AllMail->setChecked(false);
    w.DecodeHeaders1->setChecked(true);
    w.mailInfo->setCurrentIndex(w.mailModel->index(4, MailListModel::IdColumn));
    w.mailInfoContextPopup(QModelIndex());
    QVERIFY(w.CheckSameSender1->isEnabled());
    w.CheckSameSender1->trigger();
    QCOMPARE(checkedRows(w), (QList<int>{0, 1, 4, 6}));
    QCOMPARE(w.msgBar->text(), QStringLiteral(" Checked 4 row(s) from joerg@x.org."));

    // A row without a header has no sender to go by.
    w.mailInfoContextPopup(w.mailModel->index(3, MailListModel::FromColumn));
    QVERIFY(!w.CheckSameSender1->isEnabled());
    w.CheckSameSender1Click();
    QCOMPARE(checkedRows(w), (QList<int>{0, 1, 4, 6}));
}

void TestMailboxForm::checkMatchingRows()
{
    FormFixture f;
    TForm1 &w = *f.form;
    w.mailModel->addListingRows(
        {{"1", "5000"}, {"2", "300000"}, {"3", "2048"}, {"4", "900000"}, {"5", "100"}, {"6", "x9999999"}});
    setHeader(w, 0, "Cheap PILLS", "a@x", "me@y");
    setHeader(w, 1, "Meeting", "pills@spam.example", "me@y");
    setHeader(w, 2, "Re: lunch", "b@x", "pills-list@y");
    // Row 3: no header.
    setHeader(w, 4, "=?UTF-8?Q?Gro=C3=9Fe_Pillen?=", "c@x", "me@y");
    // Row 5: no header, a size that is no number.
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    const auto clear = [&w] {
        w.AllMail->setChecked(true);
        w.AllMail->setChecked(false);
    };

    auto *dialog = w.findChild<QDialog *>(QStringLiteral("CheckMatchingDialog"));
    QVERIFY(dialog);
    QCOMPARE(dialog->parent(), &w);
    const QComboBox *field = w.findChild<QComboBox *>(QStringLiteral("matchField"));
    QCOMPARE(field->count(), 4);
    QCOMPARE(field->itemText(0), QStringLiteral("Subject, From or To"));
    QCOMPARE(field->itemText(3), QStringLiteral("To"));

    // By text, in any field, or in one.
    checkMatching(w, QStringLiteral("pills"), 0, 0);
    QCOMPARE(checkedRows(w), (QList<int>{0, 1, 2}));
    QCOMPARE(w.msgBar->text(), QStringLiteral(" Check Matching: checked 3 row(s)."));
    clear();
    for (const auto &[in, row] : {std::pair{1, 0}, {2, 1}, {3, 2}}) {
        checkMatching(w, QStringLiteral("PILLS"), in, 0);
        QCOMPARE(checkedRows(w), QList<int>{row});
        clear();
    }

    // By size alone: rows without a header too; 2 KB is not larger than 2 KB.
    w.mailModel->setRowChecked(1, true);
    checkMatching(w, QString(), 0, 2);
    QCOMPARE(checkedRows(w), (QList<int>{0, 1, 3}));
    QCOMPARE(w.msgBar->text(), QStringLiteral(" Check Matching: checked 2 more row(s) (3 match)."));
    clear();

    // Both: the text and the size.
    checkMatching(w, QStringLiteral("pill"), 0, 100);
    QCOMPARE(checkedRows(w), QList<int>{1});
    QCOMPARE(w.CheckedCount, 1);
    QVERIFY(messageButtonsEnabled(w));
    clear();

    // The text as shown: decoded, "Große" is found, as the server sent it not.
    checkMatching(w, QStringLiteral("GROSSE"), 0, 0);
    checkMatching(w, u"gro\u00dfe"_qs, 1, 0);
    QVERIFY(checkedRows(w).isEmpty());
    QCOMPARE(w.msgBar->text(), QStringLiteral(" Check Matching: no row matches."));
    w.DecodeHeaders1->setChecked(true);
    checkMatching(w, u"gro\u00dfe"_qs, 1, 0);
    QCOMPARE(checkedRows(w), QList<int>{4});

    // Cancel checks nothing; an empty rule checks nothing either.
    clear();
    checkMatching(w, QStringLiteral("a"), 0, 0, false);
    QVERIFY(checkedRows(w).isEmpty());
    checkMatching(w, QString(), 0, 0);
    QVERIFY(checkedRows(w).isEmpty());
    QCOMPARE(w.msgBar->text(), QStringLiteral(" Check Matching: no condition given, no row checked."));

    // The dialog shows the values last used when it opens again.
    checkMatching(w, QStringLiteral("lunch"), 1, 1);
    w.CheckMatching1->trigger();
    QCOMPARE(w.findChild<QLineEdit *>(QStringLiteral("matchText"))->text(), QStringLiteral("lunch"));
    QCOMPARE(field->currentIndex(), 1);
    QCOMPARE(w.findChild<QSpinBox *>(QStringLiteral("matchMinKB"))->value(), 1);
    dialog->reject();
}

QTEST_MAIN(TestMailboxForm)
#include "tst_mailboxform.moc"
