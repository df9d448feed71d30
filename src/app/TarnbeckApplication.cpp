// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/TarnbeckApplication.h"

#include "base/AppFailure.h"
#include "platform/Desktop.h"

#include <exception>

TarnbeckApplication::TarnbeckApplication(int &argc, char **argv) : QApplication(argc, argv) {}

bool TarnbeckApplication::notify(QObject *receiver, QEvent *event)
{
    try {
        return QApplication::notify(receiver, event);
    } catch (const AppFailure &failure) {
        showError(failure.text());
    } catch (const std::exception &failure) {
        showError(QString::fromLocal8Bit(failure.what()));
    }
    return false;
}

QString TarnbeckApplication::title()
{
    return platform::errorTitle();
}

void TarnbeckApplication::setTitle(const QString &text)
{
    platform::setErrorTitle(text);
}

QString TarnbeckApplication::withFullStop(const QString &text)
{
    return platform::withFullStop(text);
}

void TarnbeckApplication::showError(const QString &text)
{
    platform::showErrorBox(text);
}
