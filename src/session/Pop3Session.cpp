// SPDX-License-Identifier: GPL-3.0-or-later
#include "session/Pop3Session.h"

#include "base/Ipv4Address.h"
#include "base/WireText.h"
#include "session/ReadView.h"
#include "session/TClientSocket.h"
#include "session/TClientWinSocket.h"

#include <QElapsedTimer>
#include <QScopedValueRollback>
#include <QLocale>
#include <QSslCertificate>

#include <utility>

namespace {

const QByteArray kCrLf = QByteArrayLiteral("\r\n");

// The states in which the lines of a reply body arrive: they are judged as
// they came, not as status lines.
bool isBody(std::uint8_t state)
{
    return (state >= ssReadBody && state <= ssHeaderBody) || state == ssCapaBody || state == ssTypedBody;
}

// The bodies the program collects; the console does not show them. The
// reply to a typed command is the user's to read.
bool isHidden(std::uint8_t state)
{
    return isBody(state) && state != ssTypedBody;
}

// A command argument on the wire: a line break in a field (pasted, or read
// from the settings file) would end the command early and send the rest as
// a command of its own, so the breaks are left out.
QByteArray argument(const QString &text)
{
    QByteArray bytes = encodeWireText(text);
    bytes.removeIf([](char c) { return c == '\r' || c == '\n'; });
    return bytes;
}

// A size the way the console names a bound.
QString sizeText(qint64 bytes)
{
    if (bytes % (1024 * 1024) == 0)
        return QStringLiteral("%1 MiB").arg(bytes / (1024 * 1024));
    if (bytes % 1024 == 0)
        return QStringLiteral("%1 KiB").arg(bytes / 1024);
    return QStringLiteral("%1 bytes").arg(bytes);
}

}  // namespace

Pop3Session::SendingHeld::SendingHeld(TClientSocket *socket) : connection(socket->Socket())
{
    connection->HoldSending();
}

Pop3Session::SendingHeld::~SendingHeld()
{
    connection->ReleaseSending();
}

Pop3Session::Pop3Session(SessionWindow *window, QObject *parent)
    : QObject(parent), window(window), sock(new TClientSocket(this))
{
    sock->setObjectName(QStringLiteral("cSock"));
    bindSocket();
}

Pop3Session::~Pop3Session()
{
    delete sock;
    sock = nullptr;
}

void Pop3Session::bindSocket()
{
    sock->OnConnecting = [this](QObject *, TClientWinSocket *s) { emit connecting(s); };
    sock->OnConnect = [this](QObject *, TClientWinSocket *s) {
        abandonDeleteBatch();
        abandonHeaderBatch();
        capability = Capability::Unknown;
        loginStep = LoginStep::Open;
        stlsListed = false;
        shownText.reset();
        emit connected(s);
    };
    sock->OnEncrypted = [this](QObject *, TClientWinSocket *) {
        if (loginStep != LoginStep::Handshake)
            return;
        loginStep = LoginStep::Open;
        // What the server said before TLS may have been forged on the way.
        capability = Capability::Unknown;
        login(window->userName(), window->password());
    };
    sock->OnDisconnect = [this](QObject *, TClientWinSocket *s) {
        // What came before the end is the server's last word: handled first,
        // unless the end came from handling it.
        if (!dispatching)
            handleUnhandled(false);
        // A failed STLS handshake says why, as on a TLS port.
        if (loginStep == LoginStep::Handshake && s && !s->TlsFailure().isEmpty())
            emit consoleEntry(s->TlsFailure());
        loginStep = LoginStep::Open;
        forgetConnection();
        emit disconnected(s);
    };
    sock->OnRead = [this](QObject *sender, TClientWinSocket *s) { cSockRead(sender, s); };
    sock->OnError = [this](QObject *, TClientWinSocket *s, TErrorEvent event, int &code) {
        emit socketError(s, event, &code);
    };
    sock->OnFailure = [this](const QString &text) { emit failure(text); };
}

