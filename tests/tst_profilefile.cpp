// SPDX-License-Identifier: GPL-3.0-or-later
#include "settings/PasswordScrambler.h"
#include "settings/ProfileFile.h"
#include "settings/ProfileValues.h"

#include <QDir>
#include <QFile>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>

#include <climits>

class TestProfileFile : public QObject {
    Q_OBJECT

private slots:
    void init();

    void integerRule_data();
    void integerRule();
    void boolRule_data();
    void boolRule();

    void readsEntries_data();
    void readsEntries();
    void keyNamesInFileOrder();
    void keyNamesStopAtTheListSize();

    void writeKeepsEverythingElse();
    void writeToLfFileUsesLf();
    void writeAfterLastLineWithoutLineEnd();
    void newFileLayoutAndPermissions();
    void invalidNamesAreRefused();

    void valueRoundTrip_data();
    void valueRoundTrip();
    void everySingleByteRoundTrips();
    void randomValuesAndPasswordsRoundTrip();
    void plainValuesStayPlain_data();
    void plainValuesStayPlain();
    void malformedEscapeReadsAsItStands_data();
    void malformedEscapeReadsAsItStands();

    void saveFailures();
    void binaryGarbageFile();
    void hugeFile();

private:
    QString filePath(const QString &name = QStringLiteral("Tarnbeck.ini")) const { return dir->filePath(name); }
    void writeFile(const QString &path, const QByteArray &bytes);
    QByteArray readFile(const QString &path);
    QByteArray throughFile(const QByteArray &value);

    std::unique_ptr<QTemporaryDir> dir;
};

void TestProfileFile::init()
{
    dir = std::make_unique<QTemporaryDir>();
    QVERIFY(dir->isValid());
}

void TestProfileFile::writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    QCOMPARE(file.write(bytes), bytes.size());
}

QByteArray TestProfileFile::readFile(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return "<unreadable>";
    return file.readAll();
}

// Saves a value with one object and reads it with a fresh one.
QByteArray TestProfileFile::throughFile(const QByteArray &value)
{
    const QString path = filePath();
    {
        ProfileFile ini(path);
        if (!ini.writeString("Default", "Password", value) || !ini.save())
            return "<not written>";
    }
    return ProfileFile(path).readString("Default", "Password", "<missing>");
}

void TestProfileFile::integerRule_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<int>("expected");

    const int def = -77;
    QTest::newRow("decimal") << QByteArray("390") << 390;
    QTest::newRow("zero") << QByteArray("0") << 0;
    QTest::newRow("plus sign") << QByteArray("+12") << 12;
    QTest::newRow("minus sign") << QByteArray("-560") << -560;
    QTest::newRow("leading zeros") << QByteArray("000420") << 420;
    QTest::newRow("leading blanks") << QByteArray(" \t42") << 42;
    QTest::newRow("0x lower") << QByteArray("0x1f4") << 500;
    QTest::newRow("0X upper") << QByteArray("0XFF") << 255;
    QTest::newRow("dollar") << QByteArray("$10") << 16;
    QTest::newRow("signed dollar") << QByteArray("-$10") << -16;
    QTest::newRow("largest") << QByteArray("2147483647") << INT_MAX;
    QTest::newRow("smallest") << QByteArray("-2147483648") << INT_MIN;
    QTest::newRow("hex bit pattern") << QByteArray("0xFFFFFFFF") << -1;
    QTest::newRow("hex high bit") << QByteArray("$80000000") << INT_MIN;
    QTest::newRow("hex many leading zeros") << QByteArray("$0000000000000001") << 1;
    QTest::newRow("empty") << QByteArray() << def;
    QTest::newRow("blank") << QByteArray("  ") << def;
    QTest::newRow("sign alone") << QByteArray("-") << def;
    QTest::newRow("dollar alone") << QByteArray("$") << def;
    QTest::newRow("0x alone") << QByteArray("0x") << def;
    QTest::newRow("0x with sign behind") << QByteArray("0x-5") << def;
    QTest::newRow("sign before 0x") << QByteArray("-0x5") << def;
    QTest::newRow("trailing blank") << QByteArray("12 ") << def;
    QTest::newRow("trailing letter") << QByteArray("12a") << def;
    QTest::newRow("two signs") << QByteArray("--1") << def;
    QTest::newRow("decimal point") << QByteArray("1.5") << def;
    QTest::newRow("exponent") << QByteArray("1e3") << def;
    QTest::newRow("hex digit in decimal") << QByteArray("1f") << def;
    QTest::newRow("text") << QByteArray("yes") << def;
    QTest::newRow("one past largest") << QByteArray("2147483648") << def;
    QTest::newRow("one past smallest") << QByteArray("-2147483649") << def;
    QTest::newRow("very long number") << QByteArray(400, '9') << def;
    QTest::newRow("hex too wide") << QByteArray("0x100000000") << def;
    QTest::newRow("NUL inside") << QByteArray("1\0002", 3) << def;
}

