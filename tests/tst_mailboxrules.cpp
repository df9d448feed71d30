// SPDX-License-Identifier: GPL-3.0-or-later
// The mailbox list's pure rules: row comparison, subject key, numbers, the
// stable sort order, and the column width rule.

#include "mailbox/ColumnWidthRule.h"
#include "mailbox/MailRowOrder.h"

#include <QRandomGenerator>
#include <QTest>

#include <algorithm>

namespace {

MailRow rowWith(int subItem, const QByteArray &text, const QByteArray &id = QByteArray())
{
    MailRow row;
    row.texts[static_cast<size_t>(subItem)] = text;
    if (subItem != MailRow::Id)
        row.texts[MailRow::Id] = id;
    return row;
}

int sign(int value)
{
    return (value > 0) - (value < 0);
}

std::vector<MailRow> rowsWithColumn(int column, const QList<QByteArray> &texts)
{
    std::vector<MailRow> rows;
    for (qsizetype i = 0; i < texts.size(); ++i)
        rows.push_back(rowWith(column - 1, texts[i], QByteArray::number(i)));
    return rows;
}

QList<QByteArray> sortedTexts(const std::vector<MailRow> &rows, int column, bool ascending)
{
    QList<QByteArray> result;
    for (int i : MailRowOrder::sortedOrder(rows, column, ascending))
        result.append(rows[static_cast<size_t>(i)].texts[static_cast<size_t>(column - 1)]);
    return result;
}

// Texts a server might send in any column, well-formed or not.
QByteArray randomText(QRandomGenerator &random)
{
    static const QList<QByteArray> pool = {"",        "0",           "7",          "007",       "12",
                                           "-3",      "+4",          "2147483647", "-2147483648", "2147483648",
                                           "99999999999", "abc",     "ABC",        "Re: abc",   "re:ABC",
                                           " Re: x",  "RE:",         "x y",        "\xE9t\xE9", "a\tb",
                                           // Long shared beginnings, and a NUL byte where a shorter text ends.
                                           "Newsletter week 1", "Newsletter week 10", "NEWSLETTER week 1",
                                           "Re: Newsletter week 1", "abcdefgh", "ABCDEFGH", "abcdefghi",
                                           QByteArray("abcdefgh\0", 9), QByteArray("abcdefg\0", 8), "12345678",
                                           "123456789", "-1", "4294967295", "\xFF\xFF\xFF\xFF\xFF\xFF\xFF\xFF"};
    return pool[random.bounded(pool.size())];
}

}  // namespace

class TestMailboxRules : public QObject {
    Q_OBJECT
private slots:
    void compareRows_data();
    void compareRows();
    void textComparisonValues();
    void subjectKey_data();
    void subjectKey();
    void parseNumber_data();
    void parseNumber();
    void sortExamples_data();
    void sortExamples();
    void sortIsStablePermutationConsistentWithCompare_data();
    void sortIsStablePermutationConsistentWithCompare();
    void widthRule_data();
    void widthRule();
};

