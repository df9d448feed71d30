// SPDX-License-Identifier: GPL-3.0-or-later
// Figures for the POP3 conversation of the main window against a real Dovecot
// server:
//
//   - Get Header over N checked rows, and a delete batch over N rows, driven
//     through a real TForm1, shown (offscreen) with its list exposed, once
//     with Pipelining=1 and once with Pipelining=0 in the settings file it
//     loads; beside them two reference clients sending the same TOP / DELE
//     commands: one at a time, waiting for each reply (the floor without
//     pipelining), and all written at once before the replies are read (the
//     floor with it). All of it on loopback and through a proxy that delays
//     each direction by D ms (default 25: a 50 ms round trip). Through the
//     proxy the window with Pipelining=0 and the sequential client run over
//     P rows only (each row costs a round trip); their time per row is what
//     compares, and the ratios are of times per row;
//   - a listing of M messages, from LIST sent to the last row in the list;
//   - with --auto: the automatic header batch (Get Headers Automatically)
//     over A messages through the proxy against Get Header over the same
//     rows (All, then Get Header) in the same kind of window, each timed from
//     its first command (CAPA) to its last reply handled.
//
//   bench_session                 N = 1,000, P = 200 and M = 10,000
//   bench_session --large         M = 100,000 as well
//   bench_session --rows N --proxy-rows P --listing M --runs R --proxy-runs R2
//   bench_session --sequential-rows S
//                                 the one-at-a-time cases on loopback over S
//                                 rows only (default: N)
//   bench_session --delay D       the proxy's delay in each direction, in ms
//   bench_session --no-proxy      the batches on loopback only
//   bench_session --client-window W
//                                 the pipelined client keeps at most W
//                                 commands unanswered (default: all at once)
//   bench_session --batches-only  no listing figure
//   bench_session --listing-only --listing M
//   bench_session --auto [--auto-rows A]
//                                 the automatic batch against Get Header
//                                 through the proxy, A = 100,000 (only this
//                                 figure)
//   bench_session --memory        the heap over a session of 10,000 header
//                                 fetches (ten Get Header batches over 1,000
//                                 rows) and 1,000 reads, against the log the
//                                 window keeps
//   bench_session --table ...     the figures as tab-separated lines for
//                                 scripts/bench.sh: TABLE, figure, count, unit,
//                                 median, min, max (and for the batches:
//                                 BATCH, batch, link, who, mode, rows, median,
//                                 min, max in ms, per row in us, the window's
//                                 time per row over the sequential and over
//                                 the pipelined client's)
//
// Each figure is the median of R runs (default 3; through the proxy R2,
// default R). Without Dovecot the benchmark says so and exits 0.

#include "DelayProxy.h"
#include "ReferenceClient.h"
#include "RunUntil.h"
#include "app/TForm1.h"
#include "controls/ConsoleView.h"
#include "mailbox/MailListModel.h"
#include "session/TClientSocket.h"
#include "support/DovecotServer.h"
#include "support/FormFixture.h"
#include "viewer/TForm2.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QFile>
#include <QLineEdit>
#include <QtTest>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#ifdef __GLIBC__
#include <malloc.h>
#endif

namespace {

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

bool g_table = false;

// One machine-readable line per figure, times in milliseconds.
void tableLine(const char *figure, int count, const std::vector<double> &seconds, double ratio = 0)
{
    if (!g_table || seconds.empty())
        return;
    const auto [low, high] = std::minmax_element(seconds.begin(), seconds.end());
    std::printf("TABLE\t%s\t%d\tms\t%.1f\t%.1f\t%.1f\t", figure, count, median(seconds) * 1000, *low * 1000,
                *high * 1000);
    if (ratio > 0)
        std::printf("%.2f", ratio);
    std::printf("\n");
}

// A small message: what the listing figure needs is many of them.
QByteArray smallMessage(int i)
{
    return "From: a" + QByteArray::number(i) + "@example.org\nTo: b@example.org\nSubject: note " +
           QByteArray::number(i) + "\n\nbody line\n";
}

// A main window as the user has it: shown and exposed, so the list lays out
// and paints the rows each step changes, with the fields set for a server on
// loopback. With pipelining 0 or 1 the settings file the window loads at its
// first show says whether its batches may keep several commands in flight.
struct Window {
    FormFixture f;
    TForm1 &w;
    bool exposed = false;

