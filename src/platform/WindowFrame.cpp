// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/WindowFrame.h"

#include "TarnbeckConfig.h"

#include <QGuiApplication>
#include <QWidget>
#include <QWindow>

#include <algorithm>

#ifdef TARNBECK_HAVE_XCB
#include <xcb/xcb.h>

#include <cstdlib>
#include <memory>
#endif

namespace platform {

#ifdef TARNBECK_HAVE_XCB
namespace {

struct FreeReply {
    void operator()(void *reply) const { std::free(reply); }
};

xcb_connection_t *x11Connection()
{
    if (QGuiApplication::platformName() != QLatin1String("xcb"))
        return nullptr;
    const auto *x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    return x11 ? x11->connection() : nullptr;
}

xcb_atom_t frameExtentsAtom(xcb_connection_t *connection)
{
    static xcb_atom_t atom = XCB_ATOM_NONE;
    if (atom == XCB_ATOM_NONE) {
        static const char name[] = "_NET_FRAME_EXTENTS";
        const std::unique_ptr<xcb_intern_atom_reply_t, FreeReply> reply(xcb_intern_atom_reply(
            connection, xcb_intern_atom(connection, 1, sizeof name - 1, name), nullptr));
        if (reply)
            atom = reply->atom;
    }
    return atom;
}

// Qt reads _NET_FRAME_EXTENTS only after a configure event; a window manager
// that frames a window in place sends none, so Qt would go on reporting no
// frame. The property itself is read here instead.
bool readFrameExtents(xcb_connection_t *connection, xcb_window_t window, QSize *frame)
{
    const xcb_atom_t atom = frameExtentsAtom(connection);
    if (atom == XCB_ATOM_NONE)
        return false;
    const std::unique_ptr<xcb_get_property_reply_t, FreeReply> reply(xcb_get_property_reply(
        connection, xcb_get_property(connection, 0, window, atom, XCB_ATOM_CARDINAL, 0, 4), nullptr));
    if (!reply || reply->type != XCB_ATOM_CARDINAL || reply->format != 32
        || xcb_get_property_value_length(reply.get()) != 16)
        return false;
    const auto *extents = static_cast<const quint32 *>(xcb_get_property_value(reply.get()));
    // Left, right, top, bottom; a hostile value cannot make the size overflow.
    const auto extent = [](quint32 value) { return int(std::min<quint32>(value, 4096)); };
    *frame = QSize(extent(extents[0]) + extent(extents[1]), extent(extents[2]) + extent(extents[3]));
    return true;
}

}  // namespace
#endif

QSize windowFrameSize(const QWidget *window)
{
#ifdef TARNBECK_HAVE_XCB
    if (xcb_connection_t *connection = x11Connection()) {
        QSize frame(0, 0);
        if (window->windowHandle() && window->testAttribute(Qt::WA_WState_Created))
            readFrameExtents(connection, xcb_window_t(window->winId()), &frame);
        return frame;
    }
#endif
    const QWindow *handle = window->windowHandle();
    if (!handle)
        return QSize(0, 0);
    const QMargins margins = handle->frameMargins();
    return QSize(margins.left() + margins.right(), margins.top() + margins.bottom());
}

bool isFrameChange(const QByteArray &eventType, const void *message)
{
#ifdef TARNBECK_HAVE_XCB
    if (eventType != "xcb_generic_event_t" || !message)
        return false;
    const auto *event = static_cast<const xcb_generic_event_t *>(message);
    if ((event->response_type & 0x7f) != XCB_PROPERTY_NOTIFY)
        return false;
    xcb_connection_t *connection = x11Connection();
    return connection
           && static_cast<const xcb_property_notify_event_t *>(message)->atom == frameExtentsAtom(connection);
#else
    Q_UNUSED(eventType);
    Q_UNUSED(message);
    return false;
#endif
}

}  // namespace platform
