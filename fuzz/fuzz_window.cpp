// SPDX-License-Identifier: GPL-3.0-or-later
// The main window's whole conversation: what a server sends, in arbitrary
// chunks, through line assembly, the dispatcher and the session's state
// machine, mixed with what a user does (marks, selections, the command
// buttons while they are enabled, answers to the delete question, sorting).
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
// out only from Save & Quit; the console's log is every echo and every read
// in the order they happened.
// With the honest server also: every Subject, From and To a row shows comes
// from the reply for that row's own message; a read shows the lines of the
// message it went out for; a listing leaves the list holding exactly the
// server's messages not deleted.
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
//   14 sort by column 1 + arg % 5       15 Save & Quit
// With the honest server the records are preceded by the mailbox: a count
// byte (1 + low 3 bits messages), then per message a length byte and its
// bytes, cut into lines at each LF (a CR before the LF belongs to the break).

#include "FuzzCheck.h"
#include "app/TForm1.h"
#include "controls/ConsoleView.h"
#include "mailbox/MailListModel.h"
#include "mailbox/MailListView.h"
#include "support/DesktopStub.h"

#include <QApplication>
#include <QCheckBox>
#include <QItemSelectionModel>
#include <QLineEdit>
#include <QPersistentModelIndex>
#include <QPushButton>
#include <QSet>
#include <QTemporaryDir>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <deque>
#include <map>
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
                                    "All",    "Selected", "Header", "Read",   "Delete", "List", "Sort", "Quit"};

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
    desktop.whileBoxOpen = [&](const platform::MessageBoxRequest &) {
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

    int resets = 0;
    QObject::connect(w.mailModel, &QAbstractItemModel::modelReset, [&resets] { ++resets; });
    std::vector<QPersistentModelIndex> deleteSent;
    bool quitting = false;
    bool typing = false;
    // What the engine put on the console, in order.
    QStringList logged;
    QObject::connect(w.session, &Pop3Session::consoleEntry, [&](const QString &entry) { logged.append(entry); });
    // Messages whose DELE the server accepted, and listings shown, in a step.
    QList<QByteArray> deletedNow;
    bool listedNow = false;
    QObject::connect(w.session, &Pop3Session::mailDeleted, [&](const MailRowRef &row) { deletedNow.append(row.id); });
    QObject::connect(w.session, &Pop3Session::mailListed, [&] { listedNow = true; });
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
        if (text.startsWith("DELE ")) {
            deleteSent.push_back(target.row);
            const auto it = std::find_if(confirmed.begin(), confirmed.end(),
                                         [&](const Confirmed &c) { return c.row == target.row; });
            FUZZ_CHECK(w.session->deleteConfirmed());
            if (tracing) {
                std::fprintf(stderr, "DELE for row %d; confirmed rows:", target.row.row());
                for (const Confirmed &c : confirmed)
                    std::fprintf(stderr, " %d%s", c.row.row(), c.checked ? "+" : "");
                std::fprintf(stderr, "\n");
            }
            FUZZ_CHECK(target.row.isValid() && it != confirmed.end());
            FUZZ_CHECK(!it->checked || isChecked(w, it->row));
            FUZZ_CHECK(text == "DELE " + w.mailModel->subItem(target.row.row(), MailRow::Id) + "\r\n");
        }
        if (text.startsWith("QUIT") && !typing)
            FUZZ_CHECK(quitting);
        if (text.startsWith("user ") && !typing)
            FUZZ_CHECK(!(honest && server.offersTls));
        if (honest)
            server.sent(text);
    };
    w.showViewer = [&](QWidget *, const ViewerMessage &message, const auto &) {
        FUZZ_CHECK((Fields{message.subject, message.from, message.to}) == scan(message.lines));
    };

    if (honest)
        w.session->handleReceivedBytes("+OK ready\r\n");
    QByteArray lastChunk;
    while (at < size) {
        const int kind = data[at] >> 4;
        const int arg = data[at] & 0x0F;
        ++at;
        const int rows = w.mailModel->count();
        std::vector<QPersistentModelIndex> before;
        QList<QByteArray> beforeIds;
        for (int r = 0; r < rows; ++r) {
            before.emplace_back(w.mailModel->index(r, MailListModel::IdColumn));
            beforeIds.append(w.mailModel->subItem(r, MailRow::Id));
        }
        const int resetsBefore = resets;
        deletedNow.clear();
        listedNow = false;
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
                w.mailInfo->selectionModel()->select(w.mailModel->index(arg % rows, MailListModel::IdColumn),
                                                     QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
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
        if (resets == resetsBefore) {
            for (size_t r = 0; r < before.size(); ++r) {
                if (before[r].isValid())
                    continue;
                FUZZ_CHECK(kind <= 4);
                FUZZ_CHECK(std::find(deleteSent.begin(), deleteSent.end(), before[r]) != deleteSent.end());
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
