// SPDX-License-Identifier: GPL-3.0-or-later
#include "controls/AnchorLayout.h"
#include "base/AppFailure.h"
#include "app/StatusTextBar.h"
#include "app/TForm1.h"
#include "controls/ConsoleView.h"
#include "app/TarnbeckApplication.h"
#include "mailbox/MailListModel.h"
#include "mailbox/MailListView.h"
#include "support/FormFixture.h"

#include <QCheckBox>
#include <QComboBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QtTest>

using A = AnchorLayout;

class MainWindowTest : public QObject {
    Q_OBJECT
private slots:
    void titleAndStartState();
    void controls_data();
    void controls();
    void anchorsFollowResize_data();
    void anchorsFollowResize();
    void labelsAreNotClipped();
    void mailListColumns();
    void tabOrder();
    void centerOnScreen_data();
    void centerOnScreen();
    void controlGroups();
    void errorDisplayAddsFullStop_data();
    void errorDisplayAddsFullStop();
    void errorDisplayCatchesHandlerFailure();
};

void MainWindowTest::titleAndStartState()
{
    FormFixture f;
    TForm1 &w = *f.form;
    QCOMPARE(w.windowTitle(), QStringLiteral("Tarnbeck v1.01"));
    QCOMPARE(TarnbeckApplication::title(), QStringLiteral("Tarnbeck v1.01"));
    QCOMPARE(w.minimumSize(), QSize(TForm1::DesignWidth, TForm1::DesignHeight));
    QCOMPARE(w.msgBar->text(), QStringLiteral(" idle ..."));
    QCOMPARE(w.session->state(), std::uint8_t(ssIdle));
    QCOMPARE(w.SortColumn, 1);
    QVERIFY(w.SortAscending);
    QCOMPARE(w.CheckedCount, 0);
    QVERIFY(w.AppDir.endsWith(QLatin1Char('/')));
    QCOMPARE(w.pgControl->currentWidget(), w.pageGUI);
    QCOMPARE(w.pgControl->tabText(0), QStringLiteral(" GUI"));
    QCOMPARE(w.pgControl->tabText(1), QStringLiteral("TELNET"));
    QCOMPARE(w.txtPWD->echoMode(), QLineEdit::Password);
    QCOMPARE(w.txtPWD->style()->styleHint(QStyle::SH_LineEdit_PasswordCharacter, nullptr, w.txtPWD), int('*'));
    QVERIFY(w.txtServer->isEditable());
    QVERIFY(w.Memo1->isReadOnly());
    QVERIFY(!w.windowIcon().isNull());
    QCOMPARE(w.imgs.size(), 2);
}

// name, text, enabled at start, design geometry (x, y, w, h; w/h -1 = not fixed), anchors
void MainWindowTest::controls_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("enabled");
    QTest::addColumn<QRect>("geometry");
    QTest::addColumn<int>("anchors");

    auto row = [](const char *name, const char *text, bool enabled, QRect r, int anchors = A::TopLeft) {
        QTest::newRow(name) << QString::fromUtf8(text) << enabled << r << anchors;
    };
    row("Label1", "Server", true, {8, 10, -1, -1});
    row("Label2", "Port", true, {18, 34, -1, -1});
    row("Label3", "User ID", true, {172, 10, -1, -1});
    row("Label4", "Password", true, {170, 34, -1, -1});
    row("txtServer", "", true, {48, 8, 113, -1});
    row("txtPort", "110", true, {48, 32, 113, 21});
    row("txtUID", "", true, {224, 7, 97, 21});
    row("txtPWD", "", true, {224, 32, 97, 21});
    row("btnLogin", "Login", false, {416, 8, 65, 45});
    row("btnConn", "&Connect", true, {344, 8, 73, 45});
    row("Label9", "= [ click on list column for sorting ] = [ read mail will skip attachment ] =", true,
        {246, -1, -1, -1}, A::Top | A::Right);
    row("mailInfo", "", true, {0, 16, 542, 177}, A::All);
    row("selMail", "Selection", false, {13, 199, 60, 21}, A::Left | A::Bottom);
    row("AllMail", "All", false, {85, 199, 44, 21}, A::Left | A::Bottom);
    row("btnList", "Refresh List", false, {139, 198, 80, 24}, A::Right | A::Bottom);
    row("btnHeader", "Get Header", false, {218, 198, 86, 24}, A::Right | A::Bottom);
    row("btnDelete", "Delete Mail", false, {303, 198, 82, 24}, A::Right | A::Bottom);
    row("btnRead", "Read Mail", false, {384, 198, 74, 24}, A::Right | A::Bottom);
    row("btnQuit", "Save && Quit", false, {457, 198, 81, 24}, A::Right | A::Bottom);
    row("Label11",
        "= [ USER ] = [ PASS ] = [ LIST] = [ TOP ] = [DELE] = [RETR] = [ STAT ] = [ NOOP ] = [ RSET ] = "
        "[ UIDL ] = [QUIT] =",
        true, {18, -1, -1, -1}, A::Top | A::Right);
    row("Memo1", "", true, {0, 16, 530, 180}, A::All);
    row("Label5", "Command Prompt", true, {5, 204, -1, -1}, A::Left | A::Bottom);
    row("txtCmdPrompt", "", false, {110, 201, 352, 21}, A::Left | A::Right | A::Bottom);
    row("btnClear", "&Clear", false, {471, 200, 57, 23}, A::Right | A::Bottom);
    row("Label6", "Email :", true, {8, 8, -1, -1});
    row("HyperlinkLabel1", "tarnbeck@example.org", true, {42, 8, -1, -1}, A::Left | A::Bottom);
    row("Label7", "Web :", true, {359, 8, -1, -1}, A::Right | A::Bottom);
    row("HyperlinkLabel2", "www.example.org/tarnbeck", true, {388, 8, -1, -1}, A::Right | A::Bottom);
    row("Label8", "Clean up mail on the server", true, {160, 8, 205, -1},
        A::Left | A::Top | A::Right);
    row("msgBar", " idle ...", true, {0, 344, 552, 19}, A::Left | A::Right | A::Bottom);
}

