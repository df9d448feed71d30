// SPDX-License-Identifier: GPL-3.0-or-later
#include "support/DovecotServer.h"
#include "support/MailboxGenerator.h"

#include <QDateTime>
#include <QDeadlineTimer>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QRegularExpression>
#include <QSet>
#include <QSslConfiguration>
#include <QSslSocket>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QtTest>

#include <algorithm>

namespace {

using Kind = MailboxGenerator::Kind;

// A blocking POP3 client, enough to check what the server serves.
class PopClient {
public:
    explicit PopClient(QTcpSocket *socket = nullptr) : sock(socket ? socket : &own) {}

    bool connectTo(const DovecotServer &server)
    {
        sock->connectToHost(server.address(), server.port());
        if (!sock->waitForConnected(5000))
            return false;
        return readLine().startsWith("+OK");
    }

    // Sends bytes as they are (several commands may go in one write).
    void send(const QByteArray &bytes)
    {
        sock->write(bytes);
        sock->flush();
    }

    QByteArray readLine()
    {
        const QDeadlineTimer deadline(10000);
        qsizetype end;
        while ((end = buffer.indexOf("\r\n")) < 0) {
            if (deadline.hasExpired() || !waitForData(deadline))
                return {};
        }
        const QByteArray line = buffer.left(end);
        buffer.remove(0, end + 2);
        return line;
    }

    // A multi-line reply as sent: status line, then the data up to and with ".\r\n".
    QByteArray readMulti()
    {
        const QDeadlineTimer deadline(10000);
        while (true) {
            const qsizetype status = buffer.indexOf("\r\n");
            if (status >= 0 && !buffer.startsWith("+OK")) {
                const QByteArray line = buffer.left(status + 2);
                buffer.remove(0, status + 2);
                return line;
            }
            const qsizetype end = status < 0 ? -1 : buffer.indexOf("\r\n.\r\n", status);
            if (end >= 0) {
                const QByteArray reply = buffer.left(end + 5);
                buffer.remove(0, end + 5);
                return reply;
            }
            if (deadline.hasExpired() || !waitForData(deadline))
                return {};
        }
    }

    QByteArray command(const QByteArray &line)
    {
        send(line + "\r\n");
        return readLine();
    }

    QByteArray multi(const QByteArray &line)
    {
        send(line + "\r\n");
        return readMulti();
    }

    bool login(const DovecotServer &server)
    {
        send("USER " + server.user().toUtf8() + "\r\nPASS " + server.password().toUtf8() + "\r\n");
        return readLine() == "+OK" && readLine() == "+OK Logged in.";
    }

    // The lines of a multi-line reply's data, without the status line and the end.
    static QByteArrayList dataLines(const QByteArray &reply)
    {
        QByteArrayList lines = reply.split('\n');
        if (lines.size() < 3)
            return {};
        lines = lines.mid(1, lines.size() - 3);
        for (QByteArray &line : lines)
            line.chop(1);
        return lines;
    }

    QTcpSocket *socket() { return sock; }

private:
    bool waitForData(const QDeadlineTimer &deadline)
    {
        if (!sock->waitForReadyRead(int(qMax<qint64>(1, deadline.remainingTime()))))
            return false;
        buffer += sock->readAll();
        return true;
    }

