// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/TarnbeckApplication.h"
#include "support/DesktopStub.h"
#include "support/MessageFiles.h"
#include "viewer/TForm2.h"

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QPointer>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTextBlock>
#include <QTextLayout>
#include <QTimer>

class TestViewer : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void layoutAndNames();
    void followsTheWindowSize();
    void fillShowsTheMessage();
    void saveWritesExactBytes_data();
    void saveWritesExactBytes();
    void saveAsksBeforeReplacing_data();
    void saveAsksBeforeReplacing();
    void editedTextIsSaved();
    void editedTextEndsEveryLine_data();
    void editedTextEndsEveryLine();
    void cancelWritesNothing();
    void failures_data();
    void failures();
    void streamWriteError();
    void closeItemAndEscapeClose();
    void decodedTextSwitchesAtOnce();
    void receivedViewOfAWholeMessage();
    void saveWritesWhatIsShown();
    void showMessageIsModalAndFreed();
    void ownerGoneWhileOpen();
    void screenshot();

private:
    QString path(const QString &name) const { return dir->filePath(name); }
    static QByteArray readFile(const QString &name);

    std::unique_ptr<QTemporaryDir> dir;
    std::unique_ptr<DesktopStub> desktop;
};

void TestViewer::initTestCase()
{
    TarnbeckApplication::setTitle(QStringLiteral("Tarnbeck"));
}

void TestViewer::init()
{
    dir = std::make_unique<QTemporaryDir>();
    QVERIFY(dir->isValid());
    desktop = std::make_unique<DesktopStub>();
}

void TestViewer::cleanup()
{
    desktop.reset();
    dir.reset();
}

QByteArray TestViewer::readFile(const QString &name)
{
    QFile file(name);
    if (!file.open(QIODevice::ReadOnly))
        return "<missing>";
    return file.readAll();
}

