// The session's UDP link to the server plug-in: frames packets with the
// 12-byte header, RC4-encrypts payloads when asked, sends one datagram per
// packet and receives with a 5 s bound. Only datagrams from the server's IPv4
// address are received; any source port is accepted, since the plug-in may
// answer from a socket of its own.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "net/packets.h"
#include "net/udp_socket.h"

namespace marvik {

// Types 1 (hello) and 2 (challenge) always travel in clear.
bool isEncryptedType(std::uint8_t type);

// (pid << 16) XOR tick, in 32-bit arithmetic.
std::uint32_t makeSessionId(std::uint32_t processId, std::uint32_t tick);

// The datagram sendPacket sends: the header, then length payload bytes
// copied from data (zeros when data is null), the payload encrypted when
// encryption is on and the type is not sent in clear.
std::vector<std::uint8_t> framePacket(std::uint8_t type, const void* data, std::uint16_t length,
                                      std::uint32_t sessionId, bool encryption);

// What receivePacket makes of one received datagram of size bytes (decrypted
// in place). -1 for a runt (header untouched) or a wrong magic (header holds
// the first 12 bytes); otherwise the payload length, with the payload copied
// to buffer only when it is not null and the payload is 1..capacity bytes.
std::int32_t parseDatagram(std::uint8_t* datagram, std::int32_t size, bool encryption, ACPacketHeader& header,
                           void* buffer, std::int32_t capacity);

// Same IPv4 address, whatever the ports.
bool sameHost(const SockAddrIn& a, const SockAddrIn& b);

class UDPClient {
public:
    UDPClient() = default;
    ~UDPClient();
    UDPClient(const UDPClient&) = delete;
    UDPClient& operator=(const UDPClient&) = delete;
    UDPClient(UDPClient&&) = delete;
    UDPClient& operator=(UDPClient&&) = delete;

    // Creates the socket and fixes the destination, session id and
    // encryption. False only when no socket can be created. An address that
    // is not dotted IPv4 text leaves the destination 0.0.0.0.
    bool open(const std::string& serverIP, std::uint16_t serverPort, bool encryptionOn);

    // One packet of length payload bytes (zeros when data is null).
    void sendPacket(std::uint8_t type, const void* data, std::uint16_t length);

    // Waits up to 5 s for a datagram from the server's address; datagrams
    // from other hosts are dropped unseen. -1 when no valid packet came,
    // otherwise the payload length (see parseDatagram).
    std::int32_t receivePacket(ACPacketHeader& header, void* buffer, std::int32_t capacity);

    // Ends a receive waiting on another thread at once and makes later sends
    // and receives fail; the socket itself is closed by the destructor, so
    // no thread ever uses a released handle.
    void stop();

    bool isOpen() const { return sock != INVALID_SOCKET_HANDLE; }
    std::uint32_t session() const { return sessionId; }
    bool encrypted() const { return encryption; }
    const SockAddrIn& server() const { return serverAddr; }

private:
    SocketHandle sock = INVALID_SOCKET_HANDLE;
    SockAddrIn serverAddr{};
    std::uint32_t sessionId = 0;
    bool encryption = false;
    // Set by stop: what the socket then reports (0 bytes from nobody on some
    // systems) is not a datagram.
    std::atomic<bool> stopped{false};
};

}  // namespace marvik
