// SPDX-License-Identifier: GPL-3.0-or-later
// The main window's whole conversation: what a server sends, in arbitrary
// chunks, through line assembly, the dispatcher and the session's state
// machine, mixed with what a user does (marks, selections, the command
// buttons while they are enabled, answers to the delete question, sorting,
// the list's context menu, closing the window with each answer).
//
// The first byte chooses the server:
// - an honest one (even): it keeps a mailbox of up to eight messages whose
//   bytes come from the input (lone CRs, NULs and dot lines included, passed
//   through as a real server passes them) and answers every command the
//   window sends, in order, when the input says so; it may refuse a TOP or
//   a DELE;
// - a hostile one (odd): it sends raw chunks from the input.
// Bit 1 of that byte: the honest server lists PIPELINING in its CAPA reply
// (else refuses CAPA); bits 2-3: the window of commands a pipelined batch
// keeps in flight, 1 to 4; bit 4: it lists STLS and then refuses it (no
// login may follow: USER and PASS never go out in clear to such a server).
// The user presses command buttons and types console lines at any time,
// also while replies are owed: each reply must act on the row its own
// command went out for, and the reply to a typed line is only shown.
//
// Properties, for both: nothing crashes or trips a sanitizer; the window's
// count of checked rows matches the list; every DELE goes out for a row of
// the batch confirmed by the last Yes, marked at that Yes and, if it was
// checked then, not unchecked since; a row leaves the list during a read
// only with the "+" to its own DELE (or when the whole list is replaced, as a
// new listing does); each message number is listed at most once; QUIT goes
// out only from Save & Quit, or from a close the user answered with Delete
// Now while deletions were pending; the console's log is every echo and
// every read in the order they happened; what the server says never sets a
// mark, and takes one off only with the reply to Get Header or a read for
// that row's own message (never with the automatic batch's); the two check
// actions never take a mark off and send nothing, and check exactly the
// rows their rule names; the delete question names as many messages as are
// marked; the rows stand in the order the header's arrow tells after a
// listing and after the Decode Headers switch; the close question comes
// exactly when deletions are pending, Keep Them closes at once without
// QUIT, Go Back leaves everything as it was, Delete Now closes once QUIT is
// answered.
// With the honest server also: every Subject, From and To a row shows comes
// from the reply for that row's own message; a read shows the lines of the
// message it went out for; a listing leaves the list holding exactly the
// server's messages not deleted; at the end, once every command is
// answered, with Get Headers Automatically on every listed row has its
// header unless the server refused its TOP.
//
// Input after the first byte: records of one byte, kind in the high nibble
// and an argument in the low one.
//   0-4  honest: answer the oldest unanswered command (arg bit 0: refuse a
//        TOP or DELE; the reply is cut into reads at the positions given by
//        the next two bytes); hostile: a raw chunk, its length byte and bytes
//   5  type console line arg (kTyped; a message number from the next byte,
//      or for 14 a length byte and that many bytes of text)
//   6  toggle the mark of row arg       7  select row arg (15: none)
//   8  "All"   9  "Selected"   10 Get Header   11 Read Mail
//   12 Delete (arg odd: answered Yes)   13 Refresh List
//   14 arg 0-4 and 12-15: sort by column 1 + arg % 5; 5 Decode Headers;
//      6 Get Headers Automatically; 7 Check All From This Sender (the menu
//      over the row of the next byte's low nibble, 15: from the keyboard,
//      the current row); 8 Check Matching (next byte: row and field whose
//      shown text gives the text to look for, bit 7 Cancel; the next: its
//      offset and length, none for length 0; the next: the size in KB,
//      0 to 3); 9 / 10 / 11 close the window answering Delete Now / Keep
//      Them / Go Back
//   15 Save & Quit
// With the honest server the records are preceded by the mailbox: a count
// byte (1 + low 3 bits messages), then per message a length byte and its
// bytes, cut into lines at each LF (a CR before the LF belongs to the break).

#include "FuzzCheck.h"
#include "app/CheckMatchingDialog.h"
#include "app/TForm1.h"
#include "controls/ConsoleView.h"
#include "mailbox/MailListModel.h"
#include "mailbox/MailListView.h"
#include "session/HeaderDecoding.h"
#include "support/DesktopStub.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QItemSelectionModel>
#include <QLineEdit>
#include <QPersistentModelIndex>
#include <QPushButton>
#include <QSet>
#include <QSpinBox>
#include <QTemporaryDir>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <deque>
#include <map>
#include <optional>
#include <vector>