void Pop3Session::forgetConnection()
{
    // A line left unfinished by a closed connection belongs to no later
    // one, and nothing in flight will be answered.
    ++connectionsEnded;
    replyAssembler.clear();
    unhandled.clear();
    unhandledFrom = 0;
    shownText.reset();
    inFlight.clear();
    abandonHeaderBatch();
    autoBatch.clear();
    // The server forgets the deletions of a session that ends without QUIT.
    pendingDeletions = 0;
    // A listing cut off will not be completed.
    listing.clear();
    capability = Capability::Unknown;
    // Nothing more of a delete batch can go out on this connection.
    if (DeleteConfirmed)
        endDeleteBatch();
}

MailRowRef Pop3Session::commandRow() const
{
    for (const PendingCommand &command : inFlight.all()) {
        if (!command.target.id.isEmpty())
            return command.target;
    }
    return {};
}

// --- the connection ---

void Pop3Session::expectGreeting()
{
    inFlight.clear();
    capability = Capability::Unknown;
    // The greeting is the first reply on a connection, whatever is typed
    // before it comes.
    inFlight.push({ssWaitGreeting, QByteArray(), ReplyShape::StatusLine, {}, QString(), false, 0});
    followQueue();
}

QString Pop3Session::open(const QString &server, int port, const std::function<QList<QSslCertificate>()> &trusted)
{
    sock->setHost(QString());
    sock->setAddress(QString());
    if (parseIpv4(server))
        sock->setAddress(server);
    else
        sock->setHost(server);
    sock->setPort(port);
    // Any connection may turn to TLS (STLS), so the trust file counts for all.
    sock->setTrustedCertificates(trusted ? trusted() : QList<QSslCertificate>());
    try {
        sock->setActive(true);
    } catch (const ESocketError &error) {
        return error.text();
    }
    return {};
}

void Pop3Session::close()
{
    sock->setActive(false);
}

bool Pop3Session::isOpen() const
{
    return sock->Active();
}

// --- the reply order ---

void Pop3Session::send(const QByteArray &text, const MailRowRef &target)
{
    // Sends nothing while not connected; a failing send is reported by the
    // socket's error and disconnect events.
    if (commandSent)
        commandSent(text, target);
    sock->Socket()->SendString(text);
}

void Pop3Session::startCommand(PendingCommand command, const QByteArray &line)
{
    // Queued before it is sent: a send that fails ends the connection, and
    // with it everything queued.
    const MailRowRef target = command.target;
    inFlight.push(std::move(command));
    // The state and the status follow the oldest command in flight.
    if (inFlight.size() == 1)
        followQueue();
    send(line, target);
}

PendingCommand Pop3Session::finishCommand()
{
    PendingCommand done = inFlight.take();
    headerBatch.replyCame(done.batch);
    deleteBatch.replyCame(done.batch);
    autoBatch.replyCame(done.batch);
    return done;
}

void Pop3Session::followQueue()
{
    if (inFlight.isEmpty())
        return;
    PendingCommand &head = inFlight.front();
    SessionState = head.awaited;
    if (!head.announced) {
        head.announced = true;
        if (!head.status.isEmpty())
            emit statusText(head.status);
    }
}

// --- the commands ---

void Pop3Session::login(const QString &user, const QString &password)
{
    // Never the account in clear to a server that offered encryption, nor
    // while the connection is being encrypted.
    if (loginStep != LoginStep::Open || (stlsListed && !sock->Socket()->Encrypted()))
        return;
    abandonDeleteBatch();
    abandonHeaderBatch();
    stopAutoHeaders();
    const QString masked(qsizetype(password.toUcs4().size()), QLatin1Char('*'));
    emit consoleEntry(QStringLiteral("? USER ") + user);
    emit consoleEntry(QStringLiteral("? PASS ") + masked);
    emit statusText(QStringLiteral(" Login to user account ..."));
    // Both lines go out at once; each has its own reply.
    inFlight.push({ssWaitUser, "USER", ReplyShape::StatusLine, {}, QString(), true, 0});
    startCommand({ssWaitPass, "PASS", ReplyShape::StatusLine, {}, QString(), true, 0},
                 "user " + argument(user) + kCrLf + "pass " + argument(password) + kCrLf);
    followQueue();
}

