// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "session/Pop3Parsing.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QList>

#include <cstdint>
#include <vector>

// The entries of a LIST reply, taken line by line as they arrive: each
// message number once (a server that lists a number twice gets one row for
// it), in the order of the lines. A listing may hold millions of entries, so
// they are packed into one array (an entry costs its bytes and two or more
// of length) rather than kept as two texts each, and the numbers already
// listed are found through a table of positions in that array.
class MailListing {
public:
    // Takes one line of the reply (without its break): false when it gives
    // no entry (ParseListing's rule) or repeats a number already listed.
    bool addLine(QByteArrayView line);
    qsizetype count() const { return entries; }
    bool isEmpty() const { return entries == 0; }
    // The bytes the entries hold, lengths included.
    qsizetype packedBytes() const { return packed.size(); }
    // The table of numbers is only needed while lines come: this frees it
    // (a line added after builds it again).
    void finish();
    void clear();

    // Calls visit(number, size) for each entry in order. The views are valid
    // while the listing is unchanged.
    template <typename Visit> void forEach(Visit visit) const
    {
        qsizetype at = 0;
        while (at < packed.size()) {
            const QByteArrayView number = textAt(&at);
            const QByteArrayView size = textAt(&at);
            visit(number, size);
        }
    }
    // The entries as a list of texts (for small listings: tests, tools).
    QList<ListingEntry> entryList() const;

private:
    // The text whose length is at *at; *at moves past the text.
    QByteArrayView textAt(qsizetype *at) const;
    void appendText(QByteArrayView text);
    // The number of the entry that starts at offset.
    QByteArrayView numberAt(qsizetype offset) const;
    // The slot of number in the table: the one holding it, or the empty
    // one where it would go.
    size_t slotOf(QByteArrayView number, size_t hash) const;
    void grow();

    // Per entry: the number's length (7 bits a byte, low bits first, the
    // high bit set on all but the last byte), the number, the same for the
    // size, the size.
    QByteArray packed;
    qsizetype entries = 0;
    // Open addressing, at most half full: the offset of an entry in packed
    // plus one, 0 for an empty slot. A listing is bounded far below 4 GiB.
    std::vector<std::uint32_t> table;
    size_t hashSeed = 0;
};
