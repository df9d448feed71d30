// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QList>

// The message as a read shows it when it is not decoded: what `TOP n 100`
// brings (the header and the first 100 lines of the body) with the
// attachment filter applied. A message fetched whole (RETR) shows the same
// lines, so switching decoding off gives the view users know.

// Body lines a read asks the server for.
constexpr int ReadBodyLines = 100;

// The lines a POP3 server answers `TOP n bodyLines` with, taken from the
// message's lines: the header up to and including the first empty line, then
// at most bodyLines lines. A message without an empty line is all header and
// comes whole, as the server sends it.
QList<QByteArray> TopLines(const QList<QByteArray> &lines, int bodyLines);

// The attachment filter of a read: the first line that begins with "--" is
// taken for the MIME boundary; the next line equal to it is kept, and every
// line after that is dropped. A message without a line beginning with "--"
// stays whole. Filtering lines that were filtered already changes nothing.
QList<QByteArray> AttachmentFiltered(const QList<QByteArray> &lines);

// Whether the lines of a `TOP n ReadBodyLines` reply are the whole message:
// its body has fewer lines than were asked for, and the attachment filter
// did not end the lines (they do not stop at a repeated boundary).
bool TopReplyIsWhole(const QList<QByteArray> &lines);

// What the viewer shows with decoding off: for a message fetched whole, the
// lines of TopLines(lines, ReadBodyLines); for one fetched by TOP, its lines;
// the attachment filter applied in both cases.
QList<QByteArray> ReadViewLines(const QList<QByteArray> &lines, bool whole);