void Pop3Session::listMailbox()
{
    abandonDeleteBatch();
    abandonHeaderBatch();
    stopAutoHeaders();
    emit listingStarted();
    emit consoleEntry(QStringLiteral("? LIST"));
    startCommand(
        {ssWaitList, "LIST", ReplyShape::MultiLine, {}, QStringLiteral(" Downloading Mail List ..."), false, 0},
        "LIST" + kCrLf);
}

void Pop3Session::readMessage(const MailRowRef &row, bool whole)
{
    if (row.id.isEmpty())
        return;  // never a "TOP" without a number
    abandonDeleteBatch();
    abandonHeaderBatch();
    const QString n = decodeWireText(row.id);
    emit consoleEntry(QStringLiteral("RETR ") + n);
    startCommand({ssWaitRead, whole ? "RETR" : "TOP", ReplyShape::MultiLine, row,
                  QStringLiteral(" Downloading Mail #") + n + QStringLiteral(" ..."), false, 0},
                 (whole ? "RETR " + row.id : "TOP " + row.id + " 100") + kCrLf);
}

void Pop3Session::quit()
{
    abandonDeleteBatch();
    abandonHeaderBatch();
    stopAutoHeaders();
    // Nothing sent before is acted on any more: the list goes. Their replies
    // still come first, and are only shown; the one to QUIT is told, and
    // keeps its place before those of lines typed after it.
    const bool midReply = !inFlight.isEmpty() && isBody(SessionState);
    inFlight.discardAll();
    inFlight.push({ssIdle, "QUIT", ReplyShape::StatusLine, {}, QString(), true, 0});
    if (midReply) {
        // The rest of a reply being collected is shown to its end marker.
        SessionState = ssTypedBody;
        SkipRest = false;
    } else {
        followQueue();
    }
    // The server makes the deletions once it reads QUIT.
    pendingDeletions = 0;
    emit consoleEntry(QStringLiteral("QUIT "));
    send("QUIT" + kCrLf);
}

bool Pop3Session::sendTyped(const QString &typed)
{
    if (!sock->Active() && !detached)
        return false;
    // Sent exactly as typed: no trimming, no change of case, no check. Its
    // reply is only shown, and a batch running goes on behind it. A line
    // break pasted into the prompt makes the server read two commands, so
    // each piece waits for a reply of its own.
    const QByteArray bytes = encodeWireText(typed);
    const QList<QByteArray> pieces = bytes.split('\n');
    const bool first = inFlight.isEmpty();
    for (const QByteArray &piece : pieces) {
        inFlight.push({ssWaitTyped, piece.left(16), typedReplyShape(piece), {}, QString(), false, 0});
        if (typedVerb(piece) == "QUIT")
            pendingDeletions = 0;
    }
    if (first)
        followQueue();
    send(bytes + kCrLf);
    emit consoleEntry(QStringLiteral("? ") + typed);
    return true;
}

// --- what arrives ---

void Pop3Session::cSockRead(QObject *, TClientWinSocket *Socket)
{
    takeReceived(Socket);
    handleUnhandled(true);
}

bool Pop3Session::takeReceived(TClientWinSocket *Socket)
{
    // Taken while little waits to be handled. The rest stays on the
    // connection, where TCP holds back a server that sends faster than the
    // window handles, instead of it filling memory; handling takes it as it
    // goes, so nothing is left there unhandled.
    bool took = false;
    while (Socket && bytesWaiting() < MaxBytesWaiting) {
        const QByteArray chunk = Socket->ReceivePending();
        if (chunk.isEmpty())
            break;
        // What was handled goes once it is no less than what is left.
        if (unhandledFrom > 0 && unhandledFrom >= bytesWaiting()) {
            unhandled.remove(0, unhandledFrom);
            unhandledFrom = 0;
        }
        unhandled.append(chunk);
        took = true;
    }
    return took;
}

