// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QObject>
#include <QString>

// Answers questions about text typed by the user: is it a decimal number, how
// often does a character occur in it, is it a dotted-decimal IPv4 address.
// Keeps no state between calls.
class TInputChecker : public QObject {
    Q_OBJECT
    Q_PROPERTY(QString About MEMBER About)
public:
    explicit TInputChecker(QObject *owner = nullptr);

    bool IsNumber(const QString &text) const;
    int CountChar(const QString &text, QChar character) const;
    bool IsIPAddress(const QString &text) const;

    QString About;
};
