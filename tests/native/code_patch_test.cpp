// The comparison of game code with its files, on recorded images and game memory.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <string>
#include <tuple>
#include <vector>

#include "base/little_endian.h"
#include "checks/code_patch.h"
#include "support/fake_memory.h"

namespace marvik {
namespace {

// A PE image of either format: .text (code) at 0x1000 holding the address
// of .data+0x10 at offset 0x10, relocated through .reloc, with the import
// address table at 0x1100; .data and .reloc do not execute.
std::vector<std::uint8_t> makeImage(bool pe64, std::uint64_t base) {
    std::vector<std::uint8_t> f(0x800, 0);
    auto pointer = [&](std::size_t at, std::uint64_t v) {
        pe64 ? storeLe64(&f[at], v) : storeLe32(&f[at], static_cast<std::uint32_t>(v));
    };
    const int width = pe64 ? 8 : 4;
    test::peHeaders(f, width);
    const std::size_t opt = 0x80 + 24, optSize = pe64 ? 240 : 224;
    storeLe16(&f[0x80 + 6], 3);
    storeLe32(&f[0x80 + 8], 0x5F00D00D);  // link time
    storeLe32(&f[opt + 16], 0x1000);      // entry point
    pointer(opt + (pe64 ? 24 : 28), base);
    storeLe32(&f[opt + 56], 0x4000);  // SizeOfImage
    test::peDirectory(f, width, 5, 0x3000, 12);     // base relocations
    test::peDirectory(f, width, 12, 0x1100, 0x20);  // import address table
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
    pointer(0x200 + 0x10, base + 0x2010);
    // One block for .text's page: the pointer's entry and an ABSOLUTE (zero) padding entry.
    storeLe32(&f[0x600], 0x1000);
    storeLe32(&f[0x604], 12);
    storeLe16(&f[0x608], static_cast<std::uint16_t>((pe64 ? 10 : 3) << 12 | 0x10));
    return f;
}

// The image's relocation and identity come from its own format, whatever
// the width of the build reading it: a 64-bit client reads a 32-bit game.
TEST(CodePatch, ImagesRelocatedByTheirOwnFormat) {
    for (bool pe64 : {false, true}) {
        const std::uint64_t fileBase = pe64 ? 0x180000000ull : 0x10000000ull;
        const std::uint64_t loaded = pe64 ? 0x7FF812340000ull : 0x0A3C0000ull;  // above and below the file's base
        const std::vector<std::uint8_t> file = makeImage(pe64, fileBase);
        const ImageCode code = expectedImageCode(file, loaded);
        ASSERT_EQ(code.sections.size(), 1u) << pe64;  // .text only: .data and .reloc do not execute
        EXPECT_EQ(std::make_tuple(code.pe64, code.sections[0].rva, code.sections[0].bytes.size(), code.iatRva, code.iatSize),
                  std::make_tuple(pe64, 0x1000u, std::size_t{0x200}, 0x1100u, 0x20u));
        const std::uint8_t* fixed = &code.sections[0].bytes[0x10];
        EXPECT_EQ(pe64 ? loadLe64(fixed) : loadLe32(fixed), loaded + 0x2010);
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

// The file is the module maker's: section tables shaped to make the reader
// copy or walk without end give nothing to compare, within the bound.
TEST(CodePatch, FilesShapedToCostAreGivenUp) {
    std::vector<std::uint8_t> file = makeImage(false, 0x10000000);  // loaded at its own base: no relocations
    const std::size_t table = 0x80 + 24 + 224;
    auto withSections = [&](std::uint16_t count, std::uint32_t each) {
        std::vector<std::uint8_t> f = file;
        f.resize(std::max<std::size_t>(f.size(), table + 40 * count + 0x200));
        storeLe16(&f[0x80 + 6], count);
        for (std::uint16_t i = 0; i < count; ++i) {
            std::uint8_t* s = &f[table + 40 * i];
            std::memset(s, 0, 40);
            storeLe32(s + 8, each);       // every one spans the same bytes of the file
            storeLe32(s + 12, 0x1000);
            storeLe32(s + 16, each);
            storeLe32(s + 20, 0);
            storeLe32(s + 36, 0x60000020);
        }
        return f;
    };
    EXPECT_EQ(expectedImageCode(withSections(2, 0x200), 0x10000000).sections.size(), 2u) << "overlap itself is read";
    EXPECT_TRUE(expectedImageCode(withSections(MAX_CODE_SECTIONS + 1, 0x200), 0x10000000).sections.empty());
    std::vector<std::uint8_t> big = withSections(8, 0);
    big.resize(MAX_CODE_BYTES / 4 + 0x1000);
    for (int i = 0; i < 8; ++i) {
        storeLe32(&big[table + 40 * i + 8], static_cast<std::uint32_t>(MAX_CODE_BYTES / 4));
        storeLe32(&big[table + 40 * i + 16], static_cast<std::uint32_t>(MAX_CODE_BYTES / 4));
    }
    EXPECT_TRUE(expectedImageCode(big, 0x10000000).sections.empty()) << "eight views of 16 MiB";
    std::vector<std::uint8_t> past = file;
    storeLe16(&past[0x80 + 6], 0xFFFF);  // a section table that runs off the file
    EXPECT_TRUE(expectedImageCode(past, 0x10000000).sections.empty());
}

// Read-only data (where Direct3D keeps its interfaces' method tables) is
// compared for the graphics modules only, writable and discardable sections
// never; a changed table entry is judged by where it now leads.
TEST(CodePatch, MethodTablesInReadOnlyDataAreJudgedByWhereTheyLead) {
    std::vector<std::uint8_t> file = makeImage(false, 0x10000000);
    storeLe32(&file[0x80 + 24 + 224 + 40 + 36], 0x40000040);  // .data made read-only initialized data
    EXPECT_EQ(expectedImageCode(file, 0x10000000).sections.size(), 1u);
    const ImageCode withData = expectedImageCode(file, 0x10000000, true);
    ASSERT_EQ(withData.sections.size(), 2u);  // .reloc is discardable
    EXPECT_TRUE(withData.sections[1].readOnlyData && !withData.sections[0].readOnlyData);
    EXPECT_TRUE(readOnlyDataWatched("D3D9.DLL") && !readOnlyDataWatched("kernel32.dll"));

    constexpr std::uint64_t D3D9 = 0x6A000000, TABLE = D3D9 + 0x80000, STUB = 0x0AB30000;
    test::FakeMemory memory;
    memory.pieces[TABLE].resize(0x40);
    memory.pieces[STUB] = {0x90, 0xFF, 0x25, 0, 0, 0, 0};
    GameView game;
    game.modules = {{D3D9, 0x100000, "d3d9.dll", "C:\\windows\\system32\\d3d9.dll", ""},
                    {0x6B000000, 0x20000, "overlay.dll", "C:\\Program Files\\Overlay\\overlay.dll", ""},
                    {0x6C000000, 0x20000, "cheat.dll", "C:\\Games\\cheat.dll", ""}};
    game.read = memory.reader();
    game.kindAt = [](std::uint64_t a) { return a >> 16 == STUB >> 16 ? MemoryKind::Private : MemoryKind::Free; };
    game.trusted = [](const ListedModule& m) { return m.name != "cheat.dll"; };
    const struct {
        const char* what;
        std::uint64_t value;
        const char* description;
    } cases[] = {
        {"an entry led to a private stub", STUB, "Read-only data patch d3d9.dll+0x80010 -> private 0x0ab30000"},
        {"an entry led into an untrusted DLL", 0x6C000100, "Read-only data patch d3d9.dl+0x80010 -> cheat.dl+0x100 unsigned"},
        {"an entry led into a trusted overlay", 0x6B000100, nullptr},
        {"bytes that are no pointer", 0x12345678, "Read-only data patch d3d9.dll+0x80012 (2 bytes)"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        storeLe32(memory.at(TABLE + 0x10, 4), static_cast<std::uint32_t>(c.value));
        MemoryScanHit hit;
        const bool finding = dataPatchFinding(game, 0, PatchRun{TABLE + 0x12, 2}, hit);
        EXPECT_EQ(finding ? hit.description : std::string("none"), c.description ? c.description : "none");
    }
}

TEST(CodePatch, DifferingBytesGroupIntoRunsOutsideTheImportTable) {
    struct Case {
        const char* what;
        std::vector<std::size_t> changed;  // offsets of changed bytes in 64 bytes at 0x401000
        std::vector<std::pair<std::uint64_t, std::uint32_t>> runs;
    };
    const Case cases[] = {
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
    EXPECT_FALSE(codeWatched("game_physics.dll", false));
}

// Bytes with a 32-bit little-endian value between them.
std::vector<std::uint8_t> code(std::vector<std::uint8_t> head, std::uint64_t value, std::vector<std::uint8_t> tail = {}) {
    for (int shift = 0; shift < 32; shift += 8) head.push_back(static_cast<std::uint8_t>(value >> shift));
    head.insert(head.end(), tail.begin(), tail.end());
    return head;
}
std::vector<std::uint8_t> jmp(std::uint64_t from, std::uint64_t to) { return code({0xE9}, to - (from + 5)); }

// A recorded game: its modules, pieces of its code by start address, each
// in int3 padding as between functions, and its region kinds.
TEST(CodePatch, OverlayDetoursAreNotFindingsButCheatsPatchesAre) {
    const std::uint64_t create = 0x6A01A2B0, tape = 0x7B612340, relay = 0x0AB30000;
    const std::uint64_t hook = 0x6B001000, cheat = 0x6C001010;
    const std::map<std::uint64_t, std::vector<std::uint8_t>> memory = {
        // x64-style: a jump to a relay stub (jmp [rip+0]; dq hook) in private memory.
        {create + 0x100, jmp(create + 0x100, relay)},
        {relay, code({0xFF, 0x25, 0, 0, 0, 0}, hook, {0, 0, 0, 0})},
        // A relay leading to a relay leading to a relay leading to a relay: never lands.
        {relay + 0x40, {0xEB, 0x0E}},
        {relay + 0x50, {0xEB, 0x0E}},
        {relay + 0x60, {0xEB, 0x0E}},
        {relay + 0x70, jmp(relay + 0x70, hook)},
        {relay + 0x200, {0x31, 0xC0, 0xC3}},
        {create + 0x200, jmp(create + 0x200, cheat)},
        {create + 0x300, jmp(create + 0x300, 0x6D001000)},
        {create + 0x400, jmp(create + 0x400, relay + 0x40)},
        {create + 0x500, jmp(create + 0x500, relay + 0x50)},
        // kernel32: a detour into private memory, by each form of transfer.
        {tape + 0x100, code({0x68}, 0x0AC00010, {0xC3})},
        {tape + 0x200, code({0xFF, 0x25}, 0x0AB30300)},
        {0x0AB30300, code({}, 0x0AB30200)},
        // Only the displacement of an existing jump changed: the run starts a byte in.
        {tape + 0x500, jmp(tape + 0x500, relay + 0x200)},
        // The executable: NOPs after a short jump that does not reach them,
        // and a jump to itself (a disabled function).
        {0x401000, {0xEB, 0x01, 0x90, 0x90, 0x90, 0xC3}},
        {0x402000, {0xEB, 0xFE}},
        {0x7FF810002000ull, {0x48, 0xB8, 0, 0, 0xB3, 0x0A, 0xF0, 0x7F, 0, 0, 0xFF, 0xE0}},
    };
    const std::map<std::uint64_t, MemoryKind> kinds = {{0x0AB30000, MemoryKind::Private}, {0x0AB40000, MemoryKind::Free},
                                                      {0x0AC00000, MemoryKind::Mapped}, {0x0AC10000, MemoryKind::Free}};
    const std::string folder = "C:\\Games\\CoD4", downloads = "C:\\Users\\p\\Downloads\\CoD4";
    GameView game;
    game.modules = {
        {0x400000, 0x300000, "iw3mp.exe", folder + "\\iw3mp.exe", ""},
        {0x6A000000, 0x100000, "d3d9.dll", "C:\\windows\\system32\\d3d9.dll", ""},
        {0x6B000000, 0x20000, "overlay_render.dll", folder + "\\overlay_render.dll", ""},
        {0x6C000000, 0x20000, "helper.dll", "C:\\Users\\p\\AppData\\Local\\Temp\\helper.dll", ""},
        {0x6D000000, 0x20000, "overlay_in_downloads.dll", downloads + "\\overlay_in_downloads.dll", ""},
        {0x7B600000, 0x100000, "kernel32.dll", "C:\\windows\\system32\\kernel32.dll", ""},
        {0x7FF810000000ull, 0x100000, "a_module_with_a_very_long_name_indeed_for_a_dll.dll",
         "C:\\windows\\system32\\a_module_with_a_very_long_name_indeed_for_a_dll.dll", ""},
    };
    game.read = [&memory](std::uint64_t address, void* out, std::size_t size) {
        // The piece whose padding (8 bytes before it, up to 32 from its start) holds the bytes.
        const auto after = memory.upper_bound(address + 8);
        if (after == memory.begin() || address + size > std::prev(after)->first + 32) return false;
        const auto& [start, bytes] = *std::prev(after);
        for (std::size_t i = 0; i < size; ++i)
            static_cast<std::uint8_t*>(out)[i] = address + i - start < bytes.size() ? bytes[address + i - start] : 0xCC;
        return true;
    };
    game.kindAt = [&kinds](std::uint64_t address) {
        const auto after = kinds.upper_bound(address);
        return after == kinds.begin() ? MemoryKind::Free : std::prev(after)->second;
    };
    struct Case {
        const char* what;
        std::size_t module;
        std::uint64_t address;
        std::uint32_t length;
        const char* description;  // null: not a finding
        CodeWidth width = CodeWidth::X86;
        std::string gameFolder = "C:\\Games\\CoD4";
    };
    const Case cases[] = {
        {"overlay, through a relay", 1, create + 0x100, 5, nullptr, CodeWidth::X64},
        {"into a DLL from Temp", 1, create + 0x200, 5, "Code patch d3d9.dll+0x1a4b0 -> helper.dll+0x1010"},
        {"into the game's own DLL under Downloads", 1, create + 0x300, 5, nullptr, CodeWidth::X86, downloads},
        {"push; ret into a mapped view", 5, tape + 0x100, 6, "Code patch kernel32.dll+0x12440 -> mapped 0x0ac00010"},
        {"jmp [abs32] through a pointer", 5, tape + 0x200, 6, "Code patch kernel32.dll+0x12540 -> private 0x0ab30200"},
        {"jump retargeted", 5, tape + 0x501, 4, "Code patch kernel32.dll+0x12841 -> private 0x0ab30200"},
        {"three relays to the overlay", 1, create + 0x500, 5, nullptr},
        {"four relays never land", 1, create + 0x400, 5, "Code patch d3d9.dll+0x1a6b0 -> private 0x0ab30040"},
        {"NOPs in the game", 0, 0x401002, 3, "Code patch iw3mp.exe+0x1002 (3 bytes)"},
        {"a jump within the game's own code", 0, 0x402000, 2, "Code patch iw3mp.exe+0x2000 -> iw3mp.exe+0x2000"},
        {"mov rax; jmp rax, high address, name cut", 6, 0x7FF810002000ull, 12,
         "Code patch a_module_with_a_ve+0x2000 -> unmapped 0x7ff00ab30000", CodeWidth::X64},
    };
    for (const Case& c : cases) {
        game.width = c.width;
        game.gameFolder = c.gameFolder;
        MemoryScanHit hit;
        const bool finding = patchFinding(game, c.module, PatchRun{c.address, c.length}, hit);
        EXPECT_EQ(finding, c.description != nullptr) << c.what << ": " << hit.description;
        if (!finding || c.description == nullptr) continue;
        EXPECT_EQ(hit.description, c.description) << c.what;
        EXPECT_EQ(hit.address, static_cast<std::uint32_t>(c.address)) << c.what;
        EXPECT_EQ(hit.size, c.length) << c.what;
    }
}

}  // namespace
}  // namespace marvik
