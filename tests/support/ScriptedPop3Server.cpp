// SPDX-License-Identifier: GPL-3.0-or-later
#include "support/ScriptedPop3Server.h"

#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

// Platform corner: a reset needs SO_LINGER with a zero timeout, which Qt does
// not offer as a socket option.
#if defined(Q_OS_WIN)
#include <winsock2.h>
#if defined(_MSC_VER)
#pragma comment(lib, "ws2_32.lib")
#endif
#else
#include <sys/socket.h>
#endif

ScriptedPop3Server::ScriptedPop3Server(QObject *parent) : QObject(parent), server(new QTcpServer(this))
{
    connect(server, &QTcpServer::newConnection, this, &ScriptedPop3Server::takeConnections);
    if (!server->listen(QHostAddress::LocalHost, 0))
        problems.append(QStringLiteral("cannot listen: %1").arg(server->errorString()));
}

ScriptedPop3Server::~ScriptedPop3Server()
{
    if (client) {
        QObject::disconnect(client, nullptr, this, nullptr);
        client->abort();
    }
}

quint16 ScriptedPop3Server::port() const
{
    return server->serverPort();
}

ScriptedPop3Server &ScriptedPop3Server::greet(const QByteArray &line)
{
    return add(StepKind::Greet, line + "\r\n");
}

ScriptedPop3Server &ScriptedPop3Server::acceptClient()
{
    return add(StepKind::Accept);
}

ScriptedPop3Server &ScriptedPop3Server::expect(const QByteArray &line)
{
    return add(StepKind::Expect, line);
}

ScriptedPop3Server &ScriptedPop3Server::reply(const QByteArrayList &replyLines)
{
    QByteArray data;
    for (const QByteArray &line : replyLines)
        data += line + "\r\n";
    return add(StepKind::Send, data);
}

ScriptedPop3Server &ScriptedPop3Server::send(const QByteArray &data)
{
    return add(StepKind::Send, data);
}

ScriptedPop3Server &ScriptedPop3Server::chunks(const QByteArrayList &parts, int delayMs)
{
    for (qsizetype i = 0; i < parts.size(); ++i) {
        if (i > 0 && delayMs > 0)
            add(StepKind::Pause, QByteArray(), delayMs);
        add(StepKind::Send, parts.at(i));
    }
    return *this;
}

ScriptedPop3Server &ScriptedPop3Server::pause(int ms)
{
    return add(StepKind::Pause, QByteArray(), ms);
}

ScriptedPop3Server &ScriptedPop3Server::close()
{
    return add(StepKind::Close);
}

ScriptedPop3Server &ScriptedPop3Server::reset()
{
    return add(StepKind::Reset);
}

void ScriptedPop3Server::autoReply(const QByteArray &prefix, const QByteArrayList &replyLines)
{
    autoReplies.append({prefix, replyLines});
}

void ScriptedPop3Server::sendRaw(const QByteArray &data)
{
    write(data, "raw bytes");
}

void ScriptedPop3Server::closeClient()
{
    if (client)
        client->disconnectFromHost();
}

void ScriptedPop3Server::resetClient()
{
    if (client)
        resetSocket(client);
}

bool ScriptedPop3Server::isClientConnected() const
{
    return client && client->state() == QAbstractSocket::ConnectedState;
}

ScriptedPop3Server &ScriptedPop3Server::add(StepKind kind, const QByteArray &data, int ms)
{
    steps.append({kind, data, ms});
    run();
    return *this;
}

void ScriptedPop3Server::takeConnections()
{
    while (QTcpSocket *next = server->nextPendingConnection()) {
        // One client at a time: a new one replaces the old.
        if (client) {
            QObject::disconnect(client, nullptr, this, nullptr);
            client->abort();
            client->deleteLater();
        }
        client = next;
        partial.clear();
        pendingLines.clear();
        ++connections;
        connect(next, &QTcpSocket::readyRead, this, &ScriptedPop3Server::readClient);
        connect(next, &QTcpSocket::disconnected, this, [this, next] { clientGone(next); });
        emit clientConnected();
    }
    run();
}

void ScriptedPop3Server::readClient()
{
    if (!client)
        return;
    const QByteArray data = client->readAll();
    bytes += data;
    partial += data;
    qsizetype end;
    while ((end = partial.indexOf('\n')) >= 0) {
        QByteArray line = partial.left(end);
        partial.remove(0, end + 1);
        if (line.endsWith('\r'))
            line.chop(1);
        else
            problems.append(QStringLiteral("client line ended by a bare LF: %1").arg(describe(line)));
        lines.append(line);
        pendingLines.append(line);
        emit lineReceived(line);
    }
    run();
}

