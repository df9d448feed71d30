// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>

// Values of SessionState: which reply the conversation waits for (7 unused).
enum : std::uint8_t {
    ssIdle = 0,
    ssWaitUser = 1,
    ssWaitPass = 2,
    ssWaitHeader = 3,
    ssWaitList = 4,
    ssWaitDelete = 5,
    ssWaitRead = 6,
    ssReadBody = 8,
    ssListBody = 9,
    ssHeaderBody = 10,
    ssWaitGreeting = 11,
    // The server's capabilities, asked before a batch (CAPA).
    ssWaitCapa = 12,
    ssCapaBody = 13,
    // The reply to a line typed on the console: shown, never acted on.
    ssWaitTyped = 14,
    ssTypedBody = 15,
    // The reply to STLS, before the login on a port in clear.
    ssWaitStls = 16,
    ssStateCount = 17,
};
