// SPDX-License-Identifier: GPL-3.0-or-later
#include "session/CommandQueue.h"

#include <algorithm>
#include <utility>

void CommandQueue::push(PendingCommand command)
{
    note(command, +1);
    entries.push_back(std::move(command));
}

PendingCommand CommandQueue::take()
{
    if (entries.empty())
        return {};
    PendingCommand done = std::move(entries.front());
    entries.pop_front();
    note(done, -1);
    return done;
}

void CommandQueue::clear()
{
    entries.clear();
    std::fill(std::begin(awaiting), std::end(awaiting), 0);
}

void CommandQueue::setFrontAwaited(std::uint8_t awaited)
{
    if (entries.empty())
        return;
    note(entries.front(), -1);
    entries.front().awaited = awaited;
    note(entries.front(), +1);
}

void CommandQueue::discardAll()
{
    for (PendingCommand &command : entries) {
        note(command, -1);
        command.awaited = ssWaitTyped;
        command.verb.clear();
        command.target = {};
        command.status.clear();
        command.announced = true;
        command.batch = 0;
        command.keepMark = false;
        note(command, +1);
    }
}

void CommandQueue::note(const PendingCommand &command, int change)
{
    awaiting[command.awaited] += change;
}

QByteArray typedVerb(const QByteArray &line)
{
    // A server skips no blanks before the verb, but one that did would
    // answer as for the verb; one that does not answers "-ERR", one line.
    const QByteArray words = line.trimmed();
    const qsizetype end = words.indexOf(' ');
    return (end < 0 ? words : words.left(end)).toUpper();
}

ReplyShape typedReplyShape(const QByteArray &line)
{
    const QByteArray words = line.trimmed();
    const qsizetype end = words.indexOf(' ');
    const QByteArray verb = typedVerb(words);
    const bool argument = end >= 0 && !words.mid(end + 1).trimmed().isEmpty();
    if (verb == "RETR" || verb == "TOP" || verb == "CAPA")
        return ReplyShape::MultiLine;
    if ((verb == "LIST" || verb == "UIDL") && !argument)
        return ReplyShape::MultiLine;
    return ReplyShape::StatusLine;
}
