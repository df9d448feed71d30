// SPDX-License-Identifier: GPL-3.0-or-later
#include "base/Ipv4Address.h"

std::optional<quint32> parseIpv4(QStringView text)
{
    quint32 address = 0;
    int parts = 0;
    qsizetype start = 0;
    while (parts < 4) {
        qsizetype end = text.indexOf(QLatin1Char('.'), start);
        if (end < 0)
            end = text.size();
        const QStringView part = text.mid(start, end - start);
        if (part.isEmpty())
            return std::nullopt;
        // Leading zeros do not count, so a long run of digits is judged
        // without ever taking more than three of them.
        uint value = 0;
        int significant = 0;
        for (const QChar c : part) {
            if (c.unicode() < u'0' || c.unicode() > u'9')
                return std::nullopt;
            if (value == 0 && c.unicode() == u'0')
                continue;
            if (++significant > 3)
                return std::nullopt;
            value = value * 10 + uint(c.unicode() - u'0');
        }
        if (value > 255)
            return std::nullopt;
        address = (address << 8) | value;
        ++parts;
        start = end + 1;
        if (end == text.size())
            break;
    }
    if (parts != 4 || start <= text.size())
        return std::nullopt;
    return address;
}
