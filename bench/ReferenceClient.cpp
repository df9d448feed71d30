// SPDX-License-Identifier: GPL-3.0-or-later
#include "ReferenceClient.h"

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
#include <cstdlib>
#include <cstring>

namespace {

constexpr int TimeoutMs = 30000;

}  // namespace

ReferenceClient::~ReferenceClient()
{
    abort();
}

void ReferenceClient::abort()
{
    if (fd >= 0)
        ::close(fd);
    fd = -1;
    in.clear();
    pos = 0;
}

bool ReferenceClient::fail(const std::string &text)
{
    failure = text;
    return false;
}

std::vector<std::string> ReferenceClient::topCommands(int rows)
{
    std::vector<std::string> commands;
    for (int i = 1; i <= rows; ++i)
        commands.push_back("TOP " + std::to_string(i) + " 0\r\n");
    return commands;
}

std::vector<std::string> ReferenceClient::deleCommands(int rows)
{
    std::vector<std::string> commands;
    for (int i = 1; i <= rows; ++i)
        commands.push_back("DELE " + std::to_string(i) + "\r\n");
    return commands;
}

bool ReferenceClient::login(uint16_t port, const std::string &user, const std::string &password)
{
    abort();
    fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (fd < 0 || ::connect(fd, reinterpret_cast<const sockaddr *>(&address), sizeof address) != 0)
        return fail(std::string("connect: ") + std::strerror(errno));
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
    const int on = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    std::string reply;
    if (!exchange({}, &reply) || reply.rfind("+OK", 0) != 0)
        return fail("greeting: " + reply);
    if (!exchange("USER " + user + "\r\n", &reply) || reply.rfind("+OK", 0) != 0)
        return fail("USER: " + reply);
    if (!exchange("PASS " + password + "\r\n", &reply) || reply.rfind("+OK", 0) != 0)
        return fail("PASS: " + reply);
    return true;
}

int ReferenceClient::messageCount()
{
    std::string reply;
    if (fd < 0 || !exchange("STAT\r\n", &reply) || reply.rfind("+OK ", 0) != 0) {
        fail("STAT: " + reply);
        return -1;
    }
    return std::atoi(reply.c_str() + 4);
}

bool ReferenceClient::exchange(const std::string &command, std::string *reply)
{
    size_t sent = 0;
    while (sent < command.size()) {
        const ssize_t n = ::send(fd, command.data() + sent, command.size() - sent, MSG_NOSIGNAL);
        if (n > 0) {
            sent += size_t(n);
            continue;
        }
        if (n < 0 && errno != EAGAIN && errno != EINTR)
            return fail(std::string("send: ") + std::strerror(errno));
        pollfd p{fd, POLLOUT, 0};
        if (::poll(&p, 1, TimeoutMs) <= 0)
            return fail("could not send within 30 s");
    }
    size_t end;
    while ((end = replyEnd(false)) == std::string::npos) {
        if (!receive())
            return false;
    }
    *reply = in.substr(pos, end - 2 - pos);
    pos = end;
    return true;
}

size_t ReferenceClient::replyEnd(bool multiLine) const
{
    const size_t status = in.find("\r\n", pos);
    if (status == std::string::npos)
        return std::string::npos;
    if (!multiLine || in.compare(pos, 3, "+OK") != 0)
        return status + 2;
    // A multi-line reply ends at a line holding only "."; lines of the
    // message that begin with "." arrive stuffed, so "\r\n.\r\n" is the end.
    const size_t end = in.find("\r\n.\r\n", status);
    return end == std::string::npos ? end : end + 5;
}

bool ReferenceClient::receive()
{
    // Bytes already read are dropped now and then, not after every reply.
    if (pos > 0 && pos * 2 > in.size()) {
        in.erase(0, pos);
        pos = 0;
    }
    pollfd p{fd, POLLIN, 0};
    if (::poll(&p, 1, TimeoutMs) <= 0)
        return fail("no reply within 30 s");
    char buffer[65536];
    const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
    if (n == 0)
        return fail("the server closed the connection");
    if (n < 0)
        return errno == EAGAIN || errno == EINTR || fail(std::string("recv: ") + std::strerror(errno));
    in.append(buffer, size_t(n));
    return true;
}

double ReferenceClient::batch(const std::vector<std::string> &commands, bool multiLine, int window)
{
    if (fd < 0) {
        fail("not connected");
        return -1;
    }
    const size_t total = commands.size();
    const size_t inFlight = window <= 0 ? total : size_t(window);
    size_t sent = 0;
    size_t answered = 0;
    std::string out;
    size_t outPos = 0;
    const auto started = std::chrono::steady_clock::now();
    while (answered < total) {
        while (sent < total && sent - answered < inFlight)
            out += commands[sent++];
        if (outPos < out.size()) {
            const ssize_t n = ::send(fd, out.data() + outPos, out.size() - outPos, MSG_NOSIGNAL);
            if (n < 0 && errno != EAGAIN && errno != EINTR) {
                fail(std::string("send: ") + std::strerror(errno));
                return -1;
            }
            if (n > 0)
                outPos += size_t(n);
            if (outPos == out.size()) {
                out.clear();
                outPos = 0;
            }
        }
        size_t end;
        bool progress = false;
        while (answered < total && (end = replyEnd(multiLine)) != std::string::npos) {
            if (in.compare(pos, 3, "+OK") != 0) {
                fail("refused: " + in.substr(pos, in.find("\r\n", pos) - pos));
                return -1;
            }
            pos = end;
            ++answered;
            progress = true;
        }
        if (progress || answered == total)
            continue;
        if (outPos < out.size()) {
            // Wait for room to write or for replies, whichever comes.
            pollfd p{fd, POLLIN | POLLOUT, 0};
            if (::poll(&p, 1, TimeoutMs) <= 0) {
                fail("no progress within 30 s");
                return -1;
            }
            if (!(p.revents & POLLIN))
                continue;
        }
        if (!receive())
            return -1;
    }
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
}
