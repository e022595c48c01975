// The reference server's socket loop (POSIX): receives datagrams, feeds
// them to the protocol logic, sends its replies and fires its timers.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>

#include "server_core.h"

namespace marvik {

// A bound UDP socket, or -1 with a message in error. port 0 picks a free
// port; boundPort says which.
int openServerSocket(const std::string& ip, std::uint16_t port, std::uint16_t& boundPort,
                     std::string& error);

struct ServerLoopConfig {
    int sock = -1;
    ServerOptions options;
    // 0: until stop turns true.
    std::uint32_t durationMs = 0;
    // Called on the loop's thread for every event, in order.
    std::function<void(const ServerEvent&)> onEvent;
};

// Runs until stop is true or the duration has passed, then closes every
// open report as incomplete ("server stopped") and returns what it counted.
// The socket is the caller's to close.
ServerCounters runServerLoop(const ServerLoopConfig& cfg, const std::atomic<bool>& stop);

// Milliseconds of a monotonic clock.
std::uint64_t monotonicMs();

}  // namespace marvik
