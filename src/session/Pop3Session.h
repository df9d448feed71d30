// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "base/WireTextStream.h"
#include "session/CommandQueue.h"
#include "session/LineAssembler.h"
#include "session/MailListing.h"
#include "session/Pop3Parsing.h"
#include "session/RowBatch.h"
#include "session/SessionState.h"

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QString>

#include <cstdint>
#include <functional>

class QSslCertificate;
class TClientSocket;
class TClientWinSocket;
enum class TErrorEvent;

// What the conversation asks of the window it works for, in the middle of
// the conversation: the account a login on the server's greeting uses.
// Everything else the window decides before it calls the engine.
class SessionWindow {
public:
    virtual ~SessionWindow() = default;
    virtual QString userName() = 0;
    virtual QString password() = 0;
};

// The POP3 conversation: the connection, the framing of what arrives into
// lines, SessionState and its transitions, the lines of the reply being
// collected, the attachment filter of a read, the reply order (CommandQueue)
// and the batches (RowBatch; their steps are in Pop3SessionBatches.cpp).
//
// Replies are matched to commands in order: each reply acts on the row its
// own command went out for, however the list was sorted or shrunk since,
// and whoever sent the command. A line typed on the console takes its place
// in that order like any command; its reply is shown and nothing else.
// SessionState is the state the next line is judged in: that of the oldest
// command in flight, or, with none in flight, what the last reply left.
//
// Batches (Get Header over the rows handed in, a confirmed delete, the
// automatic header batch after a listing) are pipelined where the server
// says it can take that (CAPA lists PIPELINING; asked once per connection,
// before the first batch of two or more rows): up to pipelineWindow commands
// go out ahead of their replies, else one at a time. Each reply is handled
// the same either way.
//
// The engine never runs an event loop and never opens a window: it tells
// the window what happened through its signals (connect them directly: the
// window's reactions are part of each step; anything modal the window starts
// later, from the event loop) and asks it only for the account.
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
    // Whether a header batch has rows left to send or replies to come.
    bool headerBatchRunning() const { return headerBatch.isRunning(); }
    // Whether the automatic header batch has rows left or replies to come.
    bool autoHeadersRunning() const { return autoBatch.isRunning(); }
    // Messages the server has deleted on this connection (a DELE, the
    // batch's or a typed one, answered "+OK") and that no QUIT has committed
    // yet: they come back if the connection ends without one.
    int deletionsPending() const { return pendingDeletions; }
    // The lines of the last read from the connection, and of the reply body
    // collected last.
    const QList<QByteArray> &replyLines() const { return ReplyLines; }
    const QList<QByteArray> &messageLines() const { return MessageLines; }
    // The row and message number of the oldest command in flight that acts
    // on a row (an empty id when none does).
    MailRowRef commandRow() const;
    // The commands in flight, oldest first.
    const CommandQueue &commands() const { return inFlight; }
    int commandsInFlight() const { return int(inFlight.size()); }

    // --- the connection ---
    // The next line on this connection is awaited as a greeting; whatever was
    // in flight belongs to an earlier conversation.
    void expectGreeting();
    // Starts a connection to server (a dotted-decimal IPv4 address, or a host
    // name) on port. trusted (when given) is asked for the certificates to
    // trust beside the system's, should the connection be encrypted. Returns
    // the reason when the platform would not even start it (the events raised before have
    // reported it); empty when the attempt is under way.
    QString open(const QString &server, int port, const std::function<QList<QSslCertificate>()> &trusted = nullptr);
    // Closes the connection, or abandons an attempt (the disconnect is
    // reported before this returns).
    void close();
    // What is known of the server the next connection goes to: it offered
    // STLS before (a connection without it now is refused as a downgrade),
    // and whether every login must be encrypted (RequireTls).
    void setTlsPolicy(bool offeredBefore, bool required)
    {
        tlsOfferedBefore = offeredBefore;
        tlsRequired = required;
    }
    bool isOpen() const;

    // --- the commands ---
    void login(const QString &user, const QString &password);
    void listMailbox();
    // Get Header over rows, in their order: one TOP each, the reply filling
    // that row. A row whose mark goes off before its TOP is sent is skipped
    // (rowsUnchecked).
    void fetchHeaders(const QList<MailRowRef> &rows);
    // Read Mail: the header and the first 100 body lines (TOP n 100), or
    // with whole the message entire (RETR n), which no attachment filter
    // cuts (the viewer shows both ways).
    void readMessage(const MailRowRef &row, bool whole = false);
    // Deletes the rows the user confirmed: byCheck tells whether they were
    // the checked rows at the Yes (a row whose mark goes off before its DELE
    // goes out then leaves the batch for good) or the selected ones.
    // Nothing while a confirmed batch runs.
    void deleteRows(const QList<MailRowRef> &rows, bool byCheck);
    // The marks of these rows went off.
    void rowsUnchecked(const QList<QByteArray> &ids);
    // The automatic header batch over these messages, in this order: one TOP
    // each, the reply filling its row and leaving its mark alone. It yields
    // to what the user starts (Get Header, a read, a delete batch): their
    // commands go out behind the ones in flight, and it goes on once they
    // are done, skipping messages whose header came meanwhile or that were
    // deleted. A refused TOP leaves that row without a header. A new
    // listing, a login, QUIT or the end of the connection ends it.
    void startAutoHeaders(const QList<QByteArray> &ids);
    void stopAutoHeaders();
    void quit();
    // A line typed by the user, sent exactly as typed; false when not
    // connected (nothing sent).
    bool sendTyped(const QString &typed);

    // --- what arrives ---
    // Takes what has arrived on the connection, and handles it a slice of
    // time at a time: what is left after readSliceMs is handled from the
    // event loop, so a long run of replies (a pipelined batch over many
    // rows) never keeps the window from answering the user.
    void cSockRead(QObject *Sender, TClientWinSocket *Socket);
    // Bytes taken from the connection and not yet handled; more is taken
    // only while they are fewer than MaxBytesWaiting.
    static constexpr qsizetype MaxBytesWaiting = qsizetype(1024) * 1024;
    qsizetype bytesWaiting() const { return unhandled.size() - unhandledFrom; }
    // One read's bytes: shown, split into lines and dispatched; then
    // repliesHandled.
    void handleReceivedBytes(QByteArray chunk);
    // The dispatcher: one received line (without its break), its first byte
    // and the state it is judged in.
    void HandleReplyLine(char FirstChar, std::uint8_t State, const QByteArray &Line);

    // Told of every command line sent and the row it acts on (none for a
    // command that acts on no row); tests and fuzzing watch the conversation
    // through it. Unset in the program.
    std::function<void(const QByteArray &line, const MailRowRef &target)> commandSent;
    // For a harness that hands the engine its bytes itself and watches
    // commandSent: typed lines go out without a connection.
    bool detached = false;

    // Whether batches may be pipelined at all (on at start); off, every
    // batch runs one command at a time and no CAPA is sent.
    void setPipelining(bool on) { pipeliningAllowed = on; }
    bool pipelining() const { return pipeliningAllowed; }
    // How many commands of a pipelined batch may await their replies.
    // 8,192 keeps a 50 ms round trip from being the limit below some
    // 160,000 commands a second; Qt writes and reads the socket whenever it
    // can, so neither side ever waits on the other.
    int pipelineWindow = 8192;
    // How long one turn of the event loop may spend on what arrived.
    int readSliceMs = 15;

    // What a server may send before the connection is given up as hostile:
    // a line, a status line (while no reply body is being collected), and
    // the body of a reply the program takes in, by what its command can
    // need. Each line of a body counts its bytes and ReplyLineOverhead, what
    // keeping a line costs beside its bytes, so a flood of short or empty
    // lines is bounded as a flood of long ones. A listing keeps no line but
    // its entries, which count as well (2,000,000 real ones come to some
    // 200 MB), and it is bounded by its messages too. Tests lower them.
    static constexpr qint64 ReplyLineOverhead = 64;
    static constexpr qsizetype DefaultMaxListedMessages = 2000000;
    static constexpr qint64 DefaultMaxListingReplyBytes = qint64(256) * 1024 * 1024;
    // The most messages, each listed on a line as long as a real one
    // ("2000000 4294967295") and kept as an entry, fit the listing's bound.
    static_assert(DefaultMaxListedMessages * (2 * 18 + ReplyLineOverhead + 2) < DefaultMaxListingReplyBytes);
    qsizetype maxLineLength = LineAssembler::DefaultMaxLineLength;
    qsizetype maxStatusLineLength = qsizetype(64) * 1024;
    qint64 maxHeaderReplyBytes = qint64(16) * 1024 * 1024;  // TOP n 0
    qint64 maxReadReplyBytes = qint64(64) * 1024 * 1024;    // TOP n 100, RETR n
    qint64 maxListingReplyBytes = DefaultMaxListingReplyBytes;
    qint64 maxCapaReplyBytes = qint64(64) * 1024;
    qsizetype maxListedMessages = DefaultMaxListedMessages;

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
    // The server listed STLS: remember it for this server and port.
    void tlsOffered();
    // A LIST went out: the list empties.
    void listingStarted();
    // The reply to the last LIST sent: each message once.
    void mailListed(const MailListing &listing);
    // A listing without a message: the connection is closed already.
    void mailboxEmpty();
    // The header lines of a message came (a TOP for Get Header, for a read
    // or of the automatic batch) for the row its command went out for;
    // keepMark for the automatic batch, which leaves the row's mark alone.
    void headersReceived(const MailRowRef &row, const HeaderFields &headers, const QList<QByteArray> &lines,
                         bool keepMark);
    // A read message, attachments left out; the viewer shows it.
    // whole: the lines are the whole message (RETR), not filtered.
    void messageRead(const MailRowRef &row, const HeaderFields &headers, const QList<QByteArray> &lines, bool whole);
    // A read that will show no message (refused, or an empty reply).
    void readAbandoned();
    // The last reply of a header batch came; rows checked since it started
    // were not in it.
    void headerBatchEnded();
    // Every message of the automatic batch had its TOP answered.
    void autoHeadersEnded();
    // The server deleted the message of row.
    void mailDeleted(const MailRowRef &row);
    // The delete batch is over: its rows are done, a DELE was refused, or
    // the connection was lost.
    void deleteBatchEnded();
    // The server answered QUIT (ok: "+OK", the deletions are made).
    void quitAnswered(bool ok);
    // Every line of one read was handled: what the replies in it did to the
    // rows can be shown together (the window removes the rows deleted in it
    // in one go, and repaints once).
    void repliesHandled();

