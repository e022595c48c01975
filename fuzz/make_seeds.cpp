// Writes the seed corpora of the two fuzz targets: valid packets of every
// kind, clear and encrypted, so the fuzzers start past the header checks.
//   marvik_fuzz_seeds CLIENT_DIR SERVER_DIR
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "inventory/module_info.h"
#include "net/chunks.h"
#include "net/packets.h"
#include "net/udp_client.h"

using namespace marvik;
using Bytes = std::vector<std::uint8_t>;

namespace {

bool writeFile(const std::string& path, const Bytes& bytes) {
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (f == nullptr) return false;
    bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    return std::fclose(f) == 0 && ok;
}

template <typename Record>
Bytes bytesOf(const Record& r) {
    const std::uint8_t* p = reinterpret_cast<const std::uint8_t*>(&r);
    return Bytes(p, p + sizeof r);
}

Bytes frame(std::uint8_t type, const Bytes& payload, bool enc) {
    return framePacket(type, payload.data(), static_cast<std::uint16_t>(payload.size()), 0x1234, enc);
}

// One conversation for the server target: flags, then (length, step, bytes).
Bytes conversation(std::uint8_t flags, const std::vector<Bytes>& datagrams) {
    Bytes out{flags};
    for (const Bytes& d : datagrams) {
        out.push_back(static_cast<std::uint8_t>(d.size()));
        out.push_back(static_cast<std::uint8_t>(d.size() >> 8));
        out.push_back(1);
        out.insert(out.end(), d.begin(), d.end());
    }
    return out;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s CLIENT_DIR SERVER_DIR\n", argv[0]);
        return 2;
    }
    std::string clientDir = argv[1];
    std::string serverDir = argv[2];
    std::error_code ec;
    std::filesystem::create_directories(clientDir, ec);
    std::filesystem::create_directories(serverDir, ec);
    bool ok = true;

    for (int enc = 0; enc < 2; ++enc) {
        std::string tag = enc ? "_rc4" : "_clear";
        Bytes challenge(32);
        for (int i = 0; i < 32; ++i) challenge[i] = static_cast<std::uint8_t>(i * 9);
        ok &= writeFile(clientDir + "/challenge" + tag, frame(PKT_CHALLENGE, challenge, enc));
        ok &= writeFile(clientDir + "/verify" + tag, frame(PKT_VERIFY_OK, {}, enc));
        ok &= writeFile(clientDir + "/kick" + tag, frame(PKT_KICK, {'b', 'y', 'e'}, enc));
        ok &= writeFile(clientDir + "/screenshot" + tag, frame(PKT_SCREENSHOT_REQUEST, {}, enc));
        ok &= writeFile(clientDir + "/update" + tag, frame(PKT_UPDATE_AVAILABLE, Bytes(5000, 1), enc));
    }

    std::vector<ModuleInfo> mods(5);
    for (std::size_t i = 0; i < mods.size(); ++i) {
        mods[i].name = "m" + std::to_string(i) + ".dll";
        mods[i].path = "C:\\x\\" + mods[i].name;
        mods[i].crc32 = static_cast<std::uint32_t>(i);
        mods[i].size = 4096;
    }
    Bytes file(1000, 'c');
    for (int enc = 0; enc < 2; ++enc) {
        HelloPayload hello{};
        copyText(hello.playerName, "Seed");
        hello.clientVersion = AC_CLIENT_VERSION;
        ChallengeResponsePayload response{};
        HeartbeatPayload heartbeat{};
        heartbeat.uptimeSeconds = 5;
        MemoryReportPayload memory{};
        memory.hitFlag = 1;
        copyText(memory.description, "seed hit");
        IdentityPayload identity{};
        copyText(identity.guid, "guid");

        std::vector<Bytes> all = {frame(PKT_HELLO, bytesOf(hello), false),
                                  frame(PKT_CHALLENGE_RESPONSE, bytesOf(response), enc),
                                  frame(PKT_IDENTITY, bytesOf(identity), enc)};
        for (const Bytes& c : buildConfigChunks(file, "Seed")) all.push_back(frame(PKT_CONFIG_CHUNK, c, enc));
        for (const Bytes& c : buildModuleListChunks(mods)) all.push_back(frame(PKT_MODULE_LIST, c, enc));
        for (const Bytes& c : buildModuleLogChunks(mods, 42)) all.push_back(frame(PKT_MODULE_LOG, c, enc));
        all.push_back(frame(PKT_HEARTBEAT, bytesOf(heartbeat), enc));
        all.push_back(frame(PKT_MEMORY_REPORT, bytesOf(memory), enc));

        std::uint8_t flags = static_cast<std::uint8_t>(enc | 0x30);
        std::string tag = enc ? "_rc4" : "_clear";
        ok &= writeFile(serverDir + "/session" + tag, conversation(flags, all));
        for (std::size_t i = 0; i < all.size(); ++i)
            ok &= writeFile(serverDir + "/packet" + std::to_string(i) + tag, conversation(flags, {all[i]}));
    }
    if (!ok) {
        std::fprintf(stderr, "could not write the seeds\n");
        return 1;
    }
    return 0;
}
