// SPDX-License-Identifier: GPL-3.0-or-later
#include "mailbox/MailRowOrder.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <numeric>

namespace {

inline uchar upper(char c)
{
    const auto u = static_cast<uchar>(c);
    return (u >= 'a' && u <= 'z') ? static_cast<uchar>(u - ('a' - 'A')) : u;
}

// A text as the comparison sees it: `head` read in upper case, then `tail`
// (already upper case). Lets the subject key be compared without building it.
struct TextKey {
    QByteArrayView head;
    QByteArrayView tail;
};

const QByteArrayView kReply("RE:", 3);

TextKey subjectKeyOf(QByteArrayView subject)
{
    if (subject.size() >= 3 && upper(subject[0]) == 'R' && upper(subject[1]) == 'E' && subject[2] == ':') {
        // The prefix goes to the end and the result is trimmed; as it ends in
        // ':', only the blanks (codes 0 to 32) after the prefix go.
        QByteArrayView rest = subject.sliced(3);
        qsizetype skip = 0;
        while (skip < rest.size() && static_cast<uchar>(rest[skip]) <= 32)
            ++skip;
        return {rest.sliced(skip), kReply};
    }
    return {subject, {}};
}

int compareKeys(const TextKey &a, const TextKey &b)
{
    const qsizetype lengthA = a.head.size() + a.tail.size();
    const qsizetype lengthB = b.head.size() + b.tail.size();
    const qsizetype common = std::min(lengthA, lengthB);
    const auto at = [](const TextKey &key, qsizetype i) {
        return i < key.head.size() ? upper(key.head[i]) : static_cast<uchar>(key.tail[i - key.head.size()]);
    };
    for (qsizetype i = 0; i < common; ++i) {
        const uchar x = at(a, i);
        const uchar y = at(b, i);
        if (x != y)
            return int(x) - int(y);
    }
    return (lengthA > lengthB) - (lengthA < lengthB);
}

// ID and Bytes, read once per row for a sort.
struct NumberKey {
    bool isNumber;
    qint32 value;
};

int compareNumberKeys(const NumberKey &a, QByteArrayView textA, const NumberKey &b, QByteArrayView textB)
{
    if (a.isNumber && b.isNumber)
        return (a.value > b.value) - (a.value < b.value);
    if (a.isNumber != b.isNumber)
        return a.isNumber ? 1 : -1;
    return compareKeys({textA, {}}, {textB, {}});
}

NumberKey numberKeyOf(QByteArrayView text)
{
    NumberKey key{false, 0};
    key.isNumber = MailRowOrder::parseNumber(text, &key.value);
    return key;
}

}  // namespace

int MailRowOrder::compareText(QByteArrayView a, QByteArrayView b)
{
    return compareKeys({a, {}}, {b, {}});
}

QByteArray MailRowOrder::subjectKey(QByteArrayView subject)
{
    const TextKey key = subjectKeyOf(subject);
    QByteArray result;
    result.reserve(key.head.size() + key.tail.size());
    for (char c : key.head)
        result.append(static_cast<char>(upper(c)));
    result.append(key.tail);
    return result;
}

bool MailRowOrder::parseNumber(QByteArrayView text, qint32 *value)
{
    qsizetype i = 0;
    bool negative = false;
    if (!text.isEmpty() && (text[0] == '-' || text[0] == '+')) {
        negative = text[0] == '-';
        i = 1;
    }
    if (i >= text.size())
        return false;
    const qint64 limit = negative ? -qint64(std::numeric_limits<qint32>::min()) : std::numeric_limits<qint32>::max();
    qint64 magnitude = 0;
    for (; i < text.size(); ++i) {
        const char c = text[i];
        if (c < '0' || c > '9')
            return false;
        magnitude = magnitude * 10 + (c - '0');
        if (magnitude > limit)
            return false;
    }
    *value = static_cast<qint32>(negative ? -magnitude : magnitude);
    return true;
}

int MailRowOrder::compareNumbers(QByteArrayView a, QByteArrayView b)
{
    return compareNumberKeys(numberKeyOf(a), a, numberKeyOf(b), b);
}

