// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/StatusTextBar.h"
#include "app/TForm1.h"
#include "app/TarnbeckApplication.h"
#include "controls/ConsoleView.h"
#include "mailbox/MailListModel.h"
#include "mailbox/MailListView.h"
#include "session/TClientSocket.h"
#include "session/TClientWinSocket.h"
#include "support/FormFixture.h"
#include "support/RandomBytes.h"
#include "support/SanitizerBuild.h"
#include "support/ScriptedPop3Server.h"

#include <QCheckBox>
#include <QComboBox>
#include <QElapsedTimer>
#include <QItemSelectionModel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRandomGenerator>
#include <QtTest>

using platform::BoxButton;

// Servers that misbehave: connections that end or stall in the middle of a
// reply, lines far too long, bytes that are not text, replies nobody asked
// for. The window must stay usable, say what happened, and never delete or
// commit anything the user did not ask for.
class FaultsTest : public QObject {
    Q_OBJECT
private slots:
    void serverGoesAwayMidReply_data();
    void serverGoesAwayMidReply();
    void commandSentIntoResetConnection();
    void stallLeavesDisconnectAndReconnect_data();
    void stallLeavesDisconnectAndReconnect();
    void tenMegabyteLine_data();
    void tenMegabyteLine();
    void hostileSizesCloseConnection_data();
    void hostileSizesCloseConnection();
    void floodWaitsOnTheConnection();
    void binaryGarbage_data();
    void binaryGarbage();
    void hugeListingIsNotQuadratic();
    void unaskedRepliesWhileIdle();
    void unaskedHeaderReplyChangesNoRow();
    void unaskedPlusLinesAfterDeleteBatch();
    void unaskedPlusLinesWhileDeleteBoxIsOpen();
    void unaskedBodyAfterReadShowsNoViewer();
    void unaskedEndMarkerBeforeReadReply();
};

namespace {

const QByteArrayList kThreeRows{"1 120", "2 200", "3 300"};

struct Session {
    FormFixture f;
    TForm1 &w;
    ScriptedPop3Server server;
    QList<QList<QByteArray>> viewed;

    Session() : w(*f.form)
    {
        w.txtServer->setEditText(QStringLiteral("127.0.0.1"));
        w.txtPort->setText(QString::number(server.port()));
        w.txtUID->setText(QStringLiteral("bob"));
        w.txtPWD->setText(QStringLiteral("pw1"));
        w.showViewer = [this](QWidget *, const ViewerMessage &message, const auto &) { viewed.append(message.lines); };
    }

    // Greeting, USER and PASS, then LIST answered with the rows.
    void scriptLogin(const QByteArrayList &listing, const QByteArray &greeting = "+OK ready")
    {
        server.greet(greeting).expect("user bob").expect("pass pw1").reply({"+OK", "+OK logged in"});
        server.expect("LIST");
        QByteArrayList reply{"+OK"};
        reply += listing;
        reply << ".";
        server.reply(reply);
    }

    bool loggedIn(int rows, int timeout = 5000)
    {
        return QTest::qWaitFor([&] { return w.mailModel->count() == rows && w.session->state() == ssIdle; }, timeout);
    }

    // Connects and logs in to the three-row mailbox.
    bool start()
    {
        scriptLogin(kThreeRows);
        w.btnConnClick();
        return loggedIn(3);
    }

    QStringList console() const { return w.Memo1->text().split(QLatin1Char('\n')); }

    QByteArrayList ids() const
    {
        QByteArrayList result;
        for (int row = 0; row < w.mailModel->count(); ++row)
            result << w.mailModel->subItem(row, 0);
        return result;
    }

    // The client lines that begin with the command, ignoring case.
    QByteArrayList sent(const QByteArray &command) const
    {
        QByteArrayList result;
        for (const QByteArray &line : server.receivedLines()) {
            if (line.left(command.size()).compare(command, Qt::CaseInsensitive) == 0)
                result << line;
        }
        return result;
    }

    // After the server went away, a fresh connection logs in and lists.
    bool reconnects()
    {
        if (w.btnConn->text() != QStringLiteral("&Connect") || w.cSock->Active())
            return false;
        const int before = server.connectionCount();
        server.greet("+OK again").expect("user bob").expect("pass pw1").reply({"+OK", "+OK"});
        server.expect("LIST").reply({"+OK", "1 120", "2 200", "."});
        w.btnConnClick();
        return loggedIn(2) && server.connectionCount() == before + 1 && w.pageGUI->isEnabled() &&
               w.btnList->isEnabled() && w.msgBar->text() == QStringLiteral(" Downloading Mail List ... Done.");
    }

