#include "controls/ConsoleView.h"

#include "platform/Desktop.h"

ConsoleView::ConsoleView(QWidget *parent) : QPlainTextEdit(parent)
{
    setReadOnly(true);
    // A read-only log: an undo history would only keep a second copy of it.
    document()->setUndoRedoEnabled(false);
}

void ConsoleView::appendEntry(const QString &entry)
{
    const QString lines = platform::displayLineBreaks(entry);
    if (isVisible()) {
        flushPending();
        appendPlainText(lines);
        return;
    }
    if (pendingCount > 0)
        pending += QLatin1Char('\n');
    pending += lines;
    ++pendingCount;
}

void ConsoleView::clearEntries()
{
    pending.clear();
    pendingCount = 0;
    clear();
}

QString ConsoleView::text()
{
    flushPending();
    return toPlainText();
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
    if (pendingCount == 0)
        return;
    // One insertion: the entries joined by line breaks make the same lines
    // as appending them one by one.
    const QString lines = std::exchange(pending, QString());
    pendingCount = 0;
    appendPlainText(lines);
}