int MailRowOrder::compare(int column, bool ascending, const MailRow &a, const MailRow &b, bool decodedHeaders)
{
    if (column < 1 || column > MailRow::SubItemCount)
        return 0;
    const int k = column - 1;
    // Swapping the operands reverses the order.
    const QByteArrayView x = (ascending ? a : b).shown(k, decodedHeaders);
    const QByteArrayView y = (ascending ? b : a).shown(k, decodedHeaders);
    switch (k) {
    case MailRow::Id:
    case MailRow::Bytes:
        return compareNumbers(x, y);
    case MailRow::Subject:
        return compareKeys(subjectKeyOf(x), subjectKeyOf(y));
    default:
        return compareText(x, y);
    }
}

std::vector<int> MailRowOrder::sortedOrder(std::span<const MailRow> rows, int column, bool ascending,
                                           bool decodedHeaders)
{
    std::vector<int> order(rows.size());
    if (column < 1 || column > MailRow::SubItemCount) {
        std::iota(order.begin(), order.end(), 0);
        return order;
    }
    const int k = column - 1;
    const bool numeric = k == MailRow::Id || k == MailRow::Bytes;

    // Each row's key is built once, upper-cased, into one buffer, and its
    // first bytes packed into an integer: most comparisons then decide on
    // that integer without touching the texts, which keeps a sort of a large
    // mailbox in the cache. Equal prefixes fall back to the whole key.
    struct Entry {
        quint64 prefix;
        qsizetype offset;
        qsizetype length;
        int row;
    };
    std::vector<Entry> entries;
    entries.reserve(rows.size());
    QByteArray keys;
    if (!numeric) {
        qsizetype total = 0;
        for (const MailRow &row : rows)
            total += row.shown(k, decodedHeaders).size() + kReply.size();
        keys.reserve(total);
    }
    for (size_t r = 0; r < rows.size(); ++r) {
        const QByteArrayView text = rows[r].shown(k, decodedHeaders);
        Entry entry{0, keys.size(), 0, static_cast<int>(r)};
        qint32 number = 0;
        const bool isNumber = numeric && parseNumber(text, &number);
        if (!isNumber) {
            const TextKey key = k == MailRow::Subject ? subjectKeyOf(text) : TextKey{text, {}};
            entry.length = key.head.size() + key.tail.size();
            keys.resize(entry.offset + entry.length);
            char *out = keys.data() + entry.offset;
            for (char c : key.head)
                *out++ = static_cast<char>(upper(c));
            if (!key.tail.isEmpty())
                std::memcpy(out, key.tail.data(), static_cast<size_t>(key.tail.size()));
            for (qsizetype i = 0; i < 8; ++i) {
                const uchar byte = i < entry.length ? static_cast<uchar>(keys[entry.offset + i]) : 0;
                entry.prefix = (entry.prefix << 8) | byte;
            }
        }
        if (numeric) {
            // Numbers after all other texts: the top bit tells them apart.
            entry.prefix = isNumber ? (quint64(1) << 63) | (static_cast<quint32>(number) ^ 0x80000000u)
                                    : entry.prefix >> 1;
        }
        entries.push_back(entry);
    }

    const char *const buffer = keys.constData();
    const auto less = [buffer](const Entry &a, const Entry &b) {
        if (a.prefix != b.prefix)
            return a.prefix < b.prefix;
        // The whole keys decide; equal numbers have no key text and tie.
        const auto common = static_cast<size_t>(std::min(a.length, b.length));
        const int bytes = common > 0 ? std::memcmp(buffer + a.offset, buffer + b.offset, common) : 0;
        return bytes != 0 ? bytes < 0 : a.length < b.length;
    };
    const auto greater = [&less](const Entry &a, const Entry &b) { return less(b, a); };
    if (ascending)
        std::stable_sort(entries.begin(), entries.end(), less);
    else
        std::stable_sort(entries.begin(), entries.end(), greater);
    for (size_t i = 0; i < entries.size(); ++i)
        order[i] = entries[i].row;
    return order;
}