    // A round trip through the console: everything sent before has reached
    // the server, and everything it sent before has been handled. A reply
    // that came in one read with the end of a reply body is taken as part of
    // that body, so the NOOP is repeated until an answer shows.
    bool roundTrip(int timeout = 5000)
    {
        server.autoReply("NOOP", {"+OK noop"});
        for (int attempt = 0; attempt < 4; ++attempt) {
            const qsizetype answers = console().count(QStringLiteral("+OK noop"));
            const int count = server.lineCount();
            w.txtCmdPrompt->setText(QStringLiteral("NOOP"));
            QChar key(13);
            w.txtCmdPromptKeyPress(w.txtCmdPrompt, key);
            if (QTest::qWaitFor(
                    [&] { return server.lineCount() > count && console().count(QStringLiteral("+OK noop")) > answers; },
                    timeout))
                return true;
        }
        qWarning("no answer to NOOP; state %d, console ends %s", int(w.session->state()),
                 qPrintable(console().mid(console().size() - 3).join(QLatin1Char('|')).left(300)));
        return false;
    }
};

QByteArrayList splitRandomly(const QByteArray &bytes, quint32 seed)
{
    QRandomGenerator random(seed);
    QByteArrayList parts;
    for (qsizetype at = 0; at < bytes.size();) {
        const qsizetype size = std::min<qsizetype>(bytes.size() - at, 1 + random.bounded(9000));
        parts << bytes.mid(at, size);
        at += size;
    }
    return parts;
}

}  // namespace

#define CHECK_SERVER(s) QVERIFY2((s).server.errors().isEmpty(), qPrintable((s).server.errors().join('\n')))

// Nothing committed: no QUIT ever went out, and the only DELE lines are the expected ones.
#define CHECK_NOTHING_DELETED(s, deletes)                                                                              \
    do {                                                                                                               \
        QCOMPARE((s).sent("DELE"), QByteArrayList(deletes));                                                           \
        QCOMPARE((s).sent("QUIT"), QByteArrayList());                                                                  \
    } while (false)

enum Phase { Listing, HeaderBatch, Read, DeleteBatch };

void FaultsTest::serverGoesAwayMidReply_data()
{
    QTest::addColumn<int>("phase");
    QTest::addColumn<bool>("reset");
    const char *names[] = {"listing", "header batch", "read", "delete batch"};
    for (int phase : {Listing, HeaderBatch, Read, DeleteBatch}) {
        QTest::addRow("close in %s", names[phase]) << phase << false;
        QTest::addRow("reset in %s", names[phase]) << phase << true;
    }
}

