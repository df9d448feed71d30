// SPDX-License-Identifier: GPL-3.0-or-later
// Figures for the mailbox list at 10,000 / 100,000 / 1,000,000 rows: adding a
// listing (with the change handler after every row), sorting by each column,
// "All" on and off, "Decode Headers" on and off, the two check actions of the
// context menu (Check All From This Sender; Check Matching by a text in any
// field, by a size, and by a text that is not ASCII in the decoded texts),
// and the memory the rows take. Each time is the median of several runs and
// includes the one layout and repaint that follows.
//
//   bench_maillist            all figures
//   bench_maillist N...       the figures for these row counts only
//   bench_maillist --memory N the memory figure for N rows (run in a fresh
//                             process by the first form, so the heap of
//                             earlier runs does not blur it)
//   bench_maillist --table N... the same, as tab-separated lines for
//                             scripts/bench.sh: TABLE, figure, count, unit,
//                             median, min, max, ratio (empty)

#include "app/CheckMatchingDialog.h"
#include "app/StatusTextBar.h"
#include "app/TForm1.h"
#include "mailbox/MailListModel.h"
#include "mailbox/MailListView.h"
#include "session/HeaderDecoding.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QSpinBox>
#include <QFile>
#include <QProcess>
#include <QPushButton>
#include <QRandomGenerator>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <vector>

