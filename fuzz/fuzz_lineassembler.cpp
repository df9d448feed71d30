// The reply path: bytes in arbitrary chunks through line assembly, then the
// dispatcher's parsers. However the bytes are cut, the lines must be the
// same as from one read, and the same as a plain split at CR, LF and CR LF.
//
// Input layout (FuzzedDataProvider): repeated (chunk length 0..64, chunk).

#include "FuzzCheck.h"
#include "session/LineAssembler.h"
#include "session/Pop3Parsing.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <cstddef>
#include <cstdint>

namespace {

// The lines completed in bytes, NUL bytes dropped; the rest is left unfinished.
QList<QByteArray> referenceLines(const QByteArray &bytes)
{
    QList<QByteArray> lines;
    QByteArray line;
    for (qsizetype i = 0; i < bytes.size(); ++i) {
        const char c = bytes.at(i);
        if (c == '\r' || c == '\n') {
            lines.append(line);
            line.clear();
            if (c == '\r' && i + 1 < bytes.size() && bytes.at(i + 1) == '\n')
                ++i;
        } else if (c != '\0') {
            line.append(c);
        }
    }
    return lines;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    FuzzedDataProvider provider(data, size);
    LineAssembler chunked;
    QList<QByteArray> lines;
    QByteArray all;
    while (provider.remaining_bytes() > 0) {
        const size_t length = provider.ConsumeIntegralInRange<size_t>(0, 64);
        const QByteArray chunk = fuzzBytes(provider.ConsumeBytesAsString(length));
        all += chunk;
        chunked.feed(chunk, lines);
    }

    LineAssembler whole;
    QList<QByteArray> once;
    whole.feed(all, once);
    FUZZ_CHECK(lines == once);
    FUZZ_CHECK(chunked.hasPartialLine() == whole.hasPartialLine());
    FUZZ_CHECK(lines == referenceLines(all));
    for (const QByteArray &line : lines)
        FUZZ_CHECK(!line.contains('\0') && !line.contains('\r') && !line.contains('\n'));

    const QList<ListingEntry> entries = ParseListing(lines);
    FUZZ_CHECK(entries.size() <= lines.size());
    const HeaderFields fields = ScanHeaders(lines);
    FUZZ_CHECK(fields.subject.isEmpty() || lines.contains("Subject: " + fields.subject));
    FUZZ_CHECK(fields.sender.isEmpty() || lines.contains("From: " + fields.sender));

    chunked.clear();
    FUZZ_CHECK(!chunked.hasPartialLine());
    return 0;
}
