// SPDX-License-Identifier: GPL-3.0-or-later
#include "session/TClientWinSocket.h"

#include "base/Ipv4Address.h"
#include "session/TClientSocket.h"
#include "session/TlsVerification.h"

#include <QEvent>
#include <QHostInfo>
#include <QMetaObject>
#include <QSslConfiguration>
#include <QSslSocket>
#include <QTcpSocket>
#include <QTimer>

#include <algorithm>
#include <utility>

// Platform corner: the pending error of a socket (SO_ERROR), which Qt does not
// expose. Elsewhere a reset is seen as the peer's close.
#if defined(Q_OS_UNIX)
#include <cerrno>
#include <sys/socket.h>
#endif

namespace {

// Windows Sockets error numbers: the numbers users of this program have
// always seen in its error texts.
constexpr int wsaEAcces = 10013;
constexpr int wsaEMsgSize = 10040;
constexpr int wsaEOpNotSupp = 10045;
constexpr int wsaEAddrInUse = 10048;
constexpr int wsaEAddrNotAvail = 10049;
constexpr int wsaENetDown = 10050;
constexpr int wsaEConnReset = 10054;
constexpr int wsaENoBufs = 10055;
constexpr int wsaENotConn = 10057;
constexpr int wsaETimedOut = 10060;
constexpr int wsaEConnRefused = 10061;
constexpr int wsaEInProgress = 10036;
constexpr int wsaHostNotFound = 11001;
constexpr int wsaTryAgain = 11002;
constexpr int wsaNoData = 11004;

// What the platform socket holds at most of the bytes not yet taken.
constexpr qint64 readBufferLimit = 1024 * 1024;

// Takes (and so clears) the socket's pending error; 0 when there is none.
int takePendingErrno(qintptr descriptor)
{
#if defined(Q_OS_UNIX)
    int error = 0;
    socklen_t size = sizeof error;
    if (::getsockopt(int(descriptor), SOL_SOCKET, SO_ERROR, &error, &size) == 0)
        return error;
#else
    Q_UNUSED(descriptor);
#endif
    return 0;
}

int wsaNumberOfErrno(int error)
{
#if defined(Q_OS_UNIX)
    switch (error) {
    case ECONNABORTED:
        return 10053;
    case ETIMEDOUT:
        return wsaETimedOut;
    case ENETUNREACH:
        return 10051;
    case EHOSTUNREACH:
        return 10065;
    default:
        break;
    }
#else
    Q_UNUSED(error);
#endif
    return wsaEConnReset;
}

QString apiName(TErrorEvent kind)
{
    switch (kind) {
    case TErrorEvent::eeConnect:
        return QStringLiteral("connect");
    case TErrorEvent::eeSend:
        return QStringLiteral("send");
    case TErrorEvent::eeReceive:
        return QStringLiteral("recv");
    case TErrorEvent::eeDisconnect:
        return QStringLiteral("closesocket");
    case TErrorEvent::eeLookup:
        return QStringLiteral("ASync Lookup");
    case TErrorEvent::eeGeneral:
    case TErrorEvent::eeAccept:
        break;
    }
    return QStringLiteral("select");
}

// The peer as the user reads it: an IPv4 peer reached over an IPv6 socket
// (::ffff:a.b.c.d) is shown in dotted form.
QString addressText(const QHostAddress &address)
{
    if (address.isNull())
        return QString();
    bool isIPv4 = false;
    const quint32 ipv4 = address.toIPv4Address(&isIPv4);
    return isIPv4 ? QHostAddress(ipv4).toString() : address.toString();
}

}  // namespace

TClientWinSocket::Scope::Scope(TClientWinSocket *owner) : self(owner)
{
    ++owner->depth;
}

TClientWinSocket::Scope::~Scope()
{
    if (self && --self->depth == 0)
        self->freeDropped();
}

