// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/StatusTextBar.h"
#include "app/TForm1.h"
#include "controls/ConsoleView.h"
#include "mailbox/MailListModel.h"
#include "mailbox/MailListView.h"
#include "session/TClientSocket.h"
#include "session/TClientWinSocket.h"
#include "support/FormFixture.h"
#include "support/ScriptedPop3Server.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QItemSelectionModel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QtTest>

using platform::BoxButton;

// The POP3 conversation driven through the main window against the scripted
// server: login, listing, headers, reading, deleting, quitting.
class SessionTest : public QObject {
    Q_OBJECT
private slots:
    void loginAndListInOneChunk();
    void listingInLaterChunkIsNotShown();
    void refusedPasswordThenRetry();
    void refusedUser();
    void emptyMailbox();
    void headerBatchOverTwoRows();
    void headerOfSelectedRowOnly();
    void readSkipsAttachment();
    void viewerGetsAndReportsDecodedText();
    void decodedHeadersInRowsAndViewer();
    void readWithNothingBeforeEndMarker();
    void readRefusedGivesPageBack();
    void deleteBatchOverThreeRows();
    void deleteAnsweredNoSendsNothing();
    void refusedDeleteStopsBatch();
    void saveAndQuit();
    void marksGoWithReloadedList();

    // Sound behaviour where the plain rules would lose or misplace mail.
    void statusLineSplitByTransport();
    void dotLinesInBodyAreData();
    void blankLinesInMessageKept();
    void nulByteDoesNotCutRead();
    void repliesAreHandledWhileTheViewerIsOpen();
    void headerReplyActsOnRequestedRow();
    void deleteReplyActsOnRequestedRow();
    void replyFollowsItsRowThroughSortAndDuplicates();
    void plusLineAfterDeleteBatchDeletesNothing();
    void deleteBatchFromSelection();
    void readWithCheckedRowsAndNoSelection();
    void readWithAllCheckedAndNoSelection();
    void cutOffReadDoesNotBlockNextLogin();
    void consoleShownAfterViewerCloses();

    // Every reply to its own command, whoever sent it.
    void typedTopBeforeGetHeader();
    void typedListDuringHeaderBatch();
    void refreshListPressedTwice();
    void typedRetrDuringDeleteBatch();
    void lostConnectionEndsDeleteBatch();
    void statusTextStaysBounded();
    void slicedRepliesBeforeTheEnd();
    void decodedReadFetchesSmallMessagesWhole();
    void deleteBatchWaitingForCapabilitiesOutlivesEarlierReply();

    // Headers by themselves, the delete question, closing, the sort.
    void autoHeadersYieldToARead();
    void autoHeadersYieldToGetHeaderAndDelete();
    void autoHeadersSwitchedOnDuringARead();
    void deleteQuestionNamesItsMessages();
    void closeWithDeletionsPending_data();
    void closeWithDeletionsPending();
    void closeWaitsForQuitsOwnAnswer();
    void sortHoldsAfterListingAndDecodeSwitch();
};

namespace {

const QByteArrayList kThreeRows{"1 120", "2 200", "3 300"};

struct Viewed {
    QByteArray to, from, subject;
    QList<QByteArray> lines;
    bool whole = false;
    bool decodedText = false;
};

// A main window wired to a scripted server, with the viewer captured.
struct Session {
    FormFixture f;
    TForm1 &w;
    ScriptedPop3Server server;
    QList<Viewed> viewed;
    std::function<void()> duringViewer;
    // What the viewer would call when the user switches Decoded Text.
    std::function<void(bool)> decodedTextChanged;

    Session() : w(*f.form)
    {
        w.txtServer->setEditText(QStringLiteral("127.0.0.1"));
        w.txtPort->setText(QString::number(server.port()));
        w.txtUID->setText(QStringLiteral("bob"));
        w.txtPWD->setText(QStringLiteral("pw1"));
        w.showViewer = [this](QWidget *, const ViewerMessage &message, const auto &changed) {
            viewed.append(
                {message.to, message.from, message.subject, message.lines, message.whole, message.decodedText});
            decodedTextChanged = changed;
            if (duringViewer)
                duringViewer();
        };
    }

    // Greeting, USER and PASS answered in one chunk, LIST answered with rows.
    ScriptedPop3Server &login(const QByteArrayList &listing)
    {
        server.greet("+OK ready").expect("user bob").expect("pass pw1").reply({"+OK", "+OK logged in"});
        server.expect("LIST");
        QByteArrayList reply{"+OK"};
        reply += listing;
        reply << ".";
        return server.reply(reply);
    }

    bool loggedIn(int rows)
    {
        return QTest::qWaitFor([&] { return w.mailModel->count() == rows && w.session->state() == ssIdle; }, 5000);
    }

    // Connects, logs in and waits for the listing's rows.
    bool start(const QByteArrayList &listing = kThreeRows)
    {
        login(listing);
        w.btnConnClick();
        return loggedIn(int(listing.size()));
    }

    QStringList console() const { return w.Memo1->text().split(QLatin1Char('\n')); }

    // A line typed on the console and sent with Enter.
    void type(const QString &line)
    {
        w.txtCmdPrompt->setText(line);
        QChar key(13);
        w.txtCmdPromptKeyPress(w.txtCmdPrompt, key);
    }

    QByteArray subject(int row) const { return w.mailModel->subItem(row, MailRow::Subject); }

    void select(const QList<int> &rows)
    {
        w.mailInfo->selectionModel()->clearSelection();
        for (int row : rows)
            w.mailInfo->selectionModel()->select(w.mailModel->index(row, 1),
                                                 QItemSelectionModel::Select | QItemSelectionModel::Rows);
    }

    QByteArrayList ids() const
    {
        QByteArrayList result;
        for (int row = 0; row < w.mailModel->count(); ++row)
            result << w.mailModel->subItem(row, 0);
        return result;
    }

    QString problems() const { return server.errors().join(QLatin1Char('\n')); }

    // The client lines that begin with the command.
    QByteArrayList sent(const QByteArray &command) const
    {
        QByteArrayList result;
        for (const QByteArray &line : server.receivedLines()) {
            if (line.startsWith(command))
                result << line;
        }
        return result;
    }

    // Everything sent before has reached the server: a NOOP round trip.
    bool roundTrip()
    {
        server.autoReply("NOOP", {"+OK"});
        w.cSock->Socket()->SendString("NOOP\r\n");
        return QTest::qWaitFor([&] { return server.receivedLines().endsWith("NOOP"); }, 5000);
    }
};

}  // namespace

#define CHECK_SERVER(s) QVERIFY2((s).server.errors().isEmpty(), qPrintable((s).problems()))

void SessionTest::loginAndListInOneChunk()
{
    Session s;
    s.server.greet("  +OK ready  ").expect("user bob").expect("pass p\xc3\xa4w").reply({"+OK", "+OK"});
    s.server.expect("LIST").reply({"+OK 3 messages", "1 120", "2 200", "3 300", "."});
    s.w.txtPWD->setText(QStringLiteral("p\u00e4w"));
    s.w.btnConnClick();
    QTRY_COMPARE(s.w.mailModel->count(), 3);
    QCOMPARE(s.server.receivedLines().value(1), QByteArray("user bob"));
    QCOMPARE(s.server.receivedLines().value(2), QByteArray("pass p\xc3\xa4w"));
    QCOMPARE(s.server.received(), QByteArray("CAPA\r\nuser bob\r\npass p\xc3\xa4w\r\nLIST\r\n"));
    QCOMPARE(s.w.session->state(), std::uint8_t(ssIdle));
    QCOMPARE(s.w.msgBar->text(), QStringLiteral(" Downloading Mail List ... Done."));
    QVERIFY(!s.w.btnLogin->isEnabled());
    QVERIFY(s.w.btnList->isEnabled());
    QVERIFY(s.w.btnQuit->isEnabled());
    QVERIFY(s.w.AllMail->isEnabled());
    QCOMPARE(s.ids(), (QByteArrayList{"1", "2", "3"}));
    QCOMPARE(s.w.mailModel->subItem(2, 4), QByteArray("300"));
    const QStringList console = s.console();
    // The password is masked, one star per character; the greeting trimmed.
    QCOMPARE(console.mid(0, 6), (QStringList{"+OK ready", "? CAPA", "-ERR unknown command",
                                             "This server offers no encryption (STLS): the password goes unencrypted.",
                                             "? USER bob", "? PASS ***"}));
    QVERIFY(console.contains(QStringLiteral("? LIST")));
    // The listing came in the same chunk as its status line: it is shown.
    QCOMPARE(console.mid(console.indexOf(QStringLiteral("? LIST")) + 1),
             (QStringList{"+OK 3 messages", "1 120", "2 200", "3 300", "."}));
}