void TestProfileFile::integerRule()
{
    QFETCH(QByteArray, text);
    QFETCH(int, expected);
    QCOMPARE(readProfileInteger(text, -77), expected);
    // Written form reads back as the same number.
    QCOMPARE(readProfileInteger(profileIntegerText(expected), 5), expected);
}

void TestProfileFile::boolRule_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<bool>("withFalseDefault");
    QTest::addColumn<bool>("withTrueDefault");

    QTest::newRow("1") << QByteArray("1") << true << true;
    QTest::newRow("0") << QByteArray("0") << false << false;
    QTest::newRow("other integer") << QByteArray("2") << true << true;
    QTest::newRow("negative") << QByteArray("-1") << true << true;
    QTest::newRow("hex zero") << QByteArray("0x0") << false << false;
    QTest::newRow("empty") << QByteArray() << false << true;
    QTest::newRow("word true") << QByteArray("true") << false << true;
}

void TestProfileFile::boolRule()
{
    QFETCH(QByteArray, text);
    QFETCH(bool, withFalseDefault);
    QFETCH(bool, withTrueDefault);
    QCOMPARE(readProfileBool(text, false), withFalseDefault);
    QCOMPARE(readProfileBool(text, true), withTrueDefault);
    QCOMPARE(profileBoolText(true), QByteArray("1"));
    QCOMPARE(profileBoolText(false), QByteArray("0"));
}

void TestProfileFile::readsEntries_data()
{
    QTest::addColumn<QByteArray>("section");
    QTest::addColumn<QByteArray>("key");
    QTest::addColumn<QByteArray>("expected");

    QTest::newRow("plain") << QByteArray("Windows") << QByteArray("Height") << QByteArray("390");
    QTest::newRow("blanks around key and =") << QByteArray("Windows") << QByteArray("Width") << QByteArray("560");
    QTest::newRow("blanks inside value kept")
        << QByteArray("Default") << QByteArray("Server") << QByteArray("mail example org");
    QTest::newRow("section and key ignore case") << QByteArray("WINDOWS") << QByteArray("maximize") << QByteArray("1");
    QTest::newRow("first duplicate key wins") << QByteArray("Default") << QByteArray("UserID") << QByteArray("first");
    QTest::newRow("first duplicate section wins") << QByteArray("Default") << QByteArray("Port") << QByteArray("<def>");
    QTest::newRow("double quotes stripped") << QByteArray("Default") << QByteArray("Quoted") << QByteArray(" padded ");
    QTest::newRow("single quotes stripped") << QByteArray("Default") << QByteArray("Single") << QByteArray("x");
    QTest::newRow("unpaired quote kept") << QByteArray("Default") << QByteArray("Half") << QByteArray("\"abc");
    QTest::newRow("empty value") << QByteArray("Default") << QByteArray("Empty") << QByteArray();
    QTest::newRow("value with = inside") << QByteArray("Default") << QByteArray("Eq") << QByteArray("a=b");
    QTest::newRow("comment is no key") << QByteArray("Default") << QByteArray("; Note") << QByteArray("<def>");
    QTest::newRow("line without =") << QByteArray("Default") << QByteArray("loose line") << QByteArray("<def>");
    QTest::newRow("entry before any section") << QByteArray("") << QByteArray("Orphan") << QByteArray("<def>");
    QTest::newRow("missing key") << QByteArray("Windows") << QByteArray("Left") << QByteArray("<def>");
    QTest::newRow("missing section") << QByteArray("Nowhere") << QByteArray("Height") << QByteArray("<def>");
    QTest::newRow("blanks around section name") << QByteArray("Spaced") << QByteArray("k") << QByteArray("v");
    QTest::newRow("only first 2047 bytes") << QByteArray("Long") << QByteArray("Value") << QByteArray(2047, 'L');
    QTest::newRow("CR of CR LF is no part of the value")
        << QByteArray("Servers") << QByteArray("a.example") << QByteArray("110");
}

