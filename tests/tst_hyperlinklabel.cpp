// SPDX-License-Identifier: GPL-3.0-or-later
#include "controls/THyperlinkLabel.h"
#include "support/DesktopStub.h"

#include <QApplication>
#include <QCursor>
#include <QEnterEvent>
#include <QLineEdit>
#include <QMouseEvent>
#include <QTest>
#include <QWidget>
#include <QWindow>

#include <memory>

namespace {

void sendMouse(QWidget *target, QEvent::Type type, QPoint local, Qt::MouseButton button,
               Qt::MouseButtons buttons)
{
    QMouseEvent event(type, QPointF(local), QPointF(target->mapToGlobal(local)), button, buttons,
                      Qt::NoModifier);
    QApplication::sendEvent(target, &event);
}

void sendEnter(QWidget *target)
{
    const QPoint local(1, 1);
    QEnterEvent event{QPointF(local), QPointF(local), QPointF(target->mapToGlobal(local))};
    QApplication::sendEvent(target, &event);
}

void sendLeave(QWidget *target)
{
    QEvent event(QEvent::Leave);
    QApplication::sendEvent(target, &event);
}

}  // namespace

// A window with a label on it and a line edit beside it, shown on the
// offscreen screen so that screen positions and the widget under them work.
class TestHyperlinkLabel : public QObject {
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void linkTarget_data();
    void linkTarget();
    void construction();
    void autoSizeFollowsText();
    void cursorFollowsLinkProperties();
    void hoverUnderlinesAndRestores_data();
    void hoverUnderlinesAndRestores();
    void repeatedEnterKeepsOriginalStyle();
    void hoverEventsFireOnChangeOnly();
    void clickOpensTarget();
    void clickWithoutPressOnLabelDoesNothing();
    void dragOffAndBack();
    void windowLevelDelivery();
    void otherButtonsDoNotFollow();
    void noLinkClickDoesNothing();
    void linkControlGetsFocusAndPointer();
    void linkTextWinsOverLinkControl();
    void unusableLinkControl();

private:
    void focusLabel();
    QPoint inside() const { return label->rect().center(); }
    QPoint outside() const { return label->mapFrom(window.get(), QPoint(window->width() - 5, 5)); }
    void hoverByMove() { sendMouse(label, QEvent::MouseMove, inside(), Qt::NoButton, Qt::NoButton); }
    void click()
    {
        sendMouse(label, QEvent::MouseButtonPress, inside(), Qt::LeftButton, Qt::LeftButton);
        sendMouse(label, QEvent::MouseButtonRelease, inside(), Qt::LeftButton, Qt::NoButton);
    }

    std::unique_ptr<DesktopStub> desktop;
    std::unique_ptr<QWidget> window;
    THyperlinkLabel *label = nullptr;
    QLineEdit *edit = nullptr;
};

void TestHyperlinkLabel::init()
{
    desktop = std::make_unique<DesktopStub>();
    window = std::make_unique<QWidget>();
    window->setGeometry(100, 100, 300, 120);
    label = new THyperlinkLabel(window.get());
    label->setText(QStringLiteral("tarnbeck@example.org"));
    label->move(10, 10);
    edit = new QLineEdit(window.get());
    edit->setGeometry(10, 60, 120, 24);
    window->show();
    QVERIFY(QTest::qWaitForWindowExposed(window.get()));
}

void TestHyperlinkLabel::cleanup()
{
    window.reset();
    desktop.reset();
}

void TestHyperlinkLabel::linkTarget_data()
{
    QTest::addColumn<QString>("linkText");
    QTest::addColumn<QString>("target");

    QTest::newRow("mail") << "ann@example.org" << "mailto:ann@example.org";
    QTest::newRow("mail with scheme") << "mailto:ann@example.org" << "mailto:ann@example.org";
    QTest::newRow("mail with capital scheme") << "MailTo:ann@x" << "MailTo:ann@x";
    QTest::newRow("mail, web scheme") << "http://ann@example.org" << "mailto:http://ann@example.org";
    QTest::newRow("at sign at end") << "abc@" << "mailto:abc@";
    QTest::newRow("web") << "www.example.org" << "http://www.example.org";
    QTest::newRow("web with scheme") << "http://example.org" << "http://example.org";
    QTest::newRow("web with capital scheme") << "HTTP://example.org" << "HTTP://example.org";
    QTest::newRow("other scheme") << "https://example.org" << "http://https://example.org";
    QTest::newRow("ftp scheme") << "ftp://example.org" << "http://ftp://example.org";
    QTest::newRow("scheme alone") << "http://" << "http://";
    QTest::newRow("shorter than scheme") << "http:/" << "http://http:/";
    QTest::newRow("one character") << "x" << "http://x";
    // Only a to z are turned to capitals: a dotless i must not pass for an I.
    QTest::newRow("dotless i") << QString::fromUtf8("ma\u0131lto:a@b")
                               << QString::fromUtf8("mailto:ma\u0131lto:a@b");
    QTest::newRow("scheme later in text") << "x http://y" << "http://x http://y";
}

