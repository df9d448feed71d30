#include "session/Pop3Parsing.h"

#include <QTest>

using Lines = QList<QByteArray>;
using Pairs = QList<QPair<QByteArray, QByteArray>>;

class TestPop3Parsing : public QObject {
    Q_OBJECT
private slots:
    void parseListing_data();
    void parseListing();
    void parseListingKeepsInput();
    void scanHeaders_data();
    void scanHeaders();
};

void TestPop3Parsing::parseListing_data()
{
    QTest::addColumn<Lines>("lines");
    QTest::addColumn<Pairs>("expected");

    QTest::newRow("no lines") << Lines{} << Pairs{};
    QTest::newRow("simple") << Lines{"1 120"} << Pairs{{"1", "120"}};
    QTest::newRow("several in order")
        << Lines{"3 1520", "1 99", "12 345"} << Pairs{{"3", "1520"}, {"1", "99"}, {"12", "345"}};
    QTest::newRow("trailing word") << Lines{"12 345 x"} << Pairs{{"12", "345"}};
    QTest::newRow("unusable lines")
        << Lines{"0 5", "+OK 2 messages", "abc 12", "-1 3", " 1 3", "", ".", "2 7"}
        << Pairs{{"2", "7"}};
    QTest::newRow("number alone") << Lines{"7"} << Pairs{{"7", ""}};
    QTest::newRow("number and blank") << Lines{"7 "} << Pairs{{"7", ""}};
    QTest::newRow("two blanks") << Lines{"1  120"} << Pairs{{"1", ""}};
    QTest::newRow("tab, no blank") << Lines{"1\t120"} << Pairs{{"1\t120", ""}};
    QTest::newRow("tab then blank") << Lines{"1\t120 x"} << Pairs{{"1\t120", "x"}};
    QTest::newRow("tab before size is trimmed") << Lines{"1 \t120 x"} << Pairs{{"1", "120"}};
    QTest::newRow("stray CR trimmed") << Lines{"4 200\r"} << Pairs{{"4", "200"}};
    // The window holds 20 characters after the number's blank.
    QTest::newRow("19 chars then blank")
        << Lines{"5 " + QByteArray(19, '8') + " tail"} << Pairs{{"5", QByteArray(19, '8')}};
    QTest::newRow("20 chars at line end")
        << Lines{"5 " + QByteArray(20, '8')} << Pairs{{"5", ""}};
    QTest::newRow("19 chars at line end")
        << Lines{"5 " + QByteArray(19, '8')} << Pairs{{"5", QByteArray(19, '8')}};
    QTest::newRow("20 chars then blank")
        << Lines{"5 " + QByteArray(20, '8') + " tail"} << Pairs{{"5", ""}};
    QTest::newRow("high bytes kept")
        << Lines{QByteArray("9 \xe4\xf6 z")} << Pairs{{"9", QByteArray("\xe4\xf6")}};
}

void TestPop3Parsing::parseListing()
{
    QFETCH(Lines, lines);
    QFETCH(Pairs, expected);
    Pairs actual;
    for (const ListingEntry &entry : ParseListing(lines))
        actual.append({entry.number, entry.size});
    QCOMPARE(actual, expected);
}

void TestPop3Parsing::parseListingKeepsInput()
{
    const Lines original{"1 120", "2 7"};
    Lines lines = original;
    ParseListing(lines);
    ScanHeaders(lines);
    QCOMPARE(lines, original);
}

void TestPop3Parsing::scanHeaders_data()
{
    QTest::addColumn<Lines>("lines");
    QTest::addColumn<QByteArray>("subject");
    QTest::addColumn<QByteArray>("sender");
    QTest::addColumn<QByteArray>("recipient");

    QTest::newRow("no lines") << Lines{} << QByteArray() << QByteArray() << QByteArray();
    QTest::newRow("all three")
        << Lines{"Return-Path: <a@b>", "From: Ann <a@b>", "To: bob@c", "Subject: Hello", ""}
        << QByteArray("Hello") << QByteArray("Ann <a@b>") << QByteArray("bob@c");
    QTest::newRow("case-sensitive")
        << Lines{"Subject: Hello", "subject: x", "FROM: y", "to: z"}
        << QByteArray("Hello") << QByteArray() << QByteArray();
    QTest::newRow("last wins")
        << Lines{"To: first", "To: second"} << QByteArray() << QByteArray() << QByteArray("second");
    QTest::newRow("no blank after colon")
        << Lines{"Subject:Hello", "Subject:", "From:x", "To:y"}
        << QByteArray() << QByteArray() << QByteArray();
    QTest::newRow("blank only replaces")
        << Lines{"Subject: Old", "Subject: "} << QByteArray() << QByteArray() << QByteArray();
    QTest::newRow("body line replaces sender")
        << Lines{"From: header@x", "", "Hi,", "From: body@y"}
        << QByteArray() << QByteArray("body@y") << QByteArray();
    QTest::newRow("continuation not joined")
        << Lines{"Subject: part one", " part two"}
        << QByteArray("part one") << QByteArray() << QByteArray();
    QTest::newRow("leading blank does not match")
        << Lines{" Subject: x", "\tFrom: y"} << QByteArray() << QByteArray() << QByteArray();
    QTest::newRow("rest kept raw")
        << Lines{"Subject: =?UTF-8?B?SGk=?=  ", "To:  two blanks"}
        << QByteArray("=?UTF-8?B?SGk=?=  ") << QByteArray() << QByteArray(" two blanks");
    QTest::newRow("short lines")
        << Lines{"S", "Subject", "To:", "Fr"} << QByteArray() << QByteArray() << QByteArray();
}

void TestPop3Parsing::scanHeaders()
{
    QFETCH(Lines, lines);
    QFETCH(QByteArray, subject);
    QFETCH(QByteArray, sender);
    QFETCH(QByteArray, recipient);
    const HeaderFields fields = ScanHeaders(lines);
    QCOMPARE(fields.subject, subject);
    QCOMPARE(fields.sender, sender);
    QCOMPARE(fields.recipient, recipient);
}

QTEST_GUILESS_MAIN(TestPop3Parsing)
#include "tst_pop3parsing.moc"
