// The mailbox commands behind the buttons: each sets the state the reply is
// awaited in, echoes itself on the console, sets the status text and sends.

#include "app/StatusTextBar.h"
#include "app/TForm1.h"
#include "mailbox/MailListModel.h"
#include "mailbox/MailListView.h"
#include "platform/Desktop.h"
#include "session/TClientSocket.h"
#include "session/TClientWinSocket.h"
#include "session/WireText.h"

#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>

namespace {

const QByteArray kCrLf = QByteArrayLiteral("\r\n");

// A command argument on the wire: a line break in a field (pasted, or read
// from the settings file) would end the command early and send the rest as
// a command of its own, so the breaks are left out.
QByteArray argument(const QString &text)
{
    QByteArray bytes = encodeWireText(text);
    bytes.removeIf([](char c) { return c == '\r' || c == '\n'; });
    return bytes;
}

}  // namespace

void TForm1::sendCommand(const QByteArray &text)
{
    // Sends nothing while not connected; a failing send is reported by the
    // socket's error and disconnect events.
    if (commandSent)
        commandSent(text);
    cSock->Socket()->SendString(text);
}

void TForm1::btnLoginClick(QObject *)
{
    abandonDeleteBatch();
    SessionState = ssWaitUser;
    const QString user = txtUID->text();
    const QString password = txtPWD->text();
    const QString masked(qsizetype(password.toUcs4().size()), QLatin1Char('*'));
    AppendConsole(QStringLiteral("? USER ") + user);
    AppendConsole(QStringLiteral("? PASS ") + masked);
    msgBar->setText(QStringLiteral(" Login to user account ..."));
    sendCommand("user " + argument(user) + kCrLf + "pass " + argument(password) + kCrLf);
}

void TForm1::btnListClick(QObject *)
{
    abandonDeleteBatch();
    SessionState = ssWaitList;
    removeAllMailRows();
    AppendConsole(QStringLiteral("? LIST"));
    msgBar->setText(QStringLiteral(" Downloading Mail List ..."));
    sendCommand("LIST" + kCrLf);
}

void TForm1::btnHeaderClick(QObject *)
{
    if (CheckedCount <= 0 && !mailInfo->hasSelectedRow())
        return;
    const int row = TargetMailRow();
    if (row < 0)
        return;  // no row to ask for: never a "TOP" without a number
    abandonDeleteBatch();
    SessionState = ssWaitHeader;
    setPendingMail(row);
    const QByteArray n = PendingMailId;
    msgBar->setText(QStringLiteral(" Downloading Mail #") + decodeWireText(n) + QStringLiteral(" Header ..."));
    AppendConsole(QStringLiteral("? TOP ") + decodeWireText(n) + QStringLiteral(" 0"));
    sendCommand("TOP " + n + " 0" + kCrLf);
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
    abandonDeleteBatch();
    pageGUI->setEnabled(false);
    EnableMessageControls(false);
    SessionState = ssWaitRead;
    AllMail->setChecked(false);
    selMail->setChecked(false);
    if (selected >= 0)
        mailModel->setRowChecked(selected, true);
    else if (firstChecked >= 0)
        mailModel->setRowChecked(firstChecked, true);
    setPendingMail(TargetMailRow());
    const QByteArray n = PendingMailId;
    msgBar->setText(QStringLiteral(" Downloading Mail #") + decodeWireText(n) + QStringLiteral(" ..."));
    AppendConsole(QStringLiteral("RETR ") + decodeWireText(n));
    sendCommand("TOP " + n + " 100" + kCrLf);
}

void TForm1::btnDeleteClick(QObject *Sender)
{
    if (DeleteConfirmed) {
        // A confirmed batch runs: the dispatcher carries it on after each
        // reply; a press of the button meanwhile is no new batch.
        if (Sender == this && !sendNextDelete())
            endDeleteBatch();
        return;
    }
    if (CheckedCount <= 0 && !mailInfo->hasSelectedRow())
        return;
    if (TargetMailId().isEmpty())
        return;
    platform::MessageBoxRequest box;
    box.parent = this;
    box.title = QStringLiteral("Warning");
    box.text = QStringLiteral("Confirm delete selected mail(s) ?");
    box.icon = platform::BoxIcon::Warning;
    box.buttons = {platform::BoxButton::Yes, platform::BoxButton::No};
    box.defaultButton = platform::BoxButton::Yes;
    box.escapeButton = platform::BoxButton::No;
    if (platform::desktop().messageBox(box) != platform::BoxButton::Yes)
        return;
    // The batch is what is marked at the Yes: the checked rows, or the
    // selected ones when none is checked, in list order.
    const bool byCheck = CheckedCount > 0;
    const QList<int> rows = byCheck ? mailModel->checkedRows() : mailInfo->selectedRows();
    for (const int row : rows) {
        const QByteArray id = mailModel->subItem(row, MailRow::Id);
        if (!id.isEmpty())
            DeleteBatch.push_back({QPersistentModelIndex(mailModel->index(row, MailListModel::IdColumn)), id, byCheck});
    }
    DeleteConfirmed = !DeleteBatch.empty();
    if (DeleteConfirmed && !sendNextDelete())
        abandonDeleteBatch();
}

bool TForm1::sendNextDelete()
{
    while (!DeleteBatch.empty()) {
        const DeleteBatchRow next = DeleteBatch.front();
        DeleteBatch.pop_front();
        // Gone from the list (a new listing, Save & Quit), or unchecked
        // since the Yes: not to be deleted.
        if (!next.row.isValid() || (next.checked && !mailModel->isChecked(next.row.row())))
            continue;
        SessionState = ssWaitDelete;
        PendingMailId = next.id;
        PendingMailRow = next.row;
        msgBar->setText(QStringLiteral("Deleting Mail #") + decodeWireText(next.id) + QStringLiteral(" ..."));
        AppendConsole(QStringLiteral("DELE ") + decodeWireText(next.id));
        sendCommand("DELE " + next.id + kCrLf);
        return true;
    }
    return false;
}

void TForm1::btnQuitClick(QObject *)
{
    abandonDeleteBatch();
    SessionState = ssIdle;
    clearPendingMail();
    AppendConsole(QStringLiteral("QUIT "));
    sendCommand("QUIT" + kCrLf);
    EnableMailboxControls(false);
    removeAllMailRows();
}
