#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "checks/checks.h"
#include "checks/code_check.h"
#include "checks/memory_scan.h"
#include "checks/signatures.h"
#include "checks/text_match.h"
#include "inventory/guid.h"
#include "support/files.h"

namespace marvik {
namespace {

TEST(TextMatch, WildcardsIgnoreCaseAndBacktrack) {
    EXPECT_TRUE(wildcardMatch("*aimbot*.dll", "My_AimBot_v2.DLL"));
    EXPECT_TRUE(wildcardMatch("speedhack-*.dll", "speedhack-x86_64.dll"));
    EXPECT_TRUE(wildcardMatch("*esp?hook*.dll", "cod_esp_hook.dll"));
    EXPECT_TRUE(wildcardMatch("a*b*c", "aXbYbZc"));
    EXPECT_FALSE(wildcardMatch("*aimbot*.dll", "aimbot.exe"));
    EXPECT_FALSE(wildcardMatch("speedhack-*.dll", "myspeedhack-x.dll"));
    EXPECT_FALSE(wildcardMatch("a*b*c", "aXbYbZ"));
    EXPECT_TRUE(equalsIgnoreCase("C:\\Game\\IW3MP.EXE", "c:\\game\\iw3mp.exe"));
    EXPECT_FALSE(equalsIgnoreCase("a.dll", "a.dl"));
}

ModuleInfo module(const std::string& name, const std::string& path, const std::string& md5 = "") {
    ModuleInfo m;
    m.name = name;
    m.path = path;
    m.md5 = md5;
    return m;
}

TEST(ModuleCheck, LabelsByMD5ThenNameAndFlagsUnusualFoldersWithoutLabel) {
    struct Case {
        ModuleInfo module;
        const char* gameFolder;
        bool suspicious;
        const char* detection;
    };
    const Case cases[] = {
        {module("innocent.dll", "C:\\Game\\innocent.dll", "B525A69694BFB01741D0411EBEB90E79"), "C:\\Game", true,
         "Marvik test signature (harmless)"},
        {module("CoD4_WallHack.dll", "C:\\Game\\CoD4_WallHack.dll", "00000000000000000000000000000000"), "C:\\Game",
         true, "Wallhack module"},
        {module("x.dll", "C:\\Users\\p\\AppData\\Local\\Temp\\x.dll"), "D:\\Games\\CoD4", true, ""},
        {module("x.dll", "C:\\Users\\p\\Downloads\\x.dll"), "C:\\Users\\p\\Downloads\\CoD4", true, ""},
        // The game unpacked under Downloads: its own DLLs, however deep, are not foreign.
        {module("mss32.dll", "C:\\Users\\p\\Downloads\\CoD4\\mss32.dll"), "C:\\Users\\p\\Downloads\\CoD4",
         false, ""},
        {module("m.dll", "c:/users/p/downloads/cod4/miles/m.dll"), "C:\\Users\\p\\Downloads\\CoD4", false, ""},
        // A folder whose name only starts like the game's is another folder.
        {module("m.dll", "C:\\Users\\p\\Downloads\\CoD4x\\m.dll"), "C:\\Users\\p\\Downloads\\CoD4", true, ""},
        // A known cheat in the game's own folder keeps its label.
        {module("aimbot.dll", "C:\\Users\\p\\Downloads\\CoD4\\aimbot.dll"), "C:\\Users\\p\\Downloads\\CoD4",
         true, "Aimbot module"},
        // The game and the system's modules stay clean, an executable in
        // Downloads too: it is the game itself, not an injected DLL.
        {module("iw3mp.exe", "D:\\Games\\CoD4\\iw3mp.exe"), "D:\\Games\\CoD4", false, ""},
        {module("KERNEL32.DLL", "C:\\Windows\\System32\\KERNEL32.DLL"), "D:\\Games\\CoD4", false, ""},
        {module("ws2_32.dll", "C:\\windows\\SysWOW64\\ws2_32.dll"), "D:\\Games\\CoD4", false, ""},
        {module("iw3mp.exe", "C:\\Users\\p\\Downloads\\CoD4\\iw3mp.exe"), "D:\\Games\\CoD4", false, ""},
    };
    for (const Case& c : cases) {
        ModuleInfo m = c.module;
        checkModule(m, c.gameFolder);
        EXPECT_EQ(m.suspicious, c.suspicious) << m.path;
        EXPECT_EQ(m.detection, c.detection) << m.path;
    }
    EXPECT_EQ(cheatProcessName("explorer.exe"), nullptr);
    EXPECT_NE(cheatProcessName("CheatEngine-x86_64.exe"), nullptr);
    EXPECT_NE(cheatProcessName("marvik_test_aimbot.exe"), nullptr);
}

TEST(ModuleInjection, NewPathAnyCaseFiresAndBaselineIsReadWhole) {
    const std::vector<ModuleInfo> base = {module("iw3mp.exe", "C:\\G\\iw3mp.exe"), module("a.dll", "C:\\G\\a.dll")};
    EXPECT_FALSE(hasModuleNotIn({module("A.DLL", "c:\\g\\A.DLL")}, base));
    EXPECT_TRUE(hasModuleNotIn({module("a.dll", "C:\\G\\a.dll"), module("b.dll", "C:\\G\\b.dll")}, base));
    // The same name from another folder is another module.
    EXPECT_TRUE(hasModuleNotIn({module("a.dll", "C:\\Temp\\a.dll")}, base));

    replaceBaselineModules(base);
    EXPECT_EQ(baselineModulesCopy().size(), 2u);
    EXPECT_FALSE(checkModuleInjection({}));
    EXPECT_TRUE(checkModuleInjection({module("b.dll", "C:\\G\\b.dll")}));
    EXPECT_FALSE(checkModuleInjection(base));
    replaceBaselineModules({});
}

TEST(PlayerGUID, PlayersOverMainFirstLineCutAndBounded) {
    const std::string root = test::besideExe("guid_game");
    test::removePath(root);
    const std::string exe = root + "\\iw3mp.exe";
    struct Case {
        const char* players;  // null: no file
        const char* main;
        std::string expected;
    };
    const std::string hundred(100, 'g');
    const Case cases[] = {
        {"players-guid\r\n", "main-guid\r\n", "players-guid"},
        {nullptr, "main-guid\n", "main-guid"},
        {"abc\r\n", nullptr, "abc"},
        {"abc", nullptr, "abc"},
        {"\r\n", "main-guid\n", ""},  // the file in players opens: main is not looked at
        {"", nullptr, ""},
        {nullptr, nullptr, ""},
    };
    auto clear = [&] {
        test::removePath(root + "\\players\\guid.dat");
        test::removePath(root + "\\main\\guid.dat");
        test::removePath(root);
    };
    for (const Case& c : cases) {
        clear();
        if (c.players != nullptr) test::writeFile(root + "\\players\\guid.dat", c.players);
        if (c.main != nullptr) test::writeFile(root + "\\main\\guid.dat", c.main);
        EXPECT_EQ(guidFromImagePath(exe), c.expected) << (c.players ? c.players : "-");
    }
    test::writeFile(root + "\\players\\guid.dat", hundred + "\n");
    EXPECT_EQ(guidFromImagePath(exe), hundred.substr(0, 63));
    test::writeFile(root + "\\players\\guid.dat", std::string("ab\0cd\n", 6));
    EXPECT_EQ(guidFromImagePath(exe), "ab");
    // A forward slash separates the folder too.
    EXPECT_EQ(guidFromImagePath(root + "/iw3mp.exe"), "ab");
    clear();
}

// A candidate is read only by its full path: when players\guid.dat does not
// fit, main\guid.dat is next, and a file at the cut path is never read.
TEST(PlayerGUID, CandidatesThatDoNotFitAreSkippedNotCut) {
    const std::string base = test::besideExe("guid_long");
    struct Case {
        std::size_t folderLength;  // players\guid.dat adds 17 characters, main\guid.dat 14
        std::vector<std::pair<const char*, const char*>> files;  // below the folder, and their text
        std::string expected;
    };
    const Case cases[] = {
        {259 - 17, {{"\\players\\guid.dat", "fits\n"}}, "fits"},
        {260 - 17, {{"\\players\\guid.da", "cut\n"}, {"\\main\\guid.dat", "main-guid\n"}}, "main-guid"},
        {260 - 14, {{"\\players\\gu", "cut\n"}, {"\\main\\guid.da", "cut\n"}}, ""},
    };
    for (const Case& c : cases) {
        const std::string folder = base + "\\" + std::string(c.folderLength - base.size() - 1, 'f');
        for (const auto& file : c.files) {
            ASSERT_LE(folder.size() + std::strlen(file.first), 259u);
            test::writeFile(folder + file.first, file.second);
        }
        EXPECT_EQ(guidFromImagePath(folder + "\\iw3mp.exe"), c.expected) << c.folderLength;
        // Natively the backslashes are part of one file name beside the tests.
        for (const auto& file : c.files) test::removePath(folder + file.first);
        test::removePath(base);
    }
}

MemoryRegion region(std::uint64_t base, std::uint64_t size, std::uint32_t protect, std::uint32_t type,
                    std::uint64_t allocation, bool pe = false) {
    MemoryRegion r;
    r.base = base;
    r.size = size;
    r.allocationBase = allocation;
    r.state = 0x1000;
    r.protect = protect;
    r.type = type;
    r.peHeader = pe;
    return r;
}

constexpr std::uint32_t IMAGE = 0x1000000, MAPPED = 0x40000, PRIVATE = 0x20000;

TEST(MemoryScan, FindsForeignCodeAndMergesItsRanges) {
    MemoryRegion systemView = region(0xD00000, 0x17000, 0x20, MAPPED, 0xD00000, true);
    systemView.systemFile = true;  // a system DLL the system mapped as a plain view
    MemoryRegion systemRwx = region(0xE00000, 0x1000, 0x40, MAPPED, 0xE00000);
    systemRwx.systemFile = true;
    const std::vector<MemoryRegion> regions = {
        region(0x400000, 0x1000, 0x02, IMAGE, 0x400000, true),   // a module's own headers
        region(0x401000, 0x5000, 0x20, IMAGE, 0x400000),         // its code
        region(0x500000, 0x1000, 0x04, PRIVATE, 0x500000, true),  // hand-mapped: headers...
        region(0x501000, 0x3000, 0x20, PRIVATE, 0x500000),        // ...and code, one hit
        region(0x600000, 0x2000, 0x40, PRIVATE, 0x600000),        // RWX
        region(0x700000, 0x1000, 0x20, PRIVATE, 0x700000),        // a trampoline or JIT code: no finding alone
        region(0x800000, 0x1000, 0x20, MAPPED, 0x800000),         // executable view of another file
        region(0x900000, 0x1000, 0x02, MAPPED, 0x900000, true),  // a DLL mapped as data: fine
        region(0xA00000, 0x1000, 0x04, PRIVATE, 0xA00000),        // data
        region(0xB00000, 0x1000, 0x140, PRIVATE, 0xB00000),       // guard page
        region(0xC00000, 0x1000, 0x40, IMAGE, 0xC00000),          // RWX inside an image
        systemView,
        systemRwx,
    };
    const std::vector<MemoryScanHit> hits = classifyRegions(regions);
    std::vector<std::uint32_t> at;
    for (const MemoryScanHit& h : hits) at.push_back(h.address);
    EXPECT_EQ(at, (std::vector<std::uint32_t>{0x500000, 0x600000, 0x800000, 0xC00000}));
    ASSERT_EQ(hits.size(), 4u);
    EXPECT_EQ(hits[0].size, 0x4000u);
    EXPECT_NE(hits[0].description.find("PE image"), std::string::npos);
    EXPECT_NE(hits[1].description.find("writable and executable"), std::string::npos);
    for (const MemoryScanHit& h : hits) EXPECT_LE(h.description.size(), 63u) << h.description;
}

TEST(MemoryScan, AdjacentRegionsOfOtherAllocationsStaySeparateAndSizesClamp) {
    const std::vector<MemoryScanHit> hits = classifyRegions({
        region(0x10000, 0x1000, 0x40, PRIVATE, 0x10000),
        region(0x11000, 0x1000, 0x40, PRIVATE, 0x11000),
        region(0x7FF0F0000000ull, 0x200000000ull, 0x40, PRIVATE, 0x7FF0F0000000ull),
    });
    ASSERT_EQ(hits.size(), 3u);
    EXPECT_EQ(hits[2].size, 0xFFFFFFFFu);
    EXPECT_EQ(hits[2].address, 0xF0000000u);  // the low half of a 64-bit address
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
    const std::vector<std::uint8_t> jmpAbs = {0xFF, 0x25, 0x10, 0x20, 0x85, 0x76};  // jmp [76852010h] on x86
    const std::vector<std::uint8_t> movRax = {0x48, 0xB8, 1, 2, 3, 4, 5, 6, 7, 8, 0xFF, 0xE0};
    const std::vector<std::uint8_t> movR11 = {0x49, 0xBB, 1, 2, 3, 4, 5, 6, 7, 8, 0x41, 0xFF, 0xE3};
    const std::vector<std::uint8_t> pushRet = {0x68, 0x00, 0x10, 0x00, 0x80, 0xC3};  // push 80001000h; ret
    const Case cases[] = {
        {"jmp rel32", X64, 0x1000, {0xE9, 0xFB, 0x0F, 0x00, 0x00}, false, true, false, 0x1000 + 5 + 0xFFB},
        {"jmp rel32", X86, 0x1000, {0xE9, 0xFB, 0x0F, 0x00, 0x00}, false, true, false, 0x1000 + 5 + 0xFFB},
        {"jmp rel32 back", X86, 0x1000, {0xE9, 0xF0, 0xFF, 0xFF, 0xFF}, false, true, false, 0x1000 + 5 - 0x10},
        {"jmp rel32 wraps", X86, 0xFFFFFFF0, {0xE9, 0x20, 0x00, 0x00, 0x00}, false, true, false, 0x15},
        {"jmp rel8", X64, 0x7FF800001000, {0xEB, 0xFE}, false, true, false, 0x7FF800001000},
        {"jmp [rip+disp32]", X64, 0x7FF812340000, jmpAbs, false, true, true, 0x7FF812340000 + 6 + 0x76852010},
        {"jmp [abs32]", X86, 0x75A01230, jmpAbs, false, true, true, 0x76852010},
        {"jmp [rip-disp32]", X64, 0x2000, {0xFF, 0x25, 0xF0, 0xFF, 0xFF, 0xFF}, false, true, true, 0x2000 + 6 - 0x10},
        {"jmp [abs32] high", X86, 0x2000, {0xFF, 0x25, 0xF0, 0xFF, 0xFF, 0xFF}, false, true, true, 0xFFFFFFF0},
        {"mov rax; jmp rax", X64, 0, movRax, false, true, false, 0x0807060504030201},
        {"dec eax; mov eax", X86, 0, movRax, false, false, false, 0},
        {"mov r11; jmp r11", X64, 0, movR11, false, true, false, 0x0807060504030201},
        {"dec ecx; mov ebx", X86, 0, movR11, false, false, false, 0},
        {"push; ret", X64, 0, pushRet, false, true, false, 0xFFFFFFFF80001000},
        {"push; ret", X86, 0, pushRet, false, true, false, 0x80001000},
        {"call rel32", X86, 0x1000, {0xE8, 0xFB, 0x0F, 0x00, 0x00}, false, true, false, 0x1000 + 5 + 0xFFB},
        {"mov eax; jmp eax", X86, 0, {0xB8, 0x00, 0x10, 0x00, 0x80, 0xFF, 0xE0}, false, true, false, 0x80001000},
        {"mov eax; jmp rax", X64, 0, {0xB8, 0x00, 0x10, 0x00, 0x80, 0xFF, 0xE0}, false, true, false, 0x80001000},
        {"int3", X64, 0, {0xCC}, true, false, false, 0},
        {"int3", X86, 0, {0xCC}, true, false, false, 0},
        {"sub rsp; mov rax", X64, 0, {0x48, 0x83, 0xEC, 0x28, 0x48, 0x8B, 0x05}, false, false, false, 0},
        {"mov edi, edi; push ebp", X86, 0, {0x8B, 0xFF, 0x55, 0x8B, 0xEC}, false, false, false, 0},
    };
    for (const Case& c : cases) {
        std::uint8_t bytes[16] = {};
        std::memcpy(bytes, c.bytes.data(), c.bytes.size());
        const Prologue p = decodePrologue(bytes, sizeof bytes, c.address, c.width);
        const std::string label = std::string(c.what) + (c.width == X86 ? " (x86)" : " (x64)");
        EXPECT_EQ(p.breakpoint, c.breakpoint) << label;
        EXPECT_EQ(p.jumps, c.jumps) << label;
        EXPECT_EQ(p.indirect, c.indirect) << label;
        EXPECT_EQ(p.target, c.target) << label;
        // Too few bytes to judge.
        EXPECT_FALSE(decodePrologue(bytes, 15, c.address, c.width).jumps) << label;
    }
}

TEST(IntegrityFlags, IndicatorIBitIAndTheAlert) {
    IntegrityIndicators r;
    EXPECT_EQ(integrityFlagsByte(r), 0);
    EXPECT_FALSE(integrityAlert(r));
    r.hardwareBreakpoints = true;
    r.apiHooked = true;
    EXPECT_EQ(integrityFlagsByte(r), 0x0A);
    EXPECT_TRUE(integrityAlert(r));
    r = IntegrityIndicators{};
    r.reserved7 = true;
    EXPECT_EQ(integrityFlagsByte(r), 0x80);
    EXPECT_FALSE(integrityAlert(r));
}

TEST(SelfIntegrity, OnlyTwoKnownDifferentValuesAreAChange) {
    struct Case {
        std::uint32_t initial, current;
        bool changed;
    };
    const Case cases[] = {
        {0x1234ABCD, 0x1234ABCD, false},  // unchanged
        {0x1234ABCD, 0x1234ABCE, true},   // changed
        {0x1234ABCD, 0, false},           // the file cannot be read now
        {0, 0x1234ABCD, false},           // nor could it at session start
        {0, 0, false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(selfIntegrityChanged(c.initial, c.current), c.changed) << std::hex << c.initial << " " << c.current;
}

}  // namespace
}  // namespace marvik
