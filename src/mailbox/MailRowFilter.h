// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "mailbox/MailRow.h"

#include <QList>
#include <QString>

#include <span>

// Which rows the two check actions mark: all mail of one sender, or the
// rows that meet the conditions of Check Matching. Texts are compared as the
// list shows them (decoded or as the server sent them), without regard to
// case.
class MailRowFilter {
public:
    // Where Check Matching looks for its text: the items of its field list.
    enum Field { AnyField = 0, SubjectField, FromField, ToField };

    struct Rule {
        // Found anywhere in the field's text; empty: no text condition.
        QString text;
        Field field = AnyField;
        // The row's size (Bytes) must be above this many KB (1,024 bytes);
        // 0: no size condition.
        qint64 minimumKB = 0;

        bool hasCondition() const { return !text.isEmpty() || minimumKB > 0; }
    };

    // The text a row shows for a sub-item, as the list draws it.
    static QString shownText(const MailRow &row, int subItem, bool decodedHeaders);
    // The sender address of a From text: what is inside its (last) <...>,
    // else the whole text; blanks around it left out.
    static QString senderAddress(const QString &from);

    // The rows, in order, that have a header whose sender address equals
    // address; none for an empty address.
    static QList<int> fromSender(std::span<const MailRow> rows, const QString &address, bool decodedHeaders);
    // The rows, in order, that meet every condition of the rule; none for a
    // rule without a condition. A size condition alone also takes rows
    // without a header.
    static QList<int> matching(std::span<const MailRow> rows, const Rule &rule, bool decodedHeaders);
};