void SessionTest::listingInLaterChunkIsNotShown()
{
    Session s;
    s.server.greet("+OK ready").expect("user bob").expect("pass pw1").reply({"+OK", "+OK"});
    s.server.expect("LIST").reply({"+OK 2 messages"}).pause(50).reply({"1 120", "2 200", "."});
    s.w.btnConnClick();
    QVERIFY(s.loggedIn(2));
    const QStringList console = s.console();
    QCOMPARE(console.last(), QStringLiteral("+OK 2 messages"));
    QVERIFY(!console.contains(QStringLiteral("1 120")));
    CHECK_SERVER(s);
}

void SessionTest::refusedPasswordThenRetry()
{
    Session s;
    s.server.greet("+OK ready").expect("user bob").expect("pass pw1").reply({"+OK", "-ERR wrong"});
    s.w.btnConnClick();
    QTRY_COMPARE(s.w.msgBar->text(), QStringLiteral(" Login to user account ... Fail !"));
    QCOMPARE(s.w.session->state(), std::uint8_t(ssWaitPass));
    QVERIFY(s.w.btnLogin->isEnabled());
    QVERIFY(!s.w.btnList->isEnabled());
    QVERIFY(!s.w.AllMail->isEnabled());

    s.w.txtPWD->setText(QStringLiteral("pw2"));
    s.server.expect("user bob").expect("pass pw2").reply({"+OK", "+OK"}).expect("LIST").reply({"+OK", "1 10", "."});
    s.w.btnLoginClick();
    QVERIFY(s.loggedIn(1));
    QVERIFY(!s.w.btnLogin->isEnabled());
    QVERIFY(s.w.btnList->isEnabled());
    CHECK_SERVER(s);
}

void SessionTest::refusedUser()
{
    Session s;
    s.server.greet("+OK ready").expect("user bob").expect("pass pw1").reply({"-ERR no such user", "-ERR"});
    s.w.btnConnClick();
    QTRY_VERIFY(s.server.scriptDone());
    QTRY_VERIFY(s.w.btnLogin->isEnabled());
    QTRY_COMPARE(s.console().mid(s.console().size() - 2), (QStringList{"-ERR no such user", "-ERR"}));
    QCOMPARE(s.w.session->state(), std::uint8_t(ssWaitUser));
    QCOMPARE(s.w.msgBar->text(), QStringLiteral(" Login to user account ..."));
    QVERIFY(!s.w.btnList->isEnabled());
    CHECK_SERVER(s);
}

void SessionTest::emptyMailbox()
{
    Session s;
    s.login({});
    s.w.btnConnClick();
    QTRY_COMPARE(s.f.desktop.boxes.size(), 1);
    const platform::MessageBoxRequest box = s.f.desktop.boxes.first();
    QCOMPARE(box.title, QStringLiteral("Information"));
    QCOMPARE(box.text, QStringLiteral("Mailbox is empty !\rDisconnected from server."));
    QCOMPARE(box.icon, platform::BoxIcon::Information);
    QCOMPARE(box.buttons, QList<BoxButton>{BoxButton::Ok});
    QVERIFY(!s.w.cSock->Active());
    QCOMPARE(s.w.msgBar->text(), QStringLiteral(" Disconnected from 127.0.0.1 Done."));
    QCOMPARE(s.w.session->state(), std::uint8_t(ssIdle));
    QCOMPARE(s.w.btnConn->text(), QStringLiteral("&Connect"));
}

void SessionTest::headerBatchOverTwoRows()
{
    Session s;
    QVERIFY(s.start());
    s.server.expect("TOP 1 0").reply({"+OK", "From: a@x", "Subject: first", "To: me", "", "."});
    s.server.expect("TOP 3 0").chunks({"+OK\r\nSubject: third\r\n", "From: c@x\r\n.\r\n"}, 30);
    s.w.mailModel->setRowChecked(0, true);
    s.w.mailModel->setRowChecked(2, true);
    s.w.btnHeaderClick();
    // A batch of two rows asks first whether the server pipelines; this one
    // refuses CAPA, so the batch runs one TOP at a time.
    QCOMPARE(s.w.session->state(), std::uint8_t(ssWaitCapa));
    QTRY_COMPARE(s.w.session->state(), std::uint8_t(ssIdle));
    QCOMPARE(s.w.msgBar->text(), QStringLiteral(" Downloading Mail #3 Header ... Done."));
    QCOMPARE(s.w.mailModel->subItem(0, 1), QByteArray("first"));
    QCOMPARE(s.w.mailModel->subItem(0, 2), QByteArray("a@x"));
    QCOMPARE(s.w.mailModel->subItem(0, 3), QByteArray("me"));
    QCOMPARE(s.w.mailModel->subItem(1, 1), QByteArray());
    QCOMPARE(s.w.mailModel->subItem(2, 1), QByteArray("third"));
    QCOMPARE(s.w.mailModel->subItem(2, 3), QByteArray());
    QCOMPARE(s.w.CheckedCount, 0);
    QVERIFY(s.console().contains(QStringLiteral("? CAPA")));
    QVERIFY(s.console().contains(QStringLiteral("? TOP 1 0")));
    QVERIFY(s.console().contains(QStringLiteral("? TOP 3 0")));
    // A chunk that came once the header was being collected is not shown.
    QVERIFY(s.console().contains(QStringLiteral("From: a@x")));
    QVERIFY(!s.console().contains(QStringLiteral("From: c@x")));
    CHECK_SERVER(s);
}

void SessionTest::headerOfSelectedRowOnly()
{
    Session s;
    QVERIFY(s.start());
    s.server.expect("TOP 2 0").reply({"+OK", "Subject: two", "."});
    s.select({1});
    s.w.btnHeaderClick();
    QTRY_COMPARE(s.w.mailModel->subItem(1, 1), QByteArray("two"));
    QTRY_COMPARE(s.w.session->state(), std::uint8_t(ssIdle));
    QCOMPARE(s.server.receivedLines().last(), QByteArray("TOP 2 0"));
    CHECK_SERVER(s);
}

void SessionTest::readSkipsAttachment()
{
    Session s;
    QVERIFY(s.start());
    s.server.expect("TOP 2 100")
        .reply({"+OK", "From: a@x", "To: b@y", "Subject: pics", "Content-Type: multipart/mixed", "", "--XYZ", "hello",
                "--XYZ", "Content-Type: image/png", "AAAA", "--XYZ", "BBBB", "--XYZ--", "."});
    s.select({1});
    s.w.btnReadClick();
    QVERIFY(!s.w.pageGUI->isEnabled());
    QCOMPARE(s.w.msgBar->text(), QStringLiteral(" Downloading Mail #2 ..."));
    QCOMPARE(s.console().last(), QStringLiteral("RETR 2"));
    QTRY_COMPARE(s.viewed.size(), 1);
    const Viewed v = s.viewed.first();
    QCOMPARE(v.to, QByteArray("b@y"));
    QCOMPARE(v.from, QByteArray("a@x"));
    QCOMPARE(v.subject, QByteArray("pics"));
    QCOMPARE(v.lines, (QByteArrayList{"From: a@x", "To: b@y", "Subject: pics", "Content-Type: multipart/mixed", "",
                                      "--XYZ", "hello", "--XYZ"}));
    QCOMPARE(s.w.msgBar->text(),
             QStringLiteral(" Downloading Mail #2 ... Skipping attachment ... Skipping attachment ..."));
    QVERIFY(s.w.pageGUI->isEnabled());
    QVERIFY(!s.w.session->skippingRest());
    QCOMPARE(s.w.mailModel->subItem(1, 1), QByteArray("pics"));
    QVERIFY(!s.w.mailModel->isChecked(1));
    CHECK_SERVER(s);
}

