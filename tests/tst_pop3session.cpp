// SPDX-License-Identifier: GPL-3.0-or-later
// The conversation engine on its own, against the scripted server, with no
// widget anywhere: a plain list model stands in for the window's list.

#include "session/Pop3Session.h"
#include "session/TClientSocket.h"
#include "support/ScriptedPop3Server.h"

#include <QAbstractListModel>
#include <QtTest>

#include <algorithm>

namespace {

// The window as the engine sees it: rows with a message number and a mark,
// the answer to the delete question, and a log of what it was told.
class FakeWindow : public QAbstractListModel, public SessionWindow {
public:
    struct Row {
        QByteArray id;
        bool checked = false;
    };
    QList<Row> rows;
    // Told when a mark changes, as the window tells its engine.
    Pop3Session *session = nullptr;
    bool answerYes = true;
    int questions = 0;
    QStringList log;

    int rowCount(const QModelIndex &parent = {}) const override { return parent.isValid() ? 0 : int(rows.size()); }
    QVariant data(const QModelIndex &index, int role) const override
    {
        return role == Qt::DisplayRole ? QVariant(rows.value(index.row()).id) : QVariant();
    }

    MailRowRef ref(int row) { return {rows.at(row).id}; }
    int find(const QByteArray &id) const
    {
        for (int r = 0; r < rows.size(); ++r) {
            if (rows.at(r).id == id)
                return r;
        }
        return -1;
    }
    void setRows(const QList<ListingEntry> &entries)
    {
        beginResetModel();
        rows.clear();
        for (const ListingEntry &entry : entries)
            rows.append({entry.number, false});
        endResetModel();
    }
    void setChecked(int row, bool checked)
    {
        rows[row].checked = checked;
        if (session && !checked)
            session->rowsUnchecked({rows.at(row).id});
    }
    void remove(int row)
    {
        if (row < 0)
            return;
        beginRemoveRows({}, row, row);
        rows.removeAt(row);
        endRemoveRows();
    }
    // Reverses the order, as a sort would: persistent rows follow.
    void reverse()
    {
        emit layoutAboutToBeChanged();
        const QModelIndexList before = persistentIndexList();
        QModelIndexList after;
        for (const QModelIndex &index : before)
            after.append(this->index(int(rows.size()) - 1 - index.row()));
        std::reverse(rows.begin(), rows.end());
        changePersistentIndexList(before, after);
        emit layoutChanged();
    }

    QList<MailRowRef> checkedRefs()
    {
        QList<MailRowRef> out;
        for (int r = 0; r < rows.size(); ++r) {
            if (rows.at(r).checked)
                out.append(ref(r));
        }
        return out;
    }
    // Delete Mail as the window presses it: the question, then the rows
    // checked at the Yes.
    void pressDelete()
    {
        if (session->deleteConfirmed())
            return;
        ++questions;
        if (answerYes)
            session->deleteRows(checkedRefs(), true);
    }
    QString userName() override { return QStringLiteral("bob"); }
    QString password() override { return QStringLiteral("pw"); }
};

struct Engine {
    ScriptedPop3Server server;
    FakeWindow window;
    Pop3Session session{&window};
    QByteArrayList sent;

    Engine()
    {
        window.session = &session;
        session.commandSent = [this](const QByteArray &line, const MailRowRef &) { sent.append(line); };
        QObject::connect(&session, &Pop3Session::mailListed, &session,
                         [this](const MailListing &listing) { window.setRows(listing.entryList()); });
        QObject::connect(&session, &Pop3Session::headersReceived, &session,
                         [this](const MailRowRef &row, const HeaderFields &headers, const QList<QByteArray> &) {
                             const int at = window.find(row.id);
                             window.log << "headers " + row.id + " at " + QString::number(at) + ": " + headers.subject;
                             if (at >= 0)
                                 window.rows[at].checked = false;
                         });
        QObject::connect(&session, &Pop3Session::mailDeleted, &session, [this](const MailRowRef &row) {
            window.log << "deleted " + row.id;
            window.remove(window.find(row.id));
        });
        QObject::connect(&session, &Pop3Session::messageRead, &session,
                         [this](const MailRowRef &, const HeaderFields &headers, const QList<QByteArray> &lines) {
                             window.log << "read " + headers.subject + " (" + QString::number(lines.size()) + " lines)";
                         });
        QObject::connect(&session, &Pop3Session::deleteBatchEnded, &session,
                         [this] { window.log << QStringLiteral("batch ended"); });
    }

