// SPDX-License-Identifier: GPL-3.0-or-later
#include "session/TClientSocket.h"
#include "session/TClientWinSocket.h"
#include "support/Loopback.h"
#include "support/ScriptedPop3Server.h"
#include "support/SilentPeers.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QHostInfo>
#include <QPointer>
#include <QSslSocket>
#include <QTcpServer>
#include <QTcpSocket>
#include <QtTest>

#include <functional>
#include <memory>

namespace {

// Binds every event of a socket and records what happened, in order.
struct Recorder {
    explicit Recorder(TClientSocket &socket) : sock(socket)
    {
        sock.OnLookup = [this](QObject *, TClientWinSocket *) { events << "lookup"; };
        sock.OnConnecting = [this](QObject *, TClientWinSocket *) { events << "connecting"; };
        sock.OnConnect = [this](QObject *, TClientWinSocket *w) {
            events << "connect";
            peerAtConnect = w->PeerAddress();
            activeAtConnect = sock.Active();
        };
        sock.OnDisconnect = [this](QObject *, TClientWinSocket *w) {
            events << "disconnect";
            peerAtDisconnect = w->PeerAddress();
            activeAtDisconnect = sock.Active();
        };
        sock.OnRead = [this](QObject *, TClientWinSocket *w) {
            events << "read";
            if (onRead)
                onRead(w);
            else
                data += w->ReceivePending();
        };
        sock.OnError = [this](QObject *, TClientWinSocket *, TErrorEvent kind, int &code) {
            events << "error";
            errorKinds << kind;
            errorCodes << code;
            if (clearCode)
                code = 0;
        };
        sock.OnFailure = [this](const QString &text) { failures << text; };
    }

    // The events without the reads, whose number depends on the chunking.
    QStringList states() const
    {
        QStringList out = events;
        out.removeAll(QStringLiteral("read"));
        return out;
    }

    TClientSocket &sock;
    QStringList events;
    QByteArray data;
    QString peerAtConnect;
    QString peerAtDisconnect = QStringLiteral("<none>");
    bool activeAtConnect = false;
    bool activeAtDisconnect = true;
    QList<TErrorEvent> errorKinds;
    QList<int> errorCodes;
    bool clearCode = true;  // as the main window's handler does
    std::function<void(TClientWinSocket *)> onRead;
    // What the owner would show in an error box.
    QStringList failures;
};

bool connectToServer(TClientSocket &sock, const ScriptedPop3Server &server)
{
    sock.setHost(QString());
    sock.setAddress(QStringLiteral("127.0.0.1"));
    sock.setPort(server.port());
    sock.setActive(true);
    return QTest::qWaitFor([&] { return sock.Active(); });
}

}  // namespace

class tst_ClientSocket : public QObject {
    Q_OBJECT

private slots:
    void dottedDecimal_data();
    void dottedDecimal();
    void connectByAddress_data();
    void connectByAddress();
    void connectByHostName();
    void mappedPeerShownAsIPv4();
    void sendStringBytesArriveExactly();
    void receivePendingAfterChunks();
    void remoteCloseDeliversLastReplyThenDisconnects();
    void nestedLoopInReadHandlerSurvivesClose();
    void unreadStreamIsBoundedThenDelivered();
    void closeFromReadHandler();
    void setActiveFalseDisconnectsSynchronously();
    void connectRefused_data();
    void connectRefused();
    void attemptTimesOut_data();
    void attemptTimesOut();
    void abandonAttempt_data();
    void abandonAttempt();
    void unresolvableHost();
    void brokenConnection_data();
    void brokenConnection();
    void noAddress_data();
    void noAddress();
    void platformRefusesSocket();
    void tlsPortWithoutTlsSocketStaysClosed();
    void staleLookupIgnored();
    void destructorRaisesNothing_data();
    void destructorRaisesNothing();
    void propertyChangeWhileActive();
    void scriptedServerFlagsWhatItDoesNotExpect();
};

void tst_ClientSocket::dottedDecimal_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("expected");  // empty: not an address

    QTest::newRow("plain") << "192.0.2.10" << "192.0.2.10";
    QTest::newRow("leading zeros are decimal") << "010.0.0.08" << "10.0.0.8";
    QTest::newRow("long run of zeros") << "0000000000255.0.0.1" << "255.0.0.1";
    QTest::newRow("256") << "1.256.3.4" << "";
    QTest::newRow("huge part") << "99999999999999999999.0.0.1" << "";
    QTest::newRow("three parts") << "1.2.3" << "";
    QTest::newRow("empty part") << "1..3.4" << "";
    QTest::newRow("blank") << " 1.2.3.4" << "";
    QTest::newRow("hex") << "0x7f.0.0.1" << "";
}

