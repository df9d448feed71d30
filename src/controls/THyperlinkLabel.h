// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QFont>
#include <QLabel>
#include <QPointer>
#include <QString>

#include <functional>

// A label that behaves like a link: hand cursor and underline while the mouse
// is over it; a click opens its target (a mail or web address) with the
// desktop's default action, or focuses LinkControl when there is no target.
class THyperlinkLabel : public QLabel {
    Q_OBJECT
    Q_PROPERTY(QString About MEMBER About)
    Q_PROPERTY(QString LinkText READ LinkText WRITE setLinkText)
    Q_PROPERTY(QWidget *LinkControl READ LinkControl WRITE setLinkControl)
public:
    explicit THyperlinkLabel(QWidget *parent = nullptr);

    QString LinkText() const { return linkText; }
    void setLinkText(const QString &text) { linkText = text; }
    QWidget *LinkControl() const { return linkControl; }
    void setLinkControl(QWidget *control) { linkControl = control; }

    bool isHovered() const { return hovered; }

    // The address FollowLink hands to the desktop for a given LinkText:
    // "mailto:" or "http://" put in front unless already there.
    static QString LinkTarget(const QString &linkText);

    QString About;
    std::function<void(QObject *)> OnMouseEnter;
    std::function<void(QObject *)> OnMouseExit;

protected:
    void mouseMoveEvent(QMouseEvent *event) override;
    void enterEvent(QEnterEvent *event) override;
    void leaveEvent(QEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    bool event(QEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    // The font style flags the underline is added to while hovering.
    struct FontStyle {
        QFont::Weight weight = QFont::Normal;
        bool italic = false;
        bool underline = false;
        bool strikeOut = false;
    };

    void startHover();
    void stopHover();
    void FollowLink();
    void fitToText();
    void watchParent(QWidget *newParent);

    QPointer<QWidget> linkControl;
    bool hovered = false;
    bool buttonDown = false;
    FontStyle savedStyle;  // the font's style before hovering added the underline
    QString linkText;
    QPointer<QWidget> watchedParent;
};
