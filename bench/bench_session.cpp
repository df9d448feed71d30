// Figures for the POP3 conversation of the main window against a real Dovecot
// server on loopback:
//
//   - Get Header over N checked rows, and a delete batch over N rows, driven
//     through a real TForm1 (offscreen), against a minimal sequential client
//     that sends the same TOP / DELE commands one at a time and waits for
//     each reply (the floor without pipelining);
//   - a listing of M messages, from LIST sent to the last row in the list.
//
//   bench_session                 N = 1,000 and M = 10,000 (about half a minute)
//   bench_session --large         N = 1,000 and M = 100,000 as well
//   bench_session --rows N --listing M --runs R
//   bench_session --listing-only --listing M
//   bench_session --memory        the heap over a session of 10,000 header
//                                 fetches (ten Get Header batches over 1,000
//                                 rows) and 1,000 reads, against the log the
//                                 window keeps
//   bench_session --table ...     the figures as tab-separated lines for
//                                 scripts/bench.sh: TABLE, figure, count, unit,
//                                 median, min, max, ratio to the sequential client
//
// Each figure is the median of R runs (default 3). Without Dovecot the
// benchmark says so and exits 0.

#include "RunUntil.h"
#include "app/TForm1.h"
#include "controls/ConsoleView.h"
#include "mailbox/MailListModel.h"
#include "session/TClientSocket.h"
#include "support/DovecotServer.h"
#include "support/FormFixture.h"
#include "viewer/TForm2.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QTcpSocket>
#include <QtTest>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <functional>
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

// The protocol's floor without pipelining: one command, wait for its reply.
class SequentialClient {
public:
    bool login(const DovecotServer &server)
    {
        socket.connectToHost(server.address(), server.port());
        if (!socket.waitForConnected(5000) || !readLine().startsWith("+OK"))
            return false;
        send("USER " + server.user().toUtf8() + "\r\n");
        if (!readLine().startsWith("+OK"))
            return false;
        send("PASS " + server.password().toUtf8() + "\r\n");
        return readLine().startsWith("+OK");
    }

    void send(const QByteArray &bytes)
    {
        socket.write(bytes);
        socket.flush();
    }

    QByteArray readLine()
    {
        qsizetype end;
        while ((end = buffer.indexOf("\r\n")) < 0) {
            if (!socket.waitForReadyRead(10000))
                return {};
            buffer += socket.readAll();
        }
        const QByteArray line = buffer.left(end);
        buffer.remove(0, end + 2);
        return line;
    }

    // A multi-line reply, up to and with its end marker.
    bool readMulti()
    {
        if (!readLine().startsWith("+OK"))
            return false;
        while (true) {
            const qsizetype end = buffer.indexOf("\r\n.\r\n");
            if (buffer.startsWith(".\r\n")) {
                buffer.remove(0, 3);
                return true;
            }
            if (end >= 0) {
                buffer.remove(0, end + 5);
                return true;
            }
            if (!socket.waitForReadyRead(10000))
                return false;
            buffer += socket.readAll();
        }
    }

    void abort() { socket.abort(); }

private:
    QTcpSocket socket;
    QByteArray buffer;
};

// A main window logged in and listed.
struct Window {
    FormFixture f;
    TForm1 &w;

    explicit Window(const DovecotServer &server, bool shown = false) : w(*f.form)
    {
        // Showing loads the settings, which fill the fields: show first.
        if (shown)
            w.show();
        w.txtServer->setEditText(QStringLiteral("127.0.0.1"));
        w.txtPort->setText(QString::number(server.port()));
        w.txtUID->setText(server.user());
        w.txtPWD->setText(server.password());
        w.showViewer = [](QWidget *, const QByteArray &, const QByteArray &, const QByteArray &,
                          const QList<QByteArray> &) {};
    }

    bool until(const std::function<bool()> &done, int ms = 600000) { return runUntil(done, ms); }

