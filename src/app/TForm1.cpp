// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/TForm1.h"

#include "TarnbeckConfig.h"
#include "app/PasswordStyle.h"
#include "app/StatusTextBar.h"
#include "controls/ConsoleView.h"
#include "controls/THyperlinkLabel.h"
#include "base/TInputChecker.h"
#include "mailbox/MailListModel.h"
#include "mailbox/MailListView.h"
#include "platform/Desktop.h"
#include "platform/WindowFrame.h"
#include "session/TClientSocket.h"

#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QDir>
#include <QEvent>
#include <QFocusEvent>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QMoveEvent>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>
#include <QResizeEvent>
#include <QTabWidget>

namespace {

const QString kVersionTitle = QStringLiteral("Tarnbeck v" TARNBECK_VERSION);

// The design's fonts are not on every desktop; these are the closest that
// fonts-liberation provides, at the design's point sizes.
QFont sansFont()
{
    QFont font(QStringLiteral("Liberation Sans"));
    font.setPointSize(8);
    return font;
}

QFont serifFont()
{
    QFont font(QStringLiteral("Liberation Serif"));
    font.setPointSize(8);
    return font;
}

// The hint labels use a narrow face so their long texts fit the design width.
QFont hintFont()
{
    QFont font(QStringLiteral("Liberation Sans Narrow"));
    font.setPointSize(8);
    return font;
}

QColor purple()
{
    return QColor(0x80, 0x00, 0x80);
}

// A 15 x 15 sort indicator: a navy triangle with a white edge on its lit sides.
QIcon triangleImage(bool pointsUp)
{
    QPixmap pixmap(15, 15);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing, false);
    const QColor navy(0x00, 0x00, 0x80);
    QPolygon shape;
    if (pointsUp)
        shape << QPoint(7, 3) << QPoint(12, 11) << QPoint(2, 11);
    else
        shape << QPoint(2, 4) << QPoint(12, 4) << QPoint(7, 12);
    painter.setPen(navy);
    painter.setBrush(navy);
    painter.drawPolygon(shape);
    painter.setPen(Qt::white);
    if (pointsUp) {
        painter.drawLine(QPoint(8, 4), QPoint(13, 12));   // right side
        painter.drawLine(QPoint(2, 12), QPoint(13, 12));  // lower side
    } else {
        painter.drawLine(QPoint(13, 4), QPoint(8, 12));  // right side
    }
    painter.end();
    return QIcon(pixmap);
}

QIcon makeWindowIcon()
{
    // An envelope in the 16 colours of the classic palette.
    QPixmap pixmap(32, 32);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setPen(QColor(0x00, 0x00, 0x80));
    painter.setBrush(QColor(0xFF, 0xFF, 0x00));
    painter.drawRect(2, 7, 27, 18);
    painter.drawLine(2, 7, 16, 18);
    painter.drawLine(29, 7, 16, 18);
    painter.setBrush(QColor(0xFF, 0x00, 0x00));
    painter.drawEllipse(20, 16, 10, 10);
    painter.end();
    return QIcon(pixmap);
}

QLabel *makeLabel(QWidget *parent, const char *name, const QString &text, QPoint at)
{
    auto *label = new QLabel(text, parent);
    label->setObjectName(QString::fromLatin1(name));
    label->setAttribute(Qt::WA_TranslucentBackground);
    label->move(at);
    label->adjustSize();
    return label;
}

// The purple reminder above a page's main control; placed by the anchors.
QLabel *makeHintLabel(QWidget *parent, const char *name, const QString &text)
{
    QLabel *label = makeLabel(parent, name, text, {0, 0});
    label->setFont(hintFont());
    QPalette hint = label->palette();
    hint.setColor(QPalette::WindowText, purple());
    label->setPalette(hint);
    label->adjustSize();
    return label;
}

QPushButton *makeButton(QWidget *parent, const char *name, const QString &caption, bool enabled)
{
    auto *button = new QPushButton(caption, parent);
    button->setObjectName(QString::fromLatin1(name));
    button->setEnabled(enabled);
    button->setAutoDefault(false);
    return button;
}

QLineEdit *makeEdit(QWidget *parent, const char *name, const QString &text, bool enabled)
{
    auto *edit = new QLineEdit(text, parent);
    edit->setObjectName(QString::fromLatin1(name));
    edit->setEnabled(enabled);
    return edit;
}

}  // namespace

TForm1::TForm1(QWidget *parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("Form1"));
    buildLayout();
    FormCreate();
}

TForm1::~TForm1()
{
    FormDestroy();
    // The conversation goes before the controls it reports to: its socket
    // detaches its events and closes without a disconnect event or QUIT.
    delete session;
    session = nullptr;
    cSock = nullptr;
}

