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
    cSock->Socket()->SendString(text);
}

void TForm1::btnLoginClick(QObject *)
{
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

void TForm1::btnDeleteClick(QObject *)
{
    if (CheckedCount <= 0 && !mailInfo->hasSelectedRow())
        return;
    const int row = TargetMailRow();
    const QByteArray n = mailModel->subItem(row, MailRow::Id);
    if (n.isEmpty())
        return;
    // The row is followed through whatever happens while the question is open.
    const QPersistentModelIndex target(mailModel->index(row, MailListModel::IdColumn));
    if (!DeleteConfirmed) {
        platform::MessageBoxRequest box;
        box.parent = this;
        box.title = QStringLiteral("Warning");
        box.text = QStringLiteral("Confirm delete selected mail(s) ?");
        box.icon = platform::BoxIcon::Warning;
        box.buttons = {platform::BoxButton::Yes, platform::BoxButton::No};
        box.defaultButton = platform::BoxButton::Yes;
        box.escapeButton = platform::BoxButton::No;
        DeleteConfirmed = platform::desktop().messageBox(box) == platform::BoxButton::Yes;
        if (!DeleteConfirmed)
            return;
    }
    // A batch over selected rows goes on while a row is selected; one over
    // checked rows only while a row is checked.
    DeleteBySelection = CheckedCount <= 0;
    SessionState = ssWaitDelete;
    PendingMailId = n;
    PendingMailRow = target;
    msgBar->setText(QStringLiteral("Deleting Mail #") + decodeWireText(n) + QStringLiteral(" ..."));
    AppendConsole(QStringLiteral("DELE ") + decodeWireText(n));
    sendCommand("DELE " + n + kCrLf);
}

void TForm1::btnQuitClick(QObject *)
{
    SessionState = ssIdle;
    clearPendingMail();
    AppendConsole(QStringLiteral("QUIT "));
    sendCommand("QUIT" + kCrLf);
    EnableMailboxControls(false);
    removeAllMailRows();
}
