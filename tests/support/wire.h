// Bytes on the wire and a socket standing in for the server, for the tests that talk to the client.
#pragma once

#include <chrono>
#include <cstdint>
#include <cstring>
#include <vector>

#include "net/udp_socket.h"

namespace marvik::test {

using Bytes = std::vector<std::uint8_t>;
using Clock = std::chrono::steady_clock;

inline long long msSince(Clock::time_point start) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

// A record's bytes as they go on the wire.
template <typename Record>
Bytes bytesOf(const Record& r) {
    Bytes out(sizeof r);
    std::memcpy(out.data(), &r, sizeof r);
    return out;
}

// A server's datagram, built apart from the code under test: magic, version 1, type, length, a session id.
inline Bytes datagram(std::uint8_t type, const Bytes& payload = {}, std::uint32_t magic = 0x4D414300u) {
    const auto byte = [](std::uint32_t v, int i) { return static_cast<std::uint8_t>(v >> (8 * i)); };
    const auto n = static_cast<std::uint32_t>(payload.size());
    Bytes d = {byte(magic, 0), byte(magic, 1), byte(magic, 2), byte(magic, 3), 0x01, type, byte(n, 0), byte(n, 1),
               0x44, 0x33, 0x22, 0x11};
    d.insert(d.end(), payload.begin(), payload.end());
    return d;
}

// A bound UDP socket on a chosen loopback address.
struct UdpPeer {
    SocketHandle sock = INVALID_SOCKET_HANDLE;

    // Bound to ip and a port the system picks; INVALID_SOCKET_HANDLE on failure.
    explicit UdpPeer(const char* ip) : sock(udpSocketOpen()) {
        if (sock != INVALID_SOCKET_HANDLE && !udpSocketBind(sock, udpAddress(ip, 0))) {
            udpSocketClose(sock);
            sock = INVALID_SOCKET_HANDLE;
        }
    }
    ~UdpPeer() {
        if (sock != INVALID_SOCKET_HANDLE) udpSocketClose(sock);
    }
    UdpPeer(const UdpPeer&) = delete;
    UdpPeer& operator=(const UdpPeer&) = delete;

    std::uint16_t port() const { return udpSocketLocalPort(sock); }
    void sendTo(const Bytes& bytes, const SockAddrIn& to) const {
        udpSocketSendTo(sock, bytes.data(), bytes.size(), to);
    }
    // One datagram within timeoutMs; false when none came.
    bool receive(Bytes& bytes, SockAddrIn& from, std::uint32_t timeoutMs = 2000) const {
        bytes.assign(UDP_BUFFER_SIZE, 0);
        if (!udpSocketWaitReadable(sock, timeoutMs)) return false;
        int n = udpSocketReceive(sock, bytes.data(), static_cast<int>(bytes.size()), from);
        if (n < 0) return false;
        bytes.resize(static_cast<std::size_t>(n));
        return true;
    }
};

}  // namespace marvik::test
