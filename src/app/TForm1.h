// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "controls/AnchorLayout.h"
#include "session/Pop3Session.h"
#include "viewer/ViewerMessage.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QIcon>
#include <QList>
#include <QPersistentModelIndex>
#include <QSet>
#include <QString>
#include <QTimer>
#include <QWidget>

#include <cstdint>
#include <functional>

class QAction;
class QCheckBox;
class QCloseEvent;
class QComboBox;
class QFrame;
class QLabel;
class QLineEdit;
class CheckMatchingDialog;
class ConsoleView;
class QPushButton;
class QSslCertificate;
class QTabWidget;
class MailListModel;
class MailListView;
class StatusTextBar;
class TClientSocket;
class TClientWinSocket;
class THyperlinkLabel;
class TInputChecker;
enum class TErrorEvent;

// The main window. It owns the controls and the conversation engine
// (Pop3Session), and its methods are the handlers of its controls: the
// engine decides what is said to the server and what a reply means, the
// window what the user sees of it. Its implementation files are all in this
// folder, one per concern: the window, the session's side, the list, the
// settings.
class TForm1 : public QWidget, private SessionWindow {
    Q_OBJECT
public:
    // The layout's client area at the minimum window size.
    static constexpr int DesignWidth = 552;
    static constexpr int DesignHeight = 363;

    explicit TForm1(QWidget *parent = nullptr);
    ~TForm1() override;

    // --- window (app/) ---
    void FormCreate();
    void FormShow();
    void FormDestroy();
    void CenterOnScreen();
    void EnableMailboxControls(bool enable);
    void EnableMessageControls(bool enable);
    // CenterOnScreen's arithmetic: the top-left corner for a window of the
    // given outer size on a screen of the given size.
    static QPoint CenteredPosition(QSize screen, QSize window);

    // --- connection, commands and console (TForm1Session.cpp) ---
    void btnConnClick(QObject *Sender = nullptr);
    void txtPortExit(QObject *Sender = nullptr);
    void cSockConnecting(QObject *Sender, TClientWinSocket *Socket);
    void cSockConnect(QObject *Sender, TClientWinSocket *Socket);
    void cSockDisconnect(QObject *Sender, TClientWinSocket *Socket);
    void cSockError(QObject *Sender, TClientWinSocket *Socket, TErrorEvent ErrorEvent, int &ErrorCode);
    // What arrives is the engine's: these hand it over.
    void cSockRead(QObject *Sender, TClientWinSocket *Socket);
    void HandleReplyLine(char FirstChar, std::uint8_t State, const QByteArray &Line);
    void AppendStatusText(const QString &text);
    // Appends one entry to the console log (line breaks inside start new lines).
    void AppendConsole(const QString &entry);
    void btnLoginClick(QObject *Sender = nullptr);
    void btnListClick(QObject *Sender = nullptr);
    void btnHeaderClick(QObject *Sender = nullptr);
    void btnReadClick(QObject *Sender = nullptr);
    void btnDeleteClick(QObject *Sender = nullptr);
    void btnQuitClick(QObject *Sender = nullptr);
    void txtCmdPromptKeyPress(QObject *Sender, QChar &Key);
    void btnClearClick(QObject *Sender = nullptr);
    void pageCMDEnter(QObject *Sender = nullptr);
    // Connects the command buttons, the prompt's keys, the console page and
    // the engine's reports; called once by bindEvents.
    void bindSessionEvents();
    // Shows a message read (modal); TForm2::ShowMessage unless a test replaces
    // it. The three header texts are bytes to show: the server's, or with
    // DecodeHeaders1 on their decoded text as UTF-8. The viewer reports each
    // switch of its Decoded Text through decodedTextChanged.
    using ViewerFunction = std::function<void(QWidget *owner, const ViewerMessage &message,
                                              const std::function<void(bool on)> &decodedTextChanged)>;
    ViewerFunction showViewer = defaultViewer();
    static ViewerFunction defaultViewer();

