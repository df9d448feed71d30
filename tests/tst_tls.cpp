// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/StatusTextBar.h"
#include "app/TForm1.h"
#include "controls/ConsoleView.h"
#include "mailbox/MailListModel.h"
#include "session/TClientSocket.h"
#include "session/TClientWinSocket.h"
#include "session/TlsVerification.h"
#include "support/DovecotServer.h"
#include "support/FormFixture.h"
#include "support/ScriptedPop3Server.h"

#include <QComboBox>
#include <QFile>
#include <QLineEdit>
#include <QMap>
#include <QPlainTextEdit>
#include <QProcess>
#include <QPushButton>
#include <QSslKey>
#include <QSslServer>
#include <QSslSocket>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

using platform::BoxButton;

// POP3 over implicit TLS: a whole session against a real Dovecot pop3s
// listener, the certificates it must refuse, and the ports that stay plain.
class TlsTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanupTestCase();
    void refusalReason_data();
    void refusalReason();
    void trustFileLoading();
    void plainPortUnchanged();
    void tlsPortNeverFallsBackToClear();
    void refusedConnectOnTlsPortIsNoTlsFailure();
    void socketEventsOverTls();
    void unreadStreamOverTlsIsBoundedThenDelivered();
    void fullSessionOverTls();
    void selfSignedServerTrustedByFile();
    void refusedCertificates_data();
    void refusedCertificates();
    void stlsOnPlainPort();
    void noLoginWithoutTheEncryptionOffered_data();
    void noLoginWithoutTheEncryptionOffered();

private:
    bool needDovecot();

    // Throwaway authorities and server certificates made with openssl.
    QTemporaryDir pki;
    QString pkiProblem;
    // Servers by certificate: "good" (localhost and 127.0.0.1, signed by the
    // test authority), "expired" (same names, expired), "wronghost" (another
    // name only).
    QMap<QString, std::shared_ptr<DovecotServer>> servers;
    QString dovecotProblem;
};

namespace {

const QByteArray kOpensslConfig = "[req]\n"
                                  "distinguished_name = dn\n"
                                  "prompt = no\n"
                                  "[dn]\n"
                                  "CN = unused\n"
                                  "[ca_ext]\n"
                                  "basicConstraints = critical,CA:TRUE\n"
                                  "keyUsage = critical,keyCertSign,cRLSign\n"
                                  "subjectKeyIdentifier = hash\n";

QByteArray serverExtensions(const QByteArray &altNames)
{
    return "basicConstraints = CA:FALSE\n"
           "keyUsage = critical,digitalSignature,keyEncipherment\n"
           "extendedKeyUsage = serverAuth\n"
           "subjectAltName = " +
           altNames + "\n";
}

// Written for its owner, whatever the umask: a trust file that others can
// write is ignored.
bool writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(bytes) == bytes.size() &&
           file.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup | QFile::ReadOther);
}

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool openssl(const QString &dir, const QStringList &arguments, QString *whyNot)
{
    QProcess process;
    process.setWorkingDirectory(dir);
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(QStringLiteral("openssl"), arguments);
    if (!process.waitForFinished(30000) || process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0) {
        *whyNot = QStringLiteral("openssl %1 failed: %2")
                      .arg(arguments.join(QLatin1Char(' ')), QString::fromLocal8Bit(process.readAll()).trimmed());
        return false;
    }
    return true;
}

QStringList ecKey()
{
    return {QStringLiteral("-newkey"), QStringLiteral("ec"), QStringLiteral("-pkeyopt"),
            QStringLiteral("ec_paramgen_curve:prime256v1"), QStringLiteral("-nodes")};
}

bool makeAuthority(const QString &dir, const QString &name, const QString &subject, QString *whyNot)
{
    return openssl(dir,
                   QStringList{QStringLiteral("req"), QStringLiteral("-x509"), QStringLiteral("-config"),
                               QStringLiteral("openssl.cnf"), QStringLiteral("-extensions"), QStringLiteral("ca_ext")} +
                       ecKey() +
                       QStringList{QStringLiteral("-keyout"), name + QStringLiteral(".key"), QStringLiteral("-out"),
                                   name + QStringLiteral(".pem"), QStringLiteral("-days"), QStringLiteral("30"),
                                   QStringLiteral("-subj"), subject},
                   whyNot);
}

// A server certificate signed by the authority ca; days -1 gives one that
// expired the day before it was made.
bool makeServerCertificate(const QString &dir, const QString &name, const QByteArray &altNames, int days, int serial,
                           QString *whyNot)
{
    if (!writeFile(dir + QLatin1Char('/') + name + QStringLiteral(".ext"), serverExtensions(altNames))) {
        *whyNot = QStringLiteral("cannot write the extension file");
        return false;
    }
    return openssl(dir,
                   QStringList{QStringLiteral("req"), QStringLiteral("-new"), QStringLiteral("-config"),
                               QStringLiteral("openssl.cnf")} +
                       ecKey() +
                       QStringList{QStringLiteral("-keyout"), name + QStringLiteral(".key"), QStringLiteral("-out"),
                                   name + QStringLiteral(".csr"), QStringLiteral("-subj"),
                                   QStringLiteral("/CN=") + name},
                   whyNot) &&
           openssl(dir,
                   {QStringLiteral("x509"), QStringLiteral("-req"), QStringLiteral("-in"),
                    name + QStringLiteral(".csr"), QStringLiteral("-CA"), QStringLiteral("ca.pem"),
                    QStringLiteral("-CAkey"), QStringLiteral("ca.key"), QStringLiteral("-set_serial"),
                    QString::number(serial), QStringLiteral("-days"), QString::number(days), QStringLiteral("-extfile"),
                    name + QStringLiteral(".ext"), QStringLiteral("-out"), name + QStringLiteral(".pem")},
                   whyNot);
}

