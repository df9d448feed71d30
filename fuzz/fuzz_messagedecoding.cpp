// SPDX-License-Identifier: GPL-3.0-or-later
// The message decoder (DecodeMessage, HtmlToText) and the undecoded read
// view (ReadView) over messages of random MIME structure: never a crash, and
// time and memory bounded by the size of the message.
//
// Input layout (FuzzedDataProvider): one byte of flags (bit 0: the message
// was cut; bit 1: the rest is the message's bytes as they are, split at LF;
// bits 2 and 3 both set: a message of up to 6 MB, else of up to 256 KB),
// then, without bit 1, a program that builds the message line by line from a
// small MIME vocabulary: multipart headers with a few clashing boundaries,
// delimiters (closing or not, with blanks after them), text, base64 and
// quoted-printable lines (some broken), HTML, charsets known and unknown,
// RFC 2231 parameters, and repeats that make large messages from short
// inputs.

#include "FuzzCheck.h"
#include "session/HtmlText.h"
#include "session/MessageDecoding.h"
#include "session/ReadView.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <ctime>

namespace {

// Few boundaries, so that parts nest in each other and delimiters clash.
constexpr std::array<const char *, 6> Boundaries = {"b", "b1", "=_x", "b--", "a b", ""};
constexpr std::array<const char *, 7> Multiparts = {"mixed",  "alternative", "related", "digest",
                                                    "signed", "report",      "x-other"};
constexpr std::array<const char *, 9> Charsets = {
    "utf-8", "iso-8859-1", "windows-1252", "iso-2022-jp", "shift_jis", "unknown-8bit", "utf-16", "\"../../x\"", ""};
constexpr std::array<const char *, 7> Encodings = {"base64",     "quoted-printable", "7bit",  "8bit",
                                                   "x-uuencode", "BASE64",           "binary"};
constexpr std::array<const char *, 8> Leaves = {
    "application/pdf; name=\"a.pdf\"",
    "image/png; name*0*=utf-8''%C3%A4; name*1=\".png\"",
    "message/rfc822",
    "text/plain; name=\"=?utf-8?b?w6Q=?=\"",
    "text/calendar; method=REQUEST",
    "text",
    "/",
    "text/plain; charset=\"utf-8\" (comment (nested) \\) ) ; format=flowed",
};
constexpr std::array<const char *, 5> Dispositions = {"attachment; filename=\"x.pdf\"", "inline",
                                                      "attachment; filename*=utf-8''%E2%82%AC.txt",
                                                      "attachment; filename*0=\"a\"; filename*2=\"c\"", "attachment"};
constexpr std::array<const char *, 16> HtmlBits = {
    "<p>",     "</p>",     "<br>",     "<script>", "</script>", "<style>", "&amp;", "&#x1F600;",
    "&eacute", "<ul><li>", "<ol><li>", "<pre>",    "</pre>",    "<!--",    "-->",   "<a href='>'>"};
constexpr std::array<const char *, 6> HeaderLines = {"Subject: =?utf-8?q?Gr=C3=BC=C3=9Fe?=",
                                                     "From: =?iso-8859-1?B?6Q==?= <a@b>",
                                                     "To: a@b,",
                                                     "\tc@d",
                                                     "Date: Mon, 2 Mar 2026 10:00:00 +0000",
                                                     "Cc: x"};

template <size_t N> QByteArray pick(FuzzedDataProvider &data, const std::array<const char *, N> &words)
{
    return QByteArray(words[data.ConsumeIntegralInRange<size_t>(0, N - 1)]);
}

// A message of at most maxBytes (plus one line).
QList<QByteArray> buildMessage(FuzzedDataProvider &data, qsizetype maxBytes)
{
    QList<QByteArray> lines;
    qsizetype bytes = 0;
    while (data.remaining_bytes() > 0 && bytes < maxBytes) {
        bytes += lines.isEmpty() ? 0 : lines.last().size() + 2;
        switch (data.ConsumeIntegralInRange(0, 13)) {
        case 0:
            lines << "Content-Type: multipart/" + pick(data, Multiparts) + "; boundary=" +
                         (data.ConsumeBool() ? '"' + pick(data, Boundaries) + '"' : pick(data, Boundaries));
            break;
        case 1:
            lines << "Content-Type: text/" + QByteArray(data.ConsumeBool() ? "plain" : "html") +
                         "; charset=" + pick(data, Charsets);
            break;
        case 2:
            lines << "Content-Type: " + pick(data, Leaves);
            break;
        case 3:
            lines << "Content-Transfer-Encoding: " + pick(data, Encodings);
            break;
        case 4:
            lines << "Content-Disposition: " + pick(data, Dispositions);
            break;
        case 5:
            lines << QByteArray();
            break;
        case 6:
            lines << "--" + pick(data, Boundaries) + (data.ConsumeBool() ? "--" : "") +
                         QByteArray(data.ConsumeIntegralInRange(0, 2), ' ');
            break;
        case 7:
            lines << QByteArray::fromStdString(data.ConsumeRandomLengthString(100));
            break;
        case 8: {
            QByteArray line = QByteArray::fromStdString(data.ConsumeRandomLengthString(57)).toBase64();
            if (data.ConsumeBool() && !line.isEmpty())
                line[data.ConsumeIntegralInRange<qsizetype>(0, line.size() - 1)] = char(data.ConsumeIntegral<char>());
            lines << line;
            break;
        }
        case 9:
            lines
                << QByteArray::fromStdString(data.ConsumeRandomLengthString(40)).toPercentEncoding().replace('%', '=') +
                       (data.ConsumeBool() ? "=" : "");
            break;
        case 10: {
            QByteArray line;
            for (int i = data.ConsumeIntegralInRange(1, 8); i > 0; --i)
                line += pick(data, HtmlBits) + QByteArray::fromStdString(data.ConsumeRandomLengthString(8));
            lines << line;
            break;
        }
        case 11:
            lines << pick(data, HeaderLines);
            break;
        case 12: {
            // The last few lines again, many times.
            const qsizetype span = std::min<qsizetype>(lines.size(), data.ConsumeIntegralInRange(1, 8));
            const int times = data.ConsumeIntegralInRange(1, 4096);
            const QList<QByteArray> tail = lines.mid(lines.size() - span);
            qsizetype tailBytes = 0;
            for (const QByteArray &line : tail)
                tailBytes += line.size() + 2;
            for (int i = 0; i < times && bytes < maxBytes; ++i) {
                lines += tail;
                bytes += tailBytes;
            }
            // The last line is counted again at the top of the loop.
            bytes -= lines.isEmpty() ? 0 : lines.last().size() + 2;
            break;
        }
        default:
            // One long line.
            lines << QByteArray(data.ConsumeIntegralInRange(0, 1 << 16), data.ConsumeIntegral<char>());
            break;
        }
    }
    return lines;
}

qint64 sizeOf(const QList<QByteArray> &lines)
{
    qint64 size = 0;
    for (const QByteArray &line : lines)
        size += line.size() + 2;
    return size;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *bytes, size_t size)
{
    FuzzedDataProvider data(bytes, size);
    const uint8_t flags = data.ConsumeIntegral<uint8_t>();
    const bool cut = flags & 1;
    QList<QByteArray> lines;
    if (flags & 2) {
        const std::string rest = data.ConsumeRemainingBytesAsString();
        lines = QByteArray::fromStdString(rest).split('\n');
    } else {
        // Mostly small messages, which run fast; now and then one the size
        // of the largest a read fetches whole (5 MB).
        lines = buildMessage(data, (flags & 12) == 12 ? 6 * 1024 * 1024 : 256 * 1024);
    }
    const qint64 messageBytes = sizeOf(lines);

    // Processor time, so other work on the machine does not count.
    const auto cpuMs = [] { return qint64(std::clock()) * 1000 / CLOCKS_PER_SEC; };
    qint64 started = cpuMs();
    const QString text = DecodeMessage(lines, cut);
    const qint64 decodeMs = cpuMs() - started;
    static const bool trace = qEnvironmentVariableIsSet("FUZZ_MESSAGE_TRACE");
    if (trace)
        std::fprintf(stderr, "%lld lines, %lld bytes: decoded in %lld ms\n", static_cast<long long>(lines.size()),
                     static_cast<long long>(messageBytes), static_cast<long long>(decodeMs));
    // The text is bounded whatever the message; a note may follow the limit.
    FUZZ_CHECK(text.size() <= MessageDecoding::MaxTextLength + 200);
    FUZZ_CHECK(text.isEmpty() || text.endsWith(u'\n'));
    FUZZ_CHECK(!text.contains(QChar(0)));
    // Linear work: 2 MB/s, several times slower than this sanitizer build
    // decodes, and far below what a quadratic step over a message of this
    // size would take.
    const qint64 budgetMs = 200 + messageBytes / 2000;
    if (decodeMs > budgetMs) {
        std::fprintf(stderr, "decoding %lld bytes in %lld lines took %lld ms (budget %lld ms)\n",
                     static_cast<long long>(messageBytes), static_cast<long long>(lines.size()),
                     static_cast<long long>(decodeMs), static_cast<long long>(budgetMs));
        FUZZ_CHECK(decodeMs <= budgetMs);
    }

    // The undecoded view: a prefix of the message, the same when taken again.
    const QList<QByteArray> shown = ReadViewLines(lines, true);
    FUZZ_CHECK(shown.size() <= lines.size());
    FUZZ_CHECK(std::equal(shown.begin(), shown.end(), lines.begin()));
    FUZZ_CHECK(ReadViewLines(shown, false) == shown);
    // A TOP reply that says it holds the whole message does.
    const QList<QByteArray> top = TopLines(lines, ReadBodyLines);
    if (TopReplyIsWhole(top))
        FUZZ_CHECK(top == lines);

    // The message's bytes taken for HTML.
    const QString html = QString::fromUtf8(lines.join('\n'));
    started = cpuMs();
    const QString plain = HtmlToText(html);
    // A list item's indent and number cost a few characters per tag.
    FUZZ_CHECK(plain.size() <= 8 * html.size() + 16);
    FUZZ_CHECK(cpuMs() - started <= 200 + html.size() / 2000);
    return 0;
}