void TestViewer::layoutAndNames()
{
    TForm2 viewer;
    viewer.show();
    QVERIFY(QTest::qWaitForWindowExposed(&viewer));

    QCOMPARE(viewer.windowTitle(), QString());
    QCOMPARE(viewer.Panel1->geometry(), QRect(0, viewer.MainMenu1->height(), 488, 375));
    QCOMPARE(viewer.Panel1->frameWidth(), 2);

    const struct {
        const char *name;
        QRect geometry;
    } fields[] = {{"toSTR", {62, 8, 417, 19}},
                  {"fromSTR", {62, 32, 417, 19}},
                  {"subSTR", {62, 56, 417, 19}},
                  {"bodySTR", {2, 80, 484, 293}}};
    for (const auto &field : fields) {
        auto *widget = viewer.findChild<QWidget *>(QLatin1String(field.name));
        QVERIFY2(widget, field.name);
        QCOMPARE(widget->parentWidget(), viewer.Panel1);
        QCOMPARE(widget->geometry(), field.geometry);
    }
    QVERIFY(qobject_cast<QLineEdit *>(viewer.findChild<QWidget *>("toSTR")));
    QVERIFY(qobject_cast<QPlainTextEdit *>(viewer.findChild<QWidget *>("bodySTR")));
    QCOMPARE(viewer.bodySTR->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
    QCOMPARE(viewer.bodySTR->lineWrapMode(), QPlainTextEdit::WidgetWidth);

    const struct {
        const char *name;
        const char *text;
        int right;
        int top;
    } labels[] = {{"Label1", "TO", 55, 10}, {"Label2", "FROM", 55, 34}, {"Label3", "SUBJECT", 56, 58}};
    for (const auto &expected : labels) {
        auto *label = viewer.findChild<QLabel *>(QLatin1String(expected.name));
        QVERIFY2(label, expected.name);
        QCOMPARE(label->text(), QLatin1String(expected.text));
        QCOMPARE(label->geometry().right() + 1, expected.right);
        QCOMPARE(label->y(), expected.top);
        // The whole caption fits, left of the fields.
        QVERIFY(label->width() >= label->fontMetrics().horizontalAdvance(label->text()));
        QVERIFY(label->x() >= 0);
    }

    QCOMPARE(viewer.findChild<QMenuBar *>("MainMenu1"), viewer.MainMenu1);
    auto *option = viewer.findChild<QMenu *>("Option1");
    QVERIFY(option);
    QCOMPARE(option->title(), QStringLiteral("&Option"));
    QCOMPARE(viewer.MainMenu1->actions(), QList<QAction *>{option->menuAction()});
    QCOMPARE(option->actions().size(), 3);
    QCOMPARE(option->actions().at(0)->objectName(), QStringLiteral("Save1"));
    QCOMPARE(option->actions().at(0)->text(), QStringLiteral("&Save As ..."));
    QCOMPARE(option->actions().at(1)->objectName(), QStringLiteral("DecodedText1"));
    QCOMPARE(option->actions().at(1)->text(), QStringLiteral("&Decoded Text"));
    QVERIFY(option->actions().at(1)->isCheckable());
    QVERIFY(!option->actions().at(1)->isChecked());
    QCOMPARE(option->actions().at(2)->objectName(), QStringLiteral("Close1"));
    QCOMPARE(option->actions().at(2)->text(), QStringLiteral("&Close"));

    // The memo has the focus; the tab order runs on to the three fields.
    QCOMPARE(viewer.focusWidget(), viewer.bodySTR);
    const auto nextTabStop = [](QWidget *from) {
        QWidget *next = from->nextInFocusChain();
        while (next != from && !(next->focusPolicy() & Qt::TabFocus))
            next = next->nextInFocusChain();
        return next;
    };
    QCOMPARE(nextTabStop(viewer.bodySTR), viewer.toSTR);
    QCOMPARE(nextTabStop(viewer.toSTR), viewer.fromSTR);
    QCOMPARE(nextTabStop(viewer.fromSTR), viewer.subSTR);
    QCOMPARE(nextTabStop(viewer.subSTR), viewer.bodySTR);
}

void TestViewer::followsTheWindowSize()
{
    TForm2 viewer;
    viewer.show();
    QVERIFY(QTest::qWaitForWindowExposed(&viewer));
    const QRect label3 = viewer.Label3->geometry();
    viewer.resize(viewer.width() + 100, viewer.height() + 50);
    QTRY_COMPARE(viewer.Panel1->size(), QSize(588, 425));
    QCOMPARE(viewer.toSTR->geometry(), QRect(62, 8, 517, 19));
    QCOMPARE(viewer.subSTR->geometry(), QRect(62, 56, 517, 19));
    QCOMPARE(viewer.bodySTR->geometry(), QRect(2, 130, 584, 293));
    QCOMPARE(viewer.Label3->geometry(), label3);
}

void TestViewer::fillShowsTheMessage()
{
    TForm2 viewer;
    viewer.Fill({"Ann <ann@example.org>", "B\xc3\xa4r <b@example.org>", QByteArray(),
                {"Subject-less", "caf\xe9 au lait", "\xe2\x82\xac 5"}});
    QCOMPARE(viewer.toSTR->text(), QStringLiteral("Ann <ann@example.org>"));
    QCOMPARE(viewer.fromSTR->text(), QString::fromUtf8("B\xc3\xa4r <b@example.org>"));
    QCOMPARE(viewer.subSTR->text(), QString());
    QCOMPARE(viewer.bodySTR->toPlainText(),
             QString::fromUtf8("Subject-less\ncaf\xc3\xa9 au lait\n\xe2\x82\xac 5\n"));
    QCOMPARE(viewer.bodySTR->textCursor().position(), 0);
    QVERIFY(!viewer.bodySTR->document()->isModified());
}

void TestViewer::saveWritesExactBytes_data()
{
    QTest::addColumn<QList<QByteArray>>("lines");
    QTest::addColumn<QByteArray>("file");

    QTest::newRow("three lines") << QList<QByteArray>{"one", "two", "three"}
                                 << QByteArray("one\r\ntwo\r\nthree\r\n");
    QTest::newRow("8-bit bytes") << QList<QByteArray>{"caf\xe9", "\xa0nbsp\xa0", "\xff\xfe\x80"}
                                 << QByteArray("caf\xe9\r\n\xa0nbsp\xa0\r\n\xff\xfe\x80\r\n");
    QTest::newRow("UTF-8") << QList<QByteArray>{"\xe2\x82\xac", "\xef\xbb\xbfmark"}
                           << QByteArray("\xe2\x82\xac\r\n\xef\xbb\xbfmark\r\n");
    QTest::newRow("empty lines") << QList<QByteArray>{"", "x", ""} << QByteArray("\r\nx\r\n\r\n");
    QTest::newRow("control bytes") << QList<QByteArray>{QByteArray("a\0b", 3), "tab\there", "cr\rinside"}
                                   << QByteArray("a\0b\r\ntab\there\r\ncr\rinside\r\n", 26);
    QTest::newRow("long line stays one") << QList<QByteArray>{QByteArray(3000, 'w'), "end"}
                                         << QByteArray(3000, 'w') + "\r\nend\r\n";
    QTest::newRow("no lines") << QList<QByteArray>{} << QByteArray();
}

void TestViewer::saveWritesExactBytes()
{
    QFETCH(QList<QByteArray>, lines);
    QFETCH(QByteArray, file);
    TForm2 viewer;
    viewer.Fill({"to", "from", "subject", lines});
    viewer.show();
    QVERIFY(QTest::qWaitForWindowExposed(&viewer));
    if (!lines.isEmpty() && lines.first().size() > 1000) {
        // Shown wrapped on screen.
        QTRY_VERIFY(viewer.bodySTR->document()->firstBlock().layout()->lineCount() > 1);
    }

    const QString name = path(QStringLiteral("message.txt"));
    desktop->setNextFileName(name);
    viewer.Save1->trigger();
    QCOMPARE(readFile(name), file);
    QVERIFY(desktop->boxes.isEmpty());
    QCOMPARE(desktop->saveDialogs.size(), 1);
    const platform::SaveFileRequest &request = desktop->saveDialogs.first();
    QCOMPARE(request.parent, &viewer);
    QCOMPARE(request.defaultSuffix, QStringLiteral("txt"));
    QCOMPARE(request.filter, QStringLiteral("Text File (*.txt)"));
    QCOMPARE(request.confirmOverwrite, false);
}

// Replacing a file that holds other data is asked first; No leaves it as
// it was and goes back to choosing a name, as the platform's dialog does.
void TestViewer::saveAsksBeforeReplacing_data()
{
    QTest::addColumn<platform::BoxButton>("answer");
    QTest::newRow("Yes replaces") << platform::BoxButton::Yes;
    QTest::newRow("No keeps the file") << platform::BoxButton::No;
}

void TestViewer::saveAsksBeforeReplacing()
{
    QFETCH(platform::BoxButton, answer);
    const QString name = path(QStringLiteral("existing.txt"));
    {
        QFile old(name);
        QVERIFY(old.open(QIODevice::WriteOnly));
        old.write(QByteArray(10000, 'x'));
    }
    TForm2 viewer;
    viewer.Fill({"", "", "", {"short"}});
    viewer.show();
    desktop->setNextFileName(name);
    desktop->setNextAnswer(answer);
    // After a No the dialog comes back; here the user then picks a new name.
    if (answer == platform::BoxButton::No)
        desktop->setNextFileName(path(QStringLiteral("second.txt")));
    QCOMPARE(viewer.Save1Click(), QString());

    QCOMPARE(desktop->boxes.size(), 1);
    const platform::MessageBoxRequest &box = desktop->boxes.first();
    QCOMPARE(box.parent, &viewer);
    QCOMPARE(box.title, QStringLiteral("Confirm Save As"));
    QCOMPARE(box.text, QStringLiteral("existing.txt already exists.\rDo you want to replace it?"));
    QCOMPARE(box.icon, platform::BoxIcon::Warning);
    QCOMPARE(box.buttons, (QList<platform::BoxButton>{platform::BoxButton::Yes, platform::BoxButton::No}));
    QCOMPARE(box.defaultButton, platform::BoxButton::No);
    QCOMPARE(box.escapeButton, platform::BoxButton::No);
    if (answer == platform::BoxButton::Yes) {
        QCOMPARE(readFile(name), QByteArray("short\r\n"));
        QCOMPARE(desktop->saveDialogs.size(), 1);
        QVERIFY(!QFile::exists(path(QStringLiteral("second.txt"))));
    } else {
        QCOMPARE(readFile(name), QByteArray(10000, 'x'));
        QCOMPARE(desktop->saveDialogs.size(), 2);
        QCOMPARE(readFile(path(QStringLiteral("second.txt"))), QByteArray("short\r\n"));
    }
    QVERIFY(viewer.isVisible());

    // A name that is new is not asked about.
    desktop->boxes.clear();
    desktop->setNextFileName(path(QStringLiteral("third.txt")));
    viewer.Save1Click();
    QCOMPARE(readFile(path(QStringLiteral("third.txt"))), QByteArray("short\r\n"));
    QVERIFY(desktop->boxes.isEmpty());
}

void TestViewer::editedTextIsSaved()
{
    TForm2 viewer;
    viewer.Fill({"to", "from", "subject", {"caf\xe9", "second", "\xa0kept\xa0", "last"}});
    viewer.subSTR->setText(QStringLiteral("changed subject"));

    // Replace the second line, and append a line with a character that has no 8-bit code.
    QTextCursor cursor(viewer.bodySTR->document()->findBlockByNumber(1));
    cursor.select(QTextCursor::BlockUnderCursor);
    cursor.movePosition(QTextCursor::StartOfBlock);
    cursor.movePosition(QTextCursor::EndOfBlock, QTextCursor::KeepAnchor);
    cursor.insertText(QString::fromUtf8("z\xc3\xbcrich"));
    cursor.movePosition(QTextCursor::End);
    cursor.insertText(QString::fromUtf8("\xe2\x82\xac"));
    QVERIFY(viewer.bodySTR->document()->isModified());

    const QString name = path(QStringLiteral("edited.txt"));
    desktop->setNextFileName(name);
    viewer.Save1Click();
    // Untouched lines keep their bytes; the edited one is 8-bit like its
    // message; the new last line is UTF-8 and ends with a break like the rest.
    QCOMPARE(readFile(name), QByteArray("caf\xe9\r\nz\xfcrich\r\n\xa0kept\xa0\r\nlast\r\n\xe2\x82\xac\r\n"));

    // In a UTF-8 message, typed text is UTF-8.
    TForm2 utf8;
    utf8.Fill({"", "", "", {"gr\xc3\xbc\xc3\x9f", "x"}});
    QTextCursor end(utf8.bodySTR->document());
    end.movePosition(QTextCursor::End);
    end.insertText(QString::fromUtf8("\xc3\xa9"));
    desktop->setNextFileName(name);
    desktop->setNextAnswer(platform::BoxButton::Yes);  // replace the first one
    utf8.Save1Click();
    QCOMPARE(readFile(name), QByteArray("gr\xc3\xbc\xc3\x9f\r\nx\r\n\xc3\xa9\r\n"));
}

void TestViewer::editedTextEndsEveryLine_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QByteArray>("file");

    QTest::newRow("no break after the last line") << QStringLiteral("a\nb") << QByteArray("a\r\nb\r\n");
    QTest::newRow("break after the last line") << QStringLiteral("a\nb\n") << QByteArray("a\r\nb\r\n");
    QTest::newRow("empty last line") << QStringLiteral("a\n\n") << QByteArray("a\r\n\r\n");
    QTest::newRow("one line") << QStringLiteral("only") << QByteArray("only\r\n");
    QTest::newRow("all deleted") << QString() << QByteArray();
}