    QTcpSocket own;
    QTcpSocket *sock;
    QByteArray buffer;
};

// What a POP3 server sends for a stored message: CR LF line ends, dot-stuffed.
QByteArray onTheWire(const QByteArray &raw)
{
    QByteArray out;
    QByteArrayList lines = raw.split('\n');
    if (lines.last().isEmpty())
        lines.removeLast();
    for (const QByteArray &line : lines)
        out += (line.startsWith('.') ? "." + line : line) + "\r\n";
    return out;
}

// Independent of the fixture's own bookkeeping: any live process that runs
// with this configuration or carries this instance's name.
QList<qint64> processesOf(const QString &configPath, const QString &instance)
{
    QList<qint64> found;
    const QByteArray config = configPath.toUtf8();
    const QByteArray title = "dovecot-" + instance.toUtf8() + '/';
    const QStringList entries = QDir(QStringLiteral("/proc")).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QString &entry : entries) {
        bool ok = false;
        const qint64 pid = entry.toLongLong(&ok);
        if (!ok)
            continue;
        QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
        QFile cmdline(QStringLiteral("/proc/%1/cmdline").arg(pid));
        if (!stat.open(QIODevice::ReadOnly) || !cmdline.open(QIODevice::ReadOnly))
            continue;
        const QByteArray status = stat.readAll();
        const qsizetype close = status.lastIndexOf(')');
        if (close < 0 || status.mid(close + 2, 1) == "Z")
            continue;
        const QByteArray args = cmdline.readAll();
        if (args.contains(config) || args.startsWith(title))
            found.append(pid);
    }
    return found;
}

// "+OK 5 1234" gives "+OK 5".
QByteArray firstTwoWords(const QByteArray &line)
{
    return line.split(' ').mid(0, 2).join(' ');
}

QString skipReason()
{
    QString why;
    return DovecotServer::isAvailable(&why) ? QString() : why;
}

#define REQUIRE_DOVECOT()                                                                                              \
    do {                                                                                                               \
        const QString why = skipReason();                                                                              \
        if (!why.isEmpty())                                                                                            \
            QSKIP(qPrintable(why));                                                                                    \
    } while (false)

#define START(server)                                                                                                  \
    do {                                                                                                               \
        QString why;                                                                                                   \
        QVERIFY2((server).start(&why), qPrintable(why));                                                               \
    } while (false)

} // namespace

class TestDovecotFixture : public QObject {
    Q_OBJECT

private slots:
    // The generator, which needs no server.
    void generatorIsReproducible();
    void generatorVariesMessages();
    void generatorNamesCarrySizesInOrder();
    void generatorKeepsRawBytes();
    void headerValue_data();
    void headerValue();

    // The real server.
    void servesGeneratedMailbox();
    void deletionCommitsOnQuit();
    void refusalsAreQuick_data();
    void refusalsAreQuick();
    void twoServersSideBySide();
    void stopLeavesNoProcess();
    void unusableCredentialsAreRefused_data();
    void unusableCredentialsAreRefused();
    void tlsListener();
};

void TestDovecotFixture::generatorIsReproducible()
{
    for (int i = 0; i < 40; ++i)
        QCOMPARE(MailboxGenerator::message(5, i), MailboxGenerator::message(5, i));
    int differing = 0;
    for (int i = 0; i < 40; ++i)
        differing += MailboxGenerator::message(5, i) != MailboxGenerator::message(6, i) ? 1 : 0;
    QCOMPARE(differing, 40);

    QTemporaryDir a;
    QTemporaryDir b;
    const QStringList first = MailboxGenerator(a.path()).writeMessages(25, 3);
    const QStringList second = MailboxGenerator(b.path()).writeMessages(25, 3);
    QCOMPARE(first.size(), 25);
    QCOMPARE(first, second);
    for (int i = 0; i < first.size(); ++i) {
        QFile file(b.path() + QStringLiteral("/cur/") + second.at(i));
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), MailboxGenerator::message(3, i));
    }
}

