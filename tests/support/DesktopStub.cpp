// SPDX-License-Identifier: GPL-3.0-or-later
#include "support/DesktopStub.h"

DesktopStub::DesktopStub()
{
    platform::setDesktop(this);
}

DesktopStub::~DesktopStub()
{
    // A newer stub may already have taken over.
    if (&platform::desktop() == this)
        platform::setDesktop(nullptr);
}

platform::BoxButton DesktopStub::messageBox(const platform::MessageBoxRequest &request)
{
    boxes.append(request);
    if (whileBoxOpen)
        whileBoxOpen(request);
    if (!answers.isEmpty())
        return answers.dequeue();
    if (request.defaultButton != platform::BoxButton::None)
        return request.defaultButton;
    return platform::BoxButton::Ok;
}

QString DesktopStub::saveFileName(const platform::SaveFileRequest &request)
{
    saveDialogs.append(request);
    return fileNames.isEmpty() ? QString() : fileNames.dequeue();
}

QSize DesktopStub::primaryScreenSize()
{
    return screen;
}

bool DesktopStub::openUrl(const QString &target)
{
    openedUrls.append(target);
    return true;
}
