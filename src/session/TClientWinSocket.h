// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QAbstractSocket>
#include <QByteArray>
#include <QElapsedTimer>
#include <QHostAddress>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QSocketNotifier>
#include <QSslError>
#include <QString>

class QHostInfo;
class QSslSocket;
class QTimer;
class TClientSocket;
enum class TErrorEvent;

// The connection object of TClientSocket: the one platform socket and what
// the program does with it (send, take what has arrived, ask for the peer).
//
// Qt delivers the socket's signals directly into the handlers of the
// component, and those handlers may run nested event loops or close the
// connection. A socket that is dropped while one of its own signals is still
// on the stack must not be deleted under Qt's feet, so dropped sockets wait
// in a list until the outermost of our slots has returned.
class TClientWinSocket : public QObject {
    Q_OBJECT
public:
    explicit TClientWinSocket(TClientSocket *owner);
    ~TClientWinSocket() override;

    // Hands all bytes to the connection; gives the number accepted (0 when not
    // connected).
    qint64 SendString(const QByteArray &text);
    // While held, what SendString hands over goes out once the last hold is
    // released (or when Qt gets to it), not with a system call of its own
    // each: many commands sent in one go leave in few packets.
    void HoldSending() { ++sendingHeld; }
    void ReleaseSending();
    // All bytes now pending on the connection (empty when not connected).
    QByteArray ReceivePending();
    // The connected peer's numeric address, or empty; never fails.
    QString PeerAddress() const;
    bool Connected() const { return connected; }
    // True while connected over TLS (the handshake has completed and the
    // server's certificate was accepted), from the first byte or since
    // StartTls.
    bool Encrypted() const { return connected && (tls || upgraded); }
    // Turns the connection in clear into a TLS one (after the server's "+OK"
    // to STLS), with the verification of an implicit TLS port, within what
    // is left of ConnectTimeout since OnConnecting. OnEncrypted follows once
    // the certificate is verified. A refused certificate, a failed handshake
    // or no answer in time closes the connection (OnDisconnect), with
    // TlsFailure() naming why; so does a socket that cannot do TLS, inside
    // this call. Nothing received in clear is offered after this call.
    void StartTls();
    // A StartTls handshake is under way.
    bool StartingTls() const { return upgrading; }
    // Why the last TLS attempt was refused, as the line the user reads
    // ("TLS: certificate has expired"...); set before OnError(eeConnect) is
    // raised for it and kept until the next activation. Empty when the attempt
    // was not TLS, or failed before the server answered (refused, timed out).
    QString TlsFailure() const { return tlsFailure; }

    // The error number reported with OnError for a Qt socket error: the
    // Windows Sockets number where there is one (10061 refused, 10060 timed
    // out, 10054 reset, 11001 host not found...), otherwise the Qt value + 1.
    // Never 0.
    static int errorNumber(QAbstractSocket::SocketError error);
    // Reads dotted-decimal IPv4 text, every part as a decimal number (leading
    // zeros count for nothing, as the server field's check has it). Gives a
    // null address for anything else.
    static QHostAddress parseDottedDecimal(const QString &text);

protected:
    // Looks at the socket's pending error before Qt reads it (see readWatch).
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    friend class TClientSocket;

    // Counts our frames on the stack; dropped sockets are freed when the
    // outermost one ends.
    class Scope {
    public:
        explicit Scope(TClientWinSocket *owner);
        ~Scope();
        Scope(const Scope &) = delete;
        Scope &operator=(const Scope &) = delete;
        bool alive() const { return !self.isNull(); }

    private:
        QPointer<TClientWinSocket> self;
    };

    // Activation (setActive(true)): throws ESocketError after raising
    // OnDisconnect when there is nothing to connect to.
    void open();
    // Closes the connection of socket s if it is the current one: Active
    // false, OnDisconnect while the peer is still known, then the socket goes.
    void closeSocket(QAbstractSocket *s);
    // Drops everything without any event (destruction, a new activation).
    void abandon();

    void startConnect(const QHostAddress &target);
    // Connects s; a TLS socket with its verification set up first. A TLS
    // connection that cannot be made is reported as a failed connect.
    void connectSocket(QAbstractSocket *s, const QHostAddress &target, quint16 port, const QString &peerName);
    void lookupDone(const QHostInfo &info);
    void socketConnected(QAbstractSocket *s);
    void socketReadyRead(QAbstractSocket *s);
    void socketError(QAbstractSocket *s, QAbstractSocket::SocketError error);
    void socketDisconnected(QAbstractSocket *s);
    // The attempt ran out of time before OnConnect: a failed connect.
    void attemptTimedOut();
    // Raises OnRead for data still buffered in s, as long as the handler takes some.
    void raiseReadWhilePending(QAbstractSocket *s);
    // OnError, then the error display if the handler left the code non-zero.
    // Gives the code the handler left.
    int raiseError(TErrorEvent kind, int code);
    void reportError(const QString &message, int code, TErrorEvent kind);

    // Ends a TLS attempt that cannot go on, like a refused connect.
    void refuseTls(QAbstractSocket *s, const QString &reason, QAbstractSocket::SocketError error);
    // The verification of every TLS connection: the system's roots plus the
    // trusted certificates, the peer verified.
    void configureTls(QSslSocket *ssl) const;
    // A StartTls handshake that cannot go on closes the connection.
    void failUpgrade(QAbstractSocket *s, const QString &reason);

    void discard(QAbstractSocket *s);
    void cancelLookup();
    void freeDropped();

    TClientSocket *component;
    QPointer<QAbstractSocket> socket;
    bool connected = false;
    // The present attempt is a TLS one; tcpUp once its TCP connect is done
    // (a failure before that is a plain connect failure, not a TLS one).
    bool tls = false;
    bool tcpUp = false;
    // STLS: a handshake on the connection in clear is under way, or done.
    bool upgrading = false;
    bool upgraded = false;
    // The name the certificate must carry (the host typed, or the address).
    QString peerName;
    QElapsedTimer attemptClock;
    QList<QSslError> tlsErrors;
    QString tlsFailure;
    // Set while OnDisconnect runs for the current socket, so that nothing
    // closes it a second time.
    bool closing = false;
    int sendingHeld = 0;
    bool sendingOwed = false;
    QString peerText;
    // Qt reads a reset as the peer's orderly close. The read notifier of the
    // connected socket is watched so that the pending socket error (errno),
    // taken just before Qt reads, tells the two apart.
    QPointer<QSocketNotifier> readWatch;
    int pendingErrno = 0;
    int lookupId = -1;
    // Runs from OnConnecting until OnConnect (connect and TLS handshake), so
    // a peer that never answers does not leave the attempt hanging.
    QTimer *attemptTimer;
    qint64 bytesTaken = 0;
    int depth = 0;
    QList<QPointer<QAbstractSocket>> dropped;
};