TClientWinSocket::TClientWinSocket(TClientSocket *owner)
    : QObject(owner), component(owner), attemptTimer(new QTimer(this))
{
    attemptTimer->setSingleShot(true);
    // A coarse timer may fire up to 5 % early: 28.5 s is not the 30 s promised.
    attemptTimer->setTimerType(Qt::PreciseTimer);
    connect(attemptTimer, &QTimer::timeout, this, &TClientWinSocket::attemptTimedOut);
}

TClientWinSocket::~TClientWinSocket()
{
    cancelLookup();
    // Destroyed from inside one of our own slots (a handler deleted the
    // component): a socket's signal may still be on the stack, so the sockets
    // must outlive this frame.
    const bool nested = depth > 0;
    const QList<QAbstractSocket *> sockets = findChildren<QAbstractSocket *>(Qt::FindDirectChildrenOnly);
    for (QAbstractSocket *s : sockets) {
        QObject::disconnect(s, nullptr, this, nullptr);
        s->abort();
        if (nested) {
            s->setParent(nullptr);
            s->deleteLater();
        }
    }
}

qint64 TClientWinSocket::SendString(const QByteArray &text)
{
    if (!connected || !socket)
        return 0;
    Scope scope(this);
    QAbstractSocket *s = socket;
    const qint64 accepted = s->write(text);
    if (accepted >= 0) {
        // Out at once, as a send on the socket itself would be: the server
        // starts on a command while the handler that sent it goes on. A
        // failure here is reported by the socket's error signal.
        if (sendingHeld > 0)
            sendingOwed = true;
        else
            s->flush();
        return accepted;
    }

    const QString message = s->errorString();
    const int left = raiseError(TErrorEvent::eeSend, errorNumber(s->error()));
    if (!scope.alive())
        return 0;
    closeSocket(s);
    if (left != 0)
        throw ESocketError(TClientSocket::socketErrorText(message, left, apiName(TErrorEvent::eeSend)));
    return 0;
}

void TClientWinSocket::ReleaseSending()
{
    if (sendingHeld > 0 && --sendingHeld == 0 && std::exchange(sendingOwed, false) && connected && socket && !closing)
        socket->flush();
}

QByteArray TClientWinSocket::ReceivePending()
{
    if (!connected || !socket)
        return QByteArray();
    const QByteArray data = socket->readAll();
    bytesTaken += data.size();
    return data;
}

QString TClientWinSocket::PeerAddress() const
{
    return connected ? peerText : QString();
}

int TClientWinSocket::errorNumber(QAbstractSocket::SocketError error)
{
    switch (error) {
    case QAbstractSocket::ConnectionRefusedError:
        return wsaEConnRefused;
    case QAbstractSocket::RemoteHostClosedError:
        return wsaEConnReset;
    case QAbstractSocket::HostNotFoundError:
        return wsaHostNotFound;
    case QAbstractSocket::SocketAccessError:
        return wsaEAcces;
    case QAbstractSocket::SocketResourceError:
        return wsaENoBufs;
    case QAbstractSocket::SocketTimeoutError:
        return wsaETimedOut;
    case QAbstractSocket::DatagramTooLargeError:
        return wsaEMsgSize;
    case QAbstractSocket::NetworkError:
        return wsaENetDown;
    case QAbstractSocket::AddressInUseError:
        return wsaEAddrInUse;
    case QAbstractSocket::SocketAddressNotAvailableError:
        return wsaEAddrNotAvail;
    case QAbstractSocket::UnsupportedSocketOperationError:
        return wsaEOpNotSupp;
    case QAbstractSocket::UnfinishedSocketOperationError:
        return wsaEInProgress;
    case QAbstractSocket::UnknownSocketError:
        // What Qt reports for a write on a socket that is no longer connected.
        return wsaENotConn;
    default:
        break;
    }
    return int(error) + 1;
}

QHostAddress TClientWinSocket::parseDottedDecimal(const QString &text)
{
    const std::optional<quint32> address = parseIpv4(text);
    return address ? QHostAddress(*address) : QHostAddress();
}

