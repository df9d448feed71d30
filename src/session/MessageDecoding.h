// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

// A message made readable, as a mail program shows it:
//
// - the header reduced to Date, From, To, Cc and Subject (those it has, in
//   that order), each unfolded and decoded as DecodeHeaderValue does;
// - an empty line;
// - the body: quoted-printable and base64 undone, the part's charset turned
//   into text (no charset or US-ASCII: UTF-8 where the bytes are valid
//   UTF-8, else Latin-1; ISO-8859-1 read as windows-1252, as browsers do);
//   of a multipart/alternative the text/plain part, else the text/html one;
//   of any other multipart the first text part, each other part named on a
//   line of its own as "[attachment: name, type, size]"; nested multiparts
//   followed; HTML turned into plain lines (HtmlToText).
//
// Nothing is dropped silently: a part that cannot be decoded (broken base64,
// an unknown transfer encoding, parts that its boundary does not find) is
// shown as received, text in an unknown charset as received, each with a
// note in square brackets on the line before; a message that was `cut` (the
// server sent only its first lines) ends with a note that says so.
//
// `lines` are the message's lines as received: without line breaks, dot
// stuffing undone. The result is the text's lines, each followed by "\n".
// Time and memory are linear in the size of the lines, and bounded by the
// limits below whatever the structure.
QString DecodeMessage(const QList<QByteArray> &lines, bool cut);

namespace MessageDecoding {

// Multiparts inside multiparts followed; a deeper one is named as an attachment.
constexpr int MaxDepth = 16;
// Parts looked at in one message; a line says when there were more.
constexpr int MaxParts = 1000;
// Bytes of one text part decoded; a line says when the part is longer.
constexpr qsizetype MaxPartBytes = 16 * 1024 * 1024;
// Characters of the whole text; a line says when more would follow.
constexpr qsizetype MaxTextLength = 4 * 1024 * 1024;

}  // namespace MessageDecoding
