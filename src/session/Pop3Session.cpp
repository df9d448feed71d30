#include "session/Pop3Session.h"

#include "base/Ipv4Address.h"
#include "base/WireText.h"
#include "session/TClientSocket.h"
#include "session/TClientWinSocket.h"

#include <QCoreApplication>
#include <QSslCertificate>

#include <algorithm>
#include <utility>

namespace {

const QByteArray kCrLf = QByteArrayLiteral("\r\n");

bool isCollecting(std::uint8_t state)
{
    return (state >= ssReadBody && state <= ssHeaderBody) || state == ssCapaBody;
}

// Whether a CAPA reply's lines list PIPELINING.
bool listsPipelining(const QList<QByteArray> &lines)
{
    return std::any_of(lines.cbegin(), lines.cend(), [](const QByteArray &line) {
        const QByteArray word = trimmedLow(line).split(' ').value(0);
        return word.compare("PIPELINING", Qt::CaseInsensitive) == 0;
    });
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

// Clears a flag when the scope ends, however it ends.
class FlagScope {
public:
    explicit FlagScope(bool &flag) : flag(flag) { flag = true; }
    ~FlagScope() { flag = false; }
    FlagScope(const FlagScope &) = delete;
    FlagScope &operator=(const FlagScope &) = delete;

private:
    bool &flag;
};

}  // namespace

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
        emit connected(s);
    };
    sock->OnDisconnect = [this](QObject *, TClientWinSocket *s) {
        // A line left unfinished by a closed connection belongs to no later
        // one, and nothing in flight will be answered.
        replyAssembler.clear();
        dropCommands();
        abandonHeaderBatch();
        capability = Capability::Unknown;
        // Nothing more of a delete batch can go out on this connection.
        if (DeleteConfirmed)
            endDeleteBatch();
        emit disconnected(s);
    };
    sock->OnRead = [this](QObject *sender, TClientWinSocket *s) { cSockRead(sender, s); };
    sock->OnError = [this](QObject *, TClientWinSocket *s, TErrorEvent event, int &code) {
        emit socketError(s, event, &code);
    };
    sock->OnFailure = [this](const QString &text) { emit failure(text); };
}

MailRowRef Pop3Session::commandRow() const
{
    for (const CommandInFlight &command : inFlight) {
        if (!command.target.id.isEmpty())
            return command.target;
    }
    return {};
}

// --- the connection ---

void Pop3Session::expectGreeting()
{
    dropCommands();
    capability = Capability::Unknown;
    SessionState = ssWaitGreeting;
}