    Window(const DovecotServer &server, quint16 port, bool shown, int pipelining = -1) : w(*f.form)
    {
        if (pipelining >= 0) {
            QFile ini(f.dir.filePath(QStringLiteral("Tarnbeck.ini")));
            if (ini.open(QIODevice::WriteOnly))
                ini.write("[Default]\r\nPipelining=" + QByteArray::number(pipelining) + "\r\n");
        }
        // Showing loads the settings, which fill the fields: show first.
        if (shown) {
            w.show();
            exposed = QTest::qWaitForWindowExposed(&w);
        }
        w.txtServer->setEditText(QStringLiteral("127.0.0.1"));
        w.txtPort->setText(QString::number(port));
        w.txtUID->setText(server.user());
        w.txtPWD->setText(server.password());
        w.showViewer = [](QWidget *, const ViewerMessage &, const auto &) {};
    }

    bool until(const std::function<bool()> &done, int ms = 600000) { return runUntil(done, ms); }

    bool connectAndList(int rows)
    {
        w.btnConnClick();
        return until([&] { return w.session->state() == ssIdle && w.mailModel->count() == rows; });
    }

    // Checks the first rows, or all of them through the All box.
    void checkFirst(int rows)
    {
        if (rows == w.mailModel->count()) {
            w.AllMail->setChecked(true);
            return;
        }
        for (int row = 0; row < rows; ++row)
            w.mailModel->setRowChecked(row, true);
    }

    void disconnect()
    {
        // No QUIT: the server forgets the deletions of this session.
        if (w.cSock->Active())
            w.btnConnClick();
    }
};

double cpuSeconds()
{
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) / 1e9;
}

double seconds(const QElapsedTimer &timer)
{
    return double(timer.nsecsElapsed()) / 1e9;
}

// One column of the batch figures: who sends the commands, over which link,
// on how many rows, and the times of each run.
struct BatchCase {
    enum Who { Window, SequentialClient, PipelinedClient };
    Who who;
    int pipelining;  // the window's setting
    bool proxied;
    quint16 port;
    int rows;
    std::vector<double> headers, deletes, windowCpu;
    // The window's longest stall in each run: the largest gap between the
    // ticks of a 10 ms timer while the batch ran.
    std::vector<double> headerStalls, deleteStalls;

    QByteArray mode(int clientWindow) const
    {
        switch (who) {
        case Window:
            return "Pipelining=" + QByteArray::number(pipelining);
        case SequentialClient:
            return "one at a time";
        case PipelinedClient:
            return clientWindow > 0 ? QByteArray::number(clientWindow) + " in flight" : "all at once";
        }
        return {};
    }
    const char *name() const
    {
        return who == Window ? "window" : who == SequentialClient ? "sequential client" : "pipelined client";
    }
};

// Get Header and then the delete batch over the case's rows of the listing
// (all of total), driven through the window's own buttons.
// The longest gap between the ticks of a 10 ms timer from its start: how
// long the window's event loop can keep the user waiting.
class StallMeter {
public:
    StallMeter()
    {
        ticker.setInterval(10);
        QObject::connect(&ticker, &QTimer::timeout, [this] { tick(); });
    }
    void start()
    {
        longest = 0;
        since.start();
        ticker.start();
    }
    double stop()
    {
        tick();
        ticker.stop();
        return longest;
    }

private:
    void tick()
    {
        longest = std::max(longest, seconds(since));
        since.start();
    }
    QTimer ticker;
    QElapsedTimer since;
    double longest = 0;
};

// The process's peak resident memory in MB (VmHWM), or -1.
double peakResidentMb()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').value(0).toDouble() / 1024.0;
    }
    return -1;
}

