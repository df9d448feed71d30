// SPDX-License-Identifier: GPL-3.0-or-later
// The batches of the conversation: Get Header over the rows handed in, the
// delete batch the user confirmed, the automatic header batch after a
// listing, and the server's capabilities that decide whether their commands
// are pipelined.

#include "base/WireText.h"
#include "session/Pop3Session.h"

#include <QElapsedTimer>
#include <QList>

#include <algorithm>
#include <optional>
#include <utility>

namespace {

const QByteArray kCrLf = QByteArrayLiteral("\r\n");

// How many commands one call may send: at most `most`, and none more once
// 8 ms have gone by (checked every 64 commands), so a batch's first burst
// never holds the window up for long; the replies send the rest.
class SendBudget {
public:
    explicit SendBudget(int most) : left(most) { since.start(); }
    bool take()
    {
        if (left <= 0 || (++taken % 64 == 0 && since.elapsed() >= 8))
            return false;
        --left;
        return true;
    }

private:
    int left;
    int taken = 0;
    QElapsedTimer since;
};

}  // namespace

// --- Get Header ---

void Pop3Session::fetchHeaders(const QList<MailRowRef> &rows)
{
    // The automatic batch is not abandoned: it yields until this one is done.
    abandonHeaderBatch();
    abandonDeleteBatch();
    headerBatch.start(rows, true, ++batchesStarted);
    if (!headerBatch.isRunning())
        return;
    const SendingHeld together(sock);
    if (!waitForCapabilities(HeaderBatchWaits, headerBatch.rowsLeft()))
        sendHeaders();
}

void Pop3Session::fetchHeader(const MailRowRef &row, RowBatch &batch)
{
    batch.commandSent();
    const QString n = decodeWireText(row.id);
    emit consoleEntry(QStringLiteral("? TOP ") + n + QStringLiteral(" 0"));
    startCommand({ssWaitHeader, "TOP", ReplyShape::MultiLine, row,
                  QStringLiteral(" Downloading Mail #") + n + QStringLiteral(" Header ..."), false, batch.number(),
                  &batch == &autoBatch},
                 "TOP " + row.id + " 0" + kCrLf);
}

void Pop3Session::sendHeaders(int most)
{
    const int window = batchWindow();
    SendBudget budget(most);
    while (headerBatch.isRunning() && headerBatch.inFlight() < window && budget.take()) {
        const std::optional<MailRowRef> next = headerBatch.takeNext();
        if (!next)
            break;
        fetchHeader(*next, headerBatch);
    }
    // Every row was withdrawn before it went out: nothing will end it.
    if (!headerBatch.hasRowsLeft() && headerBatch.inFlight() == 0)
        headerBatch.clear();
}

void Pop3Session::abandonHeaderBatch()
{
    headerBatch.clear();
    if (waitingBatch == HeaderBatchWaits)
        waitingBatch = NoBatch;
}

// --- the delete batch ---

void Pop3Session::deleteRows(const QList<MailRowRef> &rows, bool byCheck)
{
    // A confirmed batch runs: each reply carries it on; a press meanwhile is
    // no new batch.
    if (DeleteConfirmed)
        return;
    deleteBatch.start(rows, byCheck, ++batchesStarted);
    DeleteConfirmed = deleteBatch.isRunning();
    if (!DeleteConfirmed)
        return;
    abandonHeaderBatch();
    if (waitForCapabilities(DeleteBatchWaits, deleteBatch.rowsLeft()))
        return;
    const SendingHeld together(sock);
    sendDeletes();
    if (deleteBatch.inFlight() == 0)
        abandonDeleteBatch();
}

void Pop3Session::rowsUnchecked(const QList<QByteArray> &ids)
{
    for (const QByteArray &id : ids) {
        headerBatch.withdraw(id);
        deleteBatch.withdraw(id);
    }
}

void Pop3Session::sendDeletes(int most)
{
    const int window = batchWindow();
    SendBudget budget(most);
    while (DeleteConfirmed && deleteBatch.inFlight() < window && budget.take() && sendNextDelete()) {
    }
}

bool Pop3Session::sendNextDelete()
{
    // A new listing and Save & Quit, which empty the list, end the batch
    // before its rows are gone.
    if (const std::optional<MailRowRef> next = deleteBatch.takeNext()) {
        const QString n = decodeWireText(next->id);
        emit consoleEntry(QStringLiteral("DELE ") + n);
        deleteBatch.commandSent();
        startCommand({ssWaitDelete, "DELE", ReplyShape::StatusLine, *next,
                      QStringLiteral("Deleting Mail #") + n + QStringLiteral(" ..."), false, deleteBatch.number()},
                     "DELE " + next->id + kCrLf);
        return true;
    }
    return false;
}