void TClientWinSocket::open()
{
    Scope scope(this);
    // A resolution or connect still pending gives way to the new attempt,
    // without any event.
    abandon();
    tlsFailure.clear();
    tlsErrors.clear();
    tcpUp = false;
    upgrading = false;
    upgraded = false;
    tls = component->UsesImplicitTls();

    QAbstractSocket *s = nullptr;
    if (component->socketFactory)
        s = component->socketFactory();
    else if (tls || QSslSocket::supportsSsl())
        s = new QSslSocket;  // in clear until TLS starts, from the first byte or at STLS
    else
        s = new QTcpSocket;
    if (!s)
        throw ESocketError(QStringLiteral("No socket available"));
    s->setParent(this);
    // Bounded: what the handler has not taken yet waits in the kernel, and
    // a server that keeps sending is slowed down instead of filling memory.
    s->setReadBufferSize(readBufferLimit);
    socket = s;
    if (tls) {
        // The connection counts as made only once it is encrypted and verified.
        connect(s, &QAbstractSocket::connected, this, [this, s] {
            if (s == socket)
                tcpUp = true;
        });
        if (auto *ssl = qobject_cast<QSslSocket *>(s)) {
            connect(ssl, &QSslSocket::encrypted, this, [this, s] { socketConnected(s); });
            // Only noted: the handshake then fails on its own, as nothing here
            // ever ignores a certificate error.
            connect(ssl, &QSslSocket::sslErrors, this, [this, s](const QList<QSslError> &errors) {
                if (s == socket)
                    tlsErrors += errors;
            });
        }
    } else {
        connect(s, &QAbstractSocket::connected, this, [this, s] { socketConnected(s); });
        if (auto *ssl = qobject_cast<QSslSocket *>(s)) {
            connect(ssl, &QSslSocket::encrypted, this, [this, s] {
                if (s != socket || !upgrading || closing)
                    return;
                upgrading = false;
                upgraded = true;
                attemptTimer->stop();
                component->raise(component->OnEncrypted);
            });
            connect(ssl, &QSslSocket::sslErrors, this, [this, s](const QList<QSslError> &errors) {
                if (s == socket && upgrading)
                    tlsErrors += errors;
            });
        }
    }
    connect(s, &QIODevice::readyRead, this, [this, s] { socketReadyRead(s); });
    connect(s, &QAbstractSocket::errorOccurred, this,
            [this, s](QAbstractSocket::SocketError error) { socketError(s, error); });
    connect(s, &QAbstractSocket::disconnected, this, [this, s] { socketDisconnected(s); });

    component->raise(component->OnLookup);
    if (!scope.alive() || socket != s)
        return;

    if (!component->host.isEmpty()) {
        lookupId = QHostInfo::lookupHost(component->host, this, [this](const QHostInfo &info) { lookupDone(info); });
        return;
    }

    QString failure;
    QHostAddress target;
    if (component->address.isEmpty()) {
        failure = QStringLiteral("No address given");
    } else {
        target = parseDottedDecimal(component->address);
        if (target.isNull())
            failure = QStringLiteral("Not an IPv4 address: %1").arg(component->address);
    }
    if (!failure.isEmpty()) {
        closeSocket(s);
        throw ESocketError(failure);
    }
    startConnect(target);
}

void TClientWinSocket::startConnect(const QHostAddress &target)
{
    Scope scope(this);
    QAbstractSocket *s = socket;
    if (!s)
        return;
    const quint16 port = quint16(component->port & 0xFFFF);
    // The certificate must name what the user typed; an address is taken in
    // its plain form (the field accepts leading zeros).
    peerName = component->host.isEmpty() ? target.toString() : component->host;
    component->raise(component->OnConnecting);
    if (!scope.alive() || socket != s)
        return;
    attemptClock.start();
    attemptTimer->start(component->connectTimeout);
    // Qt may settle a connect (even refuse it) inside connectToHost. Started
    // from the event loop, the outcome is always an event of its own and
    // never happens inside the activation call.
    QMetaObject::invokeMethod(
        this,
        [this, guarded = QPointer<QAbstractSocket>(s), target, port, name = peerName] {
            Scope inner(this);
            if (guarded && guarded == socket)
                connectSocket(guarded, target, port, name);
        },
        Qt::QueuedConnection);
}

