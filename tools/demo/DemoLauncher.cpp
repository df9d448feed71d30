// SPDX-License-Identifier: GPL-3.0-or-later
#include "demo/DemoLauncher.h"

#include "settings/PasswordScrambler.h"
#include "settings/ProfileFile.h"
#include "support/DovecotServer.h"

#include <QCoreApplication>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QSocketNotifier>
#include <QTextStream>
#include <QTimer>

#include <cerrno>
#include <cstring>

// Platform corner: stopping the server on Ctrl-C needs POSIX signals, which
// reach the event loop through a pipe (a handler may do no more than write).
#if defined(Q_OS_UNIX)
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>
#endif

namespace {

const QString DemoUser = QStringLiteral("demo");
const QString DemoPassword = QStringLiteral("tarnbeck");
const QByteArray DemoServer = QByteArrayLiteral("127.0.0.1");
// A first demo window a little larger than the minimum, so the columns read well.
constexpr int DemoWidth = 760;
constexpr int DemoHeight = 520;
constexpr int TerminateGraceMs = 5000;

int signalPipe[2] = {-1, -1};

#if defined(Q_OS_UNIX)
void forwardSignal(int number)
{
    const unsigned char byte = static_cast<unsigned char>(number);
    // Nothing to do when the pipe is full: a stop is already on its way.
    [[maybe_unused]] const ssize_t written = ::write(signalPipe[1], &byte, 1);
}
#endif

QTextStream &err()
{
    static QTextStream stream(stderr);
    return stream;
}

}  // namespace

DemoLauncher::DemoLauncher(const QString &programPath, const QString &demoDir, QObject *parent)
    : QObject(parent), program(QFileInfo(programPath).absoluteFilePath()), folder(QDir(demoDir).absolutePath())
{
    demoProgram = folder + QLatin1Char('/') + QFileInfo(program).fileName();
    connect(&process, &QProcess::finished, this, &DemoLauncher::onProgramFinished);
    connect(&process, &QProcess::errorOccurred, this, &DemoLauncher::onProgramError);
}

DemoLauncher::~DemoLauncher()
{
    if (process.state() != QProcess::NotRunning) {
        process.kill();
        process.waitForFinished();
    }
    if (server)
        server->stop();
}

int DemoLauncher::run()
{
    QString why;
    const auto fail = [&why](const QString &what) {
        err() << "tarnbeck-demo: " << what << ": " << why << Qt::endl;
        return 1;
    };
    if (!installSignalHandlers(&why))
        return fail(QStringLiteral("cannot catch signals"));
    if (!DovecotServer::isAvailable(&why))
        return fail(QStringLiteral("no demo server"));
    if (!copyProgram(&why))
        return fail(QStringLiteral("cannot set up the demo folder"));

    DovecotServer::Options options;
    options.user = DemoUser;
    options.password = DemoPassword;
    // For the test of scripts/run.sh: what the program said to the server,
    // seen from the server's side.
    options.rawlog = qEnvironmentVariableIntValue("TARNBECK_DEMO_RAWLOG") == 1;
    server = std::make_unique<DovecotServer>(options);
    if (server->addMessages(MessageCount, MailboxSeed).size() != MessageCount) {
        why = server->mailDir();
        return fail(QStringLiteral("cannot write the demo mailbox"));
    }
    if (!server->start(&why))
        return fail(QStringLiteral("cannot start the demo server"));
    if (!writeSettings(&why)) {
        server->stop();
        return fail(QStringLiteral("cannot write the demo settings"));
    }

    // A signal that came while the server was starting ends the demo here.
    QCoreApplication::processEvents();
    if (caughtSignal != 0) {
        server->stop();
        return 128 + caughtSignal;
    }

    const QString rawlogNote =
        options.rawlog
            ? QStringLiteral(", the sessions' rawlog in %1").arg(QDir::toNativeSeparators(server->rawlogDir()))
            : QString();
    QTextStream(stdout) << "Demo POP3 server on " << DemoServer << " port " << server->port() << ", user "
                        << DemoUser << ", password " << DemoPassword << ", " << MessageCount << " messages.\n"
                        << "Its configuration and log are in " << QDir::toNativeSeparators(server->workDir())
                        << rawlogNote << ".\n"
                        << "Tarnbeck opens from " << QDir::toNativeSeparators(folder)
                        << " with that account filled in: press Connect. Closing it stops the server."
                        << Qt::endl;

    process.setProcessChannelMode(QProcess::ForwardedChannels);
    process.setWorkingDirectory(folder);
    process.start(demoProgram, QStringList());
    loop.exec();

    server->stop();
    return result;
}

