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
// keeps in flight, 1 to 4.
// The user presses command buttons at any time, also while replies are
// owed: each reply must act on the row its own command went out for.
//
// Properties, for both: nothing crashes or trips a sanitizer; the window's
// count of checked rows matches the list; every DELE goes out for a row of
// the batch confirmed by the last Yes, marked at that Yes and, if it was
// checked then, not unchecked since; a row leaves the list during a read
// only when a DELE went out for it (or the whole list was replaced, as a new
// listing does); QUIT goes out only from Save & Quit.
// With the honest server also: every Subject, From and To a row shows comes
// from the TOP reply for that row's own message, and the viewer shows the
// lines of the message the read went out for.
//
// Input after the first byte: records of one byte, kind in the high nibble
// and an argument in the low one.
//   0-5  honest: answer the oldest unanswered command (arg bit 0: refuse a
//        TOP or DELE; the reply is cut into reads at the positions given by
//        the next two bytes); hostile: a raw chunk, its length byte and bytes
//   6  toggle the mark of row arg       7  select row arg (15: none)
//   8  "All"   9  "Selected"   10 Get Header   11 Read Mail
//   12 Delete (arg odd: answered Yes)   13 Refresh List
//   14 sort by column 1 + arg % 5       15 Save & Quit
// With the honest server the records are preceded by the mailbox: a count
// byte (1 + low 3 bits messages), then per message a length byte and its
// bytes, cut into lines at each LF (a CR before the LF belongs to the break).

#include "FuzzCheck.h"
#include "app/TForm1.h"
#include "mailbox/MailListModel.h"
#include "mailbox/MailListView.h"
#include "support/DesktopStub.h"

#include <QApplication>
#include <QCheckBox>
#include <QItemSelectionModel>
#include <QPersistentModelIndex>
#include <QPushButton>
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
    // Whether CAPA lists PIPELINING.
    bool pipelines = false;
    // The message a read is being answered for (empty when none).
    QByteArray reading;

    void sent(const QByteArray &text)
    {
        for (const QByteArray &line : text.split('\n')) {
            if (!line.isEmpty())
                commands.push_back(line.endsWith('\r') ? line.chopped(1) : line);
        }
    }

    QByteArray answer(bool refuse)
    {
        if (commands.empty())
            return {};
        const QByteArray command = commands.front();
        commands.pop_front();
        const QList<QByteArray> words = command.split(' ');
        const QByteArray verb = words.value(0).toUpper();
        const auto found = mailbox.find(words.value(1));
        const bool exists = found != mailbox.end() && !found->second.deleted;
        reading.clear();
        if (verb == "LIST") {
            QByteArray reply = "+OK\r\n";
            for (const auto &[id, message] : mailbox) {
                if (!message.deleted)
                    reply += id + ' ' + QByteArray::number(message.lines.size() * 10 + 1) + "\r\n";
            }
            return reply + ".\r\n";
        }
        if (verb == "TOP" && exists && !refuse) {
            if (words.value(2) == "100")
                reading = words.value(1);
            QByteArray reply = "+OK\r\n";
            for (const QByteArray &line : found->second.lines)
                reply += (line.startsWith('.') ? "." + line : line) + "\r\n";
            return reply + ".\r\n";
        }
        if (verb == "DELE" && exists && !refuse) {
            found->second.deleted = true;
            return "+OK\r\n";
        }
        if (verb == "CAPA" && pipelines)
            return "+OK\r\nUSER\r\nPIPELINING\r\n.\r\n";
        if (verb == "USER" || verb == "PASS" || verb == "QUIT")
            return "+OK\r\n";
        return "-ERR\r\n";
    }
};

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
        rows += ' ' + w.mailModel->subItem(r, MailRow::Id) + (w.mailModel->isChecked(r) ? "+" : "")
            + (selected.contains(r) ? "*" : "");
    std::fprintf(stderr, "%-8s %-40s state %2d confirmed %d pending '%s' rows:%s\n", step,
                 detail.toPercentEncoding(" ").left(40).constData(), int(w.session->state()), int(w.session->deleteConfirmed()),
                 w.session->commandRow().id.constData(), rows.constData());
}

