// SPDX-License-Identifier: GPL-3.0-or-later
#include "session/HtmlText.h"

#include <QHash>
#include <QStringList>

#include <algorithm>
#include <array>
#include <vector>

namespace {

// Named character references of HTML 4 (and &apos;), by code point.
struct Entity {
    const char *name;
    char32_t code;
};

// &nbsp; to &yuml; stand for 160 to 255 in this order.
constexpr std::array<const char *, 96> Latin1Names = {
    "nbsp",   "iexcl",  "cent",   "pound",  "curren", "yen",    "brvbar", "sect",   "uml",    "copy",   "ordf",
    "laquo",  "not",    "shy",    "reg",    "macr",   "deg",    "plusmn", "sup2",   "sup3",   "acute",  "micro",
    "para",   "middot", "cedil",  "sup1",   "ordm",   "raquo",  "frac14", "frac12", "frac34", "iquest", "Agrave",
    "Aacute", "Acirc",  "Atilde", "Auml",   "Aring",  "AElig",  "Ccedil", "Egrave", "Eacute", "Ecirc",  "Euml",
    "Igrave", "Iacute", "Icirc",  "Iuml",   "ETH",    "Ntilde", "Ograve", "Oacute", "Ocirc",  "Otilde", "Ouml",
    "times",  "Oslash", "Ugrave", "Uacute", "Ucirc",  "Uuml",   "Yacute", "THORN",  "szlig",  "agrave", "aacute",
    "acirc",  "atilde", "auml",   "aring",  "aelig",  "ccedil", "egrave", "eacute", "ecirc",  "euml",   "igrave",
    "iacute", "icirc",  "iuml",   "eth",    "ntilde", "ograve", "oacute", "ocirc",  "otilde", "ouml",   "divide",
    "oslash", "ugrave", "uacute", "ucirc",  "uuml",   "yacute", "thorn",  "yuml"};

constexpr Entity OtherEntities[] = {
    {"quot", 34},      {"amp", 38},      {"apos", 39},      {"lt", 60},       {"gt", 62},       {"OElig", 338},
    {"oelig", 339},    {"Scaron", 352},  {"scaron", 353},   {"Yuml", 376},    {"fnof", 402},    {"circ", 710},
    {"tilde", 732},    {"Alpha", 913},   {"Beta", 914},     {"Gamma", 915},   {"Delta", 916},   {"Epsilon", 917},
    {"Zeta", 918},     {"Eta", 919},     {"Theta", 920},    {"Iota", 921},    {"Kappa", 922},   {"Lambda", 923},
    {"Mu", 924},       {"Nu", 925},      {"Xi", 926},       {"Omicron", 927}, {"Pi", 928},      {"Rho", 929},
    {"Sigma", 931},    {"Tau", 932},     {"Upsilon", 933},  {"Phi", 934},     {"Chi", 935},     {"Psi", 936},
    {"Omega", 937},    {"alpha", 945},   {"beta", 946},     {"gamma", 947},   {"delta", 948},   {"epsilon", 949},
    {"zeta", 950},     {"eta", 951},     {"theta", 952},    {"iota", 953},    {"kappa", 954},   {"lambda", 955},
    {"mu", 956},       {"nu", 957},      {"xi", 958},       {"omicron", 959}, {"pi", 960},      {"rho", 961},
    {"sigmaf", 962},   {"sigma", 963},   {"tau", 964},      {"upsilon", 965}, {"phi", 966},     {"chi", 967},
    {"psi", 968},      {"omega", 969},   {"thetasym", 977}, {"upsih", 978},   {"piv", 982},     {"ensp", 8194},
    {"emsp", 8195},    {"thinsp", 8201}, {"zwnj", 8204},    {"zwj", 8205},    {"lrm", 8206},    {"rlm", 8207},
    {"ndash", 8211},   {"mdash", 8212},  {"lsquo", 8216},   {"rsquo", 8217},  {"sbquo", 8218},  {"ldquo", 8220},
    {"rdquo", 8221},   {"bdquo", 8222},  {"dagger", 8224},  {"Dagger", 8225}, {"bull", 8226},   {"hellip", 8230},
    {"permil", 8240},  {"prime", 8242},  {"Prime", 8243},   {"lsaquo", 8249}, {"rsaquo", 8250}, {"oline", 8254},
    {"frasl", 8260},   {"euro", 8364},   {"image", 8465},   {"weierp", 8472}, {"real", 8476},   {"trade", 8482},
    {"alefsym", 8501}, {"larr", 8592},   {"uarr", 8593},    {"rarr", 8594},   {"darr", 8595},   {"harr", 8596},
    {"crarr", 8629},   {"lArr", 8656},   {"uArr", 8657},    {"rArr", 8658},   {"dArr", 8659},   {"hArr", 8660},
    {"forall", 8704},  {"part", 8706},   {"exist", 8707},   {"empty", 8709},  {"nabla", 8711},  {"isin", 8712},
    {"notin", 8713},   {"ni", 8715},     {"prod", 8719},    {"sum", 8721},    {"minus", 8722},  {"lowast", 8727},
    {"radic", 8730},   {"prop", 8733},   {"infin", 8734},   {"ang", 8736},    {"and", 8743},    {"or", 8744},
    {"cap", 8745},     {"cup", 8746},    {"int", 8747},     {"there4", 8756}, {"sim", 8764},    {"cong", 8773},
    {"asymp", 8776},   {"ne", 8800},     {"equiv", 8801},   {"le", 8804},     {"ge", 8805},     {"sub", 8834},
    {"sup", 8835},     {"nsub", 8836},   {"sube", 8838},    {"supe", 8839},   {"oplus", 8853},  {"otimes", 8855},
    {"perp", 8869},    {"sdot", 8901},   {"lceil", 8968},   {"rceil", 8969},  {"lfloor", 8970}, {"rfloor", 8971},
    {"lang", 9001},    {"rang", 9002},   {"loz", 9674},     {"spades", 9824}, {"clubs", 9827},  {"hearts", 9829},
    {"diams", 9830}};

const QHash<QByteArray, char32_t> &entities()
{
    static const QHash<QByteArray, char32_t> table = [] {
        QHash<QByteArray, char32_t> made;
        for (size_t i = 0; i < Latin1Names.size(); ++i)
            made.insert(Latin1Names[i], char32_t(160 + i));
        for (const Entity &entity : OtherEntities)
            made.insert(entity.name, entity.code);
        return made;
    }();
    return table;
}

// Old pages write these without the semicolon, and browsers still read them.
bool isLegacyName(const QByteArray &name)
{
    if (name == "amp" || name == "lt" || name == "gt" || name == "quot")
        return true;
    return std::find(Latin1Names.begin(), Latin1Names.end(), name) != Latin1Names.end();
}

// Numeric references to 128-159 mean windows-1252, as browsers read them.
char32_t fromNumber(quint32 value)
{
    static constexpr std::array<char16_t, 32> Cp1252 = {0x20AC, 0x81,   0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                                                        0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x8D,   0x017D, 0x8F,
                                                        0x90,   0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                                                        0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x9D,   0x017E, 0x0178};
    if (value >= 0x80 && value <= 0x9F)
        return Cp1252[value - 0x80];
    if (value == 0 || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF))
        return 0xFFFD;
    return value;
}

