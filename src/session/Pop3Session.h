#pragma once

#include "session/LineAssembler.h"
#include "session/Pop3Parsing.h"

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QPersistentModelIndex>
#include <QString>

#include <cstdint>
#include <deque>
#include <functional>

class QSslCertificate;
class TClientSocket;
class TClientWinSocket;
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
    // The server's capabilities, asked before a batch (CAPA).
    ssWaitCapa = 12,
    ssCapaBody = 13,
};

// A row of the mailbox list a command acts on: its place in the list's
// model, followed through sorting and removals, and its message number.
struct MailRowRef {
    QPersistentModelIndex row;
    QByteArray id;
};

// What the conversation asks of the window it works for. The window answers
// from its list and its fields; the engine never sees a widget.
class SessionWindow {
public:
    virtual ~SessionWindow() = default;
    // Asks the user whether the marked messages are to be deleted.
    virtual bool confirmDelete() = 0;
    // The rows marked right now: the checked ones, or the selected ones when
    // none is checked (byCheck tells which), in list order.
    virtual QList<MailRowRef> markedRows(bool *byCheck) = 0;
    // The next row of a Get Header batch: the first checked row; a row with
    // an invalid index when none is checked.
    virtual MailRowRef nextCheckedRow() = 0;
    virtual bool isChecked(const QPersistentModelIndex &row) = 0;
    // How many rows the list holds.
    virtual int mailRowCount() = 0;
    // The account the login on a greeting uses.
    virtual QString userName() = 0;
    virtual QString password() = 0;
};

// The POP3 conversation: the connection, the framing of what arrives into
// lines, SessionState and its transitions, the lines of the reply being
// collected, the attachment filter of a read, the commands in flight in the
// order their replies are due, and the delete batch the user confirmed.
//
// Replies are matched to commands in order: each reply acts on the row its
// own command went out for, however the list was sorted or shrunk since, and
// however many commands were started before it came. SessionState is the
// state the next line is judged in: that of the oldest command in flight,
// or, with none in flight, what the last reply left.
//
// Batches of two or more rows (Get Header over the checked rows, a confirmed
// delete) are pipelined where the server says it can take that (CAPA lists
// PIPELINING; asked once per connection, before the first such batch): up to
// PipelineWindow commands go out ahead of their replies, and each reply is
// handled exactly as in a batch run one command at a time.
//
// It tells the window what happened through its signals (connect them
// directly: the window's reactions are part of each step) and asks it through
// SessionWindow.
class Pop3Session : public QObject {
    Q_OBJECT
public:
    Pop3Session(SessionWindow *window, QObject *parent = nullptr);
    // Detaches the socket's events first: nothing is raised, nothing sent.
    ~Pop3Session() override;

    TClientSocket *socket() const { return sock; }
    std::uint8_t state() const { return SessionState; }
    bool deleteConfirmed() const { return DeleteConfirmed; }
    bool skippingRest() const { return SkipRest; }
    // The lines of the last read from the connection, and of the reply body
    // collected last.
    const QList<QByteArray> &replyLines() const { return ReplyLines; }
    const QList<QByteArray> &messageLines() const { return MessageLines; }
    // The row and message number of the oldest command in flight that acts
    // on a row (an empty id when none does).
    MailRowRef commandRow() const;
    // How many commands are in flight.
    int commandsInFlight() const { return int(inFlight.size()); }

    // --- the connection ---
    // The next line on this connection is awaited as a greeting; whatever was
    // in flight belongs to an earlier conversation.
    void expectGreeting();
    // Starts a connection to server (a dotted-decimal IPv4 address, or a host
    // name) on port. On a TLS port, trusted (when given) is asked for the
    // certificates to trust beside the system's. Returns the reason when the
    // platform would not even start it (the events raised before have
    // reported it); empty when the attempt is under way.
    QString open(const QString &server, int port,
                 const std::function<QList<QSslCertificate>()> &trusted = nullptr);
    // Closes the connection, or abandons an attempt (the disconnect is
    // reported before this returns).
    void close();
    bool isOpen() const;

