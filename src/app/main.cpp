// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/TForm1.h"
#include "app/TarnbeckApplication.h"

#include <QIcon>

int main(int argc, char *argv[])
{
    TarnbeckApplication app(argc, argv);
    TarnbeckApplication::setTitle(QStringLiteral("Tarnbeck"));
    // The name picks the config folder of an installed copy (~/.config/Tarnbeck);
    // the desktop file name lets the desktop match the window to its entry.
    QCoreApplication::setApplicationName(QStringLiteral("Tarnbeck"));
    QGuiApplication::setDesktopFileName(QStringLiteral("org.tarnbeck.Tarnbeck"));
    QIcon icon;
    for (const char *size : {"16", "32", "48", "256"})
        icon.addFile(QStringLiteral(":/icons/%1/org.tarnbeck.Tarnbeck.png").arg(QLatin1String(size)));
    QGuiApplication::setWindowIcon(icon);
    int result = 0;
    {
        TForm1 form;
        form.show();
        result = app.exec();
    }  // the window is destroyed here, which saves the settings
    return result;
}
