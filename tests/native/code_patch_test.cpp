// The comparison of game code with its files, on made-up images and game memory.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <tuple>
#include <vector>

#include "base/little_endian.h"
#include "checks/code_patch.h"
#include "support/fake_memory.h"

namespace marvik {
namespace {

// A PE file: .text at 0x1000 holds the address of .data+0x10 at +0x10, relocated through .reloc.
std::vector<std::uint8_t> makeImage(bool pe64, std::uint64_t base) {
    std::vector<std::uint8_t> f(0x800, 0);
    const int width = pe64 ? 8 : 4;
    auto pointer = [&](std::size_t at, std::uint64_t v) {
        pe64 ? storeLe64(&f[at], v) : storeLe32(&f[at], static_cast<std::uint32_t>(v));
    };
    test::peHeaders(f, width);
    storeLe16(&f[0x80 + 6], 3);
    pointer(0x98 + (pe64 ? 24 : 28), base);
    storeLe32(&f[0x98 + 56], 0x4000);  // SizeOfImage
    test::peDirectory(f, width, 5, 0x3000, 12);     // base relocations
    test::peDirectory(f, width, 12, 0x1100, 0x20);  // import address table
    test::peSection(f, width, 0, ".text", 0x1000, 0x200, 0x200, 0x60000020);
    test::peSection(f, width, 1, ".data", 0x2000, 0x200, 0x400, 0xC0000040);
    test::peSection(f, width, 2, ".reloc", 0x3000, 0x200, 0x600, 0x42000040);
    pointer(0x200 + 0x10, base + 0x2010);
    // One block for .text's page: the pointer's entry and an ABSOLUTE (zero) padding entry.
    storeLe32(&f[0x600], 0x1000);
    storeLe32(&f[0x604], 12);
    storeLe16(&f[0x608], static_cast<std::uint16_t>((pe64 ? 10 : 3) << 12 | 0x10));
    return f;
}

// Relocated by the image's own format, whatever the client's: a 64-bit client reads a 32-bit game.
// Read-only data (where Direct3D keeps its interfaces' method tables) is compared, discardable never.
TEST(CodePatch, ImagesRelocatedByTheirOwnFormat) {
    for (bool pe64 : {false, true}) {
        const std::uint64_t loaded = pe64 ? 0x7FF812340000ull : 0x0A3C0000ull;
        std::vector<std::uint8_t> file = makeImage(pe64, pe64 ? 0x180000000ull : 0x10000000ull);
        storeLe32(&file[0x98 + (pe64 ? 240 : 224) + 40 + 36], 0x40000040);  // .data made read-only
        const ImageCode code = expectedImageCode(file, loaded, true);
        ASSERT_EQ(code.sections.size(), 2u) << pe64;  // not .reloc
        const std::uint8_t* fixed = &code.sections[0].bytes[0x10];
        EXPECT_EQ(pe64 ? loadLe64(fixed) : loadLe32(fixed), loaded + 0x2010);
    }
}

// The file is the module maker's: section tables shaped to cost give nothing to compare.
TEST(CodePatch, FilesShapedToCostAreGivenUp) {
    auto withSections = [](std::uint16_t count, std::uint32_t each) {
        std::vector<std::uint8_t> f = makeImage(false, 0x10000000);  // loaded at its own base
        f.resize(std::max<std::size_t>(0x800, 0x98 + 224 + 40 * count) + each);
        storeLe16(&f[0x80 + 6], count);
        for (int i = 0; i < count; ++i) test::peSection(f, 4, i, ".text", 0x1000, each, 0, 0x60000020);
        return expectedImageCode(f, 0x10000000).sections.size();
    };
    EXPECT_EQ(withSections(2, 0x200), 2u) << "overlap itself is read";
    EXPECT_EQ(withSections(MAX_CODE_SECTIONS + 1, 0x200), 0u);
    EXPECT_EQ(withSections(8, MAX_CODE_BYTES / 4), 0u) << "eight views of 16 MiB";
}

// The loader writes the import address table: differences there are no patch.
TEST(CodePatch, DifferingBytesGroupIntoRunsOutsideTheImportTable) {
    const std::pair<std::vector<std::size_t>, std::vector<std::pair<std::uint64_t, std::uint32_t>>> cases[] = {
        {{0, 5}, {{0x401000, 6}}},                     // four equal bytes still join
        {{0, 6}, {{0x401000, 1}, {0x401006, 1}}},      // five apart are two patches
        {{32, 33, 40}, {}},                            // the import table
    };
    for (const auto& [changed, expected] : cases) {
        std::vector<std::uint8_t> file(64), memory(64);
        for (std::size_t i = 0; i < 64; ++i) file[i] = memory[i] = static_cast<std::uint8_t>(i * 37);
        for (std::size_t i : changed) memory[i] ^= 0x5A;
        std::vector<std::pair<std::uint64_t, std::uint32_t>> runs;
        for (const PatchRun& r : differingRuns(file.data(), memory.data(), 64, 0x401000, 0x401020, 0x401030))
            runs.emplace_back(r.address, r.length);
        EXPECT_EQ(runs, expected) << changed[0];
    }
}

// Bytes with a 32-bit little-endian value between them.
std::vector<std::uint8_t> code(std::vector<std::uint8_t> head, std::uint64_t value, std::vector<std::uint8_t> tail = {}) {
    for (int shift = 0; shift < 32; shift += 8) head.push_back(static_cast<std::uint8_t>(value >> shift));
    head.insert(head.end(), tail.begin(), tail.end());
    return head;
}

// A patch is judged by where its jump leads, a changed method table entry by where it points.
TEST(CodePatch, OverlayDetoursAreNotFindingsButCheatsPatchesAre) {
    const std::uint64_t create = 0x6A01A2B0, table = 0x6A080000, relay = 0x0AB30000, overlay = 0x6B001000;
    test::FakeMemory memory;
    auto piece = [&memory](std::uint64_t at, std::vector<std::uint8_t> bytes) {
        bytes.insert(bytes.begin(), 8, 0xCC);
        bytes.resize(40, 0xCC);
        memory.pieces[at - 8] = bytes;
    };
    // MinHook's x64 hook: a jmp rel32 to a relay (jmp [rip+0]; dq detour)
    // allocated near the target (MinHook src/buffer.c, hook.c).
    piece(create + 0x100, code({0xE9}, relay - (create + 0x105)));
    piece(relay, code({0xFF, 0x25, 0, 0, 0, 0}, overlay, {0, 0, 0, 0}));
    piece(create + 0x200, code({0xE9}, 0x6C001010 - (create + 0x205)));
    piece(0x402000, {0xEB, 0xFE});  // the executable's jump to itself (a disabled function)
    piece(table + 0x10, {});
    GameView game;
    game.modules = {
        {0x400000, 0x300000, "iw3mp.exe", "C:\\Games\\CoD4\\iw3mp.exe", ""},
        {0x6A000000, 0x100000, "d3d9.dll", "C:\\windows\\system32\\d3d9.dll", ""},
        {0x6B000000, 0x20000, "overlay_render.dll", "C:\\Games\\CoD4\\overlay_render.dll", ""},
        {0x6C000000, 0x20000, "helper.dll", "C:\\Users\\p\\AppData\\Local\\Temp\\helper.dll", ""},
    };
    game.gameFolder = "C:\\Games\\CoD4";
    game.read = memory.reader();
    game.kindAt = [](std::uint64_t a) { return a >> 16 == relay >> 16 ? MemoryKind::Private : MemoryKind::Free; };
    // module, patch address and length, the finding, code width, the table entry at table+0x10 (0: a code patch)
    constexpr CodeWidth X86 = CodeWidth::X86;
    using Case = std::tuple<std::size_t, std::uint64_t, std::uint32_t, std::string, CodeWidth, std::uint64_t>;
    const Case cases[] = {
        {1, create + 0x100, 5, "none", CodeWidth::X64, 0},
        {1, create + 0x200, 5, "Code patch d3d9.dll+0x1a4b0 -> helper.dll+0x1010", X86, 0},
        {0, 0x402000, 2, "Code patch iw3mp.exe+0x2000 -> iw3mp.exe+0x2000", X86, 0},
        {1, table + 0x12, 2, "Read-only data patch d3d9.dll+0x80010 -> private 0x0ab30000", X86, relay},
        // A recording overlay hooking Present in the device's method table
        // (OBS Studio's graphics-hook, d3d9-capture.cpp).
        {1, table + 0x12, 2, "none", X86, overlay},
    };
    for (const auto& [module, address, length, description, width, tableEntry] : cases) {
        game.width = width;
        storeLe32(memory.at(table + 0x10, 4), static_cast<std::uint32_t>(tableEntry));
        MemoryScanHit hit;
        const PatchRun run{address, length};
        const bool finding =
            tableEntry ? dataPatchFinding(game, module, run, hit) : patchFinding(game, module, run, hit);
        EXPECT_EQ(finding ? hit.description : "none", description) << std::hex << address;
    }
}

}  // namespace
}  // namespace marvik
