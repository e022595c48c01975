// docs/protocol.md's examples and label lists against the code (a mismatch prints the block to paste), and the
// document's client examples as the reference server logs them.
#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <string>

#include "checks/memory_scan.h"
#include "checks/signatures.h"
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

using test::Bytes;

// After each "<!-- NAME: KEY -->" marker: its fenced block, or else the lines up to a blank one.
std::map<std::string, std::string> markedBlocks(const std::string& name) {
    const std::string doc = test::readFile(MARVIK_SOURCE_DIR "/docs/protocol.md") + "\n";
    const std::string open = "<!-- " + name + ": ";
    std::map<std::string, std::string> blocks;
    for (std::size_t at = doc.find(open); at != std::string::npos; at = doc.find(open, at + 1)) {
        const std::size_t keyStart = at + open.size();
        std::size_t body = doc.find('\n', keyStart) + 1;
        const bool fenced = doc.compare(body, 3, "```") == 0;
        if (fenced) body = doc.find('\n', body) + 1;
        blocks[doc.substr(keyStart, doc.find(" -->", keyStart) - keyStart)] =
            doc.substr(body, doc.find(fenced ? "```" : "\n\n", body) - body);
    }
    return blocks;
}

// 16 bytes a line behind a 4-digit hexadecimal offset.
std::string hexDump(const Bytes& bytes) {
    std::string out;
    char cell[24];
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        if (i % 16 == 0) out += (std::snprintf(cell, sizeof cell, "%04zx ", i), cell);
        out += (std::snprintf(cell, sizeof cell, " %02x", bytes[i]), cell);
        if (i % 16 == 15 || i + 1 == bytes.size()) out += '\n';
    }
    return out;
}

Bytes frame(std::uint8_t type, const Bytes& payload, bool encryption = false) {
    return framePacket(type, payload.data(), static_cast<std::uint16_t>(payload.size()), 0x12345678u, encryption);
}

// The challenge the document's answer is to: 00 01 ... 1f.
void countUp(std::uint8_t* out, std::size_t n) {
    for (std::size_t i = 0; i < n; ++i) out[i] = static_cast<std::uint8_t>(i);
}

// The client's datagrams, from the inputs the document gives beside each block.
std::map<std::string, Bytes> clientExamples() {
    HeartbeatPayload beat{};
    beat.tickCount = 123456u, beat.processCount = 87u, beat.selfCrc = 0xC0F40FB5u, beat.uptimeSeconds = 42u;
    std::uint8_t challenge[AC_CHALLENGE_SIZE];
    countUp(challenge, sizeof challenge);
    ModuleInfo game, d3d9;
    game.name = "iw3mp.exe", game.crc32 = 0x1A2B3C4Du, game.size = 0x00A3D000u;
    d3d9.name = "d3d9.dll", d3d9.crc32 = 0x5E6F7A8Bu, d3d9.size = 0x001B3000u;
    d3d9.path = "C:\\Windows\\SysWOW64\\d3d9.dll", d3d9.suspicious = true;
    MemoryReportPayload memory{};
    memory.address = 0x0A1B0000u, memory.size = 0x3000u, memory.hitFlag = 1;
    copyText(memory.description, "private writable and executable memory");
    const std::string cfg = "seta cg_fov \"80\"\r\n";
    const std::string hwid = "MARVIK-1234ABCD-8D9E785A", guid = "0123456789abcdef0123456789abcdef";
    return {
        {"heartbeat", frame(PKT_HEARTBEAT, test::bytesOf(beat))},
        {"heartbeat-encrypted", frame(PKT_HEARTBEAT, test::bytesOf(beat), true)},
        {"hello", frame(PKT_HELLO, test::bytesOf(makeHello("Sniper", 28960, hwid, guid)), true)},
        {"module-list", frame(PKT_MODULE_LIST, buildModuleListChunks({game, d3d9}).at(0))},
        {"module-log", frame(PKT_MODULE_LOG, buildModuleLogChunks({d3d9}, 123456u).at(0))},
        {"memory-report", frame(PKT_MEMORY_REPORT, test::bytesOf(memory))},
        {"identity", frame(PKT_IDENTITY, test::bytesOf(makeIdentity(hwid, guid, 1700000000u)))},
        {"config-chunk", frame(PKT_CONFIG_CHUNK, buildConfigChunks(Bytes(cfg.begin(), cfg.end()), "Sniper").at(0))},
        {"challenge-response",
         frame(PKT_CHALLENGE_RESPONSE, test::bytesOf(makeChallengeResponse(challenge, 0xC0F40FB5u, 0x1A2B3C4Du, 4)))},
    };
}