private:
    // Commands sent while one is alive leave together when the last ends.
    class SendingHeld {
    public:
        explicit SendingHeld(TClientSocket *socket);
        ~SendingHeld();
        SendingHeld(const SendingHeld &) = delete;
        SendingHeld &operator=(const SendingHeld &) = delete;

    private:
        TClientWinSocket *connection;
    };

    void bindSocket();
    void send(const QByteArray &text, const MailRowRef &target = {});
    // Sends a command line and queues the reply it will get.
    void startCommand(PendingCommand command, const QByteArray &line);
    // The next line is judged for the oldest command still in flight.
    void followQueue();
    // The reply to the oldest command is complete.
    PendingCommand finishCommand();

    // --- the login on a port in clear: CAPA, then STLS where listed ---
    void startLogin();
    void loginCapabilities(const QList<QByteArray> &lines, bool listed);
    void stlsReplied(bool ok);
    void refuseLogin(const QString &reason);

    // --- the batches (Pop3SessionBatches.cpp) ---
    void fetchHeader(const MailRowRef &row, RowBatch &batch);
    // Whether a batch of rows waits for the server's capabilities first
    // (asking for them if nobody has yet); false when it can start now.
    bool waitForCapabilities(int batch, qsizetype rows);
    void askCapabilities();
    void capabilitiesKnown(bool pipelines);
    int batchWindow() const;
    // A batch's next commands, up to its window and at most `most` of them:
    // a burst when it starts (a batch of up to 2,048 rows goes out whole if
    // that takes no more than 8 ms), then four for each reply, so the window opens as
    // fast as the replies come and sending never holds the window up much
    // longer than handling the replies does.
    static constexpr int StartBurst = 2048;
    static constexpr int PerReply = 4;
    void sendHeaders(int most = StartBurst);
    void sendDeletes(int most = StartBurst);
    bool sendNextDelete();
    void deleteStep();
    void abandonHeaderBatch();
    void abandonDeleteBatch();
    void endDeleteBatch();
    // The automatic batch sends what its window allows, unless the user's
    // commands go first; it ends when every row had its reply.
    void carryOnAutoHeaders();
    void sendAutoHeaders(int most = StartBurst);
    bool autoHeadersYield() const;
    void noteTypedReply(const QByteArray &verb);
    void forgetConnection();

    // --- what arrives ---
    void showReceived(const QByteArray &chunk);
    void dispatchReceivedBytes(QByteArray chunk);
    // Takes what has arrived on the connection while little waits to be
    // handled; whether it took anything.
    bool takeReceived(TClientWinSocket *Socket);
    // Handles what was taken from the connection, taking more as it goes:
    // all of it, or (sliced) until readSliceMs have passed, the rest from
    // the event loop.
    void handleUnhandled(bool sliced);
    void dispatchLines(QList<QByteArray> &lines);
    void handleEndMarker();
    void handleStatusLine(char FirstChar, std::uint8_t State, const QByteArray &Line);
    void listingEnded(const PendingCommand &done);
    void readEnded(const PendingCommand &done);
    void filterReadLine(const QByteArray &Line);
    void collectLine(const QByteArray &line);
    void listLine(const QByteArray &line);
    void clearMessageLines();
    // Counts a line of the reply body being taken in against its command's
    // bound; past it the connection is given up (false).
    bool countReplyLine(const QByteArray &line);
    // The bound of the reply body being taken in (0 for none), and what the
    // console says when a reply passes it.
    qint64 replyBound() const;
    QString replyTooLarge() const;
    // Closes the connection with one console line that says why.
    void giveUpConnection(const QString &reason);
    QString statusLineTooLong() const;

    SessionWindow *window;
    TClientSocket *sock;

    std::uint8_t SessionState = ssIdle;
    QList<QByteArray> ReplyLines;
    QList<QByteArray> MessageLines;
    bool SkipRest = false;
    // The read being collected is a whole message (RETR).
    bool readWhole = false;
    bool DeleteConfirmed = false;
    QByteArray MimeBoundary;

    CommandQueue inFlight;
    bool pipeliningAllowed = true;
    // What the server said of PIPELINING on this connection.
    enum class Capability { Unknown, Asked, Pipelines, OneAtATime };
    Capability capability = Capability::Unknown;
    // A batch that waits for the server's capabilities before it starts.
    enum Waiting { NoBatch, HeaderBatchWaits, DeleteBatchWaits };
    int waitingBatch = NoBatch;
    RowBatch headerBatch;
    // The confirmed rows not yet sent, in list order at the Yes; running
    // while DeleteConfirmed.
    RowBatch deleteBatch;
    // The automatic header batch: messages by number only (no row
    // reference each, which every removal or sort of rows would have to
    // move).
    RowBatch autoBatch;
    quint64 batchesStarted = 0;
    int pendingDeletions = 0;

    LineAssembler replyAssembler;
    // Bytes taken from the connection, handled from unhandledFrom on.
    QByteArray unhandled;
    qsizetype unhandledFrom = 0;
    bool handlingPosted = false;
    // Received bytes are being handled: a connection closed from in there
    // (given up, found empty) takes nothing more of them.
    bool dispatching = false;
    // The received text the console shows, decoded as one stream.
    WireTextStream shownText;
    // What the body of the reply being taken in has cost (see
    // ReplyLineOverhead).
    qint64 replyBytes = 0;
    // The listing being received, entry by entry.
    MailListing listing;
    // Counts connections ended (or given up): lines dispatched from one
    // read stop when it moves.
    quint64 connectionsEnded = 0;
    // The rest of a read is dropped: what came in clear behind the "+OK" to
    // STLS belongs to no one.
    bool dropRestOfRead = false;

    // Where the login on this connection stands before USER goes out.
    enum class LoginStep { Open, Capabilities, StartTls, Handshake };
    LoginStep loginStep = LoginStep::Open;
    // This connection's server listed STLS: no login without TLS.
    bool stlsListed = false;
    bool tlsOfferedBefore = false;
    bool tlsRequired = false;
};
