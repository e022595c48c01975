// The comparison of game code with its files: relocation by the module's
// own format, runs of differing bytes, and which patches are findings, on
// recorded images and recorded game memory.
#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "app/little_endian.h"
#include "checks/code_patch.h"

namespace marvik {
namespace {

// A PE image of either format: .text (code) at 0x1000 holding the address
// of .data+0x10 at offset 0x10, with the import address table at 0x1100;
// .data at 0x2000 holding a pointer too; both relocated through .reloc.
std::vector<std::uint8_t> makeImage(bool pe64, std::uint64_t base) {
    std::vector<std::uint8_t> f(0x800, 0);
    f[0] = 'M';
    f[1] = 'Z';
    storeLe32(&f[0x3C], 0x80);
    std::memcpy(&f[0x80], "PE\0\0", 4);
    const std::size_t opt = 0x80 + 24;
    const std::uint16_t optSize = pe64 ? 240 : 224;
    storeLe16(&f[0x80 + 6], 3);
    storeLe32(&f[0x80 + 8], 0x5F00D00D);  // link time
    storeLe16(&f[0x80 + 20], optSize);
    storeLe16(&f[opt], pe64 ? 0x20B : 0x10B);
    storeLe32(&f[opt + 16], 0x1000);  // entry point
    if (pe64)
        storeLe64(&f[opt + 24], base);
    else
        storeLe32(&f[opt + 28], static_cast<std::uint32_t>(base));
    storeLe32(&f[opt + 56], 0x4000);  // SizeOfImage
    const std::size_t dirs = opt + (pe64 ? 112 : 96);
    storeLe32(&f[dirs + 5 * 8], 0x3000);  // base relocations
    storeLe32(&f[dirs + 5 * 8 + 4], 12);
    storeLe32(&f[dirs + 12 * 8], 0x1100);  // import address table
    storeLe32(&f[dirs + 12 * 8 + 4], 0x20);
    const struct {
        const char* name;
        std::uint32_t rva, file, flags;
    } sections[] = {{".text", 0x1000, 0x200, 0x60000020}, {".data", 0x2000, 0x400, 0xC0000040},
                    {".reloc", 0x3000, 0x600, 0x42000040}};
    for (int i = 0; i < 3; ++i) {
        std::uint8_t* s = &f[opt + optSize + i * 40];
        std::memcpy(s, sections[i].name, std::strlen(sections[i].name));
        storeLe32(s + 8, 0x200);
        storeLe32(s + 12, sections[i].rva);
        storeLe32(s + 16, 0x200);
        storeLe32(s + 20, sections[i].file);
        storeLe32(s + 36, sections[i].flags);
    }
    for (std::size_t at : {0x200 + 0x10, 0x400}) {
        if (pe64)
            storeLe64(&f[at], base + 0x2010);
        else
            storeLe32(&f[at], static_cast<std::uint32_t>(base + 0x2010));
    }
    f[0x200] = 0x55;  // push ebp, a first instruction
    storeLe32(&f[0x600], 0x1000);  // one block for .text's page, one entry, and one for .data's
    storeLe32(&f[0x604], 12);
    storeLe16(&f[0x608], static_cast<std::uint16_t>((pe64 ? 10 : 3) << 12 | 0x10));
    storeLe16(&f[0x60A], 0);  // padding entry (ABSOLUTE)
    return f;
}

// The image's relocation and identity come from its own format, whatever
// the width of the build reading it: a 64-bit client reads a 32-bit game.
TEST(CodePatch, ImagesRelocatedByTheirOwnFormat) {
    for (bool pe64 : {false, true}) {
        const std::uint64_t fileBase = pe64 ? 0x180000000ull : 0x10000000ull;
        const std::uint64_t loaded = pe64 ? 0x7FF812340000ull : 0x6A3C0000ull;
        const std::vector<std::uint8_t> file = makeImage(pe64, fileBase);
        const ImageCode code = expectedImageCode(file, loaded);
        ASSERT_EQ(code.sections.size(), 1u) << pe64;  // .text only: .data and .reloc do not execute
        EXPECT_EQ(code.pe64, pe64);
        EXPECT_EQ(code.sections[0].rva, 0x1000u);
        EXPECT_EQ(code.sections[0].bytes.size(), 0x200u);
        EXPECT_EQ(code.iatRva, 0x1100u);
        EXPECT_EQ(code.iatSize, 0x20u);
        const std::uint8_t* fixed = &code.sections[0].bytes[0x10];
        if (pe64)
            EXPECT_EQ(loadLe64(fixed), loaded + 0x2010);
        else
            EXPECT_EQ(loadLe32(fixed), static_cast<std::uint32_t>(loaded + 0x2010));
        EXPECT_EQ(code.sections[0].bytes[0x18], 0) << "a PE32 fix-up writes 4 bytes, no more";
        // Loaded where the file wants it: the file's bytes as they are.
        EXPECT_EQ(loadLe32(&expectedImageCode(file, fileBase).sections[0].bytes[0x10]),
                  static_cast<std::uint32_t>(fileBase + 0x2010));
        EXPECT_EQ(expectedCodeSection(file, loaded).bytes, code.sections[0].bytes);

        // The header the loader mapped names the file; another build's does not.
        EXPECT_TRUE(sameImage(code, file.data(), 0x400));
        std::vector<std::uint8_t> other = file;
        storeLe32(&other[0x80 + 8], 0x5F00D00E);
        EXPECT_FALSE(sameImage(code, other.data(), 0x400));
        EXPECT_FALSE(sameImage(code, file.data(), 0x40)) << "a header cut short";
    }
    std::vector<std::uint8_t> cut = makeImage(false, 0x10000000);
    cut.resize(0x500);  // .text's raw data runs past the end of the file
    EXPECT_TRUE(expectedImageCode(cut, 0x20000000).sections.empty());
}

TEST(CodePatch, DifferingBytesGroupIntoRunsOutsideTheImportTable) {
    struct Case {
        const char* what;
        std::vector<std::size_t> changed;  // offsets of changed bytes in 64 bytes at 0x401000
        std::vector<std::pair<std::uint64_t, std::uint32_t>> runs;
    };
    const Case cases[] = {
        {"nothing", {}, {}},
        {"one byte", {7}, {{0x401007, 1}}},
        {"a jump keeping one byte of what it replaced", {0, 1, 3, 4}, {{0x401000, 5}}},
        {"four equal bytes still join", {0, 5}, {{0x401000, 6}}},
        {"five apart are two patches", {0, 6}, {{0x401000, 1}, {0x401006, 1}}},
        {"import table written by the loader", {32, 33, 40}, {}},
        {"a patch beside the import table", {30, 31, 32, 48}, {{0x40101E, 2}, {0x401030, 1}}},
        {"the last byte", {63}, {{0x40103F, 1}}},
    };
    for (const Case& c : cases) {
        std::vector<std::uint8_t> expected(64), actual(64);
        for (std::size_t i = 0; i < 64; ++i) expected[i] = actual[i] = static_cast<std::uint8_t>(i * 37);
        for (std::size_t i : c.changed) actual[i] ^= 0x5A;
        const std::vector<PatchRun> runs =
            differingRuns(expected.data(), actual.data(), 64, 0x401000, 0x401020, 0x401030);
        ASSERT_EQ(runs.size(), c.runs.size()) << c.what;
        for (std::size_t i = 0; i < runs.size(); ++i) {
            EXPECT_EQ(runs[i].address, c.runs[i].first) << c.what;
            EXPECT_EQ(runs[i].length, c.runs[i].second) << c.what;
        }
    }
    // Shared pages are the file's; a private copy was written.
    EXPECT_FALSE(pageWritten(0x8000 | 0x1 | 0x2));  // resident, shared by two
    EXPECT_FALSE(pageWritten(0x8000));              // paged out, still the file's
    EXPECT_TRUE(pageWritten(0x1 | (0x20 << 4)));     // resident copy, execute-read
    EXPECT_TRUE(codeWatched("D3D9.DLL", false));
    EXPECT_TRUE(codeWatched("iw3mp.exe", true));
    EXPECT_FALSE(codeWatched("game_physics.dll", false));
}

// A recorded game: its modules and the bytes at a few addresses.
struct RecordedGame {
    std::vector<ListedModule> modules;
    std::map<std::uint64_t, std::vector<std::uint8_t>> memory;  // bytes by start address
    std::map<std::uint64_t, MemoryKind> kinds;                  // region kinds by start address