void tst_ClientSocket::dottedDecimal()
{
    QFETCH(QString, text);
    QFETCH(QString, expected);
    const QHostAddress address = TClientWinSocket::parseDottedDecimal(text);
    QCOMPARE(address.isNull() ? QString() : address.toString(), expected);
}

void tst_ClientSocket::connectByAddress_data()
{
    QTest::addColumn<QString>("address");
    QTest::newRow("plain") << "127.0.0.1";
    // Read as octal this would be 87.0.0.1 and never connect.
    QTest::newRow("leading zeros") << "0127.000.00.01";
}

void tst_ClientSocket::connectByAddress()
{
    QFETCH(QString, address);
    ScriptedPop3Server server;
    server.greet("+OK ready");
    TClientSocket sock;
    Recorder rec(sock);

    TClientWinSocket *w = sock.Socket();
    QCOMPARE(w->SendString("NOOP\r\n"), 0);
    QVERIFY(w->ReceivePending().isEmpty());

    sock.setAddress(address);
    sock.setPort(server.port());
    sock.setActive(true);
    // OnConnecting runs inside the activation; the connect completes later.
    QCOMPARE(rec.events, QStringList({"lookup", "connecting"}));
    QVERIFY(!sock.Active());
    QCOMPARE(w->SendString("NOOP\r\n"), 0);
    QVERIFY(w->PeerAddress().isEmpty());

    QTRY_VERIFY(sock.Active());
    QCOMPARE(rec.states(), QStringList({"lookup", "connecting", "connect"}));
    QVERIFY(rec.activeAtConnect);
    QCOMPARE(rec.peerAtConnect, QStringLiteral("127.0.0.1"));
    QVERIFY(w->Connected());
    QTRY_COMPARE(rec.data, QByteArray("+OK ready\r\n"));
    // Nothing was sent before the connection was made.
    QVERIFY(server.received().isEmpty());
    QVERIFY(rec.failures.isEmpty());
}

void tst_ClientSocket::connectByHostName()
{
    ScriptedPop3Server server;
    server.acceptClient();
    TClientSocket sock;
    Recorder rec(sock);

    // Host wins over Address; nothing listens at this address.
    sock.setAddress(QStringLiteral("127.0.0.2"));
    sock.setHost(QStringLiteral("localhost"));
    sock.setPort(server.port());
    sock.setActive(true);
    QCOMPARE(rec.events, QStringList({"lookup"}));

    QTRY_VERIFY(sock.Active());
    QCOMPARE(rec.states(), QStringList({"lookup", "connecting", "connect"}));
    QCOMPARE(rec.peerAtConnect, QStringLiteral("127.0.0.1"));
    QCOMPARE(server.connectionCount(), 1);
}

void tst_ClientSocket::mappedPeerShownAsIPv4()
{
    // A name with an IPv6 address only is connected over IPv6; the peer is an
    // IPv4 host reached through a mapped address and reads as such.
    ScriptedPop3Server server;
    TClientSocket sock;
    Recorder rec(sock);
    sock.setHost(QStringLiteral("::ffff:127.0.0.1"));
    sock.setPort(server.port());
    sock.setActive(true);
    QTRY_VERIFY(rec.events.contains("connect") || rec.events.contains("error"));
    if (rec.events.contains("error"))
        QSKIP("no IPv6 sockets on this machine");
    QCOMPARE(rec.peerAtConnect, QStringLiteral("127.0.0.1"));
    QCOMPARE(sock.Socket()->PeerAddress(), QStringLiteral("127.0.0.1"));
}

void tst_ClientSocket::sendStringBytesArriveExactly()
{
    ScriptedPop3Server server;
    server.greet("+OK ready").expect("USER b\xe9r\x01").reply({"+OK"}).expect("PASS x");
    TClientSocket sock;
    Recorder rec(sock);
    QVERIFY(connectToServer(sock, server));

    const QByteArray user("USER b\xe9r\x01\r\n");
    QCOMPARE(sock.Socket()->SendString(user), qint64(user.size()));
    QCOMPARE(sock.Socket()->SendString(QByteArray()), qint64(0));
    QCOMPARE(sock.Socket()->SendString("PASS x\r\n"), qint64(8));
    QTRY_VERIFY(server.scriptDone());
    QCOMPARE(server.received(), user + "PASS x\r\n");
    QCOMPARE(server.errors(), QStringList());
    QTRY_COMPARE(rec.data, QByteArray("+OK ready\r\n+OK\r\n"));
}