static QString controlText(QWidget *w)
{
    if (auto *b = qobject_cast<QAbstractButton *>(w))
        return b->text();
    if (auto *l = qobject_cast<QLabel *>(w))
        return l->text();
    if (auto *e = qobject_cast<QLineEdit *>(w))
        return e->text();
    if (auto *c = qobject_cast<QComboBox *>(w))
        return c->currentText();
    if (auto *m = qobject_cast<QPlainTextEdit *>(w))
        return m->toPlainText();
    if (auto *s = qobject_cast<StatusTextBar *>(w))
        return s->text();
    return {};
}

static void checkGeometry(QWidget *w, QRect expected, QSize growth, int anchors)
{
    // Labels size themselves to their text; only the fixed sides are checked.
    const QRect fixed(expected.topLeft(), QSize(expected.width() < 0 ? w->width() : expected.width(),
                                                expected.height() < 0 ? w->height() : expected.height()));
    const QRect want = AnchorLayout::placed(fixed, anchors, growth);
    QCOMPARE(w->geometry(), want);
}

void MainWindowTest::controls()
{
    QFETCH(QString, text);
    QFETCH(bool, enabled);
    QFETCH(QRect, geometry);
    QFETCH(int, anchors);
    FormFixture f;
    f.form->show();
    auto *w = f.form->findChild<QWidget *>(QString::fromLatin1(QTest::currentDataTag()));
    QVERIFY2(w, QTest::currentDataTag());
    QCOMPARE(controlText(w), text);
    QCOMPARE(w->isEnabled(), enabled);
    checkGeometry(w, geometry, QSize(0, 0), anchors);
}

void MainWindowTest::anchorsFollowResize_data()
{
    controls_data();
}

void MainWindowTest::anchorsFollowResize()
{
    QFETCH(QRect, geometry);
    QFETCH(int, anchors);
    FormFixture f;
    f.form->show();
    auto *w = f.form->findChild<QWidget *>(QString::fromLatin1(QTest::currentDataTag()));
    QVERIFY(w);
    const QSize before = w->size();
    // The footer and connection panel only grow in width.
    const bool inFixedPanel = w->parentWidget() == f.form->Panel1 || w->parentWidget() == f.form->Panel2;
    const QSize growth(148, 137);
    f.form->resize(TForm1::DesignWidth + growth.width(), TForm1::DesignHeight + growth.height());
    const QSize used(growth.width(), inFixedPanel ? 0 : growth.height());
    QRect fixed = geometry;
    if (fixed.width() < 0)
        fixed.setWidth(before.width());
    if (fixed.height() < 0)
        fixed.setHeight(before.height());
    if (w == f.form->msgBar)
        fixed.moveTop(geometry.top());
    checkGeometry(w, fixed, used, anchors);

    // Back at the minimum size everything stands where the design has it.
    f.form->resize(f.form->minimumSize());
    checkGeometry(w, fixed, QSize(0, 0), anchors);
}

