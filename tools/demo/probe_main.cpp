// SPDX-License-Identifier: GPL-3.0-or-later
// A stand-in for the program in the demo's own test: started by
// tarnbeck-demo from the demo folder, it reads the settings file next to
// itself as the program would and logs in to the server it names.
//
//   tarnbeck-demo-probe             check the account, write probe-port.txt, exit
//   TARNBECK_PROBE_INTERRUPT=1 ...  the same, then SIGTERM to the demo and wait to be ended
//   tarnbeck-demo-probe --closed N  exit 0 when nothing listens on loopback port N
//   tarnbeck-demo-probe --available exit 0 when Dovecot can run here, else 77

#include "demo/DemoLauncher.h"
#include "settings/PasswordScrambler.h"
#include "settings/ProfileFile.h"
#include "support/DovecotServer.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QFile>
#include <QTcpSocket>
#include <QTextStream>
#include <QThread>

#if defined(Q_OS_UNIX)
#include <signal.h>
#include <unistd.h>
#endif

namespace {

constexpr int TimeoutMs = 10000;

int fail(const QString &why)
{
    QTextStream(stderr) << "tarnbeck-demo-probe: " << why << Qt::endl;
    return 1;
}

QByteArray readLine(QTcpSocket &socket)
{
    const QDeadlineTimer deadline(TimeoutMs);
    while (!socket.canReadLine() && !deadline.hasExpired())
        socket.waitForReadyRead(int(qMax<qint64>(1, deadline.remainingTime())));
    return socket.readLine().trimmed();
}

int checkAccount()
{
    const QString dir = QCoreApplication::applicationDirPath();
    const ProfileFile ini(dir + QStringLiteral("/Tarnbeck.ini"));
    const QByteArray user = ini.readString("Default", "UserID", QByteArray());
    const QByteArray password = UnscramblePassword(ini.readString("Default", "Password", QByteArray()), UserKey(user));
    const QByteArray server = ini.readString("Default", "Server", QByteArray());
    const QByteArray port = ini.readString("Default", "Port", QByteArray());
    if (ini.readString("Servers", server, QByteArray()).isEmpty())
        return fail(QStringLiteral("server %1 is not among the known servers").arg(QString::fromUtf8(server)));

    QFile portFile(dir + QStringLiteral("/probe-port.txt"));
    if (!portFile.open(QIODevice::WriteOnly | QIODevice::Truncate) || portFile.write(port) != port.size())
        return fail(QStringLiteral("cannot write %1").arg(portFile.fileName()));
    portFile.close();

    QTcpSocket socket;
    socket.connectToHost(QString::fromUtf8(server), port.toUShort());
    if (!socket.waitForConnected(TimeoutMs))
        return fail(QStringLiteral("cannot connect to %1:%2: %3")
                        .arg(QString::fromUtf8(server), QString::fromUtf8(port), socket.errorString()));
    const QByteArray greeting = readLine(socket);
    socket.write("USER " + user + "\r\nPASS " + password + "\r\nSTAT\r\n");
    const QByteArray userReply = readLine(socket);
    const QByteArray passReply = readLine(socket);
    const QByteArray stat = readLine(socket);
    socket.write("QUIT\r\n");
    readLine(socket);
    const QByteArray expected = "+OK " + QByteArray::number(DemoLauncher::MessageCount) + ' ';
    if (!greeting.startsWith("+OK") || !userReply.startsWith("+OK") || !passReply.startsWith("+OK")
        || !stat.startsWith(expected))
        return fail(QStringLiteral("unexpected conversation: %1 | %2 | %3 | %4")
                        .arg(QString::fromUtf8(greeting), QString::fromUtf8(userReply),
                             QString::fromUtf8(passReply), QString::fromUtf8(stat)));
    QTextStream(stdout) << "logged in as " << user << " at " << server << ':' << port << ": " << stat << Qt::endl;
    return 0;
}

}  // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList arguments = QCoreApplication::arguments();
    if (arguments.size() == 2 && arguments.at(1) == QLatin1String("--available")) {
        QString why;
        if (DovecotServer::isAvailable(&why))
            return 0;
        QTextStream(stdout) << "SKIP: " << why << Qt::endl;
        return 77;
    }
    if (arguments.size() == 3 && arguments.at(1) == QLatin1String("--closed")) {
        QTcpSocket socket;
        socket.connectToHost(QStringLiteral("127.0.0.1"), arguments.at(2).toUShort());
        if (socket.waitForConnected(2000))
            return fail(QStringLiteral("something still listens on port %1").arg(arguments.at(2)));
        return 0;
    }

    const int result = checkAccount();
    if (result != 0 || qEnvironmentVariableIntValue("TARNBECK_PROBE_INTERRUPT") != 1)
        return result;
#if defined(Q_OS_UNIX)
    ::kill(::getppid(), SIGTERM);
#endif
    // The demo is to end us now; still alive after the timeout is a failure.
    QThread::msleep(TimeoutMs);
    return fail(QStringLiteral("not ended after the demo was interrupted"));
}