QStringList consoleLines(const TForm1 &w)
{
    const QString text = w.Memo1->text();
    return text.isEmpty() ? QStringList() : text.split(QLatin1Char('\n'));
}

int rowOf(const TForm1 &w, const QByteArray &id)
{
    for (int row = 0; row < w.mailModel->count(); ++row) {
        if (w.mailModel->subItem(row, 0) == id)
            return row;
    }
    return -1;
}

QByteArray message(const QByteArray &subject, const QByteArray &body)
{
    return "From: sender@example.org\nTo: me@example.org\nSubject: " + subject + "\n\n" + body + "\n";
}

}  // namespace

void TlsTest::initTestCase()
{
    QVERIFY(pki.isValid());
    const QString dir = pki.path();
    // The Dovecot fixture may serve as another user: the files must be readable.
    QFile::setPermissions(dir, QFile::permissions(dir) | QFile::ReadOther | QFile::ExeOther | QFile::ReadGroup |
                                   QFile::ExeGroup);
    if (QStandardPaths::findExecutable(QStringLiteral("openssl")).isEmpty()) {
        pkiProblem = QStringLiteral("openssl is not installed");
        return;
    }
    QString why;
    const bool made =
        writeFile(dir + QStringLiteral("/openssl.cnf"), kOpensslConfig) &&
        makeAuthority(dir, QStringLiteral("ca"), QStringLiteral("/CN=Tarnbeck Test CA"), &why) &&
        makeAuthority(dir, QStringLiteral("otherca"), QStringLiteral("/CN=Somebody Else CA"), &why) &&
        makeServerCertificate(dir, QStringLiteral("good"), "DNS:localhost,IP:127.0.0.1", 30, 2, &why) &&
        makeServerCertificate(dir, QStringLiteral("expired"), "DNS:localhost,IP:127.0.0.1", -1, 3, &why) &&
        makeServerCertificate(dir, QStringLiteral("wronghost"), "DNS:mail.example.org", 30, 4, &why) &&
        makeServerCertificate(dir, QStringLiteral("iponly"), "IP:127.0.0.1", 30, 5, &why);
    if (!made) {
        pkiProblem = why;
        return;
    }
    const QStringList files = QDir(dir).entryList(QDir::Files);
    for (const QString &file : files)
        QFile::setPermissions(dir + QLatin1Char('/') + file,
                              QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup | QFile::ReadOther);

    if (!DovecotServer::isAvailable(&dovecotProblem))
        return;
    if (!QSslSocket::supportsSsl()) {
        dovecotProblem = QStringLiteral("Qt has no TLS backend here");
        return;
    }
    for (const QString &name :
         {QStringLiteral("good"), QStringLiteral("expired"), QStringLiteral("wronghost"), QStringLiteral("iponly")}) {
        DovecotServer::Options options;
        options.tls = true;
        options.verboseAuth = true;
        options.certificatePath = dir + QLatin1Char('/') + name + QStringLiteral(".pem");
        options.keyPath = dir + QLatin1Char('/') + name + QStringLiteral(".key");
        auto server = std::make_shared<DovecotServer>(options);
        QVERIFY2(server->start(&why), qPrintable(why));
        QVERIFY(server->tlsPort() != 0);
        servers.insert(name, server);
    }
}

void TlsTest::cleanupTestCase()
{
    for (const auto &server : std::as_const(servers))
        server->stop();
    servers.clear();
}

bool TlsTest::needDovecot()
{
    return pkiProblem.isEmpty() && dovecotProblem.isEmpty() && servers.size() == 4;
}

void TlsTest::refusalReason_data()
{
    QTest::addColumn<QList<QSslError>>("errors");
    QTest::addColumn<QString>("reason");

    using E = QSslError;
    auto list = [](std::initializer_list<E::SslError> kinds) {
        QList<QSslError> out;
        for (const E::SslError kind : kinds)
            out.append(QSslError(kind));
        return out;
    };
    QTest::newRow("none") << QList<QSslError>() << QString();
    QTest::newRow("expired") << list({E::CertificateExpired}) << "TLS: certificate has expired";
    QTest::newRow("not yet valid") << list({E::CertificateNotYetValid}) << "TLS: certificate is not yet valid";
    QTest::newRow("host name") << list({E::HostNameMismatch}) << "TLS: host name mismatch";
    QTest::newRow("unknown issuer") << list({E::UnableToGetLocalIssuerCertificate, E::UnableToVerifyFirstCertificate})
                                    << "TLS: certificate is not trusted";
    QTest::newRow("self-signed") << list({E::SelfSignedCertificate}) << "TLS: certificate is not trusted";
    QTest::newRow("revoked") << list({E::CertificateRevoked}) << "TLS: certificate has been revoked";
    QTest::newRow("no certificate") << list({E::NoPeerCertificate}) << "TLS: the server sent no certificate";
    // Trusting the server is the first thing to fix, then its dates, then the name.
    QTest::newRow("self-signed for another name")
        << list({E::HostNameMismatch, E::SelfSignedCertificate}) << "TLS: certificate is not trusted";
    QTest::newRow("expired for another name")
        << list({E::HostNameMismatch, E::CertificateExpired}) << "TLS: certificate has expired";
    QTest::newRow("expired and untrusted")
        << list({E::CertificateExpired, E::UnableToGetLocalIssuerCertificate}) << "TLS: certificate is not trusted";
    QTest::newRow("other kind") << list({E::CertificateSignatureFailed})
                                << "TLS: certificate refused: " +
                                       QSslError(E::CertificateSignatureFailed).errorString();
}

