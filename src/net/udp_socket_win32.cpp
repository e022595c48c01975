#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>

#include <cstddef>
#include <cstring>

#include "net/udp_socket.h"

namespace marvik {

static_assert(sizeof(sockaddr_in) == sizeof(SockAddrIn), "sockaddr_in layout");
static_assert(offsetof(sockaddr_in, sin_port) == offsetof(SockAddrIn, port), "sockaddr_in layout");
static_assert(offsetof(sockaddr_in, sin_addr) == offsetof(SockAddrIn, addr), "sockaddr_in layout");
static_assert(sizeof(SOCKET) == sizeof(SocketHandle), "SOCKET fits SocketHandle");

namespace {

SOCKET handle(SocketHandle sock) { return static_cast<SOCKET>(sock); }

}  // namespace

SocketHandle udpSocketOpen() {
    SOCKET s = socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
    if (s == INVALID_SOCKET) return INVALID_SOCKET_HANDLE;
    DWORD timeoutMs = UDP_RECEIVE_TIMEOUT_MS;
    setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&timeoutMs), sizeof timeoutMs);
    int bufferSize = static_cast<int>(UDP_BUFFER_SIZE);
    setsockopt(s, SOL_SOCKET, SO_SNDBUF, reinterpret_cast<const char*>(&bufferSize), sizeof bufferSize);
    setsockopt(s, SOL_SOCKET, SO_RCVBUF, reinterpret_cast<const char*>(&bufferSize), sizeof bufferSize);
    return static_cast<SocketHandle>(s);
}

void udpSocketClose(SocketHandle sock) { closesocket(handle(sock)); }

void udpSocketShutdown(SocketHandle sock) {
    shutdown(handle(sock), SD_BOTH);
    // shutdown alone leaves a recvfrom that is already waiting to its
    // time-out; cancelling the socket's pending I/O ends it at once.
    CancelIoEx(reinterpret_cast<HANDLE>(sock), nullptr);
}

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
    return bind(handle(sock), reinterpret_cast<const sockaddr*>(&sa), static_cast<int>(sizeof sa)) == 0;
}

std::uint16_t udpSocketLocalPort(SocketHandle sock) {
    sockaddr_in sa{};
    int length = static_cast<int>(sizeof sa);
    return getsockname(handle(sock), reinterpret_cast<sockaddr*>(&sa), &length) == 0 ? ntohs(sa.sin_port) : 0;
}

void udpSocketSendTo(SocketHandle sock, const std::uint8_t* data, std::size_t length, const SockAddrIn& to) {
    sockaddr_in sa{};
    std::memcpy(&sa, &to, sizeof sa);
    sendto(handle(sock), reinterpret_cast<const char*>(data), static_cast<int>(length), 0,
           reinterpret_cast<const sockaddr*>(&sa), static_cast<int>(sizeof sa));
}

int udpSocketReceive(SocketHandle sock, std::uint8_t* buffer, int capacity, SockAddrIn& from) {
    sockaddr_in sa{};
    int saLength = static_cast<int>(sizeof sa);
    int n = recvfrom(handle(sock), reinterpret_cast<char*>(buffer), capacity, 0, reinterpret_cast<sockaddr*>(&sa),
                     &saLength);
    std::memcpy(&from, &sa, sizeof from);
    return n == SOCKET_ERROR ? -1 : n;
}

bool udpSocketWaitReadable(SocketHandle sock, std::uint32_t timeoutMs) {
    fd_set readable;
    FD_ZERO(&readable);
    FD_SET(handle(sock), &readable);
    timeval timeout{};
    timeout.tv_sec = static_cast<long>(timeoutMs / 1000);
    timeout.tv_usec = static_cast<long>((timeoutMs % 1000) * 1000);
    return select(0, &readable, nullptr, nullptr, &timeout) > 0;
}

std::uint32_t currentProcessId() { return static_cast<std::uint32_t>(GetCurrentProcessId()); }

}  // namespace marvik