void tst_ClientSocket::receivePendingAfterChunks()
{
    ScriptedPop3Server server;
    server.greet("+OK ready").expect("LIST").chunks({"+OK 2 mes", "sages\r\n1 12", "0\r\n2 200\r\n.\r\n"}, 30);
    TClientSocket sock;
    Recorder rec(sock);
    QVERIFY(connectToServer(sock, server));
    QTRY_COMPARE(rec.data, QByteArray("+OK ready\r\n"));

    sock.Socket()->SendString("LIST\r\n");
    QTRY_COMPARE(rec.data, QByteArray("+OK ready\r\n+OK 2 messages\r\n1 120\r\n2 200\r\n.\r\n"));
    QVERIFY(sock.Socket()->ReceivePending().isEmpty());
    QCOMPARE(server.errors(), QStringList());
}

void tst_ClientSocket::remoteCloseDeliversLastReplyThenDisconnects()
{
    ScriptedPop3Server server;
    // The last reply and the close leave together.
    server.greet("+OK ready").expect("QUIT").reply({"+OK bye"}).close();
    TClientSocket sock;
    Recorder rec(sock);
    QVERIFY(connectToServer(sock, server));
    QTRY_COMPARE(rec.data, QByteArray("+OK ready\r\n"));

    sock.Socket()->SendString("QUIT\r\n");
    QTRY_COMPARE(rec.events.last(), QStringLiteral("disconnect"));
    QCOMPARE(rec.data, QByteArray("+OK ready\r\n+OK bye\r\n"));
    QCOMPARE(rec.states(), QStringList({"lookup", "connecting", "connect", "disconnect"}));
    QCOMPARE(rec.events.at(rec.events.size() - 2), QStringLiteral("read"));
    QCOMPARE(rec.peerAtDisconnect, QStringLiteral("127.0.0.1"));
    QVERIFY(!rec.activeAtDisconnect);
    QVERIFY(!sock.Active());
    QVERIFY(!sock.Socket()->Connected());
    QVERIFY(sock.Socket()->PeerAddress().isEmpty());

    // The same component connects again, and the server takes the new client.
    server.greet("+OK again");
    rec.data.clear();
    QVERIFY(connectToServer(sock, server));
    QTRY_COMPARE(rec.data, QByteArray("+OK again\r\n"));
    QCOMPARE(server.connectionCount(), 2);
    QCOMPARE(server.errors(), QStringList());
}

void tst_ClientSocket::nestedLoopInReadHandlerSurvivesClose()
{
    // The read handler runs a nested event loop (as the reply dispatcher and
    // the modal viewer do); the server's last line and its close arrive
    // inside it. Nothing may be lost, and the Qt socket, whose readyRead is
    // still on the stack below the outer handler, must outlive that handler.
    ScriptedPop3Server server;
    server.greet("+OK ready").pause(50).reply({"+OK last"}).close();
    TClientSocket sock;
    Recorder rec(sock);
    QPointer<QAbstractSocket> platformSocket;
    sock.socketFactory = [&] {
        platformSocket = new QTcpSocket;
        return platformSocket.data();
    };
    int depth = 0;
    int maxDepth = 0;
    bool closedInside = false;
    bool socketAliveAfterNestedClose = false;
    rec.onRead = [&](TClientWinSocket *w) {
        ++depth;
        maxDepth = qMax(maxDepth, depth);
        rec.data += w->ReceivePending();
        if (depth == 1) {
            closedInside = QTest::qWaitFor([&] { return rec.events.contains("disconnect"); });
            socketAliveAfterNestedClose = !platformSocket.isNull();
        }
        --depth;
    };
    QVERIFY(connectToServer(sock, server));
    QTRY_VERIFY(rec.events.contains("disconnect"));
    QVERIFY(closedInside);
    QVERIFY(socketAliveAfterNestedClose);
    QCOMPARE(rec.data, QByteArray("+OK ready\r\n+OK last\r\n"));
    QCOMPARE(rec.states(), QStringList({"lookup", "connecting", "connect", "disconnect"}));
    QCOMPARE(maxDepth, 2);
    QVERIFY(!sock.Active());
    // Freed once the outer handler has returned.
    QTRY_VERIFY(platformSocket.isNull());
}

