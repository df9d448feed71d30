// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <QString>

// The readable form of a message's Subject, From and To, as its author wrote
// them: taken from the header section only (up to the first empty line),
// continuation lines unfolded, the first occurrence of each field (field
// names compared without regard to case), RFC 2047 encoded words decoded.
// Each text is empty when the header has no such field.
struct DecodedHeaders {
    QString subject;
    QString sender;
    QString recipient;
};

// From the lines of a TOP reply (without CR LF). Work is linear in the size
// of the header section; the lines of the body are never looked at.
DecodedHeaders DecodeHeaders(const QList<QByteArray> &lines);

// One unfolded field value with its encoded words decoded:
// - "=?charset?B?...?=" and "=?charset?Q?...?=" in any charset Qt can
//   decode (an RFC 2231 language suffix "*lang" is ignored);
// - whitespace between two adjacent encoded words is dropped, and adjacent
//   words of one charset are decoded together, so a character split over
//   two words comes out whole;
// - a word that is malformed (bad base64, a bad "=XX" in Q, no closing
//   "?="), names a charset Qt does not know, or whose bytes are not valid
//   in its charset stays as it is;
// - other bytes are read as UTF-8 where they are valid UTF-8, else Latin-1;
// - a tab shows as a blank, and leading and trailing blanks go.
QString DecodeHeaderValue(QByteArrayView value);