void FaultsTest::serverGoesAwayMidReply()
{
    QFETCH(int, phase);
    QFETCH(bool, reset);
    Session s;
    QByteArrayList deletes;
    const auto goAway = [&] {
        // The pause lets what was sent arrive before a reset could drop it.
        s.server.pause(50);
        if (reset)
            s.server.reset();
        else
            s.server.close();
    };
    if (phase == Listing) {
        s.server.greet("+OK ready").expect("user bob").expect("pass pw1").reply({"+OK", "+OK"});
        s.server.expect("LIST").send("+OK 3 messages\r\n1 120\r\n2 2");
        goAway();
        s.w.btnConnClick();
    } else {
        QVERIFY(s.start());
        s.w.mailModel->setRowChecked(0, true);
        s.w.mailModel->setRowChecked(2, true);
        if (phase == HeaderBatch) {
            s.server.expect("TOP 1 0").reply({"+OK", "Subject: first", "."});
            s.server.expect("TOP 3 0").send("+OK\r\nSubject: cut\r\nFrom: some");
            goAway();
            s.w.btnHeaderClick();
        } else if (phase == Read) {
            s.w.mailModel->setRowChecked(2, false);
            s.server.expect("TOP 1 100").send("+OK\r\nSubject: cut\r\n\r\nhalf a mess");
            goAway();
            s.w.btnReadClick();
        } else {
            deletes = {"DELE 1", "DELE 3"};
            s.server.expect("DELE 1").reply({"+OK"}).expect("DELE 3");
            goAway();
            s.f.desktop.setNextAnswer(BoxButton::Yes);
            s.w.btnDeleteClick();
        }
    }
    QTRY_VERIFY(s.server.scriptDone());
    QTRY_COMPARE(s.w.btnConn->text(), QStringLiteral("&Connect"));
    QVERIFY(!s.w.cSock->Active());
    if (reset)
        QVERIFY2(s.w.msgBar->text().startsWith(QStringLiteral(" Disconnected from")), qPrintable(s.w.msgBar->text()));
    else
        QCOMPARE(s.w.msgBar->text(), QStringLiteral(" Disconnected from 127.0.0.1"));
    QVERIFY(s.f.desktop.boxes.size() == (phase == DeleteBatch ? 1 : 0));
    QVERIFY(!s.w.btnList->isEnabled());
    QVERIFY(!s.w.btnHeader->isEnabled());
    QVERIFY(!s.w.btnDelete->isEnabled());
    QVERIFY(!s.w.btnQuit->isEnabled());
    QVERIFY(!s.w.txtCmdPrompt->isEnabled());
    QVERIFY(s.viewed.isEmpty());
    if (phase == Listing)
        QCOMPARE(s.w.mailModel->count(), 0);  // an unfinished listing shows no rows
    if (phase == HeaderBatch) {
        QCOMPARE(s.w.mailModel->subItem(0, 1), QByteArray("first"));
        QCOMPARE(s.w.mailModel->subItem(2, 1), QByteArray());
    }
    if (phase == DeleteBatch)
        QCOMPARE(s.ids(), (QByteArrayList{"2", "3"}));  // the unanswered DELE removed no row
    CHECK_NOTHING_DELETED(s, deletes);
    QVERIFY(s.reconnects());
    QVERIFY(s.viewed.isEmpty());
    if (phase == DeleteBatch) {
        // The confirmation belonged to the lost session: a new batch asks again.
        s.w.mailModel->setRowChecked(1, true);
        s.f.desktop.setNextAnswer(BoxButton::No);
        s.w.btnDeleteClick();
        QCOMPARE(s.f.desktop.boxes.size(), 2);
        QVERIFY(s.roundTrip());
    }
    CHECK_NOTHING_DELETED(s, deletes);
    CHECK_SERVER(s);
}

void FaultsTest::commandSentIntoResetConnection()
{
    // The server resets the connection before the window has noticed; the
    // next command is sent at once and its failure is reported from inside
    // the send.
    Session s;
    QVERIFY(s.start());
    s.server.resetClient();
    QTest::qSleep(20);  // the reset reaches this side; no event is handled yet
    s.w.mailModel->setRowChecked(1, true);
    QVERIFY(s.w.btnHeader->isEnabled());
    QTest::mouseClick(s.w.btnHeader, Qt::LeftButton);
    QTest::mouseClick(s.w.btnHeader, Qt::LeftButton);  // a second press after the failed send
    QTRY_COMPARE(s.w.btnConn->text(), QStringLiteral("&Connect"));
    QVERIFY(!s.w.cSock->Active());
    QVERIFY(!s.w.btnHeader->isEnabled());
    QVERIFY2(s.w.msgBar->text().startsWith(QStringLiteral(" Disconnected from")), qPrintable(s.w.msgBar->text()));
    // One command went out; the failure is the last word.
    const QStringList console = s.console();
    QCOMPARE(console.filter(QStringLiteral("? TOP")), QStringList{"? TOP 2 0"});
    QVERIFY2(console.last().endsWith(QStringLiteral(")not opened !")), qPrintable(console.last()));
    CHECK_NOTHING_DELETED(s, QByteArrayList());
    QVERIFY(s.reconnects());
}

void FaultsTest::stallLeavesDisconnectAndReconnect_data()
{
    QTest::addColumn<int>("where");
    QTest::newRow("no greeting") << 0;
    QTest::newRow("no listing") << 1;
    QTest::newRow("read without end") << 2;
    QTest::newRow("delete unanswered") << 3;
}

