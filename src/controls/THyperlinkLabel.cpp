// SPDX-License-Identifier: GPL-3.0-or-later
#include "controls/THyperlinkLabel.h"

#include "platform/Desktop.h"

#include <QApplication>
#include <QCursor>
#include <QEnterEvent>
#include <QMouseEvent>

namespace {

// The first seven characters with only a to z turned to capitals, so that no
// other letter can be folded into a match of the scheme.
QString asciiUpperHead(const QString &text)
{
    QString head = text.left(7);
    for (QChar &c : head) {
        if (c.unicode() >= 'a' && c.unicode() <= 'z')
            c = QChar(c.unicode() - ('a' - 'A'));
    }
    return head;
}

}  // namespace

THyperlinkLabel::THyperlinkLabel(QWidget *parent)
    : QLabel(parent), About(QStringLiteral("THyperlinkLabel v1.0"))
{
    // Draw only the text over whatever the parent shows.
    setAutoFillBackground(false);
    // Moves without a button pressed must reach the label too: they pick the
    // cursor and catch a leave that the platform did not report.
    setMouseTracking(true);
    watchParent(parentWidget());
}

QString THyperlinkLabel::LinkTarget(const QString &linkText)
{
    const bool mailAddress = linkText.contains(QLatin1Char('@'));
    const QString scheme = mailAddress ? QStringLiteral("mailto:") : QStringLiteral("http://");
    const QString upperScheme = mailAddress ? QStringLiteral("MAILTO:") : QStringLiteral("HTTP://");
    if (asciiUpperHead(linkText) == upperScheme)
        return linkText;
    return scheme + linkText;
}

void THyperlinkLabel::mouseMoveEvent(QMouseEvent *event)
{
    // Chosen on every move, so a change of the link properties shows at once.
    if (linkControl || !linkText.isEmpty())
        setCursor(Qt::PointingHandCursor);
    else
        unsetCursor();

    // While the button is held the label keeps getting moves even off itself,
    // but no leave event: this is what drops the hover when dragging away.
    // widgetAt() also finds disabled widgets, as the hover test wants.
    if (QApplication::widgetAt(event->globalPosition().toPoint()) == this)
        startHover();
    else
        stopHover();

    QLabel::mouseMoveEvent(event);
}

void THyperlinkLabel::enterEvent(QEnterEvent *)
{
    startHover();
}

void THyperlinkLabel::leaveEvent(QEvent *)
{
    stopHover();
}

void THyperlinkLabel::mousePressEvent(QMouseEvent *event)
{
    QLabel::mousePressEvent(event);
    if (event->button() == Qt::LeftButton)
        buttonDown = true;
}

void THyperlinkLabel::mouseReleaseEvent(QMouseEvent *event)
{
    QLabel::mouseReleaseEvent(event);
    if (event->button() != Qt::LeftButton)
        return;
    // Cleared before following: opening the link may run other handlers.
    const bool follow = hovered && buttonDown;
    buttonDown = false;
    if (follow)
        FollowLink();
}

void THyperlinkLabel::startHover()
{
    if (hovered)
        return;
    hovered = true;
    QFont styled = font();
    savedStyle = FontStyle{styled.weight(), styled.italic(), styled.underline(), styled.strikeOut()};
    styled.setUnderline(true);
    setFont(styled);
    if (OnMouseEnter)
        OnMouseEnter(this);
}

void THyperlinkLabel::stopHover()
{
    if (!hovered)
        return;
    hovered = false;
    QFont restored = font();
    restored.setWeight(savedStyle.weight);
    restored.setItalic(savedStyle.italic);
    restored.setUnderline(savedStyle.underline);
    restored.setStrikeOut(savedStyle.strikeOut);
    setFont(restored);
    if (OnMouseExit)
        OnMouseExit(this);
}

void THyperlinkLabel::FollowLink()
{
    if (!linkText.isEmpty()) {
        // Whether the desktop could open it is of no interest: there is
        // nothing the label could do about it.
        platform::desktop().openUrl(LinkTarget(linkText));
        return;
    }
    // A control that cannot take the focus is left alone, and so is the
    // pointer: sending it to a hidden or dead control would only confuse.
    QPointer<QWidget> control = linkControl;
    if (!control || !control->isVisible() || !control->isEnabled())
        return;
    control->setFocus(Qt::OtherFocusReason);
    if (control)
        QCursor::setPos(control->screen(), control->mapToGlobal(QPoint(0, 0)));
}

bool THyperlinkLabel::event(QEvent *event)
{
    const bool result = QLabel::event(event);
    switch (event->type()) {
    case QEvent::ParentChange:
        watchParent(parentWidget());
        fitToText();
        break;
    case QEvent::Polish:
    case QEvent::Show:
    case QEvent::FontChange:
        fitToText();
        break;
    default:
        break;
    }
    return result;
}

bool THyperlinkLabel::eventFilter(QObject *watched, QEvent *event)
{
    // A label without a layout learns of a new text only through the layout
    // request its parent receives.
    if (watched == watchedParent && event->type() == QEvent::LayoutRequest)
        fitToText();
    return QLabel::eventFilter(watched, event);
}

void THyperlinkLabel::fitToText()
{
    // Inside a layout the layout sizes the label from its size hint.
    if (parentWidget() && parentWidget()->layout())
        return;
    if (size() != sizeHint())
        adjustSize();
}

void THyperlinkLabel::watchParent(QWidget *newParent)
{
    if (watchedParent == newParent)
        return;
    if (watchedParent)
        watchedParent->removeEventFilter(this);
    watchedParent = newParent;
    if (watchedParent)
        watchedParent->installEventFilter(this);
}
