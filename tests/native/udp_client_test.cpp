#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "base/clock.h"
#include "net/packets.h"
#include "net/rc4.h"
#include "net/udp_client.h"
#include "support/report_samples.h"
#include "support/wire.h"

namespace marvik {
namespace {

using namespace test;

Bytes encrypt(Bytes b) {
    rc4_crypt(b.data(), static_cast<std::int32_t>(b.size()), AC_ENCRYPT_KEY, AC_ENCRYPT_KEY_LENGTH);
    return b;
}

// Opens client towards peer; its first send tells the peer its address.
SockAddrIn openTo(UDPClient& client, const UdpPeer& peer, bool encryption, const char* ip = "127.0.0.1") {
    SockAddrIn clientAddr{};
    Bytes first;
    EXPECT_TRUE(client.open(ip, peer.port(), encryption));
    client.sendPacket(PKT_HELLO, nullptr, 0);
    EXPECT_TRUE(peer.receive(first, clientAddr));
    return clientAddr;
}

// Every packet carries the client's session id, (pid << 16) ^ the tick of
// opening; null data goes as zeros, encrypted. (The protocol reference's
// examples hold the header and what is encrypted byte for byte.)
TEST(UdpLink, SendCarriesTheSessionIdAndNullDataAsZeros) {
    UdpPeer server("127.0.0.1");
    UDPClient client;
    openTo(client, server, true);
    const std::uint32_t sid = client.session();
    EXPECT_LT(static_cast<std::uint32_t>(tickCount() - (sid ^ (currentProcessId() << 16))), 2000u);
    client.sendPacket(PKT_HEARTBEAT, nullptr, 8);
    Bytes d;
    SockAddrIn from{};
    ASSERT_TRUE(server.receive(d, from));
    EXPECT_EQ(loadLe32(&d[8]), sid);
    EXPECT_EQ(Bytes(d.begin() + 12, d.end()), encrypt(Bytes(8, 0)));
}

// The header is read from any datagram of header size (magic or not); the
// payload is decrypted when encryption is on (the challenge's travels in
// clear), its length returned, and it is copied only when it fits. The
// server's host is heard from any port.
TEST(UdpLink, ReceiveReadsHeaderDecryptsAndCopiesOnlyAPayloadThatFits) {
    UdpPeer server("127.0.0.1"), otherPort("127.0.0.1");
    Bytes runt = datagram(PKT_KICK), wrongMagic = datagram(PKT_KICK, {1, 2, 3});
    runt.pop_back();
    wrongMagic[1] = 0x44;
    const Bytes full = fileBytes(4096), challenge = fileBytes(32);
    for (bool encryption : {false, true}) {
        UDPClient client;
        const SockAddrIn clientAddr = openTo(client, server, encryption);
        const auto sealed = [&](std::uint8_t type, const Bytes& p) { return datagram(type, encryption ? encrypt(p) : p); };
        const struct {
            const char* what;
            Bytes datagram;
            std::int32_t result;
            Bytes copied;
            const UdpPeer& from;
        } cases[] = {
            {"header only", datagram(PKT_KICK), 0, {}, server},
            {"runt", runt, -1, {}, server},
            {"wrong magic", wrongMagic, -1, {}, server},
            {"larger than the buffer", sealed(PKT_SCREENSHOT_REQUEST, fileBytes(5000)), 5000, {}, server},
            {"fills the buffer", sealed(PKT_UPDATE_AVAILABLE, full), 4096, full, server},
            {"a challenge", datagram(PKT_CHALLENGE, challenge), 32, challenge, server},
            {"from another port", sealed(PKT_KICK, {9}), 1, {9}, otherPort},
        };
        for (const auto& c : cases) {
            SCOPED_TRACE(std::string(c.what) + (encryption ? ", encrypted" : ""));
            ACPacketHeader h;
            std::memset(&h, 0x5C, sizeof h);
            Bytes buffer(4096, 0xEE), copied = c.copied;
            copied.resize(4096, 0xEE);
            c.from.sendTo(c.datagram, clientAddr);
            EXPECT_EQ(client.receivePacket(h, buffer.data(), 4096), c.result);
            const bool headerRead = c.datagram.size() >= 12;
            const Bytes header = headerRead ? Bytes(c.datagram.begin(), c.datagram.begin() + 12) : Bytes(12, 0x5C);
            EXPECT_EQ(std::memcmp(&h, header.data(), sizeof h), 0);
            EXPECT_EQ(buffer, copied);
        }
    }
}

// Another host's datagrams, runts and commands alike, are dropped unseen and
// do not end the 5 s wait. The server is at 127.0.0.2 and the other host at
// 127.0.0.1: Wine sends every loopback datagram from 127.0.0.1.
TEST(UdpLink, ForeignTrafficIsDroppedWithinTheFiveSecondWait) {
    UdpPeer server("127.0.0.2"), otherHost("127.0.0.1");
    UDPClient client;
    const SockAddrIn clientAddr = openTo(client, server, false, "127.0.0.2");
    std::thread flood([&] {
        for (int i = 0; i < 4; ++i) {
            if (i > 0) std::this_thread::sleep_for(std::chrono::milliseconds(1400));
            for (const Bytes& d : {Bytes{}, Bytes(11, 0), datagram(PKT_KICK), datagram(PKT_VERIFY_OK)})
                otherHost.sendTo(d, clientAddr);
        }
    });
    ACPacketHeader h;
    std::memset(&h, 0x5C, sizeof h);
    const Clock::time_point start = Clock::now();
    EXPECT_EQ(client.receivePacket(h, nullptr, 0), -1);
    const long long elapsed = msSince(start);
    flood.join();
    EXPECT_EQ(h.type, 0x5C);
    EXPECT_TRUE(elapsed >= 4500 && elapsed <= 6000) << elapsed;
}

}  // namespace
}  // namespace marvik
