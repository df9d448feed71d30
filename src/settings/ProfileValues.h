// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "base/HexDigit.h"

#include <QByteArray>

// How numbers and flags are kept in the settings file as text.

// Reads an integer value: decimal with an optional sign, or hexadecimal
// behind "$" (after the sign) or behind a leading "0x"/"0X". Leading blanks are
// skipped; anything else (empty text, a stray character, trailing blanks)
// gives defaultValue. Range: a decimal number must fit a signed 32-bit
// integer, else defaultValue; hexadecimal takes up to 32 bits and reads them
// as a signed 32-bit pattern ("$FFFFFFFF" is -1), more gives defaultValue.
int readProfileInteger(const QByteArray &text, int defaultValue);

// A flag is an integer read with 1 or 0 as the default; true when not 0.
bool readProfileBool(const QByteArray &text, bool defaultValue);

// Written forms: decimal digits with a leading "-" when negative; "1" or "0".
QByteArray profileIntegerText(int value);
QByteArray profileBoolText(bool value);
