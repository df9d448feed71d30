// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/StatusTextBar.h"

#include <QLabel>

StatusTextBar::StatusTextBar(QWidget *parent) : QStatusBar(parent), label(new QLabel(this))
{
    setSizeGripEnabled(false);
    label->setObjectName(QStringLiteral("msgBarText"));
    label->setTextFormat(Qt::PlainText);
    label->setMinimumWidth(1);  // long texts are cut, never widen the window
    addWidget(label, 1);
}

QString StatusTextBar::text() const
{
    return label->text();
}

void StatusTextBar::setText(const QString &text)
{
    label->setText(text);
}
