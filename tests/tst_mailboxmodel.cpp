// SPDX-License-Identifier: GPL-3.0-or-later
// The mailbox list's model on its own: rows, marks and their count, the
// change handler's calls, sorting with the selection following its rows.

#include "mailbox/MailListModel.h"

#include <QAbstractItemModelTester>
#include <QRandomGenerator>
#include <QSignalSpy>
#include <QTest>

namespace {

QList<ListingEntry> listing(const QList<QByteArray> &ids)
{
    QList<ListingEntry> entries;
    for (const QByteArray &id : ids)
        entries.append({id, id + "00"});
    return entries;
}

QList<QByteArray> ids(const MailListModel &model)
{
    QList<QByteArray> result;
    for (int r = 0; r < model.count(); ++r)
        result.append(model.subItem(r, MailRow::Id));
    return result;
}

int recount(const MailListModel &model)
{
    int n = 0;
    for (int r = 0; r < model.count(); ++r)
        n += model.isChecked(r) ? 1 : 0;
    return n;
}

int firstChecked(const MailListModel &model)
{
    for (int r = 0; r < model.count(); ++r) {
        if (model.isChecked(r))
            return r;
    }
    return -1;
}

}  // namespace

class TestMailboxModel : public QObject {
    Q_OBJECT
private slots:
    void addListingRowsInsertsOnceAndReportsEachRow();
    void bulkMarksRepaintOnce();
    void userCheckBox();
    void headersAndDisplay();
    void decodedHeadersSwitchAndSort();
    void removingRunsNoHandler();
    void countAndFirstCheckedSurviveRandomOperations();
    void badIndicesAreHarmless();
};

void TestMailboxModel::addListingRowsInsertsOnceAndReportsEachRow()
{
    MailListModel model;
    QList<int> rowsSeenByHandler;
    model.setChangeHandler([&] { rowsSeenByHandler.append(model.count()); });
    QSignalSpy inserted(&model, &QAbstractItemModel::rowsInserted);

    model.addListingRows(listing({"1", "2", "3"}));
    QCOMPARE(inserted.size(), 1);
    QCOMPARE(inserted.at(0).at(1).toInt(), 0);
    QCOMPARE(inserted.at(0).at(2).toInt(), 2);
    QCOMPARE(rowsSeenByHandler.size(), 3);  // once per added row
    QCOMPARE(ids(model), (QList<QByteArray>{"1", "2", "3"}));
    QCOMPARE(model.subItem(1, MailRow::Bytes), QByteArray("200"));
    QCOMPARE(model.subItem(1, MailRow::Subject), QByteArray());
    QCOMPARE(model.checkedCount(), 0);

    // A second listing goes to the end, in its own order.
    model.addListingRows(listing({"9", "8"}));
    QCOMPARE(ids(model), (QList<QByteArray>{"1", "2", "3", "9", "8"}));
    QCOMPARE(rowsSeenByHandler.size(), 5);

    model.addListingRows(MailListing());
    QCOMPARE(inserted.size(), 2);
    QCOMPARE(rowsSeenByHandler.size(), 5);
}

void TestMailboxModel::bulkMarksRepaintOnce()
{
    MailListModel model;
    QList<QByteArray> many;
    for (int i = 1; i <= 50; ++i)
        many.append(QByteArray::number(i));
    model.addListingRows(listing(many));
    QList<int> countsSeen;
    model.setChangeHandler([&] { countsSeen.append(model.checkedCount()); });
    QSignalSpy changed(&model, &QAbstractItemModel::dataChanged);
    model.setRowChecked(10, true);
    changed.clear();
    countsSeen.clear();

    // The handler runs once per changed row, the count already including it.
    model.setAllChecked(true);
    QCOMPARE(countsSeen.size(), 49);
    QCOMPARE(countsSeen.first(), 2);
    QCOMPARE(countsSeen.last(), 50);
    QCOMPARE(changed.size(), 1);
    QCOMPARE(changed.at(0).at(0).toModelIndex(), model.index(0, 0));
    QCOMPARE(changed.at(0).at(1).toModelIndex(), model.index(49, 0));

    changed.clear();
    countsSeen.clear();
    model.setRowsChecked({40, 5, 20, 5}, false);
    QCOMPARE(countsSeen, (QList<int>{49, 48, 47}));
    QVERIFY(!model.isChecked(40) && !model.isChecked(5) && !model.isChecked(20) && model.isChecked(21));
    QCOMPARE(changed.size(), 1);
    QCOMPARE(changed.at(0).at(0).toModelIndex(), model.index(5, 0));
    QCOMPARE(changed.at(0).at(1).toModelIndex(), model.index(40, 0));

    changed.clear();
    model.setRowsChecked({5}, false);  // nothing changes
    QCOMPARE(changed.size(), 0);
}

