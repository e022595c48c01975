#include "server_options.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace marvik {

const char* const SERVER_USAGE =
    "usage: marvik_refserver [options]\n"
    "  --listen ADDR           IPv4 address to listen on (default 127.0.0.1)\n"
    "  --port N                UDP port (default 28960; 0 picks a free one)\n"
    "  --encryption            RC4 payloads (all types but hello and challenge)\n"
    "  --reject                answer every challenge response with PKT_KICK\n"
    "  --silent                send nothing at all (no challenge, no verdict)\n"
    "  --no-verdict            send the challenge but no verdict\n"
    "  --kick-after N          PKT_KICK N seconds after the verdict\n"
    "  --screenshot-after N    PKT_SCREENSHOT_REQUEST N seconds after the verdict\n"
    "  --update-after N        PKT_UPDATE_AVAILABLE N seconds after the verdict\n"
    "  --report-timeout MS     close a report as incomplete after MS ms without a chunk\n"
    "                          (default 5000)\n"
    "  --max-sessions N        sessions kept at once (default 256)\n"
    "  --json FILE             JSON Lines output, '-' for standard output (default)\n"
    "  --summary               readable live summary on standard error\n"
    "  --duration N            stop by itself after N seconds (default: run until\n"
    "                          SIGINT or SIGTERM)\n"
    "  --help                  this text\n";

namespace {

bool parseNumber(const char* text, long long lo, long long hi, long long& value) {
    if (text == nullptr || *text == '\0') return false;
    errno = 0;
    char* end = nullptr;
    long long v = std::strtoll(text, &end, 10);
    if (errno != 0 || *end != '\0' || v < lo || v > hi) return false;
    value = v;
    return true;
}

}  // namespace

bool parseServerCommandLine(int argc, const char* const* argv, ServerCommandLine& cmd,
                            std::string& error) {
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        const char* value = i + 1 < argc ? argv[i + 1] : nullptr;
        long long n = 0;
        auto number = [&](long long lo, long long hi) {
            if (!parseNumber(value, lo, hi, n)) {
                error = arg + " needs a whole number from " + std::to_string(lo) + " to " +
                        std::to_string(hi);
                return false;
            }
            ++i;
            return true;
        };
        auto text = [&](std::string& out) {
            if (value == nullptr) {
                error = arg + " needs a value";
                return false;
            }
            out = value;
            ++i;
            return true;
        };
        if (arg == "--encryption") {
            cmd.server.encryption = true;
        } else if (arg == "--reject") {
            cmd.server.reject = true;
        } else if (arg == "--silent") {
            cmd.server.silent = true;
        } else if (arg == "--no-verdict") {
            cmd.server.noVerdict = true;
        } else if (arg == "--summary") {
            cmd.summary = true;
        } else if (arg == "--help" || arg == "-h") {
            cmd.help = true;
        } else if (arg == "--listen") {
            if (!text(cmd.listenIP)) return false;
        } else if (arg == "--json") {
            if (!text(cmd.jsonPath)) return false;
        } else if (arg == "--port") {
            if (!number(0, 65535)) return false;
            cmd.port = static_cast<std::uint16_t>(n);
        } else if (arg == "--kick-after") {
            if (!number(0, 86400)) return false;
            cmd.server.kickAfterSec = static_cast<int>(n);
        } else if (arg == "--screenshot-after") {
            if (!number(0, 86400)) return false;
            cmd.server.screenshotAfterSec = static_cast<int>(n);
        } else if (arg == "--update-after") {
            if (!number(0, 86400)) return false;
            cmd.server.updateAfterSec = static_cast<int>(n);
        } else if (arg == "--report-timeout") {
            if (!number(1, 3600000)) return false;
            cmd.server.reportTimeoutMs = static_cast<std::uint32_t>(n);
        } else if (arg == "--max-sessions") {
            if (!number(1, 1000000)) return false;
            cmd.server.maxSessions = static_cast<std::size_t>(n);
        } else if (arg == "--duration") {
            if (!number(0, 31536000)) return false;
            cmd.durationSec = static_cast<int>(n);
        } else {
            error = "unknown option " + arg;
            return false;
        }
    }
    return true;
}

}  // namespace marvik