void ScriptedPop3Server::clientGone(QTcpSocket *gone)
{
    QObject::disconnect(gone, nullptr, this, nullptr);
    gone->deleteLater();
    if (gone == client)
        client = nullptr;
    emit clientDisconnected();
}

void ScriptedPop3Server::handleLine(const QByteArray &line)
{
    if (tryAutoReply(line))
        return;
    unexpectedLines.append(line);
    QString problem = QStringLiteral("unexpected client line %1").arg(describe(line));
    if (next < steps.size() && steps.at(next).kind == StepKind::Expect)
        problem += QStringLiteral(", expected %1").arg(describe(steps.at(next).data));
    problems.append(problem);
}

bool ScriptedPop3Server::tryAutoReply(const QByteArray &line)
{
    for (const auto &[prefix, replyLines] : autoReplies) {
        if (line.left(prefix.size()).compare(prefix, Qt::CaseInsensitive) != 0)
            continue;
        QByteArray data;
        for (const QByteArray &replyLine : replyLines)
            data += replyLine + "\r\n";
        write(data, "an automatic reply");
        return true;
    }
    // Like a server from before capabilities were listed.
    if (line.left(4).compare("CAPA", Qt::CaseInsensitive) == 0) {
        write("-ERR unknown command\r\n", "an automatic reply");
        return true;
    }
    return false;
}

void ScriptedPop3Server::run()
{
    // A step may emit signals whose slots add steps: one runner at a time.
    if (running)
        return;
    running = true;
    while (!busy && next < steps.size()) {
        const Step step = steps.at(next);
        if (step.kind == StepKind::Greet || step.kind == StepKind::Accept) {
            // Lines still waiting belong to a client the script is done with.
            while (!pendingLines.isEmpty())
                handleLine(pendingLines.takeFirst());
            if (connectionsClaimed >= connections)
                break;
            connectionsClaimed = connections;
            ++next;
            if (step.kind == StepKind::Greet)
                write(step.data, "the greeting");
        } else if (step.kind == StepKind::Expect) {
            if (pendingLines.isEmpty())
                break;
            const QByteArray line = pendingLines.takeFirst();
            if (line == step.data)
                ++next;
            else
                handleLine(line);
        } else if (step.kind == StepKind::Send) {
            ++next;
            write(step.data, "a reply");
        } else if (step.kind == StepKind::Pause) {
            ++next;
            busy = true;
            QTimer::singleShot(step.ms, this, [this] {
                busy = false;
                run();
            });
        } else if (step.kind == StepKind::Close) {
            ++next;
            if (client)
                client->disconnectFromHost();
            else
                problems.append(QStringLiteral("no client to close"));
        } else if (step.kind == StepKind::Reset) {
            ++next;
            if (client)
                resetSocket(client);
            else
                problems.append(QStringLiteral("no client to reset"));
        }
    }
    if (!busy && next >= steps.size()) {
        while (!pendingLines.isEmpty())
            handleLine(pendingLines.takeFirst());
    }
    running = false;
}

void ScriptedPop3Server::write(const QByteArray &data, const char *what)
{
    if (!isClientConnected()) {
        problems.append(QStringLiteral("no client to send %1 to").arg(QLatin1String(what)));
        return;
    }
    client->write(data);
    // One write, one send: the chunking a test asks for reaches the wire.
    client->flush();
}

void ScriptedPop3Server::resetSocket(QTcpSocket *target)
{
    target->flush();
    const auto descriptor = target->socketDescriptor();
    if (descriptor >= 0) {
        struct linger abortive = {1, 0};
#if defined(Q_OS_WIN)
        ::setsockopt(SOCKET(descriptor), SOL_SOCKET, SO_LINGER, reinterpret_cast<const char *>(&abortive),
                     int(sizeof abortive));
#else
        ::setsockopt(int(descriptor), SOL_SOCKET, SO_LINGER, &abortive, sizeof abortive);
#endif
    }
    target->abort();
}

QString ScriptedPop3Server::describe(const QByteArray &line)
{
    return QLatin1Char('"') + QString::fromLatin1(line) + QLatin1Char('"');
}