    GameView view(CodeWidth width, const std::string& gameFolder) const {
        GameView g;
        g.modules = modules;
        g.gameFolder = gameFolder;
        g.width = width;
        g.read = [this](std::uint64_t address, void* out, std::size_t size) {
            // The nearest recording at or below address: pieces lie close together.
            for (auto m = memory.rbegin(); m != memory.rend(); ++m) {
                if (address >= m->first && address + size <= m->first + m->second.size()) {
                    std::memcpy(out, &m->second[address - m->first], size);
                    return true;
                }
            }
            return false;
        };
        g.kindAt = [this](std::uint64_t address) {
            auto it = kinds.upper_bound(address);
            return it == kinds.begin() ? MemoryKind::Free : std::prev(it)->second;
        };
        return g;
    }
};

std::vector<std::uint8_t> le32(std::uint32_t v) {
    return {std::uint8_t(v), std::uint8_t(v >> 8), std::uint8_t(v >> 16), std::uint8_t(v >> 24)};
}
std::vector<std::uint8_t> cat(std::vector<std::uint8_t> a, const std::vector<std::uint8_t>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}
std::vector<std::uint8_t> rel32(std::uint64_t from, std::uint64_t to) {
    return le32(static_cast<std::uint32_t>(to - (from + 5)));
}

TEST(CodePatch, OverlayDetoursAreNotFindingsButCheatsPatchesAre) {
    const std::string folder = "C:\\Games\\CoD4";
    const std::string downloads = "C:\\Users\\p\\Downloads\\CoD4";
    RecordedGame game;
    game.modules = {
        {0x400000, 0x300000, "iw3mp.exe", folder + "\\iw3mp.exe"},
        {0x6A000000, 0x100000, "d3d9.dll", "C:\\windows\\system32\\d3d9.dll"},
        {0x6B000000, 0x20000, "overlay_render.dll", folder + "\\overlay_render.dll"},
        {0x6C000000, 0x20000, "helper.dll", "C:\\Users\\p\\AppData\\Local\\Temp\\helper.dll"},
        {0x6D000000, 0x20000, "overlay_in_downloads.dll", downloads + "\\overlay_in_downloads.dll"},
        {0x7B600000, 0x100000, "kernel32.dll", "C:\\windows\\system32\\kernel32.dll"},
        {0x7FF810000000ull, 0x100000, "a_module_with_a_very_long_name_indeed_for_a_dll.dll",
         "C:\\windows\\system32\\a_module_with_a_very_long_name_indeed_for_a_dll.dll"},
    };
    game.kinds = {{0x0AB30000, MemoryKind::Private}, {0x0AB40000, MemoryKind::Free},
                  {0x0AC00000, MemoryKind::Mapped}, {0x0AC10000, MemoryKind::Free}};
    const std::uint64_t create = 0x6A01A2B0, tape = 0x7B612340, relay = 0x0AB30000;
    const std::uint64_t hook = 0x6B001000, cheat = 0x6C001010;
    game.memory = {
        // x86 overlay: jmp rel32 straight into the overlay's DLL.
        {create, cat({0xE9}, rel32(create, hook))},
        // x64-style: a jump to a relay stub (jmp [rip+0]; dq hook) in private memory.
        {create + 0x100, cat({0xE9}, rel32(create + 0x100, relay))},
        {relay, cat(cat({0xFF, 0x25, 0, 0, 0, 0}, le32(static_cast<std::uint32_t>(hook))), le32(0))},
        // A relay leading to a relay leading to a relay leading to a relay: never lands.
        {relay + 0x40, {0xEB, 0x0E}},
        {relay + 0x50, {0xEB, 0x0E}},
        {relay + 0x60, {0xEB, 0x0E}},
        {relay + 0x70, cat({0xE9}, rel32(relay + 0x70, hook))},
        {relay + 0x200, {0x31, 0xC0, 0xC3}},
        {create + 0x200, cat({0xE9}, rel32(create + 0x200, cheat))},
        {create + 0x300, cat({0xE9}, rel32(create + 0x300, 0x6D001000))},
        {create + 0x400, cat({0xE9}, rel32(create + 0x400, relay + 0x40))},
        {create + 0x500, cat({0xE9}, rel32(create + 0x500, relay + 0x50))},
        // kernel32: a detour into private memory, by each form of transfer.
        {tape, cat({0xE9}, rel32(tape, relay + 0x200))},
        {tape + 0x100, cat(cat({0x68}, le32(0x0AC00010)), {0xC3})},
        {tape + 0x200, cat({0xFF, 0x25}, le32(0x0AB30300))},
        {0x0AB30300, le32(0x0AB30200)},
        // Only the displacement of an existing jump changed: the run starts a byte in.
        {tape + 0x500, cat({0xE9}, rel32(tape + 0x500, relay + 0x200))},
        // The executable: NOPs after a short jump that does not reach them,
        // and a jump to itself (a disabled function).
        {0x401000, {0xEB, 0x01, 0x90, 0x90, 0x90, 0xC3}},
        {0x402000, {0xEB, 0xFE}},
        {0x7FF810001000ull, {0x48, 0xB8, 0, 2, 0xB3, 0x0A, 0, 0, 0, 0, 0xFF, 0xE0}},
        {0x7FF810002000ull, {0x48, 0xB8, 0, 0, 0xB3, 0x0A, 0xF0, 0x7F, 0, 0, 0xFF, 0xE0}},
    };
    // Each recorded piece of code sits in int3 padding, as between functions.
    std::map<std::uint64_t, std::vector<std::uint8_t>> padded;
    for (auto& m : game.memory) {
        std::vector<std::uint8_t> bytes(8, 0xCC);
        bytes.insert(bytes.end(), m.second.begin(), m.second.end());
        bytes.resize(8 + 16 + 16, 0xCC);
        padded[m.first - 8] = bytes;
    }
    game.memory.swap(padded);
    struct Case {
        const char* what;
        CodeWidth width;
        const char* folder;
        std::size_t module;
        std::uint64_t address;
        std::uint32_t length;
        const char* description;  // null: not a finding
    };
    const Case cases[] = {
        {"overlay, direct", CodeWidth::X86, "C:\\Games\\CoD4", 1, create, 5, nullptr},
        {"overlay, through a relay", CodeWidth::X64, "C:\\Games\\CoD4", 1, create + 0x100, 5, nullptr},
        {"into a DLL from Temp", CodeWidth::X86, "C:\\Games\\CoD4", 1, create + 0x200, 5,
         "Code patch d3d9.dll+0x1a4b0 -> helper.dll+0x1010"},
        {"into a DLL under Downloads, not the game's", CodeWidth::X86, "C:\\Games\\CoD4", 1, create + 0x300, 5,
         "Code patch d3d9.dll+0x1a5b0 -> overlay_in_downloads.dll+0x1000"},
        {"into the game's own DLL under Downloads", CodeWidth::X86, "C:\\Users\\p\\Downloads\\CoD4", 1,
         create + 0x300, 5, nullptr},
        {"jmp rel32 into private memory", CodeWidth::X86, "C:\\Games\\CoD4", 5, tape, 5,
         "Code patch kernel32.dll+0x12340 -> private 0x0ab30200"},
        {"push; ret into a mapped view", CodeWidth::X86, "C:\\Games\\CoD4", 5, tape + 0x100, 6,
         "Code patch kernel32.dll+0x12440 -> mapped 0x0ac00010"},
        {"jmp [abs32] through a pointer", CodeWidth::X86, "C:\\Games\\CoD4", 5, tape + 0x200, 6,
         "Code patch kernel32.dll+0x12540 -> private 0x0ab30200"},
        {"jump retargeted", CodeWidth::X86, "C:\\Games\\CoD4", 5, tape + 0x501, 4,
         "Code patch kernel32.dll+0x12841 -> private 0x0ab30200"},
        {"three relays to the overlay", CodeWidth::X86, "C:\\Games\\CoD4", 1, create + 0x500, 5, nullptr},
        {"four relays never land", CodeWidth::X86, "C:\\Games\\CoD4", 1, create + 0x400, 5,
         "Code patch d3d9.dll+0x1a6b0 -> private 0x0ab30040"},
        {"NOPs in the game", CodeWidth::X86, "C:\\Games\\CoD4", 0, 0x401002, 3,
         "Code patch iw3mp.exe+0x1002 (3 bytes)"},
        {"a jump within the game's own code", CodeWidth::X86, "C:\\Games\\CoD4", 0, 0x402000, 2,
         "Code patch iw3mp.exe+0x2000 -> iw3mp.exe+0x2000"},
        {"mov rax; jmp rax, name cut", CodeWidth::X64, "C:\\Games\\CoD4", 6, 0x7FF810001000ull, 12,
         "Code patch a_module_with_a_ver+0x1000 -> private 0x00000ab30200"},
        {"mov rax; jmp rax, high address", CodeWidth::X64, "C:\\Games\\CoD4", 6, 0x7FF810002000ull, 12,
         "Code patch a_module_with_a_ve+0x2000 -> unmapped 0x7ff00ab30000"},
    };
    for (const Case& c : cases) {
        const GameView view = game.view(c.width, c.folder);
        MemoryScanHit hit;
        const bool finding = patchFinding(view, c.module, PatchRun{c.address, c.length}, hit);
        EXPECT_EQ(finding, c.description != nullptr) << c.what << ": " << hit.description;
        if (!finding || c.description == nullptr) continue;
        EXPECT_EQ(hit.description, c.description) << c.what;
        EXPECT_LE(hit.description.size(), 63u) << c.what;
        EXPECT_EQ(hit.address, static_cast<std::uint32_t>(c.address)) << c.what;
        EXPECT_EQ(hit.size, c.length) << c.what;
    }
}

}  // namespace
}  // namespace marvik
