// SPDX-License-Identifier: GPL-3.0-or-later
#include "support/DovecotServer.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QThread>

// Platform corner: a Dovecot instance is a tree of Unix processes owned by
// users; starting, handing files over and stopping it needs POSIX calls, and
// finding its processes needs Linux's /proc.
#if defined(Q_OS_LINUX)
#include <grp.h>
#include <pwd.h>
#include <signal.h>
#include <sys/types.h>
#include <unistd.h>
#endif

namespace {

const QString DovecotBinary = QStringLiteral("/usr/sbin/dovecot");
// The login process lives here on Debian (dovecot-pop3d); other layouts for good measure.
const QStringList LoginBinaries = {
    QStringLiteral("/usr/lib/dovecot/pop3-login"),
    QStringLiteral("/usr/libexec/dovecot/pop3-login"),
    QStringLiteral("/usr/local/libexec/dovecot/pop3-login"),
};
// Unix socket paths under base_dir are limited to 108 bytes; Dovecot adds up
// to about 30, so the work directory stays short.
constexpr int MaxWorkDirLength = 60;
constexpr int StartTimeoutMs = 10000;
constexpr int PortAttempts = 5;

bool runningAsRoot()
{
#if defined(Q_OS_LINUX)
    return ::geteuid() == 0;
#else
    return false;
#endif
}

QString shortTempBase()
{
    // As root the mail user must traverse every parent directory: /tmp is
    // open to all, a private TMPDIR may not be. Configuration values and the
    // password file arguments do not take blanks.
    const QString temp = QDir::tempPath();
    if (runningAsRoot() || temp.size() + 14 > MaxWorkDirLength || temp.contains(QLatin1Char(' ')))
        return QStringLiteral("/tmp");
    return temp;
}

#if defined(Q_OS_LINUX)
struct ProcInfo {
    bool alive = false; // exists and is not a zombie
    qint64 parent = 0;
    qint64 group = 0;
    QByteArrayList arguments;
};

ProcInfo procInfo(qint64 pid)
{
    ProcInfo info;
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return info;
    const QByteArray text = stat.readAll();
    // "pid (comm) S ppid pgrp ...": comm may hold anything, so split after the last ')'.
    const qsizetype close = text.lastIndexOf(')');
    if (close < 0)
        return info;
    const QByteArrayList fields = text.mid(close + 2).split(' ');
    if (fields.size() < 3)
        return info;
    const QByteArray state = fields.at(0);
    info.alive = state != "Z" && state != "X" && state != "x";
    info.parent = fields.at(1).toLongLong();
    info.group = fields.at(2).toLongLong();
    QFile cmdline(QStringLiteral("/proc/%1/cmdline").arg(pid));
    if (cmdline.open(QIODevice::ReadOnly))
        info.arguments = cmdline.readAll().split('\0');
    return info;
}

QList<qint64> allPids()
{
    QList<qint64> pids;
    const QStringList names = QDir(QStringLiteral("/proc")).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QString &name : names) {
        bool ok = false;
        const qint64 pid = name.toLongLong(&ok);
        if (ok)
            pids.append(pid);
    }
    return pids;
}
#endif

} // namespace

DovecotServer::DovecotServer() : DovecotServer(Options())
{
}

DovecotServer::DovecotServer(const Options &options)
    : opts(options),
      dir(std::make_unique<QTemporaryDir>(shortTempBase() + QStringLiteral("/tbdv-XXXXXX"))),
      mailbox(dir->path() + QStringLiteral("/Maildir"))
{
    // The unique part of the directory name tells the instance's processes apart.
    instance = QStringLiteral("tarnbeck-") + QFileInfo(dir->path()).fileName().section(QLatin1Char('-'), 1);
    asRoot = runningAsRoot();
}

DovecotServer::~DovecotServer()
{
    stop();
}