void TestDovecotFixture::generatorVariesMessages()
{
    const quint32 seed = 42;
    QSet<Kind> kinds;
    QSet<QByteArray> subjects;
    for (int i = 0; i < 20; ++i)
        kinds.insert(MailboxGenerator::kindOf(seed, i));
    QCOMPARE(kinds.size(), 8); // all but Large in any 20

    bool large = false;
    for (int i = 0; i < 100; ++i) {
        const QByteArray raw = MailboxGenerator::message(seed, i);
        const Kind kind = MailboxGenerator::kindOf(seed, i);
        const QByteArray head = raw.left(raw.indexOf("\n\n"));
        const QByteArray subject = MailboxGenerator::headerValue(raw, "Subject");
        subjects.insert(subject);
        QVERIFY2(!raw.contains('\r'), "stored mail uses LF only");
        QVERIFY(raw.indexOf("\n\n") > 0);
        for (const QByteArray field : {"From", "To", "Date", "Message-ID", "Subject", "Received"})
            QVERIFY2(!MailboxGenerator::headerValue(raw, field).isEmpty(), field);
        const bool eightBit = std::any_of(head.begin(), head.end(), [](char c) { return uchar(c) >= 0x80; });
        QCOMPARE(eightBit, kind == Kind::EightBitHeader);
        switch (kind) {
        case Kind::Reply:
            QVERIFY(subject.startsWith("Re: "));
            break;
        case Kind::DotLines:
            QVERIFY(raw.contains("\n.\n"));
            QVERIFY(raw.contains("\n..\n"));
            break;
        case Kind::EncodedHeader:
            QVERIFY(subject.contains("=?"));
            break;
        case Kind::Attachment:
        case Kind::Large: {
            const QByteArray type = MailboxGenerator::headerValue(raw, "Content-Type");
            QVERIFY(type.startsWith("multipart/mixed; boundary=\""));
            const QByteArray boundary = type.mid(type.indexOf('"') + 1).chopped(1);
            QVERIFY(raw.endsWith("\n--" + boundary + "--\n"));
            QVERIFY(raw.contains("Content-Transfer-Encoding: base64"));
            QCOMPARE(raw.size() > 100 * 1024, kind == Kind::Large);
            large = large || kind == Kind::Large;
            break;
        }
        case Kind::Spam:
            QVERIFY(MailboxGenerator::headerValue(raw, "Content-Type").startsWith("text/html"));
            break;
        case Kind::Newsletter: {
            const QByteArray type = MailboxGenerator::headerValue(raw, "Content-Type");
            QVERIFY(type.startsWith("multipart/alternative; boundary=\""));
            const QByteArray boundary = type.mid(type.indexOf('"') + 1).chopped(1);
            QCOMPARE(raw.count("\n--" + boundary + '\n'), 2);  // a plain part, then the HTML one
            QVERIFY(raw.contains("\n\n--" + boundary + "\nContent-Type: text/plain"));
            QVERIFY(raw.endsWith("\n--" + boundary + "--\n"));
            QVERIFY(MailboxGenerator::headerValue(raw, "List-Unsubscribe").startsWith("<https://"));
            QCOMPARE(MailboxGenerator::headerValue(raw, "Precedence"), QByteArray("bulk"));
            break;
        }
        case Kind::Plain:
        case Kind::EightBitHeader:
            break;
        }
    }
    QVERIFY(large);
    QVERIFY2(subjects.size() > 50, "subjects should vary");

    // Dates move forward with the message number, as in a real mailbox.
    const auto date = [](int i) {
        const QByteArray value = MailboxGenerator::headerValue(MailboxGenerator::message(1, i), "Date");
        return QDateTime::fromString(QString::fromLatin1(value), Qt::RFC2822Date);
    };
    for (int i = 1; i < 30; ++i) {
        QVERIFY(date(i).isValid());
        QVERIFY(date(i - 1) < date(i));
    }
}

