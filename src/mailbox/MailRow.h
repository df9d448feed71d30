// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QtGlobal>

#include <algorithm>
#include <array>

// One message of the mailbox list. The texts are the server's bytes, shown
// decoded but kept as they came so nothing is lost on the way.
struct MailRow {
    // Sub-item indices; column k of the list shows sub-item k - 1.
    enum SubItem { Id = 0, Subject = 1, From = 2, To = 3, Bytes = 4, SubItemCount = 5 };

    std::array<QByteArray, SubItemCount> texts;
    // Subject, From and To decoded (RFC 2047, unfolded) as UTF-8, in one
    // array, each ended by a NUL byte (joinDecoded); empty where decoding
    // changes none of them. A row so costs one array more, not three.
    QByteArray decoded;
    bool checked = false;
    // Whether a header came for the row (its texts may still be empty).
    bool headed = false;
    // The server deleted its message; the row leaves the list with the
    // others deleted in the same read.
    bool deleted = false;

    // The three decoded texts as `decoded` keeps them; a NUL byte inside one
    // becomes a blank (a one-line text shows none anyway).
    static QByteArray joinDecoded(const QByteArray &subject, const QByteArray &from, const QByteArray &to)
    {
        QByteArray joined;
        joined.reserve(subject.size() + from.size() + to.size() + 3);
        for (const QByteArray *text : {&subject, &from, &to}) {
            const qsizetype start = joined.size();
            joined.append(*text);
            std::replace(joined.begin() + start, joined.end(), '\0', ' ');
            joined.append('\0');
        }
        return joined;
    }

    // The text of a sub-item as the list shows it: the decoded header texts
    // when those are asked for, else the server's bytes.
    QByteArrayView shown(int subItem, bool decodedHeaders) const
    {
        if (!decodedHeaders || decoded.isEmpty() || subItem < Subject || subItem > To)
            return texts[static_cast<size_t>(subItem)];
        QByteArrayView rest(decoded);
        for (int skip = subItem - Subject; skip > 0; --skip)
            rest = rest.sliced(rest.indexOf('\0') + 1);
        return rest.first(rest.indexOf('\0'));
    }
};

// Rows are moved in memory as a whole (QByteArray is relocatable), so a list
// of rows drops its first row without moving the others.
Q_DECLARE_TYPEINFO(MailRow, Q_RELOCATABLE_TYPE);
