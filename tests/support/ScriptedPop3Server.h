// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QByteArrayList>
#include <QHostAddress>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QStringList>

class QTcpServer;
class QTcpSocket;
class QTimer;

// An in-process POP3 server that plays a script, for conversation tests.
//
// It listens on 127.0.0.1 at a free port in the test's own thread; the test
// writes the script before (or while) the client talks to it:
//
//     ScriptedPop3Server server;
//     server.greet("+OK ready")
//           .expect("USER bob").reply({"+OK"})
//           .expect("LIST").reply({"+OK 2 messages", "1 120", "2 200", "."})
//           .expect("QUIT").reply({"+OK bye"}).close();
//     ... connect the client to server.port() ...
//     QTRY_VERIFY(server.scriptDone());
//     QVERIFY2(server.errors().isEmpty(), qPrintable(server.errors().join('\n')));
//
// Steps run in order. Sending steps run as soon as they are reached; expect()
// waits for the next client line; greet() waits for a new client. Lines
// given without CR LF get it added; chunks() and send() write bytes exactly as
// given. Each write is flushed at once, so two writes are two sends (the
// client may still read them together unless a delay lies between them).
//
// Client lines are the bytes up to each LF, without the CR LF. A line that
// the script does not expect at that point, and that no autoReply() prefix
// matches, is recorded in unexpected() and errors(); so is a line ended by a
// bare LF. One client is served at a time: a new connection replaces the
// previous one, and the server accepts new connections for as long as it
// lives, so tests can reconnect.
class ScriptedPop3Server : public QObject {
    Q_OBJECT
public:
    explicit ScriptedPop3Server(QObject *parent = nullptr);
    ~ScriptedPop3Server() override;

    quint16 port() const;
    QHostAddress address() const { return QHostAddress(QHostAddress::LocalHost); }

    // Script steps; each returns the server so that steps can be chained.
    // Waits for a client to connect (one not greeted before), then sends line.
    ScriptedPop3Server &greet(const QByteArray &line);
    // Waits for a client connection without sending anything.
    ScriptedPop3Server &acceptClient();
    // Waits for the next client line, which must equal line exactly.
    ScriptedPop3Server &expect(const QByteArray &line);
    // Sends the lines, each followed by CR LF, in one write.
    ScriptedPop3Server &reply(const QByteArrayList &lines);
    // Sends bytes exactly as given, in one write.
    ScriptedPop3Server &send(const QByteArray &bytes);
    // Sends each chunk in a write of its own, waiting delayMs between them.
    ScriptedPop3Server &chunks(const QByteArrayList &parts, int delayMs = 0);
    // Waits before the next step (a timer, the event loop keeps running).
    ScriptedPop3Server &pause(int ms);
    // Closes the connection in order, after what was sent so far.
    ScriptedPop3Server &close();
    // Resets the connection (TCP RST); data not yet read by the client may be lost.
    ScriptedPop3Server &reset();

    // Answers client lines that the script does not expect at that point and
    // that begin with prefix (ignoring case) with the given lines. A CAPA
    // that neither the script nor an automatic reply takes is refused
    // ("-ERR"), as by a server that lists no capabilities.
    void autoReply(const QByteArray &prefix, const QByteArrayList &lines);

    // Immediate actions on the current client, outside the script.
    void sendRaw(const QByteArray &bytes);
    void closeClient();
    void resetClient();

    // Every byte received from clients, in order, over all connections.
    QByteArray received() const { return bytes; }
    QByteArrayList receivedLines() const { return lines; }
    int lineCount() const { return int(lines.size()); }
    QByteArrayList unexpected() const { return unexpectedLines; }
    QStringList errors() const { return problems; }

    bool isClientConnected() const;
    int connectionCount() const { return connections; }
    // True when every step of the script has run.
    bool scriptDone() const { return next >= steps.size() && !busy; }

signals:
    void clientConnected();
    void clientDisconnected();
    void lineReceived(const QByteArray &line);

private:
    enum class StepKind { Greet, Accept, Expect, Send, Pause, Close, Reset };
    struct Step {
        StepKind kind;
        QByteArray data;
        int ms = 0;
    };

    ScriptedPop3Server &add(StepKind kind, const QByteArray &data = QByteArray(), int ms = 0);
    void takeConnections();
    void readClient();
    void clientGone(QTcpSocket *client);
    void handleLine(const QByteArray &line);
    bool tryAutoReply(const QByteArray &line);
    void run();
    void write(const QByteArray &data, const char *what);
    void resetSocket(QTcpSocket *client);
    static QString describe(const QByteArray &line);

    QTcpServer *server;
    QPointer<QTcpSocket> client;
    QByteArray partial;
    QByteArray bytes;
    QByteArrayList lines;
    QByteArrayList pendingLines;
    QByteArrayList unexpectedLines;
    QStringList problems;
    QList<QPair<QByteArray, QByteArrayList>> autoReplies;
    QList<Step> steps;
    qsizetype next = 0;
    bool busy = false;
    bool running = false;
    int connections = 0;
    int connectionsClaimed = 0;
};