void tst_ClientSocket::unreadStreamIsBoundedThenDelivered()
{
    // The server streams megabytes and closes while the handler takes
    // nothing (busy elsewhere). The socket may hold only a bounded part
    // meanwhile, the rest waiting in the kernel; once the handler takes
    // again, all of it must come, in order, before the disconnect.
    ScriptedPop3Server server;
    QByteArray stream;
    for (int i = 0; stream.size() < 8 * 1024 * 1024; ++i)
        stream += "line " + QByteArray::number(i).rightJustified(8, '0') + "\r\n";
    server.greet("+OK ready").send(stream).close();
    TClientSocket sock;
    Recorder rec(sock);
    QPointer<QAbstractSocket> platformSocket;
    sock.socketFactory = [&] {
        platformSocket = new QTcpSocket;
        return platformSocket.data();
    };
    bool taking = false;
    rec.onRead = [&](TClientWinSocket *w) {
        if (taking)
            rec.data += w->ReceivePending();
    };
    QVERIFY(connectToServer(sock, server));
    // Long enough for the kernel's buffers on both sides to fill.
    QTest::qWait(1000);
    // Gone already means it had read everything, the close included.
    QVERIFY(platformSocket);
    const qint64 held = platformSocket->bytesAvailable();
    QVERIFY2(held > 0 && held <= 1024 * 1024, qPrintable(QString::number(held)));
    QVERIFY(sock.Active());

    taking = true;
    rec.data += sock.Socket()->ReceivePending();
    QTRY_VERIFY_WITH_TIMEOUT(rec.events.contains("disconnect"), 20000);
    QCOMPARE(rec.data.size(), stream.size() + 11);
    QVERIFY(rec.data == "+OK ready\r\n" + stream);
    QCOMPARE(rec.states(), QStringList({"lookup", "connecting", "connect", "disconnect"}));
    QCOMPARE(server.errors(), QStringList());
}

void tst_ClientSocket::closeFromReadHandler()
{
    ScriptedPop3Server server;
    server.greet("+OK ready");
    TClientSocket sock;
    Recorder rec(sock);
    rec.onRead = [&](TClientWinSocket *w) {
        rec.data += w->ReceivePending();
        sock.setActive(false);
        rec.events << "closed in handler";
    };
    QVERIFY(connectToServer(sock, server));
    QTRY_VERIFY(rec.events.contains("closed in handler"));
    QCOMPARE(rec.events, QStringList({"lookup", "connecting", "connect", "read", "disconnect", "closed in handler"}));
    QCOMPARE(rec.data, QByteArray("+OK ready\r\n"));
    QTRY_VERIFY(!server.isClientConnected());
    QCOMPARE(rec.events.size(), 6);
}

void tst_ClientSocket::setActiveFalseDisconnectsSynchronously()
{
    ScriptedPop3Server server;
    server.greet("+OK ready");
    TClientSocket sock;
    Recorder rec(sock);
    QVERIFY(connectToServer(sock, server));
    QTRY_COMPARE(rec.data, QByteArray("+OK ready\r\n"));

    sock.setActive(false);
    QCOMPARE(rec.events.last(), QStringLiteral("disconnect"));
    QCOMPARE(rec.peerAtDisconnect, QStringLiteral("127.0.0.1"));
    QVERIFY(!rec.activeAtDisconnect);
    QVERIFY(!sock.Active());
    QVERIFY(sock.Socket()->PeerAddress().isEmpty());
    const int count = rec.events.size();
    sock.setActive(false);
    QCOMPARE(rec.events.size(), count);

    QTRY_VERIFY(!server.isClientConnected());
    // No QUIT or anything else went out.
    QVERIFY(server.received().isEmpty());
    QCOMPARE(rec.events.size(), count);
}

void tst_ClientSocket::connectRefused_data()
{
    QTest::addColumn<bool>("clearCode");
    QTest::newRow("handler clears the code") << true;
    QTest::newRow("handler leaves the code") << false;
}

