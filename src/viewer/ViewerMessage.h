// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QList>

// What a viewer is opened with: one message read, and how it came.
struct ViewerMessage {
    // The three fields as the window shows them with Decoded Text off (the
    // server's bytes, or with Decode Headers on their decoded text as UTF-8).
    QByteArray to;
    QByteArray from;
    QByteArray subject;
    // The message's lines as received, without line breaks, dot stuffing
    // undone: the whole message (RETR), or the lines of `TOP n 100`.
    QList<QByteArray> lines;
    bool whole = false;
    // Decoded Text on when the viewer opens.
    bool decodedText = false;
};