void TestViewer::editedTextEndsEveryLine()
{
    QFETCH(QString, typed);
    QFETCH(QByteArray, file);
    TForm2 viewer;
    viewer.Fill({"", "", "", {"old", "text"}});
    QTextCursor cursor(viewer.bodySTR->document());
    cursor.select(QTextCursor::Document);
    cursor.insertText(typed);
    QVERIFY(viewer.bodySTR->document()->isModified());

    const QString name = path(QStringLiteral("typed.txt"));
    desktop->setNextFileName(name);
    viewer.Save1Click();
    QCOMPARE(readFile(name), file);
}

void TestViewer::cancelWritesNothing()
{
    TForm2 viewer;
    viewer.Fill({"", "", "", {"a", "b"}});
    viewer.Save1->trigger();  // the stub cancels without a name
    QCOMPARE(desktop->saveDialogs.size(), 1);
    QVERIFY(desktop->boxes.isEmpty());
    QCOMPARE(QDir(dir->path()).entryList(QDir::Files | QDir::NoDotAndDotDot), QStringList());
    QCOMPARE(viewer.bodySTR->toPlainText(), QStringLiteral("a\nb\n"));
}

void TestViewer::failures_data()
{
    QTest::addColumn<QString>("target");

    QTest::newRow("a folder") << QStringLiteral("<dir>");
    QTest::newRow("missing folder") << QStringLiteral("<dir>/no/such/folder/file.txt");
    QTest::newRow("no right to create") << QStringLiteral("/proc/tarnbeck-viewer-test.txt");
}