void MainWindowTest::labelsAreNotClipped()
{
    FormFixture f;
    f.form->show();
    const auto labels = f.form->findChildren<QLabel *>();
    QVERIFY(labels.size() >= 12);
    for (QLabel *label : labels) {
        if (label->objectName().isEmpty() || label->text().isEmpty())
            continue;
        const QSize need = label->fontMetrics().size(Qt::TextSingleLine, label->text());
        QVERIFY2(label->width() >= need.width(), qPrintable(label->objectName()));
    }
    for (QAbstractButton *button : f.form->findChildren<QAbstractButton *>()) {
        if (button->objectName().isEmpty())
            continue;
        QString caption = button->text();
        caption.replace(QLatin1String("&&"), QLatin1String("\x01")).remove(QLatin1Char('&'));
        caption.replace(QLatin1Char('\x01'), QLatin1Char('&'));
        // Check boxes also need room for their box.
        const int box = qobject_cast<QCheckBox *>(button) ? 18 : 4;
        QVERIFY2(button->fontMetrics().horizontalAdvance(caption) + box <= button->width(),
                 qPrintable(button->objectName()));
    }
}

void MainWindowTest::mailListColumns()
{
    FormFixture f;
    TForm1 &w = *f.form;
    QAbstractItemModel *model = w.mailInfo->model();
    QVERIFY(model);
    QCOMPARE(model->columnCount(), 6);
    const QStringList captions{"", "ID", "Subject", "From", "To", "Bytes"};
    const QList<int> widths{20, 55, 195, 95, 95, 65};
    for (int c = 0; c < 6; ++c) {
        QCOMPARE(model->headerData(c, Qt::Horizontal, Qt::DisplayRole).toString(), captions[c]);
        QCOMPARE(w.mailInfo->header()->sectionSize(c), widths[c]);
    }
    QCOMPARE(model->headerData(5, Qt::Horizontal, Qt::TextAlignmentRole).toInt() & Qt::AlignHorizontal_Mask,
             int(Qt::AlignRight));
    QCOMPARE(w.mailModel->headerImage(1), 0);
    for (int c : {0, 2, 3, 4, 5})
        QCOMPARE(w.mailModel->headerImage(c), -1);
    QVERIFY(!model->headerData(1, Qt::Horizontal, Qt::DecorationRole).value<QIcon>().isNull());
    QCOMPARE(w.mailInfo->selectionMode(), QAbstractItemView::ExtendedSelection);
    QCOMPARE(w.mailInfo->selectionBehavior(), QAbstractItemView::SelectRows);
}

// The next control after `from` in the focus chain, passing over the inner
// parts of `from` itself (a list's viewport, a combo box's editor).
static QWidget *nextControl(QWidget *from)
{
    QWidget *next = from->nextInFocusChain();
    while (next != from && from->isAncestorOf(next))
        next = next->nextInFocusChain();
    return next;
}

void MainWindowTest::tabOrder()
{
    FormFixture f;
    TForm1 &w = *f.form;
    const QList<QWidget *> panel{w.txtServer, w.txtPort, w.txtUID, w.txtPWD, w.btnLogin, w.btnConn};
    for (int i = 0; i + 1 < panel.size(); ++i)
        QCOMPARE(nextControl(panel[i]), panel[i + 1]);
    const QList<QWidget *> gui{w.btnList, w.btnHeader, w.btnDelete, w.btnRead, w.btnQuit, w.mailInfo, w.selMail, w.AllMail};
    for (int i = 0; i + 1 < gui.size(); ++i)
        QCOMPARE(nextControl(gui[i]), gui[i + 1]);
    QCOMPARE(nextControl(w.Memo1), static_cast<QWidget *>(w.txtCmdPrompt));
    QCOMPARE(nextControl(w.txtCmdPrompt), static_cast<QWidget *>(w.btnClear));
}

void MainWindowTest::centerOnScreen_data()
{
    QTest::addColumn<QSize>("screen");
    QTest::addColumn<QSize>("window");
    QTest::addColumn<QPoint>("expected");
    QTest::newRow("1024x768, odd width") << QSize(1024, 768) << QSize(561, 390) << QPoint(232, 189);
    QTest::newRow("800x600, layout size") << QSize(800, 600) << QSize(560, 390) << QPoint(120, 105);
    QTest::newRow("screen smaller than window") << QSize(400, 300) << QSize(561, 391) << QPoint(-80, -45);
}