void Pop3Session::handleUnhandled(bool sliced)
{
    // Handed on in pieces of a size a line assembler and the console take
    // in stride; a reply cut between two pieces is put together as one cut
    // between two reads is.
    constexpr qsizetype Piece = 16 * 1024;
    const SendingHeld together(sock);
    QElapsedTimer slice;
    slice.start();
    bool handled = false;
    while (unhandledFrom < unhandled.size() || takeReceived(sock->Socket())) {
        if (sliced && handled && slice.elapsed() >= readSliceMs) {
            if (!std::exchange(handlingPosted, true))
                QMetaObject::invokeMethod(
                    this,
                    [this] {
                        handlingPosted = false;
                        handleUnhandled(true);
                    },
                    Qt::QueuedConnection);
            break;
        }
        const qsizetype size = std::min(Piece, unhandled.size() - unhandledFrom);
        QByteArray piece = unhandled.mid(unhandledFrom, size);
        unhandledFrom += size;
        dispatchReceivedBytes(std::move(piece));
        handled = true;
    }
    if (unhandledFrom >= unhandled.size()) {
        unhandled.clear();
        unhandledFrom = 0;
    }
    if (handled)
        emit repliesHandled();
}

void Pop3Session::showReceived(const QByteArray &chunk)
{
    // Shown as it came, trimmed; NUL bytes would end the text early on
    // screen. A character the transport cut in two shows with the next read.
    QByteArray shown = trimmedLow(shownText.complete(chunk));
    shown.removeIf([](char c) { return c == '\0'; });
    emit consoleEntry(decodeWireText(shown));
}

void Pop3Session::handleReceivedBytes(QByteArray chunk)
{
    const SendingHeld together(sock);
    dispatchReceivedBytes(std::move(chunk));
    emit repliesHandled();
}

void Pop3Session::dispatchReceivedBytes(QByteArray chunk)
{
    const QScopedValueRollback<bool> handling(dispatching, true);
    if (isHidden(SessionState))
        shownText.reset();
    else
        showReceived(chunk);

    QList<QByteArray> lines;
    replyAssembler.setMaxLineLength(maxLineLength);
    replyAssembler.feed(chunk, lines);
    if (replyAssembler.overflowed()) {
        giveUpConnection(QStringLiteral("Connection closed: the server sent a line longer than %1 MiB.")
                             .arg(maxLineLength / (1024 * 1024)));
        return;
    }
    ReplyLines = lines;
    const quint64 connection = connectionsEnded;
    dispatchLines(lines);
    if (connection != connectionsEnded)
        return;
    // The replies of this read may have made room for more of the automatic
    // batch, or ended what it yielded to.
    carryOnAutoHeaders();
    // A status line is short; one that goes on and on without its break is
    // no POP3 server talking. A line still coming counts against the bound
    // of the reply it belongs to.
    if (!isBody(SessionState) && replyAssembler.partialLength() > maxStatusLineLength)
        giveUpConnection(statusLineTooLong());
    else if (replyBound() > 0 && replyBytes + replyAssembler.partialLength() > replyBound())
        giveUpConnection(replyTooLarge());
}

