// What arrives on the connection: the read handler, the reply dispatcher and
// the status text.

#include "app/StatusTextBar.h"
#include "app/TForm1.h"
#include "controls/ConsoleView.h"
#include "mailbox/MailListModel.h"
#include "mailbox/MailListView.h"
#include "platform/Desktop.h"
#include "session/Pop3Parsing.h"
#include "session/TClientSocket.h"
#include "session/TClientWinSocket.h"
#include "session/WireText.h"
#include "viewer/TForm2.h"

#include <QCoreApplication>
#include <QPushButton>

#include <utility>

namespace {

bool isCollecting(std::uint8_t state)
{
    return state >= ssReadBody && state <= ssHeaderBody;
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

TForm1::ViewerFunction TForm1::defaultViewer()
{
    return [](QWidget *owner, const QByteArray &to, const QByteArray &from, const QByteArray &subject,
              const QList<QByteArray> &lines) { TForm2::ShowMessage(owner, to, from, subject, lines); };
}

void TForm1::cSockRead(QObject *, TClientWinSocket *Socket)
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

void TForm1::handleReceivedBytes(QByteArray chunk)
{
    if (!isCollecting(SessionState)) {
        // Shown as it came; NUL bytes would end the text early on screen.
        QByteArray shown = trimmedLow(chunk);
        shown.removeIf([](char c) { return c == '\0'; });
        AppendConsole(decodeWireText(shown));
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
    for (QByteArray &line : lines)
        pendingReplyLines.push_back(std::move(line));
    // A read inside a nested loop leaves its lines to the loop below it,
    // so that lines are always handled in the order they came.
    if (!dispatchingReplies)
        dispatchReplyLines();
    // A status line is short; one that goes on and on without its break is
    // no POP3 server talking.
    if (!isCollecting(SessionState) && replyAssembler.partialLength() > MaxStatusLineLength)
        giveUpConnection(statusLineTooLong());
}

QString TForm1::statusLineTooLong() const
{
    return QStringLiteral("Connection closed: the server sent a status line longer than %1 KiB.")
        .arg(MaxStatusLineLength / 1024);
}

void TForm1::giveUpConnection(const QString &reason)
{
    pendingReplyLines.clear();
    AppendConsole(reason);
    // Raises the disconnect event at once.
    cSock->setActive(false);
    resetReplyAssembly();
}

void TForm1::dispatchReplyLines()
{
    FlagScope dispatching(dispatchingReplies);
    while (!pendingReplyLines.empty()) {
        const QByteArray line = std::move(pendingReplyLines.front());
        pendingReplyLines.pop_front();
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

void TForm1::resetReplyAssembly()
{
    replyAssembler.clear();
}

void TForm1::HandleReplyLine(char FirstChar, std::uint8_t State, const QByteArray &Line)
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

void TForm1::handleEndMarker()
{
    bool finish = true;
    if (SessionState == ssListBody) {
        mailModel->addListingRows(ParseListing(MessageLines));
        if (mailModel->count() == 0) {
            cSock->setActive(false);
            platform::showOkBox(this, QStringLiteral("Information"),
                                QStringLiteral("Mailbox is empty !\rDisconnected from server."),
                                platform::BoxIcon::Information);
        }
    } else if (SessionState == ssReadBody || SessionState == ssHeaderBody) {
        const int row = takePendingMail();
        if (MessageLines.isEmpty()) {
            if (SessionState == ssReadBody) {
                // No viewer will open to give the page back: give it back here.
                pageGUI->setEnabled(true);
                EnableMessageControls(CheckedCount > 0 || mailInfo->hasSelectedRow());
            }
        } else {
            const HeaderFields headers = ScanHeaders(MessageLines);
            if (row >= 0) {
                mailModel->setRowHeaders(row, headers.subject, headers.sender, headers.recipient);
                mailModel->setRowChecked(row, false);
            }
            QCoreApplication::processEvents();
            if (CheckedCount > 0 && SessionState == ssHeaderBody) {
                finish = false;
                btnHeaderClick(this);
            }
            if (SessionState == ssReadBody) {
                pageGUI->setEnabled(true);
                EnableMessageControls(true);
                SkipRest = false;
                finish = false;
                // The viewer runs a modal loop: hand it its own copy.
                const QList<QByteArray> lines = MessageLines;
                showViewer(this, headers.recipient, headers.sender, headers.subject, lines);
                // The message is over: what the server sends next (to
                // commands typed in the console) is shown, not collected.
                if (SessionState == ssReadBody)
                    SessionState = ssIdle;
            }
        }
    } else if (SessionState == ssWaitRead) {
        // An end marker before the read's status line: no message will be
        // shown for this request, so the page the read took is given back.
        clearPendingMail();
        pageGUI->setEnabled(true);
        EnableMessageControls(CheckedCount > 0 || mailInfo->hasSelectedRow());
    }
    if (finish) {
        AppendStatusText(QStringLiteral(" Done."));
        abandonDeleteBatch();
        SessionState = ssIdle;
    }
}

void TForm1::handleStatusLine(char FirstChar, std::uint8_t State, const QByteArray &Line)
{
    const bool ok = FirstChar == '+';
    switch (State) {
    case ssWaitUser:
        if (ok)
            SessionState = ssWaitPass;
        btnLogin->setEnabled(true);
        break;
    case ssWaitPass:
        if (ok) {
            btnLogin->setEnabled(false);
            if (!SkipRest) {
                AppendStatusText(QStringLiteral(" Done."));
                btnListClick(this);
            }
        } else if (FirstChar == '-') {
            AppendStatusText(QStringLiteral(" Fail !"));
        }
        if (!SkipRest)
            EnableMailboxControls(!btnLogin->isEnabled());
        break;
    case ssWaitHeader:
    case ssWaitList:
    case ssWaitRead:
        if (!ok) {
            // A refused TOP: no reply body will follow for that message.
            if (State != ssWaitList)
                clearPendingMail();
            if (State == ssWaitRead) {
                pageGUI->setEnabled(true);
                EnableMessageControls(CheckedCount > 0 || mailInfo->hasSelectedRow());
            }
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
            clearPendingMail();
            if (DeleteConfirmed)
                endDeleteBatch();
        }
        break;
    case ssReadBody:
        filterReadLine(Line);
        break;
    case ssListBody:
    case ssHeaderBody:
        collectLine(Line.startsWith("..") ? Line.mid(1) : Line);
        break;
    case ssWaitGreeting:
        if (ok) {
            SessionState = ssWaitUser;
            // A new session: nothing of a read cut off by a lost connection
            // may hold back the login, and the list page is usable again.
            SkipRest = false;
            pageGUI->setEnabled(true);
            btnLoginClick(this);
        }
        break;
    default:
        break;
    }
}

void TForm1::filterReadLine(const QByteArray &Line)
{
    const QByteArray line = Line.startsWith("..") ? Line.mid(1) : Line;
    if (!SkipRest)
        collectLine(line);
    if (MimeBoundary.isEmpty() && line.startsWith("--")) {
        MimeBoundary = line;
    } else if (!MimeBoundary.isEmpty() && line == MimeBoundary) {
        SkipRest = true;
        AppendStatusText(QStringLiteral(" Skipping attachment ..."));
    }
}

void TForm1::collectLine(const QByteArray &line)
{
    collectedBytes += line.size();
    if (collectedBytes > MaxReplyBytes) {
        giveUpConnection(
            QStringLiteral("Connection closed: the server's reply passed %1 MiB.").arg(MaxReplyBytes / (1024 * 1024)));
        return;
    }
    MessageLines.append(line);
}

void TForm1::clearMessageLines()
{
    MessageLines.clear();
    collectedBytes = 0;
}

void TForm1::deleteStep()
{
    // Only the reply to a DELE deletes: a "+" for anything else (a command
    // typed in the console after the batch) touches no row.
    QByteArray id;
    const int row = takePendingMail(&id);
    if (id.isEmpty())
        return;
    if (row >= 0)
        removeDeletedMailRow(row);
    AppendStatusText(QStringLiteral(" Done."));
    QCoreApplication::processEvents();
    // Another command started meanwhile has ended the batch already.
    if (!DeleteConfirmed || SessionState != ssWaitDelete)
        return;
    // The next row of the batch, or its end.
    btnDeleteClick(this);
}

void TForm1::abandonDeleteBatch()
{
    DeleteConfirmed = false;
    DeleteBatch.clear();
}

void TForm1::endDeleteBatch()
{
    abandonDeleteBatch();
    EnableMessageControls(false);
}

void TForm1::AppendStatusText(const QString &text)
{
    // Bounded: a server that sends end markers by the thousand would
    // otherwise make every append copy and lay out an ever longer text.
    const QString present = msgBar->text();
    if (present.size() + text.size() > MaxStatusTextLength)
        return;
    msgBar->setText(present + text);
}

void TForm1::AppendConsole(const QString &entry)
{
    Memo1->appendEntry(entry);
}
