// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/CheckMatchingDialog.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLineEdit>
#include <QSpinBox>
#include <QVBoxLayout>

#include <algorithm>

CheckMatchingDialog::CheckMatchingDialog(QWidget *parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("CheckMatchingDialog"));
    setWindowTitle(QStringLiteral("Check Matching"));

    matchText = new QLineEdit(this);
    matchText->setObjectName(QStringLiteral("matchText"));
    matchField = new QComboBox(this);
    matchField->setObjectName(QStringLiteral("matchField"));
    // In the order of MailRowFilter::Field.
    matchField->addItems({QStringLiteral("Subject, From or To"), QStringLiteral("Subject"), QStringLiteral("From"),
                          QStringLiteral("To")});
    matchMinKB = new QSpinBox(this);
    matchMinKB->setObjectName(QStringLiteral("matchMinKB"));
    // 0 is no size condition; the largest is some 2 TB.
    matchMinKB->setRange(0, 2000000000);
    matchMinKB->setSpecialValueText(QStringLiteral("any size"));

    auto *form = new QFormLayout;
    form->addRow(QStringLiteral("Text"), matchText);
    form->addRow(QStringLiteral("Found in"), matchField);
    form->addRow(QStringLiteral("Larger than (KB)"), matchMinKB);

    buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    auto *layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(buttons);
}

MailRowFilter::Rule CheckMatchingDialog::rule() const
{
    MailRowFilter::Rule rule;
    rule.text = matchText->text();
    rule.field = static_cast<MailRowFilter::Field>(std::clamp(matchField->currentIndex(), 0, 3));
    rule.minimumKB = matchMinKB->value();
    return rule;
}