void FaultsTest::stallLeavesDisconnectAndReconnect()
{
    QFETCH(int, where);
    Session s;
    QByteArrayList deletes;
    if (where == 0) {
        s.server.acceptClient();
        s.w.btnConnClick();
        QTRY_VERIFY(s.w.cSock->Active());
    } else if (where == 1) {
        s.server.greet("+OK ready").expect("user bob").expect("pass pw1").reply({"+OK", "+OK"}).expect("LIST");
        s.w.btnConnClick();
    } else {
        QVERIFY(s.start());
        s.w.mailModel->setRowChecked(1, true);
        if (where == 2) {
            s.server.expect("TOP 2 100").send("+OK\r\nSubject: slow\r\n\r\nfirst line\r\n");
            s.w.btnReadClick();
        } else {
            deletes = {"DELE 2"};
            s.server.expect("DELE 2");
            s.f.desktop.setNextAnswer(BoxButton::Yes);
            s.w.btnDeleteClick();
        }
    }
    QTRY_VERIFY(s.server.scriptDone());
    // The window keeps handling events while the server says nothing.
    bool ticked = false;
    QTimer::singleShot(200, &s.w, [&ticked] { ticked = true; });
    QTRY_VERIFY(ticked);
    QVERIFY(s.w.cSock->Active());
    QCOMPARE(s.w.btnConn->text(), QStringLiteral("&Disconnect"));
    QVERIFY(s.w.btnConn->isEnabled());
    if (where == 3)
        QCOMPARE(s.ids(), (QByteArrayList{"1", "2", "3"}));  // nothing removed without an answer

    s.w.btnConnClick();
    QVERIFY(!s.w.cSock->Active());
    QCOMPARE(s.w.msgBar->text(), QStringLiteral(" Disconnected from 127.0.0.1"));
    QCOMPARE(s.w.btnConn->text(), QStringLiteral("&Connect"));
    QTRY_VERIFY(!s.server.isClientConnected());
    QVERIFY(s.reconnects());
    QVERIFY(s.viewed.isEmpty());
    CHECK_NOTHING_DELETED(s, deletes);
    CHECK_SERVER(s);
}

void FaultsTest::tenMegabyteLine_data()
{
    QTest::addColumn<int>("where");
    QTest::newRow("line in the listing") << 1;
    QTest::newRow("message number in the listing") << 2;
    QTest::newRow("line of a message read") << 3;
}

void FaultsTest::tenMegabyteLine()
{
    QFETCH(int, where);
    const qsizetype size = 10 * 1024 * 1024;
    const QByteArray huge(size, 'x');
    Session s;
    QElapsedTimer clock;
    clock.start();
    if (where <= 2) {
        s.server.greet("+OK ready").expect("user bob").expect("pass pw1").reply({"+OK", "+OK"});
        s.server.expect("LIST");
        if (where == 1)
            s.server.send("+OK\r\n1 120\r\n" + huge + "\r\n2 200\r\n.\r\n");
        else
            s.server.send("+OK\r\n1 120\r\n7" + QByteArray(size, '9') + " 5\r\n.\r\n");
        s.w.btnConnClick();
        QVERIFY(s.loggedIn(2, 60000));
        if (where == 1)
            QCOMPARE(s.ids(), (QByteArrayList{"1", "2"}));
        if (where == 2) {
            // Sorted by ID again after the listing: a number no 32-bit
            // number can hold goes first.
            QCOMPARE(s.w.mailModel->subItem(0, 0).size(), size + 1);
            QCOMPARE(s.w.mailModel->subItem(0, 4), QByteArray("5"));
        }
        QCOMPARE(s.w.msgBar->text(), QStringLiteral(" Downloading Mail List ... Done."));
    } else {
        QVERIFY(s.start());
        clock.restart();
        s.w.mailModel->setRowChecked(0, true);
        s.server.expect("TOP 1 100").send("+OK\r\nSubject: big\r\n\r\n" + huge + "\r\nend\r\n.\r\n");
        s.w.btnReadClick();
        QTRY_COMPARE_WITH_TIMEOUT(s.viewed.size(), 1, 60000);
        QCOMPARE(s.viewed[0].size(), 4);
        QCOMPARE(s.viewed[0][2].size(), size);
        QCOMPARE(s.viewed[0][3], QByteArray("end"));
        QVERIFY(s.w.pageGUI->isEnabled());
    }
    const qint64 ms = clock.elapsed();
    qInfo("10 MB line (%s): %lld ms", QTest::currentDataTag(), ms);
    QVERIFY2(ms < (kSanitized ? 40000 : 15000), qPrintable(QString::number(ms)));
    QVERIFY(s.roundTrip());
    CHECK_NOTHING_DELETED(s, QByteArrayList());
    CHECK_SERVER(s);
}

