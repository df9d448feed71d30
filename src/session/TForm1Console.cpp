// The command console: raw lines typed on the "TELNET" page, and its log.

#include "app/TForm1.h"
#include "controls/ConsoleView.h"
#include "session/KeyPressFilter.h"
#include "session/TClientSocket.h"
#include "session/TClientWinSocket.h"
#include "session/WireText.h"

#include <QApplication>
#include <QLineEdit>
#include <QPushButton>
#include <QTabWidget>

void TForm1::txtCmdPromptKeyPress(QObject *, QChar &Key)
{
    if (Key.unicode() != 13)
        return;
    if (cSock->Active()) {
        // Sent exactly as typed: no trimming, no change of case, no check.
        // A command of the user's own: a delete batch running ends here.
        abandonDeleteBatch();
        cSock->Socket()->SendString(encodeWireText(txtCmdPrompt->text()) + QByteArrayLiteral("\r\n"));
        AppendConsole(QStringLiteral("? ") + txtCmdPrompt->text());
        txtCmdPrompt->clear();
    }
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

    // A line left unfinished by a closed connection belongs to no later one.
    const TSocketNotifyEvent disconnected = cSock->OnDisconnect;
    cSock->OnDisconnect = [this, disconnected](QObject *Sender, TClientWinSocket *Socket) {
        resetReplyAssembly();
        if (disconnected)
            disconnected(Sender, Socket);
    };
}
