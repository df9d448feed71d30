// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QList>

// Parsers for the multi-line replies of LIST and TOP. They work on the raw
// bytes of the lines (without CR LF) and never convert anything to a number:
// the mailbox list shows the texts exactly as the server sent them.

// One usable line of a LIST reply.
struct ListingEntry {
    QByteArray number;
    QByteArray size;
};

// The header texts a TOP reply gives; each empty when no line gave it.
struct HeaderFields {
    QByteArray subject;
    QByteArray sender;
    QByteArray recipient;
};

// One entry per line that begins with a digit 1 to 9, in line order.
QList<ListingEntry> ParseListing(const QList<QByteArray> &lines);

// One line of a LIST reply: whether it gives an entry, and if so its number
// and size as parts of the line (the size trimmed), as ParseListing takes
// them.
bool parseListingLine(QByteArrayView line, QByteArrayView *number, QByteArrayView *size);

// The last "Subject: ", "From: " and "To: " lines win; case-sensitive, the
// blank after the colon included, no unfolding, no decoding.
HeaderFields ScanHeaders(const QList<QByteArray> &lines);

// Whether the lines of a CAPA reply list a capability: a line whose first
// word is that name, in any case.
bool listsCapability(const QList<QByteArray> &lines, QByteArrayView name);

// The text without its leading and trailing bytes of code 32 or lower
// (blanks and control characters such as a stray CR).
QByteArray trimmedLow(const QByteArray &text);
QByteArrayView trimmedLow(QByteArrayView text);
