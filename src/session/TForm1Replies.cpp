// What arrives on the connection: the read handler and the status text.

#include "app/StatusTextBar.h"
#include "app/TForm1.h"
#include "platform/Desktop.h"
#include "session/TClientWinSocket.h"
#include "session/WireText.h"

#include <QPlainTextEdit>

namespace {

// Removes every leading and trailing byte with a code of 32 or lower.
QByteArray trimControls(const QByteArray &chunk)
{
    qsizetype begin = 0;
    qsizetype end = chunk.size();
    while (begin < end && static_cast<unsigned char>(chunk[begin]) <= 32)
        ++begin;
    while (end > begin && static_cast<unsigned char>(chunk[end - 1]) <= 32)
        --end;
    return chunk.mid(begin, end - begin);
}

}  // namespace

void TForm1::cSockRead(QObject *, TClientWinSocket *Socket)
{
    const QByteArray chunk = trimControls(Socket->ReceivePending());
    if (SessionState < ssReadBody || SessionState > ssHeaderBody)
        AppendConsole(decodeWireText(chunk));
}

void TForm1::AppendStatusText(const QString &text)
{
    msgBar->setText(msgBar->text() + text);
}

void TForm1::AppendConsole(const QString &entry)
{
    Memo1->appendPlainText(platform::displayLineBreaks(entry));
}