bool runWindowCase(const DovecotServer &server, int total, BatchCase &c)
{
    Window win(server, c.port, true, c.pipelining);
    if (!win.exposed) {
        std::printf("the window was not exposed\n");
        return false;
    }
    if (!win.connectAndList(total)) {
        std::printf("could not log in and list %d rows through port %u\n", total, unsigned(c.port));
        return false;
    }
    win.checkFirst(c.rows);
    QElapsedTimer timer;
    StallMeter stalls;
    const double cpu0 = cpuSeconds();
    timer.start();
    stalls.start();
    win.w.btnHeaderClick();
    if (!win.until([&] { return win.w.session->state() == ssIdle && win.w.CheckedCount == 0; })) {
        std::printf("the Get Header batch did not finish\n");
        return false;
    }
    c.headers.push_back(seconds(timer));
    c.headerStalls.push_back(stalls.stop());
    c.windowCpu.push_back(cpuSeconds() - cpu0);
    // The first window case comes first in the process: its peak is that of
    // a window with every row listed and headed.
    if (!g_table && c.headers.size() == 1 && c.pipelining == 1 && !c.proxied)
        std::printf("  (peak resident memory with %d rows listed and %d headed: %.1f MB)\n", total, c.rows,
                    peakResidentMb());

    win.checkFirst(c.rows);
    win.f.desktop.setNextAnswer(platform::BoxButton::Yes);
    timer.start();
    stalls.start();
    win.w.btnDeleteClick();
    if (!win.until([&] { return !win.w.session->deleteConfirmed(); }) || win.w.mailModel->count() != total - c.rows) {
        std::printf("the delete batch did not finish: %d of %d rows left\n", win.w.mailModel->count(), total);
        return false;
    }
    c.deletes.push_back(seconds(timer));
    c.deleteStalls.push_back(stalls.stop());
    win.disconnect();
    return true;
}

bool runClientCase(const DovecotServer &server, int total, int clientWindow, BatchCase &c)
{
    ReferenceClient client;
    if (!client.login(c.port, server.user().toStdString(), server.password().toStdString())) {
        std::printf("the reference client could not log in: %s\n", client.why().c_str());
        return false;
    }
    const int window = c.who == BatchCase::SequentialClient ? 1 : clientWindow;
    const double headers = client.batch(ReferenceClient::topCommands(c.rows), true, window);
    const double deletes = headers < 0 ? -1 : client.batch(ReferenceClient::deleCommands(c.rows), false, window);
    if (deletes < 0) {
        std::printf("the reference client's batch failed: %s\n", client.why().c_str());
        return false;
    }
    // Every DELE took effect: the server counts only the rest.
    const int left = client.messageCount();
    if (left != total - c.rows) {
        std::printf("after the reference client's deletions STAT counts %d of %d messages: %s\n", left, total,
                    client.why().c_str());
        return false;
    }
    c.headers.push_back(headers);
    c.deletes.push_back(deletes);
    client.abort();
    return true;
}

struct BatchOptions {
    int rows = 1000;
    int proxyRows = 200;
    // The one-at-a-time cases on loopback (0: all rows).
    int sequentialRows = 0;
    int runs = 3;
    int proxyRuns = 3;
    int delayMs = 25;
    int clientWindow = 0;
    bool proxy = true;
};

