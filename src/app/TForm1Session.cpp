// SPDX-License-Identifier: GPL-3.0-or-later
// The window's side of the conversation: the connect button and port check,
// the command buttons, the console page, and what the window shows of each
// step the engine (Pop3Session) reports.

#include "app/StatusTextBar.h"
#include "app/TForm1.h"
#include "base/TInputChecker.h"
#include "controls/ConsoleView.h"
#include "controls/KeyPressFilter.h"
#include "mailbox/MailListModel.h"
#include "mailbox/MailListView.h"
#include "platform/Desktop.h"
#include "session/HeaderDecoding.h"
#include "session/TClientSocket.h"
#include "session/TClientWinSocket.h"
#include "viewer/TForm2.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QTimer>

namespace {

const QString kConnect = QStringLiteral("&Connect");
const QString kDisconnect = QStringLiteral("&Disconnect");

// The port text as a port number, or -1 when it is not one from 0 to 65535.
int portValue(const TInputChecker &checker, const QString &text)
{
    if (text.isEmpty() || !checker.IsNumber(text) || text.size() > 10)
        return -1;
    const qlonglong value = text.toLongLong();
    return value <= 65535 ? int(value) : -1;
}

void showPortError(QWidget *parent)
{
    platform::showOkBox(parent, QStringLiteral("Error"), QStringLiteral("Port number must be in 0-65535 range !"),
                        platform::BoxIcon::Error);
}

}  // namespace

TForm1::ViewerFunction TForm1::defaultViewer()
{
    return [](QWidget *owner, const ViewerMessage &message, const std::function<void(bool on)> &decodedTextChanged) {
        TForm2::ShowMessage(owner, message, decodedTextChanged);
    };
}

// --- the connection ---

void TForm1::btnConnClick(QObject *)
{
    session->expectGreeting();
    if (btnConn->text() == kDisconnect) {
        session->close();
        return;
    }
    if (session->isOpen())
        return;

    // A port that is not a number from 0 to 65535 is refused here rather than
    // cut to 16 bits or replaced by the last one used: either would send the
    // login to a port the user never typed.
    const int port = portValue(*CHK, txtPort->text());
    if (port < 0) {
        showPortError(this);
        txtPort->setFocus(Qt::OtherFocusReason);
        return;
    }

    btnConn->setText(kDisconnect);
    connectionKey = (txtServer->currentText().toLower() + QLatin1Char(':') + QString::number(port)).toUtf8();
    session->setTlsPolicy(tlsServers.contains(connectionKey), requireTls);
    // The trust file is read at every connect, so a certificate put beside
    // the settings counts without a restart. What the user needs to know of
    // a failure was reported by the events raised before it; a socket the
    // platform would not create raises none, so the button is put back here.
    if (!session->open(txtServer->currentText(), port, [this] { return TrustFileCertificates(); }).isEmpty() &&
        !session->isOpen())
        btnConn->setText(kConnect);
}

void TForm1::txtPortExit(QObject *)
{
    const QString text = txtPort->text();
    if (text.isEmpty() || portValue(*CHK, text) >= 0)
        return;
    showPortError(this);
    txtPort->setFocus(Qt::OtherFocusReason);
}

void TForm1::cSockConnecting(QObject *, TClientWinSocket *)
{
    msgBar->setText(QStringLiteral(" Trying to connect to ") + txtServer->currentText() + QStringLiteral(" on port ") +
                    txtPort->text() + QStringLiteral(" ..."));
}

void TForm1::cSockConnect(QObject *, TClientWinSocket *Socket)
{
    msgBar->setText(QStringLiteral(" Connected to ") + Socket->PeerAddress());
    const QString server = txtServer->currentText();
    if (txtServer->findText(server, Qt::MatchFixedString) < 0) {
        // Adding an item must not replace what the user typed.
        txtServer->addItem(server);
        txtServer->setEditText(server);
    }
    txtCmdPrompt->setEnabled(true);
    btnClear->setEnabled(true);
    btnConn->setText(kDisconnect);
    btnConn->setEnabled(true);
    EnableMailboxControls(false);
}

