// marvik_refserver: the server plug-in's side of the protocol, for trying a
// client by hand and as the peer of the system tests. Writes one JSON object
// per line for every received packet, sent packet and finished report.
#include <unistd.h>

#include <atomic>
#include <csignal>
#include <cstdio>
#include <string>

#include "json_lines.h"
#include "server_loop.h"
#include "server_options.h"

namespace {

std::atomic<bool> g_stopRequested{false};

extern "C" void onStopSignal(int) { g_stopRequested.store(true); }

void installSignals() {
    struct sigaction sa = {};
    sa.sa_handler = onStopSignal;
    sigemptyset(&sa.sa_mask);
    // No SA_RESTART: poll returns at once and the loop sees the flag.
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);
    std::signal(SIGPIPE, SIG_IGN);
}

void writeLine(std::FILE* f, const std::string& line) {
    std::fwrite(line.data(), 1, line.size(), f);
    std::fputc('\n', f);
    // Line by line, so a test that tails the file sees each event at once.
    std::fflush(f);
}

}  // namespace

int main(int argc, char** argv) {
    using namespace marvik;
    ServerCommandLine cmd;
    std::string error;
    if (!parseServerCommandLine(argc, argv, cmd, error)) {
        std::fprintf(stderr, "marvik_refserver: %s\n%s", error.c_str(), SERVER_USAGE);
        return 2;
    }
    if (cmd.help) {
        std::fputs(SERVER_USAGE, stdout);
        return 0;
    }

    std::FILE* json = stdout;
    if (cmd.jsonPath != "-") {
        json = std::fopen(cmd.jsonPath.c_str(), "w");
        if (json == nullptr) {
            std::fprintf(stderr, "marvik_refserver: cannot write %s\n", cmd.jsonPath.c_str());
            return 1;
        }
    }
    std::uint16_t boundPort = 0;
    int sock = openServerSocket(cmd.listenIP, cmd.port, boundPort, error);
    if (sock < 0) {
        std::fprintf(stderr, "marvik_refserver: %s\n", error.c_str());
        if (json != stdout) std::fclose(json);
        return 1;
    }
    installSignals();

    const ServerOptions& o = cmd.server;
    JsonObject start;
    jsonAddString(start, "event", "listening");
    jsonAddString(start, "address", cmd.listenIP);
    jsonAddUint(start, "port", boundPort);
    jsonAddBool(start, "encryption", o.encryption);
    jsonAddBool(start, "reject", o.reject);
    jsonAddBool(start, "silent", o.silent);
    jsonAddBool(start, "no_verdict", o.noVerdict);
    jsonAddRaw(start, "kick_after", std::to_string(o.kickAfterSec));
    jsonAddRaw(start, "screenshot_after", std::to_string(o.screenshotAfterSec));
    jsonAddRaw(start, "update_after", std::to_string(o.updateAfterSec));
    jsonAddUint(start, "report_timeout_ms", o.reportTimeoutMs);
    jsonAddUint(start, "pid", static_cast<std::uint64_t>(getpid()));
    writeLine(json, jsonFinish(start));
    if (cmd.summary)
        std::fprintf(stderr, "listening on %s:%u%s\n", cmd.listenIP.c_str(), boundPort,
                     o.encryption ? " (RC4)" : "");

    ServerLoopConfig cfg;
    cfg.sock = sock;
    cfg.options = o;
    cfg.durationMs = static_cast<std::uint32_t>(cmd.durationSec) * 1000u;
    bool summary = cmd.summary;
    cfg.onEvent = [json, summary](const ServerEvent& e) {
        writeLine(json, e.json);
        if (summary) writeLine(stderr, e.summary);
    };
    ServerCounters c = runServerLoop(cfg, g_stopRequested);
    ::close(sock);

    JsonObject stop;
    jsonAddString(stop, "event", "stopped");
    jsonAddUint(stop, "datagrams", c.datagrams);
    jsonAddUint(stop, "malformed", c.malformed);
    jsonAddUint(stop, "reports_complete", c.reportsComplete);
    jsonAddUint(stop, "reports_incomplete", c.reportsIncomplete);
    jsonAddUint(stop, "replies_sent", c.repliesSent);
    writeLine(json, jsonFinish(stop));
    if (cmd.summary)
        std::fprintf(stderr,
                     "stopped: %llu datagrams, %llu malformed, %llu reports complete, %llu "
                     "incomplete\n",
                     static_cast<unsigned long long>(c.datagrams),
                     static_cast<unsigned long long>(c.malformed),
                     static_cast<unsigned long long>(c.reportsComplete),
                     static_cast<unsigned long long>(c.reportsIncomplete));
    if (json != stdout) std::fclose(json);
    return 0;
}
