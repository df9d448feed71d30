// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <thread>

// A TCP proxy on 127.0.0.1 that forwards every connection to a target port
// and holds back each direction by a fixed delay, as a network with that
// one-way latency would (and unlimited bandwidth). Bytes keep their order.
//
//     DelayProxy proxy(server.port(), 25);   // a 50 ms round trip
//     if (!proxy.start(&why)) ...
//     ... connect to 127.0.0.1:proxy.port() ...
//
// It runs in a thread of its own with plain sockets and poll(), so the
// caller's event loops, nested or blocked, do not move its timing. Each
// direction is read as long as it holds less than a bounded backlog, and
// independently of the other, so a client that writes a long burst of
// commands and a server that answers while still reading never wait on each
// other inside the proxy.
class DelayProxy {
public:
    DelayProxy(uint16_t targetPort, int delayMs);
    ~DelayProxy();
    DelayProxy(const DelayProxy &) = delete;
    DelayProxy &operator=(const DelayProxy &) = delete;

    bool start(std::string *whyNot = nullptr);
    void stop();

    uint16_t port() const { return listenPort; }
    int delayMs() const { return delay; }
    // Connections accepted so far and connections that could not reach the target.
    int accepted() const { return acceptedCount.load(); }
    int failed() const { return failedCount.load(); }

private:
    void run();

    uint16_t targetPort;
    int delay;
    uint16_t listenPort = 0;
    int listenFd = -1;
    int wakeRead = -1;
    int wakeWrite = -1;
    std::thread worker;
    std::atomic<int> acceptedCount{0};
    std::atomic<int> failedCount{0};
};
