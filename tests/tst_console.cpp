// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/TForm1.h"
#include "controls/ConsoleView.h"
#include "session/TClientSocket.h"
#include "support/FormFixture.h"
#include "support/ScriptedPop3Server.h"

#include <QComboBox>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTabWidget>
#include <QtTest>

// The "TELNET" page: raw lines typed into the prompt, the log, Clear.
class ConsoleTest : public QObject {
    Q_OBJECT
private slots:
    void enterSendsLineAsTyped_data();
    void enterSendsLineAsTyped();
    void enterWhileDisconnectedDoesNothing();
    void otherKeysReachTheField();
    void replyFollowsEcho();
    void clearEmptiesLog();
    void hiddenLogCatchesUpWhenShown();
    void floodGoesInSliceBySlice();
    void logKeepsNewestWithinCapacity();
    void pageGivesFocusToPrompt();
};

namespace {

struct Connected {
    FormFixture f;
    TForm1 &w;
    ScriptedPop3Server server;

    Connected() : w(*f.form)
    {
        server.acceptClient();
        w.txtServer->setEditText(QStringLiteral("127.0.0.1"));
        w.txtPort->setText(QString::number(server.port()));
        w.btnConnClick();
    }
    bool up()
    {
        return QTest::qWaitFor([&] { return w.cSock->Active() && server.isClientConnected(); }, 5000);
    }
    QStringList console() const { return w.Memo1->text().split(QLatin1Char('\n')); }
};

// The window shown with the console page in front.
bool showConsolePage(TForm1 &w)
{
    w.show();
    w.pgControl->setCurrentWidget(w.pageCMD);
    return QTest::qWaitForWindowExposed(&w);
}

}  // namespace

void ConsoleTest::enterSendsLineAsTyped_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QByteArray>("sent");
    QTest::newRow("command") << QStringLiteral("STAT") << QByteArray("STAT\r\n");
    QTest::newRow("empty line") << QString() << QByteArray("\r\n");
    QTest::newRow("blanks kept") << QStringLiteral("  noop ") << QByteArray("  noop \r\n");
    QTest::newRow("password in clear") << QStringLiteral("PASS s3cret") << QByteArray("PASS s3cret\r\n");
    QTest::newRow("non-ASCII as UTF-8") << QStringLiteral("USER j\u00fcrgen") << QByteArray("USER j\xc3\xbcrgen\r\n");
}

void ConsoleTest::enterSendsLineAsTyped()
{
    QFETCH(QString, typed);
    QFETCH(QByteArray, sent);
    Connected c;
    QVERIFY(c.up());
    const std::uint8_t state = c.w.session->state();
    QSignalSpy returned(c.w.txtCmdPrompt, &QLineEdit::returnPressed);
    c.w.txtCmdPrompt->setText(typed);
    QTest::keyClick(c.w.txtCmdPrompt, Qt::Key_Return);
    QTRY_COMPARE(c.server.received(), sent);
    QCOMPARE(c.console().last(), QStringLiteral("? ") + typed);
    QCOMPARE(c.w.txtCmdPrompt->text(), QString());
    QCOMPARE(c.w.session->state(), state);
    // Enter was taken by the handler and never reached the field.
    QCOMPARE(returned.count(), 0);
}

void ConsoleTest::enterWhileDisconnectedDoesNothing()
{
    FormFixture f;
    TForm1 &w = *f.form;
    w.txtCmdPrompt->setEnabled(true);
    w.txtCmdPrompt->setText(QStringLiteral("STAT"));
    QChar key(13);
    w.txtCmdPromptKeyPress(w.txtCmdPrompt, key);
    QCOMPARE(key.unicode(), ushort(1));
    QCOMPARE(w.txtCmdPrompt->text(), QStringLiteral("STAT"));
    QCOMPARE(w.Memo1->text(), QString());
}

void ConsoleTest::otherKeysReachTheField()
{
    Connected c;
    QVERIFY(c.up());
    QTest::keyClicks(c.w.txtCmdPrompt, QStringLiteral("LIXT"));
    QTest::keyClick(c.w.txtCmdPrompt, Qt::Key_Backspace);
    QTest::keyClick(c.w.txtCmdPrompt, Qt::Key_Backspace);
    QTest::keyClicks(c.w.txtCmdPrompt, QStringLiteral("ST"));
    QCOMPARE(c.w.txtCmdPrompt->text(), QStringLiteral("LIST"));
    QChar key('a');
    c.w.txtCmdPromptKeyPress(c.w.txtCmdPrompt, key);
    QCOMPARE(key, QChar('a'));
    QCOMPARE(c.server.received(), QByteArray());
}