const char *const kStepNames[16] = {"server", "server", "server", "server", "server", "server", "mark",
                                    "select", "All",    "Selected", "Header", "Read",  "Delete", "List",
                                    "Sort",   "Quit"};

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
    // As after a connect: the greeting is awaited.
    w.session->expectGreeting();

    bool answerYes = false;
    std::vector<Confirmed> confirmed;
    desktop.whileBoxOpen = [&](const platform::MessageBoxRequest &) {
        // The marks at the Yes are the batch.
        if (!answerYes)
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
    QObject::connect(w.mailModel, &QAbstractItemModel::dataChanged, [&](const QModelIndex &, const QModelIndex &,
                                                                          const QList<int> &) {
        std::erase_if(confirmed, [&](const Confirmed &c) { return c.checked && !isChecked(w, c.row); });
    });

    int resets = 0;
    QObject::connect(w.mailModel, &QAbstractItemModel::modelReset, [&resets] { ++resets; });
    std::vector<QPersistentModelIndex> deleteSent;
    bool quitting = false;
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
        if (text.startsWith("QUIT"))
            FUZZ_CHECK(quitting);
        if (honest)
            server.sent(text);
    };
    w.showViewer = [&](QWidget *, const QByteArray &to, const QByteArray &from, const QByteArray &subject,
                       const QList<QByteArray> &lines) {
        if (!honest || server.reading.isEmpty())
            return;
        const QList<QByteArray> expected = readLines(server.mailbox[server.reading].lines);
        if (tracing && lines != expected)
            std::fprintf(stderr, "viewer shows %s\nexpected     %s\n", lines.join("|").toPercentEncoding(" |").constData(),
                         expected.join("|").toPercentEncoding(" |").constData());
        FUZZ_CHECK(lines == expected);
        FUZZ_CHECK((Fields{subject, from, to}) == scan(expected));
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
        for (int r = 0; r < rows; ++r)
            before.emplace_back(w.mailModel->index(r, MailListModel::IdColumn));
        const int resetsBefore = resets;
        if (kind <= 5 && honest) {
            lastChunk = server.answer(arg & 1);
            // Cut into up to three reads where the input says.
            qsizetype cut1 = at < size ? data[at++] : 0;
            qsizetype cut2 = at < size ? data[at++] : 0;
            cut1 = std::min(cut1, lastChunk.size());
            cut2 = std::clamp(cut1 + cut2, cut1, lastChunk.size());
            w.session->handleReceivedBytes(lastChunk.left(cut1));
            w.session->handleReceivedBytes(lastChunk.mid(cut1, cut2 - cut1));
            w.session->handleReceivedBytes(lastChunk.mid(cut2));
        } else if (kind <= 5) {
            const size_t length = at < size ? data[at++] : 0;
            const size_t take = length < size - at ? length : size - at;
            lastChunk = QByteArray(reinterpret_cast<const char *>(data + at), static_cast<qsizetype>(take));
            at += take;
            w.session->handleReceivedBytes(lastChunk);
        } else if (kind == 6) {
            if (rows > 0)
                w.mailModel->setRowChecked(arg % rows, !w.mailModel->isChecked(arg % rows));
        } else if (kind == 7) {
            if (arg == 15 || rows == 0)
                w.mailInfo->selectionModel()->clearSelection();
            else
                w.mailInfo->selectionModel()->select(w.mailModel->index(arg % rows, MailListModel::IdColumn),
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
            clickIfEnabled(w.btnDelete);
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
        trace(w, kStepNames[kind], kind <= 5 ? lastChunk : QByteArray::number(arg));
        if (kind <= 5 && resets == resetsBefore) {
            for (const QPersistentModelIndex &row : before) {
                if (!row.isValid())
                    FUZZ_CHECK(std::find(deleteSent.begin(), deleteSent.end(), row) != deleteSent.end());
            }
        }
        FUZZ_CHECK(w.CheckedCount == w.mailModel->checkedCount());
        FUZZ_CHECK(w.CheckedCount >= 0 && w.CheckedCount <= w.mailModel->count());
        if (!honest)
            continue;
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
    return 0;
}
