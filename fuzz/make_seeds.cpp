// Writes the seed corpora of the two fuzz targets: valid packets of every
// kind, clear and encrypted, so the fuzzers start past the header checks.
//   marvik_fuzz_seeds CLIENT_DIR SERVER_DIR
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "net/chunks.h"
#include "net/udp_client.h"
#include "session/handshake.h"
#include "support/wire.h"

using namespace marvik;
using test::Bytes;
using test::bytesOf;

int main(int argc, char** argv) {
    if (argc != 3) return std::fprintf(stderr, "usage: %s CLIENT_DIR SERVER_DIR\n", argv[0]), 2;
    const std::string clientDir = argv[1], serverDir = argv[2];
    std::filesystem::create_directories(clientDir);
    std::filesystem::create_directories(serverDir);
    bool ok = true;
    auto write = [&ok](const std::string& path, const Bytes& b) {
        ok = std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(b.data()), b.size()) && ok;
    };
    std::vector<ModuleInfo> mods(5);
    for (std::size_t i = 0; i < mods.size(); ++i)
        mods[i].name = "m" + std::to_string(i) + ".dll", mods[i].path = "C:\\x\\m.dll", mods[i].size = 4096;
    std::uint8_t challenge[AC_CHALLENGE_SIZE];  // the one the server target issues, so the answer is right
    for (std::size_t i = 0; i < sizeof challenge; ++i) challenge[i] = static_cast<std::uint8_t>(i * 7);
    MemoryReportPayload memory{};
    memory.hitFlag = 1;
    for (bool enc : {false, true}) {
        const std::string tag = enc ? "_rc4" : "_clear";
        auto frame = [enc](std::uint8_t type, const Bytes& payload) {
            return framePacket(type, payload.data(), static_cast<std::uint16_t>(payload.size()), 0x1234, enc);
        };
        write(clientDir + "/challenge" + tag, frame(PKT_CHALLENGE, Bytes(challenge, challenge + sizeof challenge)));
        write(clientDir + "/verify" + tag, frame(PKT_VERIFY_OK, {}));
        write(clientDir + "/kick" + tag, frame(PKT_KICK, {'b', 'y', 'e'}));
        write(clientDir + "/screenshot" + tag, frame(PKT_SCREENSHOT_REQUEST, {}));
        write(clientDir + "/update" + tag, frame(PKT_UPDATE_AVAILABLE, Bytes(5000, 1)));

        std::vector<Bytes> all = {frame(PKT_HELLO, bytesOf(makeHello("Seed", 28960, "HW", "guid"))),
                                  frame(PKT_CHALLENGE_RESPONSE, bytesOf(makeChallengeResponse(challenge, 1, 2, 0))),
                                  frame(PKT_IDENTITY, bytesOf(makeIdentity("HW", "guid", 5))),
                                  frame(PKT_HEARTBEAT, Bytes(sizeof(HeartbeatPayload), 1)),
                                  frame(PKT_MEMORY_REPORT, bytesOf(memory))};
        for (const Bytes& c : buildConfigChunks(Bytes(1000, 'c'), "Seed")) all.push_back(frame(PKT_CONFIG_CHUNK, c));
        for (const Bytes& c : buildModuleListChunks(mods)) all.push_back(frame(PKT_MODULE_LIST, c));
        for (const Bytes& c : buildModuleLogChunks(mods, 42)) all.push_back(frame(PKT_MODULE_LOG, c));
        // The server target's input: a flags byte (encryption, silence time-out), then
        // each datagram behind its length and a time step.
        Bytes session{static_cast<std::uint8_t>(enc | 0x08)};
        for (std::size_t i = 0; i < all.size(); ++i) {
            Bytes one{session[0], static_cast<std::uint8_t>(all[i].size()), static_cast<std::uint8_t>(all[i].size() >> 8), 1};
            one.insert(one.end(), all[i].begin(), all[i].end());
            session.insert(session.end(), one.begin() + 1, one.end());
            write(serverDir + "/packet" + std::to_string(i) + tag, one);
        }
        write(serverDir + "/session" + tag, session);
    }
    if (!ok) std::fprintf(stderr, "could not write the seeds\n");
    return ok ? 0 : 1;
}
