#include "controls/TInputChecker.h"

#include <QStringView>

namespace {

bool isDigit(QChar c)
{
    return c.unicode() >= '0' && c.unicode() <= '9';
}

// A part of a dotted address passes when it is a run of digits whose value is
// at most 255. Leading zeros are skipped before the value is taken, so a long
// run of digits is judged without ever converting more than three of them.
bool isAddressPart(QStringView part)
{
    if (part.isEmpty())
        return false;
    for (QChar c : part) {
        if (!isDigit(c))
            return false;
    }
    qsizetype first = 0;
    while (first < part.size() && part[first] == QLatin1Char('0'))
        ++first;
    const QStringView significant = part.mid(first);
    if (significant.size() > 3)
        return false;
    int value = 0;
    for (QChar c : significant)
        value = value * 10 + (c.unicode() - '0');
    return value <= 255;
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
    if (CountChar(text, QLatin1Char('.')) != 3)
        return false;
    const QStringView view(text);
    qsizetype start = 0;
    for (int i = 0; i < 4; ++i) {
        qsizetype dot = view.indexOf(QLatin1Char('.'), start);
        if (dot < 0)
            dot = view.size();
        if (!isAddressPart(view.mid(start, dot - start)))
            return false;
        start = dot + 1;
    }
    return true;
}
