// SPDX-License-Identifier: GPL-3.0-or-later
#include "session/ReadView.h"

#include <algorithm>

QList<QByteArray> TopLines(const QList<QByteArray> &lines, int bodyLines)
{
    // The header ends at a line that is empty as received; a line holding a
    // lone CR is data, as it is for the server.
    const auto blank =
        std::find_if(lines.cbegin(), lines.cend(), [](const QByteArray &line) { return line.isEmpty(); });
    if (blank == lines.cend())
        return lines;
    const qsizetype headerLines = blank - lines.cbegin() + 1;
    const qsizetype kept = headerLines + std::min<qsizetype>(std::max(bodyLines, 0), lines.size() - headerLines);
    return lines.first(kept);
}

QList<QByteArray> AttachmentFiltered(const QList<QByteArray> &lines)
{
    // The read's filter keeps each line before it looks at it, so the line
    // that repeats the boundary is the last one kept.
    QByteArray boundary;
    for (qsizetype i = 0; i < lines.size(); ++i) {
        const QByteArray &line = lines.at(i);
        if (boundary.isEmpty()) {
            if (line.startsWith("--"))
                boundary = line;
        } else if (line == boundary) {
            return lines.first(i + 1);
        }
    }
    return lines;
}

bool TopReplyIsWhole(const QList<QByteArray> &lines)
{
    const auto blank =
        std::find_if(lines.cbegin(), lines.cend(), [](const QByteArray &line) { return line.isEmpty(); });
    if (blank != lines.cend() && lines.cend() - blank - 1 >= ReadBodyLines)
        return false;
    // The filter keeps the repeated boundary as the last line.
    const auto boundary =
        std::find_if(lines.cbegin(), lines.cend(), [](const QByteArray &line) { return line.startsWith("--"); });
    return boundary == lines.cend() || boundary == lines.cend() - 1 || lines.last() != *boundary;
}

QList<QByteArray> ReadViewLines(const QList<QByteArray> &lines, bool whole)
{
    return AttachmentFiltered(whole ? TopLines(lines, ReadBodyLines) : lines);
}
