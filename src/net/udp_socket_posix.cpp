#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <cstddef>
#include <cstring>

#include "net/udp_socket.h"

namespace marvik {

static_assert(sizeof(sockaddr_in) == sizeof(SockAddrIn), "sockaddr_in layout");
static_assert(offsetof(sockaddr_in, sin_port) == offsetof(SockAddrIn, port), "sockaddr_in layout");
static_assert(offsetof(sockaddr_in, sin_addr) == offsetof(SockAddrIn, addr), "sockaddr_in layout");

namespace {

int fd(SocketHandle sock) { return static_cast<int>(sock); }

}  // namespace

SocketHandle udpSocketOpen() {
    int s = socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
    if (s < 0) return INVALID_SOCKET_HANDLE;
    // POSIX takes the receive time-out as a timeval, not milliseconds.
    timeval timeout{};
    timeout.tv_sec = UDP_RECEIVE_TIMEOUT_MS / 1000;
    timeout.tv_usec = (UDP_RECEIVE_TIMEOUT_MS % 1000) * 1000;
    setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    int bufferSize = static_cast<int>(UDP_BUFFER_SIZE);
    setsockopt(s, SOL_SOCKET, SO_SNDBUF, &bufferSize, sizeof bufferSize);
    setsockopt(s, SOL_SOCKET, SO_RCVBUF, &bufferSize, sizeof bufferSize);
    return static_cast<SocketHandle>(s);
}

void udpSocketClose(SocketHandle sock) { close(fd(sock)); }

void udpSocketShutdown(SocketHandle sock) { shutdown(fd(sock), SHUT_RDWR); }

SockAddrIn udpAddress(const char* ip, std::uint16_t port) {
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(port);
    inet_pton(AF_INET, ip != nullptr ? ip : "", &sa.sin_addr);
    SockAddrIn out{};
    std::memcpy(&out, &sa, sizeof out);
    return out;
}

bool udpSocketBind(SocketHandle sock, const SockAddrIn& at) {
    sockaddr_in sa{};
    std::memcpy(&sa, &at, sizeof sa);
    return bind(fd(sock), reinterpret_cast<const sockaddr*>(&sa), sizeof sa) == 0;
}

std::uint16_t udpSocketLocalPort(SocketHandle sock) {
    sockaddr_in sa{};
    socklen_t length = sizeof sa;
    return getsockname(fd(sock), reinterpret_cast<sockaddr*>(&sa), &length) == 0 ? ntohs(sa.sin_port) : 0;
}

void udpSocketSendTo(SocketHandle sock, const std::uint8_t* data, std::size_t length, const SockAddrIn& to) {
    sockaddr_in sa{};
    std::memcpy(&sa, &to, sizeof sa);
    sendto(fd(sock), data, length, 0, reinterpret_cast<const sockaddr*>(&sa), sizeof sa);
}

int udpSocketReceive(SocketHandle sock, std::uint8_t* buffer, int capacity, SockAddrIn& from) {
    sockaddr_in sa{};
    socklen_t saLength = sizeof sa;
    ssize_t n = recvfrom(fd(sock), buffer, static_cast<std::size_t>(capacity), 0, reinterpret_cast<sockaddr*>(&sa),
                         &saLength);
    std::memcpy(&from, &sa, sizeof from);
    return n < 0 ? -1 : static_cast<int>(n);
}

bool udpSocketWaitReadable(SocketHandle sock, std::uint32_t timeoutMs) {
    pollfd p{};
    p.fd = fd(sock);
    p.events = POLLIN;
    return poll(&p, 1, static_cast<int>(timeoutMs)) > 0;
}

std::uint32_t currentProcessId() { return static_cast<std::uint32_t>(getpid()); }

}  // namespace marvik
