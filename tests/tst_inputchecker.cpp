// SPDX-License-Identifier: GPL-3.0-or-later
#include "base/TInputChecker.h"

#include <QTest>

class TestInputChecker : public QObject {
    Q_OBJECT
private slots:
    void banner();
    void isNumber_data();
    void isNumber();
    void countChar_data();
    void countChar();
    void isIPAddress_data();
    void isIPAddress();

private:
    TInputChecker checker;
};

void TestInputChecker::banner()
{
    QObject owner;
    auto *chk = new TInputChecker(&owner);
    QVERIFY(!chk->About.isEmpty());
    QCOMPARE(chk->property("About").toString(), chk->About);
    QCOMPARE(chk->parent(), &owner);
}

void TestInputChecker::isNumber_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("expected");

    QTest::newRow("empty") << QString() << true;
    QTest::newRow("all digits") << QStringLiteral("0123456789") << true;
    QTest::newRow("long run") << QString(500, QLatin1Char('9')) << true;
    QTest::newRow("plus sign") << QStringLiteral("+110") << false;
    QTest::newRow("minus sign") << QStringLiteral("-1") << false;
    QTest::newRow("space") << QStringLiteral("1 10") << false;
    QTest::newRow("trailing space") << QStringLiteral("110 ") << false;
    QTest::newRow("decimal point") << QStringLiteral("1.5") << false;
    QTest::newRow("letter at end") << QStringLiteral("110x") << false;
    // Characters next to the digit codes, and digits of other scripts.
    QTest::newRow("slash") << QStringLiteral("/") << false;
    QTest::newRow("colon") << QStringLiteral(":") << false;
    QTest::newRow("arabic-indic digit") << QString(QChar(0x0661)) << false;
    QTest::newRow("fullwidth digit") << QString(QChar(0xFF11)) << false;
    QTest::newRow("superscript two") << QString(QChar(0x00B2)) << false;
}

void TestInputChecker::isNumber()
{
    QFETCH(QString, text);
    QFETCH(bool, expected);
    QCOMPARE(checker.IsNumber(text), expected);
}

void TestInputChecker::countChar_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QChar>("character");
    QTest::addColumn<int>("expected");

    QTest::newRow("empty") << QString() << QChar(QLatin1Char('.')) << 0;
    QTest::newRow("dots") << QStringLiteral("1.2.3.4") << QChar(QLatin1Char('.')) << 3;
    QTest::newRow("adjacent") << QStringLiteral("..x..") << QChar(QLatin1Char('.')) << 4;
    QTest::newRow("case kept lower") << QStringLiteral("aAaA") << QChar(QLatin1Char('a')) << 2;
    QTest::newRow("case kept upper") << QStringLiteral("aAAA") << QChar(QLatin1Char('A')) << 3;
    QTest::newRow("absent") << QStringLiteral("abc") << QChar(QLatin1Char('z')) << 0;
}

void TestInputChecker::countChar()
{
    QFETCH(QString, text);
    QFETCH(QChar, character);
    QFETCH(int, expected);
    QCOMPARE(checker.CountChar(text, character), expected);
}

void TestInputChecker::isIPAddress_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("expected");

    QTest::newRow("empty") << QString() << false;
    QTest::newRow("plain") << QStringLiteral("192.168.1.10") << true;
    QTest::newRow("all zero") << QStringLiteral("0.0.0.0") << true;
    QTest::newRow("all 255") << QStringLiteral("255.255.255.255") << true;
    QTest::newRow("256 first") << QStringLiteral("256.1.1.1") << false;
    QTest::newRow("256 last") << QStringLiteral("1.1.1.256") << false;
    QTest::newRow("999") << QStringLiteral("1.999.1.1") << false;
    QTest::newRow("two dots") << QStringLiteral("1.2.3") << false;
    QTest::newRow("four dots") << QStringLiteral("1.2.3.4.5") << false;
    QTest::newRow("leading dot") << QStringLiteral(".1.2.3") << false;
    QTest::newRow("trailing dot") << QStringLiteral("1.2.3.") << false;
    QTest::newRow("double dot") << QStringLiteral("1..2.3") << false;
    QTest::newRow("dots only") << QStringLiteral("...") << false;
    QTest::newRow("leading zeros") << QStringLiteral("001.010.000.0255") << true;
    QTest::newRow("many leading zeros") << QStringLiteral("0000000000000000000001.2.3.4") << true;
    QTest::newRow("zeros then 256") << QStringLiteral("1.2.3.00000256") << false;
    QTest::newRow("letter") << QStringLiteral("1.2.3.a") << false;
    QTest::newRow("hex") << QStringLiteral("0x1.2.3.4") << false;
    QTest::newRow("sign") << QStringLiteral("1.+2.3.4") << false;
    QTest::newRow("space") << QStringLiteral("1.2.3.4 ") << false;
    QTest::newRow("inner space") << QStringLiteral("1. 2.3.4") << false;
    QTest::newRow("host name") << QStringLiteral("mail.example.com") << false;
    // Values far beyond any integer type must simply be too large.
    QTest::newRow("2^32 wrap") << QStringLiteral("4294967297.1.1.1") << false;
    QTest::newRow("2^64 wrap") << QStringLiteral("18446744073709551617.1.1.1") << false;
    QTest::newRow("long run") << QStringLiteral("1.2.3.") + QString(1000, QLatin1Char('9')) << false;
    QTest::newRow("long zeros") << QString(1000, QLatin1Char('0')) + QStringLiteral(".0.0.0") << true;
    QTest::newRow("fullwidth digit") << QStringLiteral("1.2.3.") + QChar(0xFF14) << false;
}

void TestInputChecker::isIPAddress()
{
    QFETCH(QString, text);
    QFETCH(bool, expected);
    QCOMPARE(checker.IsIPAddress(text), expected);
}

QTEST_GUILESS_MAIN(TestInputChecker)
#include "tst_inputchecker.moc"