void TestMailboxModel::userCheckBox()
{
    MailListModel model;
    model.addListingRows(listing({"1", "2"}));
    int calls = 0;
    model.setChangeHandler([&] { ++calls; });
    QVERIFY(model.flags(model.index(0, 0)) & Qt::ItemIsUserCheckable);
    QVERIFY(!(model.flags(model.index(0, 1)) & Qt::ItemIsUserCheckable));
    QVERIFY(!(model.flags(model.index(0, 1)) & Qt::ItemIsEditable));
    QCOMPARE(model.data(model.index(1, 0), Qt::CheckStateRole).value<Qt::CheckState>(), Qt::Unchecked);

    QVERIFY(model.setData(model.index(1, 0), Qt::Checked, Qt::CheckStateRole));
    QCOMPARE(calls, 1);
    QVERIFY(model.isChecked(1));
    QCOMPARE(model.data(model.index(1, 0), Qt::CheckStateRole).value<Qt::CheckState>(), Qt::Checked);
    QVERIFY(!model.setData(model.index(1, 2), QStringLiteral("x"), Qt::EditRole));
    QVERIFY(!model.data(model.index(1, 2), Qt::CheckStateRole).isValid());
}

void TestMailboxModel::headersAndDisplay()
{
    MailListModel model;
    model.addListingRows(listing({"1", "2"}));
    int calls = 0;
    model.setChangeHandler([&] { ++calls; });
    QSignalSpy changed(&model, &QAbstractItemModel::dataChanged);

    model.setRowHeaders(1, "Gr\xC3\xBC\xC3\x9F" "e", "J\xF6rg <j@x>", "me@x");
    QCOMPARE(calls, 1);
    QCOMPARE(changed.size(), 1);
    QCOMPARE(changed.at(0).at(0).toModelIndex(), model.index(1, 2));
    QCOMPARE(changed.at(0).at(1).toModelIndex(), model.index(1, 4));
    // Valid UTF-8 shows decoded; anything else byte for byte.
    QCOMPARE(model.data(model.index(1, 2), Qt::DisplayRole).toString(), QString::fromUtf8("Gr\xC3\xBC\xC3\x9F" "e"));
    QCOMPARE(model.data(model.index(1, 3), Qt::DisplayRole).toString(), QString::fromLatin1("J\xF6rg <j@x>"));
    // The bytes themselves stay as they came.
    QCOMPARE(model.subItem(1, MailRow::From), QByteArray("J\xF6rg <j@x>"));
    QCOMPARE(model.data(model.index(1, 1), Qt::DisplayRole).toString(), QStringLiteral("2"));
    QCOMPARE(model.data(model.index(1, 5), Qt::DisplayRole).toString(), QStringLiteral("200"));
    QCOMPARE(model.data(model.index(1, 0), Qt::DisplayRole).toString(), QString());  // empty caption
    QVERIFY(model.data(model.index(1, 5), Qt::TextAlignmentRole).toInt() & Qt::AlignRight);
    QVERIFY(model.data(model.index(1, 2), Qt::TextAlignmentRole).toInt() & Qt::AlignLeft);

    model.setRowHeaders(1, "Gr\xC3\xBC\xC3\x9F" "e", "J\xF6rg <j@x>", "me@x");  // same texts
    QCOMPARE(calls, 1);
}

// Both texts are kept per row: the switch shows the other at once, and a sort
// goes by the text shown, with the subject's "RE:" rule.
void TestMailboxModel::decodedHeadersSwitchAndSort()
{
    MailListModel model;
    model.addListingRows(listing({"1", "2", "3", "4"}));
    const auto head = [&](int row, const QByteArray &subject) {
        model.setRowHeaders(row, subject, "f", "t", DecodeHeaders({"Subject: " + subject}));
    };
    head(0, "=?UTF-8?Q?Zebra?=");
    head(1, "Mango");
    head(2, "=?UTF-8?Q?Re:_Apfel?=");
    model.setRowHeaders(3, "Caf\xE9", "f", "t");  // no decoded form given: the bytes serve
    int calls = 0;
    model.setChangeHandler([&] { ++calls; });
    QSignalSpy changed(&model, &QAbstractItemModel::dataChanged);
    const auto shown = [&](int row) {
        return model.data(model.index(row, MailListModel::SubjectColumn), Qt::DisplayRole).toString();
    };

    model.setDecodedHeaders(true);
    QCOMPARE(changed.size(), 1);
    QCOMPARE(changed.at(0).at(0).toModelIndex(), model.index(0, MailListModel::SubjectColumn));
    QCOMPARE(changed.at(0).at(1).toModelIndex(), model.index(3, MailListModel::ToColumn));
    QCOMPARE(calls, 0);
    QCOMPARE(shown(0), u"Zebra"_qs);
    QCOMPARE(shown(2), u"Re: Apfel"_qs);
    QCOMPARE(shown(3), u"Caf\u00e9"_qs);
    QCOMPARE(model.subItem(2, MailRow::Subject), QByteArray("=?UTF-8?Q?Re:_Apfel?="));
    // Decoded keys: APFELRE:, CAF..., MANGO, ZEBRA.
    model.sortRows(MailListModel::SubjectColumn, true);
    QCOMPARE(ids(model), (QList<QByteArray>{"3", "4", "2", "1"}));

    model.setDecodedHeaders(false);
    QCOMPARE(shown(0), u"=?UTF-8?Q?Re:_Apfel?="_qs);
    // Raw keys: "=?UTF-8?Q?RE:...", "=?UTF-8?Q?ZEBRA?=", "CAF...", "MANGO".
    model.sortRows(MailListModel::SubjectColumn, true);
    QCOMPARE(ids(model), (QList<QByteArray>{"3", "1", "4", "2"}));
    model.setDecodedHeaders(false);
    QCOMPARE(changed.size(), 2);  // no repaint for a switch to what is shown
}

