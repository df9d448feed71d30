// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/StatusTextBar.h"
#include "app/TForm1.h"
#include "controls/ConsoleView.h"
#include "app/TarnbeckApplication.h"
#include "mailbox/MailListModel.h"
#include "session/TClientSocket.h"
#include "settings/PasswordScrambler.h"
#include "support/DesktopStub.h"
#include "support/FormFixture.h"
#include "support/RandomBytes.h"
#include "support/SanitizerBuild.h"
#include "support/ScriptedPop3Server.h"

#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRandomGenerator>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QtTest>

// What the user types and what the settings file holds can be anything: the
// program starts, works and says what it could not do.
class BadInputTest : public QObject {
    Q_OBJECT
private slots:
    void init();
    void loginFieldsAreSentAsTyped_data();
    void loginFieldsAreSentAsTyped();
    void lineBreaksInFieldsSendNoOtherCommand_data();
    void lineBreaksInFieldsSendNoOtherCommand();
    void unusableServerField_data();
    void unusableServerField();
    void unusablePortField_data();
    void unusablePortField();
    void garbageSettingsFile_data();
    void garbageSettingsFile();
    void fiftyMegabyteSettingsFile_data();
    void fiftyMegabyteSettingsFile();
    void unwritableSettingsPlace_data();
    void unwritableSettingsPlace();

private:
    std::unique_ptr<TForm1> startForm(const QString &appDir);
    void writeSettings(const QByteArray &content);
    QByteArray readSettings() const;

    std::unique_ptr<QTemporaryDir> dir;
    std::unique_ptr<DesktopStub> desktop;
};

namespace {

// Logs in to a scripted server with the window's fields as they are, and
// lists one row: the window works.
bool logsIn(TForm1 &w, ScriptedPop3Server &server, const QString &user, const QString &password)
{
    w.txtServer->setEditText(QStringLiteral("127.0.0.1"));
    w.txtPort->setText(QString::number(server.port()));
    w.txtUID->setText(user);
    w.txtPWD->setText(password);
    server.greet("+OK ready")
        .expect("user " + user.toUtf8())
        .expect("pass " + password.toUtf8())
        .reply({"+OK", "+OK"})
        .expect("LIST")
        .reply({"+OK", "1 10", "."});
    w.btnConnClick();
    return QTest::qWaitFor([&] { return w.mailModel->count() == 1 && w.session->state() == ssIdle; }, 10000) &&
           server.errors().isEmpty();
}

}  // namespace

void BadInputTest::init()
{
    dir = std::make_unique<QTemporaryDir>();
    desktop = std::make_unique<DesktopStub>();
}

std::unique_ptr<TForm1> BadInputTest::startForm(const QString &appDir)
{
    auto form = std::make_unique<TForm1>();
    form->AppDir = appDir;
    form->show();  // showing loads the settings
    return form;
}

void BadInputTest::writeSettings(const QByteArray &content)
{
    QFile file(dir->filePath(QStringLiteral("Tarnbeck.ini")));
    QVERIFY(file.open(QIODevice::WriteOnly));
    QCOMPARE(file.write(content), content.size());
}