void Pop3Session::dispatchLines(QList<QByteArray> &lines)
{
    const quint64 connection = connectionsEnded;
    for (QByteArray &line : lines) {
        // What came after the connection ended (a listing that found the
        // mailbox empty, a reply given up on) belongs to no conversation.
        if (connection != connectionsEnded)
            return;
        const std::uint8_t state = SessionState;
        char first = line.isEmpty() ? '\0' : line.at(0);
        if (!isBody(state) && line != ".") {
            if (line.size() > maxStatusLineLength) {
                giveUpConnection(statusLineTooLong());
                return;
            }
            // A status line counts even with blanks around it; one of only
            // blanks is no line at all.
            const QByteArray status = trimmedLow(line);
            if (status.isEmpty())
                continue;
            first = status.at(0);
        }
        HandleReplyLine(first, state, line);
        line = QByteArray();  // collected where needed; freed as it goes
        if (std::exchange(dropRestOfRead, false)) {
            replyAssembler.clear();
            unhandled.clear();
            unhandledFrom = 0;
            return;
        }
    }
}

QString Pop3Session::statusLineTooLong() const
{
    return QStringLiteral("Connection closed: the server sent a status line longer than %1 KiB.")
        .arg(maxStatusLineLength / 1024);
}

void Pop3Session::giveUpConnection(const QString &reason)
{
    emit consoleEntry(reason);
    // Nothing of a reply given up on is kept.
    clearMessageLines();
    listing.clear();
    // Raises the disconnect event at once; the count tells the lines still
    // to be dispatched that they came too late also where there was no
    // connection to close.
    ++connectionsEnded;
    sock->setActive(false);
    replyAssembler.clear();
}

void Pop3Session::HandleReplyLine(char FirstChar, std::uint8_t State, const QByteArray &Line)
{
    // Only a line that is "." exactly as received ends a reply; a body line
    // that begins with a dot came with the dot doubled and is data, and so
    // is a dot with anything else on its line.
    if (Line == ".")
        handleEndMarker();
    else if (isBody(State))
        handleStatusLine(FirstChar, State, Line);
    else
        handleStatusLine(FirstChar, State, trimmedLow(Line));
}

void Pop3Session::handleEndMarker()
{
    const std::uint8_t state = SessionState;
    // An end marker ends the reply of the oldest command, whatever came
    // before it.
    const PendingCommand done = finishCommand();
    bool finish = true;
    bool batchEnded = false;
    bool autoEnded = false;
    switch (state) {
    case ssCapaBody:
        if (loginStep == LoginStep::Capabilities)
            loginCapabilities(MessageLines, true);
        else
            capabilitiesKnown(listsCapability(MessageLines, "PIPELINING"));
        return;
    case ssTypedBody:
    case ssWaitTyped:
        // The reply to a typed command: shown, and that is all.
        finish = false;
        SessionState = ssIdle;
        break;
    case ssListBody:
        listingEnded(done);
        break;
    case ssReadBody:
    case ssHeaderBody:
        if (MessageLines.isEmpty()) {
            // No viewer will open to give the page back; a header batch
            // stops here (the automatic one goes on with its other rows).
            if (state == ssReadBody)
                emit readAbandoned();
            else if (headerBatch.owns(done.batch))
                abandonHeaderBatch();
            break;
        }
        if (state == ssReadBody) {
            readEnded(done);
            finish = false;
            break;
        }
        // A row whose header came: its texts are filled in and, unless the
        // automatic batch asked, its mark taken off.
        if (!done.target.id.isEmpty()) {
            autoBatch.forget(done.target.id);
            emit headersReceived(done.target, ScanHeaders(MessageLines), MessageLines, done.keepMark);
        }
        if (autoBatch.owns(done.batch)) {
            // The next row goes out at once, keeping the pipeline full;
            // " Done." once its last reply has come.
            sendAutoHeaders(PerReply);
            if (autoBatch.hasRowsLeft() || autoBatch.inFlight() > 0) {
                finish = false;
                SessionState = ssIdle;
            } else {
                autoBatch.clear();
                autoEnded = true;
            }
        } else if (headerBatch.owns(done.batch)) {
            // The batch's next rows go out; " Done." only once the last of
            // its replies has come.
            sendHeaders(PerReply);
            if (headerBatch.hasRowsLeft() || headerBatch.inFlight() > 0) {
                finish = false;
            } else {
                headerBatch.clear();
                batchEnded = true;
            }
        }
        break;
    case ssWaitRead:
        // An end marker before the read's status line: no message will be
        // shown for this request.
        emit readAbandoned();
        break;
    default:
        break;
    }
    if (finish) {
        emit statusAppended(QStringLiteral(" Done."));
        // A batch started after this command goes on (one that waits for
        // the server's capabilities has none in flight yet); one whose DELE
        // this end marker was taken for does not.
        if (done.awaited == ssWaitDelete && deleteBatch.inFlight() == 0)
            abandonDeleteBatch();
        SessionState = ssIdle;
    }
    followQueue();
    // Last: the window may start the next batch from here.
    if (batchEnded)
        emit headerBatchEnded();
    if (autoEnded)
        emit autoHeadersEnded();
}

