// SPDX-License-Identifier: GPL-3.0-or-later
#include "mailbox/MailRowFilter.h"

#include "base/WireText.h"

#include <QByteArrayView>

namespace {

// Bytes the list shows as they are (as Latin-1 text): ASCII without the NUL
// and CR that the list leaves out or shows as a blank. Most header texts are;
// they are compared without making a string of each.
bool plainAscii(QByteArrayView bytes)
{
    for (const char c : bytes) {
        if (static_cast<uchar>(c) >= 0x80 || c == '\0' || c == '\r')
            return false;
    }
    return true;
}

bool plainAscii(const QString &text)
{
    for (const QChar c : text) {
        if (c.unicode() >= 0x80 || c.unicode() == 0 || c.unicode() == '\r')
            return false;
    }
    return true;
}

char lower(char c)
{
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool isBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

QByteArrayView trimmedAscii(QByteArrayView bytes)
{
    while (!bytes.isEmpty() && isBlank(bytes.front()))
        bytes = bytes.sliced(1);
    while (!bytes.isEmpty() && isBlank(bytes.back()))
        bytes.chop(1);
    return bytes;
}

// needle in small letters.
bool containsAscii(QByteArrayView haystack, QByteArrayView needle)
{
    if (needle.size() > haystack.size())
        return false;
    for (qsizetype start = 0; start + needle.size() <= haystack.size(); ++start) {
        qsizetype i = 0;
        while (i < needle.size() && lower(haystack[start + i]) == needle[i])
            ++i;
        if (i == needle.size())
            return true;
    }
    return false;
}

bool equalAscii(QByteArrayView a, QByteArrayView lowered)
{
    if (a.size() != lowered.size())
        return false;
    for (qsizetype i = 0; i < a.size(); ++i) {
        if (lower(a[i]) != lowered[i])
            return false;
    }
    return true;
}

// The address part of an ASCII From text, as senderAddress finds it.
QByteArrayView addressOf(QByteArrayView from)
{
    const qsizetype open = from.lastIndexOf('<');
    if (open >= 0) {
        const qsizetype close = from.indexOf('>', open + 1);
        if (close > open)
            return trimmedAscii(from.sliced(open + 1, close - open - 1));
    }
    return trimmedAscii(from);
}

// The text to look for, prepared once: in small letters when it is plain
// ASCII (then compared byte by byte where the row's text is plain too).
struct Needle {
    QString text;
    QByteArray lowered;
    bool ascii = false;

    explicit Needle(const QString &t) : text(t), ascii(plainAscii(t))
    {
        if (ascii)
            lowered = t.toLatin1().toLower();
    }

    bool foundIn(const MailRow &row, int subItem, bool decoded) const
    {
        const QByteArrayView shown = row.shown(subItem, decoded);
        if (ascii && plainAscii(shown))
            return containsAscii(shown, lowered);
        return MailRowFilter::shownText(row, subItem, decoded).contains(text, Qt::CaseInsensitive);
    }

    bool isAddressOf(const MailRow &row, bool decoded) const
    {
        const QByteArrayView from = row.shown(MailRow::From, decoded);
        if (ascii && plainAscii(from))
            return equalAscii(addressOf(from), lowered);
        const QString address = MailRowFilter::senderAddress(MailRowFilter::shownText(row, MailRow::From, decoded));
        return address.compare(text, Qt::CaseInsensitive) == 0;
    }
};

// A size as LIST gave it: decimal digits only; false for anything else.
bool sizeOf(QByteArrayView text, qint64 *value)
{
    if (text.isEmpty() || text.size() > 18)
        return false;
    qint64 number = 0;
    for (const char c : text) {
        if (c < '0' || c > '9')
            return false;
        number = number * 10 + (c - '0');
    }
    *value = number;
    return true;
}

}  // namespace

QString MailRowFilter::shownText(const MailRow &row, int subItem, bool decodedHeaders)
{
    if (subItem < 0 || subItem >= MailRow::SubItemCount)
        return {};
    return decodeWireLine(row.shown(subItem, decodedHeaders).toByteArray());
}

QString MailRowFilter::senderAddress(const QString &from)
{
    const qsizetype open = from.lastIndexOf(QLatin1Char('<'));
    if (open >= 0) {
        const qsizetype close = from.indexOf(QLatin1Char('>'), open + 1);
        if (close > open)
            return from.mid(open + 1, close - open - 1).trimmed();
    }
    return from.trimmed();
}

QList<int> MailRowFilter::fromSender(std::span<const MailRow> rows, const QString &address, bool decodedHeaders)
{
    QList<int> found;
    if (address.isEmpty())
        return found;
    const Needle needle(address);
    for (size_t r = 0; r < rows.size(); ++r) {
        if (rows[r].headed && needle.isAddressOf(rows[r], decodedHeaders))
            found.append(static_cast<int>(r));
    }
    return found;
}

QList<int> MailRowFilter::matching(std::span<const MailRow> rows, const Rule &rule, bool decodedHeaders)
{
    QList<int> found;
    if (!rule.hasCondition())
        return found;
    const Needle needle(rule.text);
    const qint64 limit = rule.minimumKB > 0 ? rule.minimumKB * 1024 : -1;
    for (size_t r = 0; r < rows.size(); ++r) {
        const MailRow &row = rows[r];
        if (limit >= 0) {
            qint64 size = 0;
            if (!sizeOf(row.texts[MailRow::Bytes], &size) || size <= limit)
                continue;
        }
        if (!rule.text.isEmpty()) {
            const bool any = rule.field == AnyField;
            const bool hit =
                ((any || rule.field == SubjectField) && needle.foundIn(row, MailRow::Subject, decodedHeaders)) ||
                ((any || rule.field == FromField) && needle.foundIn(row, MailRow::From, decodedHeaders)) ||
                ((any || rule.field == ToField) && needle.foundIn(row, MailRow::To, decodedHeaders));
            if (!hit)
                continue;
        }
        found.append(static_cast<int>(r));
    }
    return found;
}
