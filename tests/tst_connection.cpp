// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/StatusTextBar.h"
#include "app/TForm1.h"
#include "controls/ConsoleView.h"
#include "app/TarnbeckApplication.h"
#include "session/TClientSocket.h"
#include "support/FormFixture.h"
#include "support/Loopback.h"
#include "support/ScriptedPop3Server.h"

#include <QComboBox>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTcpServer>
#include <QtTest>

// Connecting and disconnecting from the main window, against the scripted server.
class ConnectionTest : public QObject {
    Q_OBJECT
private slots:
    void numericAddressConnectsAndDisconnects();
    void hostNameShowsPeerAddress();
    void serverListGrowsOnceIgnoringCase();
    void serverClosesConnection();
    void connectionRefused();
    void unresolvableHost();
    void emptyServerField();
    void clickWhileResolvingAbandonsAttempt();
    void serverSilentAfterGreeting();
    void resetOnOpenConnectionReturnsToIdle();
    void socketRefusedByPlatform();
    void portExitCheck_data();
    void portExitCheck();
    void invalidPortIsNotConnected_data();
    void invalidPortIsNotConnected();
    void receivedTextIsLogged();
};

namespace {

void setUp(TForm1 &w, const QString &server, quint16 port)
{
    w.txtServer->setEditText(server);
    w.txtPort->setText(QString::number(port));
}

QStringList consoleLines(const TForm1 &w)
{
    const QString text = w.Memo1->text();
    return text.isEmpty() ? QStringList() : text.split(QLatin1Char('\n'));
}

}  // namespace

void ConnectionTest::numericAddressConnectsAndDisconnects()
{
    FormFixture f;
    TForm1 &w = *f.form;
    ScriptedPop3Server server;
    server.acceptClient();
    setUp(w, QStringLiteral("127.0.0.1"), server.port());
    w.EnableMailboxControls(true);

    w.btnConnClick();
    // For an address given as digits the connecting text is there before the click returns.
    QCOMPARE(w.msgBar->text(), QStringLiteral(" Trying to connect to 127.0.0.1 on port %1 ...").arg(server.port()));
    QCOMPARE(w.btnConn->text(), QStringLiteral("&Disconnect"));
    QCOMPARE(w.session->state(), std::uint8_t(ssWaitGreeting));

    QTRY_VERIFY(w.cSock->Active());
    QCOMPARE(w.msgBar->text(), QStringLiteral(" Connected to 127.0.0.1"));
    QVERIFY(w.txtCmdPrompt->isEnabled());
    QVERIFY(w.Memo1->isEnabled());
    QVERIFY(w.btnClear->isEnabled());
    QVERIFY(!w.btnList->isEnabled());
    QVERIFY(!w.btnQuit->isEnabled());
    QVERIFY(w.btnConn->isEnabled());
    QCOMPARE(w.txtServer->count(), 1);
    QCOMPARE(w.txtServer->itemText(0), QStringLiteral("127.0.0.1"));
    QCOMPARE(w.txtServer->currentText(), QStringLiteral("127.0.0.1"));
    QTRY_VERIFY(server.isClientConnected());

    w.btnConnClick();
    // The disconnect event runs inside the click.
    QVERIFY(!w.cSock->Active());
    QCOMPARE(w.msgBar->text(), QStringLiteral(" Disconnected from 127.0.0.1"));
    QCOMPARE(w.btnConn->text(), QStringLiteral("&Connect"));
    QCOMPARE(w.session->state(), std::uint8_t(ssWaitGreeting));
    QVERIFY(!w.txtCmdPrompt->isEnabled());
    QVERIFY(w.Memo1->isEnabled());  // the log stays readable
    QVERIFY(!w.btnClear->isEnabled());
    QTRY_VERIFY(!server.isClientConnected());
    QCOMPARE(server.received(), QByteArray());  // no QUIT, nothing at all
    QVERIFY2(server.errors().isEmpty(), qPrintable(server.errors().join('\n')));
}

void ConnectionTest::hostNameShowsPeerAddress()
{
    FormFixture f;
    TForm1 &w = *f.form;
    ScriptedPop3Server server;
    server.acceptClient();
    setUp(w, QStringLiteral("localhost"), server.port());

    w.btnConnClick();
    QCOMPARE(w.btnConn->text(), QStringLiteral("&Disconnect"));
    QTRY_VERIFY(w.cSock->Active());
    QCOMPARE(w.msgBar->text(), QStringLiteral(" Connected to 127.0.0.1"));
    QCOMPARE(w.txtServer->itemText(0), QStringLiteral("localhost"));
}

