// SPDX-License-Identifier: GPL-3.0-or-later
#include "session/MailListing.h"

#include <QHash>
#include <QHashFunctions>

#include <limits>

namespace {

constexpr size_t FirstTableSize = 1024;

}  // namespace

bool MailListing::addLine(QByteArrayView line)
{
    QByteArrayView number;
    QByteArrayView size;
    if (!parseListingLine(line, &number, &size))
        return false;
    // Offsets are kept in 32 bits; the reply bounds keep a listing far
    // below that.
    const qsizetype room = qsizetype(std::numeric_limits<std::uint32_t>::max()) - 1;
    if (packed.size() + number.size() + size.size() + 20 > room)
        return false;
    if ((size_t(entries) + 1) * 2 > table.size())
        grow();
    const size_t slot = slotOf(number, qHash(number, hashSeed));
    if (table[slot] != 0)
        return false;
    table[slot] = std::uint32_t(packed.size() + 1);
    appendText(number);
    appendText(size);
    ++entries;
    return true;
}

void MailListing::finish()
{
    table = {};
}

void MailListing::clear()
{
    packed = QByteArray();
    entries = 0;
    table = {};
}

QList<ListingEntry> MailListing::entryList() const
{
    QList<ListingEntry> list;
    list.reserve(entries);
    forEach([&list](QByteArrayView number, QByteArrayView size) {
        list.append({number.toByteArray(), size.toByteArray()});
    });
    return list;
}

QByteArrayView MailListing::textAt(qsizetype *at) const
{
    quint64 length = 0;
    int shift = 0;
    for (;;) {
        const auto byte = static_cast<unsigned char>(packed.at((*at)++));
        length |= quint64(byte & 0x7f) << shift;
        if (!(byte & 0x80))
            break;
        shift += 7;
    }
    const QByteArrayView text(packed.constData() + *at, qsizetype(length));
    *at += qsizetype(length);
    return text;
}

void MailListing::appendText(QByteArrayView text)
{
    auto length = quint64(text.size());
    do {
        char byte = char(length & 0x7f);
        length >>= 7;
        if (length != 0)
            byte = char(byte | 0x80);
        packed.append(byte);
    } while (length != 0);
    packed.append(text);
}

QByteArrayView MailListing::numberAt(qsizetype offset) const
{
    return textAt(&offset);
}

size_t MailListing::slotOf(QByteArrayView number, size_t hash) const
{
    const size_t mask = table.size() - 1;
    for (size_t slot = hash & mask;; slot = (slot + 1) & mask) {
        if (table[slot] == 0 || numberAt(qsizetype(table[slot]) - 1) == number)
            return slot;
    }
}

void MailListing::grow()
{
    // Also rebuilds the table after finish().
    if (table.empty())
        hashSeed = QHashSeed::globalSeed();
    size_t size = FirstTableSize;
    while (size < (size_t(entries) + 1) * 4)
        size *= 2;
    table.assign(size, 0);
    qsizetype at = 0;
    while (at < packed.size()) {
        const qsizetype entry = at;
        const QByteArrayView number = textAt(&at);
        textAt(&at);
        table[slotOf(number, qHash(number, hashSeed))] = std::uint32_t(entry + 1);
    }
}