void TestProfileFile::readsEntries()
{
    QFETCH(QByteArray, section);
    QFETCH(QByteArray, key);
    QFETCH(QByteArray, expected);
    writeFile(filePath(),
              "Orphan=1\r\n"
              "[Windows]\r\n"
              "Maximize=1\r\n"
              "Height=390\r\n"
              "   Width \t=  560  \r\n"
              "; Note=not a key\r\n"
              "[Default]\r\n"
              "UserID=first\r\n"
              "userid=second\r\n"
              "Server=mail example org\r\n"
              "Quoted=\" padded \"\r\n"
              "Single='x'\r\n"
              "Half=\"abc\r\n"
              "Empty=\r\n"
              "Eq=a=b\r\n"
              "loose line\r\n"
              "[default]\r\n"
              "Port=995\r\n"
              "  [ Spaced ]  \r\n"
              "k=v\r\n"
              "[Long]\r\n"
              "Value=" + QByteArray(5000, 'L') + "\r\n"
              "[Servers]\r\n"
              "a.example=110\r\n");
    const ProfileFile ini(filePath());
    QCOMPARE(ini.readString(section, key, "<def>"), expected);
}

void TestProfileFile::keyNamesInFileOrder()
{
    writeFile(filePath(),
              "[Servers]\n"
              "pop.b.example=110\n"
              "; comment=1\n"
              "pop.a.example = 110\n"
              "no equals sign\n"
              "POP.B.EXAMPLE=110\n"
              "pop.c.example=\n"
              "[Other]\n"
              "x=1\n"
              "[servers]\n"
              "hidden.example=110\n"
              "[Empty]\n");
    ProfileFile ini(filePath());
    const QList<QByteArray> expected{"pop.b.example", "pop.a.example", "pop.c.example"};
    QCOMPARE(ini.keyNames("Servers"), expected);
    QCOMPARE(ini.keyNames("SERVERS"), expected);
    QVERIFY(ini.keyNames("Empty").isEmpty());
    QVERIFY(ini.keyNames("Missing").isEmpty());

    // New keys come last, existing ones keep their place.
    QVERIFY(ini.writeString("Servers", "new.example", "110"));
    QVERIFY(ini.writeString("Servers", "pop.a.example", "110"));
    QVERIFY(ini.writeString("Empty", "first", "110"));
    QCOMPARE(ini.keyNames("Servers"), expected + QList<QByteArray>{"new.example"});
    QCOMPARE(ini.keyNames("Empty"), QList<QByteArray>{"first"});
}

void TestProfileFile::keyNamesStopAtTheListSize()
{
    // 1,000 names of 19 bytes: 20 bytes each in the list, plus the closing zero.
    QByteArray text = "[Servers]\r\n";
    for (int i = 0; i < 1000; ++i)
        text += QByteArray("server%1.example.x=110\r\n").replace("%1", QByteArray::number(i).rightJustified(3, '0'));
    writeFile(filePath(), text);
    const QList<QByteArray> names = ProfileFile(filePath()).keyNames("Servers");
    QCOMPARE(names.size(), (ProfileFile::KeyNamesBufferSize - 1) / 20);
    QCOMPARE(names.first(), QByteArray("server000.example.x"));
    for (const QByteArray &name : names)
        QCOMPARE(name.size(), 19);  // never a name cut short
}