void TForm1::cSockDisconnect(QObject *, TClientWinSocket *Socket)
{
    msgBar->setText(QStringLiteral(" Disconnected from ") + Socket->PeerAddress());
    // The log stays readable: what was said, and why the connection ended.
    txtCmdPrompt->setEnabled(false);
    btnClear->setEnabled(false);
    btnConn->setText(kConnect);
    EnableMailboxControls(false);
    btnConn->setEnabled(true);
}

void TForm1::cSockError(QObject *, TClientWinSocket *Socket, TErrorEvent, int &ErrorCode)
{
    ErrorCode = 0;
    AppendConsole(QStringLiteral("Host (") + txtServer->currentText() + QStringLiteral(") NOT found [OR] port (") +
                  txtPort->text() + QStringLiteral(")not opened !"));
    // A refused encrypted connection says why, or the user cannot tell a
    // wrong certificate from a wrong port.
    if (Socket && !Socket->TlsFailure().isEmpty())
        AppendConsole(Socket->TlsFailure());
    btnConn->setText(kConnect);
    btnConn->setEnabled(true);
}

void TForm1::cSockRead(QObject *Sender, TClientWinSocket *Socket)
{
    session->cSockRead(Sender, Socket);
}

void TForm1::HandleReplyLine(char FirstChar, std::uint8_t State, const QByteArray &Line)
{
    session->HandleReplyLine(FirstChar, State, Line);
    applyReplies();
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

// --- the command buttons ---

void TForm1::btnLoginClick(QObject *)
{
    session->login(txtUID->text(), txtPWD->text());
}

void TForm1::btnListClick(QObject *)
{
    session->listMailbox();
}

void TForm1::btnHeaderClick(QObject *)
{
    if (CheckedCount <= 0 && !mailInfo->hasSelectedRow())
        return;
    // The checked rows, in list order; with none checked, the selected one.
    session->fetchHeaders(CheckedCount > 0 ? markedRows(nullptr) : QList<MailRowRef>{mailRowRef(TargetMailRow())});
}

void TForm1::btnReadClick(QObject *)
{
    if (CheckedCount <= 0 && !mailInfo->hasSelectedRow())
        return;
    // With nothing selected the first checked row is read: remember it
    // before clearing "All" takes its mark away.
    const int selected = mailInfo->selectedRow();
    const int firstChecked = selected < 0 ? mailModel->firstCheckedRow() : -1;
    if (selected < 0 && firstChecked < 0)
        return;  // no row to read
    pageGUI->setEnabled(false);
    EnableMessageControls(false);
    AllMail->setChecked(false);
    selMail->setChecked(false);
    if (selected >= 0)
        mailModel->setRowChecked(selected, true);
    else if (firstChecked >= 0)
        mailModel->setRowChecked(firstChecked, true);
    // Decoded, a message is read whole where it is small enough to hold;
    // a larger one as its first lines, which the viewer says are cut.
    const int target = TargetMailRow();
    bool sized = false;
    const qlonglong bytes = mailModel->subItem(target, MailRow::Bytes).toLongLong(&sized);
    session->readMessage(mailRowRef(target), DecodeText && sized && bytes >= 0 && bytes <= MaxWholeReadBytes);
}

void TForm1::btnDeleteClick(QObject *)
{
    if (session->deleteConfirmed())
        return;
    if (CheckedCount <= 0 && !mailInfo->hasSelectedRow())
        return;
    if (TargetMailId().isEmpty())
        return;
    if (!confirmDelete())
        return;
    // The batch is what is marked at the Yes.
    bool byCheck = false;
    const QList<MailRowRef> rows = markedRows(&byCheck);
    session->deleteRows(rows, byCheck);
}

void TForm1::btnQuitClick(QObject *)
{
    session->quit();
    EnableMailboxControls(false);
    removeAllMailRows();
}

// --- the console page ---

void TForm1::txtCmdPromptKeyPress(QObject *, QChar &Key)
{
    if (Key.unicode() != 13)
        return;
    if (session->sendTyped(txtCmdPrompt->text()))
        txtCmdPrompt->clear();
    // Enter must not reach the field.
    Key = QChar(1);
}

void TForm1::btnClearClick(QObject *)
{
    Memo1->clearEntries();
}

void TForm1::pageCMDEnter(QObject *)
{
    if (txtCmdPrompt->isEnabled())
        txtCmdPrompt->setFocus(Qt::OtherFocusReason);
}

// --- what the window decides for the engine ---

bool TForm1::confirmDelete()
{
    platform::MessageBoxRequest box;
    box.parent = this;
    box.title = QStringLiteral("Warning");
    box.text = QStringLiteral("Confirm delete selected mail(s) ?");
    // What a Yes now would delete: the checked rows, else the selected ones.
    box.informativeText = deleteQuestionDetails(CheckedCount > 0 ? mailModel->checkedRows() : mailInfo->selectedRows());
    box.icon = platform::BoxIcon::Warning;
    box.buttons = {platform::BoxButton::Yes, platform::BoxButton::No};
    box.defaultButton = platform::BoxButton::Yes;
    box.escapeButton = platform::BoxButton::No;
    return platform::desktop().messageBox(box) == platform::BoxButton::Yes;
}

QString TForm1::deleteQuestionDetails(const QList<int> &rows) const
{
    QStringList lines;
    lines << (rows.size() == 1 ? QStringLiteral("1 message:") : QStringLiteral("%1 messages:").arg(rows.size()));
    for (qsizetype i = 0; i < rows.size() && i < DeleteQuestionRows; ++i) {
        const int row = rows[i];
        QString subject = mailModel->shownText(row, MailRow::Subject);
        if (!mailModel->hasHeader(row))
            subject = QStringLiteral("(header not fetched)");
        else if (subject.trimmed().isEmpty())
            subject = QStringLiteral("(no subject)");
        else if (subject.size() > 60)
            subject = subject.left(57) + QStringLiteral("...");
        lines << QStringLiteral("ID %1: %2").arg(mailModel->shownText(row, MailRow::Id).left(20), subject);
    }
    if (rows.size() > DeleteQuestionRows)
        lines << QStringLiteral("and %1 more").arg(rows.size() - DeleteQuestionRows);
    return lines.join(QLatin1Char('\n'));
}

QList<MailRowRef> TForm1::markedRows(bool *byCheck) const
{
    const bool checked = CheckedCount > 0;
    if (byCheck)
        *byCheck = checked;
    const QList<int> rows = checked ? mailModel->checkedRows() : mailInfo->selectedRows();
    QList<MailRowRef> refs;
    refs.reserve(rows.size());
    for (const int row : rows)
        refs.append(mailRowRef(row));
    return refs;
}

QString TForm1::userName()
{
    return txtUID->text();
}

QString TForm1::password()
{
    return txtPWD->text();
}

void TForm1::throttleListRepaint()
{
    // The list with its scroll bar and header (a removed row moves both),
    // and the status text that each reply changes.
    if (!mailInfo->updatesEnabled())
        return;  // a repaint is already due
    if (!listRepainted.isValid() || listRepainted.elapsed() >= ListRepaintInterval) {
        listRepainted.start();
        return;
    }
    mailInfo->setUpdatesEnabled(false);
    msgBar->setUpdatesEnabled(false);
    QTimer::singleShot(ListRepaintInterval - int(listRepainted.elapsed()), this, [this] {
        // Enabling updates again repaints them whole.
        mailInfo->setUpdatesEnabled(true);
        msgBar->setUpdatesEnabled(true);
        listRepainted.start();
    });
}

void TForm1::startAutoHeaders()
{
    // The rows in the order shown, so the visible ones come first when the
    // list was sorted.
    QList<QByteArray> ids;
    ids.reserve(mailModel->count());
    for (int row = 0; row < mailModel->count(); ++row) {
        if (!mailModel->hasHeader(row))
            ids.append(mailModel->subItem(row, MailRow::Id));
    }
    session->startAutoHeaders(ids);
}

void TForm1::closeEvent(QCloseEvent *event)
{
    if (closeApproved) {
        acceptClose(event);
        return;
    }
    // A close waits for the answer to the QUIT it sent (bounded by quitWait).
    if (quitThenClose) {
        event->ignore();
        return;
    }
    // POP3 deletes only at QUIT: closing without it would leave on the
    // server every message the user saw go.
    const int pending = session->deletionsPending();
    if (pending <= 0) {
        acceptClose(event);
        return;
    }
    platform::MessageBoxRequest box;
    box.parent = this;
    box.title = QStringLiteral("Warning");
    box.text = pending == 1
                   ? QStringLiteral("1 message deleted in this session is still on the server.")
                   : QStringLiteral("%1 messages deleted in this session are still on the server.").arg(pending);
    box.informativeText = QStringLiteral(
        "POP3 deletes mail only when the session ends with QUIT.\n"
        "Delete Now: end the session with QUIT, then close. Keep Them: close without QUIT; the messages come back "
        "at the next connect. Go Back: leave the window open.");
    box.icon = platform::BoxIcon::Warning;
    box.buttons = {platform::BoxButton::Yes, platform::BoxButton::No, platform::BoxButton::Cancel};
    box.captions = {QStringLiteral("&Delete Now"), QStringLiteral("&Keep Them"), QStringLiteral("&Go Back")};
    box.defaultButton = platform::BoxButton::Yes;
    box.escapeButton = platform::BoxButton::Cancel;
    const platform::BoxButton answer = platform::desktop().messageBox(box);
    if (answer == platform::BoxButton::No) {
        acceptClose(event);
        return;
    }
    event->ignore();
    if (answer != platform::BoxButton::Yes)
        return;
    // The connection may have ended while the question was open: the server
    // has forgotten the deletions, and there is nothing to send.
    if (session->deletionsPending() <= 0) {
        closeAfterQuit();
        return;
    }
    quitThenClose = true;
    btnQuitClick();
    msgBar->setText(QStringLiteral(" Closing once the server has answered QUIT ..."));
    quitWait.start(quitBeforeCloseMs);
}

void TForm1::acceptClose(QCloseEvent *event)
{
    closed = true;
    QWidget::closeEvent(event);
}

void TForm1::closeAfterQuit()
{
    quitThenClose = false;
    quitWait.stop();
    closeApproved = true;
    // From the event loop: never inside the step that reported the answer.
    QMetaObject::invokeMethod(this, &QWidget::close, Qt::QueuedConnection);
}

void TForm1::giveBackReadPage()
{
    pageGUI->setEnabled(true);
    EnableMessageControls(CheckedCount > 0 || mailInfo->hasSelectedRow());
}

// --- binding ---

void TForm1::bindSessionEvents()
{
    connect(btnLogin, &QPushButton::clicked, this, [this] { btnLoginClick(btnLogin); });
    connect(btnList, &QPushButton::clicked, this, [this] { btnListClick(btnList); });
    connect(btnHeader, &QPushButton::clicked, this, [this] { btnHeaderClick(btnHeader); });
    connect(btnRead, &QPushButton::clicked, this, [this] { btnReadClick(btnRead); });
    connect(btnDelete, &QPushButton::clicked, this, [this] { btnDeleteClick(btnDelete); });
    connect(btnQuit, &QPushButton::clicked, this, [this] { btnQuitClick(btnQuit); });
    connect(btnClear, &QPushButton::clicked, this, [this] { btnClearClick(btnClear); });

    txtCmdPrompt->installEventFilter(
        new KeyPressFilter([this](QChar &Key) { txtCmdPromptKeyPress(txtCmdPrompt, Key); }, txtCmdPrompt));

    // The page "gets the focus" when it is brought to the front, or when a
    // control on it takes the focus from a control elsewhere.
    connect(pgControl, &QTabWidget::currentChanged, this, [this](int index) {
        if (pgControl->widget(index) == pageCMD)
            pageCMDEnter(pageCMD);
    });
    connect(qApp, &QApplication::focusChanged, this, [this](QWidget *old, QWidget *now) {
        if (now && pageCMD->isAncestorOf(now) && !(old && pageCMD->isAncestorOf(old)) && now != txtCmdPrompt)
            pageCMDEnter(pageCMD);
    });

    // What the engine reports, shown as it happens (direct connections: each
    // reaction is part of the step that reports it).
    Pop3Session *s = session;
    connect(s, &Pop3Session::connecting, this, [this](TClientWinSocket *w) { cSockConnecting(cSock, w); });
    connect(s, &Pop3Session::connected, this, [this](TClientWinSocket *w) { cSockConnect(cSock, w); });
    connect(s, &Pop3Session::disconnected, this, [this](TClientWinSocket *w) {
        cSockDisconnect(cSock, w);
        if (quitThenClose)
            closeAfterQuit();
    });
    connect(s, &Pop3Session::socketError, this,
            [this](TClientWinSocket *w, TErrorEvent e, int *code) { cSockError(cSock, w, e, *code); });
    // A box is modal: it opens from the event loop, never inside the step
    // that reports it, where the socket's events would wait behind it.
    connect(
        s, &Pop3Session::failure, this, [](const QString &text) { platform::showErrorBox(text); },
        Qt::QueuedConnection);
    connect(s, &Pop3Session::statusText, msgBar, &StatusTextBar::setText);
    connect(s, &Pop3Session::statusAppended, this, &TForm1::AppendStatusText);
    connect(s, &Pop3Session::consoleEntry, this, &TForm1::AppendConsole);

    connect(s, &Pop3Session::greeted, this, [this] { pageGUI->setEnabled(true); });
    connect(s, &Pop3Session::tlsOffered, this, [this] {
        if (!connectionKey.isEmpty())
            tlsServers.insert(connectionKey);
    });
    connect(s, &Pop3Session::userReplied, this, [this] { btnLogin->setEnabled(true); });
    connect(s, &Pop3Session::loginAccepted, this, [this] { btnLogin->setEnabled(false); });
    connect(s, &Pop3Session::loginSettled, this, [this] { EnableMailboxControls(!btnLogin->isEnabled()); });
    connect(s, &Pop3Session::listingStarted, this, &TForm1::removeAllMailRows);
    connect(s, &Pop3Session::mailListed, this, [this](const MailListing &listing) {
        mailModel->addListingRows(listing);
        // The header's arrow keeps telling the order of the rows shown.
        reapplySort();
        if (AutoHeaders1->isChecked() && !listing.isEmpty())
            startAutoHeaders();
    });
    connect(
        s, &Pop3Session::mailboxEmpty, this,
        [this] {
            platform::showOkBox(this, QStringLiteral("Information"),
                                QStringLiteral("Mailbox is empty !\rDisconnected from server."),
                                platform::BoxIcon::Information);
        },
        Qt::QueuedConnection);
    connect(s, &Pop3Session::headersReceived, this,
            [this](const MailRowRef &ref, const HeaderFields &headers, const QList<QByteArray> &lines, bool keepMark) {
                const int row = mailRowOf(ref);
                if (row < 0)
                    return;
                throttleListRepaint();
                // Both forms are kept, so the action switches without a fetch.
                mailModel->setRowHeaders(row, headers.subject, headers.sender, headers.recipient, DecodeHeaders(lines));
                if (!keepMark)
                    mailModel->setRowChecked(row, false);
            });
    // Sorted by a header column, the rows take their places once every
    // header is in.
    connect(s, &Pop3Session::autoHeadersEnded, this, &TForm1::reapplySort);
    connect(AutoHeaders1, &QAction::toggled, this, [this](bool on) {
        if (!on)
            session->stopAutoHeaders();
        // Logged in with rows listed (the page may be off for a read).
        else if (btnList->isEnabledTo(pageGUI) && mailModel->count() > 0)
            startAutoHeaders();
    });
    // A close that sent QUIT goes on when the server answers it or the
    // connection ends; a refusal keeps the window open and says so.
    quitWait.setSingleShot(true);
    connect(&quitWait, &QTimer::timeout, this, &TForm1::closeAfterQuit);
    connect(s, &Pop3Session::quitAnswered, this, [this](bool ok) {
        if (!quitThenClose)
            return;
        if (ok) {
            closeAfterQuit();
            return;
        }
        quitThenClose = false;
        quitWait.stop();
        QMetaObject::invokeMethod(
            this,
            [this] {
                platform::showOkBox(this, QStringLiteral("Warning"),
                                    QStringLiteral("The server refused QUIT: the messages may not be deleted.\r"
                                                   "Its answer is on the TELNET page."),
                                    platform::BoxIcon::Warning);
            },
            Qt::QueuedConnection);
    });
    connect(s, &Pop3Session::messageRead, this,
            [this](const MailRowRef &, const HeaderFields &headers, const QList<QByteArray> &lines, bool whole) {
                pageGUI->setEnabled(true);
                EnableMessageControls(true);
                ViewerMessage message{headers.recipient, headers.sender, headers.subject, lines};
                if (DecodeHeaders1->isChecked()) {
                    const DecodedHeaders decoded = DecodeHeaders(lines);
                    message.to = decoded.recipient.toUtf8();
                    message.from = decoded.sender.toUtf8();
                    message.subject = decoded.subject.toUtf8();
                }
                message.whole = whole;
                // The viewer is modal: it opens once this reply is handled.
                QMetaObject::invokeMethod(
                    this,
                    [this, message]() mutable {
                        message.decodedText = DecodeText;
                        showViewer(this, message, [this](bool on) { DecodeText = on; });
                    },
                    Qt::QueuedConnection);
            });
    connect(s, &Pop3Session::readAbandoned, this, &TForm1::giveBackReadPage);
    // A deleted row leaves the list with the others deleted in the same
    // read, once the read is handled: one removal, not one per row.
    connect(s, &Pop3Session::mailDeleted, this, [this](const MailRowRef &ref) { markMailRowDeleted(mailRowOf(ref)); });
    connect(s, &Pop3Session::repliesHandled, this, &TForm1::applyReplies);
    connect(s, &Pop3Session::deleteBatchEnded, this, [this] { EnableMessageControls(false); });
    // Rows checked while a header batch ran follow it, as Get Header goes
    // through every checked row.
    connect(s, &Pop3Session::headerBatchEnded, this, [this] {
        if (CheckedCount > 0)
            session->fetchHeaders(markedRows(nullptr));
    });
    // A mark taken off while a batch runs withdraws that row from it.
    connect(mailModel, &QAbstractItemModel::dataChanged, this,
            [this](const QModelIndex &first, const QModelIndex &last, const QList<int> &roles) {
                if (!roles.contains(Qt::CheckStateRole) ||
                    !(session->deleteConfirmed() || session->headerBatchRunning()))
                    return;
                QList<QByteArray> unchecked;
                for (int row = first.row(); row <= last.row(); ++row) {
                    if (!mailModel->isChecked(row))
                        unchecked.append(mailModel->subItem(row, MailRow::Id));
                }
                if (!unchecked.isEmpty())
                    session->rowsUnchecked(unchecked);
            });
}
