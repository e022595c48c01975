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

// Names and paths longer than their fields are cut, keeping a terminating
// zero. (The reference server's tests read every other field and the
// chunking from these builders' output.)
TEST(ModuleChunks, TextsAreCutToTheirFieldsKeepingAZero) {
    ModuleInfo m;
    m.name = std::string(200, 'n');
    m.path = std::string(300, 'p');
    const Bytes list = buildModuleListChunks({m}).at(0), log = buildModuleLogChunks({m}, 0).at(0);
    ASSERT_EQ(list.size(), 8u + 72u);
    ASSERT_EQ(log.size(), 12u + 397u);
    EXPECT_EQ(textAt(list, 8, 64), std::string(63, 'n'));
    EXPECT_EQ(textAt(log, 12, 128), std::string(127, 'n'));
    EXPECT_EQ(textAt(log, 12 + 128, 260), std::string(259, 'p'));
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
            EXPECT_EQ(chunk.size(), i + 1 < chunks.size() ? 940u : 40 + (c.size - 1) % 900 + 1) << i;
            EXPECT_EQ(textAt(chunk, 0, 36), std::string(35, 'N')) << i;
            EXPECT_EQ(loadLe32(&chunk[36]), c.size) << i;
            joined.insert(joined.end(), chunk.begin() + 40, chunk.end());
        }
        EXPECT_EQ(joined, c.chunks != 0 ? file : Bytes{});
    }
}

}  // namespace
}  // namespace marvik
