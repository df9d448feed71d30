// SPDX-License-Identifier: GPL-3.0-or-later
#include "viewer/TForm2.h"

#include "base/WireText.h"
#include "platform/Desktop.h"
#include "session/HeaderDecoding.h"
#include "session/MessageDecoding.h"
#include "session/ReadView.h"

#include <QAction>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QFrame>
#include <QHash>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QPointer>
#include <QSignalBlocker>
#include <QStringDecoder>
#include <QTextDocument>
#include <QVBoxLayout>

#include <algorithm>

namespace {

// The design's "MS Sans Serif" 8 pt is not on every desktop; these are the
// closest sans-serif faces, first found wins.
QFont viewerFont()
{
    QFont font;
    font.setFamilies({QStringLiteral("Liberation Sans"), QStringLiteral("Arial"), QStringLiteral("Helvetica"),
                      QStringLiteral("DejaVu Sans")});
    font.setPointSize(8);
    return font;
}

bool isUtf8(const QByteArray &bytes)
{
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    // decode() is lazy: only the conversion to QString runs the decoder.
    const QString text = utf8.decode(bytes);
    return !utf8.hasError();
}

// A label keeps its right edge, next to its field; if the face in use is
// wider than the design's, the label grows to the left instead of clipping.
QRect labelRect(const QLabel *label, const QRect &design)
{
    const int needed = label->fontMetrics().horizontalAdvance(label->text());
    if (needed <= design.width())
        return design;
    return QRect(design.right() + 1 - needed, design.top(), needed, design.height());
}

}  // namespace

TForm2::TForm2(QWidget *owner) : QDialog(owner)
{
    setObjectName(QStringLiteral("Form2"));
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowMinMaxButtonsHint
                   | Qt::WindowCloseButtonHint);
    setWindowTitle(QString());
    setFont(viewerFont());

    MainMenu1 = new QMenuBar(this);
    MainMenu1->setObjectName(QStringLiteral("MainMenu1"));
    Option1 = MainMenu1->addMenu(QStringLiteral("&Option"));
    Option1->setObjectName(QStringLiteral("Option1"));
    Save1 = Option1->addAction(QStringLiteral("&Save As ..."));
    Save1->setObjectName(QStringLiteral("Save1"));
    DecodedText1 = Option1->addAction(QStringLiteral("&Decoded Text"));
    DecodedText1->setObjectName(QStringLiteral("DecodedText1"));
    DecodedText1->setCheckable(true);
    Close1 = Option1->addAction(QStringLiteral("&Close"));
    Close1->setObjectName(QStringLiteral("Close1"));

    // A failed save is shown by the error display.
    connect(Save1, &QAction::triggered, this, [this]() {
        const QString failure = Save1Click(Save1);
        if (!failure.isEmpty())
            platform::showErrorBox(failure);
    });
    connect(Close1, &QAction::triggered, this, &QWidget::close);
    // A switch by the user (not by Fill) shows the other view at once.
    connect(DecodedText1, &QAction::toggled, this, [this](bool on) {
        showMessage();
        emit decodedTextChanged(on);
    });

    Panel1 = new QFrame(this);
    Panel1->setObjectName(QStringLiteral("Panel1"));
    // Raised outer and lowered inner bevel, one pixel each.
    Panel1->setFrameStyle(QFrame::Box | QFrame::Raised);
    Panel1->setLineWidth(1);
    Panel1->setMidLineWidth(0);

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->setMenuBar(MainMenu1);
    layout->addWidget(Panel1);

    const auto makeLabel = [this](const char *name, const QString &text, const QRect &design) {
        auto *label = new QLabel(text, Panel1);
        label->setObjectName(QLatin1String(name));
        anchors.add(label, labelRect(label, design), AnchorLayout::TopLeft);
        return label;
    };
    Label1 = makeLabel("Label1", QStringLiteral("TO"), QRect(40, 10, 15, 13));
    Label2 = makeLabel("Label2", QStringLiteral("FROM"), QRect(24, 34, 31, 13));
    Label3 = makeLabel("Label3", QStringLiteral("SUBJECT"), QRect(8, 58, 48, 13));

    const auto makeField = [this](const char *name, int top) {
        auto *field = new QLineEdit(Panel1);
        field->setObjectName(QLatin1String(name));
        anchors.add(field, QRect(62, top, 417, 19), AnchorLayout::Left | AnchorLayout::Top | AnchorLayout::Right);
        return field;
    };
    toSTR = makeField("toSTR", 8);
    fromSTR = makeField("fromSTR", 32);
    subSTR = makeField("subSTR", 56);

    bodySTR = new QPlainTextEdit(Panel1);
    bodySTR->setObjectName(QStringLiteral("bodySTR"));
    bodySTR->setFrameStyle(QFrame::StyledPanel | QFrame::Sunken);
    bodySTR->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    bodySTR->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    bodySTR->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    bodySTR->setWordWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    // Docked to the panel's lower edge: full inner width, fixed height.
    anchors.add(bodySTR, QRect(2, 80, 484, 293), AnchorLayout::Left | AnchorLayout::Right | AnchorLayout::Bottom);

    setTabOrder(bodySTR, toSTR);
    setTabOrder(toSTR, fromSTR);
    setTabOrder(fromSTR, subSTR);
    bodySTR->setFocus();

    Panel1->installEventFilter(this);
    resize(DesignWidth, MainMenu1->sizeHint().height() + DesignHeight);
}

void TForm2::ShowMessage(QWidget *owner, const ViewerMessage &message,
                         const std::function<void(bool on)> &decodedTextChanged)
{
    // The owner may go while the modal loop runs; it then takes the viewer along.
    QPointer<TForm2> viewer = new TForm2(owner);
    viewer->Fill(message);
    if (decodedTextChanged)
        connect(viewer, &TForm2::decodedTextChanged, viewer, decodedTextChanged);
    viewer->exec();
    delete viewer.data();
}