namespace {

QApplication *application = nullptr;

struct Fields {
    QByteArray subject, from, to;
    bool operator==(const Fields &) const = default;
};

// The last "Subject: ", "From: " and "To: " lines of a reply body.
Fields scan(const QList<QByteArray> &lines)
{
    Fields fields;
    for (const QByteArray &line : lines) {
        if (line.startsWith("Subject: "))
            fields.subject = line.mid(9);
        else if (line.startsWith("From: "))
            fields.from = line.mid(6);
        else if (line.startsWith("To: "))
            fields.to = line.mid(4);
    }
    return fields;
}

// The lines a read shows: up to and including the second line equal to the
// first one that begins with "--".
QList<QByteArray> readLines(const QList<QByteArray> &lines)
{
    QList<QByteArray> shown;
    QByteArray boundary;
    for (const QByteArray &line : lines) {
        shown.append(line);
        if (boundary.isEmpty() && line.startsWith("--"))
            boundary = line;
        else if (!boundary.isEmpty() && line == boundary)
            break;
    }
    return shown;
}

struct Message {
    QList<QByteArray> lines;
    bool deleted = false;
};

// The sender address of a From text as the list shows it, written out
// plainly: inside the last <...>, else the whole text, blanks around it off.
QString addressOf(const QString &from)
{
    const qsizetype open = from.lastIndexOf(QLatin1Char('<'));
    const qsizetype close = open < 0 ? -1 : from.indexOf(QLatin1Char('>'), open + 1);
    return (close > open ? from.mid(open + 1, close - open - 1) : from).trimmed();
}

QString shown(TForm1 &w, int row, int column)
{
    return w.mailModel->data(w.mailModel->index(row, column), Qt::DisplayRole).toString();
}

// A server that answers each command as a POP3 server does, the message
// bytes passed through unchanged apart from the doubled leading dot.
class HonestServer {
public:
    std::map<QByteArray, Message> mailbox;
    std::deque<QByteArray> commands;
    // Whether CAPA lists PIPELINING, and STLS (refused when asked).
    bool pipelines = false;
    bool offersTls = false;

    void sent(const QByteArray &text)
    {
        // Every piece up to a LF is a command, an empty one included.
        QList<QByteArray> pieces = text.split('\n');
        pieces.removeLast();
        for (const QByteArray &line : pieces)
            commands.push_back(line.endsWith('\r') ? line.chopped(1) : line);
    }

    QByteArray body(const QList<QByteArray> &lines) const
    {
        QByteArray reply = "+OK\r\n";
        for (const QByteArray &line : lines)
            reply += (line.startsWith('.') ? "." + line : line) + "\r\n";
        return reply + ".\r\n";
    }

    // Messages whose TOP was refused, or asked for after they were deleted.
    QSet<QByteArray> topRefused;

    QByteArray answer(bool refuse)
    {
        if (commands.empty())
            return {};
        const QByteArray command = commands.front();
        commands.pop_front();
        const QList<QByteArray> words = command.split(' ');
        const QByteArray verb = words.value(0).toUpper();
        const QByteArray number = words.value(1);
        const auto found = mailbox.find(number);
        const bool exists = found != mailbox.end() && !found->second.deleted;
        if ((verb == "LIST" || verb == "UIDL") && number.isEmpty()) {
            QByteArray reply = "+OK\r\n";
            for (const auto &[id, message] : mailbox) {
                if (!message.deleted)
                    reply += id + ' ' + (verb == "LIST" ? size(message) : "uid" + id) + "\r\n";
            }
            return reply + ".\r\n";
        }
        if ((verb == "LIST" || verb == "UIDL") && exists)
            return "+OK " + number + ' ' + (verb == "LIST" ? size(found->second) : "uid" + number) + "\r\n";
        if ((verb == "TOP" || verb == "RETR") && exists && !refuse)
            return body(found->second.lines);
        if (verb == "TOP")
            topRefused.insert(number);
        if (verb == "DELE" && exists && !refuse) {
            found->second.deleted = true;
            return "+OK\r\n";
        }
        if (verb == "RSET") {
            for (auto &entry : mailbox)
                entry.second.deleted = false;
        }
        if (verb == "CAPA" && (pipelines || offersTls))
            return QByteArray("+OK\r\nUSER\r\n") + (pipelines ? "PIPELINING\r\n" : "") + (offersTls ? "STLS\r\n" : "") +
                   ".\r\n";
        if (verb == "USER" || verb == "PASS" || verb == "QUIT" || verb == "STAT" || verb == "NOOP" || verb == "RSET")
            return "+OK\r\n";
        return "-ERR\r\n";
    }