    // Connected, logged in and listed with messages 1 to count.
    bool start(int count = 3)
    {
        server.greet("+OK").expect("user bob").expect("pass pw").reply({"+OK", "+OK"});
        QByteArrayList listing{"+OK"};
        for (int n = 1; n <= count; ++n)
            listing.append(QByteArray::number(n) + ' ' + QByteArray::number(n * 100));
        server.expect("LIST").reply(listing + QByteArrayList{"."});
        session.expectGreeting();
        if (!session.open(QStringLiteral("127.0.0.1"), server.port(), {}).isEmpty())
            return false;
        return QTest::qWaitFor([&] { return window.rows.size() == count && session.state() == ssIdle; }, 5000);
    }
    bool done()
    {
        return QTest::qWaitFor([&] { return server.scriptDone() && session.commandsInFlight() == 0; }, 5000) &&
               server.errors().isEmpty();
    }
};

}  // namespace

class Pop3SessionTest : public QObject {
    Q_OBJECT
private slots:
    void stateFollowsEveryReply();
    void repliesActOnTheirOwnRows();
    void deleteAnsweredBeforeALaterRead();
    void headerBatchYieldsToANewCommand();
    void pipelinedBatchesGoOutAheadOfReplies();
    void deleteBatchIsWhatWasConfirmed_data();
    void deleteBatchIsWhatWasConfirmed();
};

void Pop3SessionTest::stateFollowsEveryReply()
{
    Engine e;
    QList<std::uint8_t> states;
    e.server.greet("+OK hello");
    e.session.expectGreeting();
    QCOMPARE(e.session.state(), std::uint8_t(ssWaitGreeting));
    QVERIFY(e.session.open(QStringLiteral("127.0.0.1"), e.server.port(), {}).isEmpty());
    // A refused USER: the PASS sent with it is answered as a USER too, and
    // neither counts as a refused login.
    QSignalSpy settled(&e.session, &Pop3Session::loginSettled);
    e.server.expect("user bob").expect("pass pw").reply({"-ERR who?"}).pause(20).reply({"-ERR no"});
    QTRY_COMPARE(e.sent.size(), 2);  // CAPA, then the login
    QTRY_VERIFY(e.server.scriptDone());
    QTRY_COMPARE(e.session.commandsInFlight(), 0);
    QCOMPARE(e.session.state(), std::uint8_t(ssWaitUser));
    QCOMPARE(settled.count(), 0);

    // The login again, then the listing it starts.
    e.server.expect("user bob").expect("pass pw").reply({"+OK"}).pause(20).reply({"+OK"});
    e.server.expect("LIST").reply({"+OK 2"}).pause(20).reply({"1 10", "2 20"}).pause(20).reply({"."});
    QObject::connect(&e.session, &Pop3Session::consoleEntry, &e.session, [&] { states.append(e.session.state()); });
    e.session.login(QStringLiteral("bob"), QStringLiteral("pw"));
    QTRY_COMPARE(e.window.rows.size(), 2);
    QTRY_COMPARE(e.session.state(), std::uint8_t(ssIdle));
    QCOMPARE(settled.count(), 1);
    // Each read is shown on arrival, in the state it arrived in: a status
    // line is shown, a reply body is not.
    QVERIFY2(states.contains(ssWaitPass) && states.contains(ssWaitList) && !states.contains(ssListBody),
             qPrintable(QString::number(states.size())));

    // A read whose attachment is left out, then the state goes back to idle.
    e.server.expect("TOP 2 100").reply({"+OK", "Subject: two", "", "--b", "text", "--b", "attachment", "."});
    QSignalSpy appended(&e.session, &Pop3Session::statusAppended);
    e.session.readMessage(e.window.ref(1));
    QCOMPARE(e.session.state(), std::uint8_t(ssWaitRead));
    QTRY_COMPARE(e.window.log, QStringList({"headers 2 at 1: two", "read two (5 lines)"}));
    QCOMPARE(e.session.state(), std::uint8_t(ssIdle));
    QVERIFY(!e.session.skippingRest());
    QCOMPARE(appended.count(), 1);
    QCOMPARE(appended.at(0).at(0).toString(), QStringLiteral(" Skipping attachment ..."));
    QVERIFY(e.done());
}