// The viewer opens with the window's Decoded Text, and a switch in the
// viewer is the window's from then on (and what the settings keep).
void SessionTest::viewerGetsAndReportsDecodedText()
{
    Session s;
    QVERIFY(s.start());
    s.duringViewer = [&] { s.decodedTextChanged(true); };
    s.server.expect("TOP 2 100").reply({"+OK", "Subject: one", "", "text", "."});
    s.select({1});
    s.w.btnReadClick();
    QTRY_COMPARE(s.viewed.size(), 1);
    QVERIFY(!s.viewed.last().decodedText);
    QVERIFY(!s.viewed.last().whole);
    QVERIFY(s.w.DecodeText);

    // Decoded now, so the message comes whole.
    s.duringViewer = [&] { s.decodedTextChanged(false); };
    s.server.expect("RETR 2").reply({"+OK", "Subject: two", "", "text", "."});
    s.w.btnReadClick();
    QTRY_COMPARE(s.viewed.size(), 2);
    QVERIFY(s.viewed.last().decodedText);
    QVERIFY(s.viewed.last().whole);
    QVERIFY(!s.w.DecodeText);
    QTRY_COMPARE(s.w.session->state(), std::uint8_t(ssIdle));
    CHECK_SERVER(s);
}

// With "Decode Headers" on, the row and the viewer read as the author wrote
// them, from the header section alone; off, the raw texts come back at once.
void SessionTest::decodedHeadersInRowsAndViewer()
{
    Session s;
    QVERIFY(s.start());
    s.w.DecodeHeaders1->setChecked(true);
    s.server.expect("TOP 2 100")
        .reply({"+OK", "from: =?UTF-8?Q?J=C3=B6rg?= <j@x>", "Subject: =?ISO-8859-1?Q?=C4pfel?=",
                "\t=?ISO-8859-1?Q?_und_Birnen?=", "To: b@y", "", "From: body@evil", "Subject: body", "."});
    s.select({1});
    s.w.btnReadClick();
    QTRY_COMPARE(s.viewed.size(), 1);
    const Viewed v = s.viewed.first();
    QCOMPARE(QString::fromUtf8(v.from), u"J\u00f6rg <j@x>"_qs);
    QCOMPARE(QString::fromUtf8(v.subject), u"\u00c4pfel und Birnen"_qs);
    QCOMPARE(v.to, QByteArray("b@y"));
    const auto shown = [&](int column) {
        return s.w.mailModel->data(s.w.mailModel->index(1, column), Qt::DisplayRole).toString();
    };
    QCOMPARE(shown(MailListModel::SubjectColumn), u"\u00c4pfel und Birnen"_qs);
    QCOMPARE(shown(MailListModel::FromColumn), u"J\u00f6rg <j@x>"_qs);

    // Off: the seed's rule, a body line included; nothing is fetched again.
    s.w.DecodeHeaders1->setChecked(false);
    QCOMPARE(shown(MailListModel::SubjectColumn), u"body"_qs);
    QCOMPARE(shown(MailListModel::FromColumn), u"body@evil"_qs);
    QTRY_COMPARE(s.w.session->state(), std::uint8_t(ssIdle));
    CHECK_SERVER(s);
}

void SessionTest::readWithNothingBeforeEndMarker()
{
    Session s;
    QVERIFY(s.start());
    s.server.expect("TOP 1 100").reply({"+OK", "."});
    s.select({0});
    s.w.btnReadClick();
    QTRY_COMPARE(s.w.session->state(), std::uint8_t(ssIdle));
    QCOMPARE(s.w.msgBar->text(), QStringLiteral(" Downloading Mail #1 ... Done."));
    QVERIFY(s.viewed.isEmpty());
    // No viewer gives the page back, so the reply does.
    QVERIFY(s.w.pageGUI->isEnabled());
    QVERIFY(s.w.btnRead->isEnabled());
    CHECK_SERVER(s);
}

void SessionTest::readRefusedGivesPageBack()
{
    Session s;
    QVERIFY(s.start());
    s.server.expect("TOP 1 100").reply({"-ERR no such message"});
    s.select({0});
    s.w.btnReadClick();
    QTRY_VERIFY(s.w.pageGUI->isEnabled());
    QCOMPARE(s.w.session->state(), std::uint8_t(ssWaitRead));
    QCOMPARE(s.w.msgBar->text(), QStringLiteral(" Downloading Mail #1 ..."));
    QVERIFY(s.w.session->commandRow().id.isEmpty());
}

void SessionTest::deleteBatchOverThreeRows()
{
    Session s;
    QVERIFY(s.start());
    s.server.expect("DELE 1").reply({"+OK"}).expect("DELE 2").reply({"+OK"}).expect("DELE 3").reply({"+OK"});
    s.w.AllMail->setChecked(true);
    QCOMPARE(s.w.CheckedCount, 3);
    s.f.desktop.setNextAnswer(BoxButton::Yes);
    s.w.btnDeleteClick();
    QCOMPARE(s.f.desktop.boxes.size(), 1);
    const platform::MessageBoxRequest box = s.f.desktop.boxes.first();
    QCOMPARE(box.title, QStringLiteral("Warning"));
    QCOMPARE(box.text, QStringLiteral("Confirm delete selected mail(s) ?"));
    QCOMPARE(box.icon, platform::BoxIcon::Warning);
    QCOMPARE(box.buttons, (QList<BoxButton>{BoxButton::Yes, BoxButton::No}));
    QCOMPARE(box.defaultButton, BoxButton::Yes);
    QCOMPARE(box.escapeButton, BoxButton::No);
    QTRY_COMPARE(s.w.mailModel->count(), 0);
    QTRY_VERIFY(!s.w.session->deleteConfirmed());
    QCOMPARE(s.f.desktop.boxes.size(), 1);
    QCOMPARE(s.w.msgBar->text(), QStringLiteral("Deleting Mail #3 ... Done."));
    QCOMPARE(s.w.session->state(), std::uint8_t(ssWaitDelete));
    QVERIFY(!s.w.btnDelete->isEnabled());
    QVERIFY(!s.w.btnHeader->isEnabled());
    const QStringList console = s.console();
    QVERIFY(console.contains(QStringLiteral("DELE 1")) && console.contains(QStringLiteral("DELE 3")));
    CHECK_SERVER(s);
}

void SessionTest::deleteAnsweredNoSendsNothing()
{
    Session s;
    QVERIFY(s.start());
    const QByteArray before = s.server.received();
    s.w.mailModel->setRowChecked(0, true);
    s.w.mailModel->setRowChecked(1, true);
    s.f.desktop.setNextAnswer(BoxButton::No);
    s.w.btnDeleteClick();
    QCOMPARE(s.f.desktop.boxes.size(), 1);
    QVERIFY(!s.w.session->deleteConfirmed());
    QCOMPARE(s.w.session->state(), std::uint8_t(ssIdle));
    QVERIFY(s.w.mailModel->isChecked(0) && s.w.mailModel->isChecked(1));
    // Give a stray DELE time to reach the server: a NOOP round trip.
    s.server.autoReply("NOOP", {"+OK"});
    s.w.cSock->Socket()->SendString("NOOP\r\n");
    QTRY_COMPARE(s.server.receivedLines().last(), QByteArray("NOOP"));
    QCOMPARE(s.server.received(), before + "NOOP\r\n");
}

void SessionTest::refusedDeleteStopsBatch()
{
    Session s;
    QVERIFY(s.start());
    s.server.expect("DELE 1").reply({"-ERR locked"});
    s.w.mailModel->setRowChecked(0, true);
    s.w.mailModel->setRowChecked(1, true);
    s.f.desktop.setNextAnswer(BoxButton::Yes);
    s.w.btnDeleteClick();
    QTRY_VERIFY(s.server.scriptDone());
    QTRY_COMPARE(s.console().last(), QStringLiteral("-ERR locked"));
    QCOMPARE(s.w.mailModel->count(), 3);
    // The refusal ended the batch and spent its confirmation: DELE 2 never
    // went out, and the next press asks again.
    QVERIFY(!s.w.session->deleteConfirmed());
    QVERIFY(s.roundTrip());
    QCOMPARE(s.sent("DELE"), QByteArrayList{"DELE 1"});
    s.server.expect("DELE 1").reply({"+OK"}).expect("DELE 2").reply({"+OK"});
    s.f.desktop.setNextAnswer(BoxButton::Yes);
    s.w.btnDeleteClick();
    QTRY_COMPARE(s.w.mailModel->count(), 1);
    QTRY_VERIFY(!s.w.session->deleteConfirmed());
    QCOMPARE(s.f.desktop.boxes.size(), 2);
    QCOMPARE(s.ids(), QByteArrayList{"3"});
    CHECK_SERVER(s);
}