void TlsTest::refusalReason()
{
    QFETCH(QList<QSslError>, errors);
    QFETCH(QString, reason);
    QCOMPARE(TlsVerification::refusalReason(errors), reason);
}

void TlsTest::trustFileLoading()
{
    if (!pkiProblem.isEmpty())
        QSKIP(qPrintable(pkiProblem));
    const QByteArray ca = readFile(pki.path() + QStringLiteral("/ca.pem"));
    const QByteArray other = readFile(pki.path() + QStringLiteral("/otherca.pem"));
    QTemporaryDir dir;
    const QString path = dir.filePath(TlsVerification::trustFileName());

    QVERIFY(TlsVerification::loadTrustedCertificates(path).isEmpty());  // no file

    // Several certificates, with comments and a private key between them:
    // the certificates count, the rest is skipped.
    QVERIFY(writeFile(path, "# my own server\n" + ca + "\n" + readFile(pki.path() + QStringLiteral("/good.key")) +
                                "\n" + other));
    const QList<QSslCertificate> loaded = TlsVerification::loadTrustedCertificates(path);
    QCOMPARE(loaded.size(), 2);
    QCOMPARE(loaded.at(0), QSslCertificate(ca));
    QCOMPARE(loaded.at(1), QSslCertificate(other));

    // A file that users besides its owner could have changed is not trusted,
    // and the caller learns why.
    QString ignored;
    QVERIFY(QFile::setPermissions(path, QFile::permissions(path) | QFile::WriteOther));
    QVERIFY(TlsVerification::loadTrustedCertificates(path, &ignored).isEmpty());
    QCOMPARE(ignored, QStringLiteral("TLS: %1 ignored: other users can write to it").arg(path));
    QVERIFY(QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup | QFile::WriteGroup));
    QVERIFY(TlsVerification::loadTrustedCertificates(path).isEmpty());
    QVERIFY(QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner));
    const QFile::Permissions folder = QFile::permissions(dir.path());
    QVERIFY(QFile::setPermissions(dir.path(), folder | QFile::WriteGroup | QFile::ExeGroup));
    ignored.clear();
    QVERIFY(TlsVerification::loadTrustedCertificates(path, &ignored).isEmpty());
    QCOMPARE(ignored, QStringLiteral("TLS: %1 ignored: other users can write to its folder").arg(path));
    QVERIFY(QFile::setPermissions(dir.path(), folder));
    ignored.clear();
    QCOMPARE(TlsVerification::loadTrustedCertificates(path, &ignored).size(), 2);
    QVERIFY(ignored.isEmpty());

    QVERIFY(writeFile(path, "not a certificate at all\n-----BEGIN CERTIFICATE-----\nAAAA\n"));
    QVERIFY(TlsVerification::loadTrustedCertificates(path).isEmpty());
    QVERIFY(writeFile(path, QByteArray()));
    QVERIFY(TlsVerification::loadTrustedCertificates(path).isEmpty());
}

void TlsTest::plainPortUnchanged()
{
    // Any port but a TLS one: the same events in the same order as ever, and
    // the commands reach the server as plain bytes.
    ScriptedPop3Server server;
    server.greet("+OK ready").expect("USER bob").reply({"+OK"});
    TClientSocket sock;
    QCOMPARE(sock.ImplicitTlsPorts(), QList<quint16>{995});
    QStringList events;
    QByteArray received;
    sock.OnLookup = [&](QObject *, TClientWinSocket *) { events << "lookup"; };
    sock.OnConnecting = [&](QObject *, TClientWinSocket *) { events << "connecting"; };
    sock.OnConnect = [&](QObject *, TClientWinSocket *w) {
        events << "connect";
        QVERIFY(!w->Encrypted());
    };
    sock.OnRead = [&](QObject *, TClientWinSocket *w) {
        const QByteArray chunk = w->ReceivePending();
        if (received.isEmpty() && !chunk.isEmpty())
            w->SendString("USER bob\r\n");
        received += chunk;
    };
    sock.OnDisconnect = [&](QObject *, TClientWinSocket *) { events << "disconnect"; };
    sock.OnError = [&](QObject *, TClientWinSocket *, TErrorEvent, int &code) {
        events << "error";
        code = 0;
    };
    sock.setAddress(QStringLiteral("127.0.0.1"));
    sock.setPort(server.port());
    sock.setActive(true);
    QCOMPARE(events, (QStringList{"lookup", "connecting"}));
    QTRY_VERIFY(server.scriptDone());
    QTRY_COMPARE(received, QByteArray("+OK ready\r\n+OK\r\n"));
    QCOMPARE(server.received(), QByteArray("USER bob\r\n"));
    QVERIFY(sock.Socket()->TlsFailure().isEmpty());
    sock.setActive(false);
    QCOMPARE(events, (QStringList{"lookup", "connecting", "connect", "disconnect"}));
    QVERIFY2(server.errors().isEmpty(), qPrintable(server.errors().join('\n')));
}