// The figures of one batch kind for every case: median, spread, time per
// row, and for the window its time per row against each client's on the
// same link.
void printBatches(const char *batch, const std::vector<BatchCase> &cases, std::vector<double> BatchCase::*times,
                  std::vector<double> BatchCase::*stalls, const BatchOptions &o)
{
    const auto perRow = [&](const BatchCase &c) { return median(c.*times) / c.rows; };
    const auto client = [&](const BatchCase &c, BatchCase::Who who) -> const BatchCase * {
        for (const BatchCase &other : cases) {
            if (other.who == who && other.proxied == c.proxied && !(other.*times).empty())
                return &other;
        }
        return nullptr;
    };
    if (!g_table)
        std::printf("%s\n", batch);
    for (const BatchCase &c : cases) {
        const std::vector<double> &t = c.*times;
        if (t.empty())
            continue;
        const QByteArray link = c.proxied ? QByteArray::number(2 * o.delayMs) + " ms RTT proxy" : "loopback";
        double toSequential = 0, toPipelined = 0;
        if (c.who == BatchCase::Window) {
            if (const BatchCase *s = client(c, BatchCase::SequentialClient))
                toSequential = perRow(c) / perRow(*s);
            if (const BatchCase *p = client(c, BatchCase::PipelinedClient))
                toPipelined = perRow(c) / perRow(*p);
        }
        const auto [low, high] = std::minmax_element(t.begin(), t.end());
        if (g_table) {
            // BATCH, batch, link, who, mode, rows, median, min, max (ms),
            // per row (µs), ratios per row to the sequential and the pipelined client.
            std::printf("BATCH\t%s\t%s\t%s\t%s\t%d\t%.1f\t%.1f\t%.1f\t%.1f\t", batch, link.constData(), c.name(),
                        c.mode(o.clientWindow).constData(), c.rows, median(t) * 1000, *low * 1000, *high * 1000,
                        perRow(c) * 1e6);
            if (toSequential > 0)
                std::printf("%.2f", toSequential);
            std::printf("\t");
            if (toPipelined > 0)
                std::printf("%.2f", toPipelined);
            std::printf("\n");
            continue;
        }
        std::printf("  %-18s %-18s %-14s %5d rows %10.1f ms (%.1f-%.1f) %9.1f us/row", link.constData(), c.name(),
                    c.mode(o.clientWindow).constData(), c.rows, median(t) * 1000, *low * 1000, *high * 1000,
                    perRow(c) * 1e6);
        if (toSequential > 0)
            std::printf("   x%.2f of sequential, x%.2f of pipelined", toSequential, toPipelined);
        if (!(c.*stalls).empty())
            std::printf("   longest stall %.0f ms", *std::max_element((c.*stalls).begin(), (c.*stalls).end()) * 1000);
        std::printf("\n");
    }
}

// Get Header and the delete batch, side by side in one run: the window with
// pipelining allowed and with it off, a client that sends one command at a
// time and one that writes the whole batch before it reads; on loopback and
// through a proxy that delays each direction. One-at-a-time cases through
// the proxy run over fewer rows (a 50 ms round trip per row); their time
// per row is what compares.
bool benchBatches(DovecotServer &server, const BatchOptions &o)
{
    std::unique_ptr<DelayProxy> proxy;
    if (o.proxy) {
        proxy = std::make_unique<DelayProxy>(server.port(), o.delayMs);
        std::string why;
        if (!proxy->start(&why)) {
            std::printf("the delaying proxy did not start: %s\n", why.c_str());
            return false;
        }
    }
    std::vector<BatchCase> cases;
    for (bool proxied : {false, true}) {
        if (proxied && !proxy)
            continue;
        const quint16 port = proxied ? proxy->port() : server.port();
        const int oneAtATime = proxied                ? std::min(o.rows, o.proxyRows)
                               : o.sequentialRows > 0 ? std::min(o.rows, o.sequentialRows)
                                                      : o.rows;
        cases.push_back({BatchCase::Window, 1, proxied, port, o.rows, {}, {}, {}, {}, {}});
        cases.push_back({BatchCase::Window, 0, proxied, port, oneAtATime, {}, {}, {}, {}, {}});
        cases.push_back({BatchCase::SequentialClient, 0, proxied, port, oneAtATime, {}, {}, {}, {}, {}});
        cases.push_back({BatchCase::PipelinedClient, 0, proxied, port, o.rows, {}, {}, {}, {}, {}});
    }
    const int runs = std::max(o.runs, o.proxy ? o.proxyRuns : 0);
    for (int run = 0; run < runs; ++run) {
        for (BatchCase &c : cases) {
            if (run >= (c.proxied ? o.proxyRuns : o.runs))
                continue;
            const bool ok = c.who == BatchCase::Window ? runWindowCase(server, o.rows, c)
                                                       : runClientCase(server, o.rows, o.clientWindow, c);
            if (!ok)
                return false;
            // Let the server drop the session (its deletions are not committed).
            QTest::qWait(100);
        }
    }
    if (proxy && proxy->failed() > 0)
        std::printf("the proxy could not reach the server %d times\n", proxy->failed());
    printBatches("Get Header", cases, &BatchCase::headers, &BatchCase::headerStalls, o);
    printBatches("Delete batch", cases, &BatchCase::deletes, &BatchCase::deleteStalls, o);
    if (!g_table)
        std::printf("  (the window's own processor time in Get Header on loopback, Pipelining=1: %.1f ms)\n",
                    median(cases.front().windowCpu) * 1000);
    return true;
}