bool DovecotServer::isAvailable(QString *whyNot)
{
    const auto fail = [whyNot](const QString &reason) {
        if (whyNot)
            *whyNot = reason;
        return false;
    };
#if !defined(Q_OS_LINUX)
    return fail(QStringLiteral("the Dovecot test server runs on Linux only"));
#else
    if (!QFileInfo(DovecotBinary).isExecutable())
        return fail(QStringLiteral("Dovecot is not installed (%1 missing; install dovecot-core dovecot-pop3d)")
                        .arg(DovecotBinary));
    bool login = false;
    for (const QString &path : LoginBinaries)
        login = login || QFileInfo(path).isExecutable();
    if (!login)
        return fail(QStringLiteral("Dovecot's POP3 server is not installed (install dovecot-pop3d)"));
    if (::geteuid() == 0) {
        for (const char *name : {"mail", "dovecot", "dovenull"}) {
            if (!::getpwnam(name))
                return fail(QStringLiteral("Dovecot needs the system user %1, which is missing")
                                .arg(QLatin1String(name)));
        }
    }
    return true;
#endif
}

bool DovecotServer::makeCertificate(const QString &certificatePath, const QString &keyPath, QString *whyNot)
{
    const QString openssl = QStandardPaths::findExecutable(QStringLiteral("openssl"));
    if (openssl.isEmpty()) {
        if (whyNot)
            *whyNot = QStringLiteral("openssl is not installed");
        return false;
    }
    QProcess process;
    QStringList arguments = QStringLiteral("req -x509 -newkey rsa:2048 -nodes -days 30 -subj /CN=localhost "
                                           "-addext subjectAltName=DNS:localhost,IP:127.0.0.1")
                                .split(QLatin1Char(' '));
    arguments << QStringLiteral("-keyout") << keyPath << QStringLiteral("-out") << certificatePath;
    process.start(openssl, arguments);
    if (!process.waitForFinished(30000) || process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0) {
        if (process.state() != QProcess::NotRunning) {
            process.kill();
            process.waitForFinished();
        }
        if (whyNot) {
            // The last line says why; the ones before show key generation progress.
            const QString errors = QString::fromLocal8Bit(process.readAllStandardError()).trimmed();
            *whyNot = QStringLiteral("openssl failed: %1").arg(errors.section(QLatin1Char('\n'), -1));
        }
        return false;
    }
    return true;
}

QString DovecotServer::workDir() const
{
    return dir->path();
}

QString DovecotServer::mailDir() const
{
    return mailbox.directory();
}

QString DovecotServer::configPath() const
{
    return workDir() + QStringLiteral("/dovecot.conf");
}

QString DovecotServer::logFilePath() const
{
    return workDir() + QStringLiteral("/dovecot.log");
}

QString DovecotServer::rawlogDir() const
{
    return workDir() + QStringLiteral("/rawlog");
}

QString DovecotServer::log() const
{
    QFile file(logFilePath());
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(file.readAll());
}

bool DovecotServer::start(QString *whyNot)
{
    if (running)
        return true;
    QString reason;
    const auto fail = [&](const QString &why) {
        if (whyNot)
            *whyNot = why;
        return false;
    };
    if (!isAvailable(&reason))
        return fail(reason);
    if (!prepare(&reason))
        return fail(reason);

    for (int attempt = 0; attempt < PortAttempts; ++attempt) {
        // Ports the system hands out for port 0 are free now; another program may
        // still take one before Dovecot binds it, hence the retries.
        QTcpServer first;
        QTcpServer second;
        if (!first.listen(QHostAddress::LocalHost, 0))
            return fail(QStringLiteral("no free loopback port: %1").arg(first.errorString()));
        if (opts.tls && !second.listen(QHostAddress::LocalHost, 0))
            return fail(QStringLiteral("no free loopback port: %1").arg(second.errorString()));
        const quint16 pop3 = first.serverPort();
        const quint16 pop3s = opts.tls ? second.serverPort() : 0;
        first.close();
        second.close();

        QFile file(configPath());
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(config(pop3, pop3s)) < 0)
            return fail(QStringLiteral("cannot write %1").arg(configPath()));
        file.close();

        bool portTaken = false;
        if (launch(&reason, &portTaken)) {
            plainPort = pop3;
            securePort = pop3s;
            running = true;
            if (waitForGreeting(&reason))
                return true;
            stop();
            return fail(reason);
        }
        if (!portTaken)
            return fail(reason);
    }
    return fail(QStringLiteral("Dovecot found no free port after %1 attempts: %2").arg(PortAttempts).arg(reason));
}