QByteArray BadInputTest::readSettings() const
{
    QFile file(dir->filePath(QStringLiteral("Tarnbeck.ini")));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void BadInputTest::loginFieldsAreSentAsTyped_data()
{
    QTest::addColumn<QString>("user");
    QTest::addColumn<QString>("password");
    const QString mb(1024 * 1024, QLatin1Char('u'));
    QTest::newRow("non-ASCII") << QStringLiteral("j\u00fcrgen.\u00df@\u4f8b\u3048.jp")
                               << QStringLiteral("\u043f\u0430\u0440\u043e\u043b\u044c\u20ac\U0001F600");
    QTest::newRow("1 MB user") << mb << QStringLiteral("pw");
    QTest::newRow("1 MB password") << QStringLiteral("bob") << mb;
    QTest::newRow("1 MB non-ASCII password") << QStringLiteral("bob") << QString(512 * 1024, QChar(0x00e9));
    QTest::newRow("blanks and controls") << QStringLiteral(" b\to b ") << QStringLiteral("p w\x01");
}

void BadInputTest::loginFieldsAreSentAsTyped()
{
    QFETCH(QString, user);
    QFETCH(QString, password);
    FormFixture f;
    TForm1 &w = *f.form;
    // The field decides what it holds (a line edit keeps at most its maximum
    // length); whatever it holds goes out as its UTF-8, nothing else.
    w.txtUID->setText(user);
    w.txtPWD->setText(password);
    const QString heldUser = w.txtUID->text();
    const QString heldPassword = w.txtPWD->text();
    QVERIFY(!heldUser.isEmpty() && user.startsWith(heldUser));
    QVERIFY(!heldPassword.isEmpty() && password.startsWith(heldPassword));
    ScriptedPop3Server server;
    QVERIFY2(logsIn(w, server, heldUser, heldPassword), qPrintable(server.errors().join('\n').left(500)));
    QCOMPARE(server.received(),
             "CAPA\r\nuser " + heldUser.toUtf8() + "\r\npass " + heldPassword.toUtf8() + "\r\nLIST\r\n");
    const QStringList console = w.Memo1->text().split(QLatin1Char('\n'));
    QVERIFY(console.contains(QStringLiteral("? USER ") + heldUser));
    // The password never reaches the console, not even in part.
    QVERIFY(console.contains(QStringLiteral("? PASS ") + QString(heldPassword.toUcs4().size(), QLatin1Char('*'))));
    if (heldPassword.size() > 3)
        QVERIFY(!w.Memo1->text().contains(heldPassword));
    QVERIFY(f.desktop.boxes.isEmpty());
}

void BadInputTest::lineBreaksInFieldsSendNoOtherCommand_data()
{
    QTest::addColumn<QString>("user");
    QTest::addColumn<QString>("password");
    QTest::addColumn<bool>("fromFile");
    QTest::newRow("user typed") << QStringLiteral("bob\r\nDELE 1") << QStringLiteral("pw") << false;
    QTest::newRow("password typed") << QStringLiteral("bob") << QStringLiteral("pw\nQUIT\r") << false;
    QTest::newRow("password from the settings file") << QStringLiteral("bob") << QStringLiteral("x\r\nDELE 2") << true;
}

void BadInputTest::lineBreaksInFieldsSendNoOtherCommand()
{
    QFETCH(QString, user);
    QFETCH(QString, password);
    QFETCH(bool, fromFile);
    if (fromFile) {
        // The stored password is scrambled, so any bytes can hide in it.
        writeSettings("[Default]\r\nUserID=" + user.toUtf8() + "\r\nPassword=" +
                      ScramblePassword(password.toUtf8(), UserKey(user.toUtf8())) + "\r\n");
    }
    auto form = startForm(dir->path() + QLatin1Char('/'));
    TForm1 &w = *form;
    if (fromFile) {
        QCOMPARE(w.txtPWD->text(), password);
    } else {
        w.txtUID->setText(user);
        w.txtPWD->setText(password);
    }
    ScriptedPop3Server server;
    server.autoReply("DELE", {"+OK"});
    server.autoReply("QUIT", {"+OK"});
    server.autoReply("user", {"+OK"});
    server.autoReply("pass", {"-ERR"});
    server.greet("+OK ready");
    w.txtServer->setEditText(QStringLiteral("127.0.0.1"));
    w.txtPort->setText(QString::number(server.port()));
    w.btnConnClick();
    QTRY_COMPARE(server.lineCount(), 3);
    QByteArray plainUser = user.toUtf8(), plainPassword = password.toUtf8();
    plainUser.replace("\r", "").replace("\n", "");
    plainPassword.replace("\r", "").replace("\n", "");
    QCOMPARE(server.receivedLines(), (QByteArrayList{"CAPA", "user " + plainUser, "pass " + plainPassword}));
    // Refused, as it would be by a real server: the user sees the failure.
    QTRY_COMPARE(w.msgBar->text(), QStringLiteral(" Login to user account ... Fail !"));
    QVERIFY(w.btnLogin->isEnabled());
    QCOMPARE(server.lineCount(), 3);
    QCOMPARE(server.unexpected(), QByteArrayList());
}

void BadInputTest::unusableServerField_data()
{
    QTest::addColumn<QString>("server");
    QTest::newRow("1 MB") << QString(1024 * 1024, QLatin1Char('h'));
    QTest::newRow("non-ASCII, not resolvable") << QStringLiteral("p\u00f6p.\u4f8b\u3048.invalid");
    QTest::newRow("controls") << QStringLiteral("pop\r\n.example.invalid");
}

void BadInputTest::unusableServerField()
{
    QFETCH(QString, server);
    FormFixture f;
    TForm1 &w = *f.form;
    w.txtServer->setEditText(server);
    w.txtPort->setText(QStringLiteral("110"));
    QElapsedTimer clock;
    clock.start();
    w.btnConnClick();
    // The attempt ends, and the user is told.
    QTRY_COMPARE_WITH_TIMEOUT(w.btnConn->text(), QStringLiteral("&Connect"), 20000);
    QVERIFY(!w.cSock->Active());
    QVERIFY(w.btnConn->isEnabled());
    QTRY_VERIFY(!f.desktop.boxes.isEmpty() || !w.Memo1->text().isEmpty());
    QVERIFY(w.msgBar->text().startsWith(QStringLiteral(" Disconnected from")) ||
            w.msgBar->text().startsWith(QStringLiteral(" Trying to connect to")));
    qInfo("failed connect took %lld ms", clock.elapsed());
    // And the window still works.
    ScriptedPop3Server pop;
    QVERIFY(logsIn(w, pop, QStringLiteral("bob"), QStringLiteral("pw")));
}

void BadInputTest::unusablePortField_data()
{
    QTest::addColumn<QString>("port");
    QTest::newRow("1 MB of digits") << QString(1024 * 1024, QLatin1Char('1'));
    QTest::newRow("full-width digits") << QStringLiteral("\uff11\uff11\uff10");
    QTest::newRow("Arabic-Indic digits") << QStringLiteral("\u0661\u0661\u0660");
    QTest::newRow("digits and a mark") << QStringLiteral("11\u03010");
}

void BadInputTest::unusablePortField()
{
    QFETCH(QString, port);
    FormFixture f;
    TForm1 &w = *f.form;
    w.txtServer->setEditText(QStringLiteral("127.0.0.1"));
    w.txtPort->setText(port);
    w.btnConnClick();
    QCOMPARE(f.desktop.boxes.size(), 1);
    QCOMPARE(f.desktop.boxes[0].text, QStringLiteral("Port number must be in 0-65535 range !"));
    QCOMPARE(w.btnConn->text(), QStringLiteral("&Connect"));
    QVERIFY(!w.cSock->Active());
    ScriptedPop3Server pop;
    QVERIFY(logsIn(w, pop, QStringLiteral("bob"), QStringLiteral("pw")));
}

void BadInputTest::garbageSettingsFile_data()
{
    QTest::addColumn<QByteArray>("content");
    for (quint32 seed : {7u, 8u})
        QTest::addRow("binary, seed %u", seed) << garbage(256 * 1024, seed);
    QTest::newRow("garbage values") << "[Default]\r\nUserID=" + garbage(4096, 9).replace('\n', ' ').replace('\r', ' ') +
                                           "\r\nPassword=" + garbage(4096, 10).replace('\n', ' ').replace('\r', ' ') +
                                           "\r\nPort=" + garbage(64, 11).replace('\n', ' ').replace('\r', ' ') +
                                           "\r\n[Windows]\r\nHeight=99999999999999999999\r\nWidth=\x80\xff\r\n";
    QTest::newRow("password of odd length and non-hex") << QByteArray("[Default]\nUserID=bob\nPassword=zz\x01\xff\xfe\n");
    QTest::newRow("NUL bytes") << QByteArray("[Default]\0\nUserID=b\0ob\n\0\0\0[Servers]\nx\0y=1\n", 40);
}

void BadInputTest::garbageSettingsFile()
{
    QFETCH(QByteArray, content);
    writeSettings(content);
    {
        auto form = startForm(dir->path() + QLatin1Char('/'));
        QVERIFY(form->isVisible());
        QVERIFY(form->width() >= form->minimumWidth() && form->height() >= form->minimumHeight());
        QCOMPARE(form->size(), form->minimumSize());
        ScriptedPop3Server server;
        QVERIFY(logsIn(*form, server, QStringLiteral("bob"), QStringLiteral("s\u00e9cret")));
    }
    // The file could be written back; what the user used comes back at the next start.
    QCOMPARE(desktop->boxes.size(), 0);
    auto form = startForm(dir->path() + QLatin1Char('/'));
    QCOMPARE(form->txtUID->text(), QStringLiteral("bob"));
    QCOMPARE(form->txtPWD->text(), QStringLiteral("s\u00e9cret"));
    QCOMPARE(form->txtServer->currentText(), QStringLiteral("127.0.0.1"));
}

void BadInputTest::fiftyMegabyteSettingsFile_data()
{
    QTest::addColumn<bool>("oneLine");
    QTest::newRow("many lines") << false;
    QTest::newRow("one line") << true;
}

void BadInputTest::fiftyMegabyteSettingsFile()
{
    QFETCH(bool, oneLine);
    const qsizetype size = 50 * 1024 * 1024;
    QByteArray content = "[Default]\r\nUserID=carol\r\nServer=pop.example.org\r\n[Junk]\r\n";
    content.reserve(size + 64);
    if (oneLine) {
        content += "huge=" + QByteArray(size, 'v') + "\r\n";
    } else {
        for (int i = 0; content.size() < size; ++i)
            content += "key" + QByteArray::number(i) + "=some value of no use " + QByteArray::number(i) + "\r\n";
    }
    writeSettings(content);
    content = QByteArray();

    QElapsedTimer clock;
    clock.start();
    auto form = startForm(dir->path() + QLatin1Char('/'));
    const qint64 startMs = clock.elapsed();
    QCOMPARE(form->txtUID->text(), QStringLiteral("carol"));
    QCOMPARE(form->txtServer->currentText(), QStringLiteral("pop.example.org"));
    ScriptedPop3Server server;
    QVERIFY(logsIn(*form, server, QStringLiteral("carol"), QStringLiteral("pw")));
    clock.restart();
    form.reset();
    const qint64 exitMs = clock.elapsed();
    qInfo("50 MB settings file (%s): start %lld ms, exit %lld ms", QTest::currentDataTag(), startMs, exitMs);
    QVERIFY2(startMs < (kSanitized ? 20000 : 5000), qPrintable(QString::number(startMs)));
    QVERIFY2(exitMs < (kSanitized ? 20000 : 5000), qPrintable(QString::number(exitMs)));
    QCOMPARE(desktop->boxes.size(), 0);
    // The rest of the file survives the save.
    const QByteArray saved = readSettings();
    QVERIFY(saved.size() > size);
    QVERIFY(oneLine ? saved.contains("huge=vvvv") : saved.contains("\r\nkey100000=some value of no use 100000\r\n"));
}

void BadInputTest::unwritableSettingsPlace_data()
{
    QTest::addColumn<int>("kind");
    QTest::newRow("a folder named like the file") << 0;
    QTest::newRow("a folder that takes no files") << 1;
    QTest::newRow("a folder that does not exist") << 2;
}

void BadInputTest::unwritableSettingsPlace()
{
    QFETCH(int, kind);
    QString appDir = dir->path() + QLatin1Char('/');
    if (kind == 0) {
        QVERIFY(QDir(dir->path()).mkdir(QStringLiteral("Tarnbeck.ini")));
    } else if (kind == 1) {
        // Nobody, not even root, can create a file here.
        appDir = QStringLiteral("/proc/self/");
        QVERIFY(!QFile::exists(appDir + QStringLiteral("Tarnbeck.ini")));
    } else {
        appDir = dir->path() + QStringLiteral("/missing/");
    }
    // Nor can the user's config folder be made, where a copy whose folder
    // takes no file would keep its settings.
    const QByteArray configHome = qgetenv("XDG_CONFIG_HOME");
    qputenv("XDG_CONFIG_HOME", "/proc/self/no-config");
    const auto restore = qScopeGuard([&configHome] { qputenv("XDG_CONFIG_HOME", configHome); });
    auto form = startForm(appDir);
    QVERIFY(desktop->boxes.isEmpty());
    QCOMPARE(form->txtPort->text(), QStringLiteral("110"));
    ScriptedPop3Server server;
    QVERIFY(logsIn(*form, server, QStringLiteral("bob"), QStringLiteral("pw")));
    const QString path = form->SettingsPath();
    form.reset();
    QCOMPARE(desktop->boxes.size(), 1);
    QCOMPARE(desktop->boxes[0].text, QStringLiteral("Unable to write to %1.").arg(QDir::toNativeSeparators(path)));
    QCOMPARE(desktop->boxes[0].icon, platform::BoxIcon::Error);
    if (kind == 2)
        QVERIFY(!QFileInfo::exists(appDir));
}

int main(int argc, char **argv)
{
    TarnbeckApplication app(argc, argv);
    BadInputTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_badinput.moc"
