#include "app/TarnbeckApplication.h"

#include "app/AppFailure.h"
#include "platform/Desktop.h"

#include <exception>

namespace {
QString g_title;
}

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
    return g_title;
}

void TarnbeckApplication::setTitle(const QString &text)
{
    g_title = text;
}

QString TarnbeckApplication::withFullStop(const QString &text)
{
    if (!text.isEmpty() && text.back().unicode() > u'.')
        return text + QLatin1Char('.');
    return text;
}

void TarnbeckApplication::showError(const QString &text)
{
    platform::showOkBox(QApplication::activeWindow(), title(), withFullStop(text), platform::BoxIcon::Error);
}