void TestMailboxModel::removingRunsNoHandler()
{
    MailListModel model;
    model.addListingRows(listing({"1", "2", "3"}));
    model.setRowChecked(0, true);
    model.setRowChecked(2, true);
    int calls = 0;
    model.setChangeHandler([&] { ++calls; });
    bool restructuringSeen = false;
    connect(&model, &QAbstractItemModel::rowsAboutToBeRemoved, this,
            [&] { restructuringSeen = model.isRestructuring(); });

    QVERIFY(model.removeMailRow(0));
    QVERIFY(restructuringSeen);
    QVERIFY(!model.isRestructuring());
    QCOMPARE(model.checkedCount(), 1);
    QCOMPARE(model.firstCheckedRow(), 1);
    QVERIFY(!model.removeMailRow(0));  // "2" was not checked
    QCOMPARE(ids(model), (QList<QByteArray>{"3"}));
    QCOMPARE(model.checkedCount(), 1);
    model.removeAllMailRows();
    QCOMPARE(model.count(), 0);
    QCOMPARE(model.checkedCount(), 0);
    QCOMPARE(calls, 0);
}

void TestMailboxModel::countAndFirstCheckedSurviveRandomOperations()
{
    // The kept count and the first-checked shortcut against a plain recount;
    // the model's signals checked by Qt's model tester throughout.
    MailListModel model;
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
    QRandomGenerator random(20240611u);
    int nextId = 1;
    for (int step = 0; step < 3000; ++step) {
        const int n = model.count();
        const int op = random.bounded(9);
        const int row = n > 0 ? random.bounded(n) : 0;
        switch (op) {
        case 0: {
            QList<QByteArray> batch;
            for (int i = random.bounded(4); i >= 0; --i)
                batch.append(QByteArray::number(nextId++ % 37));
            model.addListingRows(listing(batch));
            break;
        }
        case 1:
        case 2:
            model.setRowChecked(row, random.bounded(2) == 0);
            break;
        case 3: {
            QList<QByteArray> expected = ids(model);
            const bool wasChecked = model.isChecked(row);
            QCOMPARE(model.removeMailRow(row), wasChecked && n > 0);
            if (n > 0)
                expected.removeAt(row);
            QCOMPARE(ids(model), expected);
            break;
        }
        case 4:
            model.sortRows(1 + random.bounded(5), random.bounded(2) == 0);
            break;
        case 5:
            model.setRowsChecked({row, n - 1 - row, row / 2}, random.bounded(2) == 0);
            break;
        case 6:
            if (random.bounded(20) == 0)
                model.setAllChecked(random.bounded(2) == 0);
            break;
        case 7:
            if (random.bounded(40) == 0)
                model.removeAllMailRows();
            break;
        default:
            QCOMPARE(model.firstCheckedRow(), firstChecked(model));
            break;
        }
        QCOMPARE(model.checkedCount(), recount(model));
        QVERIFY(model.checkedCount() >= 0);
    }
    QCOMPARE(model.firstCheckedRow(), firstChecked(model));
}

void TestMailboxModel::badIndicesAreHarmless()
{
    MailListModel model;
    int calls = 0;
    model.setChangeHandler([&] { ++calls; });
    model.setRowChecked(0, true);
    model.setRowsChecked({-1, 0, 5}, true);
    model.setAllChecked(true);
    model.setRowHeaders(0, "s", "f", "t");
    QVERIFY(!model.removeMailRow(0));
    model.sortRows(2, true);
    QCOMPARE(model.findRow("1", 0), -1);
    QCOMPARE(model.firstCheckedRow(), -1);
    model.addListingRows(listing({"1"}));
    QCOMPARE(calls, 1);
    QCOMPARE(model.findRow("1", 7), -1);
    QCOMPARE(model.findRow("1", -1), -1);
    QCOMPARE(model.subItem(0, 9), QByteArray());
    QCOMPARE(model.subItem(4, 0), QByteArray());
    QVERIFY(!model.isChecked(-1));
    QVERIFY(!model.data(model.index(0, 0).siblingAtColumn(9), Qt::DisplayRole).isValid());
    QVERIFY(!model.headerData(6, Qt::Horizontal, Qt::DisplayRole).isValid());
    model.setHeaderImage(9, 0);
    QCOMPARE(model.headerImage(9), -1);
}

QTEST_MAIN(TestMailboxModel)
#include "tst_mailboxmodel.moc"