bool DovecotServer::prepare(QString *whyNot)
{
    if (!dir->isValid()) {
        *whyNot = QStringLiteral("cannot create a work directory: %1").arg(dir->errorString());
        return false;
    }
    if (workDir().size() > MaxWorkDirLength) {
        *whyNot = QStringLiteral("work directory path too long for Dovecot's sockets: %1").arg(workDir());
        return false;
    }
    // A line of the password file is user:{PLAIN}password, fields end at a colon.
    const auto unsafe = [](const QString &text) {
        return text.contains(QLatin1Char(':')) || text.contains(QLatin1Char('\n')) || text.contains(QLatin1Char('\r'))
            || text.contains(QLatin1Char('\0'));
    };
    if (opts.user.isEmpty() || unsafe(opts.user) || unsafe(opts.password)) {
        *whyNot = QStringLiteral("user name or password unusable in a password file");
        return false;
    }
    if (!mailbox.prepare(whyNot))
        return false;

    QFile passwd(workDir() + QStringLiteral("/passwd"));
    const QByteArray line = opts.user.toUtf8() + ":{PLAIN}" + opts.password.toUtf8() + '\n';
    if (!passwd.open(QIODevice::WriteOnly | QIODevice::Truncate) || passwd.write(line) != line.size()) {
        *whyNot = QStringLiteral("cannot write %1").arg(passwd.fileName());
        return false;
    }
    passwd.close();

    if (opts.tls) {
        certPath = opts.certificatePath;
        keyPath = opts.keyPath;
        if (certPath.isEmpty() || keyPath.isEmpty()) {
            certPath = workDir() + QStringLiteral("/cert.pem");
            keyPath = workDir() + QStringLiteral("/key.pem");
            if (!QFileInfo::exists(certPath) && !makeCertificate(certPath, keyPath, whyNot))
                return false;
        }
    }

    const QFile::Permissions open = QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner | QFile::ReadGroup
        | QFile::ExeGroup | QFile::ReadOther | QFile::ExeOther;
    const QFile::Permissions readable = QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup | QFile::ReadOther;
    // Dovecot's own users (auth, login, mail) must reach the files; QTemporaryDir makes 0700.
    QFile::setPermissions(workDir(), open);
    QFile::setPermissions(passwd.fileName(), readable);
    handOver(mailDir());
    if (opts.rawlog) {
        // Written by the pop3 process, which serves the mail as its owner.
        if (!QDir().mkpath(rawlogDir())) {
            *whyNot = QStringLiteral("cannot create %1").arg(rawlogDir());
            return false;
        }
        handOver(rawlogDir());
    }
    return true;
}

QByteArray DovecotServer::config(quint16 pop3, quint16 pop3s) const
{
    const QByteArray work = workDir().toUtf8();
    const QByteArray maildir = mailDir().toUtf8();
    QByteArray c;
    c += "# A throwaway POP3 server for Tarnbeck's tests.\n";
    c += "protocols = pop3\n";
    c += "listen = 127.0.0.1\n";
    c += "instance_name = " + instance.toUtf8() + '\n';
    c += "base_dir = " + work + "/run\n";
    c += "state_dir = " + work + "/state\n";
    c += "log_path = " + work + "/dovecot.log\n";
    c += "info_log_path = " + work + "/dovecot.log\n";
    if (opts.tls) {
        c += "ssl = yes\n";
        c += "ssl_cert = <" + certPath.toUtf8() + '\n';
        c += "ssl_key = <" + keyPath.toUtf8() + '\n';
    } else {
        c += "ssl = no\n";
    }
    c += "disable_plaintext_auth = no\n";
    c += "auth_mechanisms = plain login\n";
    // Refusals answer at once, so tests of wrong passwords stay fast.
    c += "auth_failure_delay = 0\n";
    c += QByteArray("auth_verbose = ") + (opts.verboseAuth ? "yes" : "no") + '\n';
    c += "mail_location = maildir:" + maildir + '\n';
    // UIDLs are the file names: stable when a mailbox is regenerated.
    c += "pop3_uidl_format = %f\n";
    if (opts.rawlog)
        c += "rawlog_dir = " + rawlogDir().toUtf8() + '\n';

    QByteArray userdb = "home=" + maildir;
    QByteArray chroot;
#if defined(Q_OS_LINUX)
    if (asRoot) {
        // Dovecot will not serve mail as root.
        c += "first_valid_uid = 1\n";
        userdb = "uid=mail gid=mail " + userdb;
    } else {
        // An ordinary user cannot switch users or chroot: everything runs as us.
        const passwd *me = ::getpwuid(::geteuid());
        const group *ours = ::getgrgid(::getegid());
        const QByteArray name = me ? QByteArray(me->pw_name) : QByteArray::number(::geteuid());
        const QByteArray groupName = ours ? QByteArray(ours->gr_name) : QByteArray::number(::getegid());
        c += "default_login_user = " + name + '\n';
        c += "default_internal_user = " + name + '\n';
        c += "default_internal_group = " + groupName + '\n';
        chroot = "  chroot =\n";
    }
#endif
    c += "passdb {\n  driver = passwd-file\n  args = scheme=PLAIN username_format=%u " + work + "/passwd\n}\n";
    c += "userdb {\n  driver = static\n  args = " + userdb + "\n}\n";
    // Without the penalty socket a failed login does not slow the next ones down.
    c += "service anvil {\n" + chroot
        + "  unix_listener anvil-auth-penalty {\n    path = anvil-auth-penalty-disabled\n  }\n}\n";
    c += "service pop3-login {\n" + chroot;
    c += "  inet_listener pop3 {\n    address = 127.0.0.1\n    port = " + QByteArray::number(pop3) + "\n  }\n";
    c += "  inet_listener pop3s {\n    address = 127.0.0.1\n    port = " + QByteArray::number(pop3s) + '\n';
    if (opts.tls)
        c += "    ssl = yes\n";
    c += "  }\n}\n";
    return c;
}