void TForm1::FormCreate()
{
    AppDir = QCoreApplication::applicationDirPath();
    if (!AppDir.endsWith(QLatin1Char('/')))
        AppDir += QLatin1Char('/');
    SortColumn = 1;
    SortAscending = true;
    platform::setErrorTitle(kVersionTitle);
    setWindowTitle(kVersionTitle);
    setUpMailList();
    bindEvents();
}

void TForm1::FormShow()
{
    LoadSettings();
}

void TForm1::FormDestroy()
{
    // The program goes on closing; the user learns what was not saved.
    const QString failure = SaveSettings();
    if (!failure.isEmpty())
        platform::showErrorBox(failure);
}

QPoint TForm1::CenteredPosition(QSize screen, QSize window)
{
    // Halves taken separately, truncating toward zero, as the window has always done.
    return {screen.width() / 2 - window.width() / 2, screen.height() / 2 - window.height() / 2};
}

void TForm1::CenterOnScreen()
{
    const QSize screen = platform::desktop().primaryScreenSize();
    const QPoint at = CenteredPosition(screen, frameGeometry().size());
    move(at.x(), y());
    move(x(), at.y());
}

void TForm1::EnableMailboxControls(bool enable)
{
    btnList->setEnabled(enable);
    btnQuit->setEnabled(enable);
    selMail->setEnabled(enable);
    AllMail->setEnabled(enable);
    if (!enable)
        EnableMessageControls(false);
}

void TForm1::EnableMessageControls(bool enable)
{
    btnHeader->setEnabled(enable);
    btnDelete->setEnabled(enable);
    btnRead->setEnabled(enable);
}

void TForm1::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    if (!shown) {
        shown = true;
        FormShow();
    }
}

void TForm1::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    anchors.apply(QSize(width() - DesignWidth, height() - DesignHeight));
    noteWindowFrame();
}

void TForm1::moveEvent(QMoveEvent *event)
{
    QWidget::moveEvent(event);
    noteWindowFrame();
}

bool TForm1::nativeEvent(const QByteArray &eventType, void *message, qintptr *result)
{
    // A window manager may frame the window without moving or resizing it.
    if (platform::isFrameChange(eventType, message))
        noteWindowFrame();
    return QWidget::nativeEvent(eventType, message, result);
}

bool TForm1::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == txtPort && event->type() == QEvent::FocusOut) {
        // Leaving the field for another control counts; the window losing
        // activation or a popup opening does not.
        const auto reason = static_cast<QFocusEvent *>(event)->reason();
        if (reason != Qt::ActiveWindowFocusReason && reason != Qt::PopupFocusReason)
            txtPortExit(txtPort);
    }
    return QWidget::eventFilter(watched, event);
}

void TForm1::buildLayout()
{
    setFont(sansFont());
    setBackgroundRole(QPalette::Button);
    setAutoFillBackground(true);
    setWindowIcon(makeWindowIcon());
    setMinimumSize(DesignWidth, DesignHeight);
    resize(DesignWidth, DesignHeight);

    imgs = {triangleImage(false), triangleImage(true)};
    CHK = new TInputChecker(this);
    CHK->setObjectName(QStringLiteral("CHK"));
    session = new Pop3Session(this, this);
    session->setObjectName(QStringLiteral("session"));
    cSock = session->socket();

    buildConnectionPanel();

    pgControl = new QTabWidget(this);
    pgControl->setObjectName(QStringLiteral("pgControl"));
    anchors.add(pgControl, QRect(0, 60, DesignWidth, 254), AnchorLayout::All);
    buildGuiPage();
    buildCommandPage();
    pgControl->setCurrentWidget(pageGUI);

    buildFooter();

    msgBar = new StatusTextBar(this);
    msgBar->setObjectName(QStringLiteral("msgBar"));
    msgBar->setText(QStringLiteral(" idle ..."));
    anchors.add(msgBar, QRect(0, DesignHeight - 19, DesignWidth, 19),
                AnchorLayout::Left | AnchorLayout::Right | AnchorLayout::Bottom);

    // Tab order runs within each parent: the connection panel, then the pages.
    setTabOrder(txtServer, txtPort);
    setTabOrder(txtPort, txtUID);
    setTabOrder(txtUID, txtPWD);
    setTabOrder(txtPWD, btnLogin);
    setTabOrder(btnLogin, btnConn);
    setTabOrder(btnConn, pgControl);
    setTabOrder(pgControl, btnList);
    setTabOrder(btnList, btnHeader);
    setTabOrder(btnHeader, btnDelete);
    setTabOrder(btnDelete, btnRead);
    setTabOrder(btnRead, btnQuit);
    setTabOrder(btnQuit, mailInfo);
    setTabOrder(mailInfo, selMail);
    setTabOrder(selMail, AllMail);
    setTabOrder(AllMail, Memo1);
    setTabOrder(Memo1, txtCmdPrompt);
    setTabOrder(txtCmdPrompt, btnClear);
}