void TlsTest::tlsPortNeverFallsBackToClear()
{
    if (!QSslSocket::supportsSsl())
        QSKIP("Qt has no TLS backend here");
    // A server that answers in clear on a port taken for TLS: the handshake
    // fails, the greeting is never shown and the login never sent.
    FormFixture f;
    TForm1 &w = *f.form;
    ScriptedPop3Server server;
    server.greet("+OK plain server ready");
    w.cSock->setImplicitTlsPorts({server.port()});
    w.txtServer->setEditText(QStringLiteral("127.0.0.1"));
    w.txtPort->setText(QString::number(server.port()));
    w.txtUID->setText(QStringLiteral("bob"));
    w.txtPWD->setText(QStringLiteral("secret"));

    w.btnConnClick();
    QTRY_COMPARE(w.btnConn->text(), QStringLiteral("&Connect"));
    const QStringList console = consoleLines(w);
    QCOMPARE(console.size(), 2);
    QCOMPARE(console.at(0), QStringLiteral("Host (127.0.0.1) NOT found [OR] port (%1)not opened !").arg(server.port()));
    QVERIFY2(console.at(1).startsWith(QStringLiteral("TLS: handshake failed")), qPrintable(console.at(1)));
    QVERIFY(!w.cSock->Active());
    QCOMPARE(w.msgBar->text(), QStringLiteral(" Trying to connect to 127.0.0.1 on port %1 ...").arg(server.port()));
    // What the server got is the start of a handshake, nothing of POP3.
    QVERIFY(!server.received().isEmpty());
    QCOMPARE(server.received().at(0), char(0x16));
    QVERIFY(!server.received().contains("USER"));
    QVERIFY(!server.received().contains("secret"));
}

void TlsTest::refusedConnectOnTlsPortIsNoTlsFailure()
{
    // Nobody listening: the plain connect failure, with no TLS reason to add.
    QTcpServer probe;
    QVERIFY(probe.listen(QHostAddress::LocalHost, 0));
    const quint16 port = probe.serverPort();
    probe.close();
    FormFixture f;
    TForm1 &w = *f.form;
    w.cSock->setImplicitTlsPorts({port});
    w.txtServer->setEditText(QStringLiteral("127.0.0.1"));
    w.txtPort->setText(QString::number(port));
    w.btnConnClick();
    QTRY_COMPARE(w.btnConn->text(), QStringLiteral("&Connect"));
    QCOMPARE(consoleLines(w),
             QStringList{QStringLiteral("Host (127.0.0.1) NOT found [OR] port (%1)not opened !").arg(port)});
    QVERIFY(w.cSock->Socket()->TlsFailure().isEmpty());
}

void TlsTest::socketEventsOverTls()
{
    if (!needDovecot())
        QSKIP(qPrintable(pkiProblem.isEmpty() ? dovecotProblem : pkiProblem));
    // The component alone: the events of a plain connection, in the same
    // order, with the decrypted stream behind them; a refusal is a failed
    // connect (no OnConnect, no OnDisconnect).
    DovecotServer &dovecot = *servers.value(QStringLiteral("good"));
    const QList<QSslCertificate> authority = QSslCertificate::fromPath(pki.path() + QStringLiteral("/ca.pem"));
    QCOMPARE(authority.size(), 1);

    for (const bool trusted : {true, false}) {
        TClientSocket sock;
        QStringList events;
        QByteArray received;
        QString failure;
        sock.OnLookup = [&](QObject *, TClientWinSocket *) { events << "lookup"; };
        sock.OnConnecting = [&](QObject *, TClientWinSocket *) { events << "connecting"; };
        sock.OnConnect = [&](QObject *, TClientWinSocket *w) {
            events << (w->Encrypted() ? "connect encrypted" : "connect");
        };
        sock.OnRead = [&](QObject *, TClientWinSocket *w) {
            const QByteArray chunk = w->ReceivePending();
            if (received.isEmpty() && !chunk.isEmpty())
                w->SendString("CAPA\r\n");
            received += chunk;
        };
        sock.OnDisconnect = [&](QObject *, TClientWinSocket *) { events << "disconnect"; };
        sock.OnError = [&](QObject *, TClientWinSocket *w, TErrorEvent kind, int &code) {
            events << (kind == TErrorEvent::eeConnect ? "connect error" : "other error");
            failure = w->TlsFailure();
            code = 0;
        };
        sock.setImplicitTlsPorts({dovecot.tlsPort()});
        if (trusted)
            sock.setTrustedCertificates(authority);
        sock.setHost(QStringLiteral("localhost"));
        sock.setPort(dovecot.tlsPort());
        sock.setActive(true);
        if (trusted) {
            QTRY_VERIFY_WITH_TIMEOUT(received.contains("\r\n.\r\n"), 10000);
            QVERIFY2(received.startsWith("+OK"), received.constData());
            QVERIFY(received.contains("\r\nUSER\r\n"));  // the CAPA listing
            sock.setActive(false);
            QCOMPARE(events, (QStringList{"lookup", "connecting", "connect encrypted", "disconnect"}));
            QVERIFY(failure.isEmpty());
        } else {
            QTRY_COMPARE_WITH_TIMEOUT(events.size(), 3, 10000);
            QCOMPARE(events, (QStringList{"lookup", "connecting", "connect error"}));
            QCOMPARE(failure, QStringLiteral("TLS: certificate is not trusted"));
            QVERIFY(!sock.Active());
            QCOMPARE(sock.Socket()->SendString("USER tester\r\n"), qint64(0));
            QVERIFY(received.isEmpty());
        }
    }
}