void TestDovecotFixture::generatorNamesCarrySizesInOrder()
{
    QTemporaryDir dir;
    MailboxGenerator mailbox(dir.path());
    QStringList names = mailbox.writeMessages(30, 9);
    QCOMPARE(names.size(), 30);
    // A second writer continues after what is there, in either folder.
    MailboxGenerator later(dir.path());
    const QString fresh = later.writeMessage("Subject: new\n\nbody\n", MailboxGenerator::Folder::New);
    QVERIFY(!fresh.isEmpty());
    QVERIFY(QFileInfo::exists(dir.path() + QStringLiteral("/new/") + fresh));
    QVERIFY(!fresh.contains(QLatin1Char(':')));

    const QRegularExpression pattern(QStringLiteral("^(\\d+)\\.[^,]+,S=(\\d+),W=(\\d+):2,$"));
    qint64 previous = 0;
    for (const QString &name : std::as_const(names)) {
        const QRegularExpressionMatch match = pattern.match(name);
        QVERIFY2(match.hasMatch(), qPrintable(name));
        QFile file(dir.path() + QStringLiteral("/cur/") + name);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray raw = file.readAll();
        QCOMPARE(match.captured(2).toLongLong(), raw.size());
        QCOMPARE(match.captured(3).toLongLong(), raw.size() + raw.count('\n'));
        // Dovecot numbers new files by the leading time stamp.
        QVERIFY(match.captured(1).toLongLong() > previous);
        previous = match.captured(1).toLongLong();
    }
    QVERIFY(fresh.section(QLatin1Char('.'), 0, 0).toLongLong() > previous);
    QVERIFY(QDir(dir.path() + QStringLiteral("/tmp")).isEmpty());
}

void TestDovecotFixture::generatorKeepsRawBytes()
{
    QTemporaryDir dir;
    MailboxGenerator mailbox(dir.path());
    const QByteArray crlf = "Subject: crlf\r\n\r\nline\r\nbare\nend";
    const QString name = mailbox.writeMessage(crlf);
    QVERIFY(name.contains(QStringLiteral(",S=%1,W=%2").arg(crlf.size()).arg(crlf.size() + 1)));
    QFile file(dir.path() + QStringLiteral("/cur/") + name);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), crlf);

    // An unwritable place gives an empty name, not a crash.
    MailboxGenerator nowhere(QStringLiteral("/proc/tarnbeck-no-such-dir"));
    QVERIFY(nowhere.writeMessage("x").isEmpty());
    QVERIFY(nowhere.writeMessages(3, 1).isEmpty());
}

void TestDovecotFixture::headerValue_data()
{
    QTest::addColumn<QByteArray>("raw");
    QTest::addColumn<QByteArray>("name");
    QTest::addColumn<QByteArray>("value");
    QTest::newRow("plain") << QByteArray("From: a@b\nSubject: Hello there\n\nbody") << QByteArray("Subject")
                           << QByteArray("Hello there");
    QTest::newRow("any case") << QByteArray("SUBJECT: x\n\n") << QByteArray("subject") << QByteArray("x");
    QTest::newRow("folded") << QByteArray("Subject: one\r\n\ttwo\r\n  three\r\nX: y\r\n\r\n") << QByteArray("Subject")
                            << QByteArray("one two three");
    QTest::newRow("first of two") << QByteArray("To: a\nTo: b\n\n") << QByteArray("To") << QByteArray("a");
    QTest::newRow("not in body") << QByteArray("From: a\n\nSubject: no\n") << QByteArray("Subject") << QByteArray();
    QTest::newRow("prefix only") << QByteArray("Subjects: no\n\n") << QByteArray("Subject") << QByteArray();
    QTest::newRow("empty") << QByteArray() << QByteArray("Subject") << QByteArray();
}

void TestDovecotFixture::headerValue()
{
    QFETCH(QByteArray, raw);
    QFETCH(QByteArray, name);
    QFETCH(QByteArray, value);
    QCOMPARE(MailboxGenerator::headerValue(raw, name), value);
}