void SessionTest::saveAndQuit()
{
    Session s;
    QVERIFY(s.start());
    s.server.expect("QUIT").reply({"+OK bye"}).close();
    const QString status = s.w.msgBar->text();
    s.w.btnQuitClick();
    QCOMPARE(s.w.mailModel->count(), 0);
    QVERIFY(!s.w.btnList->isEnabled());
    QVERIFY(!s.w.btnQuit->isEnabled());
    QVERIFY(!s.w.AllMail->isEnabled());
    QCOMPARE(s.w.msgBar->text(), status);
    QCOMPARE(s.console().last(), QStringLiteral("QUIT "));
    QTRY_VERIFY(!s.w.cSock->Active());
    QVERIFY(s.console().contains(QStringLiteral("+OK bye")));
    QVERIFY(s.server.received().endsWith("QUIT\r\n"));
    CHECK_SERVER(s);
}

void SessionTest::marksGoWithReloadedList()
{
    // Checked rows, then Mailbox: until the new listing arrives the list is
    // empty, and Get Header or Read Mail has nothing to act on.
    Session s;
    QVERIFY(s.start());
    s.w.mailModel->setRowChecked(0, true);
    s.w.mailModel->setRowChecked(2, true);
    s.server.expect("LIST");
    s.w.btnListClick();
    QTRY_VERIFY(s.server.scriptDone());
    QCOMPARE(s.w.mailModel->count(), 0);
    QCOMPARE(s.w.CheckedCount, 0);
    s.w.btnHeaderClick();
    s.w.btnReadClick();
    QVERIFY(s.w.pageGUI->isEnabled());
    // Even a count that claimed a checked row finds no row to ask for.
    s.w.CheckedCount = 1;
    s.w.btnHeaderClick();
    s.w.btnReadClick();
    QVERIFY(s.w.pageGUI->isEnabled());
    QCOMPARE(s.w.session->state(), std::uint8_t(ssWaitList));
    s.w.CheckedCount = 0;
    s.server.reply({"+OK", "1 120", "."});
    QTRY_COMPARE(s.w.mailModel->count(), 1);
    QTRY_COMPARE(s.w.session->state(), std::uint8_t(ssIdle));
    // Nothing but LIST went out after the login.
    QCOMPARE(s.server.receivedLines().mid(3), (QByteArrayList{"LIST", "LIST"}));
    CHECK_SERVER(s);
}

void SessionTest::statusLineSplitByTransport()
{
    Session s;
    s.server.greet("+OK ready").expect("user bob").expect("pass pw1").chunks({"+O", "K\r\n+OK 2 mes", "sages\r\n"}, 40);
    s.server.expect("LIST").reply({"+OK", "1 10", "."});
    s.w.btnConnClick();
    // Judged by its first character, the "K" half would have refused the user.
    QVERIFY(s.loggedIn(1));
    QVERIFY(!s.w.btnLogin->isEnabled());
    // The console shows each read as it came.
    const QStringList console = s.console();
    QVERIFY(console.contains(QStringLiteral("+O")));
    QVERIFY(console.contains(QStringLiteral("sages")));
    CHECK_SERVER(s);
}

void SessionTest::dotLinesInBodyAreData()
{
    Session s;
    QVERIFY(s.start());
    s.server.expect("TOP 1 100").reply({"+OK", "Subject: dots", "", "..", "..hidden", ".", "+OK"});
    s.select({0});
    s.w.btnReadClick();
    QTRY_COMPARE(s.viewed.size(), 1);
    QCOMPARE(s.viewed.first().lines, (QByteArrayList{"Subject: dots", "", ".", ".hidden"}));
    // Only "." exactly ends a reply: not one with a blank before it or a
    // stray CR after it.
    s.server.expect("TOP 2 0").reply({"+OK", "Subject: x", " .", ".\r", "..Subject: y", "From: f", "."});
    s.select({1});
    s.w.btnHeaderClick();
    QTRY_COMPARE(s.w.session->state(), std::uint8_t(ssIdle));
    QCOMPARE(s.w.mailModel->subItem(1, 1), QByteArray("x"));
    QCOMPARE(s.w.mailModel->subItem(1, 2), QByteArray("f"));
    QCOMPARE(s.viewed.size(), 1);
    CHECK_SERVER(s);
}

void SessionTest::blankLinesInMessageKept()
{
    Session s;
    QVERIFY(s.start());
    s.server.expect("TOP 3 100").reply({"+OK", "Subject: s", "", "para one", "", "", "  indented  ", "."});
    s.select({2});
    s.w.btnReadClick();
    QTRY_COMPARE(s.viewed.size(), 1);
    QCOMPARE(s.viewed.first().lines, (QByteArrayList{"Subject: s", "", "para one", "", "", "  indented  "}));
}

void SessionTest::nulByteDoesNotCutRead()
{
    Session s;
    s.server.greet("+OK ready").expect("user bob").expect("pass pw1").reply({"+OK", "+OK"});
    s.server.expect("LIST").send(QByteArray("+OK\r\n1 1") + '\0' + QByteArray("20\r\n2 200\r\n.\r\n"));
    s.w.btnConnClick();
    QVERIFY(s.loggedIn(2));
    // The NUL is a byte of the line: kept, and left out only where shown.
    QCOMPARE(s.w.mailModel->subItem(0, 4), QByteArray("1\0"
                                                      "20",
                                                      4));
    QCOMPARE(s.w.mailModel->index(0, MailListModel::BytesColumn).data().toString(), QStringLiteral("120"));
    QCOMPARE(s.w.mailModel->subItem(1, 0), QByteArray("2"));
}

void SessionTest::repliesAreHandledWhileTheViewerIsOpen()
{
    Session s;
    QVERIFY(s.start());
    s.server.expect("TOP 1 100").reply({"+OK", "Subject: s", "."});
    // The viewer opens once the reply is handled, from the event loop: what
    // the server sends while it is open (a reply to a line typed before the
    // read) is shown at once, not after the viewer closes.
    bool shownWhileOpen = false;
    s.duringViewer = [&] {
        QVERIFY(s.w.session->commandsInFlight() == 0);
        s.server.sendRaw("+OK 3 360\r\n");
        shownWhileOpen = QTest::qWaitFor([&] { return s.console().last() == QStringLiteral("+OK 3 360"); }, 5000);
    };
    s.select({0});
    s.w.btnReadClick();
    QTRY_COMPARE(s.viewed.size(), 1);
    QVERIFY(shownWhileOpen);
}

void SessionTest::headerReplyActsOnRequestedRow()
{
    Session s;
    QVERIFY(s.start());
    s.server.expect("TOP 1 0");
    s.w.mailModel->setRowChecked(0, true);
    s.w.btnHeaderClick();
    QTRY_VERIFY(s.server.scriptDone());
    // The user changes the marks while the reply is on its way.
    s.w.mailModel->setRowChecked(0, false);
    s.w.mailModel->setRowChecked(1, true);
    s.server.expect("TOP 2 0").reply({"+OK", "Subject: two", "."});
    s.server.sendRaw("+OK\r\nSubject: one\r\n.\r\n");
    QTRY_COMPARE(s.w.mailModel->subItem(1, 1), QByteArray("two"));
    QCOMPARE(s.w.mailModel->subItem(0, 1), QByteArray("one"));
    CHECK_SERVER(s);
}

void SessionTest::deleteReplyActsOnRequestedRow()
{
    Session s;
    QVERIFY(s.start());
    s.server.expect("DELE 1");
    s.w.mailModel->setRowChecked(0, true);
    s.f.desktop.setNextAnswer(BoxButton::Yes);
    s.w.btnDeleteClick();
    QTRY_VERIFY(s.server.scriptDone());
    s.w.mailModel->setRowChecked(0, false);
    s.w.mailModel->setRowChecked(2, true);
    s.server.sendRaw("+OK\r\n");
    // Message 1 is gone from the list (the server deleted it), not message
    // 3's row; row 3, checked after the question, is not deleted.
    QTRY_COMPARE(s.w.mailModel->count(), 2);
    QCOMPARE(s.ids(), (QByteArrayList{"2", "3"}));
    QTRY_VERIFY(!s.w.session->deleteConfirmed());
    QVERIFY(s.roundTrip());
    QCOMPARE(s.sent("DELE"), QByteArrayList{"DELE 1"});
    CHECK_SERVER(s);
}

