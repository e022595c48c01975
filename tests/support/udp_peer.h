// A bound UDP socket on a chosen loopback address, standing in for the
// server plug-in (or a host pretending to be it) in the client's tests.
#pragma once

#include <cstdint>
#include <vector>

#include "net/udp_socket.h"

namespace marvik::test {

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
    void sendTo(const std::vector<std::uint8_t>& bytes, const SockAddrIn& to) const {
        udpSocketSendTo(sock, bytes.data(), bytes.size(), to);
    }
    // One datagram within timeoutMs; false when none came.
    bool receive(std::vector<std::uint8_t>& bytes, SockAddrIn& from, std::uint32_t timeoutMs = 2000) const {
        bytes.assign(UDP_BUFFER_SIZE, 0);
        if (!udpSocketWaitReadable(sock, timeoutMs)) return false;
        int n = udpSocketReceive(sock, bytes.data(), static_cast<int>(bytes.size()), from);
        if (n < 0) return false;
        bytes.resize(static_cast<std::size_t>(n));
        return true;
    }
};

}  // namespace marvik::test