void TestMailboxRules::compareRows_data()
{
    QTest::addColumn<int>("column");
    QTest::addColumn<bool>("ascending");
    QTest::addColumn<QByteArray>("a");
    QTest::addColumn<QByteArray>("b");
    QTest::addColumn<int>("expected");

    // Numbers by value, not as text.
    QTest::newRow("id 9 < 10") << 1 << true << QByteArray("9") << QByteArray("10") << -1;
    QTest::newRow("id 100 > 10") << 1 << true << QByteArray("100") << QByteArray("10") << 1;
    QTest::newRow("id leading zero") << 1 << true << QByteArray("007") << QByteArray("7") << 0;
    QTest::newRow("id negative") << 1 << true << QByteArray("-5") << QByteArray("3") << -1;
    QTest::newRow("id descending") << 1 << false << QByteArray("9") << QByteArray("10") << 1;
    QTest::newRow("bytes 65 < 1520") << 5 << true << QByteArray("65") << QByteArray("1520") << -1;
    // Subtracting these would overflow 32 bits.
    QTest::newRow("bytes extremes") << 5 << true << QByteArray("2147483647") << QByteArray("-2147483648") << 1;
    QTest::newRow("bytes extremes reversed") << 5 << true << QByteArray("-2147483648") << QByteArray("2147483647")
                                             << -1;
    // Texts that are not numbers go before all numbers, among themselves as text.
    QTest::newRow("empty size first") << 5 << true << QByteArray("") << QByteArray("0") << -1;
    QTest::newRow("text before number") << 5 << true << QByteArray("abc") << QByteArray("-2147483648") << -1;
    QTest::newRow("beyond 32 bits") << 5 << true << QByteArray("2147483648") << QByteArray("1") << -1;
    QTest::newRow("far beyond 32 bits") << 1 << true << QByteArray("99999999999999999999") << QByteArray("5") << -1;
    QTest::newRow("non-numbers by text") << 1 << true << QByteArray("abc") << QByteArray("ABD") << -1;
    QTest::newRow("non-numbers case-blind") << 1 << true << QByteArray("x1") << QByteArray("X1") << 0;
    QTest::newRow("empty before text") << 5 << true << QByteArray("") << QByteArray(" ") << -1;
    QTest::newRow("number descending after text") << 5 << false << QByteArray("12") << QByteArray("x") << -1;

    // Subject key: a leading RE: moves to the end.
    QTest::newRow("re after plain") << 2 << true << QByteArray("Re: Lunch") << QByteArray("Lunch") << 1;
    QTest::newRow("re after longer") << 2 << true << QByteArray("Re: Lunch") << QByteArray("Lunch menu") << 1;
    QTest::newRow("re lower case") << 2 << true << QByteArray("re: B") << QByteArray("C") << -1;
    QTest::newRow("re keys equal") << 2 << true << QByteArray("RE: abc") << QByteArray("re:ABC") << 0;
    QTest::newRow("blank before re stays") << 2 << true << QByteArray(" Re: x") << QByteArray("Re: x") << -1;
    QTest::newRow("subject case-blind") << 2 << true << QByteArray("hello") << QByteArray("HELLO") << 0;
    QTest::newRow("subject descending") << 2 << false << QByteArray("a") << QByteArray("b") << 1;

    // Sender and recipient: bytes, a to z read as A to Z.
    QTest::newRow("from case-blind") << 3 << true << QByteArray("alice") << QByteArray("ALICE") << 0;
    QTest::newRow("from empty first") << 3 << true << QByteArray("") << QByteArray("a") << -1;
    QTest::newRow("from underscore after letters") << 3 << true << QByteArray("_x") << QByteArray("ax") << 1;
    QTest::newRow("to high bytes unsigned") << 4 << true << QByteArray("\xE9") << QByteArray("z") << 1;
    QTest::newRow("to prefix first") << 4 << true << QByteArray("bob") << QByteArray("bobby") << -1;
    QTest::newRow("to descending") << 4 << false << QByteArray("bob") << QByteArray("bobby") << 1;
}

void TestMailboxRules::compareRows()
{
    QFETCH(int, column);
    QFETCH(bool, ascending);
    QFETCH(QByteArray, a);
    QFETCH(QByteArray, b);
    QFETCH(int, expected);
    const MailRow rowA = rowWith(column - 1, a);
    const MailRow rowB = rowWith(column - 1, b);
    QCOMPARE(sign(MailRowOrder::compare(column, ascending, rowA, rowB)), expected);
    // Antisymmetric, and the sort agrees.
    QCOMPARE(sign(MailRowOrder::compare(column, ascending, rowB, rowA)), -expected);
    const std::vector<MailRow> pair{rowA, rowB};
    const std::vector<int> order = MailRowOrder::sortedOrder(pair, column, ascending);
    QCOMPARE(order, expected > 0 ? std::vector<int>({1, 0}) : std::vector<int>({0, 1}));
}

void TestMailboxRules::textComparisonValues()
{
    // The first differing bytes' difference, after upper-casing.
    QCOMPARE(MailRowOrder::compareText("abc", "abd"), 'C' - 'D');
    QCOMPARE(MailRowOrder::compareText("b", "A"), 'B' - 'A');
    QCOMPARE(MailRowOrder::compareText("a", "_"), 'A' - '_');
    QCOMPARE(MailRowOrder::compareText("\xFF", "\x01"), 0xFF - 0x01);
    QVERIFY(MailRowOrder::compareText("ab", "abc") < 0);
    QVERIFY(MailRowOrder::compareText("abc", "AB") > 0);
    QCOMPARE(MailRowOrder::compareText("", ""), 0);
    QCOMPARE(MailRowOrder::compareText("MiXeD", "mixed"), 0);
    // Only a to z change case; bytes above 127 stay as they are.
    QVERIFY(MailRowOrder::compareText("\xE9", "\xC9") != 0);
}