namespace {

// Resident memory in bytes; the one Linux-only corner, -1 elsewhere.
qint64 residentBytes()
{
#ifdef __linux__
    QFile statm(QStringLiteral("/proc/self/statm"));
    if (!statm.open(QIODevice::ReadOnly))
        return -1;
    const QList<QByteArray> fields = statm.readAll().split(' ');
    if (fields.size() < 2)
        return -1;
    return fields[1].toLongLong() * 4096;
#else
    return -1;
#endif
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

bool g_table = false;

// One machine-readable line per figure, times in milliseconds.
void tableLine(const char *figure, int count, const std::vector<double> &seconds)
{
    if (!g_table || seconds.empty())
        return;
    const auto [low, high] = std::minmax_element(seconds.begin(), seconds.end());
    std::printf("TABLE\t%s\t%d\tms\t%.1f\t%.1f\t%.1f\t\n", figure, count, median(seconds) * 1000, *low * 1000,
                *high * 1000);
}

QList<ListingEntry> makeListing(int rows)
{
    QRandomGenerator random(1234u);
    QList<ListingEntry> entries;
    entries.reserve(rows);
    for (int i = 1; i <= rows; ++i)
        entries.append({QByteArray::number(i), QByteArray::number(300 + random.bounded(5000000))});
    return entries;
}

QByteArray randomWord(QRandomGenerator &random, int length)
{
    QByteArray word(length, 'a');
    for (char &c : word)
        c = static_cast<char>((random.bounded(4) == 0 ? 'A' : 'a') + random.bounded(26));
    return word;
}

// Every fourth subject and sender is RFC 2047 encoded, as in European mail;
// the rows get both texts, as from a TOP reply.
void fillHeaders(TForm1 &w)
{
    QRandomGenerator random(99u);
    for (int r = 0; r < w.mailModel->count(); ++r) {
        QByteArray subject = randomWord(random, 6) + ' ' + randomWord(random, 10) + ' ' + randomWord(random, 8);
        QByteArray from = randomWord(random, 7) + "@" + randomWord(random, 6) + ".example";
        if (random.bounded(4) == 0) {
            subject = "=?UTF-8?Q?" + randomWord(random, 6) + "_=C3=BCber_" + randomWord(random, 8) + "?=";
            from = "=?ISO-8859-1?Q?J=F6rg_" + randomWord(random, 6) + "?= <" + from + '>';
        }
        if (random.bounded(3) == 0)
            subject.prepend("Re: ");
        const QByteArray to = randomWord(random, 5) + "@mail.example";
        w.mailModel->setRowHeaders(r, subject, from, to,
                                   DecodeHeaders({"Subject: " + subject, "From: " + from, "To: " + to}));
    }
}

struct Window {
    QTemporaryDir dir;
    std::unique_ptr<TForm1> form;

    Window() : form(std::make_unique<TForm1>())
    {
        form->AppDir = dir.path() + QLatin1Char('/');
        form->show();
        QCoreApplication::processEvents();
    }
};

template <typename F>
double timed(F &&action)
{
    QElapsedTimer timer;
    timer.start();
    action();
    QCoreApplication::processEvents();  // the layout and repaint it caused
    return timer.nsecsElapsed() / 1e9;
}

bool check(bool ok, const char *what)
{
    if (!ok)
        std::fprintf(stderr, "CHECK FAILED: %s\n", what);
    return ok;
}

struct Figures {
    double add = 0;
    double sort[6] = {};
    double allOn = 0;
    double allOff = 0;
    double decodeOn = 0;
    double decodeOff = 0;
    double sender = 0;
    double matchText = 0;
    double matchSize = 0;
    double matchDecoded = 0;
};

Figures measure(int rows, int runs)
{
    Window window;
    TForm1 &w = *window.form;
    const QList<ListingEntry> listing = makeListing(rows);
    Figures figures;

    std::vector<double> add;
    for (int run = 0; run < runs; ++run) {
        w.mailModel->removeAllMailRows();
        // A count left from before the listing, which the added rows must correct.
        w.CheckedCount = 7;
        w.EnableMessageControls(true);
        add.push_back(timed([&] { w.mailModel->addListingRows(listing); }));
        check(w.mailModel->count() == rows && w.CheckedCount == 0 && !w.btnHeader->isEnabled(), "add");
    }
    figures.add = median(add);
    tableLine("List: add a listing", rows, add);

    fillHeaders(w);
    std::vector<std::vector<double>> sorts(6);
    for (int run = 0; run < runs; ++run) {
        // Each click is on a new column, so no sort starts from its own order.
        for (int column = 1; column <= 5; ++column)
            sorts[static_cast<size_t>(column)].push_back(timed([&] { w.mailInfoColumnClick(column); }));
    }
    static const char *const sortNames[6] = {"", "List: sort by ID", "List: sort by Subject", "List: sort by From",
                                             "List: sort by To", "List: sort by Bytes"};
    for (int column = 1; column <= 5; ++column) {
        figures.sort[column] = median(sorts[static_cast<size_t>(column)]);
        tableLine(sortNames[column], rows, sorts[static_cast<size_t>(column)]);
    }
    check(w.mailModel->count() == rows, "sort keeps rows");

    std::vector<double> on;
    std::vector<double> off;
    for (int run = 0; run < runs; ++run) {
        on.push_back(timed([&] { w.AllMail->setChecked(true); }));
        check(w.CheckedCount == rows && w.btnHeader->isEnabled(), "All on");
        off.push_back(timed([&] { w.AllMail->setChecked(false); }));
        check(w.CheckedCount == 0 && !w.btnHeader->isEnabled(), "All off");
    }
    figures.allOn = median(on);
    figures.allOff = median(off);
    tableLine("List: All on", rows, on);
    tableLine("List: All off", rows, off);

    // The switch shows the other texts of every row; rows sorted by subject
    // (the last sort above was by Bytes: sort by subject again first).
    w.mailInfoColumnClick(2);
    int encodedRow = -1;
    for (int r = 0; r < rows && encodedRow < 0; ++r) {
        if (w.mailModel->subItem(r, MailRow::Subject).contains("=?"))
            encodedRow = r;
    }
    const auto shownSubject = [&] {
        return w.mailModel->data(w.mailModel->index(encodedRow, MailListModel::SubjectColumn), Qt::DisplayRole)
            .toString();
    };
    std::vector<double> decodeOn;
    std::vector<double> decodeOff;
    for (int run = 0; run < runs; ++run) {
        decodeOn.push_back(timed([&] { w.DecodeHeaders1->setChecked(true); }));
        check(encodedRow >= 0 && !shownSubject().contains(QStringLiteral("=?")), "Decode on");
        decodeOff.push_back(timed([&] { w.DecodeHeaders1->setChecked(false); }));
        check(shownSubject().contains(QStringLiteral("=?")), "Decode off");
    }
    figures.decodeOn = median(decodeOn);
    figures.decodeOff = median(decodeOff);
    tableLine("List: Decode Headers on", rows, decodeOn);
    tableLine("List: Decode Headers off", rows, decodeOff);

    // The check actions, from no mark: the marks they set are part of the
    // time. Every 20th row is from one sender.
    for (int r = 0; r < rows; r += 20)
        w.mailModel->setRowHeaders(r, "Weekly offer", "Offers <Deals@Shop.example>", "me@mail.example");
    const auto uncheckAll = [&w] {
        w.AllMail->setChecked(true);
        w.AllMail->setChecked(false);
    };
    std::vector<double> sender;
    for (int run = 0; run < runs; ++run) {
        uncheckAll();
        w.mailInfoContextPopup(w.mailModel->index(0, MailListModel::FromColumn));
        sender.push_back(timed([&] { w.CheckSameSender1->trigger(); }));
        check(w.CheckedCount == (rows + 19) / 20, "Check All From This Sender");
    }
    CheckMatchingDialog *dialog = w.checkMatchingDialog;
    // Opened and filled in first; OK is timed. Returns how many rows it checked.
    const auto matching = [&](const QString &text, int field, int minKB, std::vector<double> &times) {
        uncheckAll();
        w.CheckMatching1->trigger();
        dialog->matchText->setText(text);
        dialog->matchField->setCurrentIndex(field);
        dialog->matchMinKB->setValue(minKB);
        times.push_back(timed([&] { dialog->buttons->button(QDialogButtonBox::Ok)->click(); }));
        return w.CheckedCount;
    };
    std::vector<double> matchText, matchSize, matchDecoded;
    int byText = 0, bySize = 0, byDecoded = 0;
    for (int run = 0; run < runs; ++run) {
        byText = matching(QStringLiteral("E"), 0, 0, matchText);
        bySize = matching(QString(), 0, 1000, matchSize);
    }
    w.DecodeHeaders1->setChecked(true);
    for (int run = 0; run < runs; ++run)
        byDecoded = matching(QStringLiteral("\u00dcBER"), 1, 0, matchDecoded);
    w.DecodeHeaders1->setChecked(false);
    check(byText > rows / 2 && bySize > rows / 2 && byDecoded > rows / 8 && byDecoded < rows / 2, "Check Matching");
    if (!g_table)
        std::printf("(check actions checked: %d from one sender, %d by text, %d by size, %d by a decoded text)\n",
                    (rows + 19) / 20, byText, bySize, byDecoded);
    figures.sender = median(sender);
    figures.matchText = median(matchText);
    figures.matchSize = median(matchSize);
    figures.matchDecoded = median(matchDecoded);
    tableLine("List: Check All From This Sender", rows, sender);
    tableLine("List: Check Matching, a text in any field", rows, matchText);
    tableLine("List: Check Matching, a size", rows, matchSize);
    tableLine("List: Check Matching, a decoded text not ASCII", rows, matchDecoded);
    return figures;
}

// Prints "<rows only> <rows with headers>" in MB above the empty window.
int memoryRun(int rows)
{
    Window window;
    TForm1 &w = *window.form;
    QList<ListingEntry> listing = makeListing(rows);
    const qint64 empty = residentBytes();
    w.mailModel->addListingRows(listing);
    listing.clear();  // the rows share the listing's texts; let only the rows hold them
    QCoreApplication::processEvents();
    const qint64 withRows = residentBytes();
    fillHeaders(w);
    QCoreApplication::processEvents();
    const qint64 withHeaders = residentBytes();
    std::printf("%.1f %.1f\n", (withRows - empty) / 1048576.0, (withHeaders - empty) / 1048576.0);
    return 0;
}

QString memoryFigure(const QString &program, int rows)
{
    QProcess child;
    child.start(program, {QStringLiteral("--memory"), QString::number(rows)});
    if (!child.waitForFinished(600000) || child.exitCode() != 0)
        return QStringLiteral("n/a");
    return QString::fromLatin1(child.readAllStandardOutput().trimmed()).replace(QLatin1Char(' '), QLatin1String(" / "));
}

}  // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() == 3 && args[1] == QLatin1String("--memory"))
        return memoryRun(args[2].toInt());

