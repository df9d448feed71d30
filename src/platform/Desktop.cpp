#include "platform/Desktop.h"

#include "platform/QtDesktop.h"

namespace platform {

namespace {
Desktop *g_replacement = nullptr;
}

Desktop &desktop()
{
    static QtDesktop real;
    return g_replacement ? *g_replacement : real;
}

void setDesktop(Desktop *replacement)
{
    g_replacement = replacement;
}

QString displayLineBreaks(const QString &text)
{
    QString out = text;
    out.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    out.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    return out;
}

}  // namespace platform