void Pop3Session::listingEnded(const PendingCommand &)
{
    // Taken out first: what the window does with it may start the next
    // command.
    MailListing done = std::exchange(listing, MailListing());
    // Refresh List pressed again while a listing was owed: the list shows
    // the reply to the last LIST sent, and the earlier ones are dropped.
    if (inFlight.count(ssWaitList) > 0)
        return;
    done.finish();
    emit mailListed(done);
    if (done.isEmpty()) {
        sock->setActive(false);
        emit mailboxEmpty();
    }
}

void Pop3Session::readEnded(const PendingCommand &done)
{
    // A message read whole gives its row what a read of its first lines
    // would: a "Subject: " deep in its body is no header.
    const QList<QByteArray> shown = readWhole ? ReadViewLines(MessageLines, true) : MessageLines;
    const HeaderFields headers = ScanHeaders(shown);
    // The row of the message read gets its texts and loses its mark, as
    // for Get Header.
    if (!done.target.id.isEmpty()) {
        autoBatch.forget(done.target.id);
        emit headersReceived(done.target, headers, shown, false);
    }
    SkipRest = false;
    emit messageRead(done.target, headers, MessageLines, readWhole);
    // The message is over: what the server sends next (to commands typed in
    // the console) is shown, not collected.
    if (SessionState == ssReadBody)
        SessionState = ssIdle;
}

