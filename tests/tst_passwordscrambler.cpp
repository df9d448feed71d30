// SPDX-License-Identifier: GPL-3.0-or-later
#include "settings/PasswordScrambler.h"

#include <QRandomGenerator>
#include <QTest>

class TestPasswordScrambler : public QObject {
    Q_OBJECT

private slots:
    void userKey_data();
    void userKey();
    void knownAnswers_data();
    void knownAnswers();
    void roundTripsEveryByteValue();
    void roundTripsRandomPasswords();
    void storedFormShape();
    void malformedStoredForms_data();
    void malformedStoredForms();
    void wrongKeyGivesOtherBytes();
};

void TestPasswordScrambler::userKey_data()
{
    QTest::addColumn<QByteArray>("userId");
    QTest::addColumn<int>("key");

    QTest::newRow("empty") << QByteArray() << UserKeyForShortId;
    QTest::newRow("one byte") << QByteArray("j") << UserKeyForShortId;
    QTest::newRow("one high byte") << QByteArray("\xff") << UserKeyForShortId;
    QTest::newRow("two bytes") << QByteArray("jo") << 106 + 111;
    QTest::newRow("only the first two count") << QByteArray("john.doe") << 106 + 111;
    QTest::newRow("same sum, other order") << QByteArray("oj") << 217;
    QTest::newRow("letter case counts") << QByteArray("Jo") << 74 + 111;
    QTest::newRow("bytes are unsigned") << QByteArray("\xff\xff") << 510;
    QTest::newRow("NUL counts as a byte") << QByteArray("\0A", 2) << 65;
}

void TestPasswordScrambler::userKey()
{
    QFETCH(QByteArray, userId);
    QFETCH(int, key);
    QCOMPARE(UserKey(userId), key);
}

// Worked out by hand from the generator: for key 7 the first draws of range
// 32 are 7, 26, 8, 22, 2, 6, 7, 20, 23; for key 217 they are 25, 2, 31, 14,
// 25, 2, 8, 26, 30, 27, 10, 24, 7, 10, 23.
void TestPasswordScrambler::knownAnswers_data()
{
    QTest::addColumn<QByteArray>("password");
    QTest::addColumn<int>("key");
    QTest::addColumn<QByteArray>("stored");

    QTest::newRow("empty password") << QByteArray() << 7 << QByteArray("':(");
    QTest::newRow("one byte") << QByteArray("A") << 7 << QByteArray("(6\":H");
    QTest::newRow("secret for jo") << QByteArray("secret") << 217
                                   << QByteArray("'*7(\x8c:g>\x82;\x80*~8v");
    QTest::newRow("NUL, CR and LF in the stored form")
        << QByteArray("\xf9\xf3\x02") << 7 << QByteArray("'476\0\"\r&\n", 9);
}

void TestPasswordScrambler::knownAnswers()
{
    QFETCH(QByteArray, password);
    QFETCH(int, key);
    QFETCH(QByteArray, stored);
    QCOMPARE(ScramblePassword(password, key), stored);
    QCOMPARE(UnscramblePassword(stored, key), password);
}

void TestPasswordScrambler::roundTripsEveryByteValue()
{
    QByteArray all;
    for (int c = 0; c < 256; ++c)
        all.append(static_cast<char>(c));
    for (int key : {0, 1, UserKeyForShortId, 217, 255, 510}) {
        QCOMPARE(UnscramblePassword(ScramblePassword(all, key), key), all);
        // Each byte alone too, so every value meets the first offset.
        for (int c = 0; c < 256; ++c) {
            const QByteArray one(1, static_cast<char>(c));
            QCOMPARE(UnscramblePassword(ScramblePassword(one, key), key), one);
        }
    }
}

void TestPasswordScrambler::roundTripsRandomPasswords()
{
    QRandomGenerator random(20240611);
    for (int round = 0; round < 2000; ++round) {
        QByteArray password(random.bounded(0, 64), '\0');
        for (char &c : password)
            c = static_cast<char>(random.bounded(256));
        QByteArray userId(random.bounded(0, 4), '\0');
        for (char &c : userId)
            c = static_cast<char>(random.bounded(256));
        const int key = UserKey(userId);
        QVERIFY(key >= 0 && key <= 510);
        const QByteArray stored = ScramblePassword(password, key);
        QCOMPARE(stored, ScramblePassword(password, key));  // no randomness between calls
        QCOMPARE(UnscramblePassword(stored, key), password);
    }
}

void TestPasswordScrambler::storedFormShape()
{
    const QByteArray password("a much longer password with \xe9 and \xff in it");
    for (int key = 0; key <= 510; ++key) {
        const QByteArray stored = ScramblePassword(password, key);
        QCOMPARE(stored.size(), 3 + 2 * password.size());
        for (qsizetype i = 0; i < stored.size(); ++i) {
            // Prefix bytes and fillers (positions 1, 2, 3, 4, 6, 8 ... counted from 1).
            if (i < 3 || (i - 3) % 2 == 0) {
                const int code = static_cast<unsigned char>(stored.at(i));
                QVERIFY2(code >= 32 && code <= 63, qPrintable(QString::number(i)));
            } else {
                // A data byte is its password byte plus 0 to 31.
                const int diff = (static_cast<unsigned char>(stored.at(i))
                                  - static_cast<unsigned char>(password.at((i - 4) / 2)) + 256) % 256;
                QVERIFY(diff < 32);
            }
        }
    }
}

void TestPasswordScrambler::malformedStoredForms_data()
{
    QTest::addColumn<QByteArray>("stored");
    QTest::addColumn<QByteArray>("password");

    // Key 7: offsets 7, 26, 8 ...
    QTest::newRow("empty") << QByteArray() << QByteArray();
    QTest::newRow("one byte") << QByteArray("x") << QByteArray();
    QTest::newRow("prefix only") << QByteArray("abc") << QByteArray();
    QTest::newRow("unpaired byte ignored") << QByteArray("abcd") << QByteArray();
    QTest::newRow("one pair") << QByteArray("abc?H") << QByteArray("A");
    QTest::newRow("one pair and a half") << QByteArray("abc?H?") << QByteArray("A");
    QTest::newRow("wraps below zero") << QByteArray("abc?\x03?\x1a", 8) << QByteArray("\xfc\x00", 2);
    QTest::newRow("binary garbage") << QByteArray("\0\0\0\0\0\0\0", 7) << QByteArray("\xf9\xe6", 2);
}

void TestPasswordScrambler::malformedStoredForms()
{
    QFETCH(QByteArray, stored);
    QFETCH(QByteArray, password);
    QCOMPARE(UnscramblePassword(stored, 7), password);
}

void TestPasswordScrambler::wrongKeyGivesOtherBytes()
{
    const QByteArray password("correct horse battery staple");
    const QByteArray stored = ScramblePassword(password, UserKey("jo"));
    const QByteArray wrong = UnscramblePassword(stored, UserKey("Jo"));
    QCOMPARE(wrong.size(), password.size());
    QVERIFY(wrong != password);
    // Same key from another id with the same first two codes' sum: same result.
    QCOMPARE(ScramblePassword(password, UserKey("oj-other")), stored);
}

QTEST_APPLESS_MAIN(TestPasswordScrambler)
#include "tst_passwordscrambler.moc"
