// docs/protocol.md against the code: each hexadecimal example block must be
// the bytes the real encoder gives for the inputs the document states, and
// each label list must be the labels the checks can report. On a mismatch
// the expected block is printed, ready to paste.
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <functional>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "checks/memory_scan.h"
#include "checks/signatures.h"
#include "net/chunks.h"
#include "net/packets.h"
#include "net/udp_client.h"
#include "session/challenge.h"
#include "session/handshake.h"

namespace marvik {
namespace {

using Bytes = std::vector<std::uint8_t>;

std::string protocolDoc() {
    std::ifstream in(MARVIK_SOURCE_DIR "/docs/protocol.md", std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

// What follows each "<!-- NAME: KEY -->" marker of the document: the inside
// of the fenced block that starts on the next line, or else the lines up to
// the next blank one.
std::map<std::string, std::string> markedBlocks(const std::string& doc, const std::string& name) {
    std::map<std::string, std::string> blocks;
    const std::string open = "<!-- " + name + ": ";
    for (std::size_t at = doc.find(open); at != std::string::npos; at = doc.find(open, at + 1)) {
        const std::size_t keyStart = at + open.size();
        const std::string key = doc.substr(keyStart, doc.find(" -->", keyStart) - keyStart);
        std::size_t body = doc.find('\n', keyStart) + 1;
        std::string end = "\n\n";
        if (doc.compare(body, 3, "```") == 0) {
            body = doc.find('\n', body) + 1;
            end = "```";
        }
        blocks[key] = doc.substr(body, doc.find(end, body) - body);
    }
    return blocks;
}

// 16 bytes a line behind a 4-digit hexadecimal offset.
std::string hexDump(const Bytes& bytes) {
    std::string out;
    char cell[24];
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        if (i % 16 == 0) {
            std::snprintf(cell, sizeof cell, "%04zx ", i);
            out += cell;
        }
        std::snprintf(cell, sizeof cell, " %02x", bytes[i]);
        out += cell;
        if (i % 16 == 15 || i + 1 == bytes.size()) out += '\n';
    }
    return out;
}

template <typename Record>
Bytes frame(std::uint8_t type, const Record& payload, bool encryption) {
    return framePacket(type, &payload, sizeof payload, 0x12345678u, encryption);
}

HeartbeatPayload exampleHeartbeat() {
    HeartbeatPayload beat{};
    beat.tickCount = 123456u;
    beat.processCount = 87u;
    beat.selfCrc = 0xC0F40FB5u;
    beat.uptimeSeconds = 42u;
    return beat;
}

void exampleChallenge(std::uint8_t (&challenge)[AC_CHALLENGE_SIZE]) {
    for (std::size_t i = 0; i < AC_CHALLENGE_SIZE; ++i) challenge[i] = static_cast<std::uint8_t>(i);
}

// The examples, by the name of their block, from the inputs the document
// gives beside each block.
const std::map<std::string, std::function<Bytes()>>& examples() {
    static const std::map<std::string, std::function<Bytes()>> table = {
        {"heartbeat", [] { return frame(PKT_HEARTBEAT, exampleHeartbeat(), false); }},
        {"heartbeat-encrypted", [] { return frame(PKT_HEARTBEAT, exampleHeartbeat(), true); }},
        {"hello",
         [] {
             return frame(PKT_HELLO,
                          makeHello("Sniper", 28960, "MARVIK-1234ABCD-8D9E785A", "0123456789abcdef0123456789abcdef"),
                          true);
         }},
        {"module-list",
         [] {
             ModuleInfo game;
             game.name = "iw3mp.exe";
             game.crc32 = 0x1A2B3C4Du;
             game.size = 0x00A3D000u;
             ModuleInfo d3d9;
             d3d9.name = "d3d9.dll";
             d3d9.crc32 = 0x5E6F7A8Bu;
             d3d9.size = 0x001B3000u;
             const Bytes chunk = buildModuleListChunks({game, d3d9}).at(0);
             return framePacket(PKT_MODULE_LIST, chunk.data(), static_cast<std::uint16_t>(chunk.size()), 0x12345678u,
                                false);
         }},
        {"challenge",
         [] {
             std::uint8_t challenge[AC_CHALLENGE_SIZE];
             exampleChallenge(challenge);
             return framePacket(PKT_CHALLENGE, challenge, sizeof challenge, 0, false);
         }},
        {"challenge-response",
         [] {
             std::uint8_t challenge[AC_CHALLENGE_SIZE];
             exampleChallenge(challenge);
             return frame(PKT_CHALLENGE_RESPONSE, makeChallengeResponse(challenge, 0xC0F40FB5u, 0x1A2B3C4Du, 0x04),
                          false);
         }},
    };
    return table;
}

TEST(ProtocolDoc, EveryHexExampleIsWhatTheEncoderSends) {
    const std::map<std::string, std::string> blocks = markedBlocks(protocolDoc(), "example");
    for (const auto& [name, make] : examples()) {
        auto block = blocks.find(name);
        const std::string expected = hexDump(make());
        ASSERT_NE(block, blocks.end()) << "docs/protocol.md has no example " << name << ":\n" << expected;
        EXPECT_EQ(block->second, expected) << "example " << name << " should read:\n" << expected;
    }
    for (const auto& [name, text] : blocks)
        EXPECT_EQ(examples().count(name), 1u) << "example " << name << " is produced by no test";
}

// The "- `label`" lines of a list block.
std::vector<std::string> listedLabels(const std::string& block) {
    std::vector<std::string> labels;
    std::istringstream lines(block);
    for (std::string line; std::getline(lines, line);)
        if (line.rfind("- `", 0) == 0 && line.size() > 4 && line.back() == '`')
            labels.push_back(line.substr(3, line.size() - 4));
    return labels;
}

TEST(ProtocolDoc, LabelListsAreTheChecksLabels) {
    const std::map<std::string, std::string> blocks = markedBlocks(protocolDoc(), "labels");
    const std::map<std::string, std::vector<std::string>> code = {{"memory", memoryReportLabels()},
                                                                  {"module", moduleCheckLabels()}};
    ASSERT_EQ(blocks.size(), code.size());
    for (const auto& [name, labels] : code) {
        ASSERT_EQ(blocks.count(name), 1u) << name;
        ASSERT_FALSE(labels.empty()) << name;
        std::string expected;
        for (const std::string& l : labels) expected += "- `" + l + "`\n";
        EXPECT_EQ(listedLabels(blocks.at(name)), labels) << name << " labels should read:\n" << expected;
    }
}

}  // namespace
}  // namespace marvik