void ConsoleTest::replyFollowsEcho()
{
    Connected c;
    c.w.txtUID->setText(QStringLiteral("bob"));
    c.w.txtPWD->setText(QStringLiteral("pw"));
    // Logged in and listed: the conversation is idle when STAT goes out.
    c.server.send("+OK\r\n").expect("user bob").expect("pass pw").reply({"+OK", "+OK"});
    c.server.expect("LIST").reply({"+OK", "1 10", "."});
    c.server.expect("STAT").reply({"+OK 2 320"});
    // The transport cuts a character in two: it shows once, as sent, with
    // the read that completes it.
    c.server.expect("NOOP").chunks({"+OK Zo\xC3", "\xAB Stra\xC3",
                                    "\x9F"
                                    "er\r\n"},
                                   30);
    QVERIFY(c.up());
    QTRY_COMPARE(c.w.session->state(), std::uint8_t(ssIdle));
    c.w.txtCmdPrompt->setText(QStringLiteral("STAT"));
    QTest::keyClick(c.w.txtCmdPrompt, Qt::Key_Enter);
    QTRY_COMPARE(c.console().last(), QStringLiteral("+OK 2 320"));
    QCOMPARE(c.console().at(c.console().size() - 2), QStringLiteral("? STAT"));
    c.w.txtCmdPrompt->setText(QStringLiteral("NOOP"));
    QTest::keyClick(c.w.txtCmdPrompt, Qt::Key_Enter);
    QTRY_COMPARE(c.console().last(), QStringLiteral("\u00DFer"));
    QCOMPARE(c.console().mid(c.console().size() - 4),
             (QStringList{"? NOOP", "+OK Zo", QStringLiteral("\u00EB Stra"), QStringLiteral("\u00DFer")}));
}

void ConsoleTest::clearEmptiesLog()
{
    Connected c;
    QVERIFY(c.up());
    c.w.AppendConsole(QStringLiteral("one\r\ntwo"));
    QCOMPARE(c.console(), (QStringList{"one", "two"}));
    QVERIFY(c.w.btnClear->isEnabled());
    QTest::mouseClick(c.w.btnClear, Qt::LeftButton);
    QCOMPARE(c.w.Memo1->text(), QString());
    // Entries still waiting for the hidden log are cleared too.
    c.w.AppendConsole(QStringLiteral("three"));
    QTest::mouseClick(c.w.btnClear, Qt::LeftButton);
    c.w.AppendConsole(QStringLiteral("four"));
    QCOMPARE(c.console(), QStringList{"four"});
}

void ConsoleTest::hiddenLogCatchesUpWhenShown()
{
    FormFixture f;
    TForm1 &w = *f.form;
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    QCOMPARE(w.pgControl->currentWidget(), w.pageGUI);
    QStringList expected;
    for (int i = 0; i < 300; ++i) {
        w.AppendConsole(QStringLiteral("line %1\rsecond %1").arg(i));
        expected << QStringLiteral("line %1").arg(i) << QStringLiteral("second %1").arg(i);
    }
    w.AppendConsole(QString());
    expected << QString();
    // Nothing went into the document while the page was hidden.
    QCOMPARE(w.Memo1->pendingEntries(), 301);
    QCOMPARE(w.Memo1->document()->toPlainText(), QString());
    QCOMPARE(w.Memo1->logLength(), expected.join(QLatin1Char('\n')).size());

    w.pgControl->setCurrentWidget(w.pageCMD);
    QCOMPARE(w.Memo1->pendingEntries(), 0);
    QCOMPARE(w.Memo1->document()->toPlainText().split(QLatin1Char('\n')), expected);
    // Opened at the newest entries.
    QScrollBar *bar = w.Memo1->verticalScrollBar();
    QTRY_VERIFY(bar->maximum() > 0);
    QTRY_COMPARE(bar->value(), bar->maximum());

    // Shown: entries go straight in; hidden again: they wait, in order.
    w.AppendConsole(QStringLiteral("shown"));
    QCOMPARE(w.Memo1->pendingEntries(), 0);
    w.pgControl->setCurrentWidget(w.pageGUI);
    w.AppendConsole(QStringLiteral("hidden"));
    QCOMPARE(w.Memo1->pendingEntries(), 1);
    expected << QStringLiteral("shown") << QStringLiteral("hidden");
    QCOMPARE(w.Memo1->logLength(), expected.join(QLatin1Char('\n')).size());
    QCOMPARE(w.Memo1->text().split(QLatin1Char('\n')), expected);
    QCOMPARE(w.Memo1->pendingEntries(), 0);
}