void Pop3Session::handleStatusLine(char FirstChar, std::uint8_t State, const QByteArray &Line)
{
    const bool ok = FirstChar == '+';
    switch (State) {
    case ssWaitUser:
        finishCommand();
        if (ok) {
            SessionState = ssWaitPass;
        } else if (!inFlight.isEmpty() && inFlight.front().awaited == ssWaitPass) {
            // A refused USER: the reply to the PASS sent with it says no
            // more than this one did.
            inFlight.setFrontAwaited(ssWaitUser);
        }
        emit userReplied();
        followQueue();
        break;
    case ssWaitPass:
        finishCommand();
        if (ok) {
            emit loginAccepted();
            if (!SkipRest) {
                emit statusAppended(QStringLiteral(" Done."));
                listMailbox();
            }
        } else if (FirstChar == '-') {
            emit statusAppended(QStringLiteral(" Fail !"));
        }
        if (!SkipRest)
            emit loginSettled();
        followQueue();
        break;
    case ssWaitHeader:
    case ssWaitList:
    case ssWaitRead:
        if (!ok) {
            // A refusal: no reply body follows, and a header batch stops
            // (the automatic one goes on with its other rows).
            const PendingCommand refused = finishCommand();
            if (State == ssWaitRead)
                emit readAbandoned();
            if (State == ssWaitHeader && headerBatch.owns(refused.batch))
                abandonHeaderBatch();
            followQueue();
            break;
        }
        if (State == ssWaitHeader) {
            SessionState = ssHeaderBody;
        } else if (State == ssWaitList) {
            SessionState = ssListBody;
            listing.clear();
        } else {
            SessionState = ssReadBody;
            MimeBoundary.clear();
            SkipRest = false;
            readWhole = !inFlight.isEmpty() && inFlight.front().verb == "RETR";
        }
        clearMessageLines();
        break;
    case ssWaitDelete:
        if (ok) {
            deleteStep();
        } else {
            // A refused DELE ends the batch: what the user confirmed next
            // may depend on it, so it is asked again.
            finishCommand();
            if (DeleteConfirmed)
                endDeleteBatch();
            followQueue();
        }
        break;
    case ssWaitCapa:
        if (ok) {
            SessionState = ssCapaBody;
            clearMessageLines();
        } else {
            finishCommand();
            if (loginStep == LoginStep::Capabilities)
                loginCapabilities({}, false);
            else
                capabilitiesKnown(false);
        }
        break;
    case ssWaitTyped:
        if (ok && !inFlight.isEmpty() && inFlight.front().shape == ReplyShape::MultiLine) {
            SessionState = ssTypedBody;
            break;
        }
        if (ok && !inFlight.isEmpty())
            noteTypedReply(inFlight.front().verb);
        finishCommand();
        SessionState = ssIdle;
        followQueue();
        break;
    case ssReadBody:
        // Lines after the attachment begins count too: a read is bounded by
        // what came, not only by what is kept.
        if (countReplyLine(Line))
            filterReadLine(Line);
        break;
    case ssListBody:
        if (countReplyLine(Line))
            listLine(Line);
        break;
    case ssHeaderBody:
    case ssCapaBody:
        if (countReplyLine(Line))
            collectLine(Line.startsWith("..") ? Line.mid(1) : Line);
        break;
    case ssIdle:
        // The reply to QUIT; any other line now answers nothing.
        if (!inFlight.isEmpty() && inFlight.front().awaited == ssIdle) {
            finishCommand();
            emit quitAnswered(ok);
            followQueue();
        }
        break;
    case ssWaitGreeting:
        finishCommand();
        if (ok) {
            SessionState = ssWaitUser;
            // A new session: nothing of a read cut off by a lost connection
            // may hold back the login.
            SkipRest = false;
            emit greeted();
            startLogin();
        }
        followQueue();
        break;
    case ssWaitStls:
        finishCommand();
        stlsReplied(ok);
        followQueue();
        break;
    default:
        break;
    }
}

// --- the login on a port in clear ---

void Pop3Session::startLogin()
{
    // On a TLS port the connection is encrypted from the first byte.
    if (sock->Socket()->Encrypted()) {
        login(window->userName(), window->password());
        return;
    }
    loginStep = LoginStep::Capabilities;
    emit consoleEntry(QStringLiteral("? CAPA"));
    startCommand({ssWaitCapa, "CAPA", ReplyShape::MultiLine, {}, QString(), false, 0}, "CAPA" + kCrLf);
}

void Pop3Session::loginCapabilities(const QList<QByteArray> &lines, bool listed)
{
    loginStep = LoginStep::Open;
    // Pipelining is asked again once logged in: a server may list other
    // capabilities then.
    if (inFlight.isEmpty())
        SessionState = ssIdle;
    if (listed && listsCapability(lines, "STLS")) {
        stlsListed = true;
        emit tlsOffered();
        loginStep = LoginStep::StartTls;
        emit consoleEntry(QStringLiteral("? STLS"));
        startCommand({ssWaitStls, "STLS", ReplyShape::StatusLine, {}, QString(), false, 0}, "STLS" + kCrLf);
        return;
    }
    if (tlsOfferedBefore) {
        refuseLogin(QStringLiteral("TLS: this server offered encryption (STLS) before and does not now: "
                                   "no login."));
        return;
    }
    if (tlsRequired) {
        refuseLogin(QStringLiteral("TLS: this server offers no encryption (STLS) and RequireTls is set: no login."));
        return;
    }
    emit consoleEntry(QStringLiteral("This server offers no encryption (STLS): the password goes unencrypted."));
    login(window->userName(), window->password());
}