void TestViewer::failures()
{
    QFETCH(QString, target);
    target.replace(QStringLiteral("<dir>"), dir->path());
    TForm2 viewer;
    viewer.Fill({"", "", "", {"text"}});
    viewer.show();

    // The handler returns the failure ...
    desktop->setNextFileName(target);
    QCOMPARE(viewer.Save1Click(), QStringLiteral("Cannot create file ") + QDir::toNativeSeparators(target));
    // ... which the menu shows the way the error display does.
    desktop->setNextFileName(target);
    viewer.Save1->trigger();
    QCOMPARE(desktop->boxes.size(), 1);
    const platform::MessageBoxRequest &box = desktop->boxes.first();
    QCOMPARE(box.text, QStringLiteral("Cannot create file ") + QDir::toNativeSeparators(target) + '.');
    QCOMPARE(box.title, QStringLiteral("Tarnbeck"));
    QCOMPARE(box.icon, platform::BoxIcon::Error);
    QCOMPARE(box.buttons, QList<platform::BoxButton>{platform::BoxButton::Ok});
    QVERIFY(viewer.isVisible());
    QCOMPARE(viewer.bodySTR->toPlainText(), QStringLiteral("text\n"));
}

void TestViewer::streamWriteError()
{
    if (!QFile::exists(QStringLiteral("/dev/full")))
        QSKIP("no /dev/full to make writing fail");
    TForm2 viewer;
    viewer.Fill({"", "", "", {"text"}});
    desktop->setNextFileName(QStringLiteral("/dev/full"));
    viewer.Save1->trigger();
    QCOMPARE(desktop->boxes.size(), 1);
    QCOMPARE(desktop->boxes.first().text, QStringLiteral("Stream write error."));
    QCOMPARE(desktop->boxes.first().icon, platform::BoxIcon::Error);
}

