// Command line of the reference server.
#pragma once

#include <cstdint>
#include <string>

#include "server_core.h"

namespace marvik {

struct ServerCommandLine {
    ServerOptions server;
    std::string listenIP = "127.0.0.1";
    std::uint16_t port = 28960;  // 0: any free port, reported in the start event
    std::string jsonPath = "-";  // "-": standard output
    bool summary = false;        // readable live summary on standard error
    int durationSec = 0;         // 0: until SIGINT or SIGTERM
    bool help = false;
};

// False with a message in error for an unknown switch or a bad value.
bool parseServerCommandLine(int argc, const char* const* argv, ServerCommandLine& cmd,
                            std::string& error);

extern const char* const SERVER_USAGE;

}  // namespace marvik