// The client's examples as a client sends them (the hello from a server on
// another port), then a hostile identity, a description that fills its field,
// a module list whose first chunk was lost, a packet only a server sends and a
// wrong answer, to the reference server. It sends the challenge, the verdicts
// (the kick for the wrong answer) and, when their timers fall due at once, the
// document's screenshot request and update notice.
ServerOutput referenceServerRun() {
    std::map<std::string, Bytes> sent = clientExamples();
    MemoryReportPayload full{};
    full.address = 0x00401000u, full.size = 4096, full.hitFlag = 1;
    std::memset(full.description, 'D', sizeof full.description);  // no terminator: all 64 bytes, no more
    const ChallengeResponsePayload zeros{};                         // wrong whatever the secret
    ServerState state;
    ServerOptions options;
    options.fillRandom = countUp;
    options.screenshotAfterSec = options.updateAfterSec = 0;
    serverInit(state, options, 0);
    ServerOutput out;
    std::uint64_t now = 0;
    for (const Bytes& d : {frame(PKT_HELLO, test::bytesOf(makeHello("Sniper", 28961, "HWID-1234", "abcdef"))),
                           sent["challenge-response"], sent["heartbeat"], sent["identity"],
                           frame(PKT_IDENTITY, test::bytesOf(makeIdentity("HW", "G\"\\\n\x7f\xE9", 1700000000u))),
                           sent["memory-report"], frame(PKT_MEMORY_REPORT, test::bytesOf(full)), sent["module-log"],
                           sent["module-list"], sent["config-chunk"], frame(PKT_KICK, {}),
                           frame(PKT_MODULE_LIST, buildModuleListChunks(test::sampleModules(16)).at(1)),
                           frame(PKT_CHALLENGE_RESPONSE, test::bytesOf(zeros))})
        serverHandleDatagram(state, d.data(), d.size(), Endpoint{0x7F000001u, 40000}, now += 100, out);
    serverTick(state, now, out);
    serverFinish(state, now, out);
    return out;
}

TEST(ProtocolDoc, EveryHexExampleIsWhatTheEncoderSends) {
    std::map<std::string, Bytes> examples = clientExamples();
    const std::vector<OutDatagram> server = referenceServerRun().replies;
    const char* serverNames[] = {"challenge", "verify-ok", "kick", "screenshot-request", "update-available"};
    ASSERT_EQ(server.size(), 5u);
    for (std::size_t i = 0; i < server.size(); ++i) examples[serverNames[i]] = server[i].bytes;
    std::map<std::string, std::string> blocks = markedBlocks("example");
#ifndef MARVIK_DEFAULT_SECRET
    // The answer is keyed with the secret; the document's is the default's.
    examples.erase("challenge-response");
    blocks.erase("challenge-response");
#endif
    for (const auto& [name, bytes] : examples) {
        const std::string expected = hexDump(bytes);
        EXPECT_EQ(blocks.count(name) ? blocks.at(name) : "", expected) << "example " << name << ":\n" << expected;
    }
    for (const auto& [name, text] : blocks) EXPECT_EQ(examples.count(name), 1u) << "example " << name << " is unchecked";
}

// Every event's JSON line and summary line is as recorded in the data file
// (its MD5 and Base64 of the config also as Python's hashlib and base64 give
// them); the answer, which only the shared secret gives, shows as <answer>.
TEST(RefServerEvents, EachEventKeepsItsFieldsAndSummary) {
    std::string written;
    for (const ServerEvent& e : referenceServerRun().events) written += e.json + "\n" + e.summary + "\n";
    const Bytes answer = clientExamples().at("challenge-response");
    written.replace(written.find(toHex(answer.data() + AC_HEADER_SIZE, AC_CHALLENGE_SIZE)), 64, "<answer>");
    EXPECT_EQ(written, test::readFile(MARVIK_SOURCE_DIR "/tests/data/refserver_events.txt"));
}

TEST(ProtocolDoc, LabelListsAreTheChecksLabels) {
    const std::map<std::string, std::vector<std::string>> code = {{"memory", memoryReportLabels()},
                                                                  {"module", moduleCheckLabels()}};
    const std::map<std::string, std::string> blocks = markedBlocks("labels");
    ASSERT_EQ(blocks.size(), code.size());
    for (const auto& [name, labels] : code) {
        std::string expected;
        for (const std::string& l : labels) expected += "- `" + l + "`\n";
        EXPECT_EQ(blocks.count(name) ? blocks.at(name) + "\n" : "", expected) << name << " labels:\n" << expected;
    }
}

}  // namespace
}  // namespace marvik
