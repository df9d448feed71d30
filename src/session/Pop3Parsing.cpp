// SPDX-License-Identifier: GPL-3.0-or-later
#include "session/Pop3Parsing.h"

#include <algorithm>

namespace {

// The size field is looked for within this many bytes after the number and
// its blank; a longer run without a blank gives no size.
constexpr qsizetype SizeWindow = 20;

}  // namespace

QByteArray trimmedLow(const QByteArray &text)
{
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && static_cast<unsigned char>(text[begin]) <= 32)
        ++begin;
    while (end > begin && static_cast<unsigned char>(text[end - 1]) <= 32)
        --end;
    return text.mid(begin, end - begin);
}

QList<ListingEntry> ParseListing(const QList<QByteArray> &lines)
{
    QList<ListingEntry> entries;
    entries.reserve(lines.size());
    for (const QByteArray &line : lines) {
        if (line.isEmpty() || line[0] < '1' || line[0] > '9')
            continue;
        // The blank added at the end makes the first blank always exist, so
        // a line holding the number alone still yields it whole.
        const QByteArray padded = line + ' ';
        const qsizetype numberEnd = padded.indexOf(' ');
        ListingEntry entry;
        entry.number = padded.left(numberEnd);
        const QByteArray window = padded.mid(numberEnd + 1, SizeWindow);
        const qsizetype sizeEnd = window.indexOf(' ');
        if (sizeEnd >= 0)
            entry.size = trimmedLow(window.left(sizeEnd));
        entries.append(entry);
    }
    return entries;
}

HeaderFields ScanHeaders(const QList<QByteArray> &lines)
{
    static const QByteArray subjectPrefix("Subject: ");
    static const QByteArray fromPrefix("From: ");
    static const QByteArray toPrefix("To: ");

    HeaderFields fields;
    for (const QByteArray &line : lines) {
        if (line.startsWith(subjectPrefix))
            fields.subject = line.mid(subjectPrefix.size());
        else if (line.startsWith(fromPrefix))
            fields.sender = line.mid(fromPrefix.size());
        else if (line.startsWith(toPrefix))
            fields.recipient = line.mid(toPrefix.size());
    }
    return fields;
}

bool listsCapability(const QList<QByteArray> &lines, QByteArrayView name)
{
    return std::any_of(lines.cbegin(), lines.cend(), [name](const QByteArray &line) {
        const QByteArray word = trimmedLow(line).split(' ').value(0);
        return word.compare(name, Qt::CaseInsensitive) == 0;
    });
}