void TestViewer::closeItemAndEscapeClose()
{
    TForm2 viewer;
    viewer.show();
    QVERIFY(QTest::qWaitForWindowExposed(&viewer));
    QTest::keyClick(viewer.bodySTR, Qt::Key_Escape);
    QVERIFY(!viewer.isVisible());
    viewer.show();
    QVERIFY(QTest::qWaitForWindowExposed(&viewer));
    viewer.Close1->trigger();
    QVERIFY(!viewer.isVisible());
}

// Decoded Text switches the memo and the three fields at once, both ways,
// and says so; opening decoded says nothing.
void TestViewer::decodedTextSwitchesAtOnce()
{
    const QList<QByteArray> lines = messageLines(testDataFile(QStringLiteral("mime/qp-utf8-soft-breaks.eml")));
    const QString decoded = QString::fromUtf8(testDataFile(QStringLiteral("mime/qp-utf8-soft-breaks.txt")));
    TForm2 viewer;
    QSignalSpy switched(&viewer, &TForm2::decodedTextChanged);
    viewer.Fill({"Tarnbeck Tester <tester@tarnbeck.test>", "=?UTF-8?Q?Marie_Dubois?= <m@x>", "raw subject", lines,
                 true, false});
    const QString received = viewer.bodySTR->toPlainText();
    QVERIFY(received.contains(QStringLiteral("\nCaf=C3=A9 ouvert =E2=80=94 tous les jours, soft=\n")));
    QCOMPARE(viewer.fromSTR->text(), QStringLiteral("=?UTF-8?Q?Marie_Dubois?= <m@x>"));

    viewer.DecodedText1->trigger();
    QVERIFY(viewer.DecodedText1->isChecked());
    QCOMPARE(viewer.bodySTR->toPlainText(), decoded);
    QCOMPARE(viewer.bodySTR->textCursor().position(), 0);
    QCOMPARE(viewer.toSTR->text(), QStringLiteral("Tarnbeck Tester <tester@tarnbeck.test>"));
    QCOMPARE(viewer.fromSTR->text(), QStringLiteral("Marie Dubois <marie.dubois@lepetitcafe.example>"));
    QCOMPARE(viewer.subSTR->text(), QString::fromUtf8("Le Petit Caf\xc3\xa9 \xe2\x80\x94 horaires de mars"));
    QCOMPARE(switched.size(), 1);
    QCOMPARE(switched.first().first().toBool(), true);

    viewer.DecodedText1->trigger();
    QCOMPARE(viewer.bodySTR->toPlainText(), received);
    QCOMPARE(viewer.subSTR->text(), QStringLiteral("raw subject"));
    QCOMPARE(switched.size(), 2);
    QCOMPARE(switched.last().first().toBool(), false);

    TForm2 opened;
    QSignalSpy quiet(&opened, &TForm2::decodedTextChanged);
    opened.Fill({"", "", "", lines, true, true});
    QVERIFY(opened.DecodedText1->isChecked());
    QCOMPARE(opened.bodySTR->toPlainText(), decoded);
    QCOMPARE(quiet.size(), 0);
}