void TForm1::buildConnectionPanel()
{
    Panel1 = new QFrame(this);
    Panel1->setObjectName(QStringLiteral("Panel1"));
    Panel1->setFrameStyle(QFrame::Panel | QFrame::Raised);
    anchors.add(Panel1, QRect(0, 0, DesignWidth, 60), AnchorLayout::Left | AnchorLayout::Top | AnchorLayout::Right,
                false);

    Label1 = makeLabel(Panel1, "Label1", QStringLiteral("Server"), {8, 10});
    Label2 = makeLabel(Panel1, "Label2", QStringLiteral("Port"), {18, 34});
    Label3 = makeLabel(Panel1, "Label3", QStringLiteral("User ID"), {172, 10});
    Label4 = makeLabel(Panel1, "Label4", QStringLiteral("Password"), {170, 34});

    txtServer = new QComboBox(Panel1);
    txtServer->setObjectName(QStringLiteral("txtServer"));
    txtServer->setEditable(true);
    txtServer->setInsertPolicy(QComboBox::NoInsert);
    txtServer->setGeometry(48, 8, 113, 21);

    txtPort = makeEdit(Panel1, "txtPort", QStringLiteral("110"), true);
    txtPort->setGeometry(48, 32, 113, 21);
    txtPort->installEventFilter(this);
    txtUID = makeEdit(Panel1, "txtUID", QString(), true);
    txtUID->setGeometry(224, 7, 97, 21);
    txtPWD = makeEdit(Panel1, "txtPWD", QString(), true);
    txtPWD->setGeometry(224, 32, 97, 21);
    txtPWD->setEchoMode(QLineEdit::Password);
    auto *starStyle = new PasswordStyle();
    starStyle->setParent(txtPWD);
    txtPWD->setStyle(starStyle);

    btnLogin = makeButton(Panel1, "btnLogin", QStringLiteral("Login"), false);
    btnLogin->setGeometry(416, 8, 65, 45);
    btnConn = makeButton(Panel1, "btnConn", QStringLiteral("&Connect"), true);
    btnConn->setGeometry(344, 8, 73, 45);
}

void TForm1::buildGuiPage()
{
    pageGUI = new QWidget();
    pageGUI->setObjectName(QStringLiteral("pageGUI"));
    pgControl->addTab(pageGUI, QStringLiteral(" GUI"));

    Label9 = makeHintLabel(pageGUI, "Label9",
                           QStringLiteral("= [ click on list column for sorting ] = [ read mail will skip attachment ] ="));
    anchors.add(Label9, QRect(246, -1, -1, -1), AnchorLayout::Top | AnchorLayout::Right);

    mailModel = new MailListModel(this);
    mailInfo = new MailListView(pageGUI);
    mailInfo->setObjectName(QStringLiteral("mailInfo"));
    mailInfo->setFont(serifFont());
    anchors.add(mailInfo, QRect(0, 16, 542, 177), AnchorLayout::All);

    const int leftBottom = AnchorLayout::Left | AnchorLayout::Bottom;
    const int rightBottom = AnchorLayout::Right | AnchorLayout::Bottom;
    selMail = new QCheckBox(QStringLiteral("Selection"), pageGUI);
    selMail->setObjectName(QStringLiteral("selMail"));
    selMail->setFont(serifFont());
    selMail->setEnabled(false);
    anchors.add(selMail, QRect(13, 199, 60, 21), leftBottom);
    AllMail = new QCheckBox(QStringLiteral("All"), pageGUI);
    AllMail->setObjectName(QStringLiteral("AllMail"));
    AllMail->setFont(serifFont());
    AllMail->setEnabled(false);
    anchors.add(AllMail, QRect(85, 199, 44, 21), leftBottom);

    btnList = makeButton(pageGUI, "btnList", QStringLiteral("Refresh List"), false);
    anchors.add(btnList, QRect(139, 198, 80, 24), rightBottom);
    btnHeader = makeButton(pageGUI, "btnHeader", QStringLiteral("Get Header"), false);
    anchors.add(btnHeader, QRect(218, 198, 86, 24), rightBottom);
    btnDelete = makeButton(pageGUI, "btnDelete", QStringLiteral("Delete Mail"), false);
    anchors.add(btnDelete, QRect(303, 198, 82, 24), rightBottom);
    btnRead = makeButton(pageGUI, "btnRead", QStringLiteral("Read Mail"), false);
    anchors.add(btnRead, QRect(384, 198, 74, 24), rightBottom);
    btnQuit = makeButton(pageGUI, "btnQuit", QStringLiteral("Save && Quit"), false);
    anchors.add(btnQuit, QRect(457, 198, 81, 24), rightBottom);
}