void FaultsTest::hostileSizesCloseConnection_data()
{
    QTest::addColumn<int>("where");
    QTest::addColumn<QString>("reason");
    const QString statusLine = QStringLiteral("Connection closed: the server sent a status line longer than 64 KiB.");
    QTest::newRow("status line of LIST") << 0 << statusLine;
    QTest::newRow("status line without its break") << 1 << statusLine;
    QTest::newRow("line of a message read")
        << 2 << QStringLiteral("Connection closed: the server sent a line longer than 1 MiB.");
    QTest::newRow("reply of many lines") << 3
                                         << QStringLiteral(
                                                "Connection closed: the server's reply to TOP 1 0 passed 1 MiB.");
    // What keeping a line costs counts, not only its bytes: 20,000 empty
    // lines hold no byte.
    QTest::newRow("header section of empty lines")
        << 4 << QStringLiteral("Connection closed: the server's reply to TOP 1 0 passed 1 MiB.");
    // Lines dropped behind the attachment's delimiter count as well.
    QTest::newRow("read of short lines, the rest skipped")
        << 5 << QStringLiteral("Connection closed: the server's reply to TOP 1 100 passed 1 MiB.");
    // A listing keeps no line, but every line counts, entry or not.
    QTest::newRow("listing of lines that give no entry")
        << 6 << QStringLiteral("Connection closed: the server's reply to LIST passed 1 MiB.");
    // A listing of exactly the most messages is taken; one more is not.
    QTest::newRow("listing past its messages")
        << 7 << QStringLiteral("Connection closed: the server listed more than 1,000 messages.");
}

void FaultsTest::hostileSizesCloseConnection()
{
    // Limits lowered from their tens of MiB and millions so that the test
    // stays small.
    QFETCH(int, where);
    QFETCH(QString, reason);
    Session s;
    s.w.session->maxLineLength = 1024 * 1024;
    s.w.session->maxHeaderReplyBytes = 1024 * 1024;
    s.w.session->maxReadReplyBytes = 1024 * 1024;
    s.w.session->maxListingReplyBytes = 1024 * 1024;
    s.w.session->maxListedMessages = 1000;
    const QByteArray longLine(1024 * 1024 + 10, 'x');
    if (where == 0) {
        s.server.greet("+OK ready").expect("user bob").expect("pass pw1").reply({"+OK", "+OK"});
        s.server.expect("LIST").send("+OK " + QByteArray(65 * 1024, 'x') + "\r\n1 120\r\n.\r\n");
        s.w.btnConnClick();
    } else {
        QVERIFY(s.start());
        s.w.mailModel->setRowChecked(0, true);
        if (where == 1) {
            s.server.sendRaw("+OK " + QByteArray(65 * 1024, 'x'));
        } else if (where == 2) {
            // Only the line's own limit: the line still arriving counts
            // toward the read's bound too, which would otherwise be passed
            // first whenever the line comes in more than one piece.
            s.w.session->maxReadReplyBytes = 4 * 1024 * 1024;
            s.server.expect("TOP 1 100").send("+OK\r\nSubject: big\r\n\r\n" + longLine);
            s.w.btnReadClick();
        } else if (where == 3 || where == 4) {
            QByteArray lines;
            for (int i = 0; i < 20000; ++i)
                lines += (where == 3 ? QByteArray::number(i) + ' ' + QByteArray(60, 'y') : QByteArray()) + "\r\n";
            s.server.expect("TOP 1 0").send("+OK\r\n" + lines + ".\r\n");
            s.w.btnHeaderClick();
        } else if (where == 5) {
            QByteArray lines = "+OK\r\nSubject: parts\r\n\r\n--b\r\ntext\r\n--b\r\n";
            for (int i = 0; i < 20000; ++i)
                lines += "x\r\n";
            s.server.expect("TOP 1 100").send(lines + ".\r\n");
            s.w.btnReadClick();
        } else if (where == 6) {
            QByteArray lines;
            for (int i = 0; i < 20000; ++i)
                lines += "0 5\r\n";
            s.server.expect("LIST").send("+OK\r\n" + lines + ".\r\n");
            s.w.btnListClick();
        } else {
            QByteArray lines;
            for (int i = 1; i <= 1000; ++i)
                lines += QByteArray::number(i) + " 5\r\n";
            // A number listed twice is one message.
            s.server.expect("LIST").send("+OK\r\n" + lines + "1000 5\r\n.\r\n");
            s.w.btnListClick();
            QVERIFY(s.loggedIn(1000));
            s.server.expect("LIST").send("+OK\r\n" + lines + "1001 5\r\n.\r\n");
            s.w.btnListClick();
        }
    }
    QTRY_COMPARE_WITH_TIMEOUT(s.console().count(reason), 1, 20000);
    QVERIFY(!s.w.cSock->Active());
    QVERIFY(s.viewed.isEmpty());
    QVERIFY(s.reconnects());
    CHECK_NOTHING_DELETED(s, QByteArrayList());
}

