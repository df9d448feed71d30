// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "mailbox/MailRow.h"

#include <QByteArrayView>

#include <span>
#include <vector>

// The order of the mailbox list's rows by one column: numbers for ID and
// Bytes, the subject with a leading "RE:" moved to its end, and a byte
// comparison that ignores the case of a to z.
class MailRowOrder {
public:
    // Compares sub-item column - 1 of two rows for the list sorted by column
    // (1 to 5); negative when a goes first. Descending swaps the operands.
    // With decodedHeaders, Subject, From and To compare by their decoded
    // texts (UTF-8, so the byte order is the order of the characters).
    static int compare(int column, bool ascending, const MailRow &a, const MailRow &b, bool decodedHeaders = false);

    // The row indices in sorted order. Rows that compare equal keep their
    // relative order, in either direction.
    static std::vector<int> sortedOrder(std::span<const MailRow> rows, int column, bool ascending,
                                        bool decodedHeaders = false);

    // Byte comparison with a to z read as A to Z: at the first difference the
    // first byte minus the second; otherwise the shorter text goes first.
    static int compareText(QByteArrayView a, QByteArrayView b);

    // The subject's sort key, upper-cased: "Re: Lunch" becomes "LUNCHRE:".
    static QByteArray subjectKey(QByteArrayView subject);

    // Reads a signed 32-bit decimal integer (optional sign, digits only).
    // False for anything else: empty, other characters, out of range.
    static bool parseNumber(QByteArrayView text, qint32 *value);

    // ID and Bytes: texts that are not numbers go before all numbers and
    // compare among themselves as text; numbers compare by value.
    static int compareNumbers(QByteArrayView a, QByteArrayView b);
};
