// SPDX-License-Identifier: GPL-3.0-or-later
// Figures for the main window against a hostile server on loopback: what a
// server that never ends its line, or that sends stray end markers by the
// million, costs the program in memory and time, with the window shown
// (offscreen) as the user has it.
//
//   - a line without a break, 1 GB of it, as the answer to a NOOP typed in the
//     console (the window idle) and as the body of a read (TOP n 100, where
//     lines up to 64 MiB are taken): the peak resident memory (VmHWM, reset
//     before each run; the resident memory before it is the baseline), the
//     time from the command to the connection closed, the longest gap between
//     the ticks of a 10 ms timer meanwhile, and whether the console says why;
//   - 1,000,000 stray "." lines ahead of the answer to a NOOP typed in the
//     console, with the list page in front and with the console page in front:
//     the time from the NOOP typed to its answer handled, the longest gap, and
//     with the list page in front the time to bring the console page to the
//     front afterwards (the console keeps every line that came);
//   - floods of short, well-formed lines: a LIST answered by 5,000,000 and by
//     20,000,000 listing lines, a LIST typed in the console answered by
//     5,000,000 (only shown, so the console's capacity bounds it), a listing of 2,000,000 real rows, a header
//     section (TOP n 0) and a read (TOP n 100) of 5,000,000 short lines each:
//     the peak resident memory, the time from the command to the connection
//     closed (or to the reply handled, where it is taken), the longest gap
//     between the ticks of a 10 ms timer, and whether the console says why;
//   - 100,000 rows listed and then headed (All, Get Header, pipelined): the
//     peak resident memory of the whole.
//
//   bench_hostile                 the default run, 3 runs of each
//   bench_hostile --runs R --stream-mb M --dots N --flood-lines N
//   bench_hostile --only idle|read|dots|dots-console|list-flood|typed-flood|
//                        listing|header-flood|read-flood|headed
//   bench_hostile --table ...     the figures as tab-separated lines for
//                                 scripts/bench.sh (as bench_session)
//
// The server is a child process forked before anything else, so it keeps
// writing whatever the window's thread does. It stops streaming when the
// window closes the connection, after the bytes asked for, or after two
// minutes, and it ends with the benchmark (or after ten minutes).

#include "RunUntil.h"
#include "app/StatusTextBar.h"
#include "app/TForm1.h"
#include "controls/ConsoleView.h"
#include "mailbox/MailListModel.h"
#include "session/TClientSocket.h"
#include "support/FormFixture.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QElapsedTimer>
#include <QFile>
#include <QLineEdit>
#include <QTabWidget>
#include <QTimer>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