bool isAsciiLetter(QChar c)
{
    return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z');
}

bool isAsciiAlnum(QChar c)
{
    return isAsciiLetter(c) || (c >= u'0' && c <= u'9');
}

bool isHtmlSpace(QChar c)
{
    return c == u' ' || c == u'\t' || c == u'\n' || c == u'\r' || c == u'\f';
}

// What a tag does to the lines of the text.
enum class TagRole { None, Paragraph, Line, Break, Cell, List, Item, Pre, Skip };

TagRole roleOf(const QByteArray &name)
{
    static const QHash<QByteArray, TagRole> roles = [] {
        QHash<QByteArray, TagRole> made;
        for (const char *name : {"p", "h1", "h2", "h3", "h4", "h5", "h6", "blockquote", "table", "dl", "hr", "address",
                                 "figure", "fieldset", "form"})
            made.insert(name, TagRole::Paragraph);
        for (const char *name :
             {"div",  "tr",      "dt",     "dd",     "section", "article", "header",     "footer", "nav",  "aside",
              "main", "caption", "center", "legend", "summary", "details", "figcaption", "option", "body", "html"})
            made.insert(name, TagRole::Line);
        made.insert("br", TagRole::Break);
        made.insert("td", TagRole::Cell);
        made.insert("th", TagRole::Cell);
        made.insert("ul", TagRole::List);
        made.insert("ol", TagRole::List);
        made.insert("menu", TagRole::List);
        made.insert("li", TagRole::Item);
        made.insert("pre", TagRole::Pre);
        made.insert("listing", TagRole::Pre);
        made.insert("xmp", TagRole::Pre);
        // Their content is never text to read.
        for (const char *name : {"script", "style", "title", "template", "noembed", "noframes", "iframe"})
            made.insert(name, TagRole::Skip);
        return made;
    }();
    return roles.value(name, TagRole::None);
}

class Converter {
public:
    explicit Converter(QStringView html) : in(html) {}

