// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "controls/AnchorLayout.h"
#include "viewer/ViewerMessage.h"

#include <QByteArray>
#include <QDialog>
#include <QList>
#include <QString>

#include <functional>

class QAction;
class QFrame;
class QLabel;
class QLineEdit;
class QMenu;
class QMenuBar;
class QPlainTextEdit;

// The message viewer: recipient, sender and subject in three fields, the
// message in a memo, as received or (Decoded Text) as its author wrote it,
// and "Save As ..." to write the memo's text to a file. One viewer is made
// for each message read and freed when it closes.
class TForm2 : public QDialog {
    Q_OBJECT
public:
    // The design's client area below the menu bar.
    static constexpr int DesignWidth = 488;
    static constexpr int DesignHeight = 375;

    explicit TForm2(QWidget *owner = nullptr);

    // Creates a viewer owned by `owner`, fills it, shows it modally and frees
    // it once the user has closed it. `decodedTextChanged` hears every switch
    // of Decoded Text while it is open.
    static void ShowMessage(QWidget *owner, const ViewerMessage &message,
                            const std::function<void(bool on)> &decodedTextChanged = {});

    // Takes the message and shows it as message.decodedText says. Decoded
    // Text off: the three texts as given, and the lines a read by TOP shows
    // (for a message fetched whole the same lines: its header and first 100
    // body lines, attachment filter applied), each followed by a line break;
    // their bytes are kept, so saving the text unchanged writes exactly these
    // lines. On: the fields and the memo decoded (DecodeHeaders,
    // DecodeMessage), the memo saying when the message was cut.
    void Fill(const ViewerMessage &message);

    // "Save As ...": asks for a file name (and, for a file that exists,
    // whether to replace it) and writes the memo's text, every line ended by
    // CR LF: decoded text as UTF-8, the received lines byte for byte. Returns
    // why the file could not be created or written ("Cannot create file %s",
    // "Stream write error"); empty when it was saved or the user cancelled.
    QString Save1Click(QObject *Sender = nullptr);

    // The bytes that Save1Click writes for the memo as it stands.
    QByteArray SavedText() const;

    QMenuBar *MainMenu1 = nullptr;
    QMenu *Option1 = nullptr;
    QAction *Save1 = nullptr;
    // Checkable: the message decoded (on) or as received (off).
    QAction *DecodedText1 = nullptr;
    QAction *Close1 = nullptr;
    QFrame *Panel1 = nullptr;
    QLabel *Label1 = nullptr;
    QLabel *Label2 = nullptr;
    QLabel *Label3 = nullptr;
    QLineEdit *toSTR = nullptr;
    QLineEdit *fromSTR = nullptr;
    QLineEdit *subSTR = nullptr;
    QPlainTextEdit *bodySTR = nullptr;

signals:
    // The user switched Decoded Text.
    void decodedTextChanged(bool on);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    // Fills the fields and the memo as Decoded Text says.
    void showMessage();
    void showReceived();
    void showDecoded();
    QByteArray encodeEditedLine(const QString &line, qsizetype index) const;
    // Asks whether to replace an existing file.
    bool confirmReplace(const QString &name);

    AnchorLayout anchors;
    ViewerMessage message;
    // The lines the memo shows with Decoded Text off, and each as shown.
    QList<QByteArray> lineBytes;
    QStringList shownLines;
    bool hasLatin1Lines = false;
};
