// SPDX-License-Identifier: GPL-3.0-or-later
#include "session/LineAssembler.h"

#include <cstring>

void LineAssembler::feed(const QByteArray &bytes, QList<QByteArray> &lines)
{
    if (overflow)
        return;
    const char *data = bytes.constData();
    const qsizetype size = bytes.size();
    qsizetype start = 0;
    while (start < size) {
        const void *found = std::memchr(data + start, '\n', size_t(size - start));
        if (!found)
            break;
        const qsizetype end = static_cast<const char *>(found) - data;
        QByteArray line;
        if (partial.isEmpty()) {
            line = QByteArray(data + start, end - start);
        } else {
            partial.append(data + start, end - start);
            line.swap(partial);
        }
        // The CR of a CR LF may have come in the read before its LF.
        if (line.endsWith('\r'))
            line.chop(1);
        if (line.size() > limit) {
            overflow = true;
            partial.clear();
            return;
        }
        lines.append(std::move(line));
        start = end + 1;
    }
    if (start < size) {
        // One byte of room for the CR of a CR LF whose LF is still to come.
        if (partial.size() + (size - start) > limit + 1) {
            overflow = true;
            partial.clear();
            return;
        }
        partial.append(data + start, size - start);
    }
}

void LineAssembler::clear()
{
    partial.clear();
    overflow = false;
}
