// SPDX-License-Identifier: GPL-3.0-or-later
#include "session/CommandQueue.h"
#include "session/HeaderDecoding.h"
#include "session/MailListing.h"
#include "session/Pop3Parsing.h"

#include <QSet>
#include <QTest>

using Lines = QList<QByteArray>;
using Pairs = QList<QPair<QByteArray, QByteArray>>;

class TestPop3Parsing : public QObject {
    Q_OBJECT
private slots:
    void parseListing_data();
    void parseListing();
    void parseListingKeepsInput();
    void mailListingKeepsEachNumberOnce();
    void scanHeaders_data();
    void scanHeaders();
    void decodeHeaderValue_data();
    void decodeHeaderValue();
    void decodeHeaders_data();
    void decodeHeaders();
    void decodeHostileHeaders();
    void listsCapability_data();
    void listsCapability();
    void typedReplyShape_data();
    void typedReplyShape();
};

void TestPop3Parsing::parseListing_data()
{
    QTest::addColumn<Lines>("lines");
    QTest::addColumn<Pairs>("expected");

    QTest::newRow("no lines") << Lines{} << Pairs{};
    QTest::newRow("simple") << Lines{"1 120"} << Pairs{{"1", "120"}};
    QTest::newRow("several in order") << Lines{"3 1520", "1 99", "12 345"}
                                      << Pairs{{"3", "1520"}, {"1", "99"}, {"12", "345"}};
    QTest::newRow("trailing word") << Lines{"12 345 x"} << Pairs{{"12", "345"}};
    QTest::newRow("unusable lines") << Lines{"0 5", "+OK 2 messages", "abc 12", "-1 3", " 1 3", "", ".", "2 7"}
                                    << Pairs{{"2", "7"}};
    QTest::newRow("number alone") << Lines{"7"} << Pairs{{"7", ""}};
    QTest::newRow("number and blank") << Lines{"7 "} << Pairs{{"7", ""}};
    QTest::newRow("two blanks") << Lines{"1  120"} << Pairs{{"1", ""}};
    QTest::newRow("tab, no blank") << Lines{"1\t120"} << Pairs{{"1\t120", ""}};
    QTest::newRow("tab then blank") << Lines{"1\t120 x"} << Pairs{{"1\t120", "x"}};
    QTest::newRow("tab before size is trimmed") << Lines{"1 \t120 x"} << Pairs{{"1", "120"}};
    QTest::newRow("stray CR trimmed") << Lines{"4 200\r"} << Pairs{{"4", "200"}};
    // The window holds 20 characters after the number's blank.
    QTest::newRow("19 chars then blank") << Lines{"5 " + QByteArray(19, '8') + " tail"}
                                         << Pairs{{"5", QByteArray(19, '8')}};
    QTest::newRow("20 chars at line end") << Lines{"5 " + QByteArray(20, '8')} << Pairs{{"5", ""}};
    QTest::newRow("19 chars at line end") << Lines{"5 " + QByteArray(19, '8')} << Pairs{{"5", QByteArray(19, '8')}};
    QTest::newRow("20 chars then blank") << Lines{"5 " + QByteArray(20, '8') + " tail"} << Pairs{{"5", ""}};
    QTest::newRow("high bytes kept") << Lines{QByteArray("9 \xe4\xf6 z")} << Pairs{{"9", QByteArray("\xe4\xf6")}};
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

void TestPop3Parsing::mailListingKeepsEachNumberOnce()
{
    // Lines as ParseListing takes them, numbers repeated: a number of 300
    // bytes (its length takes two bytes in the packing), one with a NUL and
    // a CR, sizes empty and cut by the window, and enough entries that the
    // table of numbers grows several times.
    Lines lines{"1 120", "0 5",   QByteArray(300, '7') + " 9", QByteArray("2\0\r3 4", 7),   "+OK",
                "5",     "1 999", "6 " + QByteArray(25, '8'),  QByteArray(300, '7') + " 10"};
    for (int i = 0; i < 6000; ++i)
        lines << QByteArray::number(10 + (i * 7) % 4000) + ' ' + QByteArray::number(i);
    Pairs expected;
    QSet<QByteArray> seen;
    for (const ListingEntry &entry : ParseListing(lines)) {
        if (!seen.contains(entry.number))
            expected.append({entry.number, entry.size});
        seen.insert(entry.number);
    }

    MailListing listing;
    qsizetype added = 0;
    for (const QByteArray &line : lines)
        added += listing.addLine(line) ? 1 : 0;
    Pairs actual;
    for (const ListingEntry &entry : listing.entryList())
        actual.append({entry.number, entry.size});
    QCOMPARE(actual, expected);
    QCOMPARE(added, expected.size());
    QCOMPARE(listing.count(), expected.size());

    // Without its table the listing still knows its numbers.
    listing.finish();
    QVERIFY(!listing.addLine("1 7"));
    QVERIFY(!listing.addLine(QByteArray("2\0\r3 5", 7)));
    QVERIFY(listing.addLine("4011 7"));
    QCOMPARE(listing.count(), expected.size() + 1);
}

void TestPop3Parsing::scanHeaders_data()
{
    QTest::addColumn<Lines>("lines");
    QTest::addColumn<QByteArray>("subject");
    QTest::addColumn<QByteArray>("sender");
    QTest::addColumn<QByteArray>("recipient");

    QTest::newRow("no lines") << Lines{} << QByteArray() << QByteArray() << QByteArray();
    QTest::newRow("all three") << Lines{"Return-Path: <a@b>", "From: Ann <a@b>", "To: bob@c", "Subject: Hello", ""}
                               << QByteArray("Hello") << QByteArray("Ann <a@b>") << QByteArray("bob@c");
    QTest::newRow("case-sensitive") << Lines{"Subject: Hello", "subject: x", "FROM: y", "to: z"} << QByteArray("Hello")
                                    << QByteArray() << QByteArray();
    QTest::newRow("last wins") << Lines{"To: first", "To: second"} << QByteArray() << QByteArray()
                               << QByteArray("second");
    QTest::newRow("no blank after colon")
        << Lines{"Subject:Hello", "Subject:", "From:x", "To:y"} << QByteArray() << QByteArray() << QByteArray();
    QTest::newRow("blank only replaces") << Lines{"Subject: Old", "Subject: "} << QByteArray() << QByteArray()
                                         << QByteArray();
    QTest::newRow("body line replaces sender")
        << Lines{"From: header@x", "", "Hi,", "From: body@y"} << QByteArray() << QByteArray("body@y") << QByteArray();
    QTest::newRow("continuation not joined")
        << Lines{"Subject: part one", " part two"} << QByteArray("part one") << QByteArray() << QByteArray();
    QTest::newRow("leading blank does not match")
        << Lines{" Subject: x", "\tFrom: y"} << QByteArray() << QByteArray() << QByteArray();
    QTest::newRow("rest kept raw") << Lines{"Subject: =?UTF-8?B?SGk=?=  ", "To:  two blanks"}
                                   << QByteArray("=?UTF-8?B?SGk=?=  ") << QByteArray() << QByteArray(" two blanks");
    QTest::newRow("short lines") << Lines{"S", "Subject", "To:", "Fr"} << QByteArray() << QByteArray() << QByteArray();
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

void TestPop3Parsing::decodeHeaderValue_data()
{
    QTest::addColumn<QByteArray>("value");
    QTest::addColumn<QString>("expected");

    // The examples of RFC 2047, section 8.
    QTest::newRow("rfc2047 Keith Moore") << QByteArray("=?US-ASCII?Q?Keith_Moore?= <moore@cs.utk.edu>")
                                         << u"Keith Moore <moore@cs.utk.edu>"_qs;
    QTest::newRow("rfc2047 Keld") << QByteArray("=?ISO-8859-1?Q?Keld_J=F8rn_Simonsen?= <keld@dkuug.dk>")
                                  << u"Keld J\u00f8rn Simonsen <keld@dkuug.dk>"_qs;
    QTest::newRow("rfc2047 Andre") << QByteArray("=?ISO-8859-1?Q?Andr=E9?= Pirard <PIRARD@vm1.ulg.ac.be>")
                                   << u"Andr\u00e9 Pirard <PIRARD@vm1.ulg.ac.be>"_qs;
    QTest::newRow("rfc2047 Patrik") << QByteArray("=?ISO-8859-1?Q?Patrik_F=E4ltstr=F6m?= <paf@nada.kth.se>")
                                    << u"Patrik F\u00e4ltstr\u00f6m <paf@nada.kth.se>"_qs;
    QTest::newRow("rfc2047 hebrew comment")
        << QByteArray("Nathaniel Borenstein <nsb@thumper.bellcore.com>    (=?iso-8859-8?b?7eXs+SDv4SDp7Oj08A==?=)")
        << u"Nathaniel Borenstein <nsb@thumper.bellcore.com>    "
           u"(\u05dd\u05d5\u05dc\u05e9 \u05df\u05d1 \u05d9\u05dc\u05d8\u05e4\u05e0)"_qs;
    QTest::newRow("rfc2047 (a)") << QByteArray("(=?ISO-8859-1?Q?a?=)") << u"(a)"_qs;
    QTest::newRow("rfc2047 (a b)") << QByteArray("(=?ISO-8859-1?Q?a?= b)") << u"(a b)"_qs;
    QTest::newRow("rfc2047 (ab) one blank") << QByteArray("(=?ISO-8859-1?Q?a?= =?ISO-8859-1?Q?b?=)") << u"(ab)"_qs;
    QTest::newRow("rfc2047 (ab) two blanks") << QByteArray("(=?ISO-8859-1?Q?a?=  =?ISO-8859-1?Q?b?=)") << u"(ab)"_qs;
    QTest::newRow("rfc2047 (ab) unfolded") << QByteArray("(=?ISO-8859-1?Q?a?=    =?ISO-8859-1?Q?b?=)") << u"(ab)"_qs;
    QTest::newRow("rfc2047 underscore") << QByteArray("(=?ISO-8859-1?Q?a_b?=)") << u"(a b)"_qs;
    QTest::newRow("rfc2047 two charsets") << QByteArray("(=?ISO-8859-1?Q?a?= =?ISO-8859-2?Q?_b?=)") << u"(a b)"_qs;

    QTest::newRow("lower-case encoding, language suffix")
        << QByteArray("=?utf-8*de?q?Gr=C3=BC=C3=9Fe?=") << u"Gr\u00fc\u00dfe"_qs;
    QTest::newRow("base64 without padding") << QByteArray("=?UTF-8?B?SGk?=") << u"Hi"_qs;
    QTest::newRow("character split over two words")
        << QByteArray("=?UTF-8?Q?Caf=C3?= =?UTF-8?Q?=A9?=") << u"Caf\u00e9"_qs;
    QTest::newRow("raw UTF-8") << QByteArray("Gr\xc3\xbc\xc3\x9f!") << u"Gr\u00fc\u00df!"_qs;
    QTest::newRow("raw Latin-1") << QByteArray("Gr\xfc\xdf!") << u"Gr\u00fc\u00df!"_qs;
    QTest::newRow("raw next to a word") << QByteArray("\xe4 =?UTF-8?Q?=C3=A4?= \xc3\xa4") << u"\u00e4 \u00e4 \u00e4"_qs;
    QTest::newRow("tab and line break as blanks") << QByteArray("\tone\ttwo =?UTF-8?Q?x=0Ay?= ") << u"one two x y"_qs;

    // What cannot be decoded stays as it was written.
    QTest::newRow("bad base64 character") << QByteArray("=?UTF-8?B?SGV*sbG8=?= x") << u"=?UTF-8?B?SGV*sbG8=?= x"_qs;
    QTest::newRow("base64 of impossible length") << QByteArray("=?UTF-8?B?SGVsb?=") << u"=?UTF-8?B?SGVsb?="_qs;
    QTest::newRow("unknown charset") << QByteArray("=?X-NO-SUCH-CHARSET?Q?abc?=") << u"=?X-NO-SUCH-CHARSET?Q?abc?="_qs;
    QTest::newRow("missing ?=") << QByteArray("=?UTF-8?Q?abc def") << u"=?UTF-8?Q?abc def"_qs;
    QTest::newRow("missing ?= before a good word")
        << QByteArray("=?UTF-8?Q?abc =?UTF-8?Q?d?=") << u"=?UTF-8?Q?abc d"_qs;
    QTest::newRow("bad Q escape") << QByteArray("=?UTF-8?Q?a=ZZ?=") << u"=?UTF-8?Q?a=ZZ?="_qs;
    QTest::newRow("Q escape cut off") << QByteArray("=?UTF-8?Q?a=4?=") << u"=?UTF-8?Q?a=4?="_qs;
    QTest::newRow("unknown encoding") << QByteArray("=?UTF-8?X?abc?=") << u"=?UTF-8?X?abc?="_qs;
    QTest::newRow("empty charset") << QByteArray("=??Q?abc?=") << u"=??Q?abc?="_qs;
    QTest::newRow("bytes not valid in charset") << QByteArray("=?UTF-8?Q?=FF?= ok") << u"=?UTF-8?Q?=FF?= ok"_qs;
    // The blank between a word left as it was and a decoded one stays.
    QTest::newRow("blank kept beside undecoded word")
        << QByteArray("=?X-NO-SUCH-CHARSET?Q?a?= =?UTF-8?Q?b?= =?X-NO-SUCH-CHARSET?Q?c?=")
        << u"=?X-NO-SUCH-CHARSET?Q?a?= b =?X-NO-SUCH-CHARSET?Q?c?="_qs;
}

void TestPop3Parsing::decodeHeaderValue()
{
    QFETCH(QByteArray, value);
    QFETCH(QString, expected);
    QCOMPARE(DecodeHeaderValue(value), expected);
}

void TestPop3Parsing::decodeHeaders_data()
{
    QTest::addColumn<Lines>("lines");
    QTest::addColumn<QString>("subject");
    QTest::addColumn<QString>("sender");
    QTest::addColumn<QString>("recipient");

    QTest::newRow("rfc2047 folded subject over two charsets")
        << Lines{"From: =?US-ASCII?Q?Keith_Moore?= <moore@cs.utk.edu>",
                 "Subject: =?ISO-8859-1?B?SWYgeW91IGNhbiByZWFkIHRoaXMgeW8=?=",
                 "    =?ISO-8859-2?B?dSB1bmRlcnN0YW5kIHRoZSBleGFtcGxlLg==?="}
        << u"If you can read this you understand the example."_qs << u"Keith Moore <moore@cs.utk.edu>"_qs << QString();
    QTest::newRow("folded plain subject keeps the fold's blank")
        << Lines{"Subject: a long", "\tsubject", "To: x"} << u"a long subject"_qs << QString() << u"x"_qs;
    QTest::newRow("fold inside a word run")
        << Lines{"Subject: =?UTF-8?Q?Gr=C3=BC?=", " =?UTF-8?Q?=C3=9Fe?=", " aus M=C3=BCnchen"}
        << u"Gr\u00fc\u00dfe aus M=C3=BCnchen"_qs << QString() << QString();
    QTest::newRow("first occurrence, any case")
        << Lines{"SUBJECT: first", "subject: second", "from: a@b", "From: c@d", "tO: e@f", "To: g@h"} << u"first"_qs
        << u"a@b"_qs << u"e@f"_qs;
    QTest::newRow("no blank after colon, blank before it")
        << Lines{"Subject:tight", "From :  loose "} << u"tight"_qs << u"loose"_qs << QString();
    QTest::newRow("body never counts") << Lines{"Subject: head", "", "From: body@y", "To: body@z", "Subject: body"}
                                       << u"head"_qs << QString() << QString();
    QTest::newRow("a stray CR on the empty line")
        << Lines{"Subject: head", "\r", "From: body@y"} << u"head"_qs << QString() << QString();
    QTest::newRow("continuation of another field not taken")
        << Lines{"Subject: s", "X-Long: a", " To: nope", "Received: x", "\tFrom: nope"} << u"s"_qs << QString()
        << QString();
    QTest::newRow("continuation of a later duplicate not taken")
        << Lines{"Subject: one", "Subject: two", " more"} << u"one"_qs << QString() << QString();
    QTest::newRow("similar names") << Lines{"Subjects: x", "From-Alias: y", "Tox: z", "Resent-To: r", " To: t"}
                                   << QString() << QString() << QString();
    QTest::newRow("continuation before any field")
        << Lines{" Subject: x", "Subject: y"} << u"y"_qs << QString() << QString();
}

void TestPop3Parsing::decodeHeaders()
{
    QFETCH(Lines, lines);
    QFETCH(QString, subject);
    QFETCH(QString, sender);
    QFETCH(QString, recipient);
    const DecodedHeaders headers = DecodeHeaders(lines);
    QCOMPARE(headers.subject, subject);
    QCOMPARE(headers.sender, sender);
    QCOMPARE(headers.recipient, recipient);
}

// A hostile header stays linear: a quadratic scan of these would take hours.
void TestPop3Parsing::decodeHostileHeaders()
{
    // 200,000 adjacent words, all decoded and joined.
    const int words = 200000;
    QByteArray many = "Subject: ";
    for (int i = 0; i < words; ++i)
        many += "=?UTF-8?Q?=C3=A9?= ";
    QCOMPARE(DecodeHeaders({many}).subject, QString(words, QChar(0xe9)));

    // Starts of words that never close, on a 4 MB line and over 100,000
    // continuation lines.
    const QByteArray open = QByteArray("=?a?q?").repeated(700000);
    QCOMPARE(DecodeHeaders({"From: " + open}).sender, QString::fromLatin1(open));
    Lines folded{"To: x"};
    for (int i = 0; i < 100000; ++i)
        folded.append(" =?UTF-8?B?");
    QCOMPARE(DecodeHeaders(folded).recipient.size(), 1 + 100000 * 11);

    // Thousands of charsets nobody knows.
    QByteArray charsets = "Subject:";
    for (int i = 0; i < 5000; ++i)
        charsets += " =?x-unknown-" + QByteArray::number(i) + "?Q?a?=";
    QCOMPARE(DecodeHeaders({charsets}).subject, QString::fromLatin1(charsets.mid(9)));
}

QTEST_GUILESS_MAIN(TestPop3Parsing)
void TestPop3Parsing::listsCapability_data()
{
    QTest::addColumn<Lines>("lines");
    QTest::addColumn<bool>("pipelines");
    QTest::newRow("listed") << Lines{"TOP", "PIPELINING", "UIDL"} << true;
    QTest::newRow("any case, blanks around") << Lines{"  pipelining \r"} << true;
    QTest::newRow("with an argument") << Lines{"PIPELINING 5"} << true;
    QTest::newRow("inside a longer word") << Lines{"XPIPELININGX", "PIPELININGS"} << false;
    QTest::newRow("not the first word") << Lines{"X-NOTE PIPELINING"} << false;
    QTest::newRow("none") << Lines{} << false;
}

void TestPop3Parsing::listsCapability()
{
    QFETCH(Lines, lines);
    QFETCH(bool, pipelines);
    QCOMPARE(::listsCapability(lines, "PIPELINING"), pipelines);
}

void TestPop3Parsing::typedReplyShape_data()
{
    QTest::addColumn<QByteArray>("line");
    QTest::addColumn<bool>("body");
    for (const char *line : {"LIST", "list", "UIDL", "LIST  ", "RETR 2", "TOP 5 0", "top 1 100", "CAPA", "  RETR 1"})
        QTest::newRow(line) << QByteArray(line) << true;
    for (const char *line : {"LIST 2", "UIDL 7", "STAT", "NOOP", "DELE 1", "RSET", "QUIT", "USER x", "", "LISTX",
                             "RETRY 1", "XTOP 1 0", "HELLO WORLD"})
        QTest::newRow(*line ? line : "empty") << QByteArray(line) << false;
}

void TestPop3Parsing::typedReplyShape()
{
    QFETCH(QByteArray, line);
    QFETCH(bool, body);
    QCOMPARE(::typedReplyShape(line) == ReplyShape::MultiLine, body);
}

#include "tst_pop3parsing.moc"
