// SPDX-License-Identifier: GPL-3.0-or-later
#include "session/MessageDecoding.h"

#include "base/HexDigit.h"
#include "base/WireText.h"
#include "session/HeaderDecoding.h"
#include "session/HtmlText.h"

#include <QLocale>
#include <QStringDecoder>

#include <algorithm>
#include <array>
#include <initializer_list>
#include <string_view>

using namespace MessageDecoding;

namespace {

using Lines = QList<QByteArray>;

// Lines [begin, end) of the message.
struct Range {
    qsizetype begin = 0;
    qsizetype end = 0;
};

bool isBlank(char c)
{
    return c == ' ' || c == '\t';
}

bool isWhite(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

QByteArray trimmedLower(QByteArrayView value)
{
    return value.trimmed().toByteArray().toLower();
}

// --- header sections ---

// A field value longer than this is cut: no header field needs more.
constexpr qsizetype MaxFieldBytes = 1024 * 1024;

// The header section at the start of a range: the unfolded values of the
// fields asked for (the first of each name), and where the body begins.
struct HeaderSection {
    QList<QByteArray> values;
    QList<bool> present;
    qsizetype bodyStart = 0;
};

// The field name of a header line (before its colon, blanks allowed before
// the colon) and where its value starts; empty when the line is no field.
QByteArrayView fieldName(const QByteArray &line, qsizetype *valueStart)
{
    qsizetype p = 0;
    while (p < line.size() && line[p] != ':' && static_cast<uchar>(line[p]) > 32 && static_cast<uchar>(line[p]) < 127)
        ++p;
    const qsizetype nameEnd = p;
    while (p < line.size() && isBlank(line[p]))
        ++p;
    if (nameEnd == 0 || p >= line.size() || line[p] != ':')
        return {};
    *valueStart = p + 1;
    return QByteArrayView(line.constData(), nameEnd);
}

HeaderSection readHeader(const Lines &lines, Range range, std::initializer_list<const char *> wanted)
{
    HeaderSection section;
    section.values.resize(qsizetype(wanted.size()));
    section.present.resize(qsizetype(wanted.size()));
    section.bodyStart = range.end;
    qsizetype current = -1;
    for (qsizetype i = range.begin; i < range.end; ++i) {
        const QByteArray &line = lines.at(i);
        // The section ends at an empty line; a stray CR before its line
        // break (CR CR LF) leaves it empty all the same.
        if (std::all_of(line.begin(), line.end(), [](char c) { return c == '\r'; })) {
            section.bodyStart = i + 1;
            return section;
        }
        if (isBlank(line[0])) {
            // A continuation line: unfolding takes away only the line break.
            if (current >= 0) {
                QByteArray &value = section.values[current];
                value.append(line.first(std::min(line.size(), std::max<qsizetype>(MaxFieldBytes - value.size(), 0))));
            }
            continue;
        }
        qsizetype valueStart = 0;
        const QByteArrayView name = fieldName(line, &valueStart);
        if (name.isEmpty()) {
            // A line that is no field: the sender left out the empty line,
            // and the body starts here.
            section.bodyStart = i;
            return section;
        }
        current = -1;
        qsizetype index = 0;
        for (const char *field : wanted) {
            if (name.compare(field, Qt::CaseInsensitive) == 0 && !section.present[index]) {
                section.present[index] = true;
                section.values[index] = line.sliced(valueStart, std::min(line.size() - valueStart, MaxFieldBytes));
                current = index;
                break;
            }
            ++index;
        }
    }
    return section;
}

// --- parameters (RFC 2045, with RFC 2231 continuations and charsets) ---

struct Parameter {
    QByteArray name;        // lower case, without "*n*"
    int section = -1;       // -1: no section number
    bool extended = false;  // charset'language'%XX form
    QByteArray value;
};

constexpr qsizetype MaxParameters = 64;
constexpr int MaxSections = 100;

QString decodeCharset(const QByteArray &bytes, const QByteArray &charset, bool *known);

class Parameters {
public:
    void add(QByteArray name, QByteArray value)
    {
        if (list.size() >= MaxParameters)
            return;
        Parameter parameter;
        const qsizetype star = name.indexOf('*');
        if (star >= 0) {
            QByteArray rest = name.mid(star + 1);
            name.truncate(star);
            if (rest.endsWith('*')) {
                parameter.extended = true;
                rest.chop(1);
            } else if (rest.isEmpty()) {
                parameter.extended = true;
            }
            if (!rest.isEmpty()) {
                bool ok = false;
                parameter.section = rest.toInt(&ok);
                if (!ok || parameter.section < 0 || parameter.section >= MaxSections || rest.size() > 2)
                    return;
            }
        }
        parameter.name = name;
        parameter.value = value;
        list.append(parameter);
    }

    // A parameter's bytes: the plain form, else the RFC 2231 one with its
    // %XX undone (its charset is not applied).
    QByteArray raw(QByteArrayView name) const
    {
        for (const Parameter &parameter : list) {
            if (parameter.name == name && parameter.section < 0 && !parameter.extended)
                return parameter.value;
        }
        QByteArray charset;
        return extended(name, &charset);
    }

    // A parameter as text: the RFC 2231 form in its charset where there is
    // one, else the plain form, whose encoded words (as many senders write
    // file names) are decoded.
    QString text(QByteArrayView name) const
    {
        QByteArray charset;
        const QByteArray bytes = extended(name, &charset);
        if (!bytes.isEmpty()) {
            bool known = false;
            return decodeCharset(bytes, charset, &known);
        }
        for (const Parameter &parameter : list) {
            if (parameter.name == name && parameter.section < 0 && !parameter.extended)
                return DecodeHeaderValue(parameter.value);
        }
        return {};
    }

private:
    // The value of name* or of name*0, name*1 ... in order, up to the first
    // number missing.
    QByteArray extended(QByteArrayView name, QByteArray *charset) const
    {
        std::array<const Parameter *, MaxSections> sections{};
        const Parameter *single = nullptr;
        for (const Parameter &parameter : list) {
            if (parameter.name != name)
                continue;
            if (parameter.section >= 0 && !sections[size_t(parameter.section)])
                sections[size_t(parameter.section)] = &parameter;
            else if (parameter.section < 0 && parameter.extended && !single)
                single = &parameter;
        }
        QByteArray bytes;
        if (single) {
            bytes = valueOf(*single, true, charset);
        } else {
            for (size_t i = 0; i < sections.size() && sections[i]; ++i)
                bytes += valueOf(*sections[i], i == 0, charset);
        }
        return bytes;
    }

    static QByteArray valueOf(const Parameter &parameter, bool first, QByteArray *charset)
    {
        if (!parameter.extended)
            return parameter.value;
        QByteArrayView value = parameter.value;
        if (first) {
            // charset'language'text
            const qsizetype quote = value.indexOf('\'');
            const qsizetype second = quote < 0 ? -1 : value.indexOf('\'', quote + 1);
            if (second >= 0) {
                *charset = trimmedLower(value.first(quote));
                value = value.sliced(second + 1);
            }
        }
        QByteArray bytes;
        bytes.reserve(value.size());
        for (qsizetype i = 0; i < value.size(); ++i) {
            if (value[i] == '%' && i + 2 < value.size() && hexDigitValue(value[i + 1]) >= 0 &&
                hexDigitValue(value[i + 2]) >= 0) {
                bytes.append(char(hexDigitValue(value[i + 1]) * 16 + hexDigitValue(value[i + 2])));
                i += 2;
            } else {
                bytes.append(value[i]);
            }
        }
        return bytes;
    }

    QList<Parameter> list;
};

// Reads "token/token; name=value; ..." (or "token; ..." with no subtype).
class FieldValue {
public:
    explicit FieldValue(QByteArrayView value) : v(value) {}

    // type and subtype as written, lower case; false when the value does not
    // begin with them.
    bool readType(QByteArray *type, QByteArray *subtype)
    {
        skipSpace();
        *type = token().toLower();
        skipSpace();
        if (subtype) {
            if (p >= v.size() || v[p] != '/')
                return false;
            ++p;
            skipSpace();
            *subtype = token().toLower();
            if (subtype->isEmpty())
                return false;
        }
        return !type->isEmpty();
    }

    void readParameters(Parameters *parameters)
    {
        while (p < v.size()) {
            skipSpace();
            if (p >= v.size())
                break;
            if (v[p] != ';') {
                skipTo(';');
                continue;
            }
            ++p;
            skipSpace();
            const QByteArray name = token().toLower();
            skipSpace();
            if (name.isEmpty() || p >= v.size() || v[p] != '=') {
                skipTo(';');
                continue;
            }
            ++p;
            skipSpace();
            parameters->add(name, value());
        }
    }

private:
    static bool isSpecial(char c)
    {
        static constexpr std::string_view specials = "()<>@,;:\\\"/[]?=";
        return specials.find(c) != std::string_view::npos;
    }

    void skipSpace()
    {
        while (p < v.size()) {
            if (isWhite(v[p])) {
                ++p;
            } else if (v[p] == '(') {
                skipComment();
            } else {
                return;
            }
        }
    }

    // A comment, comments nested in it and quoted pairs included.
    void skipComment()
    {
        int depth = 0;
        for (; p < v.size(); ++p) {
            if (v[p] == '\\') {
                ++p;
            } else if (v[p] == '(') {
                ++depth;
            } else if (v[p] == ')' && --depth == 0) {
                ++p;
                return;
            }
        }
    }

    void skipTo(char c)
    {
        const qsizetype found = v.indexOf(c, p);
        p = found < 0 ? v.size() : found;
    }

    QByteArray token()
    {
        const qsizetype start = p;
        while (p < v.size() && static_cast<uchar>(v[p]) > 32 && static_cast<uchar>(v[p]) != 127 && !isSpecial(v[p]))
            ++p;
        return v.sliced(start, p - start).toByteArray();
    }

    // A quoted string, or (leniently) everything up to the next ";".
    QByteArray value()
    {
        QByteArray out;
        if (p < v.size() && v[p] == '"') {
            for (++p; p < v.size() && v[p] != '"'; ++p) {
                if (v[p] == '\\' && p + 1 < v.size())
                    ++p;
                // Folding inside a quoted string is no part of the value.
                if (v[p] != '\r' && v[p] != '\n')
                    out.append(v[p]);
            }
            if (p < v.size())
                ++p;
            return out;
        }
        const qsizetype start = p;
        skipTo(';');
        return v.sliced(start, p - start).trimmed().toByteArray();
    }

    QByteArrayView v;
    qsizetype p = 0;
};

// What a part's header says about it.
struct PartHeader {
    QByteArray type = "text";
    QByteArray subtype = "plain";
    Parameters parameters;
    QByteArray encoding;      // lower case; empty when not given
    bool attachment = false;  // Content-Disposition: attachment
    Parameters disposition;
};

enum PartField { ContentType, TransferEncoding, Disposition };

PartHeader partHeader(const HeaderSection &section, qsizetype first, bool inDigest)
{
    PartHeader header;
    if (inDigest) {
        header.type = "message";
        header.subtype = "rfc822";
    }
    if (section.present[first + ContentType]) {
        FieldValue value(section.values[first + ContentType]);
        QByteArray type;
        QByteArray subtype;
        // A type that cannot be read counts as text/plain (RFC 2045).
        if (value.readType(&type, &subtype)) {
            header.type = type;
            header.subtype = subtype;
        } else {
            header.type = "text";
            header.subtype = "plain";
        }
        value.readParameters(&header.parameters);
    }
    if (section.present[first + TransferEncoding])
        header.encoding = trimmedLower(section.values[first + TransferEncoding]);
    if (section.present[first + Disposition]) {
        FieldValue value(section.values[first + Disposition]);
        QByteArray type;
        value.readType(&type, nullptr);
        header.attachment = type == "attachment";
        value.readParameters(&header.disposition);
    }
    return header;
}

// --- transfer encodings and charsets ---

// A part's content with its transfer encoding undone.
struct Content {
    QByteArray bytes;
    QString failure;       // why it could not be decoded; empty when it was
    bool limited = false;  // longer than MaxPartBytes: only its start decoded
};

Content identityContent(const Lines &lines, Range body)
{
    Content content;
    for (qsizetype i = body.begin; i < body.end; ++i) {
        if (content.bytes.size() + lines.at(i).size() > MaxPartBytes) {
            content.limited = true;
            break;
        }
        if (i > body.begin)
            content.bytes.append('\n');
        content.bytes.append(lines.at(i));
    }
    return content;
}

// Quoted-printable is decoded leniently, as RFC 2045 advises: an "=" that
// begins no escape stays as it is.
Content quotedPrintableContent(const Lines &lines, Range body)
{
    Content content;
    for (qsizetype i = body.begin; i < body.end; ++i) {
        QByteArrayView line = lines.at(i);
        // Blanks at the end of a line were added on the way.
        while (!line.isEmpty() && (isBlank(line.back()) || line.back() == '\r'))
            line.chop(1);
        const bool soft = line.endsWith('=');
        if (soft)
            line.chop(1);
        if (content.bytes.size() + line.size() > MaxPartBytes) {
            content.limited = true;
            break;
        }
        for (qsizetype j = 0; j < line.size(); ++j) {
            if (line[j] == '=' && j + 2 < line.size() && hexDigitValue(line[j + 1]) >= 0 &&
                hexDigitValue(line[j + 2]) >= 0) {
                content.bytes.append(char(hexDigitValue(line[j + 1]) * 16 + hexDigitValue(line[j + 2])));
                j += 2;
            } else {
                content.bytes.append(line[j]);
            }
        }
        if (!soft && i + 1 < body.end)
            content.bytes.append('\n');
    }
    return content;
}

bool isBase64Char(char c)
{
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '+' || c == '/';
}

// Base64 is strict: a character outside the alphabet, data after the
// padding or a length no base64 has means the part is broken. Missing
// padding is forgiven; a part cut off by the end of what was fetched keeps
// its whole groups.
Content base64Content(const Lines &lines, Range body, bool cut)
{
    Content content;
    QByteArray clean;
    qsizetype padding = 0;
    constexpr qsizetype MaxChars = MaxPartBytes / 3 * 4;
    for (qsizetype i = body.begin; i < body.end && !content.limited; ++i) {
        for (const char c : lines.at(i)) {
            if (isBase64Char(c) && padding == 0) {
                if (clean.size() >= MaxChars) {
                    content.limited = true;
                    break;
                }
                clean.append(c);
            } else if (c == '=' && padding < 2 && clean.size() % 4 >= 2) {
                ++padding;
            } else if (!isWhite(c)) {
                content.failure = QStringLiteral("broken base64");
                return content;
            }
        }
    }
    if (cut || content.limited)
        clean.truncate(clean.size() - clean.size() % 4);
    if (clean.size() % 4 == 1 || (padding > 0 && (clean.size() + padding) % 4 != 0)) {
        content.failure = QStringLiteral("broken base64");
        return content;
    }
    const auto decoded =
        QByteArray::fromBase64Encoding(clean, QByteArray::Base64Encoding | QByteArray::AbortOnBase64DecodingErrors);
    if (!decoded) {
        content.failure = QStringLiteral("broken base64");
        return content;
    }
    content.bytes = *decoded;
    return content;
}

Content partContent(const PartHeader &header, const Lines &lines, Range body, bool cut)
{
    const QByteArray &encoding = header.encoding;
    if (encoding.isEmpty() || encoding == "7bit" || encoding == "8bit" || encoding == "binary")
        return identityContent(lines, body);
    if (encoding == "quoted-printable")
        return quotedPrintableContent(lines, body);
    if (encoding == "base64")
        return base64Content(lines, body, cut);
    Content unknown;
    unknown.failure = QStringLiteral("unknown encoding \"%1\"").arg(decodeWireText(encoding.left(64)));
    return unknown;
}

// A charset name Qt may be asked for: short, and nothing ICU could take for
// a path to a converter file.
bool isPlausibleCharset(const QByteArray &charset)
{
    if (charset.isEmpty() || charset.size() > 40)
        return false;
    return std::all_of(charset.begin(), charset.end(), [](char c) {
        return (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '_' || c == '.' || c == ':' ||
               c == '+';
    });
}

QString decodeCharset(const QByteArray &bytes, const QByteArray &name, bool *known)
{
    *known = true;
    const QByteArray charset = trimmedLower(name);
    // No charset, or one whose every byte is also UTF-8: read as wire text
    // (UTF-8 where valid, else Latin-1); so is UTF-8 that is not valid.
    if (charset.isEmpty() || charset == "us-ascii" || charset == "ascii" || charset == "utf-8" || charset == "utf8")
        return decodeWireText(bytes);
    QByteArray qtName = charset;
    // Mail labelled Latin-1 uses windows-1252's quotes and dashes, as
    // browsers know.
    if (charset == "iso-8859-1" || charset == "iso8859-1" || charset == "latin1" || charset == "iso_8859-1")
        qtName = "windows-1252";
    if (!isPlausibleCharset(qtName)) {
        *known = false;
        return decodeWireText(bytes);
    }
    QStringDecoder decoder(qtName.constData(), QStringConverter::Flag::Stateless);
    if (!decoder.isValid()) {
        *known = false;
        return decodeWireText(bytes);
    }
    return decoder.decode(bytes);
}

// Line breaks as "\n", no NUL, other control characters (but the tab) as
// blanks; empty lines at the start and the end go.
QString normalised(QStringView text)
{
    QString out;
    out.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char16_t c = text[i].unicode();
        if (c == u'\r') {
            if (i + 1 < text.size() && text[i + 1] == u'\n')
                continue;
            out.append(u'\n');
        } else if (c == 0) {
            continue;
        } else if (c == 0x2028 || c == 0x2029) {
            out.append(u'\n');
        } else if ((c < 0x20 && c != u'\t' && c != u'\n') || c == 0x7f) {
            out.append(u' ');
        } else {
            out.append(QChar(c));
        }
    }
    qsizetype end = out.size();
    while (end > 0 && out[end - 1].isSpace())
        --end;
    qsizetype start = 0;
    for (qsizetype i = 0; i < end; ++i) {
        if (out[i] == u'\n')
            start = i + 1;
        else if (!out[i].isSpace())
            break;
    }
    return out.sliced(start, end - start);
}

// "812 bytes", "4.5 KB", "1.2 MB" (of 1,024 each)
QString sizeText(qint64 bytes)
{
    if (bytes == 1)
        return QStringLiteral("1 byte");
    if (bytes < 1024)
        return QStringLiteral("%1 bytes").arg(bytes);
    double value = double(bytes) / 1024;
    const char *unit = "KB";
    for (const char *larger : {"MB", "GB", "TB"}) {
        if (value < 1024)
            break;
        value /= 1024;
        unit = larger;
    }
    return QString::number(value, 'f', 1) + u' ' + QLatin1String(unit);
}

// --- multipart structure ---

// The parts between the delimiter lines of a boundary.
struct Split {
    QList<Range> parts;
    bool more = false;  // parts past MaxParts were left out
};

Split splitParts(const Lines &lines, Range body, const QByteArray &boundary)
{
    Split split;
    const QByteArray delimiter = "--" + boundary;
    qsizetype start = -1;
    for (qsizetype i = body.begin; i < body.end; ++i) {
        const QByteArray &line = lines.at(i);
        if (!line.startsWith(delimiter))
            continue;
        QByteArrayView rest = QByteArrayView(line).sliced(delimiter.size());
        const bool close = rest.startsWith("--");
        if (close)
            rest = rest.sliced(2);
        // Blanks may follow a delimiter (transport padding); other text may not.
        if (!std::all_of(rest.begin(), rest.end(), isWhite))
            continue;
        if (start >= 0) {
            if (split.parts.size() >= MaxParts) {
                split.more = true;
                return split;
            }
            split.parts.append({start, i});
        }
        if (close)
            return split;
        start = i + 1;
    }
    // No closing delimiter: the last part runs to the end.
    if (start >= 0) {
        if (split.parts.size() >= MaxParts)
            split.more = true;
        else
            split.parts.append({start, body.end});
    }
    return split;
}

// --- the text ---

class Renderer {
public:
    Renderer(const Lines &lines, bool cut) : lines(lines), cut(cut) {}

    QString run()
    {
        const Range all{0, lines.size()};
        const HeaderSection head = readHeader(lines, all,
                                              {"Date", "From", "To", "Cc", "Subject", "Content-Type",
                                               "Content-Transfer-Encoding", "Content-Disposition"});
        static constexpr std::array<const char *, 5> ShownFields = {"Date", "From", "To", "Cc", "Subject"};
        QString block;
        for (size_t i = 0; i < ShownFields.size(); ++i) {
            if (!head.present[qsizetype(i)])
                continue;
            if (!block.isEmpty())
                block.append(u'\n');
            block +=
                QLatin1String(ShownFields[i]) + QStringLiteral(": ") + DecodeHeaderValue(head.values[qsizetype(i)]);
        }
        if (!block.isEmpty())
            paragraph(block);
        // The empty line between header and body comes with the body's first piece.
        ++partsSeen;
        body(partHeader(head, 5, false), {head.bodyStart, all.end}, 0);
        if (cut)
            note(QStringLiteral("[message cut here: the rest was not fetched]"));
        if (!out.isEmpty())
            out.append(u'\n');
        return out;
    }

private:
    enum class Shown { Text, BlankText, Other };

    // One part: its header and body.
    Shown part(Range range, int depth, bool inDigest)
    {
        if (full)
            return Shown::Other;
        if (++partsSeen > MaxParts) {
            moreParts();
            return Shown::Other;
        }
        const HeaderSection head =
            readHeader(lines, range, {"Content-Type", "Content-Transfer-Encoding", "Content-Disposition"});
        return body(partHeader(head, 0, inDigest), {head.bodyStart, range.end}, depth);
    }

    Shown body(const PartHeader &header, Range range, int depth)
    {
        if (header.type == "multipart") {
            multipart(header, range, depth);
            return Shown::Other;
        }
        if (!textShown && isReadable(header)) {
            const Shown shown = showText(header, range);
            textShown = shown == Shown::Text;
            return shown;
        }
        attachment(header, range);
        return Shown::Other;
    }

    static bool isReadable(const PartHeader &header)
    {
        return header.type == "text" && (header.subtype == "plain" || header.subtype == "html") && !header.attachment;
    }

    void multipart(const PartHeader &header, Range range, int depth)
    {
        if (depth >= MaxDepth) {
            attachment(header, range);
            return;
        }
        const QByteArray boundary = header.parameters.raw("boundary");
        Split split;
        if (!boundary.isEmpty() && boundary.size() <= 200)
            split = splitParts(lines, range, boundary);
        // A closing delimiter alone holds no part: what is there is shown.
        if (split.parts.isEmpty()) {
            note(QStringLiteral("[parts not found (bad boundary), shown as received]"));
            received(range);
            return;
        }
        if (header.subtype == "alternative") {
            alternative(split.parts, depth);
        } else {
            for (const Range &child : split.parts)
                part(child, depth + 1, header.subtype == "digest");
        }
        if (split.more)
            moreParts();
    }

    // The plain text, else the HTML; a part that turns out empty gives way
    // to the next choice. Of a choice that holds no text, the nested
    // multipart, else the last part (the sender's preferred one).
    void alternative(const QList<Range> &parts, int depth)
    {
        QList<Range> plain;
        QList<Range> html;
        QList<Range> nested;
        for (const Range &child : parts) {
            const HeaderSection head =
                readHeader(lines, child, {"Content-Type", "Content-Transfer-Encoding", "Content-Disposition"});
            const PartHeader header = partHeader(head, 0, false);
            if (header.type == "multipart")
                nested.append(child);
            else if (isReadable(header))
                (header.subtype == "plain" ? plain : html).append(child);
        }
        QList<Range> choices = plain + html + nested;
        if (choices.isEmpty() && !parts.isEmpty())
            choices.append(parts.last());
        for (const Range &choice : choices) {
            if (part(choice, depth + 1, false) != Shown::BlankText)
                return;
        }
    }

    Shown showText(const PartHeader &header, Range range)
    {
        const bool partCut = cut && range.end == lines.size();
        const Content content = partContent(header, lines, range, partCut);
        if (!content.failure.isEmpty()) {
            note(QStringLiteral("[part not decoded (%1), shown as received]").arg(content.failure));
            received(range);
            return Shown::Text;
        }
        bool known = true;
        const QByteArray charset = header.parameters.raw("charset");
        QString text = decodeCharset(content.bytes, charset, &known);
        if (header.subtype == "html")
            text = HtmlToText(text);
        text = normalised(text);
        if (text.isEmpty() && known && !content.limited)
            return Shown::BlankText;
        if (!known) {
            note(QStringLiteral("[unknown charset \"%1\", shown as received]").arg(decodeWireText(charset.left(64))));
            add(text, Piece::Noted);
        } else {
            paragraph(text);
        }
        if (content.limited)
            note(QStringLiteral("[rest of the part not shown: longer than %1]").arg(sizeText(MaxPartBytes)));
        return Shown::Text;
    }

    void attachment(const PartHeader &header, Range range)
    {
        QString name = header.disposition.text("filename");
        if (name.isEmpty())
            name = header.parameters.text("name");
        if (name.isEmpty() && header.type == "message" && header.subtype == "rfc822") {
            const HeaderSection head = readHeader(lines, range, {"Subject"});
            name = DecodeHeaderValue(head.values[0]);
        }
        name = normalised(name).simplified().left(256);
        if (name.isEmpty())
            name = QStringLiteral("unnamed");
        QString size = sizeText(decodedSize(header, range));
        if (cut && range.end == lines.size())
            size = QStringLiteral("at least ") + size;
        note(QStringLiteral("[attachment: %1, %2/%3, %4]")
                 .arg(name, decodeWireText(header.type.left(64)), decodeWireText(header.subtype.left(64)), size));
    }

    // What the part holds once decoded, counted without decoding it; a line
    // break counts as CR LF.
    qint64 decodedSize(const PartHeader &header, Range range) const
    {
        qint64 size = 0;
        if (header.encoding == "base64") {
            for (qsizetype i = range.begin; i < range.end; ++i)
                size += std::count_if(lines.at(i).begin(), lines.at(i).end(), isBase64Char);
            return size * 3 / 4;
        }
        const bool quoted = header.encoding == "quoted-printable";
        for (qsizetype i = range.begin; i < range.end; ++i) {
            const QByteArray &line = lines.at(i);
            if (!quoted) {
                size += line.size() + (i + 1 < range.end ? 2 : 0);
                continue;
            }
            qsizetype length = line.size();
            while (length > 0 && isBlank(line[length - 1]))
                --length;
            const bool soft = length > 0 && line[length - 1] == '=';
            size += length - (soft ? 1 : 0) - 2 * line.first(length).count('=') + (soft ? 2 : 0);
            if (!soft && i + 1 < range.end)
                size += 2;
        }
        return std::max<qint64>(size, 0);
    }

    // The lines of a range as they came, below the note that says why (the
    // empty lines before the next delimiter left out).
    void received(Range range)
    {
        while (range.end > range.begin && lines.at(range.end - 1).isEmpty())
            --range.end;
        QString text;
        for (qsizetype i = range.begin; i < range.end && text.size() <= MaxTextLength; ++i) {
            if (i > range.begin)
                text.append(u'\n');
            text.append(decodeWireLine(lines.at(i)));
        }
        add(text, Piece::Noted);
    }

    void moreParts()
    {
        if (!morePartsNoted)
            note(QStringLiteral("[more parts not shown]"));
        morePartsNoted = true;
    }

    // A piece of text, with an empty line before it; a note or attachment
    // line, after a line break (an empty line when text comes before it).
    void paragraph(const QString &text) { add(text, Piece::Paragraph); }
    void note(const QString &text) { add(text, Piece::Line); }

    // Noted: text right below the note about it.
    enum class Piece { None, Paragraph, Line, Noted };

    void add(QStringView text, Piece kind)
    {
        if (full)
            return;
        if (last != Piece::None) {
            const bool blankLine = kind == Piece::Paragraph || (kind == Piece::Line && last != Piece::Line);
            out.append(blankLine ? QStringLiteral("\n\n") : QStringLiteral("\n"));
        }
        last = kind;
        if (out.size() + text.size() <= MaxTextLength) {
            out.append(text);
            return;
        }
        // The text stops at the end of a line, with a note that says so.
        const QStringView fits = text.first(std::max<qsizetype>(MaxTextLength - out.size(), 0));
        const qsizetype lineEnd = fits.lastIndexOf(u'\n');
        out.append(fits.first(lineEnd < 0 ? fits.size() : lineEnd));
        out.append(QStringLiteral("\n\n[rest not shown: the text is longer than %1 characters]")
                       .arg(QLocale::c().toString(MaxTextLength)));
        full = true;
    }

    const Lines &lines;
    const bool cut;
    QString out;
    Piece last = Piece::None;
    bool full = false;
    bool textShown = false;
    int partsSeen = 0;
    bool morePartsNoted = false;
};

}  // namespace

QString DecodeMessage(const QList<QByteArray> &lines, bool cut)
{
    return Renderer(lines, cut).run();
}
