#include "session/LineAssembler.h"

#include <QtTest>

// Cutting received bytes into lines across reads.
class LineAssemblerTest : public QObject {
    Q_OBJECT
private slots:
    void lines_data();
    void lines();
    void clearDropsUnfinishedLine();
};

void LineAssemblerTest::lines_data()
{
    QTest::addColumn<QByteArrayList>("reads");
    QTest::addColumn<QByteArrayList>("expected");
    QTest::addColumn<bool>("partialLeft");

    QTest::newRow("one CR LF line") << QByteArrayList{"+OK ready\r\n"} << QByteArrayList{"+OK ready"} << false;
    QTest::newRow("two replies in one read")
        << QByteArrayList{"+OK\r\n+OK logged in\r\n"} << QByteArrayList{"+OK", "+OK logged in"} << false;
    QTest::newRow("line split over reads")
        << QByteArrayList{"+OK 2 mes", "sages\r\n"} << QByteArrayList{"+OK 2 messages"} << false;
    QTest::newRow("CR and LF in different reads")
        << QByteArrayList{"a\r", "\nb\r\n"} << QByteArrayList{"a", "b"} << false;
    QTest::newRow("blank lines kept") << QByteArrayList{"a\r\n\r\nb\r\n"} << QByteArrayList{"a", "", "b"} << false;
    QTest::newRow("bare LF and bare CR") << QByteArrayList{"a\nb\rc\r\n"} << QByteArrayList{"a", "b", "c"} << false;
    QTest::newRow("no break yet") << QByteArrayList{"+OK"} << QByteArrayList{} << true;
    QTest::newRow("NUL dropped, rest kept")
        << QByteArrayList{QByteArray("ab\0cd\r\n.\r\n", 9)} << QByteArrayList{"abcd", "."} << false;
    QTest::newRow("blanks kept inside lines") << QByteArrayList{"  x  \r\n"} << QByteArrayList{"  x  "} << false;
    QTest::newRow("empty reads") << QByteArrayList{"", "x", "", "\n"} << QByteArrayList{"x"} << false;
}

void LineAssemblerTest::lines()
{
    QFETCH(QByteArrayList, reads);
    QFETCH(QByteArrayList, expected);
    QFETCH(bool, partialLeft);
    LineAssembler assembler;
    QList<QByteArray> lines;
    for (const QByteArray &read : reads)
        assembler.feed(read, lines);
    QCOMPARE(lines, expected);
    QCOMPARE(assembler.hasPartialLine(), partialLeft);
}

void LineAssemblerTest::clearDropsUnfinishedLine()
{
    LineAssembler assembler;
    QList<QByteArray> lines;
    assembler.feed("+OK 3 mes", lines);
    assembler.clear();
    assembler.feed("+OK ready\r\n", lines);
    QCOMPARE(lines, QByteArrayList{"+OK ready"});
}

QTEST_GUILESS_MAIN(LineAssemblerTest)
#include "tst_lineassembler.moc"
