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

void showOkBox(QWidget *parent, const QString &title, const QString &text, BoxIcon icon)
{
    MessageBoxRequest box;
    box.parent = parent;
    box.title = title;
    box.text = text;
    box.icon = icon;
    box.buttons = {BoxButton::Ok};
    box.defaultButton = BoxButton::Ok;
    box.escapeButton = BoxButton::Ok;
    desktop().messageBox(box);
}

QString displayLineBreaks(const QString &text)
{
    QString out = text;
    out.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    out.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    return out;
}

}  // namespace platform