void TClientWinSocket::connectSocket(QAbstractSocket *s, const QHostAddress &target, quint16 port,
                                     const QString &peerName)
{
    if (!tls) {
        s->connectToHost(target, port);
        return;
    }
    auto *ssl = qobject_cast<QSslSocket *>(s);
    if (!ssl || !QSslSocket::supportsSsl()) {
        // Never fall back to a connection in clear on a TLS port.
        refuseTls(s, TlsVerification::unavailable(), QAbstractSocket::SslInternalError);
        return;
    }
    configureTls(ssl);
    ssl->connectToHostEncrypted(target.toString(), port, peerName);
}

void TClientWinSocket::configureTls(QSslSocket *ssl) const
{
    QSslConfiguration config = QSslConfiguration::defaultConfiguration();
    const QList<QSslCertificate> extra = component->trusted;
    if (!extra.isEmpty()) {
        // Setting the authorities replaces the system's roots loaded on
        // demand, so they are named explicitly.
        config.setCaCertificates(QSslConfiguration::systemCaCertificates() + extra);
    }
    config.setPeerVerifyMode(QSslSocket::VerifyPeer);
    ssl->setSslConfiguration(config);
}

void TClientWinSocket::StartTls()
{
    Scope scope(this);
    QAbstractSocket *s = socket;
    if (!s || !connected || closing || tls || upgrading || upgraded)
        return;
    tlsErrors.clear();
    tlsFailure.clear();
    auto *ssl = qobject_cast<QSslSocket *>(s);
    if (!ssl || !QSslSocket::supportsSsl()) {
        // Never go on in clear once encryption was agreed on.
        failUpgrade(s, TlsVerification::unavailable());
        return;
    }
    upgrading = true;
    configureTls(ssl);
    ssl->setPeerVerifyName(peerName);
    // The connect timeout covers the handshake too.
    attemptTimer->start(int(std::max<qint64>(1, component->connectTimeout - attemptClock.elapsed())));
    ssl->startClientEncryption();
}

void TClientWinSocket::failUpgrade(QAbstractSocket *s, const QString &reason)
{
    upgrading = false;
    tlsFailure = reason;
    closeSocket(s);
}

void TClientWinSocket::refuseTls(QAbstractSocket *s, const QString &reason, QAbstractSocket::SocketError error)
{
    Scope scope(this);
    const QString message = s->errorString();
    tlsFailure = reason;
    discard(s);
    reportError(message, errorNumber(error), TErrorEvent::eeConnect);
}

void TClientWinSocket::lookupDone(const QHostInfo &info)
{
    if (lookupId < 0 || info.lookupId() != lookupId)
        return;
    lookupId = -1;
    Scope scope(this);
    QAbstractSocket *s = socket;
    if (!s)
        return;

    QHostAddress target;
    for (const QHostAddress &address : info.addresses()) {
        if (address.protocol() == QAbstractSocket::IPv4Protocol) {
            target = address;
            break;
        }
    }
    // A name with IPv6 addresses only is still reachable: connect over IPv6
    // rather than fail.
    if (target.isNull()) {
        for (const QHostAddress &address : info.addresses()) {
            if (address.protocol() == QAbstractSocket::IPv6Protocol) {
                target = address;
                break;
            }
        }
    }

    if (target.isNull()) {
        QString message = info.errorString();
        int code = info.error() == QHostInfo::HostNotFound ? wsaHostNotFound : wsaTryAgain;
        if (info.error() == QHostInfo::NoError) {
            message = QStringLiteral("No address found for the host name");
            code = wsaNoData;
        }
        closeSocket(s);
        // The failure ends the action, as a failure escaping a handler does.
        component->reportFailure(TClientSocket::socketErrorText(message, code, apiName(TErrorEvent::eeLookup)));
        return;
    }
    startConnect(target);
}