namespace {

// --- the server (child process: plain system calls only) ---

struct ServerSettings {
    long long streamBytes = 1000000000LL;
    long dots = 1000000;
};

double monotonicSeconds()
{
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return double(t.tv_sec) + double(t.tv_nsec) / 1e9;
}

bool sendAll(int fd, const char *data, size_t size)
{
    while (size > 0) {
        const ssize_t n = ::send(fd, data, size, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        data += n;
        size -= size_t(n);
    }
    return true;
}

bool sendText(int fd, const char *text)
{
    return sendAll(fd, text, std::strlen(text));
}

// Bytes gathered into large writes; false once the peer is gone.
struct Batcher {
    explicit Batcher(int fd) : fd(fd) {}

    int fd;
    char buffer[256 * 1024];
    size_t used = 0;

    bool flush()
    {
        const bool ok = sendAll(fd, buffer, used);
        used = 0;
        return ok;
    }
    bool add(const char *text, size_t size)
    {
        if (used + size > sizeof buffer && !flush())
            return false;
        std::memcpy(buffer + used, text, size);
        used += size;
        return true;
    }
};

// Tells the benchmark how a stream ended: one line on the report pipe.
void report(int pipeFd, const char *what, long long bytes, double seconds)
{
    char line[160];
    const int n = std::snprintf(line, sizeof line, "%s %lld %.3f\n", what, bytes, seconds);
    if (n > 0)
        (void)!::write(pipeFd, line, size_t(n));
}

// Bytes without a line break until the peer goes, the bytes are out or two
// minutes have passed.
void streamWithoutBreak(int fd, long long total, int pipeFd)
{
    static char chunk[256 * 1024];
    std::memset(chunk, 'x', sizeof chunk);
    const double start = monotonicSeconds();
    long long sent = 0;
    const char *why = "limit";
    while (sent < total) {
        if (monotonicSeconds() - start > 120) {
            why = "timeout";
            break;
        }
        const size_t size = size_t(std::min<long long>(total - sent, sizeof chunk));
        if (!sendAll(fd, chunk, size)) {
            why = "closed";
            break;
        }
        sent += (long long)size;
    }
    report(pipeFd, why, sent, monotonicSeconds() - start);
}

void sendDots(int fd, long count, int pipeFd)
{
    static char chunk[3 * 20000];
    for (size_t i = 0; i + 3 <= sizeof chunk; i += 3)
        std::memcpy(chunk + i, ".\r\n", 3);
    const double start = monotonicSeconds();
    long sent = 0;
    while (sent < count) {
        const long lines = std::min<long>(count - sent, long(sizeof chunk / 3));
        if (!sendAll(fd, chunk, size_t(lines) * 3))
            break;
        sent += lines;
    }
    report(pipeFd, sent == count ? "dots" : "closed", sent, monotonicSeconds() - start);
}

// count short lines after a status line, then (where end) the end marker;
// each line is made by line(n, text) for n from 1 on.
void sendLines(int fd, const char *status, long count, bool end, int pipeFd,
               const std::function<int(long, char *)> &line)
{
    Batcher out(fd);
    const double start = monotonicSeconds();
    bool ok = out.add(status, std::strlen(status));
    long n = 1;
    char text[128];
    for (; ok && n <= count; ++n)
        ok = out.add(text, size_t(line(n, text)));
    if (ok && end)
        ok = out.add(".\r\n", 3);
    ok = ok && out.flush();
    report(pipeFd, ok ? "lines" : "closed", n - 1, monotonicSeconds() - start);
}

// The header a message of the "headed" mailbox has.
bool sendHeader(int fd, long n)
{
    char text[256];
    const int size = std::snprintf(text, sizeof text,
                                   "+OK\r\nSubject: Message %ld of the flood benchmark\r\n"
                                   "From: Sender %ld <sender%ld@example.com>\r\nTo: you@example.com\r\n\r\n.\r\n",
                                   n, n % 500, n % 500);
    return sendAll(fd, text, size_t(size));
}

// One client: a normal login and a listing of three messages; what follows
// depends on the user name (the scenario, and after a ':' a count): "idle"
// answers NOOP with a line that never ends, "read" answers TOP with a body
// line that never ends, "dots" answers NOOP with the stray end markers
// first; "list-flood" and "typed-flood" answer the next LIST with that many
// short listing lines, "listing" and "headed" with that many rows of real sizes (and "headed" every
// TOP n 0 with a small header), "header-flood" answers TOP n 0 with a header
// section of that many short lines, "read-flood" TOP n 100 with a body of
// that many.
void serveClient(int fd, const ServerSettings &settings, int pipeFd)
{
    std::string scenario;
    long count = 0;
    int listings = 0;
    std::string buffer;
    char in[4096];
    if (!sendText(fd, "+OK hostile server ready\r\n"))
        return;
    for (;;) {
        size_t end;
        while ((end = buffer.find('\n')) == std::string::npos) {
            const ssize_t n = ::recv(fd, in, sizeof in, 0);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                return;
            buffer.append(in, size_t(n));
        }
        std::string line = buffer.substr(0, end);
        buffer.erase(0, end + 1);
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        std::string verb = line.substr(0, line.find(' '));
        for (char &c : verb)
            c = char(std::toupper(static_cast<unsigned char>(c)));
        bool ok = true;
        if (verb == "USER") {
            scenario = line.size() > 5 ? line.substr(5) : std::string();
            const size_t colon = scenario.find(':');
            if (colon != std::string::npos) {
                count = std::atol(scenario.c_str() + colon + 1);
                scenario.resize(colon);
            }
            ok = sendText(fd, "+OK\r\n");
        } else if (verb == "CAPA") {
            ok = sendText(fd, "+OK\r\nUSER\r\nPIPELINING\r\n.\r\n");
        } else if (verb == "PASS") {
            ok = sendText(fd, "+OK logged in\r\n");
        } else if (verb == "LIST" && listings++ > 0 &&
                   (scenario == "list-flood" || scenario == "typed-flood" || scenario == "listing" ||
                    scenario == "headed")) {
            const bool rows = scenario == "listing" || scenario == "headed";
            sendLines(fd, "+OK\r\n", count, true, pipeFd, [rows](long n, char *text) {
                return rows ? std::snprintf(text, 128, "%ld %ld\r\n", n, 300 + (n * 7919) % 5000000)
                            : std::snprintf(text, 128, "%ld 12\r\n", n);
            });
        } else if (verb == "LIST") {
            ok = sendText(fd, "+OK 3 messages\r\n1 120\r\n2 130\r\n3 140\r\n.\r\n");
        } else if (verb == "TOP" && scenario == "headed") {
            ok = sendHeader(fd, std::atol(line.c_str() + 4));
        } else if (verb == "TOP" && scenario == "header-flood") {
            sendLines(fd, "+OK\r\n", count, true, pipeFd,
                      [](long, char *text) { return std::snprintf(text, 128, "X-Flood: 1\r\n"); });
        } else if (verb == "TOP" && scenario == "read-flood") {
            sendLines(fd, "+OK\r\nSubject: flood\r\n\r\n", count, true, pipeFd,
                      [](long, char *text) { return std::snprintf(text, 128, "flood line\r\n"); });
        } else if (verb == "NOOP" && scenario == "idle") {
            ok = sendText(fd, "+OK ");
            if (ok)
                streamWithoutBreak(fd, settings.streamBytes, pipeFd);
        } else if (verb == "NOOP" && scenario == "dots") {
            sendDots(fd, settings.dots, pipeFd);
            ok = sendText(fd, "+OK noop\r\n");
        } else if (verb == "TOP" && scenario == "read") {
            ok = sendText(fd, "+OK message follows\r\nSubject: endless\r\n\r\n");
            if (ok)
                streamWithoutBreak(fd, settings.streamBytes, pipeFd);
        } else if (verb == "QUIT") {
            sendText(fd, "+OK bye\r\n");
            return;
        } else {
            ok = sendText(fd, "+OK\r\n");
        }
        if (!ok)
            return;
    }
}

[[noreturn]] void runServer(int listenFd, const ServerSettings &settings, int pipeFd)
{
    // Never outlives the benchmark, and never runs on for ever.
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    ::alarm(600);
    for (;;) {
        const int fd = ::accept(listenFd, nullptr, nullptr);
        if (fd < 0) {
            if (errno == EINTR)
                continue;
            ::_exit(1);
        }
        serveClient(fd, settings, pipeFd);
        ::close(fd);
    }
}

// Forks the server; gives its port (0 on failure), its pid and the read end
// of its report pipe.
quint16 startServer(const ServerSettings &settings, pid_t *pid, int *reportFd)
{
    const int listenFd = ::socket(AF_INET, SOCK_STREAM, 0);
    if (listenFd < 0)
        return 0;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    int pipeFds[2];
    if (::bind(listenFd, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0 || ::listen(listenFd, 4) != 0 ||
        ::getsockname(listenFd, reinterpret_cast<sockaddr *>(&address), &size) != 0 || ::pipe(pipeFds) != 0) {
        ::close(listenFd);
        return 0;
    }
    *pid = ::fork();
    if (*pid == 0) {
        ::close(pipeFds[0]);
        runServer(listenFd, settings, pipeFds[1]);
    }
    ::close(listenFd);
    ::close(pipeFds[1]);
    *reportFd = pipeFds[0];
    return *pid > 0 ? ntohs(address.sin_port) : 0;
}

// The server's line about its last stream, waiting up to ms for it.
QByteArray serverReport(int fd, int ms)
{
    QByteArray line;
    pollfd p{fd, POLLIN, 0};
    while (!line.endsWith('\n') && ::poll(&p, 1, ms) > 0) {
        char c;
        if (::read(fd, &c, 1) != 1)
            break;
        line += c;
    }
    return line.trimmed();
}

// --- the window's side ---

bool g_table = false;

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    return n == 0 ? 0 : n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

// A /proc/self/status field in kB; -1 when it cannot be read.
long statusKb(const char *field)
{
    QFile file(QStringLiteral("/proc/self/status"));
    if (!file.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray key = QByteArray(field) + ':';
    for (const QByteArray &line : file.readAll().split('\n')) {
        if (line.startsWith(key))
            return line.mid(key.size()).trimmed().split(' ').value(0).toLong();
    }
    return -1;
}

// Sets the peak resident size back to the present one (Linux 4.0 and later).
bool resetPeak()
{
    QFile file(QStringLiteral("/proc/self/clear_refs"));
    return file.open(QIODevice::WriteOnly) && file.write("5") == 1;
}

double mb(long kb)
{
    return double(kb) / 1024.0;
}

// The longest gap between ticks of a 10 ms timer, and the largest resident
// size seen at a tick, while it runs.
struct TickWatch {
    QTimer timer;
    QElapsedTimer clock;
    qint64 last = 0;
    qint64 longest = 0;
    long rssKb = 0;

    TickWatch()
    {
        timer.setTimerType(Qt::PreciseTimer);
        timer.setInterval(10);
        QObject::connect(&timer, &QTimer::timeout, [this] {
            const qint64 now = clock.nsecsElapsed();
            longest = std::max(longest, now - last);
            last = now;
            rssKb = std::max(rssKb, statusKb("VmRSS"));
        });
    }
    void start()
    {
        clock.start();
        last = 0;
        longest = 0;
        rssKb = statusKb("VmRSS");
        timer.start();
    }
    // The gap still open at the end counts too.
    double stopMs()
    {
        timer.stop();
        longest = std::max(longest, clock.nsecsElapsed() - last);
        return double(longest) / 1e6;
    }
};


// A main window shown, logged in as the scenario and listed.
struct Window {
    FormFixture f;
    TForm1 &w;
    bool viewerOpened = false;
    // Whether each read is searched for the NOOP's answer (the stray dots).
    bool watchNoop = false;
    QElapsedTimer clock;
    qint64 closedAt = -1;
    qint64 answeredAt = -1;

    Window(quint16 port, const char *scenario) : w(*f.form)
    {
        w.show();
        w.txtServer->setEditText(QStringLiteral("127.0.0.1"));
        w.txtPort->setText(QString::number(port));
        w.txtUID->setText(QString::fromLatin1(scenario));
        w.txtPWD->setText(QStringLiteral("secret"));
        // A message that never ends is never shown; a viewer would block.
        w.showViewer = [this](QWidget *, const ViewerMessage &, const auto &) { viewerOpened = true; };
        // The moments the connection goes and the NOOP's answer is handled,
        // taken in the window's own handlers rather than by polling.
        const TSocketNotifyEvent disconnected = w.cSock->OnDisconnect;
        w.cSock->OnDisconnect = [this, disconnected](QObject *sender, TClientWinSocket *socket) {
            if (closedAt < 0 && clock.isValid())
                closedAt = clock.nsecsElapsed();
            disconnected(sender, socket);
        };
        const TSocketNotifyEvent read = w.cSock->OnRead;
        w.cSock->OnRead = [this, read](QObject *sender, TClientWinSocket *socket) {
            read(sender, socket);
            if (watchNoop && answeredAt < 0 && clock.isValid() && w.session->replyLines().contains("+OK noop"))
                answeredAt = clock.nsecsElapsed();
        };
    }

    bool connectAndList()
    {
        w.btnConnClick();
        return runUntil([&] { return w.session->state() == ssIdle && w.mailModel->count() == 3; }, 10000);
    }

    // A command typed in the console's prompt and sent with Enter.
    void type(const QString &command)
    {
        w.txtCmdPrompt->setText(command);
        QChar enter(13);
        clock.start();
        w.txtCmdPromptKeyPress(w.txtCmdPrompt, enter);
    }
};

struct StreamRun {
    double baselineMb = 0;
    double peakMb = 0;
    double sampledMb = 0;
    double closeMs = 0;
    double gapMs = 0;
    bool said = false;
    QByteArray server;
};

// One run of a line without a break: "idle" after a NOOP, "read" as the body
// of a read.
bool streamRun(quint16 port, int reportFd, const char *scenario, StreamRun *out)
{
    Window win(port, scenario);
    if (!win.connectAndList()) {
        std::printf("could not log in and list (%s)\n", scenario);
        return false;
    }
    QCoreApplication::processEvents();
    const bool peakReset = resetPeak();
    out->baselineMb = mb(statusKb("VmRSS"));
    TickWatch ticks;
    ticks.start();
    if (std::strcmp(scenario, "idle") == 0) {
        win.type(QStringLiteral("NOOP"));
    } else {
        win.w.mailModel->setRowChecked(0, true);
        win.clock.start();
        win.w.btnReadClick();
    }
    const bool closed = runUntil([&] { return win.closedAt >= 0; }, 180000);
    out->gapMs = ticks.stopMs();
    out->sampledMb = mb(ticks.rssKb);
    // Without the reset the high-water mark would be the whole process's.
    out->peakMb = peakReset ? mb(statusKb("VmHWM")) : out->sampledMb;
    if (!peakReset)
        std::printf("  (VmHWM could not be reset: the peak is the largest sampled size)\n");
    out->closeMs = closed ? double(win.closedAt) / 1e6 : -1;
    const QString expected = std::strcmp(scenario, "idle") == 0
                                 ? QStringLiteral("Connection closed: the server sent a status line longer than")
                                 : QStringLiteral("Connection closed: the server sent a line longer than");
    out->said = win.w.Memo1->text().contains(expected);
    out->server = serverReport(reportFd, 5000);
    if (win.viewerOpened)
        std::printf("  (a viewer was opened: not expected)\n");
    return closed;
}

struct DotsRun {
    double answerMs = 0;
    double gapMs = 0;
    // With the list page in front the console keeps what came until it is
    // shown: bringing it to the front afterwards.
    double showConsoleMs = -1;
    // From the NOOP typed until the console shows everything that came.
    double consoleMs = -1;
    bool stillConnected = false;
    qsizetype statusLength = 0;
};

bool dotsRun(quint16 port, int reportFd, bool consoleInFront, DotsRun *out)
{
    Window win(port, "dots");
    win.watchNoop = true;
    if (!win.connectAndList()) {
        std::printf("could not log in and list (dots)\n");
        return false;
    }
    if (consoleInFront)
        win.w.pgControl->setCurrentWidget(win.w.pageCMD);
    QCoreApplication::processEvents();
    TickWatch ticks;
    ticks.start();
    QElapsedTimer typed;
    typed.start();
    win.type(QStringLiteral("NOOP"));
    const bool answered = runUntil([&] { return win.answeredAt >= 0 || win.closedAt >= 0; }, 120000);
    if (consoleInFront && runUntil([&] { return win.w.Memo1->pendingEntries() == 0; }, 120000))
        out->consoleMs = double(typed.nsecsElapsed()) / 1e6;
    out->gapMs = ticks.stopMs();
    out->answerMs = answered && win.answeredAt >= 0 ? double(win.answeredAt) / 1e6 : -1;
    out->stillConnected = win.w.cSock->Active();
    out->statusLength = win.w.msgBar->text().size();
    if (!consoleInFront) {
        QElapsedTimer timer;
        timer.start();
        win.w.pgControl->setCurrentWidget(win.w.pageCMD);
        QCoreApplication::processEvents();
        out->showConsoleMs = double(timer.nsecsElapsed()) / 1e6;
    }
    serverReport(reportFd, 5000);
    if (win.w.cSock->Active())
        win.w.btnConnClick();
    return out->answerMs >= 0;
}

enum class Flood { ListFlood, TypedFlood, Listing, HeaderFlood, ReadFlood, Headed };

struct FloodRun {
    double baselineMb = 0;
    double peakMb = 0;
    double doneMs = 0;
    double gapMs = 0;
    bool closed = false;
    bool said = false;
    int rows = 0;
    int headed = 0;
    QByteArray server;
};

const char *floodScenario(Flood kind)
{
    switch (kind) {
    case Flood::ListFlood:
        return "list-flood";
    case Flood::TypedFlood:
        return "typed-flood";
    case Flood::Listing:
        return "listing";
    case Flood::HeaderFlood:
        return "header-flood";
    case Flood::ReadFlood:
        return "read-flood";
    case Flood::Headed:
        return "headed";
    }
    return "";
}

// What the console says when the flood is cut off.
QString floodReason(Flood kind)
{
    return kind == Flood::ListFlood ? QStringLiteral("Connection closed: the server listed more than")
                                    : QStringLiteral("Connection closed: the server's reply to TOP");
}

// One run of a flood of count lines: from the command (Refresh List, LIST
// typed in the console, Get Header or Read Mail on the first row) to the
// connection closed or the reply handled (the rows shown, the reply taken,
// the row headed, the viewer asked for).
bool floodRun(quint16 port, int reportFd, Flood kind, long count, FloodRun *out)
{
    const QByteArray user = QByteArray(floodScenario(kind)) + ':' + QByteArray::number(qlonglong(count));
    Window win(port, user.constData());
    if (!win.connectAndList()) {
        std::printf("could not log in and list (%s)\n", user.constData());
        return false;
    }
    TForm1 &w = win.w;
    QCoreApplication::processEvents();
    const bool peakReset = resetPeak();
    out->baselineMb = mb(statusKb("VmRSS"));
    TickWatch ticks;
    ticks.start();
    win.clock.start();
    std::function<bool()> handled;
    switch (kind) {
    case Flood::ListFlood:
    case Flood::Listing:
    case Flood::Headed:
        w.btnListClick();
        handled = [&] { return w.session->state() == ssIdle && w.mailModel->count() > 3; };
        break;
    case Flood::TypedFlood:
        // Typed where it is typed: the console page in front.
        w.pgControl->setCurrentWidget(w.pageCMD);
        QCoreApplication::processEvents();
        win.type(QStringLiteral("LIST"));
        handled = [&] { return w.session->commandsInFlight() == 0; };
        break;
    case Flood::HeaderFlood:
        w.mailModel->setRowChecked(0, true);
        w.btnHeaderClick();
        handled = [&] { return w.mailModel->hasHeader(0); };
        break;
    case Flood::ReadFlood:
        w.mailModel->setRowChecked(0, true);
        w.btnReadClick();
        handled = [&] { return win.viewerOpened; };
        break;
    }
    runUntil([&] { return win.closedAt >= 0 || handled(); }, 600000);
    if (kind == Flood::Headed && win.closedAt < 0 && handled()) {
        w.AllMail->setChecked(true);
        w.btnHeaderClick();
        runUntil(
            [&] {
                return win.closedAt >= 0 || (!w.session->headerBatchRunning() && w.session->commandsInFlight() == 0 &&
                                             w.mailModel->checkedCount() == 0);
            },
            600000);
    }
    const qint64 end = win.closedAt >= 0 ? win.closedAt : win.clock.nsecsElapsed();
    out->gapMs = ticks.stopMs();
    out->peakMb = peakReset ? mb(statusKb("VmHWM")) : mb(ticks.rssKb);
    out->doneMs = double(end) / 1e6;
    out->closed = win.closedAt >= 0;
    out->said = w.Memo1->text().contains(floodReason(kind));
    out->rows = w.mailModel->count();
    for (int row = 0; row < out->rows; ++row)
        out->headed += w.mailModel->hasHeader(row) ? 1 : 0;
    out->server = serverReport(reportFd, kind == Flood::Headed ? 0 : 5000);
    if (w.cSock->Active())
        w.btnConnClick();
    return true;
}

void tableLine(const QString &figure, const char *count, const char *unit, const std::vector<double> &values)
{
    if (values.empty())
        return;
    const auto [low, high] = std::minmax_element(values.begin(), values.end());
    std::printf("TABLE\t%s\t%s\t%s\t%.1f\t%.1f\t%.1f\t\n", qPrintable(figure), count, unit, median(values), *low,
                *high);
}

bool benchStream(quint16 port, int reportFd, const char *scenario, const char *label, int runs, long long bytes)
{
    std::vector<double> baseline, peak, sampled, close, gap;
    bool said = true;
    QByteArray server;
    for (int run = 0; run < runs; ++run) {
        StreamRun r;
        if (!streamRun(port, reportFd, scenario, &r)) {
            std::printf("%s: the connection was not closed within three minutes\n", label);
            return false;
        }
        baseline.push_back(r.baselineMb);
        peak.push_back(r.peakMb);
        sampled.push_back(r.sampledMb);
        close.push_back(r.closeMs);
        gap.push_back(r.gapMs);
        said = said && r.said;
        server = r.server;
    }
    const QString size = QStringLiteral("%1 MB").arg(bytes / 1000000);
    if (g_table) {
        const QString name = QStringLiteral("No line break, %1: ").arg(QLatin1String(scenario));
        const QByteArray count = size.toLatin1();
        tableLine(name + QStringLiteral("peak RSS (target < 300)"), count.constData(), "MB", peak);
        tableLine(name + QStringLiteral("RSS before"), count.constData(), "MB", baseline);
        tableLine(name + QStringLiteral("command to closed"), count.constData(), "ms", close);
        tableLine(name + QStringLiteral("longest event loop stall"), count.constData(), "ms", gap);
        return true;
    }
    std::printf("%s, %s without a line break (median of %d runs):\n", label, qPrintable(size), runs);
    std::printf(
        "  resident memory: before %.1f MB, peak %.1f MB (VmHWM; target under 300 MB), largest sampled %.1f MB\n",
        median(baseline), median(peak), median(sampled));
    std::printf("  command to connection closed: %.1f ms (min %.1f, max %.1f); console says why: %s\n", median(close),
                *std::min_element(close.begin(), close.end()), *std::max_element(close.begin(), close.end()),
                said ? "yes" : "NO");
    std::printf("  longest gap between ticks of a 10 ms timer: %.1f ms\n", median(gap));
    std::printf("  server, last run: %s (how it stopped, bytes sent, seconds)\n", server.constData());
    return true;
}

bool benchDots(quint16 port, int reportFd, int runs, long dots, bool console)
{
    {
        std::vector<double> answer, gap, show, caughtUp;
        bool connected = true;
        qsizetype statusLength = 0;
        for (int run = 0; run < runs; ++run) {
            DotsRun r;
            if (!dotsRun(port, reportFd, console, &r)) {
                std::printf("stray end markers: the NOOP was not answered within two minutes\n");
                return false;
            }
            answer.push_back(r.answerMs);
            gap.push_back(r.gapMs);
            if (r.showConsoleMs >= 0)
                show.push_back(r.showConsoleMs);
            if (r.consoleMs >= 0)
                caughtUp.push_back(r.consoleMs);
            connected = connected && r.stillConnected;
            statusLength = std::max(statusLength, r.statusLength);
        }
        const char *page = console ? "console page in front" : "list page in front";
        if (g_table) {
            const QString name =
                QStringLiteral("Stray \".\" lines, %1: ").arg(QLatin1String(console ? "console" : "list"));
            const QByteArray count = QByteArray::number(qlonglong(dots));
            tableLine(name + QStringLiteral("NOOP to answer (target < 2000)"), count.constData(), "ms", answer);
            tableLine(name + QStringLiteral("longest event loop stall"), count.constData(), "ms", gap);
            tableLine(name + QStringLiteral("console shown afterwards"), count.constData(), "ms", show);
            tableLine(name + QStringLiteral("NOOP to console caught up"), count.constData(), "ms", caughtUp);
            return true;
        }
        std::printf("%ld stray \".\" lines ahead of a NOOP's answer, %s (median of %d runs):\n", dots, page, runs);
        std::printf("  NOOP typed to answer handled: %.1f ms (min %.1f, max %.1f; target under 2000 ms)\n",
                    median(answer), *std::min_element(answer.begin(), answer.end()),
                    *std::max_element(answer.begin(), answer.end()));
        std::printf("  longest gap between ticks of a 10 ms timer: %.1f ms; status text %lld characters; %s\n",
                    median(gap), qlonglong(statusLength), connected ? "still connected" : "DISCONNECTED");
        if (!show.empty())
            std::printf("  then the console page brought to the front: %.1f ms\n", median(show));
        if (!caughtUp.empty())
            std::printf("  NOOP typed to the console showing all of it: %.1f ms (the window answering meanwhile)\n",
                        median(caughtUp));
    }
    return true;
}

bool benchFlood(quint16 port, int reportFd, Flood kind, long count, int runs)
{
    std::vector<double> baseline, peak, done, gap;
    FloodRun last;
    int closedRuns = 0;
    int saidRuns = 0;
    for (int run = 0; run < runs; ++run) {
        FloodRun r;
        if (!floodRun(port, reportFd, kind, count, &r))
            return false;
        baseline.push_back(r.baselineMb);
        peak.push_back(r.peakMb);
        done.push_back(r.doneMs);
        gap.push_back(r.gapMs);
        closedRuns += r.closed ? 1 : 0;
        saidRuns += r.said ? 1 : 0;
        last = r;
    }
    const char *what = "";
    const char *target = "";
    switch (kind) {
    case Flood::ListFlood:
        what = "LIST answered by short listing lines";
        target = "the listing cut off";
        break;
    case Flood::TypedFlood:
        what = "LIST typed in the console answered by short listing lines, the console page in front";
        target = "shown, not kept";
        break;
    case Flood::Listing:
        what = "LIST answered by a listing of real rows";
        target = "target under 600 MB";
        break;
    case Flood::HeaderFlood:
        what = "TOP n 0 answered by a header section of short lines";
        target = "target under 300 MB";
        break;
    case Flood::ReadFlood:
        what = "TOP n 100 (a read) answered by a body of short lines";
        target = "target under 300 MB";
        break;
    case Flood::Headed:
        what = "rows listed, then All and Get Header over every row";
        target = "target under 150 MB";
        break;
    }
    const bool cutOff = kind != Flood::Listing && kind != Flood::Headed && kind != Flood::TypedFlood;
    if (g_table) {
        const QString name = QStringLiteral("Flood, %1: ").arg(QLatin1String(floodScenario(kind)));
        const QByteArray lines = QByteArray::number(qlonglong(count));
        tableLine(name + QStringLiteral("peak RSS (%1)").arg(QLatin1String(target)), lines.constData(), "MB", peak);
        tableLine(name + QStringLiteral("RSS before"), lines.constData(), "MB", baseline);
        tableLine(name + (cutOff ? QStringLiteral("command to closed") : QStringLiteral("command to done")),
                  lines.constData(), "ms", done);
        tableLine(name + QStringLiteral("longest event loop stall"), lines.constData(), "ms", gap);
        return true;
    }
    std::printf("%s, %ld lines (median of %d runs):\n", what, count, runs);
    std::printf("  resident memory: before %.1f MB, peak %.1f MB (VmHWM; %s)\n", median(baseline), median(peak),
                target);
    std::printf("  command to %s: %.1f ms (min %.1f, max %.1f)\n",
                closedRuns == runs ? "connection closed"
                : closedRuns == 0  ? "reply handled"
                                   : "closed or handled",
                median(done), *std::min_element(done.begin(), done.end()), *std::max_element(done.begin(), done.end()));
    std::printf("  connection closed in %d of %d runs; console says why: %d of %d; rows %d, with a header %d\n",
                closedRuns, runs, saidRuns, runs, last.rows, last.headed);
    std::printf("  longest gap between ticks of a 10 ms timer: %.1f ms\n", median(gap));
    if (!last.server.isEmpty())
        std::printf("  server, last run: %s (how it stopped, lines sent, seconds)\n", last.server.constData());
    return true;
}

}  // namespace

int main(int argc, char **argv)
{
    ServerSettings settings;
    int runs = 3;
    long floodLines = 5000000;
    std::string only;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--table")
            g_table = true;
        else if (arg == "--runs" && i + 1 < argc)
            runs = std::max(1, std::atoi(argv[++i]));
        else if (arg == "--stream-mb" && i + 1 < argc)
            settings.streamBytes = std::max(1LL, std::atoll(argv[++i])) * 1000000LL;
        else if (arg == "--dots" && i + 1 < argc)
            settings.dots = std::max(1L, std::atol(argv[++i]));
        else if (arg == "--flood-lines" && i + 1 < argc)
            floodLines = std::max(1L, std::atol(argv[++i]));
        else if (arg == "--only" && i + 1 < argc)
            only = argv[++i];
    }
    // Forked before Qt starts any thread.
    pid_t server = 0;
    int reportFd = -1;
    const quint16 port = startServer(settings, &server, &reportFd);
    if (port == 0) {
        std::printf("could not start the server\n");
        return 1;
    }

    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    if (!g_table)
        std::printf("Hostile server on loopback (a forked process), window shown (%s).\n",
                    qPrintable(QGuiApplication::platformName()));
    const auto wanted = [&only](const char *name) { return only.empty() || only == name; };
    const bool ok =
        (!wanted("idle") ||
         benchStream(port, reportFd, "idle", "In idle, answer to a NOOP", runs, settings.streamBytes)) &&
        (!wanted("read") || benchStream(port, reportFd, "read", "Read (TOP n 100) body", runs, settings.streamBytes)) &&
        (!wanted("dots") || benchDots(port, reportFd, runs, settings.dots, false)) &&
        (!wanted("dots-console") || benchDots(port, reportFd, runs, settings.dots, true)) &&
        (!wanted("list-flood") || benchFlood(port, reportFd, Flood::ListFlood, floodLines, runs)) &&
        (!wanted("list-flood") || benchFlood(port, reportFd, Flood::ListFlood, floodLines * 4, runs)) &&
        (!wanted("typed-flood") || benchFlood(port, reportFd, Flood::TypedFlood, floodLines, runs)) &&
        (!wanted("listing") || benchFlood(port, reportFd, Flood::Listing, 2000000, runs)) &&
        (!wanted("header-flood") || benchFlood(port, reportFd, Flood::HeaderFlood, floodLines, runs)) &&
        (!wanted("read-flood") || benchFlood(port, reportFd, Flood::ReadFlood, floodLines, runs)) &&
        (!wanted("headed") || benchFlood(port, reportFd, Flood::Headed, 100000, runs));
    ::kill(server, SIGTERM);
    ::waitpid(server, nullptr, 0);
    return ok ? 0 : 1;
}