void Pop3SessionTest::repliesActOnTheirOwnRows()
{
    Engine e;
    QVERIFY(e.start());
    // Two headers asked before either reply; the list is re-sorted before
    // they come, and one reply is cut in the middle of a line.
    e.server.expect("TOP 1 0").expect("TOP 3 0");
    e.server.chunks({"+OK\r\nSubject: one\r\n.\r\n+OK\r\nSubj", "ect: three\r\n.\r\n"}, 30);
    e.session.fetchHeaders({e.window.ref(0)});
    e.session.fetchHeaders({e.window.ref(2)});
    QCOMPARE(e.session.commandsInFlight(), 2);
    QCOMPARE(e.session.state(), std::uint8_t(ssWaitHeader));
    e.window.reverse();
    QVERIFY(e.done());
    QCOMPARE(e.window.log, QStringList({"headers 1 at 2: one", "headers 3 at 0: three"}));
    QCOMPARE(e.sent.mid(3), QByteArrayList({"TOP 1 0\r\n", "TOP 3 0\r\n"}));
}

void Pop3SessionTest::deleteAnsweredBeforeALaterRead()
{
    Engine e;
    QVERIFY(e.start());
    e.window.rows[1].checked = true;
    e.server.expect("DELE 2").expect("TOP 1 100").reply({"+OK deleted"}).pause(20);
    e.server.reply({"+OK", "Subject: one", "", "body", "."});
    e.window.pressDelete();
    // The user reads message 1 before the DELE's reply: the batch is over,
    // the DELE's reply still removes its own row, the read shows message 1.
    e.session.readMessage(e.window.ref(0));
    QVERIFY(!e.session.deleteConfirmed());
    QVERIFY(e.done());
    QCOMPARE(e.window.questions, 1);
    QCOMPARE(e.window.log, QStringList({"deleted 2", "headers 1 at 0: one", "read one (3 lines)"}));
    QCOMPARE(e.window.rows.size(), 2);
    QCOMPARE(e.window.rows.at(1).id, QByteArray("3"));
}

void Pop3SessionTest::headerBatchYieldsToANewCommand()
{
    Engine e;
    QVERIFY(e.start());
    e.session.setPipelining(false);
    e.window.rows[0].checked = true;
    e.window.rows[2].checked = true;
    // The batch asks for message 1; before its reply the user refreshes the
    // list. No TOP for message 3 follows: the listing is what the user wants.
    e.server.expect("TOP 1 0").expect("LIST");
    e.server.reply({"+OK", "Subject: one", ".", "+OK", "1 100", "2 200", "3 300", "."});
    e.session.fetchHeaders(e.window.checkedRefs());
    e.session.listMailbox();
    QVERIFY(e.done());
    QTest::qWait(50);
    QCOMPARE(e.sent.mid(3), QByteArrayList({"TOP 1 0\r\n", "LIST\r\n"}));
    QCOMPARE(e.session.state(), std::uint8_t(ssIdle));
    QCOMPARE(e.window.rows.size(), 3);
}

