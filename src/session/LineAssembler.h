// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QList>

// Cuts the bytes of a connection into lines. On the wire only CR LF ends a
// line (a lone LF is taken as one too, since some servers send it); a lone
// CR and NUL are bytes of the line like any other, so the text of a stored
// message can never split itself into lines of the protocol. The transport
// may split a line over several reads, so the bytes after the last break are
// kept until the rest of the line arrives.
//
// An unfinished line is never kept beyond maxLineLength bytes: the bytes
// past it would only mean a server that never ends its line, so feeding
// stops there and overflowed() tells the caller to give up the connection.
class LineAssembler {
public:
    static constexpr qsizetype DefaultMaxLineLength = qsizetype(64) * 1024 * 1024;

    // Appends the complete lines found in bytes (without their break) to
    // lines. After an overflow nothing more is taken until clear().
    void feed(const QByteArray &bytes, QList<QByteArray> &lines);
    // Forgets an unfinished line (the connection it came from is gone).
    void clear();
    bool hasPartialLine() const { return !partial.isEmpty(); }
    qsizetype partialLength() const { return partial.size(); }

    qsizetype maxLineLength() const { return limit; }
    void setMaxLineLength(qsizetype value) { limit = value; }
    bool overflowed() const { return overflow; }

private:
    QByteArray partial;
    qsizetype limit = DefaultMaxLineLength;
    bool overflow = false;
};
