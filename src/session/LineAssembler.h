#pragma once

#include <QByteArray>
#include <QList>

// Cuts the bytes of a connection into lines. The transport may split a line
// over several reads, so the bytes after the last line break are kept until
// the rest of the line arrives. A line ends at CR, at LF, or at CR LF (one
// break, even when the CR and the LF come in different reads). NUL bytes are
// dropped: they must not cut a line short or hide what follows them.
class LineAssembler {
public:
    // Appends the complete lines found in bytes (without their break) to lines.
    void feed(const QByteArray &bytes, QList<QByteArray> &lines);
    // Forgets an unfinished line (the connection it came from is gone).
    void clear();
    bool hasPartialLine() const { return !partial.isEmpty(); }

private:
    QByteArray takeLine();

    QByteArray partial;
    bool afterCR = false;
};
