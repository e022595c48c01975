#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "inventory/module_info.h"
#include "net/chunks.h"
#include "net/packets.h"
#include "support/wire.h"

namespace marvik {
namespace {

using namespace test;

std::string textAt(const Bytes& b, std::size_t offset, std::size_t size) {
    std::string s(reinterpret_cast<const char*>(b.data() + offset), size);
    return s.substr(0, s.find('\0'));
}

// Names longer than the list's field, paths longer than the log's: each is cut
// to its field, which keeps a terminating zero.
std::vector<ModuleInfo> modules(std::size_t n) {
    std::vector<ModuleInfo> out(n);
    for (std::size_t i = 0; i < n; ++i) {
        out[i].name = "mod" + std::to_string(i) + std::string(70, 'n');
        out[i].path = "C:\\" + std::to_string(i) + std::string(300, 'p');
        out[i].crc32 = 0xA1B2C300u + static_cast<std::uint32_t>(i);
        out[i].size = 0x10000u * static_cast<std::uint32_t>(i + 1);
        out[i].suspicious = i % 2 == 1;
    }
    return out;
}

// Each chunk: its head (entries, the log's tick, index, count, total), then
// fixed-size entries in list order; no entries is still one chunk.
TEST(ModuleChunks, HeadsThenEntriesFifteenOrThreePerChunk) {
    const struct {
        std::size_t modules;
        bool log;
        std::vector<Bytes> heads;
    } cases[] = {
        {0, false, {{0, 0, 0, 0, 1, 0, 0, 0}}},
        {15, false, {{15, 0, 0, 0, 1, 0, 15, 0}}},
        {16, false, {{15, 0, 0, 0, 2, 0, 16, 0}, {1, 0, 1, 0, 2, 0, 16, 0}}},
        {0, true, {{0, 0, 0x0D, 0xF0, 0xFE, 0xCA, 0, 0, 1, 0, 0, 0}}},
        {3, true, {{3, 0, 0x0D, 0xF0, 0xFE, 0xCA, 0, 0, 1, 0, 3, 0}}},
        {4, true, {{3, 0, 0x0D, 0xF0, 0xFE, 0xCA, 0, 0, 2, 0, 4, 0}, {1, 0, 0x0D, 0xF0, 0xFE, 0xCA, 1, 0, 2, 0, 4, 0}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.modules) + (c.log ? " in the log" : " in the list"));
        const std::vector<ModuleInfo> list = modules(c.modules);
        const ChunkPayloads chunks = c.log ? buildModuleLogChunks(list, 0xCAFEF00Du) : buildModuleListChunks(list);
        ASSERT_EQ(chunks.size(), c.heads.size());
        // List entry: name[64], crc, size. Log entry: name[128], path[260],
        // crc, size, suspicious; 397 bytes, no padding.
        const std::size_t entrySize = c.log ? 397 : 72, nameSize = c.log ? 128 : 64, crcAt = c.log ? 388 : 64;
        std::size_t next = 0;
        for (std::size_t i = 0; i < chunks.size(); ++i) {
            const Bytes& chunk = chunks[i];
            const std::size_t headSize = c.heads[i].size(), entries = c.heads[i][0];
            EXPECT_EQ(Bytes(chunk.begin(), chunk.begin() + headSize), c.heads[i]) << i;
            ASSERT_EQ(chunk.size(), headSize + entries * entrySize) << i;
            for (std::size_t at = headSize; at < chunk.size(); at += entrySize) {
                const ModuleInfo& m = list[next++];
                EXPECT_EQ(textAt(chunk, at, nameSize), m.name.substr(0, nameSize - 1));
                EXPECT_EQ(loadLe32(&chunk[at + crcAt]), m.crc32);
                EXPECT_EQ(loadLe32(&chunk[at + crcAt + 4]), m.size);
                if (!c.log) continue;
                EXPECT_EQ(textAt(chunk, at + 128, 260), m.path.substr(0, 259));
                EXPECT_EQ(chunk[at + 396], m.suspicious ? 1 : 0);
            }
        }
        EXPECT_EQ(next, c.modules);
    }
}

// 900 file bytes per chunk behind the name (35 characters and a zero) and the
// file size; nothing for an empty file or one of 60 000 bytes or more.
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
            if (i + 1 < chunks.size()) EXPECT_EQ(chunk.size(), 940u) << i;
            EXPECT_EQ(textAt(chunk, 0, 36), std::string(35, 'N')) << i;
            EXPECT_EQ(loadLe32(&chunk[36]), c.size) << i;
            joined.insert(joined.end(), chunk.begin() + 40, chunk.end());
        }
        if (c.chunks != 0) EXPECT_EQ(joined, file);
    }
}

}  // namespace
}  // namespace marvik
