#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "inventory/hash.h"
#include "net/chunks.h"
#include "net/udp_client.h"
#include "server_core.h"
#include "session/handshake.h"
#include "support/files.h"
#include "support/report_samples.h"
#include "support/wire.h"

namespace marvik {
namespace {

using namespace test;

void fixedRandom(std::uint8_t* out, std::size_t n) {
    for (std::size_t i = 0; i < n; ++i) out[i] = static_cast<std::uint8_t>(0xA0 + i);
}

// The protocol logic driven directly, keeping everything it puts out.
TEST(RefServerEvents, EachEventKeepsItsFieldsAndSummary) {
    ServerState state;
    ServerOptions options;
    options.fillRandom = fixedRandom;
    std::uint64_t now = 1000;
    serverInit(state, options, now);
    ServerOutput out;
    const auto send = [&](std::uint8_t type, const Bytes& payload) {
        Bytes d = framePacket(type, payload.data(), static_cast<std::uint16_t>(payload.size()), 0x11223344u,
                              false);
        serverHandleDatagram(state, d.data(), d.size(), Endpoint{0x7F000001u, 40000}, now, out);
    };
    send(PKT_HELLO, bytesOf(makeHello("Sniper", 28961, "HWID-1234", "abcdef0123456789abcdef0123456789")));
    now += 500;
    std::uint8_t challenge[AC_CHALLENGE_SIZE];
    fixedRandom(challenge, sizeof challenge);
    const Bytes response = bytesOf(makeChallengeResponse(challenge, 0x55667788u, 0xCAFEBABEu, 0x05));
    send(PKT_CHALLENGE_RESPONSE, response);
    HeartbeatPayload hb{};
    hb.tickCount = 123456, hb.processCount = 87, hb.selfCrc = 0xDEADBEEFu, hb.uptimeSeconds = 65;
    hb.debuggerFlag = hb.integrityAlertFlag = 1;
    send(PKT_HEARTBEAT, bytesOf(hb));
    send(PKT_IDENTITY, bytesOf(makeIdentity("HW", "G\"\\\n\x7f\xE9", 1700000000u)));  // hostile bytes escaped
    MemoryReportPayload mr{};
    mr.address = 0x00401000u, mr.size = 4096, mr.hitFlag = 1;
    std::memset(mr.description, 'D', sizeof mr.description);  // no terminator: all 64 bytes, no more
    send(PKT_MEMORY_REPORT, bytesOf(mr));
    std::vector<ModuleInfo> mods = sampleModules(4);
    mods.erase(mods.begin(), mods.begin() + 2);  // mod2 clean, mod3 suspicious
    send(PKT_MODULE_LOG, buildModuleLogChunks(mods, 777)[0]);
    // The MD5 and Base64 of "abc" are RFC 1321's and RFC 4648's own examples.
    send(PKT_CONFIG_CHUNK, buildConfigChunks(Bytes{'a', 'b', 'c'}, "Sniper")[0]);
    send(PKT_KICK, {});
    send(PKT_MODULE_LIST, buildModuleListChunks(sampleModules(16)).at(1));  // its first chunk is lost
    serverFinish(state, now, out);

    // Every event's JSON line and summary line, as recorded in the data
    // file; the answer, which only the shared secret gives, shows as <answer>.
    std::string written;
    for (const ServerEvent& e : out.events) written += e.json + "\n" + e.summary + "\n";
    written.replace(written.find(toHex(response.data(), 32)), 64, "<answer>");
    EXPECT_EQ(written, test::readFile(MARVIK_SOURCE_DIR "/tests/data/refserver_events.txt"));
}

}  // namespace
}  // namespace marvik
