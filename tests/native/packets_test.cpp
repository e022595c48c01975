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

std::string times(int n, const std::string& text) {
    std::string out;
    for (int i = 0; i < n; ++i) out += text;
    return out;
}

// A text the code page holds goes as before (the native build's is ISO
// 8859-1, Wine's 1252: these letters are in both or neither), any other as
// UTF-8, both cut between characters to the field less a terminating zero.
// (The reference server's tests read every other field and the chunking.)
TEST(ModuleChunks, TextsGoInTheCodePageOrUtf8CutToTheirFields) {
    const std::string petr = "Пётр", cases[][2] = {
        {std::string(200, 'n'), std::string(63, 'n')},
        {"José", "Jos\xE9"},
        {"J" + times(70, "é"), "J" + std::string(62, '\xE9')},
        {"é" + petr, "é" + petr},  // one letter outside makes it all UTF-8
        {times(10, petr), times(7, petr) + "Пёт"},
        {times(30, "玩家"), times(10, "玩家") + "玩"},
        {"Jos\xE9", "Jos\xE9"},  // bytes nobody decoded go as they are
    };
    for (const auto& c : cases) {
        ModuleInfo m;
        m.name = c[0];
        EXPECT_EQ(textAt(buildModuleListChunks({m}).at(0), 8, 64), c[1]) << c[0];
    }
    ModuleInfo m;
    m.name = std::string(200, 'n'), m.path = std::string(300, 'p');
    const Bytes log = buildModuleLogChunks({m}, 0).at(0);
    EXPECT_EQ(textAt(log, 12, 128) + " " + textAt(log, 12 + 128, 260),
              std::string(127, 'n') + " " + std::string(259, 'p'));
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
            EXPECT_EQ(textAt(chunk, 0, 36) + " " + std::to_string(loadLe32(&chunk[36])),
                      std::string(35, 'N') + " " + std::to_string(c.size));
            joined.insert(joined.end(), chunk.begin() + 40, chunk.end());
        }
        EXPECT_EQ(joined, c.chunks != 0 ? file : Bytes{});
    }
}

}  // namespace
}  // namespace marvik