// Off, a message fetched whole shows what `TOP n 100` and the attachment
// filter would have: the header, then the body up to and including the
// boundary line repeated; a TOP reply shows as it came. On, a TOP reply of
// a long message says it was cut, and one of a short message does not.
void TestViewer::receivedViewOfAWholeMessage()
{
    const QByteArray raw = testDataFile(QStringLiteral("mime/mixed-pdf-nested.eml"));
    const QList<QByteArray> whole = messageLines(raw);
    TForm2 viewer;
    viewer.Fill({"", "", "", whole, true, false});
    // The outer boundary comes again in front of the PDF, within the first 100 body lines.
    const QString shown = viewer.bodySTR->toPlainText();
    const QString outer = QStringLiteral("--Apple-Mail=_B5E0A1C2-3D4E-4F50-8162-738495A6B7C8\n");
    QVERIFY(shown.startsWith(QStringLiteral("Return-Path: <s.krueger@kanzlei-krueger.example>\n")));
    QCOMPARE(shown.count(outer), 2);
    QVERIFY(shown.endsWith(QStringLiteral("--Apple-Mail=_C7D8E9F0-1A2B-4C3D-8E4F-5061728394A5--\n\n") + outer));
    QVERIFY(!shown.contains(QStringLiteral("application/pdf")));

    // Without the filter, the header and exactly 100 body lines.
    QList<QByteArray> plain = whole;
    for (QByteArray &line : plain)
        line.replace("--", "==");
    viewer.Fill({"", "", "", plain, true, false});
    const qsizetype headerLines = plain.indexOf(QByteArray()) + 1;
    QCOMPARE(viewer.bodySTR->toPlainText().count(u'\n'), headerLines + 100);

    // Decoded: the TOP reply of this long message is cut, a short one is not.
    const QList<QByteArray> top = whole.first(headerLines + 100);
    viewer.Fill({"", "", "", top, false, true});
    QVERIFY(viewer.bodySTR->toPlainText().endsWith(QStringLiteral("\n[message cut here: the rest was not fetched]\n")));
    QVERIFY(viewer.bodySTR->toPlainText().contains(QStringLiteral(", application/pdf, at least ")));
    viewer.Fill({"", "", "", messageLines(testDataFile(QStringLiteral("mime/alternative.eml"))), false, true});
    QVERIFY(!viewer.bodySTR->toPlainText().contains(QStringLiteral("[message cut")));
    QVERIFY(viewer.bodySTR->toPlainText().endsWith(QStringLiteral("\n/Jonas\n")));
}

