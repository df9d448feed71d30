// SPDX-License-Identifier: GPL-3.0-or-later
#include "controls/KeyPressFilter.h"

#include <QEvent>
#include <QKeyEvent>

KeyPressFilter::KeyPressFilter(Handler handler, QObject *parent) : QObject(parent), handler(std::move(handler)) {}

bool KeyPressFilter::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() != QEvent::KeyPress || !handler)
        return QObject::eventFilter(watched, event);
    const auto *key = static_cast<QKeyEvent *>(event);
    QChar typed;
    if (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter)
        typed = QChar(13);
    else if (!key->text().isEmpty())
        typed = key->text().at(0);
    else
        return QObject::eventFilter(watched, event);
    QChar Key = typed;
    handler(Key);
    if (Key.unicode() == 1)
        return true;
    return QObject::eventFilter(watched, event);
}