    QString run()
    {
        out.reserve(std::min<qsizetype>(in.size(), 1 << 20));
        while (at < in.size()) {
            const QChar c = in[at];
            if (c == u'<') {
                tag();
            } else if (c == u'&') {
                ++at;
                text(reference());
            } else {
                ++at;
                text(c);
            }
        }
        return tidied();
    }

private:
    // --- the text ---

    void text(char32_t code)
    {
        if (code > 0xFFFF) {
            const QChar pair[2] = {QChar::highSurrogate(code), QChar::lowSurrogate(code)};
            text(pair[0]);
            text(pair[1]);
        } else {
            text(QChar(char16_t(code)));
        }
    }

    void text(QChar c)
    {
        if (pre > 0) {
            // Preformatted: every break and blank as written.
            if (c == u'\r') {
                if (at < in.size() && in[at] == u'\n')
                    return;
                c = u'\n';
            }
            flushBreaks();
            out.append(c == QChar::Nbsp ? QChar(u' ') : c);
            return;
        }
        if (isHtmlSpace(c)) {
            pendingSpace = true;
            return;
        }
        flushBreaks();
        if (pendingSpace && !atLineStart())
            out.append(u' ');
        pendingSpace = false;
        // A no-break space is a blank that does not collapse.
        out.append(c == QChar::Nbsp ? QChar(u' ') : c);
    }

    bool atLineStart() const { return out.isEmpty() || out.back() == u'\n'; }

    // Asks for `breaks` line ends (2: a blank line) before the next text.
    void wantBreaks(int breaks) { owedBreaks = std::max(owedBreaks, breaks); }

    void flushBreaks()
    {
        if (owedBreaks == 0)
            return;
        if (!out.isEmpty()) {
            int have = 0;
            for (qsizetype i = out.size() - 1; i >= 0 && out[i] == u'\n' && have < owedBreaks; --i)
                ++have;
            for (; have < owedBreaks; ++have)
                out.append(u'\n');
            pendingSpace = false;
        }
        owedBreaks = 0;
    }

    // A character reference after its "&"; a lone "&" stands for itself.
    char32_t reference()
    {
        if (at < in.size() && in[at] == u'#') {
            qsizetype p = at + 1;
            const bool hex = p < in.size() && (in[p] == u'x' || in[p] == u'X');
            if (hex)
                ++p;
            const qsizetype digitsStart = p;
            quint32 value = 0;
            while (p < in.size()) {
                const int digit =
                    hex ? hexValue(in[p]) : (in[p] >= u'0' && in[p] <= u'9' ? in[p].unicode() - u'0' : -1);
                if (digit < 0)
                    break;
                // Past the last code point the value only has to stay invalid.
                value = std::min<quint32>(value * (hex ? 16 : 10) + quint32(digit), 0x110000);
                ++p;
            }
            if (p == digitsStart)
                return u'&';
            if (p < in.size() && in[p] == u';')
                ++p;
            at = p;
            return fromNumber(value);
        }
        qsizetype p = at;
        while (p < in.size() && p - at < 32 && isAsciiAlnum(in[p]))
            ++p;
        if (p == at)
            return u'&';
        const QByteArray name = in.sliced(at, p - at).toLatin1();
        if (p < in.size() && in[p] == u';') {
            const auto found = entities().constFind(name);
            if (found != entities().cend()) {
                at = p + 1;
                return *found;
            }
        }
        // Without the semicolon only the old names count, and the longest
        // one the letters begin with ("&copy2024" is "©2024").
        for (qsizetype length = std::min<qsizetype>(name.size(), 6); length >= 2; --length) {
            const QByteArray prefix = name.first(length);
            if (isLegacyName(prefix)) {
                at += length;
                return entities().value(prefix);
            }
        }
        return u'&';
    }

    static int hexValue(QChar c)
    {
        if (c >= u'0' && c <= u'9')
            return c.unicode() - u'0';
        if (c >= u'a' && c <= u'f')
            return c.unicode() - u'a' + 10;
        if (c >= u'A' && c <= u'F')
            return c.unicode() - u'A' + 10;
        return -1;
    }

    // --- the tags ---

    void skipPast(QStringView end)
    {
        const qsizetype found = in.indexOf(end, at);
        at = found < 0 ? in.size() : found + end.size();
    }

    void tag()
    {
        const qsizetype open = at;
        ++at;
        if (at >= in.size()) {
            text(QChar(u'<'));
            return;
        }
        const QChar first = in[at];
        if (first == u'!') {
            if (in.sliced(at).startsWith(u"!--")) {
                at += 3;
                skipPast(u"-->");
            } else {
                skipPast(u">");
            }
            return;
        }
        if (first == u'?') {
            skipPast(u">");
            return;
        }
        const bool end = first == u'/';
        if (end)
            ++at;
        if (at >= in.size() || !isAsciiLetter(in[at])) {
            if (end) {
                skipPast(u">");
            } else {
                // Not a tag: a "<" of the text.
                at = open + 1;
                text(QChar(u'<'));
            }
            return;
        }
        const qsizetype nameStart = at;
        while (at < in.size() && (isAsciiAlnum(in[at]) || in[at] == u'-' || in[at] == u':'))
            ++at;
        const QByteArray name = in.sliced(nameStart, std::min<qsizetype>(at - nameStart, 16)).toLatin1().toLower();
        skipAttributes();
        apply(name, end);
    }