void TlsTest::unreadStreamOverTlsIsBoundedThenDelivered()
{
    if (!pkiProblem.isEmpty())
        QSKIP(qPrintable(pkiProblem));
    if (!QSslSocket::supportsSsl())
        QSKIP("Qt has no TLS backend here");
    // As over a plain connection: while the handler takes nothing the TLS
    // socket holds only a bounded part of what the server streams (the
    // decrypted bytes and the encrypted ones behind them), and once the
    // handler takes again everything comes, in order, before the disconnect.
    const QString dir = pki.path() + QLatin1Char('/');
    QSslConfiguration serverConfig = QSslConfiguration::defaultConfiguration();
    serverConfig.setLocalCertificateChain(QSslCertificate::fromPath(dir + QStringLiteral("good.pem")));
    QFile keyFile(dir + QStringLiteral("good.key"));
    QVERIFY(keyFile.open(QIODevice::ReadOnly));
    serverConfig.setPrivateKey(QSslKey(&keyFile, QSsl::Ec));
    QVERIFY(!serverConfig.privateKey().isNull());
    QSslServer server;
    server.setSslConfiguration(serverConfig);
    QVERIFY(server.listen(QHostAddress::LocalHost));

    QByteArray stream;
    for (int i = 0; stream.size() < 8 * 1024 * 1024; ++i)
        stream += "line " + QByteArray::number(i).rightJustified(8, '0') + "\r\n";
    connect(&server, &QTcpServer::pendingConnectionAvailable, this, [&] {
        QSslSocket *s = qobject_cast<QSslSocket *>(server.nextPendingConnection());
        QVERIFY(s);
        s->write(stream);
        s->disconnectFromHost();
    });

    TClientSocket sock;
    QPointer<QAbstractSocket> platformSocket;
    sock.socketFactory = [&] {
        platformSocket = new QSslSocket;
        return platformSocket.data();
    };
    QByteArray received;
    QStringList events;
    bool taking = false;
    sock.OnConnect = [&](QObject *, TClientWinSocket *) { events << "connect"; };
    sock.OnRead = [&](QObject *, TClientWinSocket *w) {
        if (taking)
            received += w->ReceivePending();
    };
    sock.OnDisconnect = [&](QObject *, TClientWinSocket *) { events << "disconnect"; };
    sock.OnError = [&](QObject *, TClientWinSocket *, TErrorEvent, int &code) {
        events << "error";
        code = 0;
    };
    sock.setImplicitTlsPorts({server.serverPort()});
    sock.setTrustedCertificates(QSslCertificate::fromPath(dir + QStringLiteral("ca.pem")));
    sock.setAddress(QStringLiteral("127.0.0.1"));
    sock.setPort(server.serverPort());
    sock.setActive(true);
    QTRY_VERIFY_WITH_TIMEOUT(sock.Active(), 10000);
    // Long enough for the kernel's buffers on both sides to fill.
    QTest::qWait(1500);
    // Gone already means it had read everything, the close included.
    QVERIFY(platformSocket);
    const qint64 decrypted = platformSocket->bytesAvailable();
    qint64 encrypted = 0;
    for (const QTcpSocket *plain : platformSocket->findChildren<QTcpSocket *>())
        encrypted += plain->bytesAvailable();
    QVERIFY2(decrypted > 0 && decrypted + encrypted <= 3 * 1024 * 1024,
             qPrintable(QStringLiteral("%1 + %2").arg(decrypted).arg(encrypted)));

    taking = true;
    received += sock.Socket()->ReceivePending();
    QTRY_VERIFY_WITH_TIMEOUT(events.contains("disconnect"), 20000);
    QCOMPARE(received.size(), stream.size());
    QVERIFY(received == stream);
    QCOMPARE(events, (QStringList{"connect", "disconnect"}));
}

