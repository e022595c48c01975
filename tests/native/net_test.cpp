// What goes on the wire: the link's datagrams and the chunks reports are cut into.
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "base/clock.h"
#include "inventory/module_info.h"
#include "net/chunks.h"
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

// Opens client towards peer; its first datagram gives its address and session id, (pid << 16) ^ the tick.
SockAddrIn openTo(UDPClient& client, const UdpPeer& peer, bool encryption, const char* ip = "127.0.0.1") {
    SockAddrIn clientAddr{};
    Bytes first;
    EXPECT_TRUE(client.open(ip, peer.port(), encryption));
    client.sendPacket(PKT_HELLO, nullptr, 0);
    EXPECT_TRUE(peer.receive(first, clientAddr));
    EXPECT_LT(static_cast<std::uint32_t>(tickCount() - (loadLe32(&first[8]) ^ (currentProcessId() << 16))), 2000u);
    return clientAddr;
}

// The header is read from any datagram of header size, magic or not; the payload is decrypted
// (a challenge travels in clear) and copied only when it fits. The server is heard from any port.
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

// Another host's datagrams, runts and commands alike, are dropped unseen and do not end the
// 5 s wait. The server is at 127.0.0.2: Wine sends every loopback datagram from 127.0.0.1.
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

std::string textAt(const Bytes& b, std::size_t offset, std::size_t size) {
    std::string s(reinterpret_cast<const char*>(b.data() + offset), size);
    return s.substr(0, s.find('\0'));
}

std::string times(int n, const std::string& text) {
    std::string out;
    for (int i = 0; i < n; ++i) out += text;
    return out;
}

// A text the code page holds goes as before (ISO 8859-1 natively, 1252 under Wine: these letters
// are in both or neither), any other as UTF-8, both cut between characters before a closing zero.
TEST(ModuleChunks, TextsGoInTheCodePageOrUtf8CutToTheirFields) {
    const std::string petr = "Пётр", cases[][2] = {
        {std::string(200, 'n'), std::string(63, 'n')},
        {"José", "Jos\xE9"},
        {"J" + times(70, "é"), "J" + std::string(62, '\xE9')},
        {times(10, petr), times(7, petr) + "Пёт"},
    };
    for (const auto& c : cases) {
        ModuleInfo m;
        m.name = c[0];
        EXPECT_EQ(textAt(buildModuleListChunks({m}).at(0), 8, 64), c[1]) << c[0];
    }
}

// 900 file bytes per chunk behind the name (35 characters, a zero) and size; none for 0 or 60 000+ bytes.
TEST(ConfigChunks, NineHundredBytesPerChunkOfFilesOfOneTo59999Bytes) {
    const struct {
        std::size_t size, chunks;
    } cases[] = {{0, 0}, {1, 1}, {900, 1}, {901, 2}, {59999, 67}, {60000, 0}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.size);
        Bytes file(c.size);
        for (std::size_t i = 0; i < c.size; ++i) file[i] = static_cast<std::uint8_t>(i * 7 + 3);
        const ChunkPayloads chunks = buildConfigChunks(file, std::string(40, 'N'));
        ASSERT_EQ(chunks.size(), c.chunks);
        Bytes joined;
        for (std::size_t i = 0; i < chunks.size(); ++i) {
            const Bytes& chunk = chunks[i];
            EXPECT_EQ(chunk.size(), i + 1 < chunks.size() ? 940u : 40 + (c.size - 1) % 900 + 1) << i;
            EXPECT_EQ(textAt(chunk, 0, 36) + " " + std::to_string(loadLe32(&chunk[36])),
                      std::string(35, 'N') + " " + std::to_string(c.size));
            joined.insert(joined.end(), chunk.begin() + 40, chunk.end());
        }
        EXPECT_EQ(joined, c.chunks != 0 ? file : Bytes{});
    }
}

}  // namespace
}  // namespace marvik