    // --- the commands ---
    void login(const QString &user, const QString &password);
    void listMailbox();
    // Get Header: row is the target (the first checked row, or the
    // selected one); with two or more rows checked, the batch goes over them.
    void fetchHeaders(const MailRowRef &row);
    void readMessage(const MailRowRef &row);
    // Asks the window to confirm, and on a yes deletes the rows marked then,
    // one DELE after the reply to the one before. Nothing while a confirmed
    // batch runs.
    void deleteMarked();
    // The marks of rows first to last changed: a row checked at the Yes
    // whose mark is off now leaves the batch for good, before its DELE goes
    // out (a mark put back later is a later mark).
    void marksChanged(int first, int last);
    void quit();
    // A line typed by the user, sent exactly as typed; false when not
    // connected (nothing sent).
    bool sendTyped(const QString &typed);

    // --- what arrives ---
    // Takes everything that has arrived on the connection.
    void cSockRead(QObject *Sender, TClientWinSocket *Socket);
    // One read's bytes: shown, split into lines and dispatched.
    void handleReceivedBytes(QByteArray chunk);
    // The dispatcher: one received line (without its break), its first byte
    // and the state it is judged in.
    void HandleReplyLine(char FirstChar, std::uint8_t State, const QByteArray &Line);

    // Told of every command line sent and the row it acts on (none for a
    // command that acts on no row); tests and fuzzing watch the conversation
    // through it. Unset in the program.
    std::function<void(const QByteArray &line, const MailRowRef &target)> commandSent;

    // Whether batches may be pipelined at all (on at start); off, every
    // batch runs one command at a time and no CAPA is sent.
    void setPipelining(bool on) { pipeliningAllowed = on; }
    bool pipelining() const { return pipeliningAllowed; }
    // How many commands of a pipelined batch may await their replies. A
    // command is at most a few dozen bytes, so a whole window (some 16 KB)
    // fits in the TCP buffers: sending it can never wait on a server that
    // waits for its replies to be read, and the replies are read as they
    // come, so the server never waits on us either.
    int PipelineWindow = 1024;

    // What a server may send before the connection is given up as hostile:
    // a line, a status line (while no reply body is being collected) and
    // the lines collected for one reply. Tests lower them.
    qsizetype MaxLineLength = LineAssembler::DefaultMaxLineLength;
    qsizetype MaxStatusLineLength = qsizetype(64) * 1024;
    qint64 MaxReplyBytes = qint64(1024) * 1024 * 1024;

signals:
    // The socket's events, after the conversation has taken note of them.
    void connecting(TClientWinSocket *socket);
    void connected(TClientWinSocket *socket);
    void disconnected(TClientWinSocket *socket);
    // A refused or failed connection; errorCode left non-zero is reported
    // through failure().
    void socketError(TClientWinSocket *socket, TErrorEvent event, int *errorCode);
    // A failure the user must be told of in an error box.
    void failure(const QString &text);

    void statusText(const QString &text);
    void statusAppended(const QString &text);
    void consoleEntry(const QString &entry);

    // A reply to USER, and the reply to PASS: accepted (the account is
    // open), then settled (the mailbox controls may follow the login's
    // outcome).
    void userReplied();
    void loginAccepted();
    void loginSettled();
    // The server's greeting: a new session begins.
    void greeted();
    // A LIST went out: the list empties.
    void listingStarted();
    void mailListed(const QList<ListingEntry> &entries);
    // A listing without a message: the connection is closed already.
    void mailboxEmpty();
    // The header lines of a message came (a TOP for Get Header or for a
    // read) for the row its command went out for.
    void headersReceived(const MailRowRef &row, const HeaderFields &headers, const QList<QByteArray> &lines);
    // A read message, attachments left out; the viewer shows it.
    void messageRead(const HeaderFields &headers, const QList<QByteArray> &lines);
    // A read that will show no message (refused, or an empty reply).
    void readAbandoned();
    // The server deleted the message of row.
    void mailDeleted(const MailRowRef &row);
    // The delete batch is over: its rows are done, a DELE was refused, or
    // the connection was lost.
    void deleteBatchEnded();

private:
    struct CommandInFlight {
        std::uint8_t awaited = ssIdle;
        MailRowRef target;
        // The status text while this command's reply is the one awaited.
        QString status;
        bool announced = false;
        // Sent ahead of the replies before it, as part of a pipelined batch.
        bool pipelined = false;
        // Which command this was, counted from the first: a batch goes on
        // after a reply only while no command was started after it.
        quint64 sequence = 0;
    };
    struct DeleteBatchRow {
        MailRowRef target;
        bool checked = false;
    };