// Fills the server with small messages and starts it; says why not.
bool startSmallMailbox(DovecotServer &server, int messages)
{
    for (int i = 0; i < messages; ++i) {
        if (server.addMessage(smallMessage(i)).isEmpty()) {
            std::printf("could not write message %d\n", i);
            return false;
        }
    }
    QString why;
    if (!server.start(&why)) {
        std::printf("Dovecot did not start: %s\n", qPrintable(why));
        return false;
    }
    return true;
}

// Get Header over every row, then the automatic batch after a listing, each
// in a window of its own through the proxy: seconds from the batch's first
// command to its last reply, and whether every row got its header.
bool benchAutoHeaders(int messages, int runs, int delayMs)
{
    DovecotServer server;
    if (!startSmallMailbox(server, messages))
        return false;
    DelayProxy proxy(server.port(), delayMs);
    std::string failed;
    if (!proxy.start(&failed)) {
        std::printf("the delaying proxy did not start: %s\n", failed.c_str());
        return false;
    }
    const auto allHeaders = [](TForm1 &w) {
        for (int row = 0; row < w.mailModel->count(); ++row) {
            if (!w.mailModel->hasHeader(row))
                return false;
        }
        return true;
    };
    std::vector<double> header, automatic;
    for (int run = 0; run < runs; ++run) {
        for (const bool byItself : {false, true}) {
            Window win(server, proxy.port(), true, 1);
            QElapsedTimer timer;
            win.w.session->commandSent = [&timer](const QByteArray &line, const MailRowRef &) {
                if (!timer.isValid() && (line.startsWith("CAPA") || line.startsWith("TOP")))
                    timer.start();
            };
            win.w.AutoHeaders1->setChecked(byItself);
            if (!win.connectAndList(messages)) {
                std::printf("could not log in and list %d rows through the proxy\n", messages);
                return false;
            }
            if (!byItself) {
                win.checkFirst(messages);
                win.w.btnHeaderClick();
            }
            const bool done = win.until([&] {
                return win.w.session->commandsInFlight() == 0 && !win.w.session->autoHeadersRunning() &&
                       !win.w.session->headerBatchRunning() && win.w.CheckedCount == 0;
            });
            const double took = seconds(timer);
            if (!done || !allHeaders(win.w)) {
                std::printf("the %s did not fill every row\n", byItself ? "automatic batch" : "Get Header batch");
                return false;
            }
            (byItself ? automatic : header).push_back(took);
            win.disconnect();
            QTest::qWait(100);
        }
    }
    const double ratio = median(automatic) / median(header);
    tableLine("Get Header, every row, 50 ms RTT proxy", messages, header);
    tableLine("Automatic headers after the listing, 50 ms RTT proxy", messages, automatic, ratio);
    if (!g_table) {
        const auto line = [](const char *what, const std::vector<double> &t) {
            const auto [low, high] = std::minmax_element(t.begin(), t.end());
            std::printf("  %-48s %10.1f ms (%.1f-%.1f)\n", what, median(t) * 1000, *low * 1000, *high * 1000);
        };
        std::printf("Headers of %d messages through a proxy delaying each direction by %d ms, median of %d runs:\n",
                    messages, delayMs, runs);
        line("Get Header (All checked)", header);
        line("Get Headers Automatically (after the listing)", automatic);
        std::printf("  automatic / Get Header: %.2f\n", ratio);
    }
    return true;
}

