#include "session/LineAssembler.h"

void LineAssembler::feed(const QByteArray &bytes, QList<QByteArray> &lines)
{
    const char *data = bytes.constData();
    const qsizetype size = bytes.size();
    qsizetype start = 0;
    for (qsizetype i = 0; i < size; ++i) {
        const char c = data[i];
        if (c != '\r' && c != '\n')
            continue;
        if (c == '\n' && afterCR && i == start) {
            // The LF of a CR LF whose CR ended the line already.
            afterCR = false;
            start = i + 1;
            continue;
        }
        partial.append(data + start, i - start);
        lines.append(takeLine());
        afterCR = c == '\r';
        start = i + 1;
    }
    if (start < size) {
        partial.append(data + start, size - start);
        afterCR = false;
    }
}

void LineAssembler::clear()
{
    partial.clear();
    afterCR = false;
}

QByteArray LineAssembler::takeLine()
{
    QByteArray line;
    line.swap(partial);
    if (line.contains('\0'))
        line.removeIf([](char c) { return c == '\0'; });
    return line;
}
