// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "session/SessionState.h"

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <deque>

// A row of the mailbox list a command acts on, by its message number, which
// names the same message for the whole connection: the window finds the row
// by it, however the list was sorted or shrunk since. No model index is
// kept per command, which every removal and sort would have to move.
struct MailRowRef {
    QByteArray id;
};

// What a reply is made of: one status line, or a status line that on "+"
// is followed by lines up to the end marker.
enum class ReplyShape : std::uint8_t { StatusLine, MultiLine };

// One command sent and not yet answered.
struct PendingCommand {
    // The state its reply is judged in.
    std::uint8_t awaited = ssIdle;
    // The command's word as sent ("TOP", "DELE", or what the user typed).
    QByteArray verb;
    ReplyShape shape = ReplyShape::StatusLine;
    // The row it acts on; none (an empty id) for most commands.
    MailRowRef target;
    // The status text while its reply is the one awaited.
    QString status;
    bool announced = false;
    // The batch it was sent for (RowBatch::number); 0 for none.
    quint64 batch = 0;
    // A TOP of the automatic header batch: its reply leaves the row's mark
    // alone, also once the batch was stopped.
    bool keepMark = false;
};

// The reply order: every command in flight, oldest first. A server answers
// in the order it was asked, so the oldest entry owns the next reply,
// whoever sent the command (a button, a batch, a line typed on the console).
class CommandQueue {
public:
    bool isEmpty() const { return entries.empty(); }
    qsizetype size() const { return qsizetype(entries.size()); }
    PendingCommand &front() { return entries.front(); }
    const PendingCommand &front() const { return entries.front(); }
    const std::deque<PendingCommand> &all() const { return entries; }

    void push(PendingCommand command);
    // The oldest command leaves the queue; an empty entry when none was in
    // flight.
    PendingCommand take();
    void clear();
    // The oldest command's reply is to be judged in another state.
    void setFrontAwaited(std::uint8_t awaited);
    // Every command in flight is acted on no more: each reply is still
    // taken in its turn (by its shape) and only shown, as that to a typed
    // line.
    void discardAll();
    // How many commands in flight await a state.
    int count(std::uint8_t awaited) const { return awaiting[awaited]; }

private:
    void note(const PendingCommand &command, int change);

    std::deque<PendingCommand> entries;
    int awaiting[ssStateCount] = {};
};

// The verb of a line typed on the console: its first word, in capitals.
QByteArray typedVerb(const QByteArray &line);

// The shape of the reply to a line typed on the console, from its verb
// (the first word, any case): a listing for LIST and UIDL without an
// argument, a message for RETR and TOP, the capabilities for CAPA; one
// status line for everything else, unknown words included.
ReplyShape typedReplyShape(const QByteArray &line);
