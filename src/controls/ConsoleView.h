// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QPlainTextEdit>
#include <QTimer>
#include <QString>
#include <QStringList>

// The console's log: a read-only plain text view that takes whole entries,
// each on a line of its own.
//
// A long batch adds two or more entries per message, and putting an entry
// into a text document costs far more than the bytes it holds. While the
// view is hidden nobody can see the entries, so they wait in a buffer and go
// into the document in one insertion when the view is shown or its text is
// read. What the user sees is the same either way.
//
// A flood of lines (a server that sends a million short lines) would freeze
// the window while the document takes them: a line costs microseconds. So
// beyond SliceLines at a time the entries go in in slices, one slice per
// pass of the event loop, and the window keeps answering meanwhile.
//
// The log has a capacity, as any text box has: MaxLines lines and
// MaxLength characters. Past it the oldest lines go, an eighth of the
// capacity at a time, so a server that sends without end cannot grow the
// program's memory without end.
class ConsoleView : public QPlainTextEdit {
    Q_OBJECT
public:
    static constexpr qsizetype SliceLines = 20000;
    static constexpr qsizetype MaxLines = 200000;
    static constexpr qsizetype MaxLength = qsizetype(16) * 1024 * 1024;

    explicit ConsoleView(QWidget *parent = nullptr);

    // Adds one entry at the end; CR, LF and CR LF inside it start new lines.
    void appendEntry(const QString &entry);
    // Empties the log, entries still waiting included.
    void clearEntries();
    // The whole log, one line per line shown, entries still waiting included.
    QString text();
    // The number of entries waiting to go into the document.
    int pendingEntries() const { return static_cast<int>(pending.size()); }
    // The characters the log holds, entries still waiting included.
    qsizetype logLength() const;

protected:
    void showEvent(QShowEvent *event) override;

private:
    void flushPending();
    // Moves up to maxLines lines of the waiting entries into the document.
    void flushLines(qsizetype maxLines);
    void flushSlice();
    // Drops the oldest lines while the log is past its capacity.
    void keepWithinCapacity();

    // Kept one by one: a single growing text would reserve up to its own
    // size again; the entries are joined once, when shown.
    QStringList pending;
    qsizetype pendingLength = 0;
    qsizetype pendingLines = 0;
    QTimer *sliceTimer;
};
