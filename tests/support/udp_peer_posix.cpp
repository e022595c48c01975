#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>

#include "support/udp_peer.h"

namespace marvik::test {

SocketHandle bindUdpPeer(const char* ip) {
    SocketHandle s = udpSocketOpen();
    if (s == INVALID_SOCKET_HANDLE) return s;
    SockAddrIn local = udpAddress(ip, 0);
    sockaddr_in sa{};
    std::memcpy(&sa, &local, sizeof sa);
    if (bind(static_cast<int>(s), reinterpret_cast<const sockaddr*>(&sa), sizeof sa) != 0) {
        udpSocketClose(s);
        return INVALID_SOCKET_HANDLE;
    }
    return s;
}

std::uint16_t boundPort(SocketHandle sock) {
    sockaddr_in sa{};
    socklen_t length = sizeof sa;
    if (getsockname(static_cast<int>(sock), reinterpret_cast<sockaddr*>(&sa), &length) != 0) return 0;
    return ntohs(sa.sin_port);
}

}  // namespace marvik::test
