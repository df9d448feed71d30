#pragma once

#include "app/AnchorLayout.h"
#include "session/LineAssembler.h"

#include <QByteArray>
#include <QIcon>
#include <QList>
#include <QPersistentModelIndex>
#include <QString>
#include <QWidget>

#include <cstdint>
#include <deque>
#include <functional>

class QCheckBox;
class QComboBox;
class QFrame;
class QLabel;
class QLineEdit;
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

// Values of SessionState: which reply the conversation waits for (7 unused).
enum : std::uint8_t {
    ssIdle = 0,
    ssWaitUser = 1,
    ssWaitPass = 2,
    ssWaitHeader = 3,
    ssWaitList = 4,
    ssWaitDelete = 5,
    ssWaitRead = 6,
    ssReadBody = 8,
    ssListBody = 9,
    ssHeaderBody = 10,
    ssWaitGreeting = 11,
};

// The main window. It owns the controls and the conversation state, and its
// methods are the handlers of its controls. The handlers live in the folder of
// their subsystem: connection and replies in session/, the list in mailbox/,
// settings in settings/.
class TForm1 : public QWidget {
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

    // --- connection (session/) ---
    void btnConnClick(QObject *Sender = nullptr);
    void txtPortExit(QObject *Sender = nullptr);
    void cSockConnecting(QObject *Sender, TClientWinSocket *Socket);
    void cSockConnect(QObject *Sender, TClientWinSocket *Socket);
    void cSockDisconnect(QObject *Sender, TClientWinSocket *Socket);
    void cSockError(QObject *Sender, TClientWinSocket *Socket, TErrorEvent ErrorEvent, int &ErrorCode);
    void cSockRead(QObject *Sender, TClientWinSocket *Socket);
    // One read's bytes, as cSockRead hands them over: shown, split into
    // lines and dispatched.
    void handleReceivedBytes(QByteArray chunk);
    void AppendStatusText(const QString &text);
    // Appends one entry to the console log (line breaks inside start new lines).
    void AppendConsole(const QString &entry);

    // --- POP3 commands, replies and console (session/) ---
    // The dispatcher: one received line (without its break), its first byte
    // and the state it is judged in.
    void HandleReplyLine(char FirstChar, std::uint8_t State, const QByteArray &Line);
    void btnLoginClick(QObject *Sender = nullptr);
    void btnListClick(QObject *Sender = nullptr);
    void btnHeaderClick(QObject *Sender = nullptr);
    void btnReadClick(QObject *Sender = nullptr);
    void btnDeleteClick(QObject *Sender = nullptr);
    void btnQuitClick(QObject *Sender = nullptr);
    void txtCmdPromptKeyPress(QObject *Sender, QChar &Key);
    void btnClearClick(QObject *Sender = nullptr);
    void pageCMDEnter(QObject *Sender = nullptr);
    // Connects the command buttons, the prompt's keys and the console page;
    // called once by bindEvents.
    void bindSessionEvents();
    // Shows a message read (modal); TForm2::ShowMessage unless a test replaces it.
    using ViewerFunction = std::function<void(QWidget *owner, const QByteArray &to, const QByteArray &from,
                                              const QByteArray &subject, const QList<QByteArray> &lines)>;
    ViewerFunction showViewer = defaultViewer();
    static ViewerFunction defaultViewer();
    // Told of every command line the window sends (tests and fuzzing watch
    // the conversation through it); unset in the program.
    std::function<void(const QByteArray &line)> commandSent;
    // The message number of the TOP or DELE whose reply is awaited (empty
    // when none is) and the row it went out for, followed through sorting
    // and removals: the reply acts on that row, whatever the marks say by
    // the time it comes.
    QByteArray PendingMailId;
    QPersistentModelIndex PendingMailRow;
    void setPendingMail(int row);
    void clearPendingMail();
    // The row the awaited reply acts on (-1 when none), and into id its
    // message number (empty when no reply was awaited); both are cleared.
    int takePendingMail(QByteArray *id = nullptr);
    // The rows of the delete batch the user confirmed and not yet sent: the
    // rows marked at the Yes (the checked ones, or the selected ones when
    // none was checked), in list order then, followed through sorting and
    // removals. A row that was checked at the Yes and is unchecked before
    // its DELE goes out is withdrawn; no row marked later ever joins.
    struct DeleteBatchRow {
        QPersistentModelIndex row;
        QByteArray id;
        bool checked = false;
    };
    std::deque<DeleteBatchRow> DeleteBatch;
    // Sends DELE for the next row of the batch still there to delete;
    // false when none is left.
    bool sendNextDelete();
    // Ends the batch: its confirmation is spent.
    void abandonDeleteBatch();

