// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "session/CommandQueue.h"

#include <QByteArray>
#include <QList>
#include <QSet>

#include <deque>
#include <optional>

// The rows of a header or delete batch that are still to be sent, in the
// order they were handed over. A batch taken from the checked rows loses a
// row for good when its mark goes off before its command is sent (a mark put
// back later is a later mark). Rows are known by message number, so a mark
// change costs the same however long the batch is.
class RowBatch {
public:
    // byCheck: the rows were the checked ones (else the selected ones, which
    // no mark withdraws).
    // number tells this batch's commands from those of earlier ones.
    void start(const QList<MailRowRef> &rows, bool byCheck, quint64 number);
    void clear();
    bool isRunning() const { return running; }
    quint64 number() const { return running ? batchNumber : 0; }
    bool owns(quint64 number) const { return running && number == batchNumber; }
    // Its commands sent and not yet answered.
    int inFlight() const { return unanswered; }
    void commandSent() { ++unanswered; }
    // A reply came for a command of the batch numbered number.
    void replyCame(quint64 number)
    {
        if (owns(number) && unanswered > 0)
            --unanswered;
    }
    bool hasRowsLeft() const { return !waiting.isEmpty(); }
    qsizetype rowsLeft() const { return waiting.size(); }
    // The row whose mark went off leaves the batch, if it was in it.
    void withdraw(const QByteArray &id);
    // The row needs no command any more (its message is deleted, or another
    // command already brought what this one was for).
    void forget(const QByteArray &id) { waiting.remove(id); }
    // The next row to send, withdrawn rows skipped.
    std::optional<MailRowRef> takeNext();

private:
    std::deque<MailRowRef> rows;
    QSet<QByteArray> waiting;
    bool byCheck = false;
    bool running = false;
    quint64 batchNumber = 0;
    int unanswered = 0;
};
