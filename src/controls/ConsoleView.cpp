#include "controls/ConsoleView.h"

#include "platform/Desktop.h"

#include <QTextDocument>

ConsoleView::ConsoleView(QWidget *parent) : QPlainTextEdit(parent)
{
    setReadOnly(true);
    // A read-only log: an undo history would only keep a second copy of it.
    document()->setUndoRedoEnabled(false);
}

void ConsoleView::appendEntry(const QString &entry)
{
    QString lines = platform::displayLineBreaks(entry);
    if (isVisible()) {
        flushPending();
        appendPlainText(lines);
        return;
    }
    // Kept for a while: without the spare room decoding may have left.
    lines.squeeze();
    pendingLength += lines.size();
    pending.append(std::move(lines));
}

void ConsoleView::clearEntries()
{
    pending.clear();
    pendingLength = 0;
    clear();
}

QString ConsoleView::text()
{
    flushPending();
    return toPlainText();
}

qsizetype ConsoleView::logLength() const
{
    // The document counts one paragraph separator more than its text has;
    // each waiting entry will begin a line of its own.
    if (pending.isEmpty())
        return document()->characterCount() - 1;
    const qsizetype breaks = pending.size() - (document()->isEmpty() ? 1 : 0);
    return document()->characterCount() - 1 + breaks + pendingLength;
}

void ConsoleView::showEvent(QShowEvent *event)
{
    // Appended as if they had come while shown: a log scrolled to its end
    // stays at its end.
    flushPending();
    QPlainTextEdit::showEvent(event);
}

void ConsoleView::flushPending()
{
    if (pending.isEmpty())
        return;
    // One insertion: the entries joined by line breaks make the same lines
    // as appending them one by one.
    const QString lines = pending.join(QLatin1Char('\n'));
    pending.clear();
    pendingLength = 0;
    appendPlainText(lines);
}
