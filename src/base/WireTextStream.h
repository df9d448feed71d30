// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QByteArrayView>

// Received text decoded as one stream rather than read by read: a character
// whose bytes the transport split over two reads is held back until its
// last byte has come, so it shows once, as it was sent, and not as two
// Latin-1 characters.
class WireTextStream {
public:
    // The bytes of one read, after those held back from the read before,
    // less the start of a character cut off at their end (at most three
    // bytes, held for the next read). Decode them with decodeWireText.
    QByteArray complete(QByteArrayView bytes);
    void reset() { held.clear(); }

private:
    QByteArray held;
};
