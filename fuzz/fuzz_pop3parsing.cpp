// SPDX-License-Identifier: GPL-3.0-or-later
// ParseListing and ScanHeaders over arbitrary lines, as the reply
// dispatcher hands them over: split at LF, a CR before it dropped. The
// listing taken line by line (MailListing) holds ParseListing's entries,
// each number once, the first of each kept.

#include "FuzzCheck.h"
#include "session/MailListing.h"
#include "session/Pop3Parsing.h"

#include <QSet>

#include <cstddef>
#include <cstdint>

namespace {

bool isListingLine(const QByteArray &line)
{
    return !line.isEmpty() && line[0] >= '1' && line[0] <= '9';
}

bool someLineIs(const QList<QByteArray> &lines, const QByteArray &prefix, const QByteArray &value)
{
    for (const QByteArray &line : lines) {
        if (line.size() == prefix.size() + value.size() && line.startsWith(prefix) && line.endsWith(value))
            return true;
    }
    return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray input(reinterpret_cast<const char *>(data), static_cast<qsizetype>(size));
    QList<QByteArray> lines = input.split('\n');
    for (QByteArray &line : lines) {
        if (line.endsWith('\r'))
            line.chop(1);
    }

    const QList<ListingEntry> entries = ParseListing(lines);
    qsizetype expected = 0;
    for (const QByteArray &line : lines)
        expected += isListingLine(line) ? 1 : 0;
    FUZZ_CHECK(entries.size() == expected);
    qsizetype at = 0;
    for (const ListingEntry &entry : entries) {
        while (!isListingLine(lines.at(at)))
            ++at;
        const QByteArray &line = lines.at(at++);
        FUZZ_CHECK(line.startsWith(entry.number));
        FUZZ_CHECK(!entry.number.contains(' '));
        FUZZ_CHECK(entry.number.size() == line.size() || line.at(entry.number.size()) == ' ');
        FUZZ_CHECK(entry.size.size() <= 20);
        if (!entry.size.isEmpty()) {
            FUZZ_CHECK(static_cast<unsigned char>(entry.size.front()) > 32);
            FUZZ_CHECK(static_cast<unsigned char>(entry.size.back()) > 32);
            FUZZ_CHECK(line.contains(entry.size));
        }
    }

    QList<ListingEntry> once;
    QSet<QByteArray> seen;
    for (const ListingEntry &entry : entries) {
        if (!seen.contains(entry.number))
            once.append(entry);
        seen.insert(entry.number);
    }
    MailListing listing;
    qsizetype added = 0;
    for (const QByteArray &line : lines)
        added += listing.addLine(line) ? 1 : 0;
    const QList<ListingEntry> packed = listing.entryList();
    FUZZ_CHECK(added == once.size() && packed.size() == once.size());
    for (qsizetype i = 0; i < once.size(); ++i)
        FUZZ_CHECK(packed.at(i).number == once.at(i).number && packed.at(i).size == once.at(i).size);

    const HeaderFields fields = ScanHeaders(lines);
    FUZZ_CHECK(fields.subject.isEmpty() || someLineIs(lines, "Subject: ", fields.subject));
    FUZZ_CHECK(fields.sender.isEmpty() || someLineIs(lines, "From: ", fields.sender));
    FUZZ_CHECK(fields.recipient.isEmpty() || someLineIs(lines, "To: ", fields.recipient));
    return 0;
}