void TForm2::Fill(const ViewerMessage &filled)
{
    message = filled;
    {
        const QSignalBlocker quiet(DecodedText1);
        DecodedText1->setChecked(message.decodedText);
    }
    showMessage();
}

void TForm2::showMessage()
{
    if (DecodedText1->isChecked())
        showDecoded();
    else
        showReceived();
    bodySTR->document()->setModified(false);
    bodySTR->moveCursor(QTextCursor::Start);
}

void TForm2::showReceived()
{
    const auto setField = [](QLineEdit *field, const QByteArray &bytes) {
        field->setText(decodeWireLine(bytes));
        field->setCursorPosition(0);
    };
    setField(toSTR, message.to);
    setField(fromSTR, message.from);
    setField(subSTR, message.subject);

    lineBytes = ReadViewLines(message.lines, message.whole);
    shownLines.clear();
    shownLines.reserve(lineBytes.size());
    hasLatin1Lines = false;
    for (const QByteArray &line : std::as_const(lineBytes)) {
        shownLines.append(decodeWireLine(line));
        hasLatin1Lines = hasLatin1Lines || !isUtf8(line);
    }
    // Every line followed by a line break, the last one too.
    bodySTR->setPlainText(lineBytes.isEmpty() ? QString() : shownLines.join(QLatin1Char('\n')) + QLatin1Char('\n'));
}

void TForm2::showDecoded()
{
    const DecodedHeaders headers = DecodeHeaders(message.lines);
    const auto setField = [](QLineEdit *field, const QString &text) {
        field->setText(text);
        field->setCursorPosition(0);
    };
    setField(toSTR, headers.recipient);
    setField(fromSTR, headers.sender);
    setField(subSTR, headers.subject);
    // A TOP reply may hold the whole of a short message.
    const bool cut = !message.whole && !TopReplyIsWhole(message.lines);
    bodySTR->setPlainText(DecodeMessage(message.lines, cut));
}

QByteArray TForm2::encodeEditedLine(const QString &line, qsizetype index) const
{
    // A line the user left alone keeps its bytes, even when its place moved.
    if (index < shownLines.size() && shownLines.at(index) == line)
        return lineBytes.at(index);
    const qsizetype at = shownLines.indexOf(line);
    if (at >= 0)
        return lineBytes.at(at);
    // Typed text: in an 8-bit message as 8-bit where it fits, else UTF-8.
    if (hasLatin1Lines && std::all_of(line.cbegin(), line.cend(), [](QChar c) { return c.unicode() <= 0xFF; }))
        return line.toLatin1();
    return line.toUtf8();
}

QByteArray TForm2::SavedText() const
{
    QByteArray text;
    if (DecodedText1->isChecked()) {
        // Decoded text has no bytes of its own to keep: UTF-8, line by line.
        QStringList lines = bodySTR->document()->toRawText().split(QChar::ParagraphSeparator);
        if (lines.last().isEmpty())
            lines.removeLast();
        for (const QString &line : std::as_const(lines))
            text += line.toUtf8() + "\r\n";
        return text;
    }
    if (!bodySTR->document()->isModified()) {
        for (const QByteArray &line : lineBytes)
            text += line + "\r\n";
        return text;
    }
    // The raw text keeps what toPlainText() would change (no-break spaces);
    // its blocks are the memo's lines, except that an empty block after the
    // last break is no line of its own. Every line ends with CR LF, the last
    // one too, as in the unedited text.
    QStringList lines = bodySTR->document()->toRawText().split(QChar::ParagraphSeparator);
    if (lines.last().isEmpty())
        lines.removeLast();
    for (qsizetype i = 0; i < lines.size(); ++i)
        text += encodeEditedLine(lines.at(i), i) + "\r\n";
    return text;
}

QString TForm2::Save1Click(QObject *Sender)
{
    Q_UNUSED(Sender);
    platform::SaveFileRequest request;
    request.parent = this;
    request.defaultSuffix = QStringLiteral("txt");
    request.filter = QStringLiteral("Text File (*.txt)");
    request.confirmOverwrite = false;
    // Like the platform's own dialog: a No to replacing a file goes back to
    // choosing a name.
    QString name;
    do {
        name = platform::desktop().saveFileName(request);
        if (name.isEmpty())
            return {};
    } while (QFileInfo(name).isFile() && !confirmReplace(name));

    const QByteArray text = SavedText();
    QFile file(name);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Unbuffered))
        return QStringLiteral("Cannot create file %1").arg(QDir::toNativeSeparators(name));
    const qint64 written = file.write(text);
    file.close();
    if (written != text.size() || file.error() != QFileDevice::NoError)
        return QStringLiteral("Stream write error");
    return {};
}

bool TForm2::confirmReplace(const QString &name)
{
    platform::MessageBoxRequest box;
    box.parent = this;
    box.title = QStringLiteral("Confirm Save As");
    box.text = QStringLiteral("%1 already exists.\rDo you want to replace it?").arg(QFileInfo(name).fileName());
    box.icon = platform::BoxIcon::Warning;
    box.buttons = {platform::BoxButton::Yes, platform::BoxButton::No};
    box.defaultButton = platform::BoxButton::No;
    box.escapeButton = platform::BoxButton::No;
    return platform::desktop().messageBox(box) == platform::BoxButton::Yes;
}

bool TForm2::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == Panel1 && event->type() == QEvent::Resize)
        anchors.apply(Panel1->size() - QSize(DesignWidth, DesignHeight));
    return QDialog::eventFilter(watched, event);
}
