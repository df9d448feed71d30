// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

#include <exception>

// A failure that ends the action of an event handler; the application's
// error display shows its text.
class AppFailure : public std::exception {
public:
    explicit AppFailure(QString text) : message(std::move(text)), utf8(message.toUtf8()) {}
    const QString &text() const noexcept { return message; }
    const char *what() const noexcept override { return utf8.constData(); }

private:
    QString message;
    QByteArray utf8;
};
