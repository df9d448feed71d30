// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/StatusTextBar.h"
#include "app/TForm1.h"
#include "controls/ConsoleView.h"
#include "mailbox/MailListModel.h"
#include "mailbox/MailListView.h"
#include "session/Pop3Parsing.h"
#include "session/TClientSocket.h"
#include "support/DovecotServer.h"
#include "support/FormFixture.h"
#include "support/MailboxGenerator.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QItemSelectionModel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QtTest>

#include <algorithm>

using Kind = MailboxGenerator::Kind;

// The main flows of the window against a real POP3 server: login, listing,
// headers, reading, a delete batch, Save & Quit, and a second session that
// shows exactly the marked messages gone.
class DovecotIntegrationTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanMailbox();
    void forgedHeaderLines();
    void refusedPassword();
    void pipelinedBatches();
    void deleteEveryOtherOfMany();
    void automaticHeadersAndOneSender();

private:
    QString skipReason;
};

namespace {

constexpr quint32 kSeed = 11;
constexpr int kMessages = 40;

struct Viewed {
    QByteArray subject;
    QList<QByteArray> lines;
};

// A window logged in to the server, with the viewer captured.
struct Client {
    FormFixture f;
    TForm1 &w;
    QList<Viewed> viewed;

    Client(const DovecotServer &server, const QString &password, const QByteArray &settings = QByteArray()) : w(*f.form)
    {
        if (!settings.isEmpty()) {
            QFile ini(f.dir.filePath(QStringLiteral("Tarnbeck.ini")));
            if (ini.open(QIODevice::WriteOnly))
                ini.write(settings);
            ini.close();
            w.LoadSettings();
        }
        w.txtServer->setEditText(QStringLiteral("127.0.0.1"));
        w.txtPort->setText(QString::number(server.port()));
        w.txtUID->setText(server.user());
        w.txtPWD->setText(password);
        w.showViewer = [this](QWidget *, const ViewerMessage &message, const auto &) {
            viewed.append({message.subject, message.lines});
        };
    }

    bool listed(int rows)
    {
        return QTest::qWaitFor([&] { return w.session->state() == ssIdle && w.mailModel->count() == rows; }, 15000);
    }

    bool idle()
    {
        return QTest::qWaitFor([&] { return w.session->state() == ssIdle; }, 15000);
    }

