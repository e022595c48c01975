#include "server_loop.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <vector>

namespace marvik {

std::uint64_t monotonicMs() {
    using namespace std::chrono;
    return static_cast<std::uint64_t>(
        duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

int openServerSocket(const std::string& ip, std::uint16_t port, std::uint16_t& boundPort,
                     std::string& error) {
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(port);
    if (inet_pton(AF_INET, ip.c_str(), &addr.sin_addr) != 1) {
        error = "not a dotted IPv4 address: " + ip;
        return -1;
    }
    int sock = ::socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
    if (sock < 0) {
        error = std::string("socket: ") + std::strerror(errno);
        return -1;
    }
    int yes = 1;
    ::setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    if (::bind(sock, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        error = "bind " + ip + ":" + std::to_string(port) + ": " + std::strerror(errno);
        ::close(sock);
        return -1;
    }
    socklen_t len = sizeof addr;
    ::getsockname(sock, reinterpret_cast<sockaddr*>(&addr), &len);
    boundPort = ntohs(addr.sin_port);
    return sock;
}

namespace {

void deliver(const ServerLoopConfig& cfg, int sock, ServerOutput& out) {
    for (const OutDatagram& d : out.replies) {
        sockaddr_in to{};
        to.sin_family = AF_INET;
        to.sin_port = htons(d.to.port);
        to.sin_addr.s_addr = htonl(d.to.ip);
        ::sendto(sock, d.bytes.data(), d.bytes.size(), 0, reinterpret_cast<sockaddr*>(&to),
                 sizeof to);
    }
    if (cfg.onEvent)
        for (const ServerEvent& e : out.events) cfg.onEvent(e);
    out.events.clear();
    out.replies.clear();
}

// Longest single wait, so a stop request is seen promptly even when it comes
// without a signal (tests set the flag from another thread).
constexpr std::uint64_t MAX_WAIT_MS = 100;

}  // namespace

ServerCounters runServerLoop(const ServerLoopConfig& cfg, const std::atomic<bool>& stop) {
    ServerState state;
    std::uint64_t start = monotonicMs();
    serverInit(state, cfg.options, start);
    std::uint64_t end = cfg.durationMs > 0 ? start + cfg.durationMs : UINT64_MAX;
    std::vector<std::uint8_t> buffer(65536);
    ServerOutput out;

    while (!stop.load()) {
        std::uint64_t now = monotonicMs();
        if (now >= end) break;
        serverTick(state, now, out);
        deliver(cfg, cfg.sock, out);

        std::uint64_t wake = serverNextDeadline(state);
        if (end < wake) wake = end;
        std::uint64_t wait = wake > now ? wake - now : 0;
        if (wait > MAX_WAIT_MS) wait = MAX_WAIT_MS;
        pollfd pfd{cfg.sock, POLLIN, 0};
        int ready = ::poll(&pfd, 1, static_cast<int>(wait));
        if (ready <= 0) continue;  // time-out, or a signal: look at the flags again

        // Drain what is queued, so a burst of chunks is handled in one pass.
        for (;;) {
            sockaddr_in from{};
            socklen_t fromLen = sizeof from;
            ssize_t n = ::recvfrom(cfg.sock, buffer.data(), buffer.size(), MSG_DONTWAIT,
                                   reinterpret_cast<sockaddr*>(&from), &fromLen);
            if (n < 0) break;
            Endpoint src;
            src.ip = ntohl(from.sin_addr.s_addr);
            src.port = ntohs(from.sin_port);
            serverHandleDatagram(state, buffer.data(), static_cast<std::size_t>(n), src,
                                 monotonicMs(), out);
            deliver(cfg, cfg.sock, out);
        }
    }
    serverFinish(state, monotonicMs(), out);
    deliver(cfg, cfg.sock, out);
    return state.counters;
}

}  // namespace marvik