    // --- mailbox list (TForm1Mailbox.cpp) ---
    int FindMailRow(const QByteArray &text, int subItem) const;
    int CountChecked() const;
    // The row a command acts on: the first checked row, else the selected
    // one; -1 when there is neither.
    int TargetMailRow() const;
    QByteArray TargetMailId() const;
    // A row as the engine follows it; and the row it stands for now: the
    // same row through sorts and removals, or after a new listing the row
    // with its message number (-1 when there is none).
    MailRowRef mailRowRef(int row) const;
    int mailRowOf(const MailRowRef &ref) const;
    void mailInfoChange();
    void selMailClick(QObject *Sender = nullptr);
    void AllMailClick(QObject *Sender = nullptr);
    void mailInfoDblClick(QObject *Sender = nullptr);
    void mailInfoColumnClick(int column);
    // Compares rows Item1 and Item2 by SortColumn in the SortAscending
    // direction; negative when Item1 goes first.
    int mailInfoCompare(int Item1, int Item2) const;
    void mailInfoResize(QObject *Sender = nullptr);
    // The list's context menu opens over the row at (an invalid index: over
    // no row, or from the keyboard): the row the sender check acts on.
    void mailInfoContextPopup(const QModelIndex &at);
    // The row the context menu's actions act on; -1 for none.
    int contextMenuRow() const;
    // Check All From This Sender: checks every row with a header whose
    // sender address is that of the menu's row (else the current row).
    void CheckSameSender1Click(QObject *Sender = nullptr);
    // Check Matching: opens its dialog (window-modal, without waiting); OK
    // checks the rows that meet its conditions.
    void CheckMatching1Click(QObject *Sender = nullptr);
    void checkMatchingAccepted();
    // Sorts again by SortColumn and SortAscending, so the header's arrow
    // tells the order of the rows shown (after a listing, a switch of
    // Decode Headers, the automatic headers).
    void reapplySort();
    // A row whose message the server has deleted: takes its mark out of
    // CheckedCount at once (a row that was not checked leaves CheckedCount
    // as it is; it never goes below 0), without running the change handler;
    // the row leaves the list at applyReplies, with the others deleted in
    // the same read. removeDeletedMailRow does both at once.
    void markMailRowDeleted(int row);
    void removeDeletedMailRow(int row);
    // Shows what the replies of one read did to the rows: the rows deleted
    // leave the list together.
    void applyReplies();
    // Empties the list; with the rows go their marks.
    void removeAllMailRows();
    // Sets up mailInfo's columns and model and binds the list's and the two
    // boxes' events to the handlers above; called once by FormCreate.
    void setUpMailList();

    // --- settings file (TForm1Settings.cpp) ---
    void LoadSettings();
    // Why the file could not be written; empty when it was.
    QString SaveSettings();
    QString SettingsPath() const;
    // Where the settings file and the trust file are: the program's folder, or
    // for an installed copy the user's config folder (settings/SettingsPlace.h).
    QString SettingsFolder() const;
    // The certificates of the trust file, read afresh; a file that others
    // could have changed is ignored, and the console says so.
    QList<QSslCertificate> TrustFileCertificates();
    // The window's outer size, frame included where the window manager has
    // reported one, also once the window has lost its frame on closing.
    QSize OuterSize() const;
    // The servers the list holds when the settings file names none.
    static const QStringList &BuiltInServers();
    // Servers (name:port, as typed) that offered STLS once: a connection to
    // one that does not offer it now logs in nowhere ([TLS] in the settings).
    QSet<QByteArray> tlsServers;
    // Every login must be encrypted ([Default] RequireTls).
    bool requireTls = false;

    // --- controls, named as in the layout ---
    QFrame *Panel1 = nullptr;
    QLabel *Label1 = nullptr;
    QLabel *Label2 = nullptr;
    QLabel *Label3 = nullptr;
    QLabel *Label4 = nullptr;
    QComboBox *txtServer = nullptr;
    QLineEdit *txtPort = nullptr;
    QLineEdit *txtUID = nullptr;
    QLineEdit *txtPWD = nullptr;
    QPushButton *btnLogin = nullptr;
    QPushButton *btnConn = nullptr;

    QTabWidget *pgControl = nullptr;
    QWidget *pageGUI = nullptr;
    QLabel *Label9 = nullptr;
    MailListView *mailInfo = nullptr;
    // In mailInfo's context menu: Subject, From and To of the rows and the
    // viewer decoded (on) or as the server sent them (off).
    QAction *DecodeHeaders1 = nullptr;
    // The viewer's Decoded Text, as it was last switched (settings: DecodeText).
    bool DecodeText = false;
    // In mailInfo's context menu: a header batch after every listing.
    QAction *AutoHeaders1 = nullptr;
    // In mailInfo's context menu: the two actions that only check rows.
    QAction *CheckSameSender1 = nullptr;
    QAction *CheckMatching1 = nullptr;
    CheckMatchingDialog *checkMatchingDialog = nullptr;
    QCheckBox *selMail = nullptr;
    QCheckBox *AllMail = nullptr;
    QPushButton *btnList = nullptr;
    QPushButton *btnHeader = nullptr;
    QPushButton *btnDelete = nullptr;
    QPushButton *btnRead = nullptr;
    QPushButton *btnQuit = nullptr;

