// SPDX-License-Identifier: GPL-3.0-or-later
// The reply path: bytes in arbitrary chunks through line assembly, then the
// dispatcher's parsers. However the bytes are cut, the lines must be the
// same as from one read, and the same as a plain split that ends lines only
// at CR LF or LF: a lone CR and NUL stay in their line. With a small line
// limit, the lines before the overflow are the same ones and none is longer.
//
// Input layout (FuzzedDataProvider): a line limit (1..64), then repeated
// (chunk length 0..64, chunk).

#include "FuzzCheck.h"
#include "session/LineAssembler.h"
#include "session/Pop3Parsing.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <cstddef>
#include <cstdint>

namespace {

// The lines completed in bytes; the rest is left unfinished.
QList<QByteArray> referenceLines(const QByteArray &bytes)
{
    QList<QByteArray> lines;
    QByteArray line;
    for (qsizetype i = 0; i < bytes.size(); ++i) {
        const char c = bytes.at(i);
        if (c == '\r' && i + 1 < bytes.size() && bytes.at(i + 1) == '\n')
            continue;  // the CR of a CR LF
        if (c == '\n') {
            lines.append(line);
            line.clear();
        } else {
            line.append(c);
        }
    }
    return lines;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    FuzzedDataProvider provider(data, size);
    const qsizetype limit = provider.ConsumeIntegralInRange<qsizetype>(1, 64);
    LineAssembler chunked;
    LineAssembler limited;
    limited.setMaxLineLength(limit);
    QList<QByteArray> lines;
    QList<QByteArray> limitedLines;
    QByteArray all;
    while (provider.remaining_bytes() > 0) {
        const size_t length = provider.ConsumeIntegralInRange<size_t>(0, 64);
        const QByteArray chunk = fuzzBytes(provider.ConsumeBytesAsString(length));
        all += chunk;
        chunked.feed(chunk, lines);
        limited.feed(chunk, limitedLines);
    }

    LineAssembler whole;
    QList<QByteArray> once;
    whole.feed(all, once);
    FUZZ_CHECK(lines == once);
    FUZZ_CHECK(chunked.hasPartialLine() == whole.hasPartialLine());
    const QList<QByteArray> reference = referenceLines(all);
    FUZZ_CHECK(lines == reference);
    for (const QByteArray &line : lines)
        FUZZ_CHECK(!line.contains('\n'));
    FUZZ_CHECK(limitedLines == reference.mid(0, limitedLines.size()));
    for (const QByteArray &line : limitedLines)
        FUZZ_CHECK(line.size() <= limit);
    if (!limited.overflowed())
        FUZZ_CHECK(limitedLines == reference);

    const QList<ListingEntry> entries = ParseListing(lines);
    FUZZ_CHECK(entries.size() <= lines.size());
    const HeaderFields fields = ScanHeaders(lines);
    FUZZ_CHECK(fields.subject.isEmpty() || lines.contains("Subject: " + fields.subject));
    FUZZ_CHECK(fields.sender.isEmpty() || lines.contains("From: " + fields.sender));

    chunked.clear();
    FUZZ_CHECK(!chunked.hasPartialLine());
    return 0;
}
