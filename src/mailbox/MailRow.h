#pragma once

#include <QByteArray>
#include <QtGlobal>

#include <array>

// One message of the mailbox list. The texts are the server's bytes, shown
// decoded but kept as they came so nothing is lost on the way.
struct MailRow {
    // Sub-item indices; column k of the list shows sub-item k - 1.
    enum SubItem { Id = 0, Subject = 1, From = 2, To = 3, Bytes = 4, SubItemCount = 5 };

    std::array<QByteArray, SubItemCount> texts;
    // Subject, From and To decoded (RFC 2047, unfolded), as UTF-8; shares
    // the bytes of `texts` where decoding changes nothing or where no decoded
    // form was given.
    std::array<QByteArray, 3> decoded;
    bool checked = false;

    // The text of a sub-item as the list shows it: the decoded header texts
    // when those are asked for, else the server's bytes.
    const QByteArray &shown(int subItem, bool decodedHeaders) const
    {
        if (decodedHeaders && subItem >= Subject && subItem <= To)
            return decoded[static_cast<size_t>(subItem - Subject)];
        return texts[static_cast<size_t>(subItem)];
    }
};

// Rows are moved in memory as a whole (QByteArray is relocatable), so a list
// of rows drops its first row without moving the others.
Q_DECLARE_TYPEINFO(MailRow, Q_RELOCATABLE_TYPE);