void TlsTest::fullSessionOverTls()
{
    if (!needDovecot())
        QSKIP(qPrintable(pkiProblem.isEmpty() ? dovecotProblem : pkiProblem));
    DovecotServer &dovecot = *servers.value(QStringLiteral("good"));
    dovecot.addMessage(message("first over tls", "body one"));
    dovecot.addMessage(message("second over tls", "body two\nsecond line"));
    dovecot.addMessage(message("third over tls", "body three"));
    QCOMPARE(dovecot.messageCount(), 3);

    FormFixture f;
    TForm1 &w = *f.form;
    // The server's authority trusted through the file next to the program,
    // after an unrelated one: every certificate in it counts.
    QVERIFY(
        writeFile(w.AppDir + TlsVerification::trustFileName(), readFile(pki.path() + QStringLiteral("/otherca.pem")) +
                                                                   readFile(pki.path() + QStringLiteral("/ca.pem"))));
    QList<QByteArrayList> viewed;
    w.showViewer = [&](QWidget *, const ViewerMessage &message, const auto &) {
        viewed.append(QByteArrayList{message.subject} + message.lines);
    };
    w.cSock->setImplicitTlsPorts({dovecot.tlsPort()});
    w.txtServer->setEditText(QStringLiteral("localhost"));
    w.txtPort->setText(QString::number(dovecot.tlsPort()));
    w.txtUID->setText(dovecot.user());
    w.txtPWD->setText(dovecot.password());

    // What the connect event showed, and whether the connection was encrypted by then.
    QString statusAtConnect;
    bool encryptedAtConnect = false;
    const TSocketNotifyEvent onConnect = w.cSock->OnConnect;
    w.cSock->OnConnect = [&, onConnect](QObject *sender, TClientWinSocket *socket) {
        onConnect(sender, socket);
        statusAtConnect = w.msgBar->text();
        encryptedAtConnect = socket->Encrypted();
    };

    w.btnConnClick();
    QTRY_VERIFY_WITH_TIMEOUT(w.cSock->Active(), 10000);
    QVERIFY(encryptedAtConnect);
    QCOMPARE(statusAtConnect, QStringLiteral(" Connected to 127.0.0.1"));
    // The greeting arrived decrypted; the login and the listing follow by themselves.
    QTRY_VERIFY_WITH_TIMEOUT(w.mailModel->count() == 3 && w.session->state() == ssIdle, 10000);
    QVERIFY2(consoleLines(w).value(0).startsWith(QStringLiteral("+OK")), qPrintable(consoleLines(w).value(0)));
    QVERIFY(consoleLines(w).contains(QStringLiteral("? PASS ") + QString(dovecot.password().size(), QLatin1Char('*'))));

    // Headers of the first and third message.
    const int first = rowOf(w, "1");
    const int third = rowOf(w, "3");
    QVERIFY(first >= 0 && third >= 0);
    w.mailModel->setRowChecked(first, true);
    w.mailModel->setRowChecked(third, true);
    w.btnHeaderClick();
    QTRY_VERIFY_WITH_TIMEOUT(w.session->state() == ssIdle && w.CheckedCount == 0, 10000);
    QCOMPARE(w.mailModel->subItem(rowOf(w, "1"), 1), QByteArray("first over tls"));
    QCOMPARE(w.mailModel->subItem(rowOf(w, "3"), 1), QByteArray("third over tls"));
    QCOMPARE(w.mailModel->subItem(rowOf(w, "3"), 2), QByteArray("sender@example.org"));

    // Read the second.
    w.mailModel->setRowChecked(rowOf(w, "2"), true);
    w.btnReadClick();
    QTRY_COMPARE_WITH_TIMEOUT(viewed.size(), 1, 10000);
    QCOMPARE(viewed.first().first(), QByteArray("second over tls"));
    QVERIFY(viewed.first().contains("body two"));
    QVERIFY(viewed.first().contains("second line"));
    QTRY_COMPARE(w.session->state(), std::uint8_t(ssIdle));

    // Delete the first and the third, then commit with Save & Quit.
    w.mailModel->setRowChecked(rowOf(w, "2"), false);
    w.mailModel->setRowChecked(rowOf(w, "1"), true);
    w.mailModel->setRowChecked(rowOf(w, "3"), true);
    f.desktop.setNextAnswer(BoxButton::Yes);
    w.btnDeleteClick();
    QTRY_COMPARE_WITH_TIMEOUT(w.mailModel->count(), 1, 10000);
    QTRY_VERIFY(!w.session->deleteConfirmed());
    QCOMPARE(w.mailModel->subItem(0, 0), QByteArray("2"));
    QCOMPARE(dovecot.messageCount(), 3);  // not before QUIT

    w.btnQuitClick();
    QTRY_VERIFY_WITH_TIMEOUT(!w.cSock->Active(), 10000);
    QVERIFY2(consoleLines(w).filter(QStringLiteral("+OK Logging out, messages deleted")).size() == 1,
             qPrintable(w.Memo1->text()));
    QTRY_COMPARE_WITH_TIMEOUT(dovecot.messageCount(), 1, 10000);
    QCOMPARE(w.btnConn->text(), QStringLiteral("&Connect"));
}

void TlsTest::selfSignedServerTrustedByFile()
{
    if (!needDovecot())
        QSKIP(qPrintable(pkiProblem.isEmpty() ? dovecotProblem : pkiProblem));
    // A server of one's own with a self-signed certificate (the fixture's):
    // refused as it is, accepted once its certificate is in the trust file.
    DovecotServer::Options options;
    options.tls = true;
    DovecotServer dovecot(options);
    QString why;
    QVERIFY2(dovecot.start(&why), qPrintable(why));

    // The same file, writable by others: ignored, and the console says so first.
    for (const int kind : {0, 1, 2}) {
        const bool trusted = kind == 1;
        FormFixture f;
        TForm1 &w = *f.form;
        const QString trustPath = w.AppDir + TlsVerification::trustFileName();
        if (kind > 0)
            QVERIFY(writeFile(trustPath, readFile(dovecot.certificatePath())));
        if (kind == 2)
            QVERIFY(QFile::setPermissions(trustPath, QFile::permissions(trustPath) | QFile::WriteGroup));
        w.cSock->setImplicitTlsPorts({dovecot.tlsPort()});
        w.txtServer->setEditText(QStringLiteral("localhost"));
        w.txtPort->setText(QString::number(dovecot.tlsPort()));
        w.btnConnClick();
        if (trusted) {
            QTRY_VERIFY_WITH_TIMEOUT(w.cSock->Active(), 10000);
            QVERIFY(w.cSock->Socket()->Encrypted());
            QTRY_VERIFY(consoleLines(w).value(0).startsWith(QStringLiteral("+OK")));
        } else {
            QTRY_COMPARE_WITH_TIMEOUT(w.btnConn->text(), QStringLiteral("&Connect"), 10000);
            QStringList lines = consoleLines(w);
            if (kind == 2)
                QCOMPARE(lines.takeFirst(),
                         QStringLiteral("TLS: %1 ignored: other users can write to it").arg(trustPath));
            QCOMPARE(lines.value(1), QStringLiteral("TLS: certificate is not trusted"));
        }
    }
}

