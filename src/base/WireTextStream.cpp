// SPDX-License-Identifier: GPL-3.0-or-later
#include "base/WireTextStream.h"

namespace {

// The length of the UTF-8 sequence a lead byte starts (0 for a byte that
// starts none).
int sequenceLength(unsigned char lead)
{
    if (lead >= 0xC2 && lead <= 0xDF)
        return 2;
    if (lead >= 0xE0 && lead <= 0xEF)
        return 3;
    if (lead >= 0xF0 && lead <= 0xF4)
        return 4;
    return 0;
}

// How many bytes at the end of text start a UTF-8 character that is not
// complete yet: a lead byte followed by fewer continuation bytes than it
// needs, and nothing else.
qsizetype cutCharacter(const QByteArray &text)
{
    const qsizetype size = text.size();
    for (qsizetype back = 1; back <= 3 && back <= size; ++back) {
        const auto byte = static_cast<unsigned char>(text.at(size - back));
        if ((byte & 0xC0) == 0x80)
            continue;  // a continuation byte: look further back
        const int length = sequenceLength(byte);
        return length > back ? back : 0;
    }
    return 0;
}

}  // namespace

QByteArray WireTextStream::complete(QByteArrayView bytes)
{
    QByteArray text = held + bytes.toByteArray();
    held.clear();
    const qsizetype cut = cutCharacter(text);
    if (cut > 0) {
        held = text.right(cut);
        text.chop(cut);
    }
    return text;
}