// Save As writes what the memo shows: decoded text as UTF-8, the received
// lines byte for byte, every line ended by CR LF.
void TestViewer::saveWritesWhatIsShown()
{
    const QList<QByteArray> lines = messageLines(testDataFile(QStringLiteral("mime/base64-latin1.eml")));
    TForm2 viewer;
    viewer.Fill({"", "", "", lines, true, true});
    const QString name = path(QStringLiteral("decoded.txt"));
    desktop->setNextFileName(name);
    viewer.Save1Click();
    QByteArray expected = testDataFile(QStringLiteral("mime/base64-latin1.txt"));
    expected.replace("\n", "\r\n");
    QCOMPARE(readFile(name), expected);
    QVERIFY(expected.contains("Stra\xc3\x9f" "e: M\xc3\xbchlenweg"));

    // An edit to the decoded text is saved as UTF-8 too.
    QTextCursor end(viewer.bodySTR->document());
    end.movePosition(QTextCursor::End);
    end.insertText(QString::fromUtf8("\xe2\x82\xac ok"));
    desktop->setNextFileName(path(QStringLiteral("edited.txt")));
    viewer.Save1Click();
    QCOMPARE(readFile(path(QStringLiteral("edited.txt"))), expected + "\xe2\x82\xac ok\r\n");

    // Switched off: the received lines, byte for byte (8-bit header bytes included).
    QList<QByteArray> eightBit = lines;
    eightBit.insert(1, "X-Note: caf\xe9");
    viewer.Fill({"", "", "", eightBit, true, true});
    viewer.DecodedText1->trigger();
    desktop->setNextFileName(path(QStringLiteral("received.txt")));
    viewer.Save1Click();
    QCOMPARE(readFile(path(QStringLiteral("received.txt"))), eightBit.join("\r\n") + "\r\n");
}

void TestViewer::showMessageIsModalAndFreed()
{
    QWidget owner;
    owner.resize(560, 390);
    owner.show();
    QVERIFY(QTest::qWaitForWindowExposed(&owner));

    QPointer<TForm2> seen;
    QString subject;
    QString body;
    bool modal = false;
    QTimer poll;
    poll.setInterval(10);
    connect(&poll, &QTimer::timeout, this, [&]() {
        auto *viewer = qobject_cast<TForm2 *>(QApplication::activeModalWidget());
        if (!viewer)
            return;
        poll.stop();
        seen = viewer;
        modal = viewer->isModal() && viewer->parentWidget() == &owner
                && (viewer->frameGeometry().center() - owner.frameGeometry().center()).manhattanLength() <= 4;
        subject = viewer->subSTR->text();
        body = viewer->bodySTR->toPlainText();
        viewer->DecodedText1->trigger();
        viewer->Close1->trigger();
    });
    poll.start();
    QList<bool> reported;
    TForm2::ShowMessage(&owner, {"to", "from", "Hello", {"line 1", "line 2"}},
                        [&](bool on) { reported.append(on); });

    QVERIFY(modal);
    QCOMPARE(reported, QList<bool>{true});
    QCOMPARE(subject, QStringLiteral("Hello"));
    QCOMPARE(body, QStringLiteral("line 1\nline 2\n"));
    QVERIFY(seen.isNull());  // freed once closed
    QVERIFY(owner.findChildren<TForm2 *>().isEmpty());
}

void TestViewer::ownerGoneWhileOpen()
{
    auto *owner = new QWidget;
    owner->show();
    QTimer poll;
    poll.setInterval(10);
    connect(&poll, &QTimer::timeout, this, [&]() {
        if (qobject_cast<TForm2 *>(QApplication::activeModalWidget())) {
            poll.stop();
            delete owner;  // takes the open viewer along
        }
    });
    poll.start();
    TForm2::ShowMessage(owner, {"", "", "", {"x"}});
    // Returns once the viewer is gone, without touching it again (ASan checks that).
    QVERIFY(!poll.isActive());
    QCOMPARE(QApplication::activeModalWidget(), nullptr);
}

void TestViewer::screenshot()
{
    TForm2 viewer;
    viewer.Fill({"Ann Example <ann@example.org>", "Bob Example <bob@example.org>", "Quarterly figures (g\xe9nial)",
                {"Return-Path: <bob@example.org>", "Subject: Quarterly figures", "",
                 "A body line that is long enough to wrap in the memo, since it goes on and on past the right "
                 "edge of the window.",
                 "caf\xe9"}});
    viewer.show();
    QVERIFY(QTest::qWaitForWindowExposed(&viewer));
    const QPixmap shot = viewer.grab();
    QCOMPARE(shot.size(), viewer.size());
    QVERIFY(shot.save(QStringLiteral("/tmp/viewer.png")));
}

QTEST_MAIN(TestViewer)
#include "tst_viewer.moc"