void SessionTest::replyFollowsItsRowThroughSortAndDuplicates()
{
    // A server that lists one message number twice: the message gets one
    // row, the first the server listed.
    Session s;
    s.login({"1 100", "2 200", "1 300"});
    s.w.btnConnClick();
    QVERIFY(s.loggedIn(2));
    QCOMPARE(s.ids(), (QByteArrayList{"1", "2"}));
    QCOMPARE(s.w.mailModel->subItem(0, MailRow::Bytes), QByteArray("100"));
    // The reply belongs to the row the command went out for, after a sort.
    s.server.expect("TOP 1 0");
    s.w.mailModel->setRowChecked(0, true);
    s.w.btnHeaderClick();
    QTRY_VERIFY(s.server.scriptDone());
    s.w.mailInfoColumnClick(MailListModel::BytesColumn);  // ascending: no move
    s.w.mailInfoColumnClick(MailListModel::BytesColumn);  // descending: "2 200" first
    QCOMPARE(s.w.mailModel->subItem(0, MailRow::Bytes), QByteArray("200"));
    s.server.sendRaw("+OK\r\nSubject: first\r\n.\r\n");
    QTRY_COMPARE(s.w.mailModel->subItem(1, MailRow::Subject), QByteArray("first"));
    QCOMPARE(s.w.mailModel->subItem(0, MailRow::Subject), QByteArray());
    QCOMPARE(s.w.mailModel->checkedCount(), 0);
    CHECK_SERVER(s);
}

void SessionTest::plusLineAfterDeleteBatchDeletesNothing()
{
    Session s;
    QVERIFY(s.start());
    s.server.expect("DELE 1").reply({"+OK"});
    s.server.autoReply("NOOP", {"+OK"});
    s.w.mailModel->setRowChecked(0, true);
    s.f.desktop.setNextAnswer(BoxButton::Yes);
    s.w.btnDeleteClick();
    QTRY_COMPARE(s.w.mailModel->count(), 2);
    QTRY_VERIFY(!s.w.session->deleteConfirmed());
    QCOMPARE(s.w.session->state(), std::uint8_t(ssWaitDelete));
    s.select({0});
    s.w.txtCmdPrompt->setText(QStringLiteral("NOOP"));
    QChar key(13);
    s.w.txtCmdPromptKeyPress(s.w.txtCmdPrompt, key);
    QTRY_COMPARE(s.console().last(), QStringLiteral("+OK"));
    QCOMPARE(s.ids(), (QByteArrayList{"2", "3"}));
    QCOMPARE(s.f.desktop.boxes.size(), 1);
    CHECK_SERVER(s);
}

void SessionTest::deleteBatchFromSelection()
{
    Session s;
    QVERIFY(s.start());
    s.server.expect("DELE 1").reply({"+OK"}).expect("DELE 3").reply({"+OK"});
    s.select({0, 2});
    QCOMPARE(s.w.CheckedCount, 0);
    s.f.desktop.setNextAnswer(BoxButton::Yes);
    s.w.btnDeleteClick();
    QTRY_COMPARE(s.w.mailModel->count(), 1);
    QTRY_VERIFY(!s.w.session->deleteConfirmed());
    QCOMPARE(s.ids(), QByteArrayList{"2"});
    QCOMPARE(s.f.desktop.boxes.size(), 1);
    QCOMPARE(s.w.CheckedCount, 0);
    QVERIFY(!s.w.btnDelete->isEnabled());
    CHECK_SERVER(s);
}

void SessionTest::readWithCheckedRowsAndNoSelection()
{
    Session s;
    QVERIFY(s.start());
    s.server.expect("TOP 2 100").reply({"+OK", "Subject: two", "."});
    s.w.mailModel->setRowChecked(1, true);
    s.w.mailModel->setRowChecked(2, true);
    s.w.btnReadClick();
    QTRY_COMPARE(s.viewed.size(), 1);
    QCOMPARE(s.viewed.first().subject, QByteArray("two"));
    CHECK_SERVER(s);
}

void SessionTest::readWithAllCheckedAndNoSelection()
{
    Session s;
    QVERIFY(s.start());
    s.server.expect("TOP 1 100").reply({"+OK", "Subject: one", "."});
    s.w.AllMail->setChecked(true);
    s.w.btnReadClick();
    QTRY_COMPARE(s.viewed.size(), 1);
    QCOMPARE(s.viewed.first().subject, QByteArray("one"));
    QCOMPARE(s.w.CheckedCount, 0);
    CHECK_SERVER(s);
}

void SessionTest::cutOffReadDoesNotBlockNextLogin()
{
    Session s;
    QVERIFY(s.start());
    s.server.expect("TOP 1 100").reply({"+OK", "--B", "a", "--B", "attachment"}).close();
    s.select({0});
    s.w.btnReadClick();
    QTRY_VERIFY(!s.w.cSock->Active());
    QVERIFY(s.w.session->skippingRest());
    // A new connection logs in and lists as usual.
    QVERIFY(s.start({"1 120"}));
    QVERIFY(s.w.pageGUI->isEnabled());
    QVERIFY(s.w.btnList->isEnabled());
    CHECK_SERVER(s);
}

void SessionTest::consoleShownAfterViewerCloses()
{
    Session s;
    QVERIFY(s.start());
    s.server.expect("TOP 1 100").reply({"+OK", "Subject: s", "."});
    s.server.expect("STAT").reply({"+OK 3 620"});
    s.select({0});
    s.w.btnReadClick();
    QTRY_COMPARE(s.viewed.size(), 1);
    s.w.txtCmdPrompt->setText(QStringLiteral("STAT"));
    QChar key(13);
    s.w.txtCmdPromptKeyPress(s.w.txtCmdPrompt, key);
    QTRY_COMPARE(s.console().last(), QStringLiteral("+OK 3 620"));
    QCOMPARE(s.viewed.size(), 1);
    CHECK_SERVER(s);
}

namespace {

const QByteArrayList kFiveRows{"1 100", "2 200", "3 300", "4 400", "5 500"};

QByteArrayList header(const QByteArray &n)
{
    return {"+OK", "Subject: message " + n, "From: sender" + n + "@example.org", "."};
}

}  // namespace

void SessionTest::typedTopBeforeGetHeader()
{
    // The typed TOP is answered first; Get Header's reply is the second one,
    // and only it fills row 1.
    Session s;
    QVERIFY(s.start(kFiveRows));
    s.server.expect("TOP 5 0").expect("TOP 1 0").pause(30).reply(header("5")).reply(header("1"));
    s.type(QStringLiteral("TOP 5 0"));
    s.w.mailModel->setRowChecked(0, true);
    s.w.btnHeaderClick();
    QTRY_VERIFY(s.server.scriptDone());
    QTRY_COMPARE(s.w.session->commandsInFlight(), 0);
    QCOMPARE(s.subject(0), QByteArray("message 1"));
    for (int row = 1; row < 5; ++row)
        QCOMPARE(s.subject(row), QByteArray());
    // The typed command's reply is on the console, body and all.
    QVERIFY(s.console().contains(QStringLiteral("Subject: message 5")));
    QCOMPARE(s.w.CheckedCount, 0);
    CHECK_SERVER(s);
}

void SessionTest::typedListDuringHeaderBatch()
{
    // One header at a time (no PIPELINING); a LIST typed while the first
    // is owed takes its place between two of the batch's commands.
    Session s;
    QVERIFY(s.start(kFiveRows));
    s.server.expect("CAPA").reply({"-ERR"});
    s.server.expect("TOP 1 0").expect("LIST").pause(30).reply(header("1"));
    s.server.reply({"+OK 5 messages", "1 100", "2 200", "3 300", "4 400", "5 500", "."});
    s.server.expect("TOP 2 0").reply(header("2")).expect("TOP 3 0").reply(header("3"));
    for (const int row : {0, 1, 2})
        s.w.mailModel->setRowChecked(row, true);
    s.w.btnHeaderClick();
    QTRY_COMPARE(s.sent("TOP").size(), 1);
    s.type(QStringLiteral("LIST"));
    QTRY_VERIFY(s.server.scriptDone());
    QTRY_COMPARE(s.w.session->commandsInFlight(), 0);
    QCOMPARE(s.subject(0), QByteArray("message 1"));
    QCOMPARE(s.subject(1), QByteArray("message 2"));
    QCOMPARE(s.subject(2), QByteArray("message 3"));
    // The typed listing is shown, and the list is as it was.
    QCOMPARE(s.ids(), (QByteArrayList{"1", "2", "3", "4", "5"}));
    QVERIFY(s.console().contains(QStringLiteral("+OK 5 messages")));
    QVERIFY(s.w.msgBar->text().endsWith(QStringLiteral(" Done.")));
    CHECK_SERVER(s);
}

