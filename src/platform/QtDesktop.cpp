// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/QtDesktop.h"

#include <QDesktopServices>
#include <QFileDialog>
#include <QGuiApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QTextDocument>
#include <QUrl>

namespace platform {

namespace {

QMessageBox::Icon toQtIcon(BoxIcon icon)
{
    switch (icon) {
    case BoxIcon::Information:
        return QMessageBox::Information;
    case BoxIcon::Warning:
        return QMessageBox::Warning;
    case BoxIcon::Error:
        return QMessageBox::Critical;
    }
    return QMessageBox::NoIcon;
}

QString buttonCaption(BoxButton button)
{
    switch (button) {
    case BoxButton::Ok:
        return QStringLiteral("OK");
    case BoxButton::Yes:
        return QStringLiteral("&Yes");
    case BoxButton::No:
        return QStringLiteral("&No");
    case BoxButton::Cancel:
        return QStringLiteral("Cancel");
    case BoxButton::None:
        break;
    }
    return {};
}

QMessageBox::ButtonRole buttonRole(BoxButton button)
{
    return button == BoxButton::No || button == BoxButton::Cancel ? QMessageBox::RejectRole : QMessageBox::AcceptRole;
}

}  // namespace

BoxButton QtDesktop::messageBox(const MessageBoxRequest &request)
{
    QMessageBox box(toQtIcon(request.icon), request.title, displayLineBreaks(request.text),
                    QMessageBox::NoButton, request.parent);
    box.setTextFormat(Qt::PlainText);
    // The informative text may quote a server's subject line: it is made
    // rich text from plain text, so no markup in it is taken as such (and
    // long lines wrap).
    if (!request.informativeText.isEmpty())
        box.setInformativeText(
            Qt::convertFromPlainText(displayLineBreaks(request.informativeText), Qt::WhiteSpaceNormal));
    QList<QPair<QAbstractButton *, BoxButton>> made;
    for (qsizetype i = 0; i < request.buttons.size(); ++i) {
        const BoxButton b = request.buttons[i];
        const QString caption = request.captions.value(i);
        QPushButton *pushed = box.addButton(caption.isEmpty() ? buttonCaption(b) : caption, buttonRole(b));
        made.append({pushed, b});
        if (b == request.defaultButton)
            box.setDefaultButton(pushed);
        if (b == request.escapeButton)
            box.setEscapeButton(pushed);
    }
    box.exec();
    for (const auto &[widget, kind] : made) {
        if (box.clickedButton() == widget)
            return kind;
    }
    return request.escapeButton;
}

QString QtDesktop::saveFileName(const SaveFileRequest &request)
{
    QFileDialog dialog(request.parent);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setNameFilter(request.filter);
    dialog.setDefaultSuffix(request.defaultSuffix);
    dialog.setOption(QFileDialog::DontConfirmOverwrite, !request.confirmOverwrite);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return {};
    return dialog.selectedFiles().constFirst();
}

QSize QtDesktop::primaryScreenSize()
{
    const QScreen *screen = QGuiApplication::primaryScreen();
    return screen ? screen->geometry().size() : QSize();
}

bool QtDesktop::openUrl(const QString &target)
{
    return QDesktopServices::openUrl(QUrl(target));
}

}  // namespace platform