void FaultsTest::floodWaitsOnTheConnection()
{
    // A typed LIST answered far faster than the window handles it (here one
    // piece a turn): what waits to be handled stays small, the rest waits
    // on the connection, and every line is still handled, in order.
    Session s;
    QVERIFY(s.start());
    s.w.session->readSliceMs = 0;
    const int lines = 600000;
    QByteArray reply = "+OK\r\n";
    for (int i = 1; i <= lines; ++i)
        reply += QByteArray::number(i) + " 100\r\n";
    s.server.expect("LIST").send(reply + ".\r\n");
    qsizetype waitingSeen = 0;
    QObject::connect(s.w.session, &Pop3Session::repliesHandled,
                     [&] { waitingSeen = std::max(waitingSeen, s.w.session->bytesWaiting()); });
    s.w.txtCmdPrompt->setText(QStringLiteral("LIST"));
    QChar key(13);
    s.w.txtCmdPromptKeyPress(s.w.txtCmdPrompt, key);
    QTRY_COMPARE_WITH_TIMEOUT(s.w.session->commandsInFlight(), 0, 120000);
    QVERIFY2(waitingSeen <= 2 * Pop3Session::MaxBytesWaiting, qPrintable(QString::number(waitingSeen)));
    const QString log = s.w.Memo1->text();
    const qsizetype last = log.lastIndexOf(QStringLiteral("%1 100").arg(lines));
    QVERIFY(last > log.lastIndexOf(QStringLiteral("%1 100").arg(lines - 1)));
    QVERIFY(s.w.cSock->Active());
    QVERIFY(s.roundTrip());
    CHECK_SERVER(s);
}

void FaultsTest::binaryGarbage_data()
{
    QTest::addColumn<int>("where");
    QTest::addColumn<quint32>("seed");
    for (quint32 seed : {1u, 2u, 3u}) {
        QTest::addRow("instead of the greeting, seed %u", seed) << 0 << seed;
        QTest::addRow("while idle, seed %u", seed) << 1 << seed;
        QTest::addRow("inside the listing, seed %u", seed) << 2 << seed;
        QTest::addRow("inside a read, seed %u", seed) << 3 << seed;
    }
}

void FaultsTest::binaryGarbage()
{
    QFETCH(int, where);
    QFETCH(quint32, seed);
    const QByteArray bytes = garbage(256 * 1024, seed);
    const QByteArrayList parts = splitRandomly(bytes, seed);
    Session s;
    if (where == 0) {
        // Whatever it makes of the bytes, the client may at most try to log in.
        s.server.autoReply("user", {"-ERR"});
        s.server.autoReply("pass", {"-ERR"});
        s.server.autoReply("LIST", {"-ERR"});
        s.server.acceptClient().chunks(parts);
        s.w.btnConnClick();
    } else {
        QVERIFY(s.start());
        if (where == 1) {
            s.server.chunks(parts).send("\r\n");
        } else if (where == 2) {
            s.server.expect("LIST").send("+OK\r\n").chunks(parts).send("\r\n.\r\n");
            s.w.btnListClick();
        } else {
            s.w.mailModel->setRowChecked(2, true);
            s.server.expect("TOP 3 100").send("+OK\r\n").chunks(parts).send("\r\n.\r\n");
            s.w.btnReadClick();
        }
    }
    QTRY_VERIFY(s.server.scriptDone());
    // Everything sent has been handled once a round trip came back.
    if (where != 0) {
        QVERIFY(s.roundTrip(2000));
        QVERIFY(s.w.cSock->Active());
    }
    if (where == 1) {
        // Unasked lines touch no row.
        QCOMPARE(s.ids(), (QByteArrayList{"1", "2", "3"}));
        for (int row = 0; row < 3; ++row)
            QCOMPARE(s.w.mailModel->subItem(row, 1), QByteArray());
    }
    for (const QByteArray &line : s.server.receivedLines()) {
        static const QByteArrayList allowed{"CAPA", "user bob", "pass pw1", "LIST", "TOP 3 100", "NOOP"};
        QVERIFY2(allowed.contains(line), line.constData());
    }
    // The user can always end the session and start a clean one.
    if (s.w.btnConn->text() == QStringLiteral("&Disconnect"))
        s.w.btnConnClick();
    QCOMPARE(s.w.msgBar->text(), QStringLiteral(" Disconnected from 127.0.0.1"));
    QTRY_VERIFY(!s.server.isClientConnected());
    QVERIFY(s.reconnects());
    CHECK_NOTHING_DELETED(s, QByteArrayList());
}