void TClientWinSocket::socketConnected(QAbstractSocket *s)
{
    Scope scope(this);
    if (s != socket || closing)
        return;
    attemptTimer->stop();
    connected = true;
    // Each command goes out as one write of whole lines; waiting to merge it
    // with the next (Nagle) only delays a batch's commands behind the
    // server's delayed acknowledgements.
    s->setSocketOption(QAbstractSocket::LowDelayOption, 1);
    peerText = addressText(s->peerAddress());
    const QList<QSocketNotifier *> notifiers = s->findChildren<QSocketNotifier *>();
    for (QSocketNotifier *notifier : notifiers) {
        if (notifier->type() == QSocketNotifier::Read) {
            readWatch = notifier;
            notifier->installEventFilter(this);
            break;
        }
    }
    component->active = true;
    component->raise(component->OnConnect);
}

void TClientWinSocket::socketReadyRead(QAbstractSocket *s)
{
    Scope scope(this);
    if (s != socket || !connected || closing)
        return;
    const qint64 before = bytesTaken;
    component->raise(component->OnRead);
    if (!scope.alive() || bytesTaken == before)
        return;
    // Qt does not signal data that came in while the handler ran (a nested
    // event loop): offer it now instead of leaving it until more arrives.
    raiseReadWhilePending(s);
}

void TClientWinSocket::raiseReadWhilePending(QAbstractSocket *s)
{
    Scope scope(this);
    while (s == socket && connected && !closing && s->bytesAvailable() > 0) {
        const qint64 before = bytesTaken;
        component->raise(component->OnRead);
        // A handler that takes nothing is not asked again.
        if (!scope.alive() || bytesTaken == before)
            return;
    }
}

void TClientWinSocket::socketError(QAbstractSocket *s, QAbstractSocket::SocketError error)
{
    Scope scope(this);
    if (s != socket || closing)
        return;
    QString message = s->errorString();
    int code = errorNumber(error);

    if (upgrading) {
        QString reason = TlsVerification::refusalReason(tlsErrors);
        if (reason.isEmpty())
            reason = TlsVerification::handshakeFailure(message);
        failUpgrade(s, reason);
        return;
    }

    if (!connected) {
        // Refused, timed out, unreachable: the attempt is over. Active stays
        // false and there is no disconnect event; the dead socket just goes.
        // So is a TLS attempt whose handshake failed (a certificate refused,
        // the server speaking something else), with the reason kept for the
        // handler.
        if (tls && (tcpUp || !tlsErrors.isEmpty())) {
            tlsFailure = TlsVerification::refusalReason(tlsErrors);
            if (tlsFailure.isEmpty())
                tlsFailure = TlsVerification::handshakeFailure(message);
        }
        discard(s);
        reportError(message, code, TErrorEvent::eeConnect);
        return;
    }

    // Qt reports the peer's close, and a reset, as RemoteHostClosedError. It
    // is a failure when the socket had a pending error (a reset), or when
    // bytes we accepted could not be sent.
    const bool unsent = s->bytesToWrite() > 0;
    const int seen = pendingErrno;
    if (error == QAbstractSocket::RemoteHostClosedError && !unsent && seen == 0) {
        socketDisconnected(s);
        return;
    }

    TErrorEvent kind = TErrorEvent::eeReceive;
    if (error == QAbstractSocket::RemoteHostClosedError)
        kind = TErrorEvent::eeDisconnect;
    else if (unsent)
        kind = TErrorEvent::eeSend;
    if (error == QAbstractSocket::RemoteHostClosedError && seen != 0) {
        message = qt_error_string(seen);
        code = wsaNumberOfErrno(seen);
    }
    // A broken connection is closed rather than left looking active.
    const int left = raiseError(kind, code);
    if (!scope.alive())
        return;
    closeSocket(s);
    if (left != 0)
        component->reportFailure(TClientSocket::socketErrorText(message, left, apiName(kind)));
}