    QWidget *pageCMD = nullptr;
    QLabel *Label11 = nullptr;
    ConsoleView *Memo1 = nullptr;
    QLabel *Label5 = nullptr;
    QLineEdit *txtCmdPrompt = nullptr;
    QPushButton *btnClear = nullptr;

    QFrame *Panel2 = nullptr;
    QLabel *Label6 = nullptr;
    THyperlinkLabel *HyperlinkLabel1 = nullptr;
    QLabel *Label7 = nullptr;
    THyperlinkLabel *HyperlinkLabel2 = nullptr;
    QLabel *Label8 = nullptr;

    StatusTextBar *msgBar = nullptr;

    // The conversation, and its socket.
    Pop3Session *session = nullptr;
    TClientSocket *cSock = nullptr;
    TInputChecker *CHK = nullptr;
    QList<QIcon> imgs;  // the two sort-indicator images
    MailListModel *mailModel = nullptr;

    // --- state of the list ---
    std::int32_t CheckedCount = 0;
    std::int32_t SortColumn = 0;
    bool SortAscending = false;
    QString AppDir;
    // The server and port of the connection made last, as tlsServers keeps them.
    QByteArray connectionKey;

    // Read Mail with Decoded Text on fetches a message whole up to this
    // listed size.
    static constexpr qlonglong MaxWholeReadBytes = qlonglong(5) * 1024 * 1024;
    // The status text is never made longer than this by an append.
    static constexpr qsizetype MaxStatusTextLength = 1024;
    // How long a close that sent QUIT waits for the server's answer.
    int quitBeforeCloseMs = 30000;
    // Whether a close of the window went through (the program ends with it).
    bool closeAccepted() const { return closed; }
    // The delete question names at most this many messages.
    static constexpr int DeleteQuestionRows = 5;

protected:
    void showEvent(QShowEvent *event) override;
    // With deletions pending on the server, asks whether to make them (QUIT,
    // then close), keep them (close without QUIT) or go back.
    void closeEvent(QCloseEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void moveEvent(QMoveEvent *event) override;
    bool nativeEvent(const QByteArray &eventType, void *message, qintptr *result) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void buildLayout();
    void buildConnectionPanel();
    void buildGuiPage();
    void buildCommandPage();
    void buildFooter();
    void bindEvents();
    // Notes the window manager's frame; the first time it is known after a
    // load that could not take it off, takes it off the loaded size.
    void noteWindowFrame();

    // Asks the user whether the marked messages are to be deleted.
    bool confirmDelete();
    // The informative line of the delete question: how many messages, and
    // the first ones by ID and Subject.
    QString deleteQuestionDetails(const QList<int> &rows) const;
    // The automatic header batch over the rows that have no header yet.
    void startAutoHeaders();
    // The close that waited for the answer to its QUIT goes on.
    void closeAfterQuit();
    void acceptClose(QCloseEvent *event);
    // The rows marked right now: the checked ones, or the selected ones when
    // none is checked (byCheck, when given, tells which), in list order.
    QList<MailRowRef> markedRows(bool *byCheck) const;
    // SessionWindow: the account a login on the greeting uses.
    QString userName() override;
    QString password() override;
    // Gives back the page a read took, with the message buttons as the marks say.
    void giveBackReadPage();
    // A batch's replies change the list faster than anyone can read it: the
    // list is repainted at most once per ListRepaintInterval while they
    // come, the last change always shown. Painting the visible rows is most
    // of the window's work per reply.
    void throttleListRepaint();
    static constexpr int ListRepaintInterval = 40;
    QElapsedTimer listRepainted;

    // The row the list's context menu opened over.
    QPersistentModelIndex contextRow;
    bool contextOverRow = false;
    // The user chose to close with QUIT: the window closes once the server
    // answered it, the connection ended or the wait ran out.
    bool quitThenClose = false;
    bool closeApproved = false;
    bool closed = false;
    QTimer quitWait;

    AnchorLayout anchors;
    bool shown = false;
    // The last frame (outer minus client size) the window manager reported.
    QSize knownFrame{0, 0};
    // The stored outer size, while the frame it includes is still unknown
    // (X11 frames a window only after it is mapped); invalid otherwise.
    QSize unframedStoredSize;
};