void ConnectionTest::serverListGrowsOnceIgnoringCase()
{
    FormFixture f;
    TForm1 &w = *f.form;
    ScriptedPop3Server server;
    w.txtServer->addItem(QStringLiteral("localhost"));
    w.txtServer->addItem(QStringLiteral("pop.example.org"));
    setUp(w, QStringLiteral("LOCALHOST"), server.port());
    w.btnConnClick();
    QTRY_VERIFY(w.cSock->Active());
    QCOMPARE(w.txtServer->count(), 2);
    w.btnConnClick();

    setUp(w, QStringLiteral("127.0.0.1"), server.port());
    w.btnConnClick();
    QTRY_VERIFY(w.cSock->Active());
    w.btnConnClick();
    w.btnConnClick();
    QTRY_VERIFY(w.cSock->Active());
    QCOMPARE(w.txtServer->count(), 3);
    QCOMPARE(w.txtServer->itemText(2), QStringLiteral("127.0.0.1"));
}

void ConnectionTest::serverClosesConnection()
{
    FormFixture f;
    TForm1 &w = *f.form;
    ScriptedPop3Server server;
    server.greet("+OK ready").pause(50).close();
    setUp(w, QStringLiteral("127.0.0.1"), server.port());
    w.btnConnClick();
    QTRY_VERIFY(w.cSock->Active());
    QTRY_VERIFY(!w.cSock->Active());
    QCOMPARE(w.msgBar->text(), QStringLiteral(" Disconnected from 127.0.0.1"));
    QCOMPARE(w.btnConn->text(), QStringLiteral("&Connect"));
    QVERIFY(!w.txtCmdPrompt->isEnabled());
    QVERIFY(w.btnConn->isEnabled());
    QVERIFY(consoleLines(w).contains(QStringLiteral("+OK ready")));  // the console keeps its content
}

void ConnectionTest::connectionRefused()
{
    FormFixture f;
    TForm1 &w = *f.form;
    const quint16 port = closedLoopbackPort();
    setUp(w, QStringLiteral("127.0.0.1"), port);
    w.btnConnClick();
    const QString connecting = QStringLiteral(" Trying to connect to 127.0.0.1 on port %1 ...").arg(port);
    QCOMPARE(w.msgBar->text(), connecting);
    QTRY_COMPARE(w.btnConn->text(), QStringLiteral("&Connect"));
    QCOMPARE(consoleLines(w),
             QStringList{QStringLiteral("Host (127.0.0.1) NOT found [OR] port (%1)not opened !").arg(port)});
    QCOMPARE(w.msgBar->text(), connecting);  // the error line never changes the status bar
    QVERIFY(!w.cSock->Active());
    QVERIFY(w.Memo1->isEnabled());  // so the error line can be read and copied
    QVERIFY(f.desktop.boxes.isEmpty());

    // The next click starts a new attempt.
    w.btnConnClick();
    QCOMPARE(w.btnConn->text(), QStringLiteral("&Disconnect"));
    QTRY_COMPARE(consoleLines(w).size(), 2);
}

void ConnectionTest::unresolvableHost()
{
    FormFixture f;
    TForm1 &w = *f.form;
    setUp(w, QStringLiteral("no-such-host.invalid"), 110);
    w.btnConnClick();
    QCOMPARE(w.btnConn->text(), QStringLiteral("&Disconnect"));
    QTRY_COMPARE(f.desktop.boxes.size(), 1);
    const platform::MessageBoxRequest &box = f.desktop.boxes[0];
    QVERIFY2(box.text.startsWith(QStringLiteral("Windows socket error: ")), qPrintable(box.text));
    QVERIFY2(box.text.contains(QStringLiteral("on API 'ASync Lookup'")), qPrintable(box.text));
    QCOMPARE(box.title, TarnbeckApplication::title());
    QCOMPARE(box.icon, platform::BoxIcon::Error);
    QCOMPARE(w.msgBar->text(), QStringLiteral(" Disconnected from "));
    QCOMPARE(w.btnConn->text(), QStringLiteral("&Connect"));
    QVERIFY(w.Memo1->text().isEmpty());
    QVERIFY(!w.cSock->Active());
}

void ConnectionTest::emptyServerField()
{
    FormFixture f;
    TForm1 &w = *f.form;
    setUp(w, QString(), 110);
    w.btnConnClick();
    QCOMPARE(w.msgBar->text(), QStringLiteral(" Disconnected from "));
    QCOMPARE(w.btnConn->text(), QStringLiteral("&Connect"));
    QVERIFY(!w.cSock->Active());
    QVERIFY(f.desktop.boxes.isEmpty());
}

