// SPDX-License-Identifier: GPL-3.0-or-later
#include "session/HeaderDecoding.h"

#include "base/HexDigit.h"
#include "base/WireText.h"

#include <QStringDecoder>

#include <algorithm>
#include <array>
#include <memory>
#include <string_view>
#include <utility>
#include <vector>

namespace {

bool isBlank(char c)
{
    return c == ' ' || c == '\t';
}

// A character of an RFC 2047 token: printable ASCII except the blank and the
// especials.
bool isTokenChar(char c)
{
    const auto u = static_cast<uchar>(c);
    if (u <= 32 || u >= 127)
        return false;
    static constexpr std::string_view especials = "()<>@,;:\"/[]?.=";
    return especials.find(c) == std::string_view::npos;
}

bool isBase64Char(char c)
{
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '+' || c == '/';
}

// The bytes of B encoded text; false when it is not base64. Missing padding
// is forgiven (common in real mail); a stray character or a length that no
// base64 can have is not.
bool decodeB(QByteArrayView text, QByteArray *bytes)
{
    qsizetype end = text.size();
    qsizetype padding = 0;
    while (end > 0 && text[end - 1] == '=' && padding < 2) {
        --end;
        ++padding;
    }
    for (qsizetype i = 0; i < end; ++i) {
        if (!isBase64Char(text[i]))
            return false;
    }
    if (end % 4 == 1 || (padding > 0 && (end + padding) % 4 != 0))
        return false;
    const auto result = QByteArray::fromBase64Encoding(
        text.first(end).toByteArray(), QByteArray::Base64Encoding | QByteArray::AbortOnBase64DecodingErrors);
    if (!result)
        return false;
    *bytes = *result;
    return true;
}

// The bytes of Q encoded text: "_" is a blank, "=XX" a byte in hex; false
// for an "=" without two hex digits.
bool decodeQ(QByteArrayView text, QByteArray *bytes)
{
    bytes->clear();
    bytes->reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '_') {
            bytes->append(' ');
        } else if (c == '=') {
            if (i + 2 >= text.size())
                return false;
            const int high = hexDigitValue(text[i + 1]);
            const int low = hexDigitValue(text[i + 2]);
            if (high < 0 || low < 0)
                return false;
            bytes->append(static_cast<char>(high * 16 + low));
            i += 2;
        } else {
            bytes->append(c);
        }
    }
    return true;
}

// One encoded word "=?charset?X?text?=" found at a position of a value.
struct EncodedWord {
    qsizetype end = 0;   // just after its "?="
    QByteArray charset;  // lower case, without a language suffix
    QByteArray bytes;    // the text with the B or Q encoding undone
};

// Reads the word that begins at `at` (where "=?" stands). Every scan stops at
// the next '?', so trying each "=?" of a value costs linear time in all.
bool readEncodedWord(QByteArrayView value, qsizetype at, EncodedWord *word)
{
    const qsizetype n = value.size();
    qsizetype p = at + 2;
    const qsizetype charsetStart = p;
    while (p < n && isTokenChar(value[p]))
        ++p;
    if (p == charsetStart || p >= n || value[p] != '?')
        return false;
    QByteArrayView charset = value.sliced(charsetStart, p - charsetStart);
    // RFC 2231: "charset*language".
    if (const qsizetype star = charset.indexOf('*'); star >= 0)
        charset = charset.first(star);
    if (charset.isEmpty())
        return false;
    ++p;
    if (p + 1 >= n || value[p + 1] != '?')
        return false;
    const char encoding = value[p];
    p += 2;
    const qsizetype textStart = p;
    while (p < n && value[p] != '?' && static_cast<uchar>(value[p]) > 32 && static_cast<uchar>(value[p]) < 127)
        ++p;
    if (p + 1 >= n || value[p] != '?' || value[p + 1] != '=')
        return false;
    const QByteArrayView text = value.sliced(textStart, p - textStart);
    bool ok = false;
    if (encoding == 'B' || encoding == 'b')
        ok = decodeB(text, &word->bytes);
    else if (encoding == 'Q' || encoding == 'q')
        ok = decodeQ(text, &word->bytes);
    if (!ok)
        return false;
    word->charset = charset.toByteArray().toLower();
    word->end = p + 2;
    return true;
}

// Decoders by charset name, made once per value: a header of many words in
// one charset asks Qt (and ICU) for it once.
class DecoderCache {
public:
    // Null when Qt knows no such charset.
    QStringDecoder *find(const QByteArray &charset)
    {
        for (auto &entry : entries) {
            if (entry.first == charset)
                return entry.second ? entry.second.get() : nullptr;
        }
        auto decoder = std::make_unique<QStringDecoder>(charset.constData(), QStringConverter::Flag::Stateless);
        if (!decoder->isValid())
            decoder.reset();
        // A hostile header may name thousands of charsets: only the first few
        // are kept, the others are looked up each time.
        if (entries.size() >= MaxEntries) {
            spare = std::move(decoder);
            return spare.get();
        }
        entries.emplace_back(charset, std::move(decoder));
        return entries.back().second.get();
    }

private:
    static constexpr size_t MaxEntries = 8;
    std::vector<std::pair<QByteArray, std::unique_ptr<QStringDecoder>>> entries;
    std::unique_ptr<QStringDecoder> spare;
};