void TestMailboxRules::subjectKey_data()
{
    QTest::addColumn<QByteArray>("subject");
    QTest::addColumn<QByteArray>("key");
    QTest::newRow("reply") << QByteArray("Re: Lunch") << QByteArray("LUNCHRE:");
    QTest::newRow("prefix alone") << QByteArray("RE:") << QByteArray("RE:");
    QTest::newRow("only first prefix moves") << QByteArray("re:re: x") << QByteArray("RE: XRE:");
    QTest::newRow("leading blank keeps all") << QByteArray(" Re: x") << QByteArray(" RE: X");
    QTest::newRow("prefix and blanks") << QByteArray("Re:   ") << QByteArray("RE:");
    QTest::newRow("inner blanks stay") << QByteArray("Re: x  ") << QByteArray("X  RE:");
    QTest::newRow("tab and control trimmed") << QByteArray("Re:\t\x01x") << QByteArray("XRE:");
    QTest::newRow("no colon") << QByteArray("Re x") << QByteArray("RE X");
    QTest::newRow("short") << QByteArray("Re") << QByteArray("RE");
    QTest::newRow("empty") << QByteArray() << QByteArray();
    QTest::newRow("plain") << QByteArray("Lunch menu") << QByteArray("LUNCH MENU");
    QTest::newRow("trailing blanks kept without prefix") << QByteArray(" x ") << QByteArray(" X ");
}

void TestMailboxRules::subjectKey()
{
    QFETCH(QByteArray, subject);
    QFETCH(QByteArray, key);
    QCOMPARE(MailRowOrder::subjectKey(subject), key);
}

void TestMailboxRules::parseNumber_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<int>("value");
    QTest::newRow("plain") << QByteArray("1520") << true << 1520;
    QTest::newRow("zero") << QByteArray("0") << true << 0;
    QTest::newRow("leading zeros") << QByteArray("000042") << true << 42;
    QTest::newRow("max") << QByteArray("2147483647") << true << 2147483647;
    QTest::newRow("min") << QByteArray("-2147483648") << true << int(-2147483647 - 1);
    QTest::newRow("plus") << QByteArray("+8") << true << 8;
    QTest::newRow("max + 1") << QByteArray("2147483648") << false << 0;
    QTest::newRow("min - 1") << QByteArray("-2147483649") << false << 0;
    QTest::newRow("many digits") << QByteArray("123456789012345678901234567890") << false << 0;
    QTest::newRow("empty") << QByteArray() << false << 0;
    QTest::newRow("sign alone") << QByteArray("-") << false << 0;
    QTest::newRow("letters") << QByteArray("12a") << false << 0;
    QTest::newRow("blank") << QByteArray(" 12") << false << 0;
    QTest::newRow("hex") << QByteArray("0x1F") << false << 0;
}

void TestMailboxRules::parseNumber()
{
    QFETCH(QByteArray, text);
    QFETCH(bool, ok);
    QFETCH(int, value);
    qint32 parsed = -77;
    QCOMPARE(MailRowOrder::parseNumber(text, &parsed), ok);
    if (ok)
        QCOMPARE(parsed, value);
}

void TestMailboxRules::sortExamples_data()
{
    QTest::addColumn<int>("column");
    QTest::addColumn<bool>("ascending");
    QTest::addColumn<QList<QByteArray>>("texts");
    QTest::addColumn<QList<QByteArray>>("sorted");
    QTest::newRow("ids as numbers") << 1 << true << QList<QByteArray>{"100", "9", "10"}
                                    << QList<QByteArray>{"9", "10", "100"};
    QTest::newRow("sizes descending") << 5 << false << QList<QByteArray>{"100", "9", "10"}
                                      << QList<QByteArray>{"100", "10", "9"};
    QTest::newRow("subjects") << 2 << true << QList<QByteArray>{"Re: Lunch", "Lunch menu", "Lunch"}
                              << QList<QByteArray>{"Lunch", "Lunch menu", "Re: Lunch"};
    // Non-numbers first, equal ones ("x", "X") in their previous order both ways.
    QTest::newRow("bad sizes ascending") << 5 << true << QList<QByteArray>{"5", "", "x", "3", "X"}
                                         << QList<QByteArray>{"", "x", "X", "3", "5"};
    QTest::newRow("bad sizes descending") << 5 << false << QList<QByteArray>{"5", "", "x", "3", "X"}
                                          << QList<QByteArray>{"5", "3", "x", "X", ""};
    QTest::newRow("senders equal keep order") << 3 << true << QList<QByteArray>{"bob", "alice", "ALICE", "Alice", ""}
                                              << QList<QByteArray>{"", "alice", "ALICE", "Alice", "bob"};
    QTest::newRow("senders descending keep order") << 3 << false
                                                   << QList<QByteArray>{"bob", "alice", "ALICE", "Alice", ""}
                                                   << QList<QByteArray>{"bob", "alice", "ALICE", "Alice", ""};
}