    // Moves past the rest of a tag: a ">" inside a quoted value is no end.
    void skipAttributes()
    {
        while (at < in.size()) {
            const QChar c = in[at];
            if (c == u'>') {
                ++at;
                return;
            }
            if (c == u'=') {
                ++at;
                while (at < in.size() && isHtmlSpace(in[at]))
                    ++at;
                if (at < in.size() && (in[at] == u'"' || in[at] == u'\'')) {
                    const QChar quote = in[at];
                    const qsizetype close = in.indexOf(quote, at + 1);
                    at = close < 0 ? in.size() : close + 1;
                }
                continue;
            }
            ++at;
        }
    }

    void apply(const QByteArray &name, bool end)
    {
        switch (roleOf(name)) {
        case TagRole::Paragraph:
            wantBreaks(2);
            break;
        case TagRole::Line:
            wantBreaks(1);
            break;
        case TagRole::Break:
            if (!end) {
                flushBreaks();
                out.append(u'\n');
                pendingSpace = false;
            }
            break;
        case TagRole::Cell:
            pendingSpace = true;
            break;
        case TagRole::List: {
            // A list of its own is a paragraph; one inside an item starts a line.
            const bool outer = listDepth <= (end ? 1 : 0);
            if (end) {
                if (listDepth > 0)
                    --listDepth;
                if (listDepth < qsizetype(lists.size()))
                    lists.resize(size_t(listDepth));
            } else {
                if (listDepth < MaxListLevels)
                    lists.push_back({name == "ol", 1});
                ++listDepth;
            }
            wantBreaks(outer ? 2 : 1);
            break;
        }
        case TagRole::Item:
            wantBreaks(1);
            if (!end)
                item();
            break;
        case TagRole::Pre:
            pre = end ? std::max(pre - 1, 0) : std::min(pre + 1, 1000);
            wantBreaks(2);
            break;
        case TagRole::Skip:
            if (!end)
                skipElement(name);
            break;
        case TagRole::None:
            break;
        }
    }

    void item()
    {
        flushBreaks();
        if (!atLineStart())
            out.append(u'\n');
        const qsizetype level = std::min<qsizetype>(std::max<qsizetype>(listDepth, 1), 8);
        out.append(QString((level - 1) * 2, u' '));
        if (!lists.empty() && listDepth == qsizetype(lists.size()) && lists.back().ordered)
            out.append(QString::number(lists.back().next++) + QStringLiteral(". "));
        else
            out.append(QStringLiteral("\u2022 "));
        pendingSpace = false;
    }

    // Drops everything up to the element's end tag (to the end when there is none).
    void skipElement(const QByteArray &name)
    {
        const QString close = QStringLiteral("</") + QString::fromLatin1(name);
        while (at < in.size()) {
            const qsizetype found = in.indexOf(close, at, Qt::CaseInsensitive);
            if (found < 0) {
                at = in.size();
                return;
            }
            at = found + close.size();
            // "</scripts" does not end a script.
            if (at >= in.size() || !isAsciiAlnum(in[at])) {
                skipAttributes();
                return;
            }
        }
    }

    // --- the result ---

    // Blanks at the ends of lines go, at most one blank line in a row, none
    // at the start or the end.
    QString tidied() const
    {
        QString result;
        result.reserve(out.size());
        bool blankOwed = false;
        for (QStringView line : QStringView(out).split(u'\n')) {
            qsizetype length = line.size();
            while (length > 0 && (line[length - 1] == u' ' || line[length - 1] == u'\t'))
                --length;
            if (length == 0) {
                blankOwed = !result.isEmpty();
                continue;
            }
            if (!result.isEmpty())
                result.append(blankOwed ? QStringLiteral("\n\n") : QStringLiteral("\n"));
            result.append(line.first(length));
            blankOwed = false;
        }
        return result;
    }

    static constexpr qsizetype MaxListLevels = 32;

    struct List {
        bool ordered;
        int next;
    };

    QStringView in;
    qsizetype at = 0;
    QString out;
    int owedBreaks = 0;
    bool pendingSpace = false;
    int pre = 0;
    std::vector<List> lists;
    qsizetype listDepth = 0;
};

}  // namespace

QString HtmlToText(QStringView html)
{
    return Converter(html).run();
}