    static QByteArray size(const Message &message) { return QByteArray::number(message.lines.size() * 10 + 1); }

    QList<QByteArray> listed() const
    {
        QList<QByteArray> ids;
        for (const auto &[id, message] : mailbox) {
            if (!message.deleted)
                ids.append(id);
        }
        return ids;
    }
};

// The console lines a user types (kind 5); "#" stands for a message number.
const char *const kTyped[16] = {"LIST", "LIST #", "UIDL",   "UIDL #", "RETR #", "TOP # 0", "TOP # 100", "CAPA",
                                "STAT", "NOOP",   "DELE #", "RSET",   "",       "  list ", "",          "USER x"};

// The batch the last Yes confirmed: each row with whether it was checked.
struct Confirmed {
    QPersistentModelIndex row;
    bool checked;
};

bool isChecked(TForm1 &w, const QPersistentModelIndex &row)
{
    return row.isValid() && w.mailModel->isChecked(row.row());
}

// FUZZ_WINDOW_TRACE=1 prints every step, for reading a finding.
const bool tracing = qEnvironmentVariableIsSet("FUZZ_WINDOW_TRACE");

void trace(TForm1 &w, const char *step, const QByteArray &detail = QByteArray())
{
    if (!tracing)
        return;
    QByteArray rows;
    const QList<int> selected = w.mailInfo->selectedRows();
    for (int r = 0; r < w.mailModel->count(); ++r)
        rows += ' ' + w.mailModel->subItem(r, MailRow::Id) + (w.mailModel->isChecked(r) ? "+" : "") +
                (selected.contains(r) ? "*" : "");
    std::fprintf(stderr, "%-8s %-40s state %2d confirmed %d pending '%s' rows:%s\n", step,
                 detail.toPercentEncoding(" ").left(40).constData(), int(w.session->state()),
                 int(w.session->deleteConfirmed()), w.session->commandRow().id.constData(), rows.constData());
}

const char *const kStepNames[16] = {"server", "server",   "server", "server", "server", "type", "mark", "select",
                                    "All",    "Selected", "Header", "Read",   "Delete", "List", "Menu", "Quit"};

void clickIfEnabled(QPushButton *button)
{
    if (button->isEnabled())
        button->click();
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    application = new QApplication(*argc, *argv);
    // One window made and freed before any input: what Qt and fontconfig
    // set up once and keep for the process is not taken for a leak.
    DesktopStub desktop;
    delete new TForm1;
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size == 0)
        return 0;
    size_t at = 0;
    const bool honest = (data[at] & 1) == 0;
    HonestServer server;
    server.pipelines = data[at] & 2;
    server.offersTls = data[at] & 16;
    const int window = 1 + ((data[at] >> 2) & 3);
    ++at;
    if (honest && at < size) {
        const int count = 1 + (data[at++] & 7);
        for (int m = 1; m <= count && at < size; ++m) {
            const size_t length = data[at++];
            const size_t take = length < size - at ? length : size - at;
            const QByteArray bytes(reinterpret_cast<const char *>(data + at), static_cast<qsizetype>(take));
            at += take;
            Message message;
            for (const QByteArray &line : bytes.split('\n'))
                message.lines.append(line.endsWith('\r') ? line.chopped(1) : line);
            server.mailbox[QByteArray::number(m)] = message;
        }
    }

    DesktopStub desktop;
    QTemporaryDir dir;
    TForm1 w;
    w.AppDir = dir.path() + QLatin1Char('/');
    w.session->pipelineWindow = window;
    w.session->detached = true;
    // As after a connect: the greeting is awaited.
    w.session->expectGreeting();

