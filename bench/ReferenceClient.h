// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// A minimal POP3 client for reference figures: plain non-blocking sockets,
// no event loop, nothing but the bytes of the protocol.
//
//     ReferenceClient client;
//     client.login(port, "tester", "secret");
//     const double s = client.batch(ReferenceClient::topCommands(200), true, 1);    // one at a time
//     const double p = client.batch(ReferenceClient::deleCommands(200), false, 0);  // all at once
//
// A batch with a window of 1 sends each command after the reply to the one
// before (what a client without pipelining does); a window of W keeps up to
// W commands unanswered, 0 writes them all at once. Writing and reading go
// on together, so a long burst cannot stall against the server's replies.
class ReferenceClient {
public:
    ReferenceClient() = default;
    ~ReferenceClient();
    ReferenceClient(const ReferenceClient &) = delete;
    ReferenceClient &operator=(const ReferenceClient &) = delete;

    bool login(uint16_t port, const std::string &user, const std::string &password);
    // Seconds from the first command written to the last reply read, or a
    // negative number when a reply was refused, the connection failed or
    // nothing came for 30 s (why() says which).
    double batch(const std::vector<std::string> &commands, bool multiLine, int window);
    // The message count STAT reports (deleted messages left out), or -1.
    int messageCount();
    // Drops the connection without QUIT: the server forgets the deletions.
    void abort();
    const std::string &why() const { return failure; }

    static std::vector<std::string> topCommands(int rows);
    static std::vector<std::string> deleCommands(int rows);

private:
    // Sends command (if any) and reads a one-line reply.
    bool exchange(const std::string &command, std::string *reply);
    // The end of the next complete reply from pos, or npos.
    size_t replyEnd(bool multiLine) const;
    bool receive();
    bool fail(const std::string &text);

    int fd = -1;
    std::string in;
    size_t pos = 0;
    std::string failure;
};
