// SPDX-License-Identifier: GPL-3.0-or-later
#include "DelayProxy.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <deque>
#include <memory>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

// What one direction may hold before the proxy stops reading it (until the
// receiving side has taken some): a burst far larger than any batch.
constexpr size_t MaxBacklog = 16 * 1024 * 1024;
constexpr size_t ReadSize = 64 * 1024;

struct Chunk {
    Clock::time_point due;
    std::vector<char> bytes;
    size_t sent = 0;
};

struct Direction {
    int from = -1;
    int to = -1;
    std::deque<Chunk> chunks;
    size_t backlog = 0;
    bool eof = false;          // the sender has closed its side
    Clock::time_point eofDue;  // when the receiver is told
    bool shut = false;         // the receiver has been told
    bool blocked = false;      // the receiver's buffer was full at the last write
};

struct Connection {
    int fds[2] = {-1, -1};  // client, server
    Direction dirs[2];      // client to server, server to client
    bool broken = false;

    ~Connection()
    {
        for (int fd : fds) {
            if (fd >= 0)
                ::close(fd);
        }
    }
    bool finished() const { return broken || (dirs[0].shut && dirs[1].shut); }
};

void setNonBlocking(int fd)
{
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
}

void setNoDelay(int fd)
{
    const int on = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
}

sockaddr_in loopback(uint16_t port)
{
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return address;
}

// Writes what is due; false when the receiver is gone.
bool flush(Direction &d, Clock::time_point now)
{
    while (!d.chunks.empty() && d.chunks.front().due <= now) {
        Chunk &chunk = d.chunks.front();
        const ssize_t n = ::send(d.to, chunk.bytes.data() + chunk.sent, chunk.bytes.size() - chunk.sent, MSG_NOSIGNAL);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            if (errno == EAGAIN || errno == EWOULDBLOCK) {
                d.blocked = true;
                return true;
            }
            return false;
        }
        chunk.sent += size_t(n);
        d.backlog -= size_t(n);
        if (chunk.sent == chunk.bytes.size())
            d.chunks.pop_front();
    }
    d.blocked = false;
    if (d.eof && !d.shut && d.chunks.empty() && d.eofDue <= now) {
        ::shutdown(d.to, SHUT_WR);
        d.shut = true;
    }
    return true;
}

// Reads what the sender has, stamped with when it may go on; false on a reset.
bool take(Direction &d, Clock::time_point due)
{
    while (d.backlog < MaxBacklog) {
        Chunk chunk;
        chunk.due = due;
        chunk.bytes.resize(ReadSize);
        const ssize_t n = ::recv(d.from, chunk.bytes.data(), chunk.bytes.size(), 0);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return errno == EAGAIN || errno == EWOULDBLOCK;
        }
        if (n == 0) {
            d.eof = true;
            d.eofDue = due;
            return true;
        }
        chunk.bytes.resize(size_t(n));
        d.backlog += size_t(n);
        d.chunks.push_back(std::move(chunk));
        if (size_t(n) < ReadSize)
            return true;
    }
    return true;
}

}  // namespace

DelayProxy::DelayProxy(uint16_t target, int delayMs) : targetPort(target), delay(std::max(0, delayMs))
{
}

DelayProxy::~DelayProxy()
{
    stop();
}

