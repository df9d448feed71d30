// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "platform/Desktop.h"

namespace platform {

// The real desktop: Qt's message boxes, file dialog, screen and URL handler.
class QtDesktop final : public Desktop {
public:
    BoxButton messageBox(const MessageBoxRequest &request) override;
    QString saveFileName(const SaveFileRequest &request) override;
    QSize primaryScreenSize() override;
    bool openUrl(const QString &target) override;
};

}  // namespace platform
