// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QList>
#include <QPointer>
#include <QRect>
#include <QSize>
#include <QWidget>

// Keeps controls at fixed distances from the parent edges they are anchored
// to, like the designer's anchors: positions are those of the design at the
// window's minimum size, and every container here grows with the window, so a
// control moves or stretches by the window's growth in the anchored directions.
class AnchorLayout {
public:
    enum Anchor { Left = 1, Top = 2, Right = 4, Bottom = 8, TopLeft = Left | Top, All = Left | Top | Right | Bottom };

    // A design width or height below 0 keeps the control's own (auto) size.
    // followsHeight: whether the control's parent grows in height with the
    // window (false for the fixed-height panels, which only grow in width).
    void add(QWidget *widget, const QRect &design, int anchors, bool followsHeight = true);
    // Places every control for a window that is `growth` larger than its design size.
    void apply(QSize growth) const;

    // Where a control with these anchors stands for the given growth.
    static QRect placed(const QRect &design, int anchors, QSize growth);

private:
    struct Entry {
        QPointer<QWidget> widget;
        QRect design;
        int anchors;
        bool followsHeight;
    };
    static void apply(const Entry &entry, QSize growth);
    QList<Entry> entries;
};
