// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "controls/AnchorLayout.h"

#include <QByteArray>
#include <QDialog>
#include <QList>
#include <QString>

class QAction;
class QFrame;
class QLabel;
class QLineEdit;
class QMenu;
class QMenuBar;
class QPlainTextEdit;

// The message viewer: recipient, sender and subject in three fields, the
// message's lines in a memo, and "Save As ..." to write the memo's text to a
// file. One viewer is made for each message read and freed when it closes.
class TForm2 : public QDialog {
    Q_OBJECT
public:
    // The design's client area below the menu bar.
    static constexpr int DesignWidth = 488;
    static constexpr int DesignHeight = 375;

    explicit TForm2(QWidget *owner = nullptr);

    // Creates a viewer owned by `owner`, fills it, shows it modally and frees
    // it once the user has closed it.
    static void ShowMessage(QWidget *owner, const QByteArray &to, const QByteArray &from,
                            const QByteArray &subject, const QList<QByteArray> &lines);

    // Puts the three header texts into their fields and the lines into the
    // memo, each followed by a line break. The bytes are kept, so that saving
    // the text unchanged writes exactly these lines.
    void Fill(const QByteArray &to, const QByteArray &from, const QByteArray &subject,
              const QList<QByteArray> &lines);

    // "Save As ...": asks for a file name and writes the memo's text, every
    // line ended by CR LF. Returns why the file could not be created or
    // written ("Cannot create file %s", "Stream write error"); empty when it
    // was saved or the user cancelled.
    QString Save1Click(QObject *Sender = nullptr);

    // The bytes that Save1Click writes for the memo as it stands.
    QByteArray SavedText() const;

    QMenuBar *MainMenu1 = nullptr;
    QMenu *Option1 = nullptr;
    QAction *Save1 = nullptr;
    QAction *Close1 = nullptr;
    QFrame *Panel1 = nullptr;
    QLabel *Label1 = nullptr;
    QLabel *Label2 = nullptr;
    QLabel *Label3 = nullptr;
    QLineEdit *toSTR = nullptr;
    QLineEdit *fromSTR = nullptr;
    QLineEdit *subSTR = nullptr;
    QPlainTextEdit *bodySTR = nullptr;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;

private:
    QByteArray encodeEditedLine(const QString &line, qsizetype index) const;

    AnchorLayout anchors;
    // The message as received, and each line as the memo shows it.
    QList<QByteArray> lineBytes;
    QStringList shownLines;
    bool hasLatin1Lines = false;
};