void TestProfileFile::writeKeepsEverythingElse()
{
    const QByteArray before =
        "; settings\r\n"
        "[Windows]\r\n"
        "  Height = 390   \r\n"
        "Width=560\r\n"
        "\r\n"
        "[Unknown]\r\n"
        "keep=this\r\n"
        "odd line\r\n"
        "[Default]\r\n"
        "UserID=old\r\n"
        "userid=duplicate\r\n"
        "; trailing comment\r\n"
        "\r\n";
    writeFile(filePath(), before);
    ProfileFile ini(filePath());
    QVERIFY(ini.writeInteger("windows", "HEIGHT", 480));
    QVERIFY(ini.writeBool("Windows", "Maximize", true));
    QVERIFY(ini.writeString("Default", "UserID", "new"));
    QVERIFY(ini.writeString("Default", "Port", "110"));
    QVERIFY(ini.writeString("Servers", "pop.example", "110"));
    QVERIFY(ini.writeString("Servers", "pop.example", "111"));
    QCOMPARE(ini.readInteger("Windows", "Height", 0), 480);
    QCOMPARE(ini.readString("Servers", "POP.example", ""), QByteArray("111"));
    QVERIFY(ini.save());
    QCOMPARE(readFile(filePath()),
             QByteArray("; settings\r\n"
                        "[Windows]\r\n"
                        "  Height = 480\r\n"
                        "Width=560\r\n"
                        "Maximize=1\r\n"
                        "\r\n"
                        "[Unknown]\r\n"
                        "keep=this\r\n"
                        "odd line\r\n"
                        "[Default]\r\n"
                        "UserID=new\r\n"
                        "userid=duplicate\r\n"
                        "Port=110\r\n"
                        "; trailing comment\r\n"
                        "\r\n"
                        "[Servers]\r\n"
                        "pop.example=111\r\n"));
    // A second object sees what the first one saved.
    const ProfileFile again(filePath());
    QCOMPARE(again.readString("Default", "userid", ""), QByteArray("new"));
    QCOMPARE(again.readBool("Windows", "Maximize", false), true);
}

void TestProfileFile::writeToLfFileUsesLf()
{
    writeFile(filePath(), "[A]\nx=1\n");
    ProfileFile ini(filePath());
    QVERIFY(ini.writeString("A", "y", "2"));
    QVERIFY(ini.writeString("B", "z", "3"));
    QVERIFY(ini.save());
    QCOMPARE(readFile(filePath()), QByteArray("[A]\nx=1\ny=2\n[B]\nz=3\n"));
}

void TestProfileFile::writeAfterLastLineWithoutLineEnd()
{
    writeFile(filePath(), "[A]\r\nx=1");
    {
        ProfileFile ini(filePath());
        QVERIFY(ini.writeString("A", "y", "2"));
        QVERIFY(ini.save());
    }
    QCOMPARE(readFile(filePath()), QByteArray("[A]\r\nx=1\r\ny=2\r\n"));

    writeFile(filePath(), "[A]");
    {
        ProfileFile ini(filePath());
        QVERIFY(ini.writeString("A", "y", "2"));
        QVERIFY(ini.writeString("B", "z", "3"));
        QVERIFY(ini.save());
    }
    QCOMPARE(readFile(filePath()), QByteArray("[A]\r\ny=2\r\n[B]\r\nz=3\r\n"));

    writeFile(filePath(), "x=1");
    {
        ProfileFile ini(filePath());
        QVERIFY(ini.writeString("B", "z", "3"));
        QVERIFY(ini.save());
    }
    QCOMPARE(readFile(filePath()), QByteArray("x=1\r\n[B]\r\nz=3\r\n"));
}

void TestProfileFile::newFileLayoutAndPermissions()
{
    const QString path = filePath();
    ProfileFile ini(path);
    QCOMPARE(ini.readString("Default", "Port", "110"), QByteArray("110"));
    QVERIFY(ini.keyNames("Servers").isEmpty());
    QVERIFY(ini.writeBool("Windows", "Maximize", false));
    QVERIFY(ini.writeInteger("Windows", "Height", 390));
    QVERIFY(ini.writeInteger("Windows", "Width", 560));
    QVERIFY(ini.writeString("Default", "UserID", "x"));
    QVERIFY(ini.writeString("Default", "Password", ScramblePassword("A", UserKey("x"))));
    QVERIFY(ini.writeString("Default", "Server", "pop.example"));
    QVERIFY(ini.writeString("Default", "Port", "110"));
    QVERIFY(ini.writeString("Servers", "pop.example", "110"));
    QVERIFY(!QFile::exists(path));  // nothing is written before save()
    QVERIFY2(ini.save(), qPrintable(ini.errorString()));
    QCOMPARE(readFile(path),
             QByteArray("[Windows]\r\nMaximize=0\r\nHeight=390\r\nWidth=560\r\n"
                        "[Default]\r\nUserID=x\r\nPassword=(6\":H\r\n"
                        "Server=pop.example\r\nPort=110\r\n"
                        "[Servers]\r\npop.example=110\r\n"));
    QCOMPARE(QFile::permissions(path) & (QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup
                                         | QFile::WriteGroup | QFile::ReadOther | QFile::WriteOther),
             QFile::ReadOwner | QFile::WriteOwner);

    // It holds the password: an existing file that others may read is made
    // owner-only again by the next save.
    QVERIFY(QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup | QFile::ReadOther));
    ProfileFile again(path);
    QVERIFY(again.writeString("Default", "Port", "995"));
    QVERIFY(again.save());
    QCOMPARE(QFile::permissions(path) & (QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup | QFile::WriteGroup |
                                         QFile::ReadOther | QFile::WriteOther),
             QFile::ReadOwner | QFile::WriteOwner);
}

