// SPDX-License-Identifier: GPL-3.0-or-later
#include "session/Pop3Parsing.h"

#include <algorithm>

namespace {

// The size field is looked for within this many bytes after the number and
// its blank; a longer run without a blank gives no size.
constexpr qsizetype SizeWindow = 20;

}  // namespace

QByteArrayView trimmedLow(QByteArrayView text)
{
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && static_cast<unsigned char>(text[begin]) <= 32)
        ++begin;
    while (end > begin && static_cast<unsigned char>(text[end - 1]) <= 32)
        --end;
    return text.sliced(begin, end - begin);
}

QByteArray trimmedLow(const QByteArray &text)
{
    // A null array has no bytes to point into.
    const QByteArrayView trimmed = trimmedLow(QByteArrayView(text));
    return text.mid(text.isNull() ? 0 : trimmed.data() - text.constData(), trimmed.size());
}

bool parseListingLine(QByteArrayView line, QByteArrayView *number, QByteArrayView *size)
{
    if (line.isEmpty() || line[0] < '1' || line[0] > '9')
        return false;
    // Read as if one blank were added at the end: the first blank always
    // exists, so a line holding the number alone still yields it whole.
    const qsizetype blank = line.indexOf(' ');
    const qsizetype numberEnd = blank < 0 ? line.size() : blank;
    *number = line.first(numberEnd);
    *size = QByteArrayView();
    if (numberEnd == line.size())
        return true;
    // The size is looked for in the window after the number and its blank;
    // the added blank ends it when the line ends inside the window.
    const qsizetype start = numberEnd + 1;
    const qsizetype windowEnd = std::min(start + SizeWindow, line.size());
    const qsizetype sizeEnd = line.sliced(start, windowEnd - start).indexOf(' ');
    if (sizeEnd >= 0)
        *size = trimmedLow(line.sliced(start, sizeEnd));
    else if (line.size() < start + SizeWindow)
        *size = trimmedLow(line.sliced(start));
    return true;
}

QList<ListingEntry> ParseListing(const QList<QByteArray> &lines)
{
    QList<ListingEntry> entries;
    entries.reserve(lines.size());
    for (const QByteArray &line : lines) {
        QByteArrayView number;
        QByteArrayView size;
        if (parseListingLine(line, &number, &size))
            entries.append({number.toByteArray(), size.toByteArray()});
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
