// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "support/MailboxGenerator.h"

#include <QByteArray>
#include <QHostAddress>
#include <QList>
#include <QString>
#include <QStringList>

#include <memory>

class QTemporaryDir;

// A real Dovecot POP3 server for integration tests, run from a throwaway
// directory with its own configuration, on free loopback ports.
//
//     QString why;
//     if (!DovecotServer::isAvailable(&why))
//         QSKIP(qPrintable(why));
//     DovecotServer server;
//     server.addMessages(50, 1);
//     QVERIFY2(server.start(&why), qPrintable(why));
//     ... talk POP3 to server.address():server.port() as server.user() ...
//
// Messages can be added before or after start(). The instance never reads
// /etc/dovecot and never touches the system service. Logins fail without the
// usual delay and penalty, so refusals can be tested quickly. Running as root
// (as CI does) the mail is served as the "mail" user; as anyone else, as that
// user. Only Linux is supported: stopping looks at processes through /proc.
class DovecotServer {
public:
    struct Options {
        QString user = QStringLiteral("tester");
        QString password = QStringLiteral("secret");
        // auth_verbose: failed and successful password checks show up in log().
        bool verboseAuth = false;
        // rawlog_dir: every session after login is logged byte for byte into
        // rawlogDir(), one .in and one .out file per connection, so what a
        // client sent and got can be checked from outside the client.
        bool rawlog = false;
        // Adds a pop3s listener (and STLS on the plain port). Without paths,
        // start() makes a self-signed certificate for localhost and 127.0.0.1.
        bool tls = false;
        QString certificatePath;
        QString keyPath;
    };

    DovecotServer();
    explicit DovecotServer(const Options &options);
    ~DovecotServer();
    DovecotServer(const DovecotServer &) = delete;
    DovecotServer &operator=(const DovecotServer &) = delete;

    // True when this machine can run the server; otherwise a one-line reason.
    static bool isAvailable(QString *whyNot = nullptr);
    // Makes a self-signed certificate for localhost and 127.0.0.1 with openssl.
    static bool makeCertificate(const QString &certificatePath, const QString &keyPath, QString *whyNot = nullptr);

    // Starts the server and waits (at most about 10 s) until it greets.
    bool start(QString *whyNot = nullptr);
    // Stops every process of this instance and waits until they are gone.
    void stop();
    bool isRunning() const { return running; }

    QHostAddress address() const { return QHostAddress(QHostAddress::LocalHost); }
    quint16 port() const { return plainPort; }
    // The pop3s port, 0 without TLS.
    quint16 tlsPort() const { return securePort; }
    QString user() const { return opts.user; }
    QString password() const { return opts.password; }
    QString certificatePath() const { return certPath; }

    QString workDir() const;
    QString mailDir() const;
    QString configPath() const;
    QString logFilePath() const;
    QString rawlogDir() const;
    QString instanceName() const { return instance; }
    // Everything the server logged so far (info and errors, one file).
    QString log() const;

    // The master process, 0 when not running.
    qint64 masterPid() const { return master; }
    // Live processes of this instance (zombies do not count).
    QList<qint64> processIds() const;

    // Store messages in the maildir, readable by the server; see MailboxGenerator.
    QStringList addMessages(int count, quint32 seed);
    QString addMessage(const QByteArray &raw);
    // Messages now in the maildir (deleted ones are gone once a session commits).
    int messageCount() const;

private:
    bool prepare(QString *whyNot);
    QByteArray config(quint16 pop3, quint16 pop3s) const;
    bool launch(QString *whyNot, bool *portTaken);
    bool waitForGreeting(QString *whyNot);
    // SIGTERM, or SIGKILL when hard, to every process of this instance.
    void signalAll(bool hard) const;
    bool waitUntilGone(int timeoutMs) const;
    void handOver(const QString &path) const;

    Options opts;
    std::unique_ptr<QTemporaryDir> dir;
    MailboxGenerator mailbox;
    QString instance;
    QString certPath;
    QString keyPath;
    quint16 plainPort = 0;
    quint16 securePort = 0;
    qint64 master = 0;
    bool running = false;
    bool asRoot = false;
};
