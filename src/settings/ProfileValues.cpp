// SPDX-License-Identifier: GPL-3.0-or-later
#include "settings/ProfileValues.h"

#include <cstdint>
#include <optional>

namespace {

// The conversion behind both forms, on text where "0x" has already become "$".
std::optional<int> convert(const QByteArray &text)
{
    qsizetype i = 0;
    const qsizetype n = text.size();
    while (i < n && (text.at(i) == ' ' || text.at(i) == '\t'))
        ++i;
    bool negative = false;
    if (i < n && (text.at(i) == '+' || text.at(i) == '-')) {
        negative = text.at(i) == '-';
        ++i;
    }
    const bool hex = i < n && text.at(i) == '$';
    if (hex)
        ++i;
    if (i == n)
        return std::nullopt;

    // Accumulated in 64 bits and checked per digit, so no text is long enough
    // to overflow.
    std::uint64_t magnitude = 0;
    const std::uint64_t limit = hex ? 0xFFFFFFFFu : (negative ? 2147483648u : 2147483647u);
    for (; i < n; ++i) {
        const int digit = hex ? hexDigitValue(text.at(i)) : (text.at(i) >= '0' && text.at(i) <= '9' ? text.at(i) - '0' : -1);
        if (digit < 0)
            return std::nullopt;
        magnitude = magnitude * (hex ? 16 : 10) + static_cast<std::uint64_t>(digit);
        if (magnitude > limit)
            return std::nullopt;
    }
    // Two's complement on 32 bits: exact for decimal (range checked above),
    // the bit pattern for hexadecimal.
    std::uint32_t bits = static_cast<std::uint32_t>(magnitude);
    if (negative)
        bits = 0u - bits;
    return static_cast<int>(static_cast<std::int32_t>(bits));
}

}  // namespace

int readProfileInteger(const QByteArray &text, int defaultValue)
{
    QByteArray converted = text;
    if (text.size() > 2 && text.at(0) == '0' && (text.at(1) == 'x' || text.at(1) == 'X'))
        converted = '$' + text.mid(2);
    return convert(converted).value_or(defaultValue);
}

bool readProfileBool(const QByteArray &text, bool defaultValue)
{
    return readProfileInteger(text, defaultValue ? 1 : 0) != 0;
}

QByteArray profileIntegerText(int value)
{
    return QByteArray::number(value);
}

QByteArray profileBoolText(bool value)
{
    return value ? QByteArrayLiteral("1") : QByteArrayLiteral("0");
}