    // Selects one row and presses Read Mail: the lines the viewer was given,
    // or nothing when no viewer opened.
    QList<QByteArray> read(int row)
    {
        w.mailInfo->selectionModel()->select(w.mailModel->index(row, 1),
                                             QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
        const qsizetype before = viewed.size();
        w.btnReadClick();
        if (!QTest::qWaitFor([&] { return viewed.size() > before; }, 15000))
            return {};
        return viewed.last().lines;
    }
};

// The message as stored, one entry per line (the maildir keeps LF ends).
QList<QByteArray> storedLines(const QByteArray &raw)
{
    QList<QByteArray> lines = raw.split('\n');
    if (!lines.isEmpty() && lines.last().isEmpty())
        lines.removeLast();
    for (QByteArray &line : lines) {
        if (line.endsWith('\r'))
            line.chop(1);
    }
    return lines;
}

// What TOP n count gives: the header, the blank line, count body lines.
QList<QByteArray> topLines(const QByteArray &raw, int count)
{
    const QList<QByteArray> lines = storedLines(raw);
    const qsizetype blank = lines.indexOf(QByteArray());
    if (blank < 0)
        return lines;
    return lines.mid(0, blank + 1 + count);
}

int firstOfKind(Kind kind, int from = 0)
{
    for (int i = from; i < kMessages; ++i) {
        if (MailboxGenerator::kindOf(kSeed, i) == kind)
            return i;
    }
    return -1;
}

// A message as stored and the Subject, From and To its row must show.
struct Stored {
    QByteArray raw;
    QByteArray subject;
    QByteArray from;
    QByteArray to;
};

// Keeps the NUL bytes a plain C string would end at.
template <qsizetype N> QByteArray bytes(const char (&text)[N])
{
    return QByteArray(text, N - 1);
}

}  // namespace

void DovecotIntegrationTest::initTestCase()
{
    DovecotServer::isAvailable(&skipReason);
}

void DovecotIntegrationTest::cleanMailbox()
{
    if (!skipReason.isEmpty())
        QSKIP(qPrintable(skipReason));
    DovecotServer server;
    server.addMessages(kMessages, kSeed);
    QString why;
    QVERIFY2(server.start(&why), qPrintable(why));

    Client c(server, server.password());
    c.w.btnConnClick();
    QVERIFY2(c.listed(kMessages), qPrintable(c.w.Memo1->text().right(500)));
    QCOMPARE(c.w.msgBar->text(), QStringLiteral(" Downloading Mail List ... Done."));
    for (int i = 0; i < kMessages; ++i) {
        QCOMPARE(c.w.mailModel->subItem(i, 0), QByteArray::number(i + 1));
        QCOMPARE(c.w.mailModel->subItem(i, 4),
                 QByteArray::number(MailboxGenerator::virtualSize(MailboxGenerator::message(kSeed, i))));
    }

    // Headers of the checked rows, one press.
    const QList<int> headerRows{0, 1, 2, 5, 8, 13};
    for (int row : headerRows)
        c.w.mailModel->setRowChecked(row, true);
    c.w.btnHeaderClick();
    QVERIFY(c.idle());
    QVERIFY(c.w.msgBar->text().endsWith(QStringLiteral(" Header ... Done.")));
    QCOMPARE(c.w.CheckedCount, 0);
    for (int row : headerRows) {
        const HeaderFields expected = ScanHeaders(topLines(MailboxGenerator::message(kSeed, row), 0));
        QCOMPARE(c.w.mailModel->subItem(row, 1), expected.subject);
        QCOMPARE(c.w.mailModel->subItem(row, 2), expected.sender);
        QCOMPARE(c.w.mailModel->subItem(row, 3), expected.recipient);
    }

    // "Decode Headers": every row reads as its author wrote it, encoded,
    // folded or raw 8-bit; off again, the raw texts are back without a fetch.
    c.w.DecodeHeaders1->setChecked(true);
    c.w.AllMail->setChecked(true);
    c.w.btnHeaderClick();
    QVERIFY(c.idle());
    const auto cell = [&c](int row, int column) { return c.w.mailModel->index(row, column).data().toString(); };
    QSet<QString> encodedSubjects;
    bool folded = false;
    for (int row = 0; row < kMessages; ++row) {
        const QByteArray raw = MailboxGenerator::message(kSeed, row);
        const QString subject = MailboxGenerator::readableText(MailboxGenerator::headerValue(raw, "Subject"));
        QCOMPARE(cell(row, MailListModel::SubjectColumn), subject);
        QCOMPARE(cell(row, MailListModel::FromColumn),
                 MailboxGenerator::readableText(MailboxGenerator::headerValue(raw, "From")));
        QCOMPARE(cell(row, MailListModel::ToColumn),
                 MailboxGenerator::readableText(MailboxGenerator::headerValue(raw, "To")));
        if (MailboxGenerator::kindOf(kSeed, row) == Kind::EncodedHeader) {
            QVERIFY(!subject.contains(QStringLiteral("=?")));
            encodedSubjects.insert(subject);
            folded = folded || raw.contains("?=\n =?");
        }
    }
    QCOMPARE(encodedSubjects.size(), 2);
    QVERIFY(folded);
    const int encoded = firstOfKind(Kind::EncodedHeader);
    QVERIFY(!c.read(encoded).isEmpty());
    QCOMPARE(QString::fromUtf8(c.viewed.last().subject), cell(encoded, MailListModel::SubjectColumn));
    c.w.DecodeHeaders1->setChecked(false);
    const HeaderFields seed = ScanHeaders(topLines(MailboxGenerator::message(kSeed, encoded), 0));
    QCOMPARE(cell(encoded, MailListModel::SubjectColumn), QString::fromUtf8(seed.subject));
    QVERIFY(cell(encoded, MailListModel::FromColumn).startsWith(QStringLiteral("=?")));

    // Reading a message with dot lines: every line as stored, dots unstuffed.
    const int dots = firstOfKind(Kind::DotLines);
    QVERIFY(dots >= 0);
    QCOMPARE(c.read(dots), topLines(MailboxGenerator::message(kSeed, dots), 100));
    QVERIFY(c.w.pageGUI->isEnabled());

    // Reading a message with an attachment: cut at the second delimiter.
    const int attachment = firstOfKind(Kind::Attachment);
    QVERIFY(attachment >= 0);
    const QList<QByteArray> full = topLines(MailboxGenerator::message(kSeed, attachment), 100);
    const QList<QByteArray> shown = c.read(attachment);
    QVERIFY(!shown.isEmpty());
    QVERIFY(shown.size() < full.size());
    QCOMPARE(shown, full.mid(0, shown.size()));
    QVERIFY(shown.last().startsWith("--"));
    QCOMPARE(shown.count(shown.last()), 2);
    QVERIFY(c.w.msgBar->text().contains(QStringLiteral(" Skipping attachment ...")));

    // A newsletter: its plain version is shown, the HTML one after it is cut.
    const int newsletter = firstOfKind(Kind::Newsletter);
    QVERIFY(newsletter >= 0);
    const QList<QByteArray> letter = c.read(newsletter);
    QCOMPARE(letter, topLines(MailboxGenerator::message(kSeed, newsletter), 100).mid(0, letter.size()));
    QVERIFY(letter.contains("Content-Type: text/plain; charset=us-ascii"));
    QVERIFY(!letter.contains("Content-Type: text/html; charset=us-ascii"));
    QVERIFY(!letter.contains("<html><body>"));
    QCOMPARE(letter.count(letter.last()), 2);

    // A delete batch over checked rows, one question.
    c.w.mailInfo->selectionModel()->clearSelection();
    const QList<int> doomed{1, 3, 6, 20, kMessages - 1};
    for (int row : doomed)
        c.w.mailModel->setRowChecked(row, true);
    c.f.desktop.setNextAnswer(platform::BoxButton::Yes);
    c.w.btnDeleteClick();
    QTRY_VERIFY_WITH_TIMEOUT(!c.w.session->deleteConfirmed(), 15000);
    QCOMPARE(c.f.desktop.boxes.size(), 1);
    QCOMPARE(c.w.mailModel->count(), kMessages - int(doomed.size()));
    for (int row : doomed)
        QCOMPARE(c.w.FindMailRow(QByteArray::number(row + 1), 0), -1);

    c.w.btnQuitClick();
    QTRY_VERIFY_WITH_TIMEOUT(!c.w.cSock->Active(), 15000);
    QVERIFY(c.w.Memo1->text().contains(QStringLiteral("+OK")));

    // A second session: exactly the marked messages are gone.
    QTRY_COMPARE_WITH_TIMEOUT(server.messageCount(), kMessages - int(doomed.size()), 15000);
    Client again(server, server.password());
    again.w.btnConnClick();
    QVERIFY(again.listed(kMessages - int(doomed.size())));
    int row = 0;
    for (int i = 0; i < kMessages; ++i) {
        if (doomed.contains(i))
            continue;
        QCOMPARE(again.w.mailModel->subItem(row, 4),
                 QByteArray::number(MailboxGenerator::virtualSize(MailboxGenerator::message(kSeed, i))));
        ++row;
    }
    // Headers confirm the survivors are the right messages, not only the right sizes.
    again.w.mailModel->setRowChecked(1, true);
    again.w.btnHeaderClick();
    QVERIFY(again.idle());
    QCOMPARE(again.w.mailModel->subItem(1, 1), ScanHeaders(topLines(MailboxGenerator::message(kSeed, 2), 0)).subject);
}

// Header bytes that look like reply lines when a lone CR or a NUL is taken
// for a line break or dropped before the end-marker test: every row must still
// show its own message, and deleting the row showing "third normal" must
// delete message 3 on the server.
void DovecotIntegrationTest::forgedHeaderLines()
{
    if (!skipReason.isEmpty())
        QSKIP(qPrintable(skipReason));
    const QByteArray to = "tester@example.org";
    const QList<Stored> mail{
        {"From: one@example.org\nTo: tester@example.org\nSubject: first normal\n\nOne.\n", "first normal",
         "one@example.org", to},
        {"From: two@example.org\nTo: tester@example.org\n"
         "Subject: hi\r.\r+OK\rSubject: FREE PILLS\rFrom: spam@x\n\nTwo.\n",
         "hi\r.\r+OK\rSubject: FREE PILLS\rFrom: spam@x", "two@example.org", to},
        {"From: three@example.org\nTo: tester@example.org\nSubject: third normal\n\nThree.\n", "third normal",
         "three@example.org", to},
        {bytes("From: four@example.org\nTo: tester@example.org\nX-Note: 4\n\0.\n+OK\nSubject: fourth\0.\n\nFour.\n"),
         bytes("fourth\0."), "four@example.org", to},
        {"From: five@example.org\nTo: tester@example.org\nSubject: fifth normal\n\nFive.\n", "fifth normal",
         "five@example.org", to},
    };
    DovecotServer server;
    for (const Stored &m : mail)
        QVERIFY(!server.addMessage(m.raw).isEmpty());
    QString why;
    QVERIFY2(server.start(&why), qPrintable(why));

    Client c(server, server.password());
    c.w.btnConnClick();
    QVERIFY(c.listed(5));
    c.w.AllMail->setChecked(true);
    c.w.btnHeaderClick();
    QVERIFY(c.idle());
    for (int row = 0; row < 5; ++row) {
        QCOMPARE(c.w.mailModel->subItem(row, MailRow::Subject), mail[row].subject);
        QCOMPARE(c.w.mailModel->subItem(row, MailRow::From), mail[row].from);
        QCOMPARE(c.w.mailModel->subItem(row, MailRow::To), mail[row].to);
    }

    // The user picks the row by what it shows.
    c.w.AllMail->setChecked(false);
    QCOMPARE(c.w.CheckedCount, 0);
    int third = -1;
    for (int row = 0; row < c.w.mailModel->count(); ++row) {
        if (c.w.mailModel->index(row, MailListModel::SubjectColumn).data().toString() == QStringLiteral("third normal"))
            third = row;
    }
    QVERIFY(third >= 0);
    c.w.mailModel->setRowChecked(third, true);
    c.f.desktop.setNextAnswer(platform::BoxButton::Yes);
    c.w.btnDeleteClick();
    QTRY_VERIFY_WITH_TIMEOUT(!c.w.session->deleteConfirmed() && c.w.mailModel->count() == 4, 15000);
    QCOMPARE(c.f.desktop.boxes.size(), 1);
    c.w.btnQuitClick();
    QTRY_VERIFY_WITH_TIMEOUT(!c.w.cSock->Active(), 15000);

    // A second session sees message 3 gone and the others, headers and all.
    QTRY_COMPARE_WITH_TIMEOUT(server.messageCount(), 4, 15000);
    Client again(server, server.password());
    again.w.btnConnClick();
    QVERIFY(again.listed(4));
    again.w.AllMail->setChecked(true);
    again.w.btnHeaderClick();
    QVERIFY(again.idle());
    const QList<int> survivors{0, 1, 3, 4};
    for (int row = 0; row < 4; ++row) {
        const Stored &m = mail[survivors[row]];
        QCOMPARE(again.w.mailModel->subItem(row, MailRow::Subject), m.subject);
        QCOMPARE(again.w.mailModel->subItem(row, MailRow::From), m.from);
        QCOMPARE(again.w.mailModel->subItem(row, MailRow::Bytes),
                 QByteArray::number(MailboxGenerator::virtualSize(m.raw)));
    }
}

void DovecotIntegrationTest::refusedPassword()
{
    if (!skipReason.isEmpty())
        QSKIP(qPrintable(skipReason));
    DovecotServer server;
    server.addMessages(3, kSeed);
    QString why;
    QVERIFY2(server.start(&why), qPrintable(why));

    Client c(server, QStringLiteral("wrong"));
    c.w.btnConnClick();
    QTRY_COMPARE_WITH_TIMEOUT(c.w.msgBar->text(), QStringLiteral(" Login to user account ... Fail !"), 15000);
    QVERIFY(c.w.btnLogin->isEnabled());
    QVERIFY(!c.w.btnList->isEnabled());
    c.w.txtPWD->setText(server.password());
    c.w.btnLoginClick();
    QVERIFY(c.listed(3));
    QVERIFY(!c.w.btnLogin->isEnabled());
}

QTEST_MAIN(DovecotIntegrationTest)
#include "tst_integration_dovecot.moc"

// Dovecot lists PIPELINING: a Get Header batch over 500 rows and a delete
// batch over 200 go out ahead of their replies, and still every row shows its
// own message and exactly the confirmed messages are gone.
void DovecotIntegrationTest::pipelinedBatches()
{
    if (!skipReason.isEmpty())
        QSKIP(qPrintable(skipReason));
    constexpr int count = 500;
    DovecotServer server;
    server.addMessages(count, kSeed);
    QString why;
    QVERIFY2(server.start(&why), qPrintable(why));

    Client c(server, server.password());
    int mostInFlight = 0;
    c.w.session->commandSent = [&](const QByteArray &, const MailRowRef &) {
        mostInFlight = std::max(mostInFlight, c.w.session->commandsInFlight());
    };
    c.w.btnConnClick();
    QVERIFY(c.listed(count));
    c.w.mailInfoColumnClick(MailListModel::BytesColumn);
    c.w.AllMail->setChecked(true);
    c.w.btnHeaderClick();
    QVERIFY(QTest::qWaitFor([&] { return c.w.session->state() == ssIdle && c.w.CheckedCount == 0; }, 30000));
    QVERIFY2(mostInFlight > 10, qPrintable(QString::number(mostInFlight)));
    QCOMPARE(c.w.msgBar->text().count(QStringLiteral(" Done.")), 1);
    for (int row = 0; row < count; ++row) {
        const int message = c.w.mailModel->subItem(row, MailRow::Id).toInt() - 1;
        const HeaderFields expected = ScanHeaders(topLines(MailboxGenerator::message(kSeed, message), 0));
        QCOMPARE(c.w.mailModel->subItem(row, MailRow::Subject), expected.subject);
        QCOMPARE(c.w.mailModel->subItem(row, MailRow::From), expected.sender);
        QCOMPARE(c.w.mailModel->subItem(row, MailRow::To), expected.recipient);
    }

    // 200 rows, picked in the sorted list by their message numbers.
    QList<int> doomed;
    for (int row = 0; row < count; ++row) {
        const int message = c.w.mailModel->subItem(row, MailRow::Id).toInt() - 1;
        if (message % 5 < 2) {
            doomed.append(message);
            c.w.mailModel->setRowChecked(row, true);
        }
    }
    QCOMPARE(doomed.size(), 200);
    mostInFlight = 0;
    c.f.desktop.setNextAnswer(platform::BoxButton::Yes);
    c.w.btnDeleteClick();
    QTRY_VERIFY_WITH_TIMEOUT(!c.w.session->deleteConfirmed(), 30000);
    QVERIFY2(mostInFlight > 10, qPrintable(QString::number(mostInFlight)));
    QCOMPARE(c.w.mailModel->count(), count - 200);
    c.w.btnQuitClick();
    QTRY_VERIFY_WITH_TIMEOUT(!c.w.cSock->Active(), 15000);

    QTRY_COMPARE_WITH_TIMEOUT(server.messageCount(), count - 200, 15000);
    Client again(server, server.password());
    again.w.btnConnClick();
    QVERIFY(again.listed(count - 200));
    again.w.AllMail->setChecked(true);
    again.w.btnHeaderClick();
    QVERIFY(QTest::qWaitFor([&] { return again.w.session->state() == ssIdle && again.w.CheckedCount == 0; }, 30000));
    int row = 0;
    for (int message = 0; message < count; ++message) {
        if (doomed.contains(message))
            continue;
        const QByteArray raw = MailboxGenerator::message(kSeed, message);
        QCOMPARE(again.w.mailModel->subItem(row, MailRow::Bytes),
                 QByteArray::number(MailboxGenerator::virtualSize(raw)));
        QCOMPARE(again.w.mailModel->subItem(row, MailRow::Subject), ScanHeaders(topLines(raw, 0)).subject);
        ++row;
    }
}

// Every other row of 20,000 deleted in one confirmed batch: the rows leave
// the list a read's worth at a time (scattered, so not as one run each),
// the list keeps exactly the others in order, and after QUIT a second
// session finds exactly those on the server.
void DovecotIntegrationTest::deleteEveryOtherOfMany()
{
    if (!skipReason.isEmpty())
        QSKIP(qPrintable(skipReason));
    constexpr int count = 20000;
    DovecotServer server;
    server.addMessages(count, kSeed);
    QString why;
    QVERIFY2(server.start(&why), qPrintable(why));

    Client c(server, server.password());
    c.w.btnConnClick();
    QVERIFY(c.listed(count));
    QList<int> doomed;
    for (int row = 0; row < count; row += 2)
        doomed.append(row);
    c.w.mailModel->setRowsChecked(doomed, true);
    QCOMPARE(c.w.CheckedCount, count / 2);
    int removals = 0;
    QObject::connect(c.w.mailModel, &QAbstractItemModel::rowsRemoved, [&removals] { ++removals; });
    c.f.desktop.setNextAnswer(platform::BoxButton::Yes);
    c.w.btnDeleteClick();
    QTRY_VERIFY_WITH_TIMEOUT(!c.w.session->deleteConfirmed(), 60000);
    QCOMPARE(c.w.mailModel->count(), count / 2);
    QCOMPARE(c.w.CheckedCount, 0);
    for (int row = 0; row < count / 2; ++row)
        QCOMPARE(c.w.mailModel->subItem(row, MailRow::Id), QByteArray::number(2 * row + 2));
    QVERIFY2(removals < count / 20, qPrintable(QString::number(removals)));
    c.w.btnQuitClick();
    QTRY_VERIFY_WITH_TIMEOUT(!c.w.cSock->Active(), 15000);
    QTRY_COMPARE_WITH_TIMEOUT(server.messageCount(), count / 2, 15000);

    Client again(server, server.password());
    again.w.btnConnClick();
    QVERIFY(again.listed(count / 2));
    for (int row = 0; row < count / 2; ++row) {
        const QByteArray raw = MailboxGenerator::message(kSeed, 2 * row + 1);
        QCOMPARE(again.w.mailModel->subItem(row, MailRow::Bytes),
                 QByteArray::number(MailboxGenerator::virtualSize(raw)));
    }
}

// Get Headers Automatically over 500 messages: every row shows its own
// header as soon as the listing is in, no mark set; Check All From This
// Sender checks exactly that sender's messages; deleting them and Save &
// Quit leaves exactly the others on the server.
void DovecotIntegrationTest::automaticHeadersAndOneSender()
{
    if (!skipReason.isEmpty())
        QSKIP(qPrintable(skipReason));
    constexpr int count = 500;
    DovecotServer server;
    server.addMessages(count, kSeed);
    QString why;
    QVERIFY2(server.start(&why), qPrintable(why));
    const QByteArray settings = "[Default]\r\nAutoHeaders=1\r\n";
    const auto headersIn = [](Client &client, int rows) {
        return client.listed(rows) &&
               QTest::qWaitFor(
                   [&] { return !client.w.session->autoHeadersRunning() && client.w.session->commandsInFlight() == 0; },
                   30000);
    };
    // Each row against the message its number names: byte for byte.
    const auto ownHeaders = [](Client &client) {
        for (int row = 0; row < client.w.mailModel->count(); ++row) {
            const int message = client.w.mailModel->subItem(row, MailRow::Id).toInt() - 1;
            const HeaderFields expected = ScanHeaders(topLines(MailboxGenerator::message(kSeed, message), 0));
            if (!client.w.mailModel->hasHeader(row) ||
                client.w.mailModel->subItem(row, MailRow::Subject) != expected.subject ||
                client.w.mailModel->subItem(row, MailRow::From) != expected.sender ||
                client.w.mailModel->subItem(row, MailRow::To) != expected.recipient)
                return row;
        }
        return -1;
    };

    Client c(server, server.password(), settings);
    QVERIFY(c.w.AutoHeaders1->isChecked());
    c.w.btnConnClick();
    QVERIFY(headersIn(c, count));
    QCOMPARE(ownHeaders(c), -1);
    QCOMPARE(c.w.CheckedCount, 0);
    QVERIFY(c.w.msgBar->text().endsWith(QStringLiteral(" Header ... Done.")));

    // The sender of the first newsletter, and every message it sent.
    const auto addressOf = [](const QByteArray &from) {
        const qsizetype open = from.lastIndexOf('<');
        return (open >= 0 ? from.mid(open + 1, from.indexOf('>', open) - open - 1) : from).trimmed().toLower();
    };
    const int first = firstOfKind(Kind::Newsletter);
    QVERIFY(first >= 0);
    const QByteArray sender = addressOf(MailboxGenerator::headerValue(MailboxGenerator::message(kSeed, first), "From"));
    QList<int> fromSender;
    for (int i = 0; i < count; ++i) {
        if (addressOf(MailboxGenerator::headerValue(MailboxGenerator::message(kSeed, i), "From")) == sender)
            fromSender.append(i);
    }
    QVERIFY(fromSender.size() > 1 && fromSender.size() < count / 4);
    c.w.mailInfoContextPopup(c.w.mailModel->index(c.w.FindMailRow(QByteArray::number(first + 1), 0), 3));
    c.w.CheckSameSender1->trigger();
    QList<int> checked;
    for (const int row : c.w.mailModel->checkedRows())
        checked.append(c.w.mailModel->subItem(row, MailRow::Id).toInt() - 1);
    QCOMPARE(checked, fromSender);

    c.f.desktop.setNextAnswer(platform::BoxButton::Yes);
    c.w.btnDeleteClick();
    QVERIFY(c.f.desktop.boxes.last().informativeText.startsWith(QString::number(fromSender.size()) +
                                                                QStringLiteral(" messages:\nID ")));
    QTRY_VERIFY_WITH_TIMEOUT(!c.w.session->deleteConfirmed(), 30000);
    QCOMPARE(c.w.mailModel->count(), count - int(fromSender.size()));
    c.w.btnQuitClick();
    QTRY_VERIFY_WITH_TIMEOUT(!c.w.cSock->Active(), 15000);

    // A second session finds exactly the others, each with its own header.
    QTRY_COMPARE_WITH_TIMEOUT(server.messageCount(), count - int(fromSender.size()), 15000);
    Client again(server, server.password(), settings);
    again.w.btnConnClick();
    QVERIFY(headersIn(again, count - int(fromSender.size())));
    // Numbered afresh by the server: row by row, the surviving messages.
    int row = 0;
    for (int message = 0; message < count; ++message) {
        if (fromSender.contains(message))
            continue;
        const QByteArray raw = MailboxGenerator::message(kSeed, message);
        const HeaderFields expected = ScanHeaders(topLines(raw, 0));
        QCOMPARE(again.w.mailModel->subItem(row, MailRow::Bytes),
                 QByteArray::number(MailboxGenerator::virtualSize(raw)));
        QCOMPARE(again.w.mailModel->subItem(row, MailRow::Subject), expected.subject);
        QCOMPARE(again.w.mailModel->subItem(row, MailRow::From), expected.sender);
        QCOMPARE(again.w.mailModel->subItem(row, MailRow::To), expected.recipient);
        ++row;
    }
    QCOMPARE(again.w.CheckedCount, 0);
}
