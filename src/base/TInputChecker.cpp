// SPDX-License-Identifier: GPL-3.0-or-later
#include "base/TInputChecker.h"

#include "base/Ipv4Address.h"

namespace {

bool isDigit(QChar c)
{
    return c.unicode() >= '0' && c.unicode() <= '9';
}

}  // namespace

TInputChecker::TInputChecker(QObject *owner)
    : QObject(owner), About(QStringLiteral("TInputChecker v1.0"))
{
}

bool TInputChecker::IsNumber(const QString &text) const
{
    for (QChar c : text) {
        if (!isDigit(c))
            return false;
    }
    return true;
}

int TInputChecker::CountChar(const QString &text, QChar character) const
{
    int count = 0;
    for (QChar c : text) {
        if (c == character)
            ++count;
    }
    return count;
}

bool TInputChecker::IsIPAddress(const QString &text) const
{
    return parseIpv4(text).has_value();
}
