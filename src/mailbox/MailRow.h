#pragma once

#include <QByteArray>
#include <QtGlobal>

#include <array>

// One message of the mailbox list. The texts are the server's bytes, shown
// decoded but kept as they came so nothing is lost on the way.
struct MailRow {
    // Sub-item indices; column k of the list shows sub-item k - 1.
    enum SubItem { Id = 0, Subject = 1, From = 2, To = 3, Bytes = 4, SubItemCount = 5 };

    std::array<QByteArray, SubItemCount> texts;
    bool checked = false;
};

// Rows are moved in memory as a whole (QByteArray is relocatable), so a list
// of rows drops its first row without moving the others.
Q_DECLARE_TYPEINFO(MailRow, Q_RELOCATABLE_TYPE);
