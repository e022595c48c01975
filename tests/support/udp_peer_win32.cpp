#include <winsock2.h>
#include <ws2tcpip.h>

#include <cstring>

#include "support/udp_peer.h"

namespace marvik::test {

SocketHandle bindUdpPeer(const char* ip) {
    SocketHandle s = udpSocketOpen();
    if (s == INVALID_SOCKET_HANDLE) return s;
    SockAddrIn local = udpAddress(ip, 0);
    sockaddr_in sa{};
    std::memcpy(&sa, &local, sizeof sa);
    if (bind(static_cast<SOCKET>(s), reinterpret_cast<const sockaddr*>(&sa), static_cast<int>(sizeof sa)) != 0) {
        udpSocketClose(s);
        return INVALID_SOCKET_HANDLE;
    }
    return s;
}

std::uint16_t boundPort(SocketHandle sock) {
    sockaddr_in sa{};
    int length = static_cast<int>(sizeof sa);
    if (getsockname(static_cast<SOCKET>(sock), reinterpret_cast<sockaddr*>(&sa), &length) != 0) return 0;
    return ntohs(sa.sin_port);
}

}  // namespace marvik::test