void FaultsTest::hugeListingIsNotQuadratic()
{
    // A million rows take about three seconds in a normal build and about
    // six with the sanitizers; a cost that grew with the square of the rows
    // would take hours.
    const int rows = 1000000;
    QByteArray listing = "+OK " + QByteArray::number(rows) + " messages\r\n";
    listing.reserve(rows * 16);
    for (int i = 1; i <= rows; ++i)
        listing += QByteArray::number(i) + ' ' + QByteArray::number(1000 + i % 5000) + "\r\n";
    listing += ".\r\n";

    Session s;
    QVERIFY(s.start());
    s.server.expect("LIST").send(listing);
    QElapsedTimer clock;
    clock.start();
    s.w.btnListClick();
    QVERIFY(s.loggedIn(rows, 120000));
    const qint64 ms = clock.elapsed();
    qInfo("LIST of %d lines: %lld ms", rows, ms);
    QVERIFY2(ms < 20000, qPrintable(QString::number(ms)));
    QCOMPARE(s.w.msgBar->text(), QStringLiteral(" Downloading Mail List ... Done."));
    QCOMPARE(s.w.mailModel->subItem(rows - 1, 0), QByteArray::number(rows));
    QCOMPARE(s.w.mailModel->subItem(rows - 1, 4), QByteArray::number(1000 + rows % 5000));

    // The last row is as usable as the first.
    s.server.expect("TOP " + QByteArray::number(rows) + " 0").reply({"+OK", "Subject: last", "."});
    s.w.mailModel->setRowChecked(rows - 1, true);
    clock.restart();
    s.w.btnHeaderClick();
    QTRY_COMPARE_WITH_TIMEOUT(s.w.mailModel->subItem(rows - 1, 1), QByteArray("last"), 20000);
    QTRY_COMPARE(s.w.session->state(), std::uint8_t(ssIdle));
    qInfo("header of the last row: %lld ms", clock.elapsed());
    CHECK_NOTHING_DELETED(s, QByteArrayList());
    CHECK_SERVER(s);
}

void FaultsTest::unaskedRepliesWhileIdle()
{
    Session s;
    QVERIFY(s.start());
    const QString status = s.w.msgBar->text();
    const QByteArray before = s.server.received();
    s.server.sendRaw("+OK\r\n+OK 2 200\r\n-ERR what\r\n1 999\r\n+OK unasked\r\n");
    QTRY_VERIFY(s.console().contains(QStringLiteral("+OK unasked")));
    QCOMPARE(s.ids(), (QByteArrayList{"1", "2", "3"}));
    QCOMPARE(s.w.mailModel->subItem(1, 4), QByteArray("200"));
    QCOMPARE(s.w.session->state(), std::uint8_t(ssIdle));
    QCOMPARE(s.w.msgBar->text(), status);
    QVERIFY(s.w.btnList->isEnabled());
    // The client answered none of it.
    QVERIFY(s.roundTrip());
    QCOMPARE(s.server.received(), before + "NOOP\r\n");  // and nothing else
    CHECK_SERVER(s);
}

void FaultsTest::unaskedHeaderReplyChangesNoRow()
{
    Session s;
    QVERIFY(s.start());
    s.server.expect("TOP 1 0").reply({"+OK", "Subject: first", "."});
    s.w.mailModel->setRowChecked(0, true);
    s.w.btnHeaderClick();
    QTRY_COMPARE(s.w.mailModel->subItem(0, 1), QByteArray("first"));
    QTRY_COMPARE(s.w.session->state(), std::uint8_t(ssIdle));
    // A second header reply nobody asked for, for a checked row.
    s.w.mailModel->setRowChecked(1, true);
    s.server.sendRaw("+OK\r\nSubject: forged\r\nFrom: x@y\r\n.\r\n");
    QVERIFY(s.roundTrip());
    QCOMPARE(s.w.mailModel->subItem(0, 1), QByteArray("first"));
    QCOMPARE(s.w.mailModel->subItem(1, 1), QByteArray());
    QCOMPARE(s.w.mailModel->subItem(1, 2), QByteArray());
    QVERIFY(s.w.mailModel->isChecked(1));
    QCOMPARE(s.sent("TOP"), QByteArrayList{"TOP 1 0"});
    CHECK_SERVER(s);
}

