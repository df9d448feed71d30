// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/Desktop.h"

#include "platform/QtDesktop.h"

#include <QApplication>

namespace platform {

namespace {
Desktop *g_replacement = nullptr;
QString g_errorTitle;
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

QString errorTitle()
{
    return g_errorTitle;
}

void setErrorTitle(const QString &title)
{
    g_errorTitle = title;
}

QString withFullStop(const QString &text)
{
    if (!text.isEmpty() && text.back().unicode() > u'.')
        return text + QLatin1Char('.');
    return text;
}

void showErrorBox(const QString &text)
{
    showOkBox(QApplication::activeWindow(), g_errorTitle, withFullStop(text), BoxIcon::Error);
}

QString displayLineBreaks(const QString &text)
{
    QString out = text;
    out.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    out.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    return out;
}

}  // namespace platform