bool DovecotServer::launch(QString *whyNot, bool *portTaken)
{
    // Dovecot forks its master into the background and returns once the
    // listeners are bound, or fails (exit code 89 when a port is taken).
    const QString errors = workDir() + QStringLiteral("/start-errors.txt");
    // A pid file left from an earlier run must not be taken for the new master.
    QFile::remove(workDir() + QStringLiteral("/run/master.pid"));
    QProcess process;
    process.setStandardOutputFile(QProcess::nullDevice());
    process.setStandardErrorFile(errors, QIODevice::Truncate);
    process.start(DovecotBinary, {QStringLiteral("-c"), configPath()});
    const bool finished = process.waitForFinished(StartTimeoutMs);
    if (!finished) {
        process.kill();
        process.waitForFinished();
        signalAll(true);
        *whyNot = QStringLiteral("dovecot did not return within %1 s").arg(StartTimeoutMs / 1000);
        return false;
    }
    if (process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0)
        return true;

    QFile file(errors);
    QString output;
    if (file.open(QIODevice::ReadOnly))
        output = QString::fromUtf8(file.readAll()).trimmed();
    if (output.isEmpty())
        output = process.errorString();
    *portTaken = output.contains(QLatin1String("Address already in use"));
    *whyNot = QStringLiteral("dovecot failed to start (exit code %1): %2").arg(process.exitCode()).arg(output);
    // Whatever it had forked before giving up must not outlive the attempt.
    signalAll(true);
    waitUntilGone(2000);
    return false;
}

bool DovecotServer::waitForGreeting(QString *whyNot)
{
    const QDeadlineTimer deadline(StartTimeoutMs);
    const QString pidFile = workDir() + QStringLiteral("/run/master.pid");
    QString last = QStringLiteral("no answer");
    while (!deadline.hasExpired()) {
        QTcpSocket probe;
        probe.connectToHost(address(), plainPort);
        if (probe.waitForConnected(int(qMax<qint64>(1, deadline.remainingTime())))) {
            QByteArray greeting;
            while (!greeting.contains('\n') && probe.waitForReadyRead(int(qMax<qint64>(1, deadline.remainingTime()))))
                greeting += probe.readAll();
            if (master == 0) {
                QFile file(pidFile);
                if (file.open(QIODevice::ReadOnly))
                    master = file.readAll().trimmed().toLongLong();
            }
            if (greeting.startsWith("+OK") && master > 0)
                return true;
            if (!greeting.isEmpty())
                last = QString::fromUtf8(greeting.trimmed());
        } else {
            last = probe.errorString();
        }
        probe.abort();
        if (processIds().isEmpty()) {
            *whyNot = QStringLiteral("dovecot exited after starting; its log:\n%1").arg(log().trimmed());
            return false;
        }
        QThread::msleep(20);
    }
    *whyNot = QStringLiteral("dovecot did not greet on port %1 within %2 s (%3); its log:\n%4")
                  .arg(plainPort)
                  .arg(StartTimeoutMs / 1000)
                  .arg(last, log().trimmed());
    return false;
}

