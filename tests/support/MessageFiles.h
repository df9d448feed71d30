// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QList>
#include <QString>

// Stored messages under tests/data/, as a read hands them to the viewer.

// The bytes of a file under tests/data/ ("<missing>" when it cannot be read).
inline QByteArray testDataFile(const QString &relative)
{
    QFile file(QStringLiteral(TARNBECK_TEST_DATA_DIR "/") + relative);
    if (!file.open(QIODevice::ReadOnly))
        return QByteArrayLiteral("<missing>");
    return file.readAll();
}

// A message's lines as a POP3 read collects them: split at LF, the CR
// before it dropped, no line for the break that ends the last one.
inline QList<QByteArray> messageLines(QByteArray raw)
{
    if (raw.endsWith('\n'))
        raw.chop(1);
    QList<QByteArray> lines = raw.split('\n');
    for (QByteArray &line : lines) {
        if (line.endsWith('\r'))
            line.chop(1);
    }
    return lines;
}