    bool connectAndList(int rows)
    {
        w.btnConnClick();
        return until([&] { return w.session->state() == ssIdle && w.mailModel->count() == rows; });
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

bool benchHeadersAndDeletes(DovecotServer &server, int rows, int runs)
{
    std::vector<double> formHeaders, plainHeaders, formDeletes, plainDeletes, windowCpu;
    for (int run = 0; run < runs; ++run) {
        {
            Window win(server);
            if (!win.connectAndList(rows)) {
                std::printf("could not log in and list %d rows\n", rows);
                return false;
            }
            win.w.AllMail->setChecked(true);
            QElapsedTimer timer;
            const double cpu0 = cpuSeconds();
            timer.start();
            win.w.btnHeaderClick();
            if (!win.until([&] { return win.w.session->state() == ssIdle; }))
                return false;
            formHeaders.push_back(seconds(timer));
            windowCpu.push_back(cpuSeconds() - cpu0);

            win.w.AllMail->setChecked(true);
            win.f.desktop.setNextAnswer(platform::BoxButton::Yes);
            timer.start();
            win.w.btnDeleteClick();
            if (!win.until([&] { return !win.w.session->deleteConfirmed(); }) || win.w.mailModel->count() != 0) {
                std::printf("the delete batch did not finish\n");
                return false;
            }
            formDeletes.push_back(seconds(timer));
            win.disconnect();
        }
        {
            SequentialClient client;
            if (!client.login(server))
                return false;
            QElapsedTimer timer;
            timer.start();
            for (int i = 1; i <= rows; ++i) {
                client.send("TOP " + QByteArray::number(i) + " 0\r\n");
                if (!client.readMulti())
                    return false;
            }
            plainHeaders.push_back(seconds(timer));
            timer.start();
            for (int i = 1; i <= rows; ++i) {
                client.send("DELE " + QByteArray::number(i) + "\r\n");
                if (!client.readLine().startsWith("+OK"))
                    return false;
            }
            plainDeletes.push_back(seconds(timer));
            client.abort();
        }
        // Let the server drop the aborted sessions (their deletions are not committed).
        QTest::qWait(200);
    }
    const double fh = median(formHeaders), ph = median(plainHeaders);
    const double fd = median(formDeletes), pd = median(plainDeletes);
    if (g_table) {
        tableLine("Get Header, window", rows, formHeaders, fh / ph);
        tableLine("Get Header, sequential client", rows, plainHeaders);
        tableLine("Delete batch, window", rows, formDeletes, fd / pd);
        tableLine("Delete batch, sequential client", rows, plainDeletes);
        return true;
    }
    std::printf("Get Header, %d checked rows:   window %8.1f ms   sequential client %8.1f ms   ratio %.2f\n", rows,
                fh * 1000, ph * 1000, fh / ph);
    std::printf("  (the window's own processor time in Get Header: %.1f ms)\n", median(windowCpu) * 1000);
    std::printf("Delete batch, %d rows:         window %8.1f ms   sequential client %8.1f ms   ratio %.2f\n", rows,
                fd * 1000, pd * 1000, fd / pd);
    return true;
}

bool benchListing(int messages, int runs)
{
    DovecotServer server;
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
    Window win(server, true);
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
        std::printf("Listing %d messages, LIST sent to last row shown: %8.1f ms (first listing, not counted, warmed the server)\n",
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
    Window win(server);
    int viewed = 0;
    win.w.showViewer = [&viewed](QWidget *owner, const QByteArray &to, const QByteArray &from,
                                 const QByteArray &subject, const QList<QByteArray> &lines) {
        TForm2 viewer(owner);
        viewer.Fill(to, from, subject, lines);
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
        std::printf("TABLE\tMemory: heap beyond log after 1 / %d batches / %d reads\t%d\tMB\t%.1f / %.1f / %.1f\t\t\t\n",
                    rounds, rows, rounds * rows + rows, beyond(heapFirst, logFirst),
                    beyond(heapHeaders, logHeaders), beyond(heapReads, logReads));
        std::printf("TABLE\tMemory: console log after the session\t%d\tMB\t%.1f\t\t\t\n", rounds * rows + rows,
                    megabytes(logReads));
        return true;
    }
    std::printf("Memory, %d rows (heap in use, glibc; the console log is kept by design):\n", rows);
    std::printf("  after the first Get Header batch:       heap %6.1f MB, log %5.1f MB, beyond the log %5.1f MB\n",
                megabytes(heapFirst), megabytes(logFirst), beyond(heapFirst, logFirst));
    std::printf("  after %2d batches (%5d header fetches): heap %6.1f MB, log %5.1f MB, beyond the log %5.1f MB\n", rounds,
                rounds * rows, megabytes(heapHeaders), megabytes(logHeaders), beyond(heapHeaders, logHeaders));
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
    int rows = 1000;
    int listing = 10000;
    int runs = 3;
    bool large = false;
    bool memory = false;
    const QStringList args = app.arguments();
    for (int i = 1; i < args.size(); ++i) {
        const QString &arg = args.at(i);
        if (arg == QLatin1String("--large"))
            large = true;
        else if (arg == QLatin1String("--rows") && i + 1 < args.size())
            rows = std::max(1, args.at(++i).toInt());
        else if (arg == QLatin1String("--listing") && i + 1 < args.size())
            listing = std::max(1, args.at(++i).toInt());
        else if (arg == QLatin1String("--listing-only"))
            rows = 0;
        else if (arg == QLatin1String("--table"))
            g_table = true;
        else if (arg == QLatin1String("--runs") && i + 1 < args.size())
            runs = std::max(1, args.at(++i).toInt());
        else if (arg == QLatin1String("--memory"))
            memory = true;
    }

    QString why;
    if (!DovecotServer::isAvailable(&why)) {
        std::printf("Dovecot is not available, nothing measured: %s\n", qPrintable(why));
        return 0;
    }

    if (memory)
        return benchMemory(1000, 10) ? 0 : 1;
    if (!g_table)
        std::printf("Median of %d runs, Dovecot on loopback.\n", runs);
    if (rows > 0) {
        DovecotServer server;
        server.addMessages(rows, 5);
        if (!server.start(&why)) {
            std::printf("Dovecot did not start: %s\n", qPrintable(why));
            return 1;
        }
        if (!benchHeadersAndDeletes(server, rows, runs))
            return 1;
    }
    if (!benchListing(listing, runs))
        return 1;
    if (large && listing < 100000 && !benchListing(100000, runs))
        return 1;
    return 0;
}