void Pop3SessionTest::pipelinedBatchesGoOutAheadOfReplies()
{
    Engine e;
    QVERIFY(e.start(4));
    e.session.pipelineWindow = 2;
    QSignalSpy appended(&e.session, &Pop3Session::statusAppended);
    // The server lists PIPELINING; it answers only once two TOPs are in,
    // which a client waiting for each reply would never send.
    e.server.expect("CAPA").reply({"+OK", "TOP", "PIPELINING", "."});
    e.server.expect("TOP 1 0").expect("TOP 2 0");
    e.server.chunks({"+OK\r\nSubject: one\r\n.\r\n+OK\r\nSub", "ject: two\r\n.\r\n"}, 20);
    e.server.expect("TOP 4 0").reply({"+OK", "Subject: four", "."});
    for (const int row : {0, 1, 3})
        e.window.setChecked(row, true);
    e.session.fetchHeaders(e.window.checkedRefs());
    // The list is sorted while the replies are on their way.
    e.window.reverse();
    QVERIFY(e.done());
    QCOMPARE(e.window.log, QStringList({"headers 1 at 3: one", "headers 2 at 2: two", "headers 4 at 0: four"}));
    QCOMPARE(appended.count(), 1);
    QCOMPARE(e.session.state(), std::uint8_t(ssIdle));

    // A delete batch on the same connection asks no more. The second DELE
    // is refused: no DELE goes out after it, and the reply to the one that
    // went out before the refusal came still deletes its row.
    e.window.log.clear();
    e.window.reverse();
    for (const int row : {0, 1, 2, 3})
        e.window.setChecked(row, true);
    e.server.expect("DELE 1").expect("DELE 2").reply({"+OK"}).expect("DELE 3").reply({"-ERR locked", "+OK"});
    e.window.pressDelete();
    QVERIFY(e.done());
    QTRY_VERIFY(!e.session.deleteConfirmed());
    QTest::qWait(50);
    QCOMPARE(e.window.log, QStringList({"deleted 1", "batch ended", "deleted 3"}));
    QCOMPARE(e.sent.mid(3), QByteArrayList({"CAPA\r\n", "TOP 1 0\r\n", "TOP 2 0\r\n", "TOP 4 0\r\n", "DELE 1\r\n",
                                            "DELE 2\r\n", "DELE 3\r\n"}));
}

void Pop3SessionTest::deleteBatchIsWhatWasConfirmed_data()
{
    QTest::addColumn<QList<int>>("checkedAtYes");
    QTest::addColumn<QString>("then");
    QTest::addColumn<QByteArrayList>("deleted");
    QTest::newRow("a row checked after the Yes never joins") << QList<int>{0} << "check 1" << QByteArrayList{"1"};
    QTest::newRow("a row unchecked before its DELE is withdrawn")
        << QList<int>{0, 1, 2} << "uncheck 1" << QByteArrayList{"1", "3"};
    QTest::newRow("and stays withdrawn when checked again")
        << QList<int>{0, 1, 2} << "uncheck 1, check 1" << QByteArrayList{"1", "3"};
    QTest::newRow("the list sorted mid-batch") << QList<int>{0, 2} << "sort" << QByteArrayList{"1", "3"};
    QTest::newRow("a refused DELE ends the batch") << QList<int>{0, 1} << "refuse" << QByteArrayList{};
}

void Pop3SessionTest::deleteBatchIsWhatWasConfirmed()
{
    QFETCH(QList<int>, checkedAtYes);
    QFETCH(QString, then);
    QFETCH(QByteArrayList, deleted);
    Engine e;
    QVERIFY(e.start());
    for (const int row : checkedAtYes)
        e.window.setChecked(row, true);
    e.server.autoReply("DELE", {then == "refuse" ? "-ERR locked" : "+OK"});
    e.window.pressDelete();
    QVERIFY(e.session.deleteConfirmed());
    // The first DELE is out and its reply not yet read: what the user does now.
    if (then == "sort")
        e.window.reverse();
    if (then.startsWith("check"))
        e.window.setChecked(1, true);
    if (then.startsWith("uncheck"))
        e.window.setChecked(1, false);
    if (then.endsWith(", check 1"))
        e.window.setChecked(1, true);
    QTRY_VERIFY(!e.session.deleteConfirmed());
    QTest::qWait(50);
    QByteArrayList gone;
    for (const QString &entry : std::as_const(e.window.log)) {
        if (entry.startsWith("deleted "))
            gone.append(entry.mid(8).toLatin1());
    }
    QCOMPARE(gone, deleted);
    // A batch of two or more rows asks about pipelining first (refused here).
    QByteArrayList expectedSent;
    if (checkedAtYes.size() >= 2)
        expectedSent.append("CAPA\r\n");
    for (const QByteArray &id : then == "refuse" ? QByteArrayList{"1"} : deleted)
        expectedSent.append("DELE " + id + "\r\n");
    QCOMPARE(e.sent.mid(3), expectedSent);
    QVERIFY(e.window.log.endsWith(QStringLiteral("batch ended")));
    // The next press asks again.
    e.window.pressDelete();
    QCOMPARE(e.window.questions, 2);
}

QTEST_GUILESS_MAIN(Pop3SessionTest)
#include "tst_pop3session.moc"
