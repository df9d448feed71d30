// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QApplication>
#include <QString>

// The application object. Its notify() is the last stop for a failure that
// escapes an event handler: the failure's text is shown in an error box and
// the program goes on with the next event.
class TarnbeckApplication : public QApplication {
    Q_OBJECT
public:
    TarnbeckApplication(int &argc, char **argv);

    bool notify(QObject *receiver, QEvent *event) override;

    // The application title: the caption of the error boxes.
    static QString title();
    static void setTitle(const QString &text);

    // Shows a failure's text the way the error display does: error icon, one
    // OK button, the application title as caption, with a full stop appended
    // when the text's last character sorts after ".".
    static void showError(const QString &text);
    static QString withFullStop(const QString &text);
};
