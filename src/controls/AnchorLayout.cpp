// SPDX-License-Identifier: GPL-3.0-or-later
#include "controls/AnchorLayout.h"

void AnchorLayout::add(QWidget *widget, const QRect &design, int anchors, bool followsHeight)
{
    entries.append({widget, design, anchors, followsHeight});
    apply(entries.constLast(), QSize(0, 0));
}

QRect AnchorLayout::placed(const QRect &design, int anchors, QSize growth)
{
    QRect r = design;
    const int dx = growth.width();
    const int dy = growth.height();
    if (anchors & Right) {
        if (anchors & Left)
            r.setWidth(design.width() + dx);
        else
            r.moveLeft(design.left() + dx);
    }
    if (anchors & Bottom) {
        if (anchors & Top)
            r.setHeight(design.height() + dy);
        else
            r.moveTop(design.top() + dy);
    }
    return r;
}

void AnchorLayout::apply(QSize growth) const
{
    for (const Entry &e : entries)
        apply(e, growth);
}

void AnchorLayout::apply(const Entry &e, QSize growth)
{
    if (!e.widget)
        return;
    QRect design = e.design;
    if (design.width() < 0)
        design.setWidth(e.widget->width());
    if (design.height() < 0)
        design.setHeight(e.widget->height());
    const QSize g(growth.width(), e.followsHeight ? growth.height() : 0);
    e.widget->setGeometry(placed(design, e.anchors, g));
}
