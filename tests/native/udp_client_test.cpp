#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "inventory/module_info.h"
#include "net/chunks.h"
#include "net/packets.h"
#include "net/platform_clock.h"
#include "net/rc4.h"
#include "net/udp_client.h"
#include "support/files.h"
#include "support/udp_peer.h"
#include "support/wire.h"

namespace marvik {
namespace {

using namespace test;

Bytes pattern(std::size_t n, std::uint8_t seed) {
    Bytes b(n);
    for (std::size_t i = 0; i < n; ++i) b[i] = static_cast<std::uint8_t>(seed + i * 13);
    return b;
}

Bytes encrypt(Bytes b) {
    rc4_crypt(b.data(), static_cast<std::int32_t>(b.size()), AC_ENCRYPT_KEY, AC_ENCRYPT_KEY_LENGTH);
    return b;
}

Bytes head(const Bytes& d) { return Bytes(d.begin(), d.begin() + 12); }
Bytes payloadOf(const Bytes& d) { return Bytes(d.begin() + 12, d.end()); }

TEST(UdpClientOpen, FixesDestinationSessionIdAndEncryption) {
    UDPClient client;
    ASSERT_TRUE(client.open("10.1.2.3", 28960, true));
    EXPECT_TRUE(client.isOpen());
    EXPECT_TRUE(client.encrypted());
    const SockAddrIn& a = client.server();
    EXPECT_EQ(a.family, 2);  // AF_INET
    EXPECT_EQ(a.port[0], 0x71);  // 28960 in network order
    EXPECT_EQ(a.port[1], 0x20);
    EXPECT_EQ(Bytes(a.addr, a.addr + 4), (Bytes{10, 1, 2, 3}));
    EXPECT_EQ(Bytes(a.zero, a.zero + 8), Bytes(8, 0));

    // (pid << 16) ^ tick: what is left after taking out the pid is a tick of
    // the moment of opening.
    std::uint32_t tick = client.session() ^ static_cast<std::uint32_t>(currentProcessId() << 16);
    EXPECT_LT(static_cast<std::uint32_t>(tickCount() - tick), 2000u);

    // Host names are not resolved.
    ASSERT_TRUE(client.open("localhost", 28960, false));
    EXPECT_EQ(Bytes(client.server().addr, client.server().addr + 4), Bytes(4, 0));
}

// A client talking to a real peer socket on 127.0.0.1.
class UdpLink : public testing::Test {
protected:
    void open(bool encryption) { openTowards(server, "127.0.0.1", encryption); }
    void openTowards(const test::UdpPeer& peer, const char* ip, bool encryption) {
        ASSERT_NE(peer.sock, INVALID_SOCKET_HANDLE);
        ASSERT_TRUE(client.open(ip, peer.port(), encryption));
        // The client's first send gives it its port; the server learns it.
        client.sendPacket(PKT_HELLO, nullptr, 0);
        Bytes first;
        ASSERT_TRUE(peer.receive(first, clientAddr));
    }
    Bytes sent(std::uint8_t type, const void* data, std::uint16_t length) {
        client.sendPacket(type, data, length);
        return nextAtServer();
    }
    Bytes nextAtServer() {
        Bytes d;
        SockAddrIn from{};
        EXPECT_TRUE(server.receive(d, from));
        return d;
    }
    std::int32_t deliver(const Bytes& datagram, ACPacketHeader& h, void* buffer, std::int32_t capacity) {
        server.sendTo(datagram, clientAddr);
        return client.receivePacket(h, buffer, capacity);
    }
    test::UdpPeer server{"127.0.0.1"};
    UDPClient client;
    SockAddrIn clientAddr{};
    std::string logPath;
};

// Header (magic, version, type, length, session id), then the payload; with
// encryption on, every payload but the hello's is encrypted, null data as zeros.
TEST_F(UdpLink, SendFramesEveryPacketAndEncryptsAllButTheHello) {
    open(true);
    const std::uint32_t sid = client.session();
    const Bytes hello = pattern(144, 7);
    const Bytes h = sent(PKT_HELLO, hello.data(), 144);
    EXPECT_EQ(head(h), (Bytes{0x00, 0x43, 0x41, 0x4D, 0x01, 0x01, 0x90, 0x00, static_cast<std::uint8_t>(sid),
                              static_cast<std::uint8_t>(sid >> 8), static_cast<std::uint8_t>(sid >> 16),
                              static_cast<std::uint8_t>(sid >> 24)}));
    EXPECT_EQ(payloadOf(h), hello);

    const Bytes response = pattern(41, 9);
    const Bytes r = sent(PKT_CHALLENGE_RESPONSE, response.data(), 41);
    EXPECT_EQ(head(r), head(framePacket(PKT_CHALLENGE_RESPONSE, nullptr, 41, sid, false)));
    EXPECT_EQ(encrypt(payloadOf(r)), response);
    const Bytes z = sent(PKT_HEARTBEAT, nullptr, 8);
    ASSERT_EQ(z.size(), 20u);
    EXPECT_EQ(payloadOf(z), encrypt(Bytes(8, 0)));
}

// The header is read from any datagram of header size (magic or not); the
// payload's length is returned, and the payload copied only when it fits.
TEST_F(UdpLink, ReceiveReadsHeaderAndCopiesOnlyAPayloadThatFits) {
    open(false);
    Bytes runt = datagram(PKT_KICK);
    runt.pop_back();
    Bytes wrongMagic = datagram(PKT_KICK, {1, 2, 3});
    wrongMagic[1] = 0x44;
    const Bytes full = pattern(4096, 5);
    const struct {
        const char* what;
        Bytes datagram;
        bool buffer;
        std::int32_t result;
        bool headerRead, copied;
    } cases[] = {
        {"header only", datagram(PKT_KICK), true, 0, true, false},
        {"runt", runt, true, -1, false, false},
        {"wrong magic", wrongMagic, true, -1, true, false},
        {"larger than the buffer", datagram(PKT_SCREENSHOT_REQUEST, pattern(5000, 3)), true, 5000, true, false},
        {"fills the buffer", datagram(PKT_UPDATE_AVAILABLE, full), true, 4096, true, true},
        {"no buffer", datagram(PKT_VERIFY_OK, pattern(10, 1)), false, 10, true, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        ACPacketHeader h;
        std::memset(&h, 0x5C, sizeof h);
        Bytes buffer(4096, 0xEE);
        EXPECT_EQ(deliver(c.datagram, h, c.buffer ? buffer.data() : nullptr, 4096), c.result);
        const Bytes header = c.headerRead ? head(c.datagram) : Bytes(sizeof h, 0x5C);
        EXPECT_EQ(std::memcmp(&h, header.data(), sizeof h), 0);
        EXPECT_EQ(buffer, c.copied ? payloadOf(c.datagram) : Bytes(4096, 0xEE));
    }
}

TEST_F(UdpLink, ReceiveDecryptsEveryTypeButChallenge) {
    open(true);
    Bytes secret = pattern(32, 11);
    ACPacketHeader h{};
    Bytes buffer(1024, 0);
    EXPECT_EQ(deliver(datagram(PKT_CHALLENGE, secret), h, buffer.data(), 1024), 32);
    EXPECT_EQ(Bytes(buffer.begin(), buffer.begin() + 32), secret);

    std::fill(buffer.begin(), buffer.end(), 0);
    EXPECT_EQ(deliver(datagram(PKT_KICK, encrypt(secret)), h, buffer.data(), 1024), 32);
    EXPECT_EQ(h.type, PKT_KICK);
    EXPECT_EQ(Bytes(buffer.begin(), buffer.begin() + 32), secret);
}

// Wine binds a UDP socket to any address of the interface, so its datagrams
// leave from 127.0.0.1 whatever loopback address it was bound to.
bool loopbackSourceIsKept() {
    test::UdpPeer from("127.0.0.2");
    test::UdpPeer to("127.0.0.1");
    if (from.sock == INVALID_SOCKET_HANDLE || to.sock == INVALID_SOCKET_HANDLE) return false;
    from.sendTo({1}, udpAddress("127.0.0.1", to.port()));
    Bytes d;
    SockAddrIn source{};
    return to.receive(d, source) && source.addr[3] == 2;
}

// The server's host is heard from any port; another host is not.
TEST_F(UdpLink, ServerAnswersFromAnyPortASpooferIsDropped) {
    open(false);
    test::UdpPeer serverSide("127.0.0.1");
    ASSERT_NE(serverSide.port(), server.port());
    const bool spoofable = loopbackSourceIsKept();
    test::UdpPeer spoofer("127.0.0.2");
    for (std::uint8_t type : {PKT_KICK, PKT_VERIFY_OK})
        if (spoofable) spoofer.sendTo(datagram(type), clientAddr);
    serverSide.sendTo(datagram(PKT_UPDATE_AVAILABLE, {9}), clientAddr);
    ACPacketHeader h{};
    std::uint8_t byte = 0;
    EXPECT_EQ(client.receivePacket(h, &byte, 1), 1);
    EXPECT_EQ(h.type, PKT_UPDATE_AVAILABLE);
    EXPECT_EQ(byte, 9);
    if (!spoofable) return;  // Wine sends every loopback datagram from 127.0.0.1

    spoofer.sendTo(datagram(PKT_KICK), clientAddr);
    EXPECT_EQ(deliver(datagram(PKT_UPDATE_AVAILABLE), h, nullptr, 0), 0);
    EXPECT_EQ(h.type, PKT_UPDATE_AVAILABLE);
}

// The server is at 127.0.0.2 here and the foreign host at 127.0.0.1, a layout
// that holds under Wine too.
TEST_F(UdpLink, ForeignTrafficIsDroppedWithinTheFiveSecondWait) {
    test::UdpPeer serverAt2("127.0.0.2");
    openTowards(serverAt2, "127.0.0.2", false);
    test::UdpPeer foreign("127.0.0.1");
    ASSERT_NE(foreign.sock, INVALID_SOCKET_HANDLE);
    std::thread flood([&] {
        for (int i = 0; i < 4; ++i) {
            if (i > 0) std::this_thread::sleep_for(std::chrono::milliseconds(1400));
            // Empty and runt datagrams first: they must not end the wait either.
            foreign.sendTo({}, clientAddr);
            foreign.sendTo(Bytes(11, 0), clientAddr);
            foreign.sendTo(datagram(PKT_KICK), clientAddr);
            foreign.sendTo(datagram(PKT_VERIFY_OK), clientAddr);
        }
    });
    ACPacketHeader h;
    std::memset(&h, 0x5C, sizeof h);
    Clock::time_point start = Clock::now();
    std::int32_t r = client.receivePacket(h, nullptr, 0);
    long long elapsed = msSince(start);
    flood.join();
    EXPECT_EQ(r, -1);
    EXPECT_EQ(h.type, 0x5C);
    EXPECT_GE(elapsed, 4500);
    EXPECT_LE(elapsed, 6000);
}

std::vector<ModuleInfo> someModules(std::size_t n) {
    std::vector<ModuleInfo> out(n);
    for (std::size_t i = 0; i < n; ++i) {
        out[i].name = "m" + std::to_string(i) + ".dll";
        out[i].path = "C:\\m" + std::to_string(i) + ".dll";
        out[i].crc32 = static_cast<std::uint32_t>(i);
    }
    return out;
}

// Each report leaves as the chunks its builder makes, in order, encrypted,
// 50 ms apart, and is logged; a file too large to send sends nothing.
TEST_F(UdpLink, ReportsLeaveAsTheirChunksInOrderPacedAndLogged) {
    open(true);
    logPath = test::freshLog();
    const std::uint32_t before = tickCount();
    Clock::time_point start = Clock::now();
    sendModules(client, someModules(16));
    EXPECT_GE(msSince(start), 95);  // 50 ms after each of the two chunks
    sendModules(client, {});
    sendModuleLog(client, someModules(4));
    const Bytes file = pattern(901, 17);
    start = Clock::now();
    EXPECT_EQ(sendPlayerConfig(client, file, "Alice"), 2);
    EXPECT_GE(msSince(start), 95);
    EXPECT_EQ(sendPlayerConfig(client, pattern(60000, 1), "Alice"), 0);

    std::vector<std::pair<int, Bytes>> got;
    Bytes d;
    for (SockAddrIn from{}; server.receive(d, from, 300);) got.emplace_back(d[5], encrypt(payloadOf(d)));
    ASSERT_EQ(got.size(), 7u);
    const std::uint32_t tick = loadLe32(got[3].second.data() + 2);  // the module log's, shared by its chunks
    EXPECT_LE(tick - before, 1000u);
    std::vector<std::pair<int, Bytes>> expected;
    const auto add = [&](int type, const ChunkPayloads& chunks) {
        for (const Bytes& c : chunks) expected.emplace_back(type, c);
    };
    add(PKT_MODULE_LIST, buildModuleListChunks(someModules(16)));
    add(PKT_MODULE_LIST, buildModuleListChunks({}));
    add(PKT_MODULE_LOG, buildModuleLogChunks(someModules(4), tick));
    add(PKT_CONFIG_CHUNK, buildConfigChunks(file, "Alice"));
    EXPECT_TRUE(got == expected);
    EXPECT_EQ(test::logMessages(logPath),
              (std::vector<std::string>{"[SCAN] Sent 16 modules in 2 chunks", "[SCAN] Sent 0 modules in 1 chunks",
                                        "[LOG] Sent module log (4 entries, 2 chunks)"}));
}

}  // namespace
}  // namespace marvik
