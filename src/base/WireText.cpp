// SPDX-License-Identifier: GPL-3.0-or-later
#include "base/WireText.h"

#include <QStringDecoder>

QString decodeWireText(QByteArrayView bytes)
{
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = utf8.decode(bytes);
    if (!utf8.hasError())
        return text;
    return QString::fromLatin1(bytes);
}

QByteArray encodeWireText(const QString &text)
{
    return text.toUtf8();
}

QByteArray displayLineBytes(const QByteArray &bytes)
{
    if (!bytes.contains('\0') && !bytes.contains('\r'))
        return bytes;
    QByteArray shown = bytes;
    shown.removeIf([](char c) { return c == '\0'; });
    shown.replace('\r', ' ');
    return shown;
}

QString decodeWireLine(const QByteArray &bytes)
{
    return decodeWireText(displayLineBytes(bytes));
}