void TestHyperlinkLabel::linkTarget()
{
    QFETCH(QString, linkText);
    QFETCH(QString, target);
    QCOMPARE(THyperlinkLabel::LinkTarget(linkText), target);
}

void TestHyperlinkLabel::construction()
{
    QVERIFY(!label->About.isEmpty());
    QCOMPARE(label->property("About").toString(), label->About);
    QVERIFY(!label->autoFillBackground());
    QVERIFY(!label->isHovered());
    QVERIFY(label->LinkText().isEmpty());
    QCOMPARE(label->LinkControl(), nullptr);

    QVERIFY(label->setProperty("LinkText", QStringLiteral("x@y")));
    QCOMPARE(label->LinkText(), QStringLiteral("x@y"));
    QVERIFY(label->setProperty("LinkControl", QVariant::fromValue<QWidget *>(edit)));
    QCOMPARE(label->LinkControl(), edit);
}

void TestHyperlinkLabel::autoSizeFollowsText()
{
    QTRY_COMPARE(label->size(), label->sizeHint());
    const int shortWidth = label->width();

    label->setText(QStringLiteral("a considerably longer caption than before"));
    QTRY_COMPARE(label->size(), label->sizeHint());
    QVERIFY(label->width() > shortWidth);

    QFont big = label->font();
    big.setPointSize(big.pointSize() * 2);
    label->setFont(big);
    QTRY_COMPARE(label->size(), label->sizeHint());
}

void TestHyperlinkLabel::cursorFollowsLinkProperties()
{
    hoverByMove();
    QVERIFY(!label->testAttribute(Qt::WA_SetCursor));
    QCOMPARE(label->cursor().shape(), Qt::ArrowCursor);

    label->setLinkText(QStringLiteral("x@y"));
    QVERIFY(!label->testAttribute(Qt::WA_SetCursor));  // only at the next move
    hoverByMove();
    QCOMPARE(label->cursor().shape(), Qt::PointingHandCursor);

    label->setLinkText(QString());
    label->setLinkControl(edit);
    hoverByMove();
    QCOMPARE(label->cursor().shape(), Qt::PointingHandCursor);

    label->setLinkControl(nullptr);
    hoverByMove();
    QVERIFY(!label->testAttribute(Qt::WA_SetCursor));
    // No link at all still underlines while hovered.
    QVERIFY(label->isHovered());
    QVERIFY(label->font().underline());
}

void TestHyperlinkLabel::hoverUnderlinesAndRestores_data()
{
    QTest::addColumn<bool>("bold");
    QTest::addColumn<bool>("italic");
    QTest::addColumn<bool>("underline");
    QTest::addColumn<bool>("strikeOut");

    QTest::newRow("plain") << false << false << false << false;
    QTest::newRow("bold italic") << true << true << false << false;
    QTest::newRow("already underlined") << false << false << true << false;
    QTest::newRow("all") << true << true << true << true;
}

void TestHyperlinkLabel::hoverUnderlinesAndRestores()
{
    QFETCH(bool, bold);
    QFETCH(bool, italic);
    QFETCH(bool, underline);
    QFETCH(bool, strikeOut);

    QFont font = label->font();
    font.setBold(bold);
    font.setItalic(italic);
    font.setUnderline(underline);
    font.setStrikeOut(strikeOut);
    label->setFont(font);

    for (int round = 0; round < 3; ++round) {
        sendEnter(label);
        QVERIFY(label->isHovered());
        QVERIFY(label->font().underline());
        QCOMPARE(label->font().bold(), bold);
        QCOMPARE(label->font().italic(), italic);
        QCOMPARE(label->font().strikeOut(), strikeOut);

        sendLeave(label);
        QVERIFY(!label->isHovered());
        QCOMPARE(label->font().underline(), underline);
        QCOMPARE(label->font().bold(), bold);
        QCOMPARE(label->font().italic(), italic);
        QCOMPARE(label->font().strikeOut(), strikeOut);
    }
}

void TestHyperlinkLabel::repeatedEnterKeepsOriginalStyle()
{
    sendEnter(label);
    sendEnter(label);
    hoverByMove();
    QVERIFY(label->font().underline());
    sendLeave(label);
    QVERIFY(!label->font().underline());
    sendLeave(label);
    QVERIFY(!label->font().underline());
    QVERIFY(!label->isHovered());
}