void SessionTest::refreshListPressedTwice()
{
    Session s;
    QVERIFY(s.start());
    s.w.mailModel->setRowChecked(1, true);
    s.server.expect("LIST").expect("LIST").pause(30);
    s.server.reply({"+OK", "1 120", "2 200", "3 300", "."}).reply({"+OK", "1 120", "3 300", "4 400", "."});
    s.w.btnListClick();
    s.w.btnListClick();
    QTRY_VERIFY(s.server.scriptDone());
    QTRY_COMPARE(s.w.session->commandsInFlight(), 0);
    // The reply to the last LIST sent, each message once.
    QCOMPARE(s.ids(), (QByteArrayList{"1", "3", "4"}));
    QCOMPARE(s.w.CheckedCount, 0);
    CHECK_SERVER(s);
}

void SessionTest::typedRetrDuringDeleteBatch()
{
    // A message read on the console while a delete batch runs one DELE at
    // a time: the batch goes on behind it, and the read only shows.
    Session s;
    QVERIFY(s.start({"1 100", "2 200", "3 300", "4 400"}));
    s.server.expect("CAPA").reply({"-ERR"});
    s.server.expect("DELE 3").expect("RETR 2").pause(30).reply({"+OK deleted"});
    s.server.reply({"+OK 40 octets", "Subject: message 2", "", "body of two", "."});
    s.server.expect("DELE 4").reply({"+OK deleted"});
    s.w.mailModel->setRowChecked(2, true);
    s.w.mailModel->setRowChecked(3, true);
    s.f.desktop.setNextAnswer(BoxButton::Yes);
    s.w.btnDeleteClick();
    QTRY_COMPARE(s.sent("DELE").size(), 1);
    s.type(QStringLiteral("RETR 2"));
    QTRY_VERIFY(s.server.scriptDone());
    QTRY_VERIFY(!s.w.session->deleteConfirmed());
    QCOMPARE(s.ids(), (QByteArrayList{"1", "2"}));
    QCOMPARE(s.subject(1), QByteArray());
    QVERIFY(s.viewed.isEmpty());
    QVERIFY(s.console().contains(QStringLiteral("body of two")));
    CHECK_SERVER(s);
}

void SessionTest::lostConnectionEndsDeleteBatch()
{
    // The connection goes while a batch's DELE is owed: the batch is over,
    // its buttons off, and the next Delete asks again.
    Session s;
    QVERIFY(s.start());
    s.server.expect("CAPA").reply({"-ERR"}).expect("DELE 1").close();
    s.w.AllMail->click();
    s.f.desktop.setNextAnswer(BoxButton::Yes);
    s.w.btnDeleteClick();
    QTRY_VERIFY(!s.w.cSock->Active());
    QVERIFY(!s.w.session->deleteConfirmed());
    QVERIFY(!s.w.btnDelete->isEnabled());
    QCOMPARE(s.ids(), (QByteArrayList{"1", "2", "3"}));
    const qsizetype questions = s.f.desktop.boxes.size();
    QVERIFY(s.start());
    s.w.mailModel->setRowChecked(0, true);
    s.f.desktop.setNextAnswer(BoxButton::No);
    s.w.btnDeleteClick();
    QCOMPARE(s.f.desktop.boxes.size(), questions + 1);
    CHECK_SERVER(s);
}

void SessionTest::statusTextStaysBounded()
{
    // A server that sends end markers by the thousand: each appends " Done."
    // until the status text reaches its cap, and no further.
    Session s;
    QVERIFY(s.start());
    QByteArray dots;
    for (int i = 0; i < 1000; ++i)
        dots += ".\r\n";
    s.server.sendRaw(dots);
    QTRY_VERIFY(s.w.msgBar->text().size() > TForm1::MaxStatusTextLength - 6);
    QVERIFY(s.w.msgBar->text().size() <= TForm1::MaxStatusTextLength);
    QVERIFY(s.w.msgBar->text().endsWith(QStringLiteral(" Done.")));
}

void SessionTest::slicedRepliesBeforeTheEnd()
{
    // Replies handled a slice at a time (here one piece a turn): a long
    // answer to a typed LIST, then the server hangs up. Every line of the
    // answer is handled, in order, before the end of the connection is.
    Session s;
    QVERIFY(s.start());
    s.w.session->readSliceMs = 0;
    QByteArrayList reply{"+OK"};
    for (int i = 1; i <= 30000; ++i)
        reply << QByteArray::number(i) + " 100";
    reply << ".";
    s.server.expect("LIST").reply(reply).close();
    int waitingSeen = 0;
    QObject::connect(s.w.session, &Pop3Session::repliesHandled,
                     [&] { waitingSeen = std::max(waitingSeen, int(s.w.session->bytesWaiting())); });
    s.type(QStringLiteral("LIST"));
    QTRY_VERIFY(!s.w.cSock->Active());
    QVERIFY(waitingSeen > 0);
    const QString log = s.w.Memo1->text();
    const qsizetype last = log.lastIndexOf(QStringLiteral("30000 100"));
    QVERIFY(last > log.lastIndexOf(QStringLiteral("29999 100")));
    QVERIFY(log.indexOf(QStringLiteral("\n."), last) > last);
    QCOMPARE(s.w.session->bytesWaiting(), 0);
}

void SessionTest::decodedReadFetchesSmallMessagesWhole()
{
    // Decoded Text on: a message of at most 5 MB is read whole (RETR), its
    // attachments included; a larger one as its first lines (TOP n 100).
    Session s;
    QVERIFY(s.start({"1 120", "2 6000000"}));
    s.w.DecodeText = true;
    s.server.expect("RETR 1").reply(
        {"+OK", "Subject: one", "", "--b", "text", "--b", "Subject: attached", "attachment", "--b--", "."});
    s.select({0});
    s.w.btnReadClick();
    QTRY_COMPARE(s.viewed.size(), 1);
    QVERIFY(s.viewed.last().whole);
    QCOMPARE(s.viewed.last().lines,
             (QByteArrayList{"Subject: one", "", "--b", "text", "--b", "Subject: attached", "attachment", "--b--"}));
    QVERIFY(s.console().contains(QStringLiteral("RETR 1")));
    // The row's subject is the message's own, not one from its attachment.
    QCOMPARE(s.subject(0), QByteArray("one"));
    s.server.expect("TOP 2 100").reply({"+OK", "Subject: two", "", "--b", "text", "--b", "attachment", "."});
    s.select({1});
    s.w.btnReadClick();
    QTRY_COMPARE(s.viewed.size(), 2);
    QVERIFY(!s.viewed.last().whole);
    QCOMPARE(s.viewed.last().lines, (QByteArrayList{"Subject: two", "", "--b", "text", "--b"}));
    CHECK_SERVER(s);
}

void SessionTest::deleteBatchWaitingForCapabilitiesOutlivesEarlierReply()
{
    // A confirmed batch of two rows waits for CAPA while the reply to an
    // earlier TOP is still owed: that reply's end is not the batch's end.
    Session s;
    QVERIFY(s.start(kFiveRows));
    s.server.expect("TOP 1 0").expect("CAPA").reply(header("1")).reply({"-ERR"});
    s.server.expect("DELE 2").reply({"+OK"}).expect("DELE 3").reply({"+OK"});
    s.select({0});
    s.w.btnHeaderClick();
    QTRY_COMPARE(s.sent("TOP").size(), 1);
    s.w.mailInfo->selectionModel()->clearSelection();
    s.w.mailModel->setRowChecked(1, true);
    s.w.mailModel->setRowChecked(2, true);
    s.f.desktop.setNextAnswer(BoxButton::Yes);
    s.w.btnDeleteClick();
    QTRY_VERIFY(s.server.scriptDone());
    QTRY_VERIFY(!s.w.session->deleteConfirmed());
    QCOMPARE(s.ids(), (QByteArrayList{"1", "4", "5"}));
    QCOMPARE(s.subject(0), QByteArray("message 1"));
    CHECK_SERVER(s);
}

namespace {

// A window that fetches headers by itself after a listing.
void switchAutoHeadersOn(Session &s)
{
    s.w.AutoHeaders1->setChecked(true);
}

QByteArrayList readReply(const QByteArray &n)
{
    return {"+OK", "Subject: message " + n, "From: sender" + n + "@example.org", "", "body of " + n, "."};
}

}  // namespace