bool benchListing(int messages, int runs)
{
    DovecotServer server;
    if (!startSmallMailbox(server, messages))
        return false;
    Window win(server, server.port(), true);
    if (!win.connectAndList(messages)) {
        std::printf("could not log in and list %d messages; state %d, %d rows\n", messages, int(win.w.session->state()),
                    win.w.mailModel->count());
        return false;
    }
    std::vector<double> times;
    for (int run = 0; run < runs; ++run) {
        QElapsedTimer timer;
        timer.start();
        win.w.btnListClick();
        if (!win.until([&] { return win.w.session->state() == ssIdle && win.w.mailModel->count() == messages; }))
            return false;
        // The list shows its rows once the pending layout and paint have run.
        QCoreApplication::processEvents();
        times.push_back(seconds(timer));
    }
    tableLine("Listing, LIST sent to last row shown", messages, times);
    if (!g_table)
        std::printf("Listing %d messages, LIST sent to last row shown: %8.1f ms (first listing, not counted, warmed "
                    "the server)\n",
                    messages, median(times) * 1000);
    win.disconnect();
    return true;
}

// Bytes the program has allocated and not freed (glibc's count); -1 elsewhere.
qint64 heapInUse()
{
#ifdef __GLIBC__
    const struct mallinfo2 info = mallinfo2();
    return qint64(info.uordblks + info.hblkhd);
#else
    return -1;
#endif
}

double megabytes(qint64 bytes)
{
    return double(bytes) / (1024.0 * 1024.0);
}