void TestProfileFile::invalidNamesAreRefused()
{
    ProfileFile ini(filePath());
    const QList<QByteArray> badSections{"", "a]b", " lead", "trail ", QByteArray("n\0l", 3), "cr\r", "lf\n"};
    for (const QByteArray &section : badSections)
        QVERIFY2(!ini.writeString(section, "k", "v"), section.constData());
    const QList<QByteArray> badKeys{"",   "a=b", " lead", "trail\t", "[x", ";x", "#x", QByteArray("n\0l", 3),
                                    "c\rr", "l\nf"};
    for (const QByteArray &key : badKeys)
        QVERIFY2(!ini.writeString("S", key, "v"), key.constData());
    QVERIFY(ini.writeString("S", "a b.c", "v"));  // blanks inside are fine
    QVERIFY(ini.save());
    QCOMPARE(readFile(filePath()), QByteArray("[S]\r\na b.c=v\r\n"));
}

void TestProfileFile::valueRoundTrip_data()
{
    QTest::addColumn<QByteArray>("value");

    QByteArray all;
    for (int c = 0; c < 256; ++c)
        all.append(static_cast<char>(c));
    QTest::newRow("empty") << QByteArray();
    QTest::newRow("plain") << QByteArray("pop.example.org");
    QTest::newRow("leading blank") << QByteArray(" x");
    QTest::newRow("trailing tab") << QByteArray("x\t");
    QTest::newRow("only blanks") << QByteArray("   ");
    QTest::newRow("double quoted") << QByteArray("\"x\"");
    QTest::newRow("single quoted") << QByteArray("'x'");
    QTest::newRow("leading quote only") << QByteArray("'x");
    QTest::newRow("a lone quote") << QByteArray("\"");
    QTest::newRow("looks escaped") << QByteArray("%%41");
    QTest::newRow("the mark alone") << QByteArray("%%");
    QTest::newRow("percent inside") << QByteArray("100%%41");
    QTest::newRow("NUL CR LF") << QByteArray("a\0b\rc\nd", 7);
    QTest::newRow("CR LF at the end") << QByteArray("abc\r\n");
    QTest::newRow("all 256 bytes") << all;
    QTest::newRow("stored form with NUL CR LF") << ScramblePassword("\xf9\xf3\x02", 7);
    QTest::newRow("semicolon and brackets") << QByteArray("[x];y=z#");
}

void TestProfileFile::valueRoundTrip()
{
    QFETCH(QByteArray, value);
    QCOMPARE(throughFile(value), value);
    QCOMPARE(ProfileFile::decodeValue(ProfileFile::encodeValue(value)), value);
}

void TestProfileFile::everySingleByteRoundTrips()
{
    const QString path = filePath();
    {
        ProfileFile ini(path);
        for (int c = 0; c < 256; ++c) {
            const QByteArray key = "b" + QByteArray::number(c);
            QVERIFY(ini.writeString("Bytes", key, QByteArray(1, static_cast<char>(c))));
            QVERIFY(ini.writeString("Framed", key, "<" + QByteArray(1, static_cast<char>(c)) + ">"));
        }
        QVERIFY(ini.save());
    }
    const ProfileFile ini(path);
    for (int c = 0; c < 256; ++c) {
        const QByteArray key = "b" + QByteArray::number(c);
        QCOMPARE(ini.readString("Bytes", key, "?"), QByteArray(1, static_cast<char>(c)));
        QCOMPARE(ini.readString("Framed", key, "?"), "<" + QByteArray(1, static_cast<char>(c)) + ">");
    }
    QCOMPARE(ini.keyNames("Bytes").size(), 256);
}

