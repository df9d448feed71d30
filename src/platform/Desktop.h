// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QList>
#include <QSize>
#include <QString>
#include <QStringList>

class QWidget;

// The seam between the program and the desktop: everything that would show a
// modal window, ask the user or hand something to another program goes through
// here, so tests can answer in advance instead of clicking real dialogs.
namespace platform {

enum class BoxIcon { Information, Warning, Error };
enum class BoxButton { None, Ok, Yes, No, Cancel };

struct MessageBoxRequest {
    QWidget *parent = nullptr;
    QString title;
    QString text;  // may hold CR, LF or CR LF line breaks
    // Shown below the text in a smaller font; none when empty.
    QString informativeText;
    BoxIcon icon = BoxIcon::Information;
    QList<BoxButton> buttons;
    // Captions in place of the buttons' usual ones ("&Yes", "&No", "OK",
    // "Cancel"), one per button in the same order; the usual ones when empty.
    QStringList captions;
    BoxButton defaultButton = BoxButton::None;
    BoxButton escapeButton = BoxButton::None;
};

struct SaveFileRequest {
    QWidget *parent = nullptr;
    QString defaultSuffix;  // without the dot, e.g. "txt"
    QString filter;         // Qt filter text, e.g. "Text File (*.txt)"
    bool confirmOverwrite = true;
};

class Desktop {
public:
    virtual ~Desktop() = default;

    // Shows a modal box and returns the button pressed; closing the box any
    // other way returns the escape button (or None when there is none).
    virtual BoxButton messageBox(const MessageBoxRequest &request) = 0;
    // Returns the chosen file name, or an empty string when cancelled.
    virtual QString saveFileName(const SaveFileRequest &request) = 0;
    virtual QSize primaryScreenSize() = 0;
    // The desktop's default action on a mailto: or http: address.
    virtual bool openUrl(const QString &target) = 0;
};

// The desktop in use. Defaults to the real one; tests install a stub.
Desktop &desktop();
// Installs a replacement (not owned); nullptr restores the real desktop.
void setDesktop(Desktop *replacement);

// Shows a box with one OK button (also the default and escape button).
void showOkBox(QWidget *parent, const QString &title, const QString &text, BoxIcon icon);

// The error display: a failure's text in a box with the error icon and one
// OK button, captioned with the application title, with a full stop appended
// when the text's last character sorts after ".".
void showErrorBox(const QString &text);
QString errorTitle();
void setErrorTitle(const QString &title);
QString withFullStop(const QString &text);

// Turns a lone CR (as in "line one\rline two") into a line break that a Qt
// label shows, keeping CR LF and LF as one break each.
QString displayLineBreaks(const QString &text);

}  // namespace platform