// Builds the decoded value: runs of adjacent encoded words of one charset are
// decoded together; the blanks between two decoded runs go. Bytes outside
// encoded words are read as wire text (UTF-8 where valid, else Latin-1).
class ValueDecoder {
public:
    explicit ValueDecoder(QByteArrayView value) : value(value) {}

    QString run()
    {
        const qsizetype n = value.size();
        qsizetype plainStart = 0;  // first byte not yet taken into the output
        qsizetype at = 0;
        EncodedWord word;
        while (at < n) {
            const qsizetype start = value.indexOf(QByteArrayView("=?", 2), at);
            if (start < 0)
                break;
            if (!readEncodedWord(value, start, &word)) {
                at = start + 2;
                continue;
            }
            const QByteArrayView gap = value.sliced(plainStart, start - plainStart);
            const bool onlyBlanks = std::all_of(gap.begin(), gap.end(), isBlank);
            if (running && onlyBlanks && word.charset == charset) {
                bytes.append(word.bytes);
                spanEnd = word.end;
            } else {
                const bool afterWord = running;
                flush();
                if (afterWord && onlyBlanks) {
                    gapStart = plainStart;
                    gapEnd = start;
                } else {
                    out.append(decodeWireText(gap));
                }
                running = true;
                charset = word.charset;
                bytes = word.bytes;
                spanStart = start;
                spanEnd = word.end;
            }
            plainStart = at = word.end;
        }
        flush();
        out.append(decodeWireText(value.sliced(plainStart)));
        return out;
    }

private:
    // Ends the run of words being gathered.
    void flush()
    {
        if (!running)
            return;
        QString text;
        bool ok = false;
        if (QStringDecoder *decoder = decoders.find(charset)) {
            decoder->resetState();
            text = decoder->decode(bytes);
            ok = !decoder->hasError();
        }
        // The blanks before this run go only when the words on both sides
        // were decoded.
        if (gapStart >= 0 && !(ok && previousOk))
            out.append(decodeWireText(value.sliced(gapStart, gapEnd - gapStart)));
        gapStart = gapEnd = -1;
        out.append(ok ? text : decodeWireText(value.sliced(spanStart, spanEnd - spanStart)));
        previousOk = ok;
        running = false;
    }

    QByteArrayView value;
    QString out;
    DecoderCache decoders;
    bool running = false;
    bool previousOk = false;
    QByteArray charset;
    QByteArray bytes;
    qsizetype spanStart = 0;
    qsizetype spanEnd = 0;
    qsizetype gapStart = -1;
    qsizetype gapEnd = -1;
};

// Controls (a tab from folding, a line break from "=0A") show as blanks in a
// one-line field; the blanks at either end go.
QString tidied(QString text)
{
    for (QChar &c : text) {
        if (c.unicode() < 0x20 || c.unicode() == 0x7f)
            c = QLatin1Char(' ');
    }
    return text.trimmed();
}

enum Field { SubjectField, FromField, ToField, FieldCount, NoField = -1 };

// Which field a header line starts, by its name (the text before the colon,
// blanks before the colon allowed); field names do not depend on case.
Field fieldOf(const QByteArray &line, qsizetype *valueStart)
{
    qsizetype p = 0;
    while (p < line.size() && line[p] != ':' && static_cast<uchar>(line[p]) > 32 && static_cast<uchar>(line[p]) < 127)
        ++p;
    const qsizetype nameEnd = p;
    while (p < line.size() && isBlank(line[p]))
        ++p;
    if (nameEnd == 0 || p >= line.size() || line[p] != ':')
        return NoField;
    *valueStart = p + 1;
    const QByteArrayView name(line.constData(), nameEnd);
    if (name.compare("Subject", Qt::CaseInsensitive) == 0)
        return SubjectField;
    if (name.compare("From", Qt::CaseInsensitive) == 0)
        return FromField;
    if (name.compare("To", Qt::CaseInsensitive) == 0)
        return ToField;
    return NoField;
}

}  // namespace

QString DecodeHeaderValue(QByteArrayView value)
{
    return tidied(ValueDecoder(value).run());
}

DecodedHeaders DecodeHeaders(const QList<QByteArray> &lines)
{
    std::array<QByteArray, FieldCount> values;
    std::array<bool, FieldCount> found{};
    Field current = NoField;
    for (const QByteArray &line : lines) {
        // The header section ends at the first empty line; a stray CR before
        // its line break (CR CR LF) leaves it empty all the same.
        if (std::all_of(line.begin(), line.end(), [](char c) { return c == '\r'; }))
            break;
        if (isBlank(line[0])) {
            // A continuation line: unfolding takes away only the line break.
            if (current != NoField)
                values[current].append(line);
            continue;
        }
        current = NoField;
        qsizetype valueStart = 0;
        const Field field = fieldOf(line, &valueStart);
        if (field == NoField || found[field])
            continue;
        found[field] = true;
        current = field;
        values[field] = line.mid(valueStart);
    }
    return {DecodeHeaderValue(values[SubjectField]), DecodeHeaderValue(values[FromField]),
            DecodeHeaderValue(values[ToField])};
}