void TestDovecotFixture::servesGeneratedMailbox()
{
    REQUIRE_DOVECOT();
    const quint32 seed = 11;
    const int count = 30;
    DovecotServer server;
    const QStringList names = server.addMessages(count - 1, seed);
    QCOMPARE(names.size(), count - 1);
    START(server);
    // Added while running: served from the next session on.
    QByteArray large = MailboxGenerator::message(seed, count - 1);
    large.append(QByteArray(100000, 'x') + "\n");
    QVERIFY(!server.addMessage(large).isEmpty());

    PopClient pop;
    QVERIFY(pop.connectTo(server));
    QVERIFY(pop.login(server));

    const QByteArrayList list = PopClient::dataLines(pop.multi("LIST"));
    QCOMPARE(list.size(), count);
    for (int i = 0; i < count; ++i) {
        const QByteArray raw = i < count - 1 ? MailboxGenerator::message(seed, i) : large;
        QCOMPARE(list.at(i), QByteArray::number(i + 1) + ' ' + QByteArray::number(MailboxGenerator::virtualSize(raw)));
    }

    // Message n is the n-th one written.
    for (int i = 0; i < count - 1; ++i) {
        const QByteArray top = pop.multi("TOP " + QByteArray::number(i + 1) + " 0");
        QVERIFY2(top.startsWith("+OK"), top.constData());
        QCOMPARE(MailboxGenerator::headerValue(top.mid(top.indexOf('\n') + 1), "Subject"),
                 MailboxGenerator::headerValue(MailboxGenerator::message(seed, i), "Subject"));
    }

    // UIDLs are the stored names, so they survive a regenerated mailbox.
    const QByteArrayList uidls = PopClient::dataLines(pop.multi("UIDL"));
    QCOMPARE(uidls.size(), count);
    for (int i = 0; i < count - 1; ++i) {
        const QByteArray uidl = uidls.at(i).mid(uidls.at(i).indexOf(' ') + 1);
        QCOMPARE(QString::fromLatin1(uidl), names.at(i).section(QLatin1Char(':'), 0, 0));
    }

    // Lines beginning with a dot come back stuffed; the long line arrives whole.
    int checked = 0;
    for (int i = 0; i < count; ++i) {
        const QByteArray raw = i < count - 1 ? MailboxGenerator::message(seed, i) : large;
        if (!raw.contains("\n.") && i < count - 1)
            continue;
        const QByteArray retr = pop.multi("RETR " + QByteArray::number(i + 1));
        QVERIFY(retr.startsWith("+OK"));
        QCOMPARE(retr.mid(retr.indexOf('\n') + 1), onTheWire(raw) + ".\r\n");
        ++checked;
    }
    QVERIFY(checked >= 3);
    QCOMPARE(pop.command("QUIT"), QByteArray("+OK Logging out."));
    QCOMPARE(server.messageCount(), count);
}

void TestDovecotFixture::deletionCommitsOnQuit()
{
    REQUIRE_DOVECOT();
    DovecotServer server;
    server.addMessages(5, 2);
    START(server);

    PopClient first;
    QVERIFY(first.connectTo(server));
    QVERIFY(first.login(server));
    QCOMPARE(firstTwoWords(first.command("STAT")), QByteArray("+OK 5"));
    QVERIFY(first.command("DELE 1").startsWith("+OK"));
    QCOMPARE(first.command("DELE 1"), QByteArray("-ERR Message is deleted."));
    QCOMPARE(PopClient::dataLines(first.multi("LIST")).size(), 4);
    QCOMPARE(first.command("QUIT"), QByteArray("+OK Logging out, messages deleted."));

    PopClient second;
    QVERIFY(second.connectTo(server));
    QVERIFY(second.login(server));
    QCOMPARE(PopClient::dataLines(second.multi("LIST")).size(), 4);
    const QByteArray top = second.multi("TOP 1 0");
    QCOMPARE(MailboxGenerator::headerValue(top.mid(top.indexOf('\n') + 1), "Subject"),
             MailboxGenerator::headerValue(MailboxGenerator::message(2, 1), "Subject"));
    QCOMPARE(second.command("QUIT"), QByteArray("+OK Logging out."));
    QCOMPARE(server.messageCount(), 4);
}