void Pop3Session::stlsReplied(bool ok)
{
    if (!ok) {
        refuseLogin(QStringLiteral("TLS: the server listed STLS and then refused it: no login."));
        return;
    }
    loginStep = LoginStep::Handshake;
    // What came in clear behind the "+OK" belongs to no one: the rest of
    // this read is dropped, and what the connection holds still is taken
    // and dropped now, so none of it is read as if it had come encrypted.
    dropRestOfRead = true;
    while (!sock->Socket()->ReceivePending().isEmpty()) {
    }
    // OnEncrypted logs in; a failure closes the connection.
    sock->Socket()->StartTls();
}

void Pop3Session::refuseLogin(const QString &reason)
{
    loginStep = LoginStep::Open;
    emit consoleEntry(reason);
    inFlight.clear();
    SessionState = ssIdle;
    ++connectionsEnded;
    sock->setActive(false);
}

void Pop3Session::noteTypedReply(const QByteArray &verb)
{
    // What a typed line changed on the server, for the question on closing.
    const QByteArray word = typedVerb(verb);
    if (word == "DELE")
        ++pendingDeletions;
    else if (word == "RSET")
        pendingDeletions = 0;
}

void Pop3Session::filterReadLine(const QByteArray &Line)
{
    const QByteArray line = Line.startsWith("..") ? Line.mid(1) : Line;
    if (readWhole) {
        collectLine(line);
        return;
    }
    if (!SkipRest)
        collectLine(line);
    if (MimeBoundary.isEmpty() && line.startsWith("--")) {
        MimeBoundary = line;
    } else if (!MimeBoundary.isEmpty() && line == MimeBoundary) {
        SkipRest = true;
        emit statusAppended(QStringLiteral(" Skipping attachment ..."));
    }
}

void Pop3Session::listLine(const QByteArray &line)
{
    // Each line becomes its entry at once; no line is kept. A line that
    // gives no entry (or repeats a number) has counted for the reply all
    // the same.
    const qsizetype kept = listing.packedBytes();
    if (!listing.addLine(line))
        return;
    replyBytes += listing.packedBytes() - kept;
    if (replyBytes > replyBound())
        giveUpConnection(replyTooLarge());
    else if (listing.count() > maxListedMessages)
        giveUpConnection(QStringLiteral("Connection closed: the server listed more than %1 messages.")
                             .arg(QLocale(QLocale::English).toString(qlonglong(maxListedMessages))));
}

void Pop3Session::collectLine(const QByteArray &line)
{
    MessageLines.append(line);
}

void Pop3Session::clearMessageLines()
{
    MessageLines.clear();
    replyBytes = 0;
}

bool Pop3Session::countReplyLine(const QByteArray &line)
{
    replyBytes += line.size() + ReplyLineOverhead;
    if (replyBytes <= replyBound())
        return true;
    giveUpConnection(replyTooLarge());
    return false;
}

qint64 Pop3Session::replyBound() const
{
    switch (SessionState) {
    case ssHeaderBody:
        return maxHeaderReplyBytes;
    case ssReadBody:
        return maxReadReplyBytes;
    case ssListBody:
        return maxListingReplyBytes;
    case ssCapaBody:
        return maxCapaReplyBytes;
    default:
        // The reply to a typed command is shown, not kept.
        return 0;
    }
}

QString Pop3Session::replyTooLarge() const
{
    QByteArray command;
    const QByteArray id = inFlight.isEmpty() ? QByteArray() : inFlight.front().target.id;
    switch (SessionState) {
    case ssHeaderBody:
        command = "TOP " + id + " 0";
        break;
    case ssReadBody:
        command = readWhole ? "RETR " + id : "TOP " + id + " 100";
        break;
    case ssListBody:
        command = "LIST";
        break;
    default:
        command = "CAPA";
        break;
    }
    return QStringLiteral("Connection closed: the server's reply to %1 passed %2.")
        .arg(decodeWireText(command), sizeText(replyBound()));
}