void TClientWinSocket::socketDisconnected(QAbstractSocket *s)
{
    Scope scope(this);
    if (s != socket || !connected || closing)
        return;
    if (upgrading) {
        failUpgrade(s, TlsVerification::handshakeFailure(QStringLiteral("the server closed the connection")));
        return;
    }
    // The last reply often comes together with the close: hand it over first.
    raiseReadWhilePending(s);
    if (!scope.alive())
        return;
    closeSocket(s);
}

void TClientWinSocket::attemptTimedOut()
{
    Scope scope(this);
    QAbstractSocket *s = socket;
    if (s && upgrading && !closing) {
        failUpgrade(s, TlsVerification::handshakeFailure(QStringLiteral("no answer in time")));
        return;
    }
    if (!s || connected || closing)
        return;
    // No refusal and no answer: a blackholed address, or a server that took
    // the connection and never answered the handshake. Nothing came back, so
    // there is no TLS reason to give.
    discard(s);
    reportError(QStringLiteral("Connection timed out"), wsaETimedOut, TErrorEvent::eeConnect);
}

int TClientWinSocket::raiseError(TErrorEvent kind, int code)
{
    if (const TSocketErrorEvent handler = component->OnError)
        handler(component, this, kind, code);
    return code;
}

void TClientWinSocket::reportError(const QString &message, int code, TErrorEvent kind)
{
    const int left = raiseError(kind, code);
    if (left != 0)
        component->reportFailure(TClientSocket::socketErrorText(message, left, apiName(kind)));
}

void TClientWinSocket::closeSocket(QAbstractSocket *s)
{
    Scope scope(this);
    cancelLookup();
    if (!s || s != socket || closing)
        return;
    closing = true;
    component->active = false;
    // Raised while the socket is still open, so the handler can name the peer.
    component->raise(component->OnDisconnect);
    if (!scope.alive())
        return;
    if (socket == s)
        discard(s);
}

void TClientWinSocket::abandon()
{
    Scope scope(this);
    cancelLookup();
    component->active = false;
    discard(socket);
}

void TClientWinSocket::discard(QAbstractSocket *s)
{
    if (!s)
        return;
    if (s == socket) {
        attemptTimer->stop();
        socket = nullptr;
        connected = false;
        upgrading = false;
        closing = false;
        peerText.clear();
        pendingErrno = 0;
        if (readWatch)
            readWatch->removeEventFilter(this);
        readWatch = nullptr;
    }
    // Cut it off first: aborting emits Qt's own disconnected/stateChanged
    // signals, and they must not reach the component any more.
    QObject::disconnect(s, nullptr, this, nullptr);
    s->abort();
    dropped.append(s);
    if (depth == 0)
        freeDropped();
}

bool TClientWinSocket::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == readWatch && connected && pendingErrno == 0 &&
        (event->type() == QEvent::SockAct || event->type() == QEvent::SockClose))
        pendingErrno = takePendingErrno(readWatch->socket());
    return QObject::eventFilter(watched, event);
}

void TClientWinSocket::cancelLookup()
{
    if (lookupId < 0)
        return;
    QHostInfo::abortHostLookup(lookupId);
    lookupId = -1;
}

void TClientWinSocket::freeDropped()
{
    // deleteLater: the socket's own signal may still be on the stack below
    // the slot that dropped it.
    const QList<QPointer<QAbstractSocket>> sockets = std::exchange(dropped, {});
    for (const QPointer<QAbstractSocket> &s : sockets) {
        if (s)
            s->deleteLater();
    }
}