void SessionTest::autoHeadersYieldToARead()
{
    // One TOP at a time (no PIPELINING). A read started while the first
    // automatic TOP is owed goes out at once, behind it; the automatic batch
    // goes on after the read, skips the row the read filled, and leaves
    // every mark as the user set it.
    Session s;
    switchAutoHeadersOn(s);
    s.login(kFiveRows);
    s.server.expect("CAPA").reply({"-ERR"}).expect("TOP 1 0").expect("TOP 3 100").pause(30);
    s.server.reply(header("1")).reply(readReply("3"));
    for (const QByteArray n : {"2", "4", "5"})
        s.server.expect("TOP " + n + " 0").reply(header(n));
    // No automatic TOP goes out while the read is owed.
    int sentDuringRead = 0;
    s.w.session->commandSent = [&](const QByteArray &line, const MailRowRef &) {
        const auto &all = s.w.session->commands().all();
        const bool reading =
            std::any_of(all.begin(), all.end(), [](const PendingCommand &c) { return c.awaited == ssWaitRead; });
        if (reading && line.endsWith(" 0\r\n"))
            ++sentDuringRead;
    };
    s.w.btnConnClick();
    QTRY_COMPARE(s.sent("TOP").size(), 1);
    QCOMPARE(s.w.msgBar->text(), QStringLiteral(" Downloading Mail #1 Header ..."));
    s.w.mailModel->setRowChecked(3, true);
    s.select({2});
    s.w.btnReadClick();
    QTRY_VERIFY(s.server.scriptDone());
    QTRY_VERIFY(!s.w.session->autoHeadersRunning());
    QCOMPARE(s.w.session->commandsInFlight(), 0);
    for (int row = 0; row < 5; ++row)
        QCOMPARE(s.subject(row), "message " + QByteArray::number(row + 1));
    QCOMPARE(s.viewed.size(), 1);
    QCOMPARE(s.viewed.first().subject, QByteArray("message 3"));
    // Row 4 keeps the mark the user gave it; the read took row 3's off.
    QCOMPARE(s.w.mailModel->checkedRows(), QList<int>{3});
    QCOMPARE(s.w.CheckedCount, 1);
    QCOMPARE(s.w.msgBar->text(), QStringLiteral(" Downloading Mail #5 Header ... Done."));
    QCOMPARE(s.sent("TOP").size(), 5);
    QCOMPARE(sentDuringRead, 0);
    CHECK_SERVER(s);
}

void SessionTest::autoHeadersYieldToGetHeaderAndDelete()
{
    // Pipelined, two in flight. Get Header pressed while the automatic
    // batch has two TOPs out: its TOP goes out at once, the automatic batch
    // sends nothing more until Get Header is done. The same for a delete
    // batch, whose rows the automatic batch then skips.
    Session s;
    switchAutoHeadersOn(s);
    s.w.session->pipelineWindow = 2;
    s.login({"1 100", "2 200", "3 300", "4 400", "5 500", "6 600", "7 700"});
    s.server.expect("CAPA").reply({"+OK", "PIPELINING", "."}).expect("TOP 1 0").expect("TOP 2 0");
    s.server.expect("TOP 6 0").pause(30).reply(header("1")).reply(header("2")).reply(header("6"));
    s.server.expect("TOP 3 0").expect("TOP 4 0").expect("DELE 5").expect("DELE 7").pause(30);
    s.server.reply(header("3")).reply(header("4")).reply({"+OK"}).reply({"+OK"});
    s.w.btnConnClick();
    QTRY_COMPARE(s.sent("TOP").size(), 2);
    s.w.mailModel->setRowChecked(5, true);
    s.w.btnHeaderClick();
    QTRY_COMPARE(s.sent("TOP").size(), 5);
    s.w.mailModel->setRowChecked(4, true);
    s.w.mailModel->setRowChecked(6, true);
    s.f.desktop.setNextAnswer(BoxButton::Yes);
    s.w.btnDeleteClick();
    QTRY_VERIFY(s.server.scriptDone());
    QTRY_VERIFY(!s.w.session->autoHeadersRunning());
    QTRY_COMPARE(s.w.session->commandsInFlight(), 0);
    QCOMPARE(s.ids(), (QByteArrayList{"1", "2", "3", "4", "6"}));
    for (int row = 0; row < s.w.mailModel->count(); ++row)
        QCOMPARE(s.subject(row), "message " + s.ids().at(row));
    // Get Header took its row's mark off; nothing else is checked.
    QCOMPARE(s.w.CheckedCount, 0);
    QCOMPARE(s.sent("TOP").size(), 5);
    CHECK_SERVER(s);
}

void SessionTest::autoHeadersSwitchedOnDuringARead()
{
    // Switched on while logged in, with the page off for a read: the
    // headers come once the read is done, and the switch is kept.
    Session s;
    QVERIFY(s.start());
    s.server.expect("TOP 2 100").pause(30).reply(readReply("2"));
    s.server.expect("CAPA").reply({"-ERR"});
    s.server.expect("TOP 1 0").reply(header("1")).expect("TOP 3 0").reply(header("3"));
    s.select({1});
    s.w.btnReadClick();
    QVERIFY(!s.w.pageGUI->isEnabled());
    s.w.AutoHeaders1->setChecked(true);
    QTRY_VERIFY(s.server.scriptDone());
    QTRY_VERIFY(!s.w.session->autoHeadersRunning());
    for (int row = 0; row < 3; ++row)
        QCOMPARE(s.subject(row), "message " + QByteArray::number(row + 1));
    CHECK_SERVER(s);
}

void SessionTest::deleteQuestionNamesItsMessages()
{
    Session s;
    QByteArrayList listing;
    for (int n = 1; n <= 60; ++n)
        listing << QByteArray::number(n) + " " + QByteArray::number(n * 100);
    QVERIFY(s.start(listing));
    s.server.expect("CAPA").reply({"-ERR"});
    s.server.expect("TOP 2 0").reply({"+OK", "Subject: =?UTF-8?Q?Gr=C3=BC=C3=9Fe?=", "."});
    s.server.expect("TOP 3 0").reply({"+OK", "From: a@x", "."});
    s.server.expect("TOP 4 0").reply({"+OK", "Subject: <b>FREE</b> " + QByteArray(100, 'x'), "."});
    for (const int row : {1, 2, 3})
        s.w.mailModel->setRowChecked(row, true);
    s.w.btnHeaderClick();
    QTRY_VERIFY(s.server.scriptDone());
    QTRY_COMPARE(s.w.session->commandsInFlight(), 0);
    s.w.DecodeHeaders1->setChecked(true);

    // Seven checked rows: the first five by ID and Subject as shown.
    for (const int row : {1, 2, 3, 4, 5, 6, 7})
        s.w.mailModel->setRowChecked(row, true);
    s.f.desktop.setNextAnswer(BoxButton::No);
    s.w.btnDeleteClick();
    QCOMPARE(s.f.desktop.boxes.size(), 1);
    platform::MessageBoxRequest box = s.f.desktop.boxes.last();
    QCOMPARE(box.text, QStringLiteral("Confirm delete selected mail(s) ?"));
    // A long subject is cut; markup in it is text.
    QCOMPARE(box.informativeText, u"7 messages:\n"
                                  u"ID 2: Gr\u00fc\u00dfe\n"
                                  u"ID 3: (no subject)\n"
                                  u"ID 4: <b>FREE</b> "_qs +
                                      QString(45, QLatin1Char('x')) +
                                      u"...\n"
                                      u"ID 5: (header not fetched)\n"
                                      u"ID 6: (header not fetched)\n"
                                      u"and 2 more"_qs);

    // Nothing checked, one row selected far down the list: that row.
    s.w.AllMail->setChecked(true);
    s.w.AllMail->setChecked(false);
    s.select({56});
    s.f.desktop.setNextAnswer(BoxButton::No);
    s.w.btnDeleteClick();
    QCOMPARE(s.f.desktop.boxes.size(), 2);
    box = s.f.desktop.boxes.last();
    QCOMPARE(box.title, QStringLiteral("Warning"));
    QCOMPARE(box.text, QStringLiteral("Confirm delete selected mail(s) ?"));
    QCOMPARE(box.buttons, (QList<BoxButton>{BoxButton::Yes, BoxButton::No}));
    QCOMPARE(box.defaultButton, BoxButton::Yes);
    QCOMPARE(box.escapeButton, BoxButton::No);
    QCOMPARE(box.informativeText, QStringLiteral("1 message:\nID 57: (header not fetched)"));
    QVERIFY(s.roundTrip());
    QCOMPARE(s.sent("DELE"), QByteArrayList());
    CHECK_SERVER(s);
}