void TestMailboxRules::sortExamples()
{
    QFETCH(int, column);
    QFETCH(bool, ascending);
    QFETCH(QList<QByteArray>, texts);
    QFETCH(QList<QByteArray>, sorted);
    QCOMPARE(sortedTexts(rowsWithColumn(column, texts), column, ascending), sorted);
}

void TestMailboxRules::sortIsStablePermutationConsistentWithCompare_data()
{
    QTest::addColumn<int>("column");
    QTest::addColumn<bool>("ascending");
    QTest::addColumn<bool>("decoded");
    for (int column = 1; column <= 5; ++column) {
        QTest::addRow("column %d ascending", column) << column << true << false;
        QTest::addRow("column %d descending", column) << column << false << false;
        // The decoded header texts differ from the raw ones: both orders
        // must go by the same text.
        QTest::addRow("column %d ascending, decoded", column) << column << true << true;
        QTest::addRow("column %d descending, decoded", column) << column << false << true;
    }
}

void TestMailboxRules::sortIsStablePermutationConsistentWithCompare()
{
    QFETCH(int, column);
    QFETCH(bool, ascending);
    QFETCH(bool, decoded);
    QRandomGenerator random(4711u + static_cast<quint32>(column));
    std::vector<MailRow> rows;
    for (int i = 0; i < 500; ++i) {
        MailRow row;
        for (QByteArray &text : row.texts)
            text = randomText(random);
        row.decoded = MailRow::joinDecoded(randomText(random), randomText(random), randomText(random));
        rows.push_back(row);
    }
    const std::vector<int> order = MailRowOrder::sortedOrder(rows, column, ascending, decoded);
    std::vector<int> seen = order;
    std::sort(seen.begin(), seen.end());
    for (int i = 0; i < int(seen.size()); ++i)
        QCOMPARE(seen[static_cast<size_t>(i)], i);  // no row lost or doubled
    for (size_t i = 1; i < order.size(); ++i) {
        const MailRow &before = rows[static_cast<size_t>(order[i - 1])];
        const MailRow &after = rows[static_cast<size_t>(order[i])];
        const int result = MailRowOrder::compare(column, ascending, before, after, decoded);
        QVERIFY2(result <= 0, qPrintable(QStringLiteral("rows %1, %2 out of order").arg(order[i - 1]).arg(order[i])));
        if (result == 0)
            QVERIFY(order[i - 1] < order[i]);
    }
}

void TestMailboxRules::widthRule_data()
{
    using W = ColumnWidthRule::Widths;
    QTest::addColumn<int>("listWidth");
    QTest::addColumn<W>("current");
    QTest::addColumn<W>("expected");
    const W minimum = ColumnWidthRule::MinimumWidths;
    const W wide{20, 55, 245, 115, 115, 75};
    QTest::newRow("design") << 542 << minimum << minimum;
    QTest::newRow("narrower") << 500 << wide << minimum;
    QTest::newRow("one pixel") << 543 << minimum << W{20, 55, 196, 95, 95, 65};
    QTest::newRow("547") << 547 << minimum << W{20, 55, 200, 95, 95, 65};
    QTest::newRow("552") << 552 << minimum << W{20, 55, 200, 97, 97, 66};
    QTest::newRow("561") << 561 << minimum << W{20, 55, 200, 97, 97, 66};
    QTest::newRow("600") << 600 << minimum << W{20, 55, 220, 105, 105, 70};
    QTest::newRow("651") << 651 << minimum << wide;
    QTest::newRow("shrink 651 to 547") << 547 << wide << W{20, 55, 200, 115, 115, 75};
    QTest::newRow("first columns untouched") << 600 << W{30, 80, 1, 1, 1, 1} << W{30, 80, 220, 105, 105, 70};
    QTest::newRow("negative") << -1000 << wide << minimum;
    QTest::newRow("int min") << std::numeric_limits<int>::min() << wide << minimum;
    QTest::newRow("int max") << std::numeric_limits<int>::max() << minimum
                             << W{20, 55, 195 + 5 * 214748310, 95 + 2 * 214748310, 95 + 2 * 214748310,
                                  65 + 214748310};
}

void TestMailboxRules::widthRule()
{
    using W = ColumnWidthRule::Widths;
    QFETCH(int, listWidth);
    QFETCH(W, current);
    QFETCH(W, expected);
    QCOMPARE(ColumnWidthRule::apply(listWidth, current), expected);
}

QTEST_APPLESS_MAIN(TestMailboxRules)
#include "tst_mailboxrules.moc"
