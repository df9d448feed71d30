// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QList>
#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>

// A connect that is never answered, as to a blackholed address: the socket
// says it is connecting and nothing more ever happens. For socketFactory.
class BlackholedSocket : public QTcpSocket {
public:
    using QTcpSocket::connectToHost;
    void connectToHost(const QString &, quint16, OpenMode, NetworkLayerProtocol) override
    {
        setSocketState(ConnectingState);
    }
};

// Takes TCP connections on a loopback port and never says a word, as a TLS
// port whose server hangs before the handshake.
class SilentServer {
public:
    SilentServer()
    {
        server.listen(QHostAddress::LocalHost, 0);
        QObject::connect(&server, &QTcpServer::newConnection, &server, [this] {
            while (QTcpSocket *peer = server.nextPendingConnection())
                peers.append(peer);
        });
    }
    quint16 port() const { return server.serverPort(); }
    int connectionCount() const { return int(peers.size()); }
    // Bytes the latest client sent (its TLS hello, say).
    qint64 bytesFromClient() const { return peers.isEmpty() || !peers.last() ? 0 : peers.last()->bytesAvailable(); }
    // True once the latest client has closed its connection.
    bool clientGone() const
    {
        return !peers.isEmpty() && (!peers.last() || peers.last()->state() == QAbstractSocket::UnconnectedState);
    }

private:
    QTcpServer server;
    QList<QPointer<QTcpSocket>> peers;
};