    // --- mailbox list (mailbox/) ---
    int FindMailRow(const QByteArray &text, int subItem) const;
    int CountChecked() const;
    // The row a command acts on: the first checked row, else the selected
    // one; -1 when there is neither.
    int TargetMailRow() const;
    QByteArray TargetMailId() const;
    void mailInfoChange();
    void selMailClick(QObject *Sender = nullptr);
    void AllMailClick(QObject *Sender = nullptr);
    void mailInfoDblClick(QObject *Sender = nullptr);
    void mailInfoColumnClick(int column);
    // Compares rows Item1 and Item2 by SortColumn in the SortAscending
    // direction; negative when Item1 goes first.
    int mailInfoCompare(int Item1, int Item2) const;
    void mailInfoResize(QObject *Sender = nullptr);
    // A row whose message the server has deleted: removes it without running
    // the change handler and takes its mark out of CheckedCount (a row that
    // was not checked leaves CheckedCount as it is; it never goes below 0).
    void removeDeletedMailRow(int row);
    // Empties the list; with the rows go their marks.
    void removeAllMailRows();
    // Sets up mailInfo's columns and model and binds the list's and the two
    // boxes' events to the handlers above; called once by FormCreate.
    void setUpMailList();

    // --- settings file (settings/) ---
    void LoadSettings();
    void SaveSettings();  // throws AppFailure when the file cannot be written
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

    TClientSocket *cSock = nullptr;
    TInputChecker *CHK = nullptr;
    QList<QIcon> imgs;  // the two sort-indicator images
    MailListModel *mailModel = nullptr;

    // --- conversation state ---
    std::uint8_t SessionState = ssIdle;
    QList<QByteArray> ReplyLines;
    QList<QByteArray> MessageLines;
    std::int32_t CheckedCount = 0;
    std::int32_t SortColumn = 0;
    bool SortAscending = false;
    bool SkipRest = false;
    bool DeleteConfirmed = false;
    QByteArray MimeBoundary;
    QString AppDir;

    // What a server may send before the connection is given up as hostile:
    // a line, a status line (while no reply body is being collected) and
    // the lines collected for one reply. Tests lower them.
    qsizetype MaxLineLength = LineAssembler::DefaultMaxLineLength;
    qsizetype MaxStatusLineLength = qsizetype(64) * 1024;
    qint64 MaxReplyBytes = qint64(1024) * 1024 * 1024;
    // The status text is never made longer than this by an append.
    static constexpr qsizetype MaxStatusTextLength = 1024;

protected:
    void showEvent(QShowEvent *event) override;
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

    void dispatchReplyLines();
    void resetReplyAssembly();
    void handleEndMarker();
    void handleStatusLine(char FirstChar, std::uint8_t State, const QByteArray &Line);
    void filterReadLine(const QByteArray &Line);
    void deleteStep();
    void endDeleteBatch();
    void collectLine(const QByteArray &line);
    void clearMessageLines();
    // Closes the connection with one console line that says why.
    void giveUpConnection(const QString &reason);
    QString statusLineTooLong() const;
    void sendCommand(const QByteArray &text);

    AnchorLayout anchors;
    bool shown = false;
    // The last frame (outer minus client size) the window manager reported.
    QSize knownFrame{0, 0};
    // The stored outer size, while the frame it includes is still unknown
    // (X11 frames a window only after it is mapped); invalid otherwise.
    QSize unframedStoredSize;
    // Lines received and not yet dispatched, in order; a read handled inside
    // a nested event loop only queues its lines behind them.
    LineAssembler replyAssembler;
    std::deque<QByteArray> pendingReplyLines;
    bool dispatchingReplies = false;
    qint64 collectedBytes = 0;
};