void TForm1::buildCommandPage()
{
    pageCMD = new QWidget();
    pageCMD->setObjectName(QStringLiteral("pageCMD"));
    pgControl->addTab(pageCMD, QStringLiteral("TELNET"));

    Label11 = makeHintLabel(pageCMD, "Label11",
                            QStringLiteral("= [ USER ] = [ PASS ] = [ LIST] = [ TOP ] = [DELE] = [RETR] = [ STAT ] = "
                                           "[ NOOP ] = [ RSET ] = [ UIDL ] = [QUIT] ="));
    anchors.add(Label11, QRect(18, -1, -1, -1), AnchorLayout::Top | AnchorLayout::Right);

    Memo1 = new ConsoleView(pageCMD);
    Memo1->setObjectName(QStringLiteral("Memo1"));
    Memo1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    anchors.add(Memo1, QRect(0, 16, 530, 180), AnchorLayout::All);

    Label5 = makeLabel(pageCMD, "Label5", QStringLiteral("Command Prompt"), {5, 204});
    QFont bold = Label5->font();
    bold.setBold(true);
    Label5->setFont(bold);
    Label5->adjustSize();
    anchors.add(Label5, QRect(5, 204, -1, -1), AnchorLayout::Left | AnchorLayout::Bottom);

    txtCmdPrompt = makeEdit(pageCMD, "txtCmdPrompt", QString(), false);
    anchors.add(txtCmdPrompt, QRect(110, 201, 352, 21),
                AnchorLayout::Left | AnchorLayout::Right | AnchorLayout::Bottom);
    btnClear = makeButton(pageCMD, "btnClear", QStringLiteral("&Clear"), false);
    anchors.add(btnClear, QRect(471, 200, 57, 23), AnchorLayout::Right | AnchorLayout::Bottom);
}

void TForm1::buildFooter()
{
    Panel2 = new QFrame(this);
    Panel2->setObjectName(QStringLiteral("Panel2"));
    Panel2->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    anchors.add(Panel2, QRect(0, DesignHeight - 19 - 30, DesignWidth, 30),
                AnchorLayout::Left | AnchorLayout::Right | AnchorLayout::Bottom);

    const QFont linkFont = serifFont();
    Label6 = makeLabel(Panel2, "Label6", QStringLiteral("Email :"), {8, 8});
    Label6->setFont(linkFont);
    Label6->adjustSize();

    HyperlinkLabel1 = new THyperlinkLabel(Panel2);
    HyperlinkLabel1->setObjectName(QStringLiteral("HyperlinkLabel1"));
    HyperlinkLabel1->setFont(linkFont);
    HyperlinkLabel1->setText(QStringLiteral("tarnbeck@example.org"));
    HyperlinkLabel1->setLinkText(QStringLiteral("tarnbeck@example.org"));
    QPalette green = HyperlinkLabel1->palette();
    green.setColor(QPalette::WindowText, QColor(0x00, 0x80, 0x00));
    HyperlinkLabel1->setPalette(green);
    HyperlinkLabel1->adjustSize();
    anchors.add(HyperlinkLabel1, QRect(42, 8, -1, -1),
                AnchorLayout::Left | AnchorLayout::Bottom, false);

    Label8 = makeLabel(Panel2, "Label8", QStringLiteral("Clean up mail on the server"), {160, 8});
    Label8->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
    anchors.add(Label8, QRect(160, 8, 205, -1),
                AnchorLayout::Left | AnchorLayout::Top | AnchorLayout::Right, false);

    Label7 = makeLabel(Panel2, "Label7", QStringLiteral("Web :"), {359, 8});
    Label7->setFont(linkFont);
    Label7->adjustSize();
    anchors.add(Label7, QRect(359, 8, -1, -1), AnchorLayout::Right | AnchorLayout::Bottom, false);

    HyperlinkLabel2 = new THyperlinkLabel(Panel2);
    HyperlinkLabel2->setObjectName(QStringLiteral("HyperlinkLabel2"));
    HyperlinkLabel2->setFont(linkFont);
    HyperlinkLabel2->setText(QStringLiteral("www.example.org/tarnbeck"));
    HyperlinkLabel2->setLinkText(QStringLiteral("www.example.org/tarnbeck"));
    HyperlinkLabel2->setPalette(green);
    HyperlinkLabel2->adjustSize();
    anchors.add(HyperlinkLabel2, QRect(388, 8, -1, -1),
                AnchorLayout::Right | AnchorLayout::Bottom, false);
}

void TForm1::bindEvents()
{
    connect(btnConn, &QPushButton::clicked, this, [this] { btnConnClick(btnConn); });
    // The command buttons, the console prompt and page, the engine's reports.
    bindSessionEvents();
}
