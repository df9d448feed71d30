// SPDX-License-Identifier: GPL-3.0-or-later
#include "session/RowBatch.h"

void RowBatch::start(const QList<MailRowRef> &list, bool checked, quint64 number)
{
    clear();
    byCheck = checked;
    batchNumber = number;
    waiting.reserve(list.size());
    for (const MailRowRef &row : list) {
        // Never a command without a number, and a message once.
        if (row.id.isEmpty() || waiting.contains(row.id))
            continue;
        waiting.insert(row.id);
        rows.push_back(row);
    }
    running = !rows.empty();
}

void RowBatch::clear()
{
    rows.clear();
    waiting.clear();
    running = false;
    unanswered = 0;
}

void RowBatch::withdraw(const QByteArray &id)
{
    if (byCheck)
        waiting.remove(id);
}

std::optional<MailRowRef> RowBatch::takeNext()
{
    while (!rows.empty()) {
        MailRowRef next = std::move(rows.front());
        rows.pop_front();
        if (waiting.remove(next.id))
            return next;
    }
    return std::nullopt;
}
