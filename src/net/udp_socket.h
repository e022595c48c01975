// The socket calls the UDP client needs, one backend per platform
// (udp_socket_win32.cpp, udp_socket_posix.cpp). Portable code sees sockets
// and addresses only through these types.
#pragma once

#include <cstddef>
#include <cstdint>

namespace marvik {

// Wide enough for a Winsock SOCKET (UINT_PTR) and a POSIX descriptor; both
// platforms' invalid values (INVALID_SOCKET, -1) convert to all ones.
using SocketHandle = std::uintptr_t;
constexpr SocketHandle INVALID_SOCKET_HANDLE = ~static_cast<SocketHandle>(0);

// The 16 bytes of an IPv4 sockaddr_in: family, port in network byte order,
// address in network byte order, 8 zero bytes. The backends check that the
// platform's sockaddr_in has this layout and pass it through unchanged.
struct SockAddrIn {
    std::uint16_t family;
    std::uint8_t port[2];
    std::uint8_t addr[4];
    std::uint8_t zero[8];
};
static_assert(sizeof(SockAddrIn) == 16, "sockaddr_in is 16 bytes");

constexpr std::uint32_t UDP_RECEIVE_TIMEOUT_MS = 5000;
constexpr std::uint32_t UDP_BUFFER_SIZE = 65536;

// A new AF_INET/SOCK_DGRAM/IPPROTO_UDP socket with SO_RCVTIMEO 5000 ms,
// SO_SNDBUF and SO_RCVBUF 65536 (option results not checked), or
// INVALID_SOCKET_HANDLE.
SocketHandle udpSocketOpen();

void udpSocketClose(SocketHandle sock);

// Ends waits in udpSocketReceive on other threads and makes later sends and
// receives fail, without releasing the handle.
void udpSocketShutdown(SocketHandle sock);

// AF_INET, htons(port), inet_pton of ip. Text that is not a dotted IPv4
// address (host names included, they are not resolved) gives 0.0.0.0.
SockAddrIn udpAddress(const char* ip, std::uint16_t port);

// Binds sock to at (port 0: one the system picks); false when refused.
// The client never binds; the tests' stand-in server peers do.
bool udpSocketBind(SocketHandle sock, const SockAddrIn& at);

// The port sock is bound to, host byte order; 0 when unknown.
std::uint16_t udpSocketLocalPort(SocketHandle sock);

// One sendto of length bytes, flags 0; the result is not reported.
void udpSocketSendTo(SocketHandle sock, const std::uint8_t* data, std::size_t length, const SockAddrIn& to);

// One recvfrom into buffer; the sender's address goes to from. Blocks until a
// datagram arrives or the socket's receive time-out passes. Returns the
// datagram's size, or -1 on error or time-out.
int udpSocketReceive(SocketHandle sock, std::uint8_t* buffer, int capacity, SockAddrIn& from);

// True when a datagram can be received within timeoutMs.
bool udpSocketWaitReadable(SocketHandle sock, std::uint32_t timeoutMs);

std::uint32_t currentProcessId();

}  // namespace marvik
