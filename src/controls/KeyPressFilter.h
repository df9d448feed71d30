// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QChar>
#include <QObject>

#include <functional>

// Hands every character key typed into a widget to a handler before the
// widget sees it. The handler gets the character by reference; when it
// replaces it by the control character 1, the key does not reach the widget.
// Enter and Return come as CR (13); keys that type nothing are not reported.
class KeyPressFilter : public QObject {
    Q_OBJECT
public:
    using Handler = std::function<void(QChar &Key)>;

    KeyPressFilter(Handler handler, QObject *parent);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    Handler handler;
};