bool DelayProxy::start(std::string *whyNot)
{
    const auto fail = [&](const char *what) {
        if (whyNot)
            *whyNot = std::string(what) + ": " + std::strerror(errno);
        return false;
    };
    listenFd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (listenFd < 0)
        return fail("socket");
    const int on = 1;
    ::setsockopt(listenFd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in address = loopback(0);
    if (::bind(listenFd, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0)
        return fail("bind");
    if (::listen(listenFd, 16) != 0)
        return fail("listen");
    socklen_t length = sizeof address;
    if (::getsockname(listenFd, reinterpret_cast<sockaddr *>(&address), &length) != 0)
        return fail("getsockname");
    listenPort = ntohs(address.sin_port);
    int wake[2];
    if (::pipe2(wake, O_NONBLOCK | O_CLOEXEC) != 0)
        return fail("pipe");
    wakeRead = wake[0];
    wakeWrite = wake[1];
    worker = std::thread([this] { run(); });
    return true;
}

void DelayProxy::stop()
{
    if (worker.joinable()) {
        const char byte = 0;
        while (::write(wakeWrite, &byte, 1) < 0 && errno == EINTR) {
        }
        worker.join();
    }
    for (int *fd : {&listenFd, &wakeRead, &wakeWrite}) {
        if (*fd >= 0)
            ::close(*fd);
        *fd = -1;
    }
}

void DelayProxy::run()
{
    const auto delayFor = std::chrono::milliseconds(delay);
    std::vector<std::unique_ptr<Connection>> connections;
    std::vector<pollfd> polled;
    while (true) {
        const Clock::time_point now = Clock::now();
        for (auto &c : connections) {
            for (Direction &d : c->dirs) {
                if (!c->broken && !flush(d, now))
                    c->broken = true;
            }
        }
        std::erase_if(connections, [](const std::unique_ptr<Connection> &c) { return c->finished(); });

        // Wake for the next chunk that falls due (to the microsecond: poll's
        // milliseconds would add up to one to every delay), or when a socket
        // has news.
        bool timed = false;
        Clock::time_point wake;
        const auto wakeAt = [&](Clock::time_point due) {
            wake = timed ? std::min(wake, due) : due;
            timed = true;
        };
        polled.clear();
        polled.push_back({wakeRead, POLLIN, 0});
        polled.push_back({listenFd, POLLIN, 0});
        for (auto &c : connections) {
            short events[2] = {0, 0};
            for (int i = 0; i < 2; ++i) {
                Direction &d = c->dirs[i];
                if (!d.eof && d.backlog < MaxBacklog)
                    events[i] |= POLLIN;
                if (d.blocked)
                    events[1 - i] |= POLLOUT;
                else if (!d.chunks.empty())
                    wakeAt(d.chunks.front().due);
                else if (d.eof && !d.shut)
                    wakeAt(d.eofDue);
            }
            // A socket with nothing to wait for stays out: a closed one would
            // report its hang-up on every poll.
            for (int i = 0; i < 2; ++i)
                polled.push_back({events[i] ? c->fds[i] : -1, events[i], 0});
        }
        timespec timeout{};
        if (timed) {
            const auto ns = std::max<long long>(0, std::chrono::nanoseconds(wake - now).count());
            timeout.tv_sec = time_t(ns / 1000000000);
            timeout.tv_nsec = long(ns % 1000000000);
        }
        if (::ppoll(polled.data(), polled.size(), timed ? &timeout : nullptr, nullptr) < 0 && errno != EINTR)
            return;
        if (polled[0].revents)
            return;

        const Clock::time_point due = Clock::now() + delayFor;
        for (size_t k = 0; k < connections.size(); ++k) {
            Connection &c = *connections[k];
            for (int i = 0; i < 2; ++i) {
                const short revents = polled[2 + 2 * k + size_t(i)].revents;
                if (revents & POLLERR)
                    c.broken = true;
                else if ((revents & (POLLIN | POLLHUP)) && !c.dirs[i].eof && !take(c.dirs[i], due))
                    c.broken = true;
            }
        }

        if (polled[1].revents & POLLIN) {
            while (true) {
                const int client = ::accept4(listenFd, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
                if (client < 0)
                    break;
                ++acceptedCount;
                auto c = std::make_unique<Connection>();
                c->fds[0] = client;
                c->fds[1] = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
                const sockaddr_in target = loopback(targetPort);
                if (c->fds[1] < 0 ||
                    ::connect(c->fds[1], reinterpret_cast<const sockaddr *>(&target), sizeof target) != 0) {
                    ++failedCount;
                    continue;  // the client sees its connection closed
                }
                setNonBlocking(c->fds[1]);
                for (int fd : c->fds)
                    setNoDelay(fd);
                c->dirs[0].from = c->fds[0];
                c->dirs[0].to = c->fds[1];
                c->dirs[1].from = c->fds[1];
                c->dirs[1].to = c->fds[0];
                connections.push_back(std::move(c));
            }
        }
    }
}
