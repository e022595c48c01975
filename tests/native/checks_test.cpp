#include <gtest/gtest.h>

#include <cstring>
#include <optional>
#include <string>
#include <tuple>
#include <vector>

#include "checks/checks.h"
#include "checks/code_check.h"
#include "checks/memory_scan.h"
#include "checks/pe_image.h"
#include "checks/signatures.h"
#include "inventory/guid.h"
#include "support/fake_memory.h"
#include "support/files.h"

namespace marvik {
namespace {

ModuleInfo module(const std::string& path) {
    ModuleInfo m;
    m.path = path;
    m.name = path.substr(path.find_last_of("\\/") + 1);
    return m;
}

TEST(ModuleCheck, LabelsByMD5ThenNameAndFlagsUnusualFoldersWithoutLabel) {
    struct Case {
        const char *path, *md5, *gameFolder;
        bool suspicious;
        const char* detection;
    };
    const char* const downloads = "C:\\Users\\p\\Downloads\\CoD4";
    const Case cases[] = {
        {"C:\\Game\\CoD4_WallHack.dll", "00000000000000000000000000000000", "C:\\Game", true, "Wallhack module"},
        // Names match their patterns in any case, '?' any one character,
        // '*' after a false start; the text must match whole.
        {"C:\\Game\\wallwallhack.DLL", "", "C:\\Game", true, "Wallhack module"},
        {"C:\\Game\\notes.dll", "B525A69694BFB01741D0411EBEB90E79", "C:\\Game", true,
         "Marvik test signature (harmless)"},
        {"C:\\Game\\cod_esp_hook.dll", "", "C:\\Game", true, "ESP overlay hook"},
        {"C:\\Game\\myspeedhack-x.dll", "", "C:\\Game", false, ""},
        {"C:\\Game\\aimbot.dll.bak", "", "C:\\Game", false, ""},
        {"C:\\Users\\p\\AppData\\Local\\Temp\\x.dll", "", "D:\\Games\\CoD4", true, ""},
        // The game unpacked under Downloads: its own DLLs, however deep, are
        // not foreign; a folder whose name only starts like the game's is.
        {"c:/users/p/downloads/cod4/miles/m.dll", "", downloads, false, ""},
        {"C:\\Users\\p\\Downloads\\CoD4x\\m.dll", "", downloads, true, ""},
        {"C:\\Users\\p\\Downloads\\CoD4\\aimbot.dll", "", downloads, true, "Aimbot module"},
        // An executable in Downloads is the game itself, not an injected DLL.
        {"C:\\Users\\p\\Downloads\\CoD4\\iw3mp.exe", "", "D:\\Games\\CoD4", false, ""},
    };
    for (const Case& c : cases) {
        ModuleInfo m = module(c.path);
        m.md5 = c.md5;
        checkModule(m, c.gameFolder);
        EXPECT_EQ(m.suspicious, c.suspicious) << m.path;
        EXPECT_EQ(m.detection, c.detection) << m.path;
    }
}

TEST(ModuleInjection, NewPathAnyCaseFiresAndBaselineIsReadWhole) {
    const std::vector<ModuleInfo> base = {module("C:\\G\\iw3mp.exe"), module("C:\\G\\a.dll")};
    EXPECT_FALSE(hasModuleNotIn({module("c:\\g\\A.DLL")}, base));
    EXPECT_TRUE(hasModuleNotIn({base[1], module("C:\\G\\a.dl")}, base));
    EXPECT_TRUE(hasModuleNotIn({module("C:\\Temp\\a.dll")}, base));  // the same name, another module

    ModuleBaseline baseline;
    replaceBaselineModules(baseline, base);
    EXPECT_FALSE(checkModuleInjection(baseline, {}));
    EXPECT_TRUE(checkModuleInjection(baseline, {module("C:\\G\\b.dll")}));
    EXPECT_FALSE(checkModuleInjection(baseline, base));
}

// The first line of players\guid.dat, else of main\guid.dat, cut at 63
// characters and at a NUL. A candidate whose path does not fit the system's
// paths is skipped, never cut: each file is written at its path cut to 259
// characters, which must not be read.
TEST(PlayerGUID, PlayersOverMainFirstLineAndPathsThatDoNotFitSkipped) {
    const std::string base = test::besideExe("guid_game");
    const std::string hundred(100, 'g');
    struct Case {
        std::size_t folderLength;  // 0: base; players\guid.dat adds 17 characters, main\guid.dat 14
        std::optional<std::string> players, main;  // none: no file
        std::string expected;
    };
    const Case cases[] = {
        {0, "players-guid\r\n", "main-guid\r\n", "players-guid"},
        {0, {}, "main-guid\n", "main-guid"},
        {0, "abc", {}, "abc"},
        {0, "\r\n", "main-guid\n", ""},  // the file in players opens: main is not looked at
        {0, {}, {}, ""},
        {0, hundred + "\n", {}, hundred.substr(0, 63)},
        {0, std::string("ab\0cd\n", 6), {}, "ab"},
        {259 - 17, "fits\n", {}, "fits"},
        {260 - 17, "cut\n", "main-guid\n", "main-guid"},
        {260 - 14, "cut\n", "cut\n", ""},
    };
    for (const Case& c : cases) {
        const std::string folder =
            c.folderLength == 0 ? base : base + "\\" + std::string(c.folderLength - base.size() - 1, 'f');
        std::vector<std::string> written;
        for (const auto& [sub, text] : {std::make_pair("players", c.players), std::make_pair("main", c.main)}) {
            if (!text) continue;
            written.push_back((folder + "\\" + sub + "\\guid.dat").substr(0, 259));
            test::writeFile(written.back(), *text);
        }
        // Either separator ends the folder (natively only '/' is one).
        EXPECT_EQ(guidFromImagePath(folder + (c.folderLength == 0 ? "/" : "\\") + "iw3mp.exe"), c.expected)
            << c.folderLength << " " << c.players.value_or("-");
        for (const std::string& path : written) test::removePath(path);
        test::removePath(base);
    }
}

// Regions as {base, size, allocation base, state, protection, type, PE headers, system file}.
constexpr std::uint32_t C = 0x1000, IMAGE = 0x1000000, MAPPED = 0x40000, PRIVATE = 0x20000;

// Protection alone is no finding outside images (trampolines, JIT): the
// region rules report headers outside images, merged with the sections
// after them, and writable code in an image.
TEST(MemoryScan, FindsForeignCodeAndMergesItsRanges) {
    const std::vector<MemoryScanHit> hits = classifyRegions({
        {0x10000, 0x1000, 0x10000, C, 0x40, PRIVATE},  // RWX: the content decides (findForeignCode)
        {0x500000, 0x1000, 0x500000, C, 0x04, PRIVATE, true},  // hand-mapped: headers...
        {0x501000, 0x3000, 0x500000, C, 0x20, PRIVATE},        // ...and code, one hit
        {0x510000, 0x1000, 0x510000, C, 0x02, PRIVATE, true},  // headers again: another allocation
        {0x800000, 0x1000, 0x800000, C, 0x20, MAPPED},         // executable view of another file
        {0xB00000, 0x1000, 0xB00000, C, 0x140, PRIVATE},       // guard page
        {0xC00000, 0x1000, 0xC00000, C, 0x40, IMAGE},          // RWX inside an image
        {0xE00000, 0x1000, 0xE00000, C, 0x20, MAPPED, true, true},  // a system file's view
        {0x7FF0F0000000ull, 0x200000000ull, 0x7FF0F0000000ull, C, 0x04, PRIVATE, true},  // by its low half
    });
    std::vector<std::pair<std::uint32_t, std::uint32_t>> at;
    for (const MemoryScanHit& h : hits) at.emplace_back(h.address, h.size);
    EXPECT_EQ(at, (std::vector<std::pair<std::uint32_t, std::uint32_t>>{
                      {0x500000, 0x4000}, {0x510000, 0x1000}, {0xC00000, 0x1000}, {0xF0000000, 0xFFFFFFFF}}));
    ASSERT_EQ(hits.size(), 4u);
    EXPECT_NE(hits[0].description.find("PE image"), std::string::npos);
    EXPECT_NE(hits[2].description.find("writable and executable page in a module image"), std::string::npos);
    for (const MemoryScanHit& h : hits) EXPECT_LE(h.description.size(), 63u) << h.description;

    std::uint8_t head[0x100] = {'M', 'Z'};
    head[0x3C] = 0x80;
    std::memcpy(head + 0x80, "PE\0\0", 4);
    EXPECT_TRUE(looksLikePEHeader(head, sizeof head));
    head[0x3C] = 0xFE;  // points past the bytes read
    EXPECT_FALSE(looksLikePEHeader(head, sizeof head));
}

// The same bytes read as x86 and as x64 code: FF 25 is an absolute pointer
// address on x86 and RIP-relative on x64; the REX forms exist on x64 only.
TEST(Prologue, EachEntryDecodedByItsWidth) {
    constexpr CodeWidth X86 = CodeWidth::X86, X64 = CodeWidth::X64;
    struct Case {
        const char* what;
        CodeWidth width;
        std::uint64_t address;
        std::vector<std::uint8_t> bytes;
        bool breakpoint, jumps, indirect;
        std::uint64_t target;
    };
    const std::vector<std::uint8_t> movRax = {0x48, 0xB8, 1, 2, 3, 4, 5, 6, 7, 8, 0xFF, 0xE0};
    const std::vector<std::uint8_t> movR11 = {0x49, 0xBB, 1, 2, 3, 4, 5, 6, 7, 8, 0x41, 0xFF, 0xE3};
    const Case cases[] = {
        {"jmp rel32 wraps", X86, 0xFFFFFFF0, {0xE9, 0x20, 0x00, 0x00, 0x00}, false, true, false, 0x15},
        {"jmp [rip-disp32]", X64, 0x2000, {0xFF, 0x25, 0xF0, 0xFF, 0xFF, 0xFF}, false, true, true, 0x2000 + 6 - 0x10},
        {"jmp [abs32] high", X86, 0x2000, {0xFF, 0x25, 0xF0, 0xFF, 0xFF, 0xFF}, false, true, true, 0xFFFFFFF0},
        {"mov rax; jmp rax", X64, 0, movRax, false, true, false, 0x0807060504030201},
        {"dec eax; mov eax", X86, 0, movRax, false, false, false, 0},
        {"mov r11; jmp r11", X64, 0, movR11, false, true, false, 0x0807060504030201},
        {"dec ecx; mov ebx", X86, 0, movR11, false, false, false, 0},
        {"push; ret", X64, 0, {0x68, 0x00, 0x10, 0x00, 0x80, 0xC3}, false, true, false, 0xFFFFFFFF80001000},
        {"call rel32", X86, 0x1000, {0xE8, 0xFB, 0x0F, 0x00, 0x00}, false, true, false, 0x1000 + 5 + 0xFFB},
        {"mov eax; jmp eax", X86, 0, {0xB8, 0x00, 0x10, 0x00, 0x80, 0xFF, 0xE0}, false, true, false, 0x80001000},
        {"mov eax; jmp rax", X64, 0, {0xB8, 0x00, 0x10, 0x00, 0x80, 0xFF, 0xE0}, false, true, false, 0x80001000},
        {"int3", X86, 0, {0xCC}, true, false, false, 0},
        {"sub rsp; mov rax", X64, 0, {0x48, 0x83, 0xEC, 0x28, 0x48, 0x8B, 0x05}, false, false, false, 0},
    };
    for (const Case& c : cases) {
        std::uint8_t bytes[16] = {};
        std::memcpy(bytes, c.bytes.data(), c.bytes.size());
        const Prologue p = decodePrologue(bytes, sizeof bytes, c.address, c.width);
        const char* width = c.width == X86 ? " (x86)" : " (x64)";
        EXPECT_EQ(std::make_tuple(p.breakpoint, p.jumps, p.indirect, p.target),
                  std::make_tuple(c.breakpoint, c.jumps, c.indirect, c.target)) << c.what << width;
        EXPECT_FALSE(decodePrologue(bytes, 15, c.address, c.width).jumps) << "too few bytes to judge: " << c.what;
    }
}

// A game's process environment block as the debugger check finds it: a
// 32-bit game's own block by the system's WOW64 answer (Windows gives its
// address, Wine only a yes, 1), a 64-bit game's directly. Heap flags of a
// normal game with other global flags set must stay silent.
TEST(DebuggerCheck, ReadsTheGamesOwnBlockWhateverTheWow64AnswerGives) {
    struct Case {
        const char* name;
        int width;
        std::uint64_t answer;  // the WOW64 answer (0: a 64-bit game)
        std::uint8_t beingDebugged;
        std::uint32_t globalFlags;
        bool debugged;
    };
    constexpr std::uint64_t NATIVE_PEB = 0x7FFDF000, WINDOWS_PEB32 = 0x7EFDE000;
    const Case cases[] = {
        {"windows wow64, BeingDebugged", 4, WINDOWS_PEB32, 1, 0, true},
        {"wine wow64, BeingDebugged", 4, 1, 1, 0, true},
        {"wine wow64, heap debug flags", 4, 1, 0, 0x70, true},
        {"wine wow64, other global flags", 4, 1, 0, 0x400 | 0x20, false},
        {"64-bit, heap debug flags", 8, 0, 0, 0x70, true},
        {"64-bit, clean", 8, 0, 0, 0x100, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        test::FakeMemory memory;
        memory.pieces[NATIVE_PEB].assign(0x2000, 0);  // the 64-bit block and the page after it
        memory.pieces[WINDOWS_PEB32].assign(0x1000, 0);
        const std::uint64_t own = c.width == 8 ? NATIVE_PEB : c.answer == 1 ? NATIVE_PEB + 0x1000 : c.answer;
        memory.pointer(own + (c.width == 8 ? 0x18 : 0x0C), c.width, 0x00A01000);  // PEB.Ldr
        *memory.at(own + 2, 1) = c.beingDebugged;
        storeLe32(memory.at(own + (c.width == 8 ? 0xBC : 0x68), 4), c.globalFlags);
        const ReadMemory read = memory.reader();
        const std::uint64_t found = c.width == 8 ? NATIVE_PEB : wow64Peb(read, c.answer, NATIVE_PEB);
        EXPECT_EQ(found, own);
        EXPECT_EQ(pebShowsDebugger(read, found, c.width), c.debugged);
    }
}

TEST(IntegrityFlags, IndicatorIBitIAndTheAlert) {
    IntegrityIndicators r;
    r.hardwareBreakpoints = r.apiHooked = true;
    EXPECT_EQ(integrityFlagsByte(r), 0x0A);
    EXPECT_TRUE(integrityAlert(r));
    r = IntegrityIndicators{};
    r.reserved7 = true;
    EXPECT_EQ(integrityFlagsByte(r), 0x80);
    EXPECT_FALSE(integrityAlert(r));
}

// A file that could not be read (0) at session start or now tells nothing;
// a change between two known values is the session's test.
TEST(SelfIntegrity, AnUnreadFileIsNoChange) {
    EXPECT_FALSE(selfIntegrityChanged(0x1234ABCD, 0));
    EXPECT_FALSE(selfIntegrityChanged(0, 0x1234ABCD));
}

}  // namespace
}  // namespace marvik
