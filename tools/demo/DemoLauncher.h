// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QEventLoop>
#include <QObject>
#include <QProcess>
#include <QString>

#include <memory>

class DovecotServer;
class QSocketNotifier;

// Runs the demo: a local Dovecot POP3 server over a generated mailbox, and
// the program started from a demo folder of its own whose settings file
// already names that server, so a new user only presses Connect.
//
//     DemoLauncher demo(QStringLiteral("build/bin/tarnbeck"), QStringLiteral("build/demo"));
//     return demo.run();
//
// The program is copied (not linked) into the demo folder: it reads its
// settings from the directory of its resolved executable, and the settings
// next to the original must stay untouched. The server is stopped when the
// program exits, and also on SIGINT, SIGTERM or SIGHUP to this process.
// With TARNBECK_DEMO_RAWLOG=1 in the environment the server also logs every
// session after login byte for byte (DovecotServer::Options::rawlog).
class DemoLauncher : public QObject {
    Q_OBJECT
public:
    static constexpr int MessageCount = 200;
    static constexpr quint32 MailboxSeed = 20261208;

    DemoLauncher(const QString &programPath, const QString &demoDir, QObject *parent = nullptr);
    ~DemoLauncher() override;

    // Blocks until the program has exited; the result is its exit code, or
    // non-zero when the demo could not start or was interrupted.
    int run();

private:
    bool installSignalHandlers(QString *whyNot);
    bool copyProgram(QString *whyNot);
    bool writeSettings(QString *whyNot);
    void onSignal();
    void onProgramFinished(int exitCode, QProcess::ExitStatus status);
    void onProgramError(QProcess::ProcessError error);

    QString program;
    QString folder;
    QString demoProgram;
    std::unique_ptr<DovecotServer> server;
    QProcess process;
    QEventLoop loop;
    QSocketNotifier *signalNotifier = nullptr;
    int result = 0;
    int caughtSignal = 0;
};
