// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QStatusBar>
#include <QString>

class QLabel;

// A status bar that is one text over its whole width: no panels, no size grip.
class StatusTextBar : public QStatusBar {
    Q_OBJECT
public:
    explicit StatusTextBar(QWidget *parent = nullptr);

    QString text() const;
    void setText(const QString &text);

private:
    QLabel *label;
};