// Ten Get Header batches over every row and then one read per row: the heap
// after the first batch, after the tenth and after the reads, against what
// the console log has grown by (the log is kept by design; a read's viewer is
// filled and freed as the real one is, without its modal loop).
bool benchMemory(int rows, int rounds)
{
    DovecotServer server;
    server.addMessages(rows, 11);
    QString why;
    if (!server.start(&why)) {
        std::printf("Dovecot did not start: %s\n", qPrintable(why));
        return false;
    }
    Window win(server, server.port(), false);
    int viewed = 0;
    win.w.showViewer = [&viewed](QWidget *owner, const ViewerMessage &message, const auto &) {
        TForm2 viewer(owner);
        viewer.Fill(message);
        ++viewed;
    };
    if (!win.connectAndList(rows)) {
        std::printf("could not log in and list %d rows\n", rows);
        return false;
    }
    const auto logBytes = [&win] { return qint64(win.w.Memo1->logLength()) * qint64(sizeof(QChar)); };
    const auto headerBatch = [&win] {
        win.w.AllMail->setChecked(true);
        win.w.btnHeaderClick();
        return win.until([&] { return win.w.session->state() == ssIdle && win.w.CheckedCount == 0; });
    };

    if (!headerBatch())
        return false;
    const qint64 heapFirst = heapInUse();
    const qint64 logFirst = logBytes();
    for (int round = 1; round < rounds; ++round) {
        if (!headerBatch())
            return false;
    }
    const qint64 heapHeaders = heapInUse();
    const qint64 logHeaders = logBytes();
    for (int row = 0; row < rows; ++row) {
        win.w.mailModel->setRowChecked(row, true);
        const int before = viewed;
        win.w.btnReadClick();
        if (!win.until([&] { return viewed > before && win.w.session->state() == ssIdle; }))
            return false;
    }
    const qint64 heapReads = heapInUse();
    const qint64 logReads = logBytes();
    win.disconnect();

    // The log's buffer grows by doubling, so up to the log's size again may
    // be reserved and not yet used: what is beyond the log wanders within
    // that, and grows only if something else is kept.
    const auto beyond = [](qint64 heap, qint64 log) { return megabytes(heap - log); };
    if (g_table) {
        std::printf(
            "TABLE\tMemory: heap beyond log after 1 / %d batches / %d reads\t%d\tMB\t%.1f / %.1f / %.1f\t\t\t\n",
            rounds, rows, rounds * rows + rows, beyond(heapFirst, logFirst), beyond(heapHeaders, logHeaders),
            beyond(heapReads, logReads));
        std::printf("TABLE\tMemory: console log after the session\t%d\tMB\t%.1f\t\t\t\n", rounds * rows + rows,
                    megabytes(logReads));
        return true;
    }
    std::printf("Memory, %d rows (heap in use, glibc; the console log is kept by design):\n", rows);
    std::printf("  after the first Get Header batch:       heap %6.1f MB, log %5.1f MB, beyond the log %5.1f MB\n",
                megabytes(heapFirst), megabytes(logFirst), beyond(heapFirst, logFirst));
    std::printf("  after %2d batches (%5d header fetches): heap %6.1f MB, log %5.1f MB, beyond the log %5.1f MB\n",
                rounds, rounds * rows, megabytes(heapHeaders), megabytes(logHeaders), beyond(heapHeaders, logHeaders));
    std::printf("  after %5d reads:                       heap %6.1f MB, log %5.1f MB, beyond the log %5.1f MB\n", rows,
                megabytes(heapReads), megabytes(logReads), beyond(heapReads, logReads));
    return true;
}

}  // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    BatchOptions batches;
    int listing = 10000;
    bool large = false;
    bool memory = false;
    bool listingToo = true;
    int proxyRuns = 0;
    int autoRows = 0;
    const QStringList args = app.arguments();
    for (int i = 1; i < args.size(); ++i) {
        const QString &arg = args.at(i);
        const bool valued = i + 1 < args.size();
        if (arg == QLatin1String("--large"))
            large = true;
        else if (arg == QLatin1String("--rows") && valued)
            batches.rows = std::max(1, args.at(++i).toInt());
        else if (arg == QLatin1String("--proxy-rows") && valued)
            batches.proxyRows = std::max(1, args.at(++i).toInt());
        else if (arg == QLatin1String("--sequential-rows") && valued)
            batches.sequentialRows = std::max(1, args.at(++i).toInt());
        else if (arg == QLatin1String("--proxy-runs") && valued)
            proxyRuns = std::max(1, args.at(++i).toInt());
        else if (arg == QLatin1String("--delay") && valued)
            batches.delayMs = std::clamp(args.at(++i).toInt(), 0, 10000);
        else if (arg == QLatin1String("--client-window") && valued)
            batches.clientWindow = std::max(0, args.at(++i).toInt());
        else if (arg == QLatin1String("--no-proxy"))
            batches.proxy = false;
        else if (arg == QLatin1String("--listing") && valued)
            listing = std::max(1, args.at(++i).toInt());
        else if (arg == QLatin1String("--listing-only"))
            batches.rows = 0;
        else if (arg == QLatin1String("--batches-only"))
            listingToo = false;
        else if (arg == QLatin1String("--table"))
            g_table = true;
        else if (arg == QLatin1String("--runs") && valued)
            batches.runs = std::max(1, args.at(++i).toInt());
        else if (arg == QLatin1String("--memory"))
            memory = true;
        else if (arg == QLatin1String("--auto"))
            autoRows = std::max(autoRows, 100000);
        else if (arg == QLatin1String("--auto-rows") && valued)
            autoRows = std::max(1, args.at(++i).toInt());
        else {
            std::printf("unknown or incomplete argument: %s\n", qPrintable(arg));
            return 2;
        }
    }
    batches.proxyRuns = proxyRuns > 0 ? proxyRuns : batches.runs;
    const int runs = batches.runs;

    QString why;
    if (!DovecotServer::isAvailable(&why)) {
        std::printf("Dovecot is not available, nothing measured: %s\n", qPrintable(why));
        return 0;
    }

    if (memory)
        return benchMemory(1000, 10) ? 0 : 1;
    if (autoRows > 0)
        return benchAutoHeaders(autoRows, runs, batches.delayMs) ? 0 : 1;
    if (!g_table) {
        std::printf("Median of %d runs, Dovecot on loopback", runs);
        if (batches.rows > 0 && batches.proxy)
            std::printf("; through a proxy delaying each direction by %d ms, median of %d runs, one-at-a-time "
                        "cases over %d rows",
                        batches.delayMs, batches.proxyRuns, std::min(batches.rows, batches.proxyRows));
        std::printf(".\n");
    }
    if (batches.rows > 0) {
        DovecotServer server;
        server.addMessages(batches.rows, 5);
        if (!server.start(&why)) {
            std::printf("Dovecot did not start: %s\n", qPrintable(why));
            return 1;
        }
        if (!benchBatches(server, batches))
            return 1;
    }
    if (!listingToo)
        return 0;
    if (!benchListing(listing, runs))
        return 1;
    if (large && listing < 100000 && !benchListing(100000, runs))
        return 1;
    return 0;
}