bool DemoLauncher::installSignalHandlers(QString *whyNot)
{
#if defined(Q_OS_UNIX)
    if (::pipe(signalPipe) != 0) {
        *whyNot = QString::fromLocal8Bit(::strerror(errno));
        return false;
    }
    for (const int fd : signalPipe) {
        ::fcntl(fd, F_SETFD, FD_CLOEXEC);
        ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
    }
    signalNotifier = new QSocketNotifier(signalPipe[0], QSocketNotifier::Read, this);
    connect(signalNotifier, &QSocketNotifier::activated, this, &DemoLauncher::onSignal);

    struct sigaction action = {};
    action.sa_handler = forwardSignal;
    ::sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (const int number : {SIGINT, SIGTERM, SIGHUP}) {
        if (::sigaction(number, &action, nullptr) != 0) {
            *whyNot = QString::fromLocal8Bit(::strerror(errno));
            return false;
        }
    }
#else
    Q_UNUSED(whyNot)
#endif
    return true;
}

bool DemoLauncher::copyProgram(QString *whyNot)
{
    if (!QFileInfo(program).isExecutable()) {
        *whyNot = QStringLiteral("%1 is not an executable program").arg(program);
        return false;
    }
    if (!QDir().mkpath(folder)) {
        *whyNot = QStringLiteral("cannot create %1").arg(folder);
        return false;
    }
    // A fresh copy each time, so the demo runs the program just built.
    const QString partial = demoProgram + QStringLiteral(".part");
    QFile::remove(partial);
    if (!QFile::copy(program, partial)) {
        *whyNot = QStringLiteral("cannot copy %1 to %2").arg(program, partial);
        return false;
    }
    QFile::setPermissions(partial, QFileInfo(program).permissions() | QFile::ExeOwner | QFile::ReadOwner);
    QFile::remove(demoProgram);
    if (!QFile::rename(partial, demoProgram)) {
        *whyNot = QStringLiteral("cannot rename %1 to %2").arg(partial, demoProgram);
        return false;
    }
    return true;
}

bool DemoLauncher::writeSettings(QString *whyNot)
{
    // The account changes every run (the port is free-chosen); whatever else
    // the demo program saved there, such as its window size, stays.
    ProfileFile ini(folder + QStringLiteral("/Tarnbeck.ini"));
    const QByteArray user = DemoUser.toUtf8();
    bool written = true;
    if (ini.readInteger("Windows", "Width", -1) < 0) {
        written = written && ini.writeBool("Windows", "Maximize", false);
        written = written && ini.writeInteger("Windows", "Height", DemoHeight);
        written = written && ini.writeInteger("Windows", "Width", DemoWidth);
    }
    // A new user sees senders and subjects at once; a choice saved by the
    // demo program since is kept.
    for (const char *key : {"DecodeHeaders", "AutoHeaders"}) {
        if (ini.readInteger("Default", key, -1) < 0)
            written = written && ini.writeBool("Default", key, true);
    }
    written = written && ini.writeString("Default", "UserID", user);
    written = written
        && ini.writeString("Default", "Password", ScramblePassword(DemoPassword.toUtf8(), UserKey(user)));
    written = written && ini.writeString("Default", "Server", DemoServer);
    written = written && ini.writeString("Default", "Port", QByteArray::number(server->port()));
    written = written && ini.writeString("Servers", DemoServer, QByteArrayLiteral("110"));
    if (!written) {
        *whyNot = QStringLiteral("a settings name was refused");
        return false;
    }
    if (!ini.save()) {
        *whyNot = ini.errorString();
        return false;
    }
    return true;
}

void DemoLauncher::onSignal()
{
#if defined(Q_OS_UNIX)
    unsigned char byte = 0;
    while (::read(signalPipe[0], &byte, 1) == 1)
        caughtSignal = byte;
#endif
    if (process.state() == QProcess::NotRunning) {
        result = 128 + caughtSignal;
        loop.quit();
        return;
    }
    // A terminal's Ctrl-C reaches the program too; a kill aimed at us alone
    // is passed on. Either way finished() ends the loop.
    process.terminate();
    QTimer::singleShot(TerminateGraceMs, &process, [this] {
        if (process.state() != QProcess::NotRunning)
            process.kill();
    });
}

void DemoLauncher::onProgramFinished(int exitCode, QProcess::ExitStatus status)
{
    if (caughtSignal != 0)
        result = 128 + caughtSignal;
    else
        result = status == QProcess::NormalExit ? exitCode : 1;
    loop.quit();
}

void DemoLauncher::onProgramError(QProcess::ProcessError error)
{
    // Other errors are followed by finished(); a failed start is not.
    if (error != QProcess::FailedToStart)
        return;
    err() << "tarnbeck-demo: cannot start " << demoProgram << ": " << process.errorString() << Qt::endl;
    result = 1;
    loop.quit();
}
