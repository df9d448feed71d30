// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>

// The stored form of the password in the settings file: the password mixed
// with a pseudo-random sequence that starts from a key derived from the user
// id. It only keeps the password from standing there in plain text; it is not
// encryption. Everything works on 8-bit codes, so the stored form is bytes.

// The key of a user id: the sum of the codes of its first two bytes (0 to 510),
// or UserKeyForShortId when it has fewer than two.
int UserKey(const QByteArray &userId);
inline constexpr int UserKeyForShortId = 7;

// A password of n bytes gives 3 + 2n bytes: three prefix bytes, then a filler
// byte and a data byte per password byte. Prefix and fillers have codes 32 to
// 63; a data byte is the password byte plus an offset of 0 to 31, modulo 256,
// so passwords with codes of 225 and above can yield NUL, CR or LF.
QByteArray ScramblePassword(const QByteArray &password, int key);

// The inverse of ScramblePassword with the same key. Any input is accepted:
// the first three bytes are skipped, then the second byte of each pair is
// taken; an unpaired last byte is ignored, and three bytes or fewer give an
// empty password. Input not made with this key yields other bytes, never an
// error.
QByteArray UnscramblePassword(const QByteArray &stored, int key);