void tst_ClientSocket::connectRefused()
{
    QFETCH(bool, clearCode);
    TClientSocket sock;
    Recorder rec(sock);
    rec.clearCode = clearCode;
    sock.setAddress(QStringLiteral("127.0.0.1"));
    sock.setPort(closedLoopbackPort());
    sock.setActive(true);

    QTRY_COMPARE(rec.events, QStringList({"lookup", "connecting", "error"}));
    QCOMPARE(rec.errorKinds, QList<TErrorEvent>{TErrorEvent::eeConnect});
    QCOMPARE(rec.errorCodes, QList<int>{10061});
    QVERIFY(!sock.Active());
    QVERIFY(!sock.Socket()->Connected());
    if (clearCode) {
        QVERIFY(rec.failures.isEmpty());
    } else {
        QCOMPARE(rec.failures.size(), 1);
        QVERIFY2(rec.failures.at(0).contains(QStringLiteral("(10061), on API 'connect'")),
                 qPrintable(rec.failures.at(0)));
    }

    // Active stayed false, so the next activation starts a new attempt; the
    // dropped socket never raises a late disconnect.
    sock.setActive(true);
    QTRY_COMPARE(rec.events.size(), 6);
    QCOMPARE(rec.events.mid(3), QStringList({"lookup", "connecting", "error"}));
    QVERIFY(!rec.events.contains("disconnect"));
}

void tst_ClientSocket::attemptTimesOut_data()
{
    QTest::addColumn<bool>("tls");
    QTest::newRow("connect never answered") << false;
    QTest::newRow("TLS handshake never answered") << true;
}

void tst_ClientSocket::attemptTimesOut()
{
    QFETCH(bool, tls);
    if (tls && !QSslSocket::supportsSsl())
        QSKIP("Qt has no TLS backend here");
    SilentServer silent;
    TClientSocket sock;
    Recorder rec(sock);
    QString failure = QStringLiteral("<none>");
    const TSocketErrorEvent record = sock.OnError;
    sock.OnError = [&](QObject *sender, TClientWinSocket *w, TErrorEvent kind, int &code) {
        failure = w->TlsFailure();
        record(sender, w, kind, code);
    };
    if (tls)
        sock.setImplicitTlsPorts({silent.port()});
    else
        sock.socketFactory = [] { return new BlackholedSocket; };
    QCOMPARE(sock.ConnectTimeout(), 30000);
    sock.setConnectTimeout(200);
    sock.setAddress(QStringLiteral("127.0.0.1"));
    sock.setPort(silent.port());
    QElapsedTimer clock;
    clock.start();
    sock.setActive(true);

    QTRY_COMPARE(rec.events, QStringList({"lookup", "connecting", "error"}));
    QVERIFY2(clock.elapsed() >= 150, qPrintable(QString::number(clock.elapsed())));
    // With TLS the TCP connection was made: it is the handshake that timed out.
    QCOMPARE(silent.connectionCount(), tls ? 1 : 0);
    QCOMPARE(rec.errorKinds, QList<TErrorEvent>{TErrorEvent::eeConnect});
    QCOMPARE(rec.errorCodes, QList<int>{10060});
    QCOMPARE(failure, QString());
    QVERIFY(!sock.Active());
    QVERIFY(rec.failures.isEmpty());
    if (tls)
        QTRY_VERIFY(silent.clientGone());

    // A new attempt works at once.
    ScriptedPop3Server server;
    server.greet("+OK ready");
    sock.socketFactory = nullptr;
    sock.setImplicitTlsPorts({});
    QVERIFY(connectToServer(sock, server));
    QTRY_COMPARE(rec.data, QByteArray("+OK ready\r\n"));
    QCOMPARE(rec.states().mid(3), QStringList({"lookup", "connecting", "connect"}));
}

void tst_ClientSocket::abandonAttempt_data()
{
    QTest::addColumn<QString>("stage");
    QTest::newRow("resolving") << "resolving";
    QTest::newRow("connecting") << "connecting";
    QTest::newRow("TLS handshake") << "handshake";
}