void TestProfileFile::randomValuesAndPasswordsRoundTrip()
{
    QRandomGenerator random(4711);
    for (int round = 0; round < 40; ++round) {
        QList<QByteArray> values;
        QList<QByteArray> passwords;
        {
            ProfileFile ini(filePath());
            for (int i = 0; i < 25; ++i) {
                QByteArray value(random.bounded(0, 40), '\0');
                for (char &c : value)
                    c = static_cast<char>(random.bounded(256));
                QByteArray password(random.bounded(0, 20), '\0');
                // Biased towards the high codes that give NUL, CR and LF.
                for (char &c : password)
                    c = static_cast<char>(random.bounded(2) ? random.bounded(225, 256) : random.bounded(256));
                values.append(value);
                passwords.append(password);
                QVERIFY(ini.writeString("Values", "v" + QByteArray::number(i), value));
                QVERIFY(ini.writeString("Default", "p" + QByteArray::number(i),
                                        ScramblePassword(password, UserKey("u" + QByteArray::number(i)))));
            }
            QVERIFY(ini.save());
        }
        const ProfileFile ini(filePath());
        for (int i = 0; i < 25; ++i) {
            QCOMPARE(ini.readString("Values", "v" + QByteArray::number(i), "?"), values.at(i));
            const QByteArray stored = ini.readString("Default", "p" + QByteArray::number(i), "");
            QCOMPARE(UnscramblePassword(stored, UserKey("u" + QByteArray::number(i))), passwords.at(i));
        }
    }
}

void TestProfileFile::plainValuesStayPlain_data()
{
    QTest::addColumn<QByteArray>("value");
    QTest::addColumn<QByteArray>("line");

    QTest::newRow("host") << QByteArray("pop.example") << QByteArray("K=pop.example\r\n");
    QTest::newRow("inner blanks") << QByteArray("a b") << QByteArray("K=a b\r\n");
    QTest::newRow("quote later") << QByteArray("a\"b'") << QByteArray("K=a\"b'\r\n");
    QTest::newRow("8-bit") << QByteArray("\xe9t\xe9") << QByteArray("K=\xe9t\xe9\r\n");
    QTest::newRow("single percent") << QByteArray("%41") << QByteArray("K=%41\r\n");
    QTest::newRow("leading blank escaped") << QByteArray(" a") << QByteArray("K=%%%20a\r\n");
    QTest::newRow("quote escaped") << QByteArray("\"a\"") << QByteArray("K=%%%22a%22\r\n");
    QTest::newRow("mark escaped") << QByteArray("%%") << QByteArray("K=%%%25%25\r\n");
    QTest::newRow("control bytes escaped") << QByteArray("\0\r\n\xff", 4) << QByteArray("K=%%%00%0D%0A%FF\r\n");
}

void TestProfileFile::plainValuesStayPlain()
{
    QFETCH(QByteArray, value);
    QFETCH(QByteArray, line);
    ProfileFile ini(filePath());
    QVERIFY(ini.writeString("S", "K", value));
    QVERIFY(ini.save());
    QCOMPARE(readFile(filePath()), "[S]\r\n" + line);
}

void TestProfileFile::malformedEscapeReadsAsItStands_data()
{
    QTest::addColumn<QByteArray>("stored");
    QTest::addColumn<QByteArray>("value");

    QTest::newRow("good") << QByteArray("%%a%20b") << QByteArray("a b");
    QTest::newRow("lower-case hex accepted") << QByteArray("%%%0a") << QByteArray("\n");
    QTest::newRow("truncated") << QByteArray("%%a%2") << QByteArray("%%a%2");
    QTest::newRow("percent at end") << QByteArray("%%a%") << QByteArray("%%a%");
    QTest::newRow("not hex") << QByteArray("%%%zz") << QByteArray("%%%zz");
}

void TestProfileFile::malformedEscapeReadsAsItStands()
{
    QFETCH(QByteArray, stored);
    QFETCH(QByteArray, value);
    QCOMPARE(ProfileFile::decodeValue(stored), value);
    writeFile(filePath(), "[S]\nK=" + stored + "\n");
    QCOMPARE(ProfileFile(filePath()).readString("S", "K", "?"), value);
}