    bool answerYes = false;
    bool deleting = false;
    std::vector<Confirmed> confirmed;
    desktop.whileBoxOpen = [&](const platform::MessageBoxRequest &box) {
        if (deleting) {
            // The question says how many messages are marked.
            const qsizetype marked =
                w.mailModel->checkedCount() > 0 ? w.mailModel->checkedCount() : w.mailInfo->selectedRows().size();
            FUZZ_CHECK(box.informativeText.startsWith(
                QString::number(marked) + (marked == 1 ? QLatin1String(" message:") : QLatin1String(" messages:"))));
        }
        // The marks at the Yes are the batch.
        if (!deleting || !answerYes)
            return;
        confirmed.clear();
        if (w.mailModel->checkedCount() > 0) {
            for (int r : w.mailModel->checkedRows())
                confirmed.push_back({QPersistentModelIndex(w.mailModel->index(r, MailListModel::IdColumn)), true});
        } else {
            for (int r : w.mailInfo->selectedRows())
                confirmed.push_back({QPersistentModelIndex(w.mailModel->index(r, MailListModel::IdColumn)), false});
        }
    };
    // A row unchecked after the Yes has left the batch for good.
    QObject::connect(w.mailModel, &QAbstractItemModel::dataChanged,
                     [&](const QModelIndex &, const QModelIndex &, const QList<int> &) {
                         std::erase_if(confirmed,
                                       [&](const Confirmed &c) { return c.checked && !isChecked(w, c.row); });
                     });

    // Marks a reply took off in a step: only Get Header's and a read's, for
    // their own messages.
    QList<QByteArray> uncheckedByReply;
    QObject::connect(w.session, &Pop3Session::headersReceived,
                     [&](const MailRowRef &row, const HeaderFields &, const QList<QByteArray> &, bool keepMark) {
                         if (!keepMark)
                             uncheckedByReply.append(row.id);
                     });
    int commandsSent = 0;
    int quitsSent = 0;
    bool closingWithQuit = false;
    bool awaitingClose = false;