void tst_ClientSocket::abandonAttempt()
{
    QFETCH(QString, stage);
    if (stage == QLatin1String("handshake") && !QSslSocket::supportsSsl())
        QSKIP("Qt has no TLS backend here");
    ScriptedPop3Server server;
    server.greet("+OK ready");
    SilentServer silent;
    TClientSocket sock;
    Recorder rec(sock);
    sock.setConnectTimeout(100);
    QPointer<BlackholedSocket> blackholed;
    if (stage == QLatin1String("resolving")) {
        // Abandoned before the event loop runs: the lookup cannot be done yet.
        sock.setHost(QStringLiteral("localhost"));
        sock.setPort(server.port());
        sock.setActive(true);
        QCOMPARE(rec.events, QStringList({"lookup"}));
    } else if (stage == QLatin1String("connecting")) {
        sock.socketFactory = [&] {
            blackholed = new BlackholedSocket;
            return blackholed.data();
        };
        sock.setAddress(QStringLiteral("127.0.0.1"));
        sock.setPort(server.port());
        sock.setActive(true);
        QTRY_VERIFY(blackholed && blackholed->state() == QAbstractSocket::ConnectingState);
    } else {
        sock.setImplicitTlsPorts({silent.port()});
        sock.setAddress(QStringLiteral("127.0.0.1"));
        sock.setPort(silent.port());
        sock.setActive(true);
        QTRY_COMPARE(silent.connectionCount(), 1);
        QTRY_VERIFY(silent.bytesFromClient() > 0);  // the client's hello
    }
    const QStringList before = rec.events;

    sock.setActive(false);
    QCOMPARE(rec.events, before + QStringList{"disconnect"});
    QCOMPARE(rec.peerAtDisconnect, QString());
    QVERIFY(!rec.activeAtDisconnect);
    QVERIFY(!sock.Active());
    if (stage == QLatin1String("handshake"))
        QTRY_VERIFY(silent.clientGone());
    if (stage == QLatin1String("connecting"))
        QTRY_VERIFY(!blackholed || blackholed->state() == QAbstractSocket::UnconnectedState);

    // Nothing of the abandoned attempt comes later: not its lookup result,
    // not its connect, not its timeout.
    bool resolved = false;
    QHostInfo::lookupHost(QStringLiteral("localhost"), this, [&](const QHostInfo &) { resolved = true; });
    QTRY_VERIFY(resolved);
    QTest::qWait(3 * sock.ConnectTimeout());
    QCOMPARE(rec.events, before + QStringList{"disconnect"});
    QCOMPARE(server.connectionCount(), 0);
    QVERIFY(rec.failures.isEmpty());

    // A new attempt works at once.
    sock.socketFactory = nullptr;
    sock.setImplicitTlsPorts({});
    QVERIFY(connectToServer(sock, server));
    QTRY_COMPARE(rec.data, QByteArray("+OK ready\r\n"));
    QCOMPARE(server.connectionCount(), 1);
}

void tst_ClientSocket::unresolvableHost()
{
    TClientSocket sock;
    Recorder rec(sock);
    sock.setHost(QStringLiteral("nonexistent.invalid"));
    sock.setPort(110);
    sock.setActive(true);
    QCOMPARE(rec.events, QStringList({"lookup"}));

    QTRY_COMPARE(rec.events, QStringList({"lookup", "disconnect"}));
    QCOMPARE(rec.peerAtDisconnect, QString());
    QVERIFY(!sock.Active());
    QCOMPARE(rec.failures.size(), 1);
    const QString text = rec.failures.at(0);
    QVERIFY2(text.startsWith(QStringLiteral("Windows socket error: ")), qPrintable(text));
    QVERIFY2(text.endsWith(QStringLiteral("), on API 'ASync Lookup'")), qPrintable(text));
}

void tst_ClientSocket::brokenConnection_data()
{
    QTest::addColumn<QString>("how");
    QTest::addColumn<QStringList>("expected");
    QTest::addColumn<int>("kind");
    QTest::addColumn<int>("code");

    const QStringList errorThenClose{"lookup", "connecting", "connect", "error", "disconnect"};
    QTest::newRow("reset") << "reset" << errorThenClose << int(TErrorEvent::eeDisconnect) << 10054;
    QTest::newRow("reset with bytes unsent")
        << "reset+send" << errorThenClose << int(TErrorEvent::eeDisconnect) << 10054;
    QTest::newRow("network error") << "network" << errorThenClose << int(TErrorEvent::eeReceive) << 10050;
}

void tst_ClientSocket::brokenConnection()
{
    QFETCH(QString, how);
    QFETCH(QStringList, expected);
    QFETCH(int, kind);
    QFETCH(int, code);

    ScriptedPop3Server server;
    server.acceptClient();
    TClientSocket sock;
    Recorder rec(sock);
    QPointer<QAbstractSocket> platformSocket;
    sock.socketFactory = [&] {
        platformSocket = new QTcpSocket;
        return platformSocket.data();
    };
    QVERIFY(connectToServer(sock, server));
    QTRY_VERIFY(server.isClientConnected());

    if (how == QLatin1String("network")) {
        // A failure that loopback never produces (a timeout, an unreachable
        // network), reported the way Qt reports it.
        emit platformSocket->errorOccurred(QAbstractSocket::NetworkError);
    } else {
        server.resetClient();
        if (how == QLatin1String("reset+send"))
            QCOMPARE(sock.Socket()->SendString("NOOP\r\n"), qint64(6));
    }
    QTRY_VERIFY(rec.events.contains("disconnect"));
    QCOMPARE(rec.states(), expected);
    QCOMPARE(rec.errorKinds, QList<TErrorEvent>{TErrorEvent(kind)});
    QCOMPARE(rec.errorCodes, QList<int>{code});
    // OnError ran while the peer was still known; the close followed.
    QCOMPARE(rec.peerAtDisconnect, QStringLiteral("127.0.0.1"));
    QVERIFY(!sock.Active());
    QVERIFY(!sock.Socket()->Connected());
    QVERIFY(rec.failures.isEmpty());
}