void ConnectionTest::clickWhileResolvingAbandonsAttempt()
{
    FormFixture f;
    TForm1 &w = *f.form;
    ScriptedPop3Server server;
    server.acceptClient();
    w.cSock->setConnectTimeout(100);
    setUp(w, QStringLiteral("localhost"), server.port());
    w.btnConnClick();  // the name cannot be resolved before the event loop runs
    QCOMPARE(w.btnConn->text(), QStringLiteral("&Disconnect"));
    w.btnConnClick();
    QCOMPARE(w.session->state(), std::uint8_t(ssWaitGreeting));
    QCOMPARE(w.btnConn->text(), QStringLiteral("&Connect"));
    QVERIFY(w.btnConn->isEnabled());
    QCOMPARE(w.msgBar->text(), QStringLiteral(" Disconnected from "));
    QVERIFY(!w.cSock->Active());

    // Nothing of the abandoned attempt reaches the window later.
    QTest::qWait(3 * w.cSock->ConnectTimeout());
    QCOMPARE(w.msgBar->text(), QStringLiteral(" Disconnected from "));
    QCOMPARE(w.btnConn->text(), QStringLiteral("&Connect"));
    QVERIFY(w.Memo1->text().isEmpty());
    QCOMPARE(server.connectionCount(), 0);
    QVERIFY(f.desktop.boxes.isEmpty());

    // A new Connect works at once.
    setUp(w, QStringLiteral("127.0.0.1"), server.port());
    w.btnConnClick();
    QTRY_VERIFY(w.cSock->Active());
    QCOMPARE(w.msgBar->text(), QStringLiteral(" Connected to 127.0.0.1"));
}

void ConnectionTest::serverSilentAfterGreeting()
{
    // The login goes out and no answer ever comes: the connection stays up
    // (the connect time limit is over once connected), and Disconnect ends it.
    FormFixture f;
    TForm1 &w = *f.form;
    ScriptedPop3Server server;
    server.greet("+OK ready").expect("user ann").expect("pass pw");
    w.cSock->setConnectTimeout(100);
    setUp(w, QStringLiteral("127.0.0.1"), server.port());
    w.txtUID->setText(QStringLiteral("ann"));
    w.txtPWD->setText(QStringLiteral("pw"));
    w.btnConnClick();
    QTRY_VERIFY(server.scriptDone());
    QTest::qWait(3 * w.cSock->ConnectTimeout());
    QVERIFY(w.cSock->Active());
    QCOMPARE(consoleLines(w),
             (QStringList{QStringLiteral("+OK ready"), QStringLiteral("? CAPA"), QStringLiteral("-ERR unknown command"),
                          QStringLiteral("This server offers no encryption (STLS): the password goes unencrypted."), QStringLiteral("? USER ann"), QStringLiteral("? PASS **")}));

    w.btnConnClick();
    QVERIFY(!w.cSock->Active());
    QCOMPARE(w.msgBar->text(), QStringLiteral(" Disconnected from 127.0.0.1"));
    QCOMPARE(w.btnConn->text(), QStringLiteral("&Connect"));
    QTRY_VERIFY(!server.isClientConnected());
    QCOMPARE(server.receivedLines(), (QByteArrayList{"CAPA", "user ann", "pass pw"}));  // no QUIT
    QVERIFY2(server.errors().isEmpty(), qPrintable(server.errors().join('\n')));
}

void ConnectionTest::resetOnOpenConnectionReturnsToIdle()
{
    FormFixture f;
    TForm1 &w = *f.form;
    ScriptedPop3Server server;
    server.greet("+OK ready").pause(50).reset();
    setUp(w, QStringLiteral("127.0.0.1"), server.port());
    w.btnConnClick();
    QTRY_VERIFY(w.cSock->Active());
    QTRY_VERIFY(!w.cSock->Active());
    QCOMPARE(w.btnConn->text(), QStringLiteral("&Connect"));
    QVERIFY(w.msgBar->text().startsWith(QStringLiteral(" Disconnected from")));
    QVERIFY(!w.txtCmdPrompt->isEnabled());
    const QStringList lines = consoleLines(w);
    QCOMPARE(lines.count(QStringLiteral("Host (127.0.0.1) NOT found [OR] port (%1)not opened !").arg(server.port())), 1);

    // A new connection can be made at once.
    server.acceptClient();
    w.btnConnClick();
    QTRY_VERIFY(w.cSock->Active());
}