void SessionTest::closeWithDeletionsPending_data()
{
    QTest::addColumn<BoxButton>("answer");
    QTest::addColumn<QByteArray>("quitReply");  // empty: no QUIT may go out
    QTest::newRow("delete now") << BoxButton::Yes << QByteArray("+OK 2 messages deleted");
    QTest::newRow("delete now, refused") << BoxButton::Yes << QByteArray("-ERR some deleted messages not removed");
    QTest::newRow("keep them") << BoxButton::No << QByteArray();
    QTest::newRow("go back") << BoxButton::Cancel << QByteArray();
}

void SessionTest::closeWithDeletionsPending()
{
    QFETCH(BoxButton, answer);
    QFETCH(QByteArray, quitReply);
    Session s;
    s.w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&s.w));
    s.w.txtServer->setEditText(QStringLiteral("127.0.0.1"));
    s.w.txtPort->setText(QString::number(s.server.port()));
    s.w.txtUID->setText(QStringLiteral("bob"));
    s.w.txtPWD->setText(QStringLiteral("pw1"));
    QVERIFY(s.start(kFiveRows));
    // A typed DELE counts, and a typed RSET takes every deletion back.
    s.server.expect("DELE 5").reply({"+OK"}).expect("RSET").reply({"+OK"});
    s.type(QStringLiteral("DELE 5"));
    s.type(QStringLiteral("RSET"));
    QTRY_VERIFY(s.server.scriptDone());
    QTRY_COMPARE(s.w.session->commandsInFlight(), 0);
    QCOMPARE(s.w.session->deletionsPending(), 0);
    s.server.expect("CAPA").reply({"-ERR"}).expect("DELE 1").reply({"+OK"}).expect("DELE 2").reply({"+OK"});
    s.w.mailModel->setRowChecked(0, true);
    s.w.mailModel->setRowChecked(1, true);
    s.f.desktop.setNextAnswer(BoxButton::Yes);
    s.w.btnDeleteClick();
    QTRY_COMPARE(s.w.mailModel->count(), 3);
    QTRY_VERIFY(s.server.scriptDone());
    QCOMPARE(s.w.session->deletionsPending(), 2);

    if (!quitReply.isEmpty())
        s.server.expect("QUIT").pause(50).reply({quitReply}).close();
    s.f.desktop.setNextAnswer(answer);
    QVERIFY(!s.w.close() || answer == BoxButton::No);
    QCOMPARE(s.f.desktop.boxes.size(), 2);
    const platform::MessageBoxRequest box = s.f.desktop.boxes.last();
    QCOMPARE(box.title, QStringLiteral("Warning"));
    QCOMPARE(box.text, QStringLiteral("2 messages deleted in this session are still on the server."));
    QVERIFY(box.informativeText.startsWith(QStringLiteral("POP3 deletes mail only when the session ends with QUIT.")));
    QCOMPARE(box.buttons, (QList<BoxButton>{BoxButton::Yes, BoxButton::No, BoxButton::Cancel}));
    QCOMPARE(box.captions, (QStringList{"&Delete Now", "&Keep Them", "&Go Back"}));
    QCOMPARE(box.escapeButton, BoxButton::Cancel);

    if (quitReply.startsWith('+')) {
        // Open until the server has answered QUIT, then closed.
        QVERIFY(s.w.isVisible());
        QTRY_VERIFY(!s.w.isVisible());
        QVERIFY(s.server.scriptDone());
        QVERIFY(s.server.received().endsWith("DELE 2\r\nQUIT\r\n"));
        CHECK_SERVER(s);
        return;
    }
    if (!quitReply.isEmpty()) {
        // Refused: the window stays and says so; closing again asks nothing.
        QTRY_COMPARE(s.f.desktop.boxes.size(), 3);
        QCOMPARE(s.f.desktop.boxes.last().icon, platform::BoxIcon::Warning);
        QTRY_VERIFY(!s.w.cSock->Active());
        QVERIFY(s.w.isVisible());
        QVERIFY(s.w.close());
        QCOMPARE(s.f.desktop.boxes.size(), 3);
        CHECK_SERVER(s);
        return;
    }
    QCOMPARE(s.w.isVisible(), answer != BoxButton::No);
    // No QUIT went out: what the server read last is the second DELE.
    QVERIFY(s.roundTrip());
    QVERIFY(s.server.received().endsWith("DELE 2\r\nNOOP\r\n"));
    QCOMPARE(s.w.mailModel->count(), 3);
    if (answer == BoxButton::Cancel) {
        QCOMPARE(s.w.session->deletionsPending(), 2);
        // Once the connection is gone, so are the deletions: nothing to ask.
        s.w.btnConnClick();
        QVERIFY(s.w.close());
        QCOMPARE(s.f.desktop.boxes.size(), 2);
    }
    CHECK_SERVER(s);
}

void SessionTest::closeWaitsForQuitsOwnAnswer()
{
    // Delete Now while a TOP is owed: its reply comes first and is only
    // shown; the window closes on the answer to QUIT itself.
    Session s;
    s.w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&s.w));
    s.w.txtServer->setEditText(QStringLiteral("127.0.0.1"));
    s.w.txtPort->setText(QString::number(s.server.port()));
    s.w.txtUID->setText(QStringLiteral("bob"));
    s.w.txtPWD->setText(QStringLiteral("pw1"));
    QVERIFY(s.start());
    s.server.expect("DELE 1").reply({"+OK"});
    s.select({0});
    s.f.desktop.setNextAnswer(BoxButton::Yes);
    s.w.btnDeleteClick();
    QTRY_COMPARE(s.w.session->deletionsPending(), 1);
    s.server.expect("TOP 2 0").expect("QUIT").reply(header("2")).pause(300).reply({"+OK bye"}).close();
    s.select({0});
    s.w.btnHeaderClick();
    QTRY_COMPARE(s.sent("TOP").size(), 1);
    s.f.desktop.setNextAnswer(BoxButton::Yes);
    QVERIFY(!s.w.close());
    QTRY_VERIFY(s.console().contains(QStringLiteral("Subject: message 2")));
    QVERIFY(s.w.isVisible());
    QTRY_VERIFY(!s.w.isVisible());
    QVERIFY(s.console().contains(QStringLiteral("+OK bye")));
    CHECK_SERVER(s);
}

void SessionTest::sortHoldsAfterListingAndDecodeSwitch()
{
    Session s;
    QVERIFY(s.start({"1 300", "2 100", "3 200"}));
    // Bytes, descending, then a new listing: its rows come in that order.
    s.w.mailInfoColumnClick(MailListModel::BytesColumn);
    s.w.mailInfoColumnClick(MailListModel::BytesColumn);
    QCOMPARE(s.ids(), (QByteArrayList{"1", "3", "2"}));
    s.server.expect("LIST").reply({"+OK", "1 300", "2 100", "3 200", "4 250", "."});
    s.w.btnListClick();
    QTRY_COMPARE(s.w.mailModel->count(), 4);
    QCOMPARE(s.ids(), (QByteArrayList{"1", "4", "3", "2"}));
    QCOMPARE(s.w.mailModel->headerImage(MailListModel::BytesColumn), 1);

    // By Subject, descending: the encoded words sort as the server sent
    // them...
    s.server.expect("CAPA").reply({"-ERR"});
    s.server.expect("TOP 1 0").reply({"+OK", "Subject: =?UTF-8?Q?=C3=84pfel?=", "."});
    s.server.expect("TOP 4 0").reply({"+OK", "Subject: Birnen", "."});
    s.server.expect("TOP 3 0").reply({"+OK", "Subject: Zitronen", "."});
    s.server.expect("TOP 2 0").reply({"+OK", "Subject: =?UTF-8?Q?Quitten?=", "."});
    s.w.AllMail->setChecked(true);
    s.w.btnHeaderClick();
    QTRY_COMPARE(s.w.CheckedCount, 0);
    QTRY_COMPARE(s.w.session->commandsInFlight(), 0);
    s.w.mailInfoColumnClick(MailListModel::SubjectColumn);
    QVERIFY(!s.w.SortAscending);
    QCOMPARE(s.ids(), (QByteArrayList{"3", "4", "2", "1"}));
    // ...and the switch sorts again by the texts now shown.
    s.w.DecodeHeaders1->setChecked(true);
    QCOMPARE(s.ids(), (QByteArrayList{"1", "3", "2", "4"}));
    s.w.DecodeHeaders1->setChecked(false);
    QCOMPARE(s.ids(), (QByteArrayList{"3", "4", "2", "1"}));
    for (int row = 0; row + 1 < s.w.mailModel->count(); ++row)
        QVERIFY(s.w.mailInfoCompare(row, row + 1) <= 0);
    CHECK_SERVER(s);
}

QTEST_MAIN(SessionTest)
#include "tst_session.moc"
