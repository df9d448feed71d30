// The main window's whole reply path: server bytes in arbitrary chunks
// through line assembly, the dispatcher and the session's state machine,
// mixed with what a user does (marks, selections, the command buttons while
// they are enabled, answers to the delete question, sorting).
//
// Properties: nothing crashes or trips a sanitizer; the window's count of
// checked rows matches the list; a DELE goes out only in a confirmed batch
// and for a row that is checked or selected then; and a row leaves the list
// during a read only when it is the one a DELE went out for, or was checked
// or selected in a confirmed batch (or the whole list was replaced, as a new
// listing does).
//
// Input: records of one byte, kind in the high nibble and an argument in the
// low one; a server chunk is followed by its length byte and its bytes.
//   0-5  server chunk        6  toggle the mark of row arg
//   7    select row arg (15: none)          8  "All"      9  "Selected"
//   10   Get Header   11 Read Mail   12 Delete (arg odd: answered Yes)
//   13   Mailbox (list)   14  sort by column 1 + arg % 5   15  Save & Quit

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
#include <vector>

namespace {

QApplication *application = nullptr;

struct Row {
    QPersistentModelIndex index;
    bool marked;
};

bool awaitsDelete(const TForm1 &w)
{
    return w.SessionState == ssWaitDelete && !w.PendingMailId.isEmpty();
}

bool isMarked(TForm1 &w, int row)
{
    return w.mailModel->isChecked(row) || w.mailInfo->selectedRows().contains(row);
}

std::vector<Row> snapshot(TForm1 &w)
{
    std::vector<Row> rows;
    const int pending = awaitsDelete(w) && w.PendingMailRow.isValid() ? w.PendingMailRow.row() : -1;
    const QList<int> selected = w.mailInfo->selectedRows();
    for (int r = 0; r < w.mailModel->count(); ++r) {
        const QModelIndex index = w.mailModel->index(r, MailListModel::IdColumn);
        const bool marked = w.mailModel->isChecked(r) || selected.contains(r);
        rows.push_back({QPersistentModelIndex(index), r == pending || (marked && w.DeleteConfirmed)});
    }
    return rows;
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
                 detail.toPercentEncoding(" ").left(40).constData(), int(w.SessionState), int(w.DeleteConfirmed),
                 w.PendingMailId.constData(), rows.constData());
}

const char *const kStepNames[16] = {"server", "server", "server", "server", "server", "server", "mark",
                                    "select", "All", "Selected", "Header", "Read", "Delete", "List",
                                    "Sort", "Quit"};

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
    DesktopStub desktop;
    QTemporaryDir dir;
    TForm1 w;
    w.AppDir = dir.path() + QLatin1Char('/');
    w.showViewer = [](QWidget *, const QByteArray &, const QByteArray &, const QByteArray &,
                      const QList<QByteArray> &) {};
    int resets = 0;
    QObject::connect(w.mailModel, &QAbstractItemModel::modelReset, [&resets] { ++resets; });
    // As after a connect: the greeting is awaited.
    w.SessionState = ssWaitGreeting;

    size_t at = 0;
    QByteArray lastChunk;
    while (at < size) {
        const int kind = data[at] >> 4;
        const int arg = data[at] & 0x0F;
        ++at;
        const int rows = w.mailModel->count();
        const QPersistentModelIndex pendingBefore = awaitsDelete(w) ? w.PendingMailRow : QPersistentModelIndex();
        if (kind <= 5) {
            const size_t length = at < size ? data[at++] : 0;
            const size_t take = length < size - at ? length : size - at;
            const QByteArray chunk(reinterpret_cast<const char *>(data + at), static_cast<qsizetype>(take));
            lastChunk = chunk;
            at += take;
            const std::vector<Row> before = snapshot(w);
            const int resetsBefore = resets;
            w.handleReceivedBytes(chunk);
            if (resets == resetsBefore) {
                for (const Row &row : before)
                    FUZZ_CHECK(row.index.isValid() || row.marked);
            }
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
            desktop.setNextAnswer(arg & 1 ? platform::BoxButton::Yes : platform::BoxButton::No);
            clickIfEnabled(w.btnDelete);
            desktop.clearAnswers();
        } else if (kind == 13) {
            clickIfEnabled(w.btnList);
        } else if (kind == 14) {
            w.mailInfoColumnClick(MailListModel::IdColumn + arg % 5);
        } else {
            clickIfEnabled(w.btnQuit);
        }
        trace(w, kStepNames[kind], kind <= 5 ? lastChunk : QByteArray::number(arg));
        if (awaitsDelete(w) && w.PendingMailRow != pendingBefore) {
            // A DELE went out in this step.
            FUZZ_CHECK(w.DeleteConfirmed);
            FUZZ_CHECK(w.PendingMailRow.isValid() && isMarked(w, w.PendingMailRow.row()));
        }
        FUZZ_CHECK(w.CheckedCount == w.mailModel->checkedCount());
        FUZZ_CHECK(w.CheckedCount >= 0 && w.CheckedCount <= w.mailModel->count());
    }
    return 0;
}
