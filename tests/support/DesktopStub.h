// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "platform/Desktop.h"

#include <QList>
#include <QQueue>
#include <QStringList>

#include <functional>

// Stands in for the desktop in tests: records every box, dialog and URL, and
// answers as the test said beforehand. Installs itself for its lifetime.
class DesktopStub final : public platform::Desktop {
public:
    DesktopStub();
    ~DesktopStub() override;

    platform::BoxButton messageBox(const platform::MessageBoxRequest &request) override;
    QString saveFileName(const platform::SaveFileRequest &request) override;
    QSize primaryScreenSize() override;
    bool openUrl(const QString &target) override;

    // Answers for the next boxes, in order; without one a box answers with its
    // default button (or Ok).
    void setNextAnswer(platform::BoxButton answer) { answers.enqueue(answer); }
    // Forgets the answers no box has taken.
    void clearAnswers() { answers.clear(); }
    // The next save dialogs' answers, in order; without one the dialog is cancelled.
    void setNextFileName(const QString &name) { fileNames.enqueue(name); }
    void setScreenSize(QSize size) { screen = size; }

    // Runs while a box is "open", as a modal loop would let events run.
    std::function<void(const platform::MessageBoxRequest &)> whileBoxOpen;

    QList<platform::MessageBoxRequest> boxes;
    QList<platform::SaveFileRequest> saveDialogs;
    QStringList openedUrls;

private:
    QQueue<platform::BoxButton> answers;
    QQueue<QString> fileNames;
    QSize screen{1024, 768};
};