void tst_ClientSocket::noAddress_data()
{
    QTest::addColumn<QString>("address");
    QTest::newRow("empty") << "";
    QTest::newRow("not dotted decimal") << "1.2.3";
    QTest::newRow("part above 255") << "300.1.1.1";
}

void tst_ClientSocket::noAddress()
{
    QFETCH(QString, address);
    TClientSocket sock;
    Recorder rec(sock);
    sock.setAddress(address);
    QVERIFY_THROWS_EXCEPTION(ESocketError, sock.setActive(true));
    QCOMPARE(rec.events, QStringList({"lookup", "disconnect"}));
    QCOMPARE(rec.peerAtDisconnect, QString());
    QVERIFY(!sock.Active());
    QVERIFY(rec.failures.isEmpty());
}

void tst_ClientSocket::platformRefusesSocket()
{
    ScriptedPop3Server server;
    TClientSocket sock;
    Recorder rec(sock);
    sock.socketFactory = [] { return nullptr; };
    sock.setAddress(QStringLiteral("127.0.0.1"));
    sock.setPort(server.port());
    QVERIFY_THROWS_EXCEPTION(ESocketError, sock.setActive(true));
    QVERIFY(rec.events.isEmpty());
    QVERIFY(!sock.Active());

    sock.socketFactory = nullptr;
    sock.setActive(true);
    QTRY_VERIFY(sock.Active());
}

void tst_ClientSocket::tlsPortWithoutTlsSocketStaysClosed()
{
    // A socket that cannot do TLS, on a port taken for TLS: the attempt fails
    // like a refused connect and the server never hears from it.
    ScriptedPop3Server server;
    server.greet("+OK ready");
    TClientSocket sock;
    Recorder rec(sock);
    QString failure;
    const TSocketErrorEvent record = sock.OnError;
    sock.OnError = [&](QObject *sender, TClientWinSocket *w, TErrorEvent kind, int &code) {
        failure = w->TlsFailure();
        record(sender, w, kind, code);
    };
    sock.socketFactory = [] { return new QTcpSocket; };
    sock.setImplicitTlsPorts({server.port()});
    sock.setAddress(QStringLiteral("127.0.0.1"));
    sock.setPort(server.port());
    QVERIFY(sock.UsesImplicitTls());
    sock.setActive(true);
    QTRY_COMPARE(rec.events, (QStringList{"lookup", "connecting", "error"}));
    QCOMPARE(rec.errorKinds, QList<TErrorEvent>{TErrorEvent::eeConnect});
    QCOMPARE(failure, QStringLiteral("TLS: not available on this system"));
    QVERIFY(!sock.Active());
    QCOMPARE(server.connectionCount(), 0);
    QVERIFY(rec.failures.isEmpty());

    // The same socket on a port not taken for TLS connects in clear.
    sock.setImplicitTlsPorts({});
    QVERIFY(!sock.UsesImplicitTls());
    sock.setActive(true);
    QTRY_VERIFY(sock.Active());
    QVERIFY(!sock.Socket()->Encrypted());
    QTRY_COMPARE(rec.data, QByteArray("+OK ready\r\n"));
}

void tst_ClientSocket::staleLookupIgnored()
{
    ScriptedPop3Server server;
    TClientSocket sock;
    Recorder rec(sock);
    sock.setHost(QStringLiteral("localhost"));
    sock.setPort(server.port());
    sock.setActive(true);
    // A second activation while the name is still resolving replaces the first.
    sock.setHost(QString());
    sock.setAddress(QStringLiteral("127.0.0.1"));
    sock.setActive(true);
    QTRY_VERIFY(sock.Active());

    // Let a lookup of the same name complete, so a stale result had its chance.
    bool resolved = false;
    QHostInfo::lookupHost(QStringLiteral("localhost"), this, [&](const QHostInfo &) { resolved = true; });
    QTRY_VERIFY(resolved);
    QCoreApplication::processEvents();
    QCOMPARE(rec.states(), QStringList({"lookup", "lookup", "connecting", "connect"}));
    QCOMPARE(server.connectionCount(), 1);
}