void ConnectionTest::socketRefusedByPlatform()
{
    FormFixture f;
    TForm1 &w = *f.form;
    w.cSock->socketFactory = [] { return nullptr; };
    setUp(w, QStringLiteral("127.0.0.1"), 110);
    w.btnConnClick();
    QCOMPARE(w.btnConn->text(), QStringLiteral("&Connect"));
    QVERIFY(!w.cSock->Active());
    QCOMPARE(w.msgBar->text(), QStringLiteral(" idle ..."));
}

void ConnectionTest::portExitCheck_data()
{
    QTest::addColumn<QString>("port");
    QTest::addColumn<bool>("complains");
    QTest::newRow("70000") << "70000" << true;
    QTest::newRow("65536") << "65536" << true;
    QTest::newRow("12a") << "12a" << true;
    QTest::newRow("sign") << "-1" << true;
    QTest::newRow("blank") << " 110" << true;
    QTest::newRow("long digits") << "99999999999999999999" << true;
    QTest::newRow("65535") << "65535" << false;
    QTest::newRow("0") << "0" << false;
    QTest::newRow("empty") << "" << false;
    QTest::newRow("leading zeros") << "000110" << false;
}

void ConnectionTest::portExitCheck()
{
    QFETCH(QString, port);
    QFETCH(bool, complains);
    FormFixture f;
    TForm1 &w = *f.form;
    w.show();
    w.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&w));
    w.txtPort->setFocus();
    QTRY_VERIFY(w.txtPort->hasFocus());
    w.txtPort->setText(port);
    w.txtUID->setFocus();  // the focus leaves the field
    QTRY_VERIFY(!w.txtPort->hasFocus() || complains);
    QCOMPARE(f.desktop.boxes.size(), complains ? 1 : 0);
    if (complains) {
        QCOMPARE(f.desktop.boxes[0].title, QStringLiteral("Error"));
        QCOMPARE(f.desktop.boxes[0].text, QStringLiteral("Port number must be in 0-65535 range !"));
        QCOMPARE(f.desktop.boxes[0].icon, platform::BoxIcon::Error);
        QCOMPARE(f.desktop.boxes[0].buttons, QList<platform::BoxButton>{platform::BoxButton::Ok});
        QTRY_VERIFY(w.txtPort->hasFocus());
    }
}

void ConnectionTest::invalidPortIsNotConnected_data()
{
    QTest::addColumn<QString>("port");
    QTest::newRow("not a number") << "abc";
    QTest::newRow("above 65535") << "65646";  // would be port 110 if cut to 16 bits
    QTest::newRow("empty") << "";
}

void ConnectionTest::invalidPortIsNotConnected()
{
    QFETCH(QString, port);
    FormFixture f;
    TForm1 &w = *f.form;
    ScriptedPop3Server server;
    setUp(w, QStringLiteral("127.0.0.1"), server.port());
    w.btnConnClick();  // a good first attempt sets the socket's port
    QTRY_VERIFY(w.cSock->Active());
    w.btnConnClick();
    QTRY_VERIFY(server.connectionCount() == 1);

    w.txtPort->setText(port);
    w.btnConnClick();
    QCOMPARE(f.desktop.boxes.size(), 1);
    QCOMPARE(f.desktop.boxes[0].text, QStringLiteral("Port number must be in 0-65535 range !"));
    QCOMPARE(w.btnConn->text(), QStringLiteral("&Connect"));
    QVERIFY(!w.cSock->Active());
    QTest::qWait(50);  // an attempt, if one were made, would reach the server
    QCOMPARE(server.connectionCount(), 1);
}

void ConnectionTest::receivedTextIsLogged()
{
    FormFixture f;
    TForm1 &w = *f.form;
    ScriptedPop3Server server;
    // Blanks around a read are trimmed for the console; a read of blank lines
    // shows as one empty entry. The greeting starts the login by itself.
    server.greet("  +OK ready  ").expect("user ann").expect("pass pw").send("\r\n\r\n");
    setUp(w, QStringLiteral("127.0.0.1"), server.port());
    w.txtUID->setText(QStringLiteral("ann"));
    w.txtPWD->setText(QStringLiteral("pw"));
    w.btnConnClick();
    QTRY_VERIFY(server.scriptDone());
    QTRY_COMPARE(consoleLines(w),
                 (QStringList{QStringLiteral("+OK ready"), QStringLiteral("? CAPA"), QStringLiteral("-ERR unknown command"),
                              QStringLiteral("This server offers no encryption (STLS): the password goes unencrypted."), QStringLiteral("? USER ann"), QStringLiteral("? PASS **"), QString()}));
}

int main(int argc, char **argv)
{
    TarnbeckApplication app(argc, argv);
    ConnectionTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_connection.moc"