void TestDovecotFixture::refusalsAreQuick_data()
{
    QTest::addColumn<QByteArray>("user");
    QTest::addColumn<QByteArray>("password");
    QTest::newRow("wrong password") << QByteArray("tester") << QByteArray("wrong");
    QTest::newRow("unknown user") << QByteArray("nobody-here") << QByteArray("secret");
}

void TestDovecotFixture::refusalsAreQuick()
{
    REQUIRE_DOVECOT();
    QFETCH(QByteArray, user);
    QFETCH(QByteArray, password);
    DovecotServer::Options options;
    options.verboseAuth = true;
    DovecotServer server(options);
    server.addMessages(1, 1);
    START(server);
    QVERIFY(!server.log().contains(QLatin1String("Login:")));

    // Dovecot waits up to 2 s before refusing and adds a growing penalty for
    // each failure from the same address (2 s, 6 s, ...); this server neither.
    QElapsedTimer timer;
    for (int attempt = 0; attempt < 3; ++attempt) {
        PopClient pop;
        QVERIFY(pop.connectTo(server));
        timer.start();
        pop.send("USER " + user + "\r\nPASS " + password + "\r\n");
        QCOMPARE(pop.readLine(), QByteArray("+OK"));
        QCOMPARE(pop.readLine(), QByteArray("-ERR [AUTH] Authentication failed."));
        QVERIFY2(timer.elapsed() < 1500, qPrintable(QString::number(timer.elapsed())));
    }
    // auth_verbose: the password check itself is logged.
    QTRY_VERIFY(server.log().contains(QLatin1String("passwd-file(") + QString::fromLatin1(user) + QLatin1Char(',')));
    QVERIFY(!server.log().contains(QLatin1String("Login:")));

    PopClient pop;
    QVERIFY(pop.connectTo(server));
    timer.restart();
    QVERIFY(pop.login(server));
    QVERIFY2(timer.elapsed() < 1500, qPrintable(QString::number(timer.elapsed())));
    QCOMPARE(firstTwoWords(pop.command("STAT")), QByteArray("+OK 1"));
    QTRY_VERIFY(server.log().contains(QLatin1String("Login: user=<tester>")));
}

void TestDovecotFixture::twoServersSideBySide()
{
    REQUIRE_DOVECOT();
    DovecotServer::Options options;
    options.user = QStringLiteral("other");
    options.password = QStringLiteral("pass word");
    DovecotServer one;
    DovecotServer two(options);
    one.addMessages(3, 1);
    two.addMessages(7, 2);
    START(one);
    START(two);
    QVERIFY(one.port() != two.port());
    QVERIFY(one.workDir() != two.workDir());
    QVERIFY(one.instanceName() != two.instanceName());
    QVERIFY(one.workDir().size() <= 70);

    PopClient a;
    PopClient b;
    QVERIFY(a.connectTo(one));
    QVERIFY(b.connectTo(two));
    QVERIFY(a.login(one));
    QVERIFY(b.login(two));
    QCOMPARE(firstTwoWords(a.command("STAT")), QByteArray("+OK 3"));
    QCOMPARE(firstTwoWords(b.command("STAT")), QByteArray("+OK 7"));

    one.stop();
    QVERIFY(!one.isRunning());
    QCOMPARE(b.command("NOOP"), QByteArray("+OK"));
    PopClient c;
    QVERIFY(c.connectTo(two));
    QVERIFY(c.login(two));
    QVERIFY(processesOf(one.configPath(), one.instanceName()).isEmpty());
    QVERIFY(!processesOf(two.configPath(), two.instanceName()).isEmpty());
}