void TestProfileFile::saveFailures()
{
    // A folder in the file's place.
    const QString folder = filePath(QStringLiteral("folder.ini"));
    QVERIFY(QDir().mkdir(folder));
    {
        ProfileFile ini(folder);
        QCOMPARE(ini.readString("Default", "Port", "110"), QByteArray("110"));
        QVERIFY(ini.writeString("Default", "Port", "110"));
        QVERIFY(!ini.save());
        QVERIFY(!ini.errorString().isEmpty());
    }
    // A folder that does not exist.
    {
        ProfileFile ini(filePath(QStringLiteral("missing/Tarnbeck.ini")));
        QVERIFY(ini.writeString("Default", "Port", "110"));
        QVERIFY(!ini.save());
        QVERIFY(!QFile::exists(filePath(QStringLiteral("missing/Tarnbeck.ini"))));
    }
    // A file marked read-only keeps its content.
    const QString readOnly = filePath(QStringLiteral("readonly.ini"));
    writeFile(readOnly, "[Default]\r\nPort=110\r\n");
    QVERIFY(QFile::setPermissions(readOnly, QFile::ReadOwner | QFile::ReadUser));
    if (QFileInfo(readOnly).isWritable()) {
        QSKIP("running with rights that ignore read-only files");
    }
    ProfileFile ini(readOnly);
    QVERIFY(ini.writeString("Default", "Port", "995"));
    QVERIFY(!ini.save());
    QCOMPARE(readFile(readOnly), QByteArray("[Default]\r\nPort=110\r\n"));
}

void TestProfileFile::binaryGarbageFile()
{
    QRandomGenerator random(99);
    QByteArray garbage(1 << 20, '\0');
    const char alphabet[] = "[]=;#\r\n \t\"'%";
    for (char &c : garbage)
        c = random.bounded(4) ? static_cast<char>(random.bounded(256))
                              : alphabet[random.bounded(int(sizeof(alphabet)) - 1)];
    writeFile(filePath(), garbage);

    ProfileFile ini(filePath());
    QCOMPARE(ini.readInteger("Windows", "Height", 390), 390);
    QCOMPARE(ini.readString("Default", "UserID", "none"), QByteArray("none"));
    (void)ini.keyNames("Servers");
    QVERIFY(ini.writeString("Tarnbeck Test", "Key", "value"));
    QVERIFY(ini.save());

    const QByteArray after = readFile(filePath());
    QVERIFY(after.startsWith(garbage));  // the garbage itself is left alone
    QCOMPARE(ProfileFile(filePath()).readString("Tarnbeck Test", "Key", ""), QByteArray("value"));
}

void TestProfileFile::hugeFile()
{
    // About 50 MB: many small sections, many duplicates of one, and one huge
    // section of servers.
    QByteArray text;
    text.reserve(52 << 20);
    for (int i = 0; i < 20000; ++i)
        text += "[Section" + QByteArray::number(i) + "]\r\nkey=value " + QByteArray::number(i) + "\r\n; comment\r\n";
    text += "[Default]\r\nUserID=jo\r\n";
    for (int i = 0; i < 200000; ++i)
        text += "[default]\r\nUserID=duplicate\r\n[x]\r\n";
    text += "[Servers]\r\n";
    int servers = 0;
    while (text.size() < (50 << 20)) {
        text += "server" + QByteArray::number(servers) + ".example.org=110\r\n";
        ++servers;
    }
    text += "[Windows]\r\nHeight=500\r\n";
    writeFile(filePath(), text);

    {
        ProfileFile ini(filePath());
        QCOMPARE(ini.readString("Default", "UserID", ""), QByteArray("jo"));
        QCOMPARE(ini.readInteger("Windows", "Height", 390), 500);
        QCOMPARE(ini.readString("Section19999", "key", ""), QByteArray("value 19999"));
        const QList<QByteArray> names = ini.keyNames("Servers");
        QVERIFY(!names.isEmpty());
        QCOMPARE(names.first(), QByteArray("server0.example.org"));
        // Many writes into the big section: each one must not rescan it.
        for (int i = 0; i < 2000; ++i)
            QVERIFY(ini.writeString("Servers", "server" + QByteArray::number(i * 97) + ".example.org", "110"));
        QVERIFY(ini.writeString("Servers", "added.example.org", "110"));
        QVERIFY(ini.writeInteger("Windows", "Height", 600));
        QVERIFY(ini.save());
    }
    const ProfileFile ini(filePath());
    QCOMPARE(ini.readInteger("Windows", "Height", 390), 600);
    QCOMPARE(ini.readString("Servers", "added.example.org", ""), QByteArray("110"));
    QCOMPARE(ini.readString("Servers", "server" + QByteArray::number(servers - 1) + ".example.org", ""),
             QByteArray("110"));
    QCOMPARE(QFileInfo(filePath()).size(), text.size() + qint64(sizeof("added.example.org=110\r\n") - 1));
}

QTEST_APPLESS_MAIN(TestProfileFile)
#include "tst_profilefile.moc"
