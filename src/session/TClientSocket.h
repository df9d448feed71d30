// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "base/AppFailure.h"

#include <QList>
#include <QObject>
#include <QSslCertificate>
#include <QString>

#include <functional>

class QAbstractSocket;
class QHostInfo;
class TClientWinSocket;

// Error kinds reported with OnError, in this order.
enum class TErrorEvent { eeGeneral, eeSend, eeReceive, eeConnect, eeDisconnect, eeAccept, eeLookup };

class ESocketError : public AppFailure {
public:
    using AppFailure::AppFailure;
};

using TSocketNotifyEvent = std::function<void(QObject *Sender, TClientWinSocket *Socket)>;
using TSocketErrorEvent =
    std::function<void(QObject *Sender, TClientWinSocket *Socket, TErrorEvent ErrorEvent, int &ErrorCode)>;

// The asynchronous client socket: a host name is resolved and connected
// without blocking the GUI thread, and every outcome is reported through the
// On... events on that thread. Active is true from OnConnect to OnDisconnect.
//
// Order of events: OnLookup, then OnConnecting (inside setActive(true) for an
// Address, after the resolution for a Host), then later OnConnect or
// OnError(eeConnect). A failed connect leaves Active false and raises no
// OnDisconnect. An attempt that has not reached OnConnect ConnectTimeout ms
// after OnConnecting (the connect and, on a TLS port, the handshake
// together) fails the same way, with ErrorCode 10060 (timed out).
// setActive(false) during an attempt (lookup, connect or TLS handshake)
// abandons it: OnDisconnect is raised inside the call, with an empty
// PeerAddress, and nothing of that attempt is raised afterwards. A broken
// established connection raises OnError and is then closed (OnDisconnect).
// OnRead is raised again while bytes remain pending after a handler that
// took some, and the bytes that came with the peer's close are offered before
// OnDisconnect. OnError's ErrorCode is a Windows Sockets number (see
// TClientWinSocket::errorNumber); a handler that leaves it non-zero, and a
// failed name resolution, are reported through OnFailure with the text the
// user reads (socketErrorText).
//
// Encrypted connections: on a port listed in ImplicitTlsPorts (995) the
// connection is a TLS one from the first byte. The server's certificate must
// verify against the system's roots plus TrustedCertificates, for the name
// typed (Host, or the Address when connecting by address). OnConnect is
// raised only once the handshake has completed, and everything after it
// (OnRead, SendString, ReceivePending) carries the decrypted stream. A refused
// certificate, or any other failed handshake, ends the attempt like a refused
// connect: OnError(eeConnect), Active stays false, no OnConnect, nothing sent;
// Socket()->TlsFailure() names the reason while the handler runs (empty for
// a handshake the server never answered, which times out).
class TClientSocket : public QObject {
    Q_OBJECT
    Q_PROPERTY(bool Active READ Active WRITE setActive)
    Q_PROPERTY(QString Host READ Host WRITE setHost)
    Q_PROPERTY(QString Address READ Address WRITE setAddress)
    Q_PROPERTY(int Port READ Port WRITE setPort)
    Q_PROPERTY(int ConnectTimeout READ ConnectTimeout WRITE setConnectTimeout)
public:
    explicit TClientSocket(QObject *owner = nullptr);
    // Detaches the events first, then closes: no event is raised, nothing sent.
    ~TClientSocket() override;

    bool Active() const { return active; }
    // true starts a connection (may throw ESocketError after raising
    // OnDisconnect); false closes one, or abandons an attempt under way,
    // raising OnDisconnect synchronously. true while an attempt is under way
    // replaces it without any event.
    void setActive(bool value);

    QString Host() const { return host; }
    void setHost(const QString &value);
    QString Address() const { return address; }
    void setAddress(const QString &value);
    int Port() const { return port; }
    void setPort(int value);

    TClientWinSocket *Socket() const { return connection; }

    // Milliseconds from OnConnecting until the attempt counts as timed out
    // (30 s at start; values below 1 count as 1). Read when the connect starts.
    int ConnectTimeout() const { return connectTimeout; }
    void setConnectTimeout(int value) { connectTimeout = value < 1 ? 1 : value; }

    // The ports (low 16 bits of Port) connected with implicit TLS; {995} at
    // start. Tests put the port of their own TLS server here. Read when a
    // connection starts.
    QList<quint16> ImplicitTlsPorts() const { return tlsPorts; }
    void setImplicitTlsPorts(const QList<quint16> &value) { tlsPorts = value; }
    // True when a connection to the present Port is made with TLS.
    bool UsesImplicitTls() const;

    // Certificates trusted for TLS in addition to the system's roots (the
    // user's own server or authority); empty at start. Read when a connection
    // starts.
    QList<QSslCertificate> TrustedCertificates() const { return trusted; }
    void setTrustedCertificates(const QList<QSslCertificate> &value) { trusted = value; }

    // The text of a failed platform call, in the form the user sees.
    static QString socketErrorText(const QString &message, int code, const QString &api);

    // Makes the platform socket; replaced by tests (nullptr: the platform
    // refuses). The one place that decides the kind of socket. Unset, it makes
    // a QSslSocket for a TLS port and a QTcpSocket otherwise; a socket made
    // here for a TLS port that is not a QSslSocket is never used in clear.
    std::function<QAbstractSocket *()> socketFactory;

    TSocketNotifyEvent OnLookup;
    TSocketNotifyEvent OnConnecting;
    TSocketNotifyEvent OnConnect;
    TSocketNotifyEvent OnDisconnect;
    TSocketNotifyEvent OnRead;
    TSocketNotifyEvent OnWrite;
    TSocketErrorEvent OnError;
    // The connection in clear became a TLS one (TClientWinSocket::StartTls).
    TSocketNotifyEvent OnEncrypted;
    // A failure no handler took care of, as the user reads it; the owner
    // shows it (unset: only logged).
    std::function<void(const QString &text)> OnFailure;

private:
    friend class TClientWinSocket;
    // Calls a handler through a copy, so that a handler that rebinds the
    // event does not destroy the function it runs in.
    void raise(const TSocketNotifyEvent &event);
    void reportFailure(const QString &text);

    bool active = false;
    QString host;
    QString address;
    int port = 0;
    int connectTimeout = 30000;
    QList<quint16> tlsPorts{995};
    QList<QSslCertificate> trusted;
    TClientWinSocket *connection = nullptr;
};