    int resets = 0;
    QObject::connect(w.mailModel, &QAbstractItemModel::modelReset, [&resets] { ++resets; });
    // The messages the delete batch sent a DELE for.
    QList<QByteArray> deleteSent;
    bool quitting = false;
    bool typing = false;
    // What the engine put on the console, in order.
    QStringList logged;
    QObject::connect(w.session, &Pop3Session::consoleEntry, [&](const QString &entry) { logged.append(entry); });
    // Messages whose DELE the server accepted, and listings shown, in a step.
    QList<QByteArray> deletedNow;
    bool listedNow = false;
    QObject::connect(w.session, &Pop3Session::mailDeleted, [&](const MailRowRef &row) { deletedNow.append(row.id); });
    // The rows stand in the order the header's arrow tells, right after a
    // listing and once the automatic headers are in.
    const auto checkSorted = [&w] {
        for (int r = 0; r + 1 < w.mailModel->count(); ++r)
            FUZZ_CHECK(w.mailInfoCompare(r, r + 1) <= 0);
    };
    QObject::connect(w.session, &Pop3Session::mailListed, [&] {
        listedNow = true;
        checkSorted();
    });
    QObject::connect(w.session, &Pop3Session::autoHeadersEnded, checkSorted);
    QObject::connect(w.session, &Pop3Session::messageRead,
                     [&](const MailRowRef &row, const HeaderFields &, const QList<QByteArray> &lines) {
                         if (!honest)
                             return;
                         const QList<QByteArray> expected = readLines(server.mailbox[row.id].lines);
                         if (tracing && lines != expected)
                             std::fprintf(stderr, "read %s shows %s\nexpected     %s\n", row.id.constData(),
                                          lines.join("|").toPercentEncoding(" |").constData(),
                                          expected.join("|").toPercentEncoding(" |").constData());
                         FUZZ_CHECK(lines == expected);
                     });
    w.session->commandSent = [&](const QByteArray &text, const MailRowRef &target) {
        // A DELE typed on the console is the user's own; the property is of
        // the button's batch.
        if (text.startsWith("DELE ") && !typing) {
            // The engine names its row by number; the list finds it.
            const int targetRow = w.mailModel->rowOfId(target.id);
            const QPersistentModelIndex targetIndex =
                targetRow >= 0 ? QPersistentModelIndex(w.mailModel->index(targetRow, MailListModel::IdColumn))
                               : QPersistentModelIndex();
            deleteSent.append(target.id);
            const auto it = std::find_if(confirmed.begin(), confirmed.end(),
                                         [&](const Confirmed &c) { return c.row == targetIndex; });
            FUZZ_CHECK(w.session->deleteConfirmed());
            if (tracing) {
                std::fprintf(stderr, "DELE for row %d; confirmed rows:", targetRow);
                for (const Confirmed &c : confirmed)
                    std::fprintf(stderr, " %d%s", c.row.row(), c.checked ? "+" : "");
                std::fprintf(stderr, "\n");
            }
            FUZZ_CHECK(targetIndex.isValid() && it != confirmed.end());
            FUZZ_CHECK(!it->checked || isChecked(w, it->row));
            FUZZ_CHECK(text == "DELE " + w.mailModel->subItem(targetRow, MailRow::Id) + "\r\n");
        }
        ++commandsSent;
        if (text.startsWith("QUIT") && !typing) {
            FUZZ_CHECK(quitting || closingWithQuit);
            ++quitsSent;
        }
        if (text.startsWith("user ") && !typing)
            FUZZ_CHECK(!(honest && server.offersTls));
        if (honest)
            server.sent(text);
    };
    w.showViewer = [&](QWidget *, const ViewerMessage &message, const auto &) {
        // A message read whole takes its fields from what a read of its first
        // lines would show: a "Subject: " in an attachment is no header.
        // With Decode Headers on, it shows them decoded: what the header
        // section of its own message decodes to.
        Fields expected = scan(message.whole ? readLines(message.lines) : message.lines);
        if (w.DecodeHeaders1->isChecked()) {
            const DecodedHeaders decoded = DecodeHeaders(message.lines);
            expected = {decoded.subject.toUtf8(), decoded.sender.toUtf8(), decoded.recipient.toUtf8()};
        }
        if (tracing)
            std::fprintf(stderr, "viewer (%s) shows %s|%s|%s\nexpected %s|%s|%s\nlines %s\n",
                         message.whole ? "whole" : "top", message.subject.toPercentEncoding().constData(),
                         message.from.toPercentEncoding().constData(), message.to.toPercentEncoding().constData(),
                         expected.subject.toPercentEncoding().constData(),
                         expected.from.toPercentEncoding().constData(), expected.to.toPercentEncoding().constData(),
                         message.lines.join("|").toPercentEncoding(" |").constData());
        FUZZ_CHECK((Fields{message.subject, message.from, message.to}) == expected);
    };