    qsizetype first = 1;
    if (args.size() > 1 && args[1] == QLatin1String("--table")) {
        g_table = true;
        first = 2;
    }
    if (!g_table) {
        std::printf("Mailbox list, offscreen; seconds are medians, memory is MB above the empty window\n");
        std::printf("(rows only / with Subject, From and To filled).\n\n");
        std::printf("%9s %4s %8s %8s %8s %8s %8s %8s %8s %8s %8s %8s %8s %8s %8s %8s  %s\n", "rows", "runs", "add",
                    "sort ID", "Subject", "From", "To", "Bytes", "All on", "All off", "Dec on", "Dec off", "Sender",
                    "M text", "M size", "M dec", "memory MB");
    }
    QList<int> counts{10000, 100000, 1000000};
    if (args.size() > first) {
        counts.clear();
        for (qsizetype i = first; i < args.size(); ++i)
            counts.append(args[i].toInt());
    }
    Figures at100k;
    bool have100k = false;
    for (int rows : counts) {
        const int runs = rows >= 1000000 ? 3 : 5;
        const Figures f = measure(rows, runs);
        if (rows == 100000) {
            at100k = f;
            have100k = true;
        }
        const QString memory = memoryFigure(args[0], rows);
        if (g_table) {
            std::printf("TABLE\tList: memory above empty window (rows / with headers)\t%d\tMB\t%s\t\t\t\n", rows,
                        qPrintable(memory));
            std::fflush(stdout);
            continue;
        }
        std::printf("%9d %4d %8.4f %8.4f %8.4f %8.4f %8.4f %8.4f %8.4f %8.4f %8.4f %8.4f %8.4f %8.4f %8.4f %8.4f  %s\n",
                    rows, runs, f.add, f.sort[1], f.sort[2], f.sort[3], f.sort[4], f.sort[5], f.allOn, f.allOff,
                    f.decodeOn, f.decodeOff, f.sender, f.matchText, f.matchSize, f.matchDecoded, qPrintable(memory));
        std::fflush(stdout);
    }
    if (!have100k || g_table)
        return 0;
    const double slowestSort = *std::max_element(at100k.sort + 1, at100k.sort + 6);
    const double slowestCheck =
        std::max({at100k.sender, at100k.matchText, at100k.matchSize, at100k.matchDecoded});
    std::printf("\nTargets at 100,000 rows: add < 0.5 s: %s; every sort < 0.3 s: %s; All < 0.5 s: %s; "
                "Decode Headers switch < 0.5 s: %s; each check action < 0.2 s: %s\n",
                at100k.add < 0.5 ? "met" : "NOT met", slowestSort < 0.3 ? "met" : "NOT met",
                std::max(at100k.allOn, at100k.allOff) < 0.5 ? "met" : "NOT met",
                std::max(at100k.decodeOn, at100k.decodeOff) < 0.5 ? "met" : "NOT met",
                slowestCheck < 0.2 ? "met" : "NOT met");
    return 0;
}
