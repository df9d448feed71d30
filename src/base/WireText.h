// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

// Text on the wire and in stored messages is bytes. These turn it into text
// to show and back: UTF-8 where the bytes are valid UTF-8, Latin-1 otherwise,
// so no byte is ever shown as a replacement character.
QString decodeWireText(QByteArrayView bytes);
// What the user typed, as the bytes to send (UTF-8).
QByteArray encodeWireText(const QString &text);

// The bytes of a received line as they are shown in one line of text: NUL
// bytes left out, a CR (data inside a line, never a break) shown as a blank.
// The bytes themselves are kept unchanged wherever they are stored.
QByteArray displayLineBytes(const QByteArray &bytes);
// decodeWireText of displayLineBytes.
QString decodeWireLine(const QByteArray &bytes);
