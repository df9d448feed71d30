// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "mailbox/MailRowFilter.h"

#include <QDialog>

class QComboBox;
class QDialogButtonBox;
class QLineEdit;
class QSpinBox;

// The small dialog of Check Matching: a text, the field it is looked for in,
// and a size the mail must be larger than. It stays with the main window
// for the session, so it shows the values last used.
class CheckMatchingDialog : public QDialog {
    Q_OBJECT
public:
    explicit CheckMatchingDialog(QWidget *parent = nullptr);

    // The conditions as the controls hold them.
    MailRowFilter::Rule rule() const;

    QLineEdit *matchText = nullptr;
    QComboBox *matchField = nullptr;
    QSpinBox *matchMinKB = nullptr;
    QDialogButtonBox *buttons = nullptr;
};