void DovecotServer::stop()
{
    if (!running)
        return;
    // The whole group at once: the master alone takes a second to shut down
    // and leaves open sessions running.
    signalAll(false);
    if (!waitUntilGone(5000)) {
        signalAll(true);
        waitUntilGone(2000);
    }
    running = false;
    master = 0;
}

QList<qint64> DovecotServer::processIds() const
{
    QList<qint64> ours;
#if defined(Q_OS_LINUX)
    // The master runs with our configuration path as argument; every other
    // process renames itself to "dovecot-<instance>/<service>".
    const QByteArray config = configPath().toUtf8();
    const QByteArray title = "dovecot-" + instance.toUtf8() + '/';
    for (const qint64 pid : allPids()) {
        const ProcInfo info = procInfo(pid);
        if (!info.alive || info.arguments.isEmpty())
            continue;
        if (info.arguments.first().startsWith(title) || info.arguments.contains(config))
            ours.append(pid);
    }
#endif
    return ours;
}

void DovecotServer::signalAll(bool hard) const
{
#if defined(Q_OS_LINUX)
    // The master starts a session of its own, so its process group holds all
    // its children; signal that group, and each process found, in case one
    // has left the group.
    const int signal = hard ? SIGKILL : SIGTERM;
    const QList<qint64> pids = processIds();
    QList<qint64> groups;
    for (const qint64 pid : pids) {
        const ProcInfo info = procInfo(pid);
        if (info.arguments.contains(configPath().toUtf8()) && info.group == pid && !groups.contains(pid))
            groups.append(pid);
    }
    for (const qint64 group : groups)
        ::kill(pid_t(-group), signal);
    for (const qint64 pid : pids)
        ::kill(pid_t(pid), signal);
#else
    Q_UNUSED(hard)
#endif
}

bool DovecotServer::waitUntilGone(int timeoutMs) const
{
    const QDeadlineTimer deadline(timeoutMs);
    while (!processIds().isEmpty()) {
        if (deadline.hasExpired())
            return false;
        QThread::msleep(10);
    }
    return true;
}

void DovecotServer::handOver(const QString &path) const
{
#if defined(Q_OS_LINUX)
    // As root the mail is served as "mail", which must own what it may delete.
    if (!asRoot)
        return;
    const passwd *mail = ::getpwnam("mail");
    if (!mail)
        return;
    const uid_t uid = mail->pw_uid;
    const gid_t gid = mail->pw_gid;
    const auto own = [uid, gid](const QString &file) {
        if (::lchown(QFile::encodeName(file).constData(), uid, gid) != 0)
            qWarning("cannot hand %s over to the mail user", qPrintable(file));
    };
    own(path);
    if (QFileInfo(path).isDir()) {
        QDirIterator it(path, QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System,
                        QDirIterator::Subdirectories);
        while (it.hasNext())
            own(it.next());
    }
#else
    Q_UNUSED(path)
#endif
}

QStringList DovecotServer::addMessages(int count, quint32 seed)
{
    QString ignored;
    if (!mailbox.prepare(&ignored))
        return {};
    const QStringList names = mailbox.writeMessages(count, seed);
    if (asRoot)
        handOver(mailDir());
    return names;
}

QString DovecotServer::addMessage(const QByteArray &raw)
{
    const bool fresh = !QFileInfo(mailDir() + QStringLiteral("/cur")).isDir();
    const QString name = mailbox.writeMessage(raw);
    if (!name.isEmpty() && asRoot)
        handOver(fresh ? mailDir() : mailDir() + QStringLiteral("/cur/") + name);
    return name;
}

int DovecotServer::messageCount() const
{
    int count = 0;
    for (const QString &folder : {QStringLiteral("/cur"), QStringLiteral("/new")})
        count += int(QDir(mailDir() + folder).entryList(QDir::Files).size());
    return count;
}
