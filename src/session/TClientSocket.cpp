// SPDX-License-Identifier: GPL-3.0-or-later
#include "session/TClientSocket.h"

#include "session/TClientWinSocket.h"

TClientSocket::TClientSocket(QObject *owner) : QObject(owner), connection(new TClientWinSocket(this))
{
}

TClientSocket::~TClientSocket()
{
    // The owner is going away: its handlers must not run any more, and an open
    // connection is dropped without a word to the server.
    OnLookup = nullptr;
    OnConnecting = nullptr;
    OnConnect = nullptr;
    OnDisconnect = nullptr;
    OnRead = nullptr;
    OnWrite = nullptr;
    OnError = nullptr;
    connection->abandon();
}

void TClientSocket::setActive(bool value)
{
    if (value) {
        if (!active)
            connection->open();
        return;
    }
    // Active is still false while a lookup, connect or handshake is under way,
    // yet the user must be able to stop one that never ends.
    connection->closeSocket(connection->socket);
}

void TClientSocket::setHost(const QString &value)
{
    if (QString::compare(value, host, Qt::CaseInsensitive) == 0)
        return;
    if (active)
        throw ESocketError(QStringLiteral("Cannot change Host while the socket is active"));
    host = value;
}

void TClientSocket::setAddress(const QString &value)
{
    if (QString::compare(value, address, Qt::CaseInsensitive) == 0)
        return;
    if (active)
        throw ESocketError(QStringLiteral("Cannot change Address while the socket is active"));
    address = value;
}

void TClientSocket::setPort(int value)
{
    if (value == port)
        return;
    if (active)
        throw ESocketError(QStringLiteral("Cannot change Port while the socket is active"));
    port = value;
}

bool TClientSocket::UsesImplicitTls() const
{
    // The port that is actually connected to: its low 16 bits.
    return tlsPorts.contains(quint16(port & 0xFFFF));
}

QString TClientSocket::socketErrorText(const QString &message, int code, const QString &api)
{
    // One pass, so that a "%" in the platform's message stays as it is.
    return QStringLiteral("Windows socket error: %1 (%2), on API '%3'").arg(message, QString::number(code), api);
}

void TClientSocket::reportFailure(const QString &text)
{
    if (const std::function<void(const QString &)> handler = OnFailure)
        handler(text);
    else
        qWarning("%s", qPrintable(text));
}

void TClientSocket::raise(const TSocketNotifyEvent &event)
{
    if (const TSocketNotifyEvent handler = event)
        handler(this, connection);
}