QString Pop3Session::open(const QString &server, int port,
                          const std::function<QList<QSslCertificate>()> &trusted)
{
    sock->setHost(QString());
    sock->setAddress(QString());
    if (parseIpv4(server))
        sock->setAddress(server);
    else
        sock->setHost(server);
    sock->setPort(port);
    sock->setTrustedCertificates(trusted && sock->UsesImplicitTls() ? trusted() : QList<QSslCertificate>());
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

// --- the commands ---

void Pop3Session::send(const QByteArray &text, const MailRowRef &target)
{
    // Sends nothing while not connected; a failing send is reported by the
    // socket's error and disconnect events.
    if (commandSent)
        commandSent(text, target);
    sock->Socket()->SendString(text);
}

void Pop3Session::startCommand(std::uint8_t awaited, const MailRowRef &target, const QByteArray &line,
                               const QString &status, bool pipelined)
{
    ++commandsStarted;
    awaitReply(awaited, target, status, pipelined);
    send(line, target);
}

void Pop3Session::awaitReply(std::uint8_t awaited, const MailRowRef &target, const QString &status, bool pipelined)
{
    inFlight.push_back({awaited, target, status, false, pipelined, commandsStarted});
    ++awaiting[awaited];
    // The state and the status follow the oldest command in flight.
    if (inFlight.size() == 1)
        followQueue();
}

Pop3Session::CommandInFlight Pop3Session::finishCommand()
{
    if (inFlight.empty())
        return {};
    CommandInFlight done = std::move(inFlight.front());
    inFlight.pop_front();
    --awaiting[done.awaited];
    return done;
}

void Pop3Session::followQueue()
{
    if (inFlight.empty())
        return;
    CommandInFlight &head = inFlight.front();
    SessionState = head.awaited;
    if (!head.announced) {
        head.announced = true;
        if (!head.status.isEmpty())
            emit statusText(head.status);
    }
}

void Pop3Session::dropCommands()
{
    inFlight.clear();
    std::fill(std::begin(awaiting), std::end(awaiting), 0);
}

bool Pop3Session::deleteInFlight() const
{
    return awaiting[ssWaitDelete] > 0;
}

int Pop3Session::countInFlight(std::uint8_t awaited) const
{
    return awaiting[awaited];
}

void Pop3Session::login(const QString &user, const QString &password)
{
    abandonDeleteBatch();
    abandonHeaderBatch();
    const QString masked(qsizetype(password.toUcs4().size()), QLatin1Char('*'));
    emit consoleEntry(QStringLiteral("? USER ") + user);
    emit consoleEntry(QStringLiteral("? PASS ") + masked);
    emit statusText(QStringLiteral(" Login to user account ..."));
    // Both lines go out at once, as one command; each has its own reply.
    ++commandsStarted;
    awaitReply(ssWaitUser, {});
    awaitReply(ssWaitPass, {});
    send("user " + argument(user) + kCrLf + "pass " + argument(password) + kCrLf);
}

void Pop3Session::listMailbox()
{
    abandonDeleteBatch();
    abandonHeaderBatch();
    emit listingStarted();
    emit consoleEntry(QStringLiteral("? LIST"));
    startCommand(ssWaitList, {}, "LIST" + kCrLf, QStringLiteral(" Downloading Mail List ..."));
}

void Pop3Session::fetchHeaders(const MailRowRef &row)
{
    if (row.id.isEmpty())
        return;  // never a "TOP" without a number
    abandonHeaderBatch();
    bool byCheck = false;
    const QList<MailRowRef> rows =
        pipeliningAllowed && capability != Capability::OneAtATime ? window->markedRows(&byCheck) : QList<MailRowRef>();
    if (!byCheck || rows.size() < 2) {
        fetchHeader(row);
        return;
    }
    // The batch is the rows checked now, in list order.
    abandonDeleteBatch();
    headerBatch = true;
    HeaderBatch.assign(rows.cbegin(), rows.cend());
    if (!waitForCapabilities(rows.size(), HeaderBatchWaits))
        sendHeaders();
}

void Pop3Session::fetchHeader(const MailRowRef &row, bool pipelined)
{
    if (row.id.isEmpty())
        return;
    abandonDeleteBatch();
    const QString n = decodeWireText(row.id);
    emit consoleEntry(QStringLiteral("? TOP ") + n + QStringLiteral(" 0"));
    startCommand(ssWaitHeader, row, "TOP " + row.id + " 0" + kCrLf,
                 QStringLiteral(" Downloading Mail #") + n + QStringLiteral(" Header ..."), pipelined);
}

void Pop3Session::sendHeaders()
{
    // Without PIPELINING the batch is the one-at-a-time one: it asks for the
    // first checked row after each reply.
    if (capability != Capability::Pipelines) {
        HeaderBatch.clear();
        headerBatch = false;
        const MailRowRef next = window->nextCheckedRow();
        if (next.row.isValid())
            fetchHeader(next);
        return;
    }
    while (headerBatch && !HeaderBatch.empty() && int(inFlight.size()) < PipelineWindow) {
        const MailRowRef next = HeaderBatch.front();
        HeaderBatch.pop_front();
        // Unchecked since the batch started, or gone: skipped, as one at a
        // time it would be.
        if (next.row.isValid() && window->isChecked(next.row))
            fetchHeader(next, true);
    }
}

void Pop3Session::abandonHeaderBatch()
{
    headerBatch = false;
    HeaderBatch.clear();
    if (waitingBatch == HeaderBatchWaits)
        waitingBatch = NoBatch;
}

bool Pop3Session::waitForCapabilities(qsizetype rows, int batch)
{
    if (!pipeliningAllowed || rows < 2)
        return false;
    if (capability == Capability::Unknown)
        askCapabilities();
    if (capability != Capability::Asked)
        return false;
    waitingBatch = batch;
    return true;
}

void Pop3Session::askCapabilities()
{
    capability = Capability::Asked;
    emit consoleEntry(QStringLiteral("? CAPA"));
    startCommand(ssWaitCapa, {}, "CAPA" + kCrLf);
}

void Pop3Session::capabilitiesKnown(bool pipelines)
{
    capability = pipelines ? Capability::Pipelines : Capability::OneAtATime;
    if (inFlight.empty())
        SessionState = ssIdle;
    followQueue();
    const int waiting = std::exchange(waitingBatch, NoBatch);
    if (waiting == HeaderBatchWaits && headerBatch)
        sendHeaders();
    if (waiting == DeleteBatchWaits && DeleteConfirmed) {
        sendDeletes();
        if (!deleteInFlight())
            abandonDeleteBatch();
    }
}

void Pop3Session::readMessage(const MailRowRef &row)
{
    abandonDeleteBatch();
    abandonHeaderBatch();
    const QString n = decodeWireText(row.id);
    emit consoleEntry(QStringLiteral("RETR ") + n);
    startCommand(ssWaitRead, row, "TOP " + row.id + " 100" + kCrLf,
                 QStringLiteral(" Downloading Mail #") + n + QStringLiteral(" ..."));
}

void Pop3Session::deleteMarked()
{
    // A confirmed batch runs: each reply carries it on; a press meanwhile is
    // no new batch.
    if (DeleteConfirmed)
        return;
    if (!window->confirmDelete())
        return;
    // The batch is what is marked at the Yes.
    bool byCheck = false;
    const QList<MailRowRef> rows = window->markedRows(&byCheck);
    for (const MailRowRef &row : rows) {
        if (!row.id.isEmpty())
            DeleteBatch.push_back({row, byCheck});
    }
    DeleteConfirmed = !DeleteBatch.empty();
    if (!DeleteConfirmed)
        return;
    abandonHeaderBatch();
    if (waitForCapabilities(qsizetype(DeleteBatch.size()), DeleteBatchWaits))
        return;
    sendDeletes();
    if (!deleteInFlight())
        abandonDeleteBatch();
}

void Pop3Session::sendDeletes()
{
    const int window = capability == Capability::Pipelines && pipeliningAllowed ? PipelineWindow : 1;
    while (DeleteConfirmed && countInFlight(ssWaitDelete) < window && sendNextDelete()) {
    }
}

void Pop3Session::marksChanged(int first, int last)
{
    std::erase_if(DeleteBatch, [&](const DeleteBatchRow &entry) {
        const int row = entry.target.row.row();
        return entry.checked && row >= first && row <= last && !window->isChecked(entry.target.row);
    });
}

bool Pop3Session::sendNextDelete()
{
    while (!DeleteBatch.empty()) {
        const DeleteBatchRow next = DeleteBatch.front();
        DeleteBatch.pop_front();
        // Gone from the list (a new listing, Save & Quit), or unchecked
        // since the Yes: not to be deleted.
        if (!next.target.row.isValid() || (next.checked && !window->isChecked(next.target.row)))
            continue;
        const QString n = decodeWireText(next.target.id);
        emit consoleEntry(QStringLiteral("DELE ") + n);
        startCommand(ssWaitDelete, next.target, "DELE " + next.target.id + kCrLf,
                     QStringLiteral("Deleting Mail #") + n + QStringLiteral(" ..."),
                     capability == Capability::Pipelines);
        return true;
    }
    return false;
}

void Pop3Session::quit()
{
    abandonDeleteBatch();
    abandonHeaderBatch();
    // Nothing sent before is acted on any more: the list goes.
    dropCommands();
    SessionState = ssIdle;
    emit consoleEntry(QStringLiteral("QUIT "));
    send("QUIT" + kCrLf);
}

bool Pop3Session::sendTyped(const QString &typed)
{
    if (!sock->Active())
        return false;
    // Sent exactly as typed: no trimming, no change of case, no check. A
    // command of the user's own: a batch running ends here.
    abandonDeleteBatch();
    abandonHeaderBatch();
    sock->Socket()->SendString(encodeWireText(typed) + kCrLf);
    emit consoleEntry(QStringLiteral("? ") + typed);
    return true;
}

// --- what arrives ---

void Pop3Session::cSockRead(QObject *, TClientWinSocket *Socket)
{
    // Everything that has arrived is taken before returning: Qt does not
    // announce again bytes that came in while a nested event loop ran here.
    for (;;) {
        QByteArray chunk = Socket->ReceivePending();
        if (chunk.isEmpty())
            break;
        handleReceivedBytes(std::move(chunk));
    }
}

void Pop3Session::handleReceivedBytes(QByteArray chunk)
{
    if (!isCollecting(SessionState)) {
        // Shown as it came; NUL bytes would end the text early on screen.
        QByteArray shown = trimmedLow(chunk);
        shown.removeIf([](char c) { return c == '\0'; });
        emit consoleEntry(decodeWireText(shown));
    }

    QList<QByteArray> lines;
    replyAssembler.setMaxLineLength(MaxLineLength);
    replyAssembler.feed(chunk, lines);
    if (replyAssembler.overflowed()) {
        giveUpConnection(QStringLiteral("Connection closed: the server sent a line longer than %1 MiB.")
                             .arg(MaxLineLength / (1024 * 1024)));
        return;
    }
    ReplyLines = lines;
    for (QByteArray &line : lines) {
        pendingBytes += line.size();
        pendingReplyLines.push_back(std::move(line));
    }
    // Lines that wait for a nested loop to end (a viewer open for long) are
    // bounded like a reply.
    if (pendingBytes > MaxReplyBytes) {
        giveUpConnection(QStringLiteral("Connection closed: the server sent more than %1 MiB while its replies waited.")
                             .arg(MaxReplyBytes / (1024 * 1024)));
        return;
    }
    // A read inside a nested loop leaves its lines to the loop below it,
    // so that lines are always handled in the order they came.
    if (!dispatchingReplies)
        dispatchReplyLines();
    // A status line is short; one that goes on and on without its break is
    // no POP3 server talking.
    if (!isCollecting(SessionState) && replyAssembler.partialLength() > MaxStatusLineLength)
        giveUpConnection(statusLineTooLong());
}

QString Pop3Session::statusLineTooLong() const
{
    return QStringLiteral("Connection closed: the server sent a status line longer than %1 KiB.")
        .arg(MaxStatusLineLength / 1024);
}

void Pop3Session::giveUpConnection(const QString &reason)
{
    pendingReplyLines.clear();
    pendingBytes = 0;
    emit consoleEntry(reason);
    // Raises the disconnect event at once.
    sock->setActive(false);
    replyAssembler.clear();
}

void Pop3Session::dispatchReplyLines()
{
    FlagScope dispatching(dispatchingReplies);
    while (!pendingReplyLines.empty()) {
        const QByteArray line = std::move(pendingReplyLines.front());
        pendingReplyLines.pop_front();
        pendingBytes -= line.size();
        const std::uint8_t state = SessionState;
        char first = line.isEmpty() ? '\0' : line.at(0);
        if (!isCollecting(state) && line != ".") {
            if (line.size() > MaxStatusLineLength) {
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
    }
}

void Pop3Session::HandleReplyLine(char FirstChar, std::uint8_t State, const QByteArray &Line)
{
    // Only a line that is "." exactly as received ends a reply; a body line
    // that begins with a dot came with the dot doubled and is data, and so
    // is a dot with anything else on its line.
    if (Line == ".")
        handleEndMarker();
    else if (isCollecting(State))
        handleStatusLine(FirstChar, State, Line);
    else
        handleStatusLine(FirstChar, State, trimmedLow(Line));
}

void Pop3Session::handleEndMarker()
{
    const std::uint8_t state = SessionState;
    // An end marker ends the reply of the oldest command, whatever came
    // before it.
    const CommandInFlight done = finishCommand();
    if (state == ssCapaBody) {
        capabilitiesKnown(listsPipelining(MessageLines));
        return;
    }
    bool finish = true;
    if (state == ssListBody) {
        emit mailListed(ParseListing(MessageLines));
        if (window->mailRowCount() == 0) {
            sock->setActive(false);
            emit mailboxEmpty();
        }
    } else if (state == ssReadBody || state == ssHeaderBody) {
        if (MessageLines.isEmpty()) {
            // No viewer will open to give the page back; a header batch
            // stops here.
            if (state == ssReadBody)
                emit readAbandoned();
            else
                abandonHeaderBatch();
        } else {
            const HeaderFields headers = ScanHeaders(MessageLines);
            // A row whose message came, headers or read: its texts are
            // filled in and its mark taken off.
            if (!done.target.id.isEmpty())
                emit headersReceived(done.target, headers, MessageLines);
            // The page repaints between messages of a batch.
            QCoreApplication::processEvents();
            if (state == ssHeaderBody && done.pipelined) {
                // The batch's next row goes out; " Done." only once the
                // last of its replies has come. Rows checked meanwhile
                // follow, as one at a time they would.
                sendHeaders();
                if (countInFlight(ssWaitHeader) > 0) {
                    finish = false;
                } else if (headerBatch) {
                    headerBatch = false;
                    const MailRowRef next = window->nextCheckedRow();
                    if (next.row.isValid()) {
                        finish = false;
                        fetchHeaders(next);
                    }
                }
            } else if (state == ssHeaderBody) {
                // The next checked row, unless the user has started another
                // command since this one.
                if (done.sequence == commandsStarted) {
                    const MailRowRef next = window->nextCheckedRow();
                    if (next.row.isValid()) {
                        finish = false;
                        fetchHeader(next);
                    }
                }
            } else {
                SkipRest = false;
                finish = false;
                // The viewer runs a modal loop: hand it its own copy.
                const QList<QByteArray> lines = MessageLines;
                emit messageRead(headers, lines);
                // The message is over: what the server sends next (to
                // commands typed in the console) is shown, not collected.
                if (SessionState == ssReadBody)
                    SessionState = ssIdle;
            }
        }
    } else if (state == ssWaitRead) {
        // An end marker before the read's status line: no message will be
        // shown for this request.
        emit readAbandoned();
    }
    if (finish) {
        emit statusAppended(QStringLiteral(" Done."));
        // A batch started after this command goes on; one whose DELE this
        // end marker was taken for does not.
        if (!deleteInFlight())
            abandonDeleteBatch();
        SessionState = ssIdle;
    }
    followQueue();
}

void Pop3Session::handleStatusLine(char FirstChar, std::uint8_t State, const QByteArray &Line)
{
    const bool ok = FirstChar == '+';
    switch (State) {
    case ssWaitUser:
        finishCommand();
        if (ok) {
            SessionState = ssWaitPass;
        } else if (!inFlight.empty() && inFlight.front().awaited == ssWaitPass) {
            // A refused USER: the reply to the PASS sent with it says no
            // more than this one did.
            inFlight.front().awaited = ssWaitUser;
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
            // A refusal: no reply body follows, and a header batch stops.
            finishCommand();
            if (State == ssWaitRead)
                emit readAbandoned();
            if (State == ssWaitHeader)
                abandonHeaderBatch();
            followQueue();
            break;
        }
        if (State == ssWaitHeader) {
            SessionState = ssHeaderBody;
        } else if (State == ssWaitList) {
            SessionState = ssListBody;
        } else {
            SessionState = ssReadBody;
            MimeBoundary.clear();
            SkipRest = false;
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
            capabilitiesKnown(false);
        }
        break;
    case ssReadBody:
        filterReadLine(Line);
        break;
    case ssListBody:
    case ssHeaderBody:
    case ssCapaBody:
        collectLine(Line.startsWith("..") ? Line.mid(1) : Line);
        break;
    case ssWaitGreeting:
        if (ok) {
            SessionState = ssWaitUser;
            // A new session: nothing of a read cut off by a lost connection
            // may hold back the login.
            SkipRest = false;
            emit greeted();
            login(window->userName(), window->password());
        }
        break;
    default:
        break;
    }
}

void Pop3Session::filterReadLine(const QByteArray &Line)
{
    const QByteArray line = Line.startsWith("..") ? Line.mid(1) : Line;
    if (!SkipRest)
        collectLine(line);
    if (MimeBoundary.isEmpty() && line.startsWith("--")) {
        MimeBoundary = line;
    } else if (!MimeBoundary.isEmpty() && line == MimeBoundary) {
        SkipRest = true;
        emit statusAppended(QStringLiteral(" Skipping attachment ..."));
    }
}

void Pop3Session::collectLine(const QByteArray &line)
{
    collectedBytes += line.size();
    if (collectedBytes > MaxReplyBytes) {
        giveUpConnection(
            QStringLiteral("Connection closed: the server's reply passed %1 MiB.").arg(MaxReplyBytes / (1024 * 1024)));
        return;
    }
    MessageLines.append(line);
}

void Pop3Session::clearMessageLines()
{
    MessageLines.clear();
    collectedBytes = 0;
}

void Pop3Session::deleteStep()
{
    // Only the reply to a DELE deletes: a "+" for anything else (a command
    // typed in the console after the batch) touches no row.
    const CommandInFlight done = finishCommand();
    if (done.awaited != ssWaitDelete) {
        followQueue();
        return;
    }
    emit mailDeleted(done.target);
    emit statusAppended(QStringLiteral(" Done."));
    QCoreApplication::processEvents();
    // The batch's next rows or its end, unless a command started meanwhile
    // has ended it already.
    if (DeleteConfirmed) {
        sendDeletes();
        if (!deleteInFlight())
            endDeleteBatch();
    }
    followQueue();
}

void Pop3Session::abandonDeleteBatch()
{
    DeleteConfirmed = false;
    DeleteBatch.clear();
    if (waitingBatch == DeleteBatchWaits)
        waitingBatch = NoBatch;
}

void Pop3Session::endDeleteBatch()
{
    abandonDeleteBatch();
    emit deleteBatchEnded();
}