void TestHyperlinkLabel::hoverEventsFireOnChangeOnly()
{
    QList<QString> calls;
    label->OnMouseEnter = [&](QObject *sender) {
        QCOMPARE(sender, label);
        calls << QStringLiteral("enter");
    };
    label->OnMouseExit = [&](QObject *sender) {
        QCOMPARE(sender, label);
        calls << QStringLiteral("exit");
    };
    sendEnter(label);
    sendEnter(label);
    hoverByMove();
    sendLeave(label);
    sendLeave(label);
    sendEnter(label);
    QCOMPARE(calls, (QList<QString>{"enter", "exit", "enter"}));
}

void TestHyperlinkLabel::clickOpensTarget()
{
    label->setLinkText(QStringLiteral("ann@example.org"));
    hoverByMove();
    click();
    QCOMPARE(desktop->openedUrls, QStringList{QStringLiteral("mailto:ann@example.org")});

    label->setLinkText(QStringLiteral("www.example.org"));
    click();
    QCOMPARE(desktop->openedUrls.size(), 2);
    QCOMPARE(desktop->openedUrls.last(), QStringLiteral("http://www.example.org"));
}

void TestHyperlinkLabel::clickWithoutPressOnLabelDoesNothing()
{
    label->setLinkText(QStringLiteral("www.example.org"));
    hoverByMove();
    // Pressed elsewhere, released over the label.
    sendMouse(label, QEvent::MouseButtonRelease, inside(), Qt::LeftButton, Qt::NoButton);
    QVERIFY(desktop->openedUrls.isEmpty());

    // Pressed while not hovered: the press alone counts, so this follows.
    sendLeave(label);
    sendMouse(label, QEvent::MouseButtonPress, inside(), Qt::LeftButton, Qt::LeftButton);
    sendMouse(label, QEvent::MouseMove, inside(), Qt::NoButton, Qt::LeftButton);
    sendMouse(label, QEvent::MouseButtonRelease, inside(), Qt::LeftButton, Qt::NoButton);
    QCOMPARE(desktop->openedUrls.size(), 1);

    // A completed click clears the press: a second release follows nothing.
    sendMouse(label, QEvent::MouseButtonRelease, inside(), Qt::LeftButton, Qt::NoButton);
    QCOMPARE(desktop->openedUrls.size(), 1);
}

void TestHyperlinkLabel::dragOffAndBack()
{
    label->setLinkText(QStringLiteral("www.example.org"));
    hoverByMove();
    sendMouse(label, QEvent::MouseButtonPress, inside(), Qt::LeftButton, Qt::LeftButton);
    sendMouse(label, QEvent::MouseMove, outside(), Qt::NoButton, Qt::LeftButton);
    QVERIFY(!label->isHovered());
    QVERIFY(!label->font().underline());
    sendMouse(label, QEvent::MouseButtonRelease, outside(), Qt::LeftButton, Qt::NoButton);
    QVERIFY(desktop->openedUrls.isEmpty());

    sendMouse(label, QEvent::MouseButtonPress, inside(), Qt::LeftButton, Qt::LeftButton);
    sendMouse(label, QEvent::MouseMove, outside(), Qt::NoButton, Qt::LeftButton);
    sendMouse(label, QEvent::MouseMove, inside(), Qt::NoButton, Qt::LeftButton);
    QVERIFY(label->isHovered());
    sendMouse(label, QEvent::MouseButtonRelease, inside(), Qt::LeftButton, Qt::NoButton);
    QCOMPARE(desktop->openedUrls, QStringList{QStringLiteral("http://www.example.org")});
}