void TestDovecotFixture::stopLeavesNoProcess()
{
    REQUIRE_DOVECOT();
    QString config;
    QString instance;
    {
        DovecotServer server;
        server.addMessages(2, 1);
        START(server);
        config = server.configPath();
        instance = server.instanceName();

        // An open session: the login and mail processes must go too.
        PopClient pop;
        QVERIFY(pop.connectTo(server));
        QVERIFY(pop.login(server));
        const QList<qint64> running = processesOf(config, instance);
        QVERIFY2(running.size() >= 3, qPrintable(QString::number(running.size())));
        QVERIFY(running.contains(server.masterPid()));
        const QList<qint64> reported = server.processIds();
        QCOMPARE(QSet<qint64>(running.begin(), running.end()), QSet<qint64>(reported.begin(), reported.end()));

        server.stop();
        QVERIFY(processesOf(config, instance).isEmpty());
        QVERIFY(pop.socket()->state() == QAbstractSocket::UnconnectedState || pop.socket()->waitForDisconnected(3000));

        // Started again, it runs until the destructor.
        START(server);
        QVERIFY(!processesOf(config, instance).isEmpty());
    }
    QVERIFY(processesOf(config, instance).isEmpty());
    QVERIFY(!QFileInfo::exists(config));
}

void TestDovecotFixture::unusableCredentialsAreRefused_data()
{
    QTest::addColumn<QString>("user");
    QTest::addColumn<QString>("password");
    QTest::newRow("colon in user") << QStringLiteral("a:b") << QStringLiteral("secret");
    QTest::newRow("colon in password") << QStringLiteral("tester") << QStringLiteral("se:cret");
    QTest::newRow("line break") << QStringLiteral("tester") << QStringLiteral("secret\nother:{PLAIN}x");
    QTest::newRow("no user") << QString() << QStringLiteral("secret");
}

void TestDovecotFixture::unusableCredentialsAreRefused()
{
    REQUIRE_DOVECOT();
    QFETCH(QString, user);
    QFETCH(QString, password);
    DovecotServer::Options options;
    options.user = user;
    options.password = password;
    DovecotServer server(options);
    QString why;
    QVERIFY(!server.start(&why));
    QVERIFY(!why.isEmpty());
    QVERIFY(!server.isRunning());
    QVERIFY(processesOf(server.configPath(), server.instanceName()).isEmpty());
}

void TestDovecotFixture::tlsListener()
{
    REQUIRE_DOVECOT();
    if (!QSslSocket::supportsSsl())
        QSKIP("Qt has no TLS backend here");
    QTemporaryDir keys;
    QString why;
    const QString cert = keys.filePath(QStringLiteral("cert.pem"));
    const QString key = keys.filePath(QStringLiteral("key.pem"));
    if (!DovecotServer::makeCertificate(cert, key, &why))
        QSKIP(qPrintable(why));

    DovecotServer::Options options;
    options.tls = true;
    options.certificatePath = cert;
    options.keyPath = key;
    DovecotServer server(options);
    server.addMessages(2, 4);
    START(server);
    QVERIFY(server.tlsPort() != 0);
    QVERIFY(server.tlsPort() != server.port());

    // The certificate is trusted for this one connection, so the name check still runs.
    QSslSocket tls;
    QSslConfiguration configuration = tls.sslConfiguration();
    configuration.setCaCertificates(QSslCertificate::fromPath(cert));
    tls.setSslConfiguration(configuration);
    tls.connectToHostEncrypted(QStringLiteral("127.0.0.1"), server.tlsPort());
    QVERIFY2(tls.waitForEncrypted(10000), qPrintable(tls.errorString()));
    PopClient secure(&tls);
    QVERIFY(secure.readLine().startsWith("+OK"));
    QVERIFY(secure.login(server));
    QCOMPARE(firstTwoWords(secure.command("STAT")), QByteArray("+OK 2"));

    // The plain port offers STLS.
    PopClient plain;
    QVERIFY(plain.connectTo(server));
    QVERIFY(PopClient::dataLines(plain.multi("CAPA")).contains("STLS"));
}

QTEST_GUILESS_MAIN(TestDovecotFixture)
#include "tst_dovecotfixture.moc"
