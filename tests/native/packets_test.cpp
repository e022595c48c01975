#include <gtest/gtest.h>

#include <cstring>
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

bool allZero(const Bytes& b, std::size_t offset, std::size_t size) {
    for (std::size_t i = offset; i < offset + size; ++i)
        if (b[i] != 0) return false;
    return true;
}

std::vector<ModuleInfo> modules(std::size_t n) {
    std::vector<ModuleInfo> out;
    for (std::size_t i = 0; i < n; ++i) {
        ModuleInfo m;
        m.name = "mod" + std::to_string(i) + ".dll";
        m.path = "C:\\Games\\CoD4\\mod" + std::to_string(i) + ".dll";
        m.crc32 = 0xA1B2C300u + static_cast<std::uint32_t>(i);
        m.size = 0x10000u * static_cast<std::uint32_t>(i + 1);
        m.suspicious = (i % 2) == 1;
        out.push_back(m);
    }
    return out;
}

// No entries is still one chunk: a head saying so (the log's with its tick).
TEST(ModuleChunks, EmptyListIsOneHeadOnlyChunk) {
    EXPECT_EQ(buildModuleListChunks({}), ChunkPayloads{(Bytes{0, 0, 0, 0, 1, 0, 0, 0})});
    EXPECT_EQ(buildModuleLogChunks({}, 0x11223344u), ChunkPayloads{(Bytes{0, 0, 0x44, 0x33, 0x22, 0x11, 0, 0, 1, 0, 0, 0})});
}

TEST(ModuleListChunks, FifteenPerChunkWithHeadsAndEntries) {
    EXPECT_EQ(buildModuleListChunks(modules(15)).size(), 1u);

    std::vector<ModuleInfo> list = modules(16);
    ChunkPayloads chunks = buildModuleListChunks(list);
    ASSERT_EQ(chunks.size(), 2u);
    EXPECT_EQ(chunks[0].size(), 8u + 15 * 72);
    EXPECT_EQ(chunks[1].size(), 8u + 72);
    EXPECT_EQ(Bytes(chunks[0].begin(), chunks[0].begin() + 8), (Bytes{15, 0, 0, 0, 2, 0, 16, 0}));
    EXPECT_EQ(Bytes(chunks[1].begin(), chunks[1].begin() + 8), (Bytes{1, 0, 1, 0, 2, 0, 16, 0}));

    // Entries in list order: module 14 last in chunk 0, module 15 alone in chunk 1.
    const Bytes& first = chunks[0];
    EXPECT_EQ(textAt(first, 8 + 14 * 72, 64), "mod14.dll");
    EXPECT_EQ(loadLe32(first.data() + 8 + 14 * 72 + 64), list[14].crc32);
    EXPECT_EQ(loadLe32(first.data() + 8 + 14 * 72 + 68), list[14].size);
    EXPECT_EQ(textAt(chunks[1], 8, 64), "mod15.dll");
    EXPECT_EQ(loadLe32(chunks[1].data() + 8 + 64), 0xA1B2C30Fu);
    EXPECT_EQ(loadLe32(chunks[1].data() + 8 + 68), 0x100000u);
}

TEST(ModuleLogChunks, ThreePerChunkSharingOneTick) {
    EXPECT_EQ(buildModuleLogChunks(modules(3), 7).size(), 1u);

    std::vector<ModuleInfo> list = modules(4);
    ChunkPayloads chunks = buildModuleLogChunks(list, 0xCAFEF00Du);
    ASSERT_EQ(chunks.size(), 2u);
    EXPECT_EQ(chunks[0].size(), 1203u);
    EXPECT_EQ(chunks[1].size(), 409u);
    EXPECT_EQ(Bytes(chunks[0].begin(), chunks[0].begin() + 12),
              (Bytes{3, 0, 0x0D, 0xF0, 0xFE, 0xCA, 0, 0, 2, 0, 4, 0}));
    EXPECT_EQ(Bytes(chunks[1].begin(), chunks[1].begin() + 12),
              (Bytes{1, 0, 0x0D, 0xF0, 0xFE, 0xCA, 1, 0, 2, 0, 4, 0}));

    // Entries follow each other with no padding (397 bytes each).
    const Bytes& c0 = chunks[0];
    const std::size_t e1 = 12 + 397;
    EXPECT_EQ(textAt(c0, e1, 128), "mod1.dll");
    EXPECT_EQ(textAt(c0, e1 + 128, 260), "C:\\Games\\CoD4\\mod1.dll");
    EXPECT_EQ(loadLe32(c0.data() + e1 + 388), list[1].crc32);
    EXPECT_EQ(loadLe32(c0.data() + e1 + 392), list[1].size);
    EXPECT_EQ(c0[e1 + 396], 1);
    EXPECT_EQ(c0[12 + 396], 0);
    EXPECT_EQ(textAt(chunks[1], 12, 128), "mod3.dll");
    EXPECT_EQ(chunks[1][12 + 396], 1);
}

TEST(ModuleChunks, LongNamesAndPathsAreCutPerField) {
    ModuleInfo m;
    m.name = std::string(64, 'n') + "-tail";
    m.path = std::string(300, 'p');
    ChunkPayloads list = buildModuleListChunks({m});
    ChunkPayloads log = buildModuleLogChunks({m}, 0);
    EXPECT_EQ(textAt(list[0], 8, 64), std::string(63, 'n'));
    EXPECT_EQ(list[0][8 + 63], 0);
    EXPECT_EQ(textAt(log[0], 12, 128), m.name);
    EXPECT_EQ(textAt(log[0], 12 + 128, 260), std::string(259, 'p'));
    EXPECT_EQ(log[0][12 + 128 + 259], 0);
}

Bytes fileOf(std::size_t size) {
    Bytes file(size);
    for (std::size_t i = 0; i < size; ++i) file[i] = static_cast<std::uint8_t>(i * 7 + 3);
    return file;
}

TEST(ConfigChunks, NineHundredBytesPerChunkBehindNameAndSize) {
    ChunkPayloads one = buildConfigChunks(fileOf(900), "Alice");
    ASSERT_EQ(one.size(), 1u);
    EXPECT_EQ(one[0].size(), 940u);

    Bytes file = fileOf(901);
    std::string name(40, 'N');
    ChunkPayloads two = buildConfigChunks(file, name);
    ASSERT_EQ(two.size(), 2u);
    EXPECT_EQ(two[0].size(), 940u);
    EXPECT_EQ(two[1].size(), 41u);
    Bytes joined;
    for (const Bytes& c : two) {
        EXPECT_EQ(textAt(c, 0, 36), std::string(35, 'N'));
        EXPECT_EQ(c[35], 0);
        EXPECT_EQ(loadLe32(c.data() + 36), 901u);
        joined.insert(joined.end(), c.begin() + 40, c.end());
    }
    EXPECT_EQ(joined, file);
}

TEST(ConfigChunks, OnlyFilesOfOneTo59999BytesAreSent) {
    EXPECT_TRUE(buildConfigChunks({}, "P").empty());
    EXPECT_TRUE(buildConfigChunks(fileOf(60000), "P").empty());
    ChunkPayloads largest = buildConfigChunks(fileOf(59999), "P");
    ASSERT_EQ(largest.size(), 67u);
    EXPECT_EQ(largest.back().size(), 40u + 599);
    ChunkPayloads smallest = buildConfigChunks(fileOf(1), "");
    ASSERT_EQ(smallest.size(), 1u);
    EXPECT_EQ(smallest[0].size(), 41u);
    EXPECT_TRUE(allZero(smallest[0], 0, 36));
}

}  // namespace
}  // namespace marvik