void tst_ClientSocket::destructorRaisesNothing_data()
{
    QTest::addColumn<QString>("stage");
    QTest::newRow("connected") << "connected";
    QTest::newRow("resolving") << "resolving";
    QTest::newRow("connecting") << "connecting";
}

void tst_ClientSocket::destructorRaisesNothing()
{
    QFETCH(QString, stage);
    ScriptedPop3Server server;
    auto sock = std::make_unique<TClientSocket>();
    Recorder rec(*sock);
    sock->setPort(server.port());
    if (stage == QLatin1String("resolving"))
        sock->setHost(QStringLiteral("localhost"));
    else
        sock->setAddress(QStringLiteral("127.0.0.1"));
    sock->setActive(true);
    if (stage == QLatin1String("connected")) {
        QTRY_VERIFY(sock->Active());
        QTRY_VERIFY(server.isClientConnected());
    }
    const QStringList before = rec.events;

    sock.reset();
    QCOMPARE(rec.events, before);
    if (stage == QLatin1String("connected"))
        QTRY_VERIFY(!server.isClientConnected());
    // Pending results must find nothing to report to.
    bool resolved = false;
    QHostInfo::lookupHost(QStringLiteral("localhost"), this, [&](const QHostInfo &) { resolved = true; });
    QTRY_VERIFY(resolved);
    QCoreApplication::processEvents();
    QCOMPARE(rec.events, before);
    QVERIFY(server.received().isEmpty());
    QVERIFY(rec.failures.isEmpty());
}

void tst_ClientSocket::propertyChangeWhileActive()
{
    ScriptedPop3Server server;
    TClientSocket sock;
    Recorder rec(sock);
    sock.setHost(QStringLiteral("localhost"));
    sock.setPort(server.port());
    sock.setActive(true);
    QTRY_VERIFY(sock.Active());

    // The same value, ignoring case, is no change.
    sock.setHost(QStringLiteral("LOCALHOST"));
    QCOMPARE(sock.Host(), QStringLiteral("localhost"));
    sock.setAddress(QString());
    sock.setPort(server.port());

    QVERIFY_THROWS_EXCEPTION(ESocketError, sock.setHost(QStringLiteral("example.org")));
    QVERIFY_THROWS_EXCEPTION(ESocketError, sock.setAddress(QStringLiteral("127.0.0.1")));
    QVERIFY_THROWS_EXCEPTION(ESocketError, sock.setPort(server.port() + 1));
    QCOMPARE(sock.Host(), QStringLiteral("localhost"));
    QCOMPARE(sock.Address(), QString());
    QCOMPARE(sock.Port(), int(server.port()));
    QVERIFY(sock.Active());

    sock.setActive(false);
    sock.setPort(server.port() + 1);
    QCOMPARE(sock.Port(), int(server.port()) + 1);
}

void tst_ClientSocket::scriptedServerFlagsWhatItDoesNotExpect()
{
    // The conversation tests rely on the server to catch a wrong client line.
    ScriptedPop3Server server;
    server.autoReply("noop", {"+OK"});
    server.greet("+OK ready").expect("LIST").reply({"+OK 0 messages", "."});
    TClientSocket sock;
    Recorder rec(sock);
    QVERIFY(connectToServer(sock, server));
    QTRY_COMPARE(rec.data, QByteArray("+OK ready\r\n"));

    sock.Socket()->SendString("NOOP\r\nSTAT\r\nLIST\r\nQUIT\n");
    QTRY_COMPARE(server.lineCount(), 4);
    QCOMPARE(server.receivedLines(), QByteArrayList({"NOOP", "STAT", "LIST", "QUIT"}));
    QCOMPARE(server.unexpected(), QByteArrayList({"STAT", "QUIT"}));
    QCOMPARE(server.errors().size(), 3);  // STAT, QUIT, and QUIT's bare LF
    QVERIFY(server.scriptDone());
    QTRY_COMPARE(rec.data, QByteArray("+OK ready\r\n+OK\r\n+OK 0 messages\r\n.\r\n"));

    const QByteArray raw("\xff\x00raw", 5);
    server.sendRaw(raw);
    QTRY_COMPARE(rec.data.right(5), raw);
}

QTEST_GUILESS_MAIN(tst_ClientSocket)
#include "tst_clientsocket.moc"