void TestHyperlinkLabel::windowLevelDelivery()
{
    // The same through the platform's window, so that Qt itself picks the
    // receiver, grabs the mouse on the press and makes enter and leave.
    label->setLinkText(QStringLiteral("www.example.org"));
    QWindow *handle = window->windowHandle();
    QVERIFY(handle);
    const QPoint onLabel = label->mapTo(window.get(), inside());
    const QPoint offLabel = label->mapTo(window.get(), outside());

    QTest::mouseMove(handle, onLabel);
    QTRY_VERIFY(label->isHovered());
    QCOMPARE(label->cursor().shape(), Qt::PointingHandCursor);
    QTest::mouseMove(handle, offLabel);
    QTRY_VERIFY(!label->isHovered());

    // Press on it, drag off, release elsewhere: nothing.
    QTest::mouseMove(handle, onLabel);
    QTest::mousePress(handle, Qt::LeftButton, {}, onLabel);
    QTest::mouseMove(handle, offLabel);
    QVERIFY(!label->isHovered());
    QTest::mouseRelease(handle, Qt::LeftButton, {}, offLabel);
    QVERIFY(desktop->openedUrls.isEmpty());

    // Pressed elsewhere, released on it: nothing.
    QTest::mousePress(handle, Qt::LeftButton, {}, offLabel);
    QTest::mouseMove(handle, onLabel);
    QTest::mouseRelease(handle, Qt::LeftButton, {}, onLabel);
    QVERIFY(desktop->openedUrls.isEmpty());

    QTest::mouseMove(handle, onLabel);
    QTRY_VERIFY(label->isHovered());
    QTest::mouseClick(handle, Qt::LeftButton, {}, onLabel);
    QCOMPARE(desktop->openedUrls, QStringList{QStringLiteral("http://www.example.org")});
}

void TestHyperlinkLabel::otherButtonsDoNotFollow()
{
    label->setLinkText(QStringLiteral("www.example.org"));
    hoverByMove();
    sendMouse(label, QEvent::MouseButtonPress, inside(), Qt::RightButton, Qt::RightButton);
    sendMouse(label, QEvent::MouseButtonRelease, inside(), Qt::RightButton, Qt::NoButton);
    QVERIFY(desktop->openedUrls.isEmpty());

    // A right release does not end a left press.
    sendMouse(label, QEvent::MouseButtonPress, inside(), Qt::LeftButton, Qt::LeftButton);
    sendMouse(label, QEvent::MouseButtonRelease, inside(), Qt::RightButton, Qt::LeftButton);
    QVERIFY(desktop->openedUrls.isEmpty());
    sendMouse(label, QEvent::MouseButtonRelease, inside(), Qt::LeftButton, Qt::NoButton);
    QCOMPARE(desktop->openedUrls.size(), 1);
}

void TestHyperlinkLabel::noLinkClickDoesNothing()
{
    focusLabel();
    const QPoint pointerBefore = QCursor::pos();
    hoverByMove();
    click();
    QVERIFY(desktop->openedUrls.isEmpty());
    QCOMPARE(QApplication::focusWidget(), label);
    QCOMPARE(QCursor::pos(), pointerBefore);
}

void TestHyperlinkLabel::focusLabel()
{
    // The edit takes the focus when the window opens; move it away so that a
    // focus change to the edit can be seen.
    window->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(window.get()));
    label->setFocusPolicy(Qt::StrongFocus);
    label->setFocus();
    QTRY_COMPARE(QApplication::focusWidget(), label);
    // Park the pointer away from the edit, where no earlier test left it.
    QCursor::setPos(window->mapToGlobal(QPoint(250, 100)));
    QCOMPARE(QCursor::pos(), window->mapToGlobal(QPoint(250, 100)));
}

void TestHyperlinkLabel::linkControlGetsFocusAndPointer()
{
    focusLabel();
    label->setLinkControl(edit);
    hoverByMove();
    click();
    QVERIFY(desktop->openedUrls.isEmpty());
    QTRY_COMPARE(QApplication::focusWidget(), edit);
    QCOMPARE(QCursor::pos(), edit->mapToGlobal(QPoint(0, 0)));
}

void TestHyperlinkLabel::linkTextWinsOverLinkControl()
{
    focusLabel();
    label->setLinkControl(edit);
    label->setLinkText(QStringLiteral("www.example.org"));
    const QPoint pointerBefore = QCursor::pos();
    hoverByMove();
    click();
    QCOMPARE(desktop->openedUrls, QStringList{QStringLiteral("http://www.example.org")});
    QCOMPARE(QApplication::focusWidget(), label);
    QCOMPARE(QCursor::pos(), pointerBefore);
}

void TestHyperlinkLabel::unusableLinkControl()
{
    focusLabel();
    const QPoint pointerBefore = QCursor::pos();

    edit->setEnabled(false);
    label->setLinkControl(edit);
    hoverByMove();
    click();
    QCOMPARE(QApplication::focusWidget(), label);
    QCOMPARE(QCursor::pos(), pointerBefore);

    // The label forgets a control that goes away.
    delete edit;
    edit = nullptr;
    QCOMPARE(label->LinkControl(), nullptr);
    hoverByMove();
    QVERIFY(!label->testAttribute(Qt::WA_SetCursor));
    click();
    QVERIFY(desktop->openedUrls.isEmpty());
    QCOMPARE(QCursor::pos(), pointerBefore);
}

QTEST_MAIN(TestHyperlinkLabel)
#include "tst_hyperlinklabel.moc"
