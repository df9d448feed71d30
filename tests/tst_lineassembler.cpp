// SPDX-License-Identifier: GPL-3.0-or-later
#include "session/LineAssembler.h"

#include <QtTest>

// Cutting received bytes into lines across reads.
class LineAssemblerTest : public QObject {
    Q_OBJECT
private slots:
    void lines_data();
    void lines();
    void clearDropsUnfinishedLine();
    void endlessLineOverflows();
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
    // Only CR LF and a lone LF end a line: bytes of a stored message (a lone
    // CR, NUL) must never make lines of the protocol.
    QTest::newRow("lone LF ends, lone CR is data")
        << QByteArrayList{"a\nb\rc\r\n"} << QByteArrayList{"a", "b\rc"} << false;
    QTest::newRow("forged reply behind lone CRs")
        << QByteArrayList{"Subject: hi\r.\r+OK\rSubject: FREE PILLS\r\n"}
        << QByteArrayList{"Subject: hi\r.\r+OK\rSubject: FREE PILLS"} << false;
    QTest::newRow("read ends in a lone CR, next read ends mid-line")
        << QByteArrayList{"Subject: a\r", ".\r\nFrom: b\r", "x"} << QByteArrayList{"Subject: a\r."} << true;
    QTest::newRow("CR CR LF keeps one CR") << QByteArrayList{"a\r\r\n"} << QByteArrayList{"a\r"} << false;
    QTest::newRow("no break yet") << QByteArrayList{"+OK"} << QByteArrayList{} << true;
    QTest::newRow("NUL kept, never a break") << QByteArrayList{QByteArray("ab\0cd\r\n.\0\r\n", 11)}
                                             << QByteArrayList{QByteArray("ab\0cd", 5), QByteArray(".\0", 2)} << false;
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

void LineAssemblerTest::endlessLineOverflows()
{
    LineAssembler assembler;
    assembler.setMaxLineLength(8);
    QList<QByteArray> lines;
    // Up to the limit (and a CR whose LF is still to come) a line is kept.
    assembler.feed("12345678\r", lines);
    assembler.feed("\n1234", lines);
    QCOMPARE(lines, QByteArrayList{"12345678"});
    QVERIFY(!assembler.overflowed());
    assembler.feed("567890", lines);
    QVERIFY(assembler.overflowed());
    QVERIFY(!assembler.hasPartialLine());
    // Nothing more is taken until the assembler is cleared.
    assembler.feed("ok\r\n", lines);
    QCOMPARE(lines.size(), 1);
    assembler.clear();
    assembler.feed("ok\r\n123456789\r\n", lines);
    QCOMPARE(lines, (QByteArrayList{"12345678", "ok"}));
    QVERIFY(assembler.overflowed());
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