void ConsoleTest::floodGoesInSliceBySlice()
{
    // A million short lines from a server must not freeze the window while
    // the document takes them: they go in a slice per pass of the event
    // loop, in order, and what comes meanwhile goes in behind them.
    FormFixture f;
    TForm1 &w = *f.form;
    QVERIFY(showConsolePage(w));
    const qsizetype flood = 3 * ConsoleView::SliceLines + 5;
    QStringList expected{QStringLiteral("before")};
    w.AppendConsole(expected.first());
    QStringList dots(flood, QStringLiteral("."));
    dots.first() = QStringLiteral("first");
    dots.last() = QStringLiteral("last");
    w.AppendConsole(dots.join(QLatin1String("\r\n")));
    w.AppendConsole(QStringLiteral("after"));
    expected << dots << QStringLiteral("after");
    QVERIFY(w.Memo1->blockCount() <= ConsoleView::SliceLines + 1);
    QCOMPARE(w.Memo1->logLength(), expected.join(QLatin1Char('\n')).size());
    QTRY_COMPARE(w.Memo1->pendingEntries(), 0);
    QCOMPARE(w.Memo1->document()->toPlainText().split(QLatin1Char('\n')), expected);
}

void ConsoleTest::logKeepsNewestWithinCapacity()
{
    // A server that never stops sending cannot grow the log without end:
    // past its capacity the oldest lines go, whole, and the newest stay.
    FormFixture f;
    TForm1 &w = *f.form;
    QVERIFY(showConsolePage(w));
    QStringList block(1000, QStringLiteral("x"));
    for (int i = 0; i < ConsoleView::MaxLines / 1000 + 10; ++i) {
        block.last() = QStringLiteral("entry %1").arg(i);
        w.AppendConsole(block.join(QLatin1Char('\n')));
    }
    QTRY_COMPARE(w.Memo1->pendingEntries(), 0);
    QVERIFY(w.Memo1->blockCount() <= ConsoleView::MaxLines);
    QVERIFY(w.Memo1->blockCount() > ConsoleView::MaxLines / 2);
    QString text = w.Memo1->text();
    QVERIFY(text.endsWith(QStringLiteral("x\nentry %1").arg(ConsoleView::MaxLines / 1000 + 9)));
    QVERIFY(text.startsWith(QStringLiteral("x\n")));

    // Hidden, long lines: the characters are bounded too, entries kept whole.
    w.pgControl->setCurrentWidget(w.pageGUI);
    const QString line(1024 * 1024 - 10, QLatin1Char('y'));
    for (int i = 0; i < ConsoleView::MaxLength / line.size() + 4; ++i)
        w.AppendConsole(line + QString::number(i));
    QVERIFY(w.Memo1->logLength() <= ConsoleView::MaxLength);
    text = w.Memo1->text();
    QVERIFY(text.endsWith(line + QString::number(ConsoleView::MaxLength / line.size() + 3)));
    QVERIFY(text.startsWith(QLatin1Char('y')));
}

void ConsoleTest::pageGivesFocusToPrompt()
{
    FormFixture f;
    TForm1 &w = *f.form;
    w.show();
    w.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&w));
    // Disconnected: the prompt is disabled and the focus is not moved there.
    w.pgControl->setCurrentWidget(w.pageCMD);
    QVERIFY(!w.txtCmdPrompt->hasFocus());
    w.pgControl->setCurrentWidget(w.pageGUI);
    w.txtCmdPrompt->setEnabled(true);
    w.txtUID->setFocus();
    QTRY_VERIFY(w.txtUID->hasFocus());
    w.pgControl->setCurrentWidget(w.pageCMD);
    QTRY_VERIFY(w.txtCmdPrompt->hasFocus());
    // Focus coming to another control of the page from outside it.
    w.txtUID->setFocus();
    QTRY_VERIFY(w.txtUID->hasFocus());
    w.btnClear->setEnabled(true);
    w.btnClear->setFocus();
    QTRY_VERIFY(w.txtCmdPrompt->hasFocus());
}

QTEST_MAIN(ConsoleTest)
#include "tst_console.moc"