void MainWindowTest::centerOnScreen()
{
    QFETCH(QSize, screen);
    QFETCH(QSize, window);
    QFETCH(QPoint, expected);
    QCOMPARE(TForm1::CenteredPosition(screen, window), expected);

    // The window uses the stubbed screen and its own outer size.
    FormFixture f;
    f.desktop.setScreenSize(screen);
    f.form->CenterOnScreen();
    QCOMPARE(f.form->pos(), TForm1::CenteredPosition(screen, f.form->frameGeometry().size()));
}

void MainWindowTest::controlGroups()
{
    FormFixture f;
    TForm1 &w = *f.form;
    const QList<QWidget *> mailbox{w.btnList, w.btnQuit, w.selMail, w.AllMail};
    const QList<QWidget *> message{w.btnHeader, w.btnDelete, w.btnRead};

    w.EnableMessageControls(true);
    for (QWidget *c : message)
        QVERIFY(c->isEnabled());
    w.EnableMessageControls(false);
    w.EnableMailboxControls(true);
    for (QWidget *c : mailbox)
        QVERIFY(c->isEnabled());
    for (QWidget *c : message)
        QVERIFY2(!c->isEnabled(), "enabling the list group must leave the message buttons alone");

    w.EnableMessageControls(true);
    w.EnableMailboxControls(true);
    for (QWidget *c : message)
        QVERIFY(c->isEnabled());
    w.EnableMailboxControls(false);
    for (QWidget *c : mailbox + message)
        QVERIFY(!c->isEnabled());
    // Nothing outside the two groups is touched.
    QVERIFY(w.btnConn->isEnabled());
    QVERIFY(!w.btnLogin->isEnabled());
}

void MainWindowTest::errorDisplayAddsFullStop_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("shown");
    QTest::newRow("letter") << "Cannot create file x" << "Cannot create file x.";
    QTest::newRow("full stop") << "Done." << "Done.";
    QTest::newRow("exclamation") << "Fail !" << "Fail !";
    QTest::newRow("closing parenthesis") << "Unable (x)" << "Unable (x)";
    QTest::newRow("quote") << "API 'connect'" << "API 'connect'";
    QTest::newRow("slash") << "dir/" << "dir/.";
    QTest::newRow("digit") << "code 5" << "code 5.";
    QTest::newRow("empty") << "" << "";
}

void MainWindowTest::errorDisplayAddsFullStop()
{
    QFETCH(QString, text);
    QFETCH(QString, shown);
    DesktopStub desktop;
    TarnbeckApplication::setTitle(QStringLiteral("Tarnbeck v1.01"));
    TarnbeckApplication::showError(text);
    QCOMPARE(desktop.boxes.size(), 1);
    QCOMPARE(desktop.boxes[0].text, shown);
    QCOMPARE(desktop.boxes[0].title, QStringLiteral("Tarnbeck v1.01"));
    QCOMPARE(desktop.boxes[0].icon, platform::BoxIcon::Error);
    QCOMPARE(desktop.boxes[0].buttons, QList<platform::BoxButton>{platform::BoxButton::Ok});
}

namespace {
// An object whose event handler fails, as a handler of ours may.
class FailingHandler : public QObject {
public:
    bool event(QEvent *e) override
    {
        if (e->type() == QEvent::User)
            throw AppFailure(QStringLiteral("Stream write error"));
        return QObject::event(e);
    }
};
}  // namespace

void MainWindowTest::errorDisplayCatchesHandlerFailure()
{
    auto *app = qobject_cast<TarnbeckApplication *>(QCoreApplication::instance());
    QVERIFY(app);
    DesktopStub desktop;
    TarnbeckApplication::setTitle(QStringLiteral("Tarnbeck v1.01"));
    FailingHandler handler;
    bool after = false;
    QCoreApplication::postEvent(&handler, new QEvent(QEvent::User));
    QTimer::singleShot(10, [&] { after = true; });
    QTRY_VERIFY(after);  // the event loop goes on after the failure
    QCOMPARE(desktop.boxes.size(), 1);
    QCOMPARE(desktop.boxes[0].text, QStringLiteral("Stream write error."));
    QCOMPARE(desktop.boxes[0].title, QStringLiteral("Tarnbeck v1.01"));
}

int main(int argc, char **argv)
{
    TarnbeckApplication app(argc, argv);
    MainWindowTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_mainwindow.moc"
