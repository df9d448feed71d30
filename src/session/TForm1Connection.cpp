// The connect button, the port check and the connection events of the main window.

#include "app/StatusTextBar.h"
#include "app/TForm1.h"
#include "controls/ConsoleView.h"
#include "controls/TInputChecker.h"
#include "platform/Desktop.h"
#include "session/TClientSocket.h"
#include "session/TClientWinSocket.h"

#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>

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

void TForm1::btnConnClick(QObject *)
{
    SessionState = ssWaitGreeting;
    if (btnConn->text() == kDisconnect) {
        cSock->setActive(false);
        return;
    }
    if (cSock->Active())
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
    cSock->setHost(QString());
    cSock->setAddress(QString());
    const QString server = txtServer->currentText();
    if (CHK->IsIPAddress(server))
        cSock->setAddress(server);
    else
        cSock->setHost(server);
    cSock->setPort(port);
    // Read at every connect, so a certificate put beside the settings counts
    // without a restart.
    cSock->setTrustedCertificates(cSock->UsesImplicitTls() ? TrustFileCertificates() : QList<QSslCertificate>());
    try {
        cSock->setActive(true);
    } catch (const ESocketError &) {
        // What the user needs to know was reported by the events raised before
        // the failure; a socket the platform would not create raises none, so
        // the button is put back here.
        if (!cSock->Active())
            btnConn->setText(kConnect);
    }
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
    msgBar->setText(QStringLiteral(" Trying to connect to ") + txtServer->currentText() +
                    QStringLiteral(" on port ") + txtPort->text() + QStringLiteral(" ..."));
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
    abandonDeleteBatch();
    Memo1->setEnabled(true);
    btnClear->setEnabled(true);
    btnConn->setText(kDisconnect);
    btnConn->setEnabled(true);
    EnableMailboxControls(false);
}

void TForm1::cSockDisconnect(QObject *, TClientWinSocket *Socket)
{
    msgBar->setText(QStringLiteral(" Disconnected from ") + Socket->PeerAddress());
    // Nothing more of a delete batch can go out on this connection.
    if (DeleteConfirmed)
        endDeleteBatch();
    txtCmdPrompt->setEnabled(false);
    Memo1->setEnabled(false);
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