void Pop3Session::deleteStep()
{
    // Only the reply to a DELE deletes: a "+" for anything else touches no
    // row.
    const PendingCommand done = finishCommand();
    if (done.awaited != ssWaitDelete) {
        followQueue();
        return;
    }
    ++pendingDeletions;
    autoBatch.forget(done.target.id);
    emit mailDeleted(done.target);
    emit statusAppended(QStringLiteral(" Done."));
    // The batch's next rows or its end, unless a command started meanwhile
    // has ended it already.
    if (DeleteConfirmed) {
        sendDeletes(PerReply);
        if (deleteBatch.inFlight() == 0)
            endDeleteBatch();
    }
    followQueue();
}

void Pop3Session::abandonDeleteBatch()
{
    DeleteConfirmed = false;
    deleteBatch.clear();
    if (waitingBatch == DeleteBatchWaits)
        waitingBatch = NoBatch;
}

void Pop3Session::endDeleteBatch()
{
    abandonDeleteBatch();
    emit deleteBatchEnded();
}

// --- the automatic header batch ---

void Pop3Session::startAutoHeaders(const QList<QByteArray> &ids)
{
    QList<MailRowRef> rows;
    rows.reserve(ids.size());
    for (const QByteArray &id : ids)
        rows.append({id});
    autoBatch.start(rows, false, ++batchesStarted);
    const SendingHeld together(sock);
    carryOnAutoHeaders();
}

void Pop3Session::stopAutoHeaders()
{
    // Replies to its commands in flight still fill their rows.
    autoBatch.clear();
}

bool Pop3Session::autoHeadersYield() const
{
    // What the user started goes first: its commands are not kept waiting
    // behind more of this batch's. Typed lines do not count: they neither
    // end nor carry on a batch.
    return DeleteConfirmed || headerBatch.isRunning() || capability == Capability::Asked ||
           inFlight.count(ssWaitRead) > 0 || inFlight.count(ssWaitList) > 0 || inFlight.count(ssWaitUser) > 0 ||
           inFlight.count(ssWaitPass) > 0 || inFlight.count(ssWaitGreeting) > 0 || inFlight.count(ssWaitStls) > 0;
}

void Pop3Session::sendAutoHeaders(int most)
{
    if (!autoBatch.hasRowsLeft() || autoHeadersYield())
        return;
    if (capability == Capability::Unknown && pipeliningAllowed && autoBatch.rowsLeft() >= 2) {
        // Sent again once the answer is in.
        askCapabilities();
        return;
    }
    const int window = batchWindow();
    SendBudget budget(most);
    while (autoBatch.inFlight() < window && budget.take()) {
        const std::optional<MailRowRef> next = autoBatch.takeNext();
        if (!next)
            break;
        fetchHeader(*next, autoBatch);
    }
}

void Pop3Session::carryOnAutoHeaders()
{
    if (!autoBatch.isRunning())
        return;
    sendAutoHeaders();
    // Its last replies were refusals, or its last rows got their headers
    // some other way: nothing else will end it.
    if (!autoBatch.hasRowsLeft() && autoBatch.inFlight() == 0) {
        autoBatch.clear();
        emit autoHeadersEnded();
    }
}

// --- pipelining ---

int Pop3Session::batchWindow() const
{
    return capability == Capability::Pipelines && pipeliningAllowed ? std::max(pipelineWindow, 1) : 1;
}

bool Pop3Session::waitForCapabilities(int batch, qsizetype rows)
{
    if (!pipeliningAllowed || rows < 2)
        return false;
    if (capability == Capability::Unknown)
        askCapabilities();
    if (capability != Capability::Asked)
        return false;
    waitingBatch = batch;
    return true;
}

void Pop3Session::askCapabilities()
{
    capability = Capability::Asked;
    emit consoleEntry(QStringLiteral("? CAPA"));
    startCommand({ssWaitCapa, "CAPA", ReplyShape::MultiLine, {}, QString(), false, 0}, "CAPA" + kCrLf);
}

void Pop3Session::capabilitiesKnown(bool pipelines)
{
    capability = pipelines ? Capability::Pipelines : Capability::OneAtATime;
    if (inFlight.isEmpty())
        SessionState = ssIdle;
    followQueue();
    const int waiting = std::exchange(waitingBatch, NoBatch);
    if (waiting == HeaderBatchWaits && headerBatch.isRunning())
        sendHeaders();
    if (waiting == DeleteBatchWaits && DeleteConfirmed) {
        sendDeletes();
        if (deleteBatch.inFlight() == 0)
            abandonDeleteBatch();
    }
}
