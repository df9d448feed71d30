// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QSize>

class QWidget;

// The frame the window manager draws around a top-level window.
namespace platform {

// Outer minus client size of a shown top-level window; (0, 0) while the
// window manager has not framed it (under X11 that is until it is mapped)
// or when there is no frame.
QSize windowFrameSize(const QWidget *window);

// Whether a native event for a window may report a new frame (under X11, a
// change of the window's _NET_FRAME_EXTENTS): Qt sends no event for it.
bool isFrameChange(const QByteArray &eventType, const void *message);

}  // namespace platform