    if (honest)
        w.session->handleReceivedBytes("+OK ready\r\n");
    QByteArray lastChunk;
    bool closedSeen = false;
    while (at < size && !closedSeen) {
        const int kind = data[at] >> 4;
        const int arg = data[at] & 0x0F;
        ++at;
        const int rows = w.mailModel->count();
        std::vector<QPersistentModelIndex> before;
        QList<QByteArray> beforeIds;
        std::vector<bool> beforeChecked;
        for (int r = 0; r < rows; ++r) {
            before.emplace_back(w.mailModel->index(r, MailListModel::IdColumn));
            beforeIds.append(w.mailModel->subItem(r, MailRow::Id));
            beforeChecked.push_back(w.mailModel->isChecked(r));
        }
        const int resetsBefore = resets;
        const int sentBefore = commandsSent;
        deletedNow.clear();
        uncheckedByReply.clear();
        listedNow = false;
        bool sortShown = false;
        // The rows a check action must check (by the fuzzer's own reading
        // of the texts shown), or none when it did not run.
        std::optional<QSet<int>> mustCheck;
        if (kind <= 4 && honest) {
            lastChunk = server.answer(arg & 1);
            // Cut into up to three reads where the input says.
            qsizetype cut1 = at < size ? data[at++] : 0;
            qsizetype cut2 = at < size ? data[at++] : 0;
            cut1 = std::min(cut1, lastChunk.size());
            cut2 = std::clamp(cut1 + cut2, cut1, lastChunk.size());
            w.session->handleReceivedBytes(lastChunk.left(cut1));
            w.session->handleReceivedBytes(lastChunk.mid(cut1, cut2 - cut1));
            w.session->handleReceivedBytes(lastChunk.mid(cut2));
        } else if (kind <= 4) {
            const size_t length = at < size ? data[at++] : 0;
            const size_t take = length < size - at ? length : size - at;
            lastChunk = QByteArray(reinterpret_cast<const char *>(data + at), static_cast<qsizetype>(take));
            at += take;
            w.session->handleReceivedBytes(lastChunk);
        } else if (kind == 5) {
            QByteArray line = kTyped[arg];
            if (arg == 14) {
                const size_t length = at < size ? data[at++] % 32 : 0;
                const size_t take = length < size - at ? length : size - at;
                line = QByteArray(reinterpret_cast<const char *>(data + at), static_cast<qsizetype>(take));
                at += take;
            } else if (line.contains('#')) {
                line.replace('#', QByteArray::number(at < size ? data[at++] % 9 : 1));
            }
            w.txtCmdPrompt->setText(QString::fromLatin1(line));
            QChar enter(13);
            typing = true;
            w.txtCmdPromptKeyPress(w.txtCmdPrompt, enter);
            typing = false;
            lastChunk = line;
        } else if (kind == 6) {
            if (rows > 0)
                w.mailModel->setRowChecked(arg % rows, !w.mailModel->isChecked(arg % rows));
        } else if (kind == 7) {
            if (arg == 15 || rows == 0)
                w.mailInfo->selectionModel()->clearSelection();
            else
                w.mailInfo->selectionModel()->setCurrentIndex(w.mailModel->index(arg % rows, MailListModel::IdColumn),
                                                              QItemSelectionModel::ClearAndSelect |
                                                                  QItemSelectionModel::Rows);
        } else if (kind == 8) {
            if (w.AllMail->isEnabled())
                w.AllMail->click();
        } else if (kind == 9) {
            if (w.selMail->isEnabled())
                w.selMail->click();
        } else if (kind == 10) {
            clickIfEnabled(w.btnHeader);
        } else if (kind == 11) {
            clickIfEnabled(w.btnRead);
        } else if (kind == 12) {
            answerYes = arg & 1;
            desktop.setNextAnswer(answerYes ? platform::BoxButton::Yes : platform::BoxButton::No);
            deleting = true;
            clickIfEnabled(w.btnDelete);
            deleting = false;
            desktop.clearAnswers();
        } else if (kind == 13) {
            clickIfEnabled(w.btnList);
        } else if (kind == 14 && arg == 5) {
            w.DecodeHeaders1->toggle();
            sortShown = true;
        } else if (kind == 14 && arg == 6) {
            w.AutoHeaders1->toggle();
        } else if (kind == 14 && arg == 7) {
            // The menu opened over a row, or from the keyboard.
            const int over = at < size ? data[at++] & 0x0F : 15;
            QModelIndex index;
            if (over != 15 && rows > 0)
                index = w.mailModel->index(over % rows, MailListModel::FromColumn);
            w.mailInfoContextPopup(index);
            const int row = index.isValid()
                                ? index.row()
                                : (w.mailInfo->currentIndex().isValid() ? w.mailInfo->currentIndex().row() : -1);
            QSet<int> expected;
            if (row >= 0 && w.mailModel->hasHeader(row)) {
                const QString address = addressOf(shown(w, row, MailListModel::FromColumn));
                for (int r = 0; r < rows && !address.isEmpty(); ++r) {
                    if (w.mailModel->hasHeader(r) &&
                        addressOf(shown(w, r, MailListModel::FromColumn)).compare(address, Qt::CaseInsensitive) == 0)
                        expected.insert(r);
                }
            }
            mustCheck = expected;
            w.CheckSameSender1->trigger();
        } else if (kind == 14 && arg == 8) {
            const int pick = at < size ? data[at++] : 0;
            const int cut = at < size ? data[at++] : 0;
            const int size3 = at < size ? data[at++] : 0;
            const bool cancel = pick & 0x80;
            const int field = (pick >> 4) & 3;
            const int kb = size3 & 3;
            QString text;
            if (rows > 0)
                text = shown(w, (pick & 0x0F) % rows, MailListModel::SubjectColumn + std::max(field - 1, 0))
                           .mid(cut >> 3, cut & 7);
            if (size3 & 4)
                text = text.toUpper();
            else if (size3 & 8)
                text = text.toLower();
            // The menu opens (from the keyboard); with no row the action is off.
            w.mailInfoContextPopup(QModelIndex());
            if (w.CheckMatching1->isEnabled()) {
                w.CheckMatching1->trigger();
                CheckMatchingDialog *dialog = w.checkMatchingDialog;
                FUZZ_CHECK(dialog->isVisible());
                dialog->matchText->setText(text);
                dialog->matchField->setCurrentIndex(field);
                dialog->matchMinKB->setValue(kb);
                // What the field holds is what counts.
                text = dialog->matchText->text();
                QSet<int> expected;
                for (int r = 0; r < rows && !cancel && (!text.isEmpty() || kb > 0); ++r) {
                    const QByteArray bytes = w.mailModel->subItem(r, MailRow::Bytes);
                    bool number = !bytes.isEmpty() && bytes.size() <= 18;
                    for (const char c : bytes)
                        number = number && c >= '0' && c <= '9';
                    if (kb > 0 && !(number && bytes.toLongLong() > kb * 1024))
                        continue;
                    bool found = text.isEmpty();
                    for (int c = MailListModel::SubjectColumn; c <= MailListModel::ToColumn && !found; ++c) {
                        if (field == 0 || c == MailListModel::SubjectColumn + field - 1)
                            found = shown(w, r, c).contains(text, Qt::CaseInsensitive);
                    }
                    if (found)
                        expected.insert(r);
                }
                mustCheck = expected;
                dialog->buttons->button(cancel ? QDialogButtonBox::Cancel : QDialogButtonBox::Ok)->click();
                FUZZ_CHECK(!dialog->isVisible());
            }
        } else if (kind == 14 && arg >= 9 && arg <= 11) {
            const platform::BoxButton answer = arg == 9    ? platform::BoxButton::Yes
                                               : arg == 10 ? platform::BoxButton::No
                                                           : platform::BoxButton::Cancel;
            const int pending = w.session->deletionsPending();
            const qsizetype boxes = desktop.boxes.size();
            const int quits = quitsSent;
            desktop.setNextAnswer(answer);
            closingWithQuit = answer == platform::BoxButton::Yes && pending > 0;
            const bool closed = w.close();
            closingWithQuit = false;
            desktop.clearAnswers();
            // The question comes exactly when deletions are pending.
            FUZZ_CHECK((desktop.boxes.size() > boxes) == (pending > 0) || awaitingClose);
            if (awaitingClose) {
                FUZZ_CHECK(!closed);
            } else if (pending == 0 || answer == platform::BoxButton::No) {
                FUZZ_CHECK(closed && quitsSent == quits);
            } else if (answer == platform::BoxButton::Cancel) {
                FUZZ_CHECK(!closed && quitsSent == quits && commandsSent == sentBefore);
                FUZZ_CHECK(w.session->deletionsPending() == pending);
            } else {
                FUZZ_CHECK(!closed && quitsSent == quits + 1);
                awaitingClose = true;
            }
        } else if (kind == 14) {
            w.mailInfoColumnClick(MailListModel::IdColumn + arg % 5);
        } else {
            quitting = true;
            clickIfEnabled(w.btnQuit);
            quitting = false;
        }
        // What the window starts from the event loop (the viewer, boxes).
        QCoreApplication::sendPostedEvents();
        trace(w, kStepNames[kind], kind <= 5 ? lastChunk : QByteArray::number(arg));
        if (kind <= 4 && resets == resetsBefore) {
            // What the server says sets no mark, and takes one off only
            // with a Get Header or read reply for that row's own message.
            for (size_t r = 0; r < before.size(); ++r) {
                if (!before[r].isValid())
                    continue;
                const bool now = w.mailModel->isChecked(before[r].row());
                FUZZ_CHECK(!now || beforeChecked[r]);
                FUZZ_CHECK(now || !beforeChecked[r] || uncheckedByReply.contains(beforeIds[r]));
            }
        }
        if (mustCheck) {
            // A check action: nothing sent, no mark off, exactly its rows on.
            FUZZ_CHECK(commandsSent == sentBefore);
            for (int r = 0; r < rows; ++r)
                FUZZ_CHECK(w.mailModel->isChecked(r) == (beforeChecked[size_t(r)] || mustCheck->contains(r)));
        }
        if (sortShown)
            checkSorted();
        if (w.closeAccepted() && !closedSeen) {
            // Delete Now closes once QUIT is answered; the others at once.
            FUZZ_CHECK(!awaitingClose || kind <= 4);
            closedSeen = true;
        }
        if (resets == resetsBefore) {
            for (size_t r = 0; r < before.size(); ++r) {
                if (before[r].isValid())
                    continue;
                FUZZ_CHECK(kind <= 4);
                FUZZ_CHECK(deleteSent.contains(beforeIds[r]));
                FUZZ_CHECK(deletedNow.removeOne(beforeIds[r]));
            }
        }
        QSet<QByteArray> ids;
        for (int r = 0; r < w.mailModel->count(); ++r)
            ids.insert(w.mailModel->subItem(r, MailRow::Id));
        FUZZ_CHECK(ids.size() == w.mailModel->count());
        FUZZ_CHECK(w.CheckedCount == w.mailModel->checkedCount());
        FUZZ_CHECK(w.CheckedCount >= 0 && w.CheckedCount <= w.mailModel->count());
        if (!honest)
            continue;
        // A listing holds what the server has, each message once.
        if (listedNow) {
            QList<QByteArray> listed;
            for (int r = 0; r < w.mailModel->count(); ++r)
                listed.append(w.mailModel->subItem(r, MailRow::Id));
            std::sort(listed.begin(), listed.end());
            FUZZ_CHECK(listed == server.listed());
        }
        // Every row shows nothing, or what the TOP reply for its own
        // message gave (for a read, what the read kept).
        for (int r = 0; r < w.mailModel->count(); ++r) {
            const Fields shown{w.mailModel->subItem(r, MailRow::Subject), w.mailModel->subItem(r, MailRow::From),
                               w.mailModel->subItem(r, MailRow::To)};
            if (shown == Fields())
                continue;
            const auto message = server.mailbox.find(w.mailModel->subItem(r, MailRow::Id));
            FUZZ_CHECK(message != server.mailbox.end());
            FUZZ_CHECK(shown == scan(message->second.lines) || shown == scan(readLines(message->second.lines)));
        }
    }
    if (honest && !closedSeen) {
        // Every command answered: with Get Headers Automatically on, every
        // listed row has its header unless the server refused its TOP.
        for (int i = 0; i < 4096 && !server.commands.empty(); ++i) {
            w.session->handleReceivedBytes(server.answer(false));
            QCoreApplication::sendPostedEvents();
        }
        trace(w, "drained");
        if (server.commands.empty() && w.AutoHeaders1->isChecked() && w.btnList->isEnabledTo(w.pageGUI)) {
            for (int r = 0; r < w.mailModel->count(); ++r) {
                const QByteArray id = w.mailModel->subItem(r, MailRow::Id);
                FUZZ_CHECK(w.mailModel->hasHeader(r) || server.topRefused.contains(id));
            }
        }
    }
    // The log: every echo and every read, in order, however they were
    // slotted into the view.
    // The text the document gives back has its non-breaking spaces as
    // blanks and its paragraph and line separators as line breaks.
    QStringList shown;
    for (const QString &entry : std::as_const(logged)) {
        QString text = platform::displayLineBreaks(entry);
        text.replace(QChar::Nbsp, QLatin1Char(' '));
        text.replace(QChar::ParagraphSeparator, QLatin1Char('\n'));
        text.replace(QChar::LineSeparator, QLatin1Char('\n'));
        shown.append(text);
    }
    if (tracing && w.Memo1->text() != shown.join(QLatin1Char('\n')))
        std::fprintf(stderr, "log:\n%s\nexpected:\n%s\n", w.Memo1->text().toUtf8().toPercentEncoding(" \n").constData(),
                     shown.join(QLatin1Char('\n')).toUtf8().toPercentEncoding(" \n").constData());
    FUZZ_CHECK(w.Memo1->text() == shown.join(QLatin1Char('\n')));
    return 0;
}