void TlsTest::refusedCertificates_data()
{
    QTest::addColumn<QString>("server");
    QTest::addColumn<QString>("host");
    QTest::addColumn<QString>("trustFile");  // in the PKI directory; empty: none
    QTest::addColumn<QString>("reason");
    QTest::addColumn<bool>("stls");  // on the plain port, after STLS

    QTest::newRow("no trust file") << "good"
                                   << "127.0.0.1"
                                   << ""
                                   << "TLS: certificate is not trusted" << false;
    QTest::newRow("another authority trusted") << "good"
                                               << "localhost"
                                               << "otherca.pem"
                                               << "TLS: certificate is not trusted" << false;
    QTest::newRow("expired") << "expired"
                             << "127.0.0.1"
                             << "ca.pem"
                             << "TLS: certificate has expired" << false;
    QTest::newRow("other host, by address") << "wronghost"
                                            << "127.0.0.1"
                                            << "ca.pem"
                                            << "TLS: host name mismatch" << false;
    QTest::newRow("other host, by name") << "wronghost"
                                         << "localhost"
                                         << "ca.pem"
                                         << "TLS: host name mismatch" << false;
    // The name typed is what the certificate must carry, not the address
    // it resolves to.
    QTest::newRow("address only, reached by name") << "iponly"
                                                   << "localhost"
                                                   << "ca.pem"
                                                   << "TLS: host name mismatch" << false;
    QTest::newRow("after STLS, not trusted") << "good"
                                             << "localhost"
                                             << ""
                                             << "TLS: certificate is not trusted" << true;
    QTest::newRow("after STLS, other host") << "wronghost"
                                            << "localhost"
                                            << "ca.pem"
                                            << "TLS: host name mismatch" << true;
    QTest::newRow("after STLS, address only, reached by name") << "iponly"
                                                               << "localhost"
                                                               << "ca.pem"
                                                               << "TLS: host name mismatch" << true;
}

void TlsTest::refusedCertificates()
{
    if (!needDovecot())
        QSKIP(qPrintable(pkiProblem.isEmpty() ? dovecotProblem : pkiProblem));
    QFETCH(QString, server);
    QFETCH(QString, host);
    QFETCH(QString, trustFile);
    QFETCH(QString, reason);
    QFETCH(bool, stls);
    DovecotServer &dovecot = *servers.value(server);
    const qsizetype logBefore = dovecot.log().size();

    FormFixture f;
    TForm1 &w = *f.form;
    if (!trustFile.isEmpty())
        QVERIFY(writeFile(w.AppDir + TlsVerification::trustFileName(),
                          readFile(pki.path() + QLatin1Char('/') + trustFile)));
    const quint16 port = stls ? dovecot.port() : dovecot.tlsPort();
    if (!stls)
        w.cSock->setImplicitTlsPorts({port});
    w.txtServer->setEditText(host);
    w.txtPort->setText(QString::number(port));
    // Would be sent at once if the greeting got through.
    w.txtUID->setText(dovecot.user());
    w.txtPWD->setText(dovecot.password());
    bool connectRaised = false;
    const TSocketNotifyEvent onConnect = w.cSock->OnConnect;
    w.cSock->OnConnect = [&connectRaised, onConnect](QObject *sender, TClientWinSocket *socket) {
        connectRaised = true;
        onConnect(sender, socket);
    };

    w.btnConnClick();
    QCOMPARE(w.btnConn->text(), QStringLiteral("&Disconnect"));
    QTRY_COMPARE_WITH_TIMEOUT(w.btnConn->text(), QStringLiteral("&Connect"), 10000);
    QStringList expected;
    if (stls) {
        // Connected in clear, then the reason right after the STLS it
        // came from; no USER ever.
        expected = consoleLines(w);
        QVERIFY(connectRaised);
        QCOMPARE(expected.mid(expected.size() - 3),
                 (QStringList{QStringLiteral("? STLS"), QStringLiteral("+OK Begin TLS negotiation now."), reason}));
    } else {
        expected = {QStringLiteral("Host (%1) NOT found [OR] port (%2)not opened !").arg(host).arg(port), reason};
        QCOMPARE(consoleLines(w), expected);
        QVERIFY(!connectRaised);
        QCOMPARE(w.msgBar->text(), QStringLiteral(" Trying to connect to %1 on port %2 ...").arg(host).arg(port));
    }
    QVERIFY(!w.cSock->Active());

    // The server saw the connection end without a login attempt.
    QTRY_VERIFY_WITH_TIMEOUT(dovecot.log().mid(logBefore).contains(QStringLiteral("Disconnected")), 10000);
    const QString log = dovecot.log().mid(logBefore);
    QVERIFY2(log.contains(QStringLiteral("no auth attempts")), qPrintable(log));
    QVERIFY2(!log.contains(dovecot.user()), qPrintable(log));
    // Nothing more on the console: no echo of USER.
    QCOMPARE(consoleLines(w), expected);
}

