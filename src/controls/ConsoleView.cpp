// SPDX-License-Identifier: GPL-3.0-or-later
#include "controls/ConsoleView.h"

#include "platform/Desktop.h"

#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>

#include <algorithm>

namespace {

qsizetype lineCount(const QString &text)
{
    return text.count(QLatin1Char('\n')) + 1;
}

}  // namespace

ConsoleView::ConsoleView(QWidget *parent) : QPlainTextEdit(parent), sliceTimer(new QTimer(this))
{
    setReadOnly(true);
    // A read-only log: an undo history would only keep a second copy of it.
    document()->setUndoRedoEnabled(false);
    sliceTimer->setSingleShot(true);
    sliceTimer->setInterval(0);
    connect(sliceTimer, &QTimer::timeout, this, &ConsoleView::flushSlice);
}

void ConsoleView::appendEntry(const QString &entry)
{
    QString lines = platform::displayLineBreaks(entry);
    const qsizetype count = lineCount(lines);
    if (isVisible() && pending.isEmpty() && count <= SliceLines) {
        appendPlainText(lines);
        keepWithinCapacity();
        return;
    }
    // Kept for a while: without the spare room decoding may have left.
    lines.squeeze();
    pendingLength += lines.size();
    pendingLines += count;
    pending.append(std::move(lines));
    keepWithinCapacity();
    if (isVisible())
        sliceTimer->start();
}

void ConsoleView::keepWithinCapacity()
{
    const qsizetype shownLines = document()->isEmpty() ? 0 : document()->blockCount();
    if (shownLines + pendingLines <= MaxLines && logLength() <= MaxLength)
        return;
    qsizetype dropLines = std::max<qsizetype>(shownLines + pendingLines - (MaxLines - MaxLines / 8), 0);
    qsizetype dropLength = std::max<qsizetype>(logLength() - (MaxLength - MaxLength / 8), 0);
    // The document holds the oldest lines: whole lines go from its start.
    if (shownLines > 0) {
        const qsizetype shownLength = document()->characterCount() - 1;
        const QTextBlock byLength = dropLength > 0 ? document()->findBlock(int(std::min(dropLength, shownLength) - 1))
                                                   : QTextBlock();
        const qsizetype blocks = std::max<qsizetype>(dropLines, byLength.isValid() ? byLength.blockNumber() + 1 : 0);
        if (blocks >= shownLines) {
            clear();
            dropLines -= shownLines;
            dropLength -= shownLength + 1;
        } else if (blocks > 0) {
            const int end = document()->findBlockByNumber(int(blocks)).position();
            QTextCursor cursor(document());
            cursor.setPosition(end, QTextCursor::KeepAnchor);
            cursor.removeSelectedText();
            dropLines = 0;
            dropLength = 0;
        }
    }
    // Then whole waiting entries, oldest first.
    while (!pending.isEmpty() && (dropLines > 0 || dropLength > 0)) {
        const qsizetype count = lineCount(pending.first());
        dropLines -= count;
        dropLength -= pending.first().size() + 1;
        pendingLines -= count;
        pendingLength -= pending.first().size();
        pending.removeFirst();
    }
}

void ConsoleView::clearEntries()
{
    pending.clear();
    pendingLength = 0;
    pendingLines = 0;
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
    // stays at its end. A flood goes in slice by slice.
    flushLines(SliceLines);
    if (!pending.isEmpty())
        sliceTimer->start();
    QPlainTextEdit::showEvent(event);
}

void ConsoleView::flushPending()
{
    flushLines(pendingLines);
}

void ConsoleView::flushSlice()
{
    if (!isVisible())
        return;  // the rest waits for the view to be shown again
    flushLines(SliceLines);
    if (!pending.isEmpty())
        sliceTimer->start();
}

void ConsoleView::flushLines(qsizetype maxLines)
{
    if (pending.isEmpty())
        return;
    // One insertion: the entries joined by line breaks make the same lines
    // as appending them one by one. An entry longer than what is left of
    // the slice is cut at a line break; its rest starts the next slice.
    QStringList slice;
    qsizetype lines = 0;
    while (!pending.isEmpty() && lines < maxLines) {
        QString &entry = pending.first();
        const qsizetype count = lineCount(entry);
        if (lines + count <= maxLines) {
            lines += count;
            pendingLength -= entry.size();
            slice.append(std::move(entry));
            pending.removeFirst();
            continue;
        }
        qsizetype cut = -1;
        for (qsizetype taken = lines; taken < maxLines; ++taken)
            cut = entry.indexOf(QLatin1Char('\n'), cut + 1);
        slice.append(entry.left(cut));
        entry.remove(0, cut + 1);
        pendingLength -= cut + 1;
        lines = maxLines;
    }
    pendingLines -= lines;
    if (pending.isEmpty()) {
        pendingLength = 0;
        pendingLines = 0;
    }
    appendPlainText(slice.join(QLatin1Char('\n')));
}