    void bindSocket();
    void send(const QByteArray &text, const MailRowRef &target = {});
    void startCommand(std::uint8_t awaited, const MailRowRef &target, const QByteArray &line,
                      const QString &status = QString(), bool pipelined = false);
    // Queues the reply a command sent now will get.
    void awaitReply(std::uint8_t awaited, const MailRowRef &target, const QString &status = QString(),
                    bool pipelined = false);
    void fetchHeader(const MailRowRef &row, bool pipelined = false);
    // The reply to the oldest command in flight is complete: it leaves the
    // queue (an empty entry when none was in flight).
    CommandInFlight finishCommand();
    // The next line is judged for the oldest command still in flight.
    void followQueue();
    void dropCommands();
    bool deleteInFlight() const;
    int countInFlight(std::uint8_t awaited) const;
    // Whether a batch of rows waits for the server's capabilities first
    // (asking for them if nobody has yet); false when it can start now.
    bool waitForCapabilities(qsizetype rows, int batch);
    void askCapabilities();
    void capabilitiesKnown(bool pipelines);
    void sendHeaders();
    void sendDeletes();
    void abandonHeaderBatch();

    void dispatchReplyLines();
    void handleEndMarker();
    void handleStatusLine(char FirstChar, std::uint8_t State, const QByteArray &Line);
    void filterReadLine(const QByteArray &Line);
    void collectLine(const QByteArray &line);
    void clearMessageLines();
    void deleteStep();
    bool sendNextDelete();
    void abandonDeleteBatch();
    void endDeleteBatch();
    // Closes the connection with one console line that says why.
    void giveUpConnection(const QString &reason);
    QString statusLineTooLong() const;

    SessionWindow *window;
    TClientSocket *sock;

    std::uint8_t SessionState = ssIdle;
    QList<QByteArray> ReplyLines;
    QList<QByteArray> MessageLines;
    bool SkipRest = false;
    bool DeleteConfirmed = false;
    QByteArray MimeBoundary;

    std::deque<CommandInFlight> inFlight;
    // How many commands in flight await each state (indexed by it).
    int awaiting[16] = {};
    bool pipeliningAllowed = true;
    // What the server said of PIPELINING on this connection.
    enum class Capability { Unknown, Asked, Pipelines, OneAtATime };
    Capability capability = Capability::Unknown;
    // A pipelined Get Header batch: the rows checked when it started, not
    // yet sent.
    bool headerBatch = false;
    std::deque<MailRowRef> HeaderBatch;
    // A batch that waits for the server's capabilities before it starts.
    enum Waiting { NoBatch, HeaderBatchWaits, DeleteBatchWaits };
    int waitingBatch = NoBatch;
    // Counts commands started.
    quint64 commandsStarted = 0;
    // The confirmed rows not yet sent, in list order at the Yes. A row that
    // was checked then and is unchecked before its DELE goes out is
    // withdrawn; no row marked later ever joins.
    std::deque<DeleteBatchRow> DeleteBatch;

    // Lines received and not yet dispatched, in order; a read handled inside
    // a nested event loop only queues its lines behind them.
    LineAssembler replyAssembler;
    std::deque<QByteArray> pendingReplyLines;
    qint64 pendingBytes = 0;
    bool dispatchingReplies = false;
    qint64 collectedBytes = 0;
};