void TlsTest::stlsOnPlainPort()
{
    if (!needDovecot())
        QSKIP(qPrintable(pkiProblem.isEmpty() ? dovecotProblem : pkiProblem));
    // Dovecot with TLS set up offers STLS on its plain port: the password
    // goes only through the encrypted connection.
    DovecotServer &dovecot = *servers.value(QStringLiteral("good"));
    const qsizetype logBefore = dovecot.log().size();
    FormFixture f;
    TForm1 &w = *f.form;
    QVERIFY(writeFile(w.AppDir + TlsVerification::trustFileName(), readFile(pki.path() + QStringLiteral("/ca.pem"))));
    w.txtServer->setEditText(QStringLiteral("localhost"));
    w.txtPort->setText(QString::number(dovecot.port()));
    w.txtUID->setText(dovecot.user());
    w.txtPWD->setText(dovecot.password());
    w.btnConnClick();
    QTRY_VERIFY_WITH_TIMEOUT(w.session->state() == ssIdle && w.btnList->isEnabled(), 10000);
    QVERIFY(w.cSock->Socket()->Encrypted());
    const QStringList lines = consoleLines(w);
    QVERIFY2(lines.indexOf(QStringLiteral("? STLS")) >= 0 &&
                 lines.indexOf(QStringLiteral("? STLS")) < lines.indexOf(QStringLiteral("? USER ") + dovecot.user()),
             qPrintable(lines.join(QLatin1Char('\n'))));
    QTRY_VERIFY_WITH_TIMEOUT(dovecot.log().mid(logBefore).contains(QStringLiteral("Login: user=<")), 10000);
    const QString login = dovecot.log().mid(logBefore).section(QStringLiteral("Login: user=<"), 1).section('\n', 0, 0);
    QVERIFY2(login.contains(QStringLiteral(", TLS")), qPrintable(login));
    // Remembered: a later connection that is not offered STLS logs in nowhere.
    QCOMPARE(w.tlsServers, (QSet<QByteArray>{"localhost:" + QByteArray::number(dovecot.port())}));
    QVERIFY(w.SaveSettings().isEmpty());
    QVERIFY(readFile(w.SettingsPath()).contains("[TLS]\r\nlocalhost:" + QByteArray::number(dovecot.port()) + "=STLS"));
}

void TlsTest::noLoginWithoutTheEncryptionOffered_data()
{
    QTest::addColumn<QString>("server");
    QTest::addColumn<QString>("reason");
    QTest::newRow("STLS listed, then refused") << "refuses"
                                               << "TLS: the server listed STLS and then refused it: no login.";
    QTest::newRow("the handshake fails") << "garbles"
                                         << "TLS: handshake failed";
    QTest::newRow("offered before, not now")
        << "downgraded"
        << "TLS: this server offered encryption (STLS) before and does not now: no login.";
    QTest::newRow("RequireTls") << "required"
                                << "TLS: this server offers no encryption (STLS) and RequireTls is set: no login.";
}

void TlsTest::noLoginWithoutTheEncryptionOffered()
{
    QFETCH(QString, server);
    QFETCH(QString, reason);
    ScriptedPop3Server pop3;
    pop3.greet("+OK ready");
    QByteArrayList expected{"CAPA"};
    if (server == "refuses" || server == "garbles") {
        pop3.expect("CAPA").reply({"+OK", "TOP", "STLS", "USER", "."}).expect("STLS");
        expected << "STLS";
        if (server == "refuses")
            pop3.reply({"-ERR not now"});
        else
            pop3.send("+OK Begin TLS negotiation now.\r\n").pause(100).send("this is no TLS handshake\r\n");
    }
    FormFixture f;
    TForm1 &w = *f.form;
    w.txtServer->setEditText(QStringLiteral("127.0.0.1"));
    w.txtPort->setText(QString::number(pop3.port()));
    w.txtUID->setText(QStringLiteral("bob"));
    w.txtPWD->setText(QStringLiteral("pw"));
    const QByteArray key = "127.0.0.1:" + QByteArray::number(pop3.port());
    if (server == "downgraded")
        w.tlsServers.insert(key);
    w.requireTls = server == "required";
    w.btnConnClick();
    QTRY_COMPARE_WITH_TIMEOUT(w.btnConn->text(), QStringLiteral("&Connect"), 10000);
    QVERIFY2(consoleLines(w).last().startsWith(reason), qPrintable(consoleLines(w).join(QLatin1Char('\n'))));
    QTRY_VERIFY(!pop3.isClientConnected());
    const QByteArray commands = expected.join("\r\n") + "\r\n";
    QVERIFY(pop3.received().startsWith(commands));
    // After the "+OK" to STLS only the client's TLS handshake went out.
    const QByteArray rest = pop3.received().mid(commands.size());
    QVERIFY(server == "garbles" ? rest.startsWith('\x16') : rest.isEmpty());
    QVERIFY(!rest.contains("bob") && !rest.contains("pw"));
    // A server that listed STLS is remembered.
    QCOMPARE(w.tlsServers.contains(key), server != "required");
    // Login pressed now has no connection to go out on.
    w.btnLoginClick();
    QCOMPARE(pop3.received().size(), commands.size() + rest.size());
}

QTEST_MAIN(TlsTest)
#include "tst_tls.moc"
