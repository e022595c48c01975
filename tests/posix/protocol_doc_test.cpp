// docs/protocol.md against the code: each hexadecimal example block must be
// the bytes the real encoder gives for the inputs the document states, and
// each label list must be the labels the checks can report. On a mismatch
// the expected block is printed, ready to paste.
#include <gtest/gtest.h>

#include <fstream>
#include <functional>
#include <map>
#include <sstream>
#include <string>

#include "checks/memory_scan.h"
#include "checks/signatures.h"
#include "net/chunks.h"
#include "net/udp_client.h"
#include "session/handshake.h"
#include "support/wire.h"

namespace marvik {
namespace {

using test::Bytes;

// What follows each "<!-- NAME: KEY -->" marker of the document: the inside
// of the fenced block on the next line, or else the lines up to a blank one
// or the end.
std::map<std::string, std::string> markedBlocks(const std::string& name) {
    std::stringstream file;
    file << std::ifstream(MARVIK_SOURCE_DIR "/docs/protocol.md", std::ios::binary).rdbuf();
    const std::string doc = file.str() + "\n", open = "<!-- " + name + ": ";
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

Bytes frame(std::uint8_t type, const Bytes& payload, bool encryption, std::uint32_t session = 0x12345678u) {
    return framePacket(type, payload.data(), static_cast<std::uint16_t>(payload.size()), session, encryption);
}

TEST(ProtocolDoc, EveryHexExampleIsWhatTheEncoderSends) {
    HeartbeatPayload beat{};
    beat.tickCount = 123456u, beat.processCount = 87u, beat.selfCrc = 0xC0F40FB5u, beat.uptimeSeconds = 42u;
    std::uint8_t challenge[AC_CHALLENGE_SIZE];
    for (std::size_t i = 0; i < AC_CHALLENGE_SIZE; ++i) challenge[i] = static_cast<std::uint8_t>(i);
    ModuleInfo game, d3d9;
    game.name = "iw3mp.exe", game.crc32 = 0x1A2B3C4Du, game.size = 0x00A3D000u;
    d3d9.name = "d3d9.dll", d3d9.crc32 = 0x5E6F7A8Bu, d3d9.size = 0x001B3000u;
    // The inputs the document gives beside each block.
    const std::map<std::string, Bytes> examples = {
        {"heartbeat", frame(PKT_HEARTBEAT, test::bytesOf(beat), false)},
        {"heartbeat-encrypted", frame(PKT_HEARTBEAT, test::bytesOf(beat), true)},
        {"hello", frame(PKT_HELLO,
                        test::bytesOf(makeHello("Sniper", 28960, "MARVIK-1234ABCD-8D9E785A",
                                                "0123456789abcdef0123456789abcdef")),
                        true)},
        {"module-list", frame(PKT_MODULE_LIST, buildModuleListChunks({game, d3d9}).at(0), false)},
        {"challenge", frame(PKT_CHALLENGE, Bytes(challenge, challenge + AC_CHALLENGE_SIZE), false, 0)},
        {"challenge-response",
         frame(PKT_CHALLENGE_RESPONSE, test::bytesOf(makeChallengeResponse(challenge, 0xC0F40FB5u, 0x1A2B3C4Du, 0x04)),
               false)},
    };
    const std::map<std::string, std::string> blocks = markedBlocks("example");
    for (const auto& [name, bytes] : examples) {
        const std::string expected = hexDump(bytes);
        EXPECT_EQ(blocks.count(name) ? blocks.at(name) : "", expected) << "example " << name << ":\n" << expected;
    }
    for (const auto& [name, text] : blocks) EXPECT_EQ(examples.count(name), 1u) << "example " << name << " is unchecked";
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