void FaultsTest::unaskedPlusLinesAfterDeleteBatch()
{
    Session s;
    QVERIFY(s.start());
    s.server.expect("DELE 1").reply({"+OK"});
    s.w.mailModel->setRowChecked(0, true);
    s.f.desktop.setNextAnswer(BoxButton::Yes);
    s.w.btnDeleteClick();
    QTRY_COMPARE(s.w.mailModel->count(), 2);
    QTRY_VERIFY(!s.w.session->deleteConfirmed());
    // The user marks a row but does not press Delete; the server sends what
    // look like more DELE answers.
    s.w.mailModel->setRowChecked(0, true);
    s.server.sendRaw("+OK\r\n+OK message 2 deleted\r\n+OK\r\n");
    QVERIFY(s.roundTrip());
    QCOMPARE(s.ids(), (QByteArrayList{"2", "3"}));
    QVERIFY(s.w.mailModel->isChecked(0));
    QCOMPARE(s.f.desktop.boxes.size(), 1);
    CHECK_NOTHING_DELETED(s, QByteArrayList{"DELE 1"});
    CHECK_SERVER(s);
}

void FaultsTest::unaskedPlusLinesWhileDeleteBoxIsOpen()
{
    Session s;
    QVERIFY(s.start());
    s.w.mailModel->setRowChecked(1, true);
    bool arrived = false;
    s.f.desktop.whileBoxOpen = [&](const platform::MessageBoxRequest &) {
        s.server.sendRaw("+OK\r\n+OK\r\n.\r\n+OK\r\n");
        arrived = QTest::qWaitFor([&] { return s.console().count(QStringLiteral("+OK")) >= 3; }, 5000);
    };
    s.f.desktop.setNextAnswer(BoxButton::No);
    s.w.btnDeleteClick();
    QVERIFY(arrived);
    QVERIFY(s.roundTrip());
    QCOMPARE(s.ids(), (QByteArrayList{"1", "2", "3"}));
    QVERIFY(!s.w.session->deleteConfirmed());
    CHECK_NOTHING_DELETED(s, QByteArrayList());
    CHECK_SERVER(s);
}

void FaultsTest::unaskedBodyAfterReadShowsNoViewer()
{
    Session s;
    QVERIFY(s.start());
    s.w.mailModel->setRowChecked(0, true);
    s.server.expect("TOP 1 100").reply({"+OK", "Subject: one", "", "body", "."});
    s.w.btnReadClick();
    QTRY_COMPARE(s.viewed.size(), 1);
    s.server.sendRaw("more body\r\nSubject: other\r\n.\r\n+OK\r\nagain\r\n.\r\n");
    QVERIFY(s.roundTrip());
    QCOMPARE(s.viewed.size(), 1);
    QCOMPARE(s.w.mailModel->subItem(0, 1), QByteArray("one"));
    QVERIFY(s.w.pageGUI->isEnabled());
    CHECK_NOTHING_DELETED(s, QByteArrayList());
    CHECK_SERVER(s);
}

void FaultsTest::unaskedEndMarkerBeforeReadReply()
{
    Session s;
    QVERIFY(s.start());
    s.w.mailModel->setRowChecked(1, true);
    // An end marker first, then the real reply: the read is over at the
    // marker, and the list page must not stay locked.
    s.server.expect("TOP 2 100").send(".\r\n").pause(50).reply({"+OK", "Subject: late", "", "text", "."});
    s.w.btnReadClick();
    QVERIFY(!s.w.pageGUI->isEnabled());
    QTRY_VERIFY(s.server.scriptDone());
    QVERIFY(s.roundTrip());
    QVERIFY(s.w.pageGUI->isEnabled());
    QVERIFY(s.w.btnRead->isEnabled());
    QVERIFY(s.w.session->commandRow().id.isEmpty());
    QVERIFY(s.viewed.isEmpty());
    QCOMPARE(s.w.session->state(), std::uint8_t(ssIdle));
    // The next read works.
    s.server.expect("TOP 2 100").reply({"+OK", "Subject: two", "", "text", "."});
    s.w.btnReadClick();
    QTRY_COMPARE(s.viewed.size(), 1);
    QCOMPARE(s.w.mailModel->subItem(1, 1), QByteArray("two"));
    CHECK_NOTHING_DELETED(s, QByteArrayList());
    CHECK_SERVER(s);
}

int main(int argc, char **argv)
{
    TarnbeckApplication app(argc, argv);
    FaultsTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_faults.moc"
