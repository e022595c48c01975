#include <gtest/gtest.h>

#include <cstring>
#include <optional>
#include <string>
#include <tuple>
#include <vector>

#include "checks/checks.h"
#include "checks/game_threads.h"
#include "checks/memory_scan.h"
#include "checks/trust.h"
#include "checks/x86_decode.h"
#include "inventory/guid.h"
#include "support/fake_memory.h"
#include "support/files.h"
#include "support/report_samples.h"

namespace marvik {
namespace {

using namespace test;

// Named by MD5, else by name ('?' one character, '*' after a false start); DLLs in odd folders unnamed.
TEST(ModuleCheck, LabelsByMD5ThenNameAndFlagsUnusualFoldersWithoutLabel) {
    const char* const downloads = "C:\\Users\\p\\Downloads\\CoD4";
    // path, MD5, game folder, suspicious, detection
    const std::tuple<const char*, const char*, const char*, bool, std::string> cases[] = {
        {"C:\\Game\\CoD4_WallHack.dll", "00000000000000000000000000000000", "C:\\Game", true, "Wallhack module"},
        {"C:\\Game\\wallwallhack.DLL", "", "C:\\Game", true, "Wallhack module"},
        {"C:\\Game\\notes.dll", "B525A69694BFB01741D0411EBEB90E79", "C:\\Game", true,
         "Marvik test signature (harmless)"},
        {"C:\\Game\\cod_esp_hook.dll", "", "C:\\Game", true, "ESP overlay hook"},
        {"C:\\Users\\p\\AppData\\Local\\Temp\\x.dll", "", "D:\\Games\\CoD4", true, ""},
        // The game unpacked under Downloads: its own DLLs (its Miles sound system) and executable.
        {"c:/users/p/downloads/cod4/miles/m.dll", "", downloads, false, ""},
        {"C:\\Users\\p\\Downloads\\CoD4\\iw3mp.exe", "", "D:\\Games\\CoD4", false, ""},
    };
    for (const auto& [path, md5, gameFolder, suspicious, detection] : cases) {
        ModuleInfo m = module(path);
        m.md5 = md5;
        checkModule(m, gameFolder);
        EXPECT_EQ(std::make_pair(m.suspicious, m.detection), std::make_pair(suspicious, detection)) << path;
    }
}

// A new path fires; a module the loader lists in another case does not.
TEST(ModuleInjection, NewPathFiresInAnyCase) {
    const std::vector<ModuleInfo> base = {module("C:\\G\\iw3mp.exe"), module("C:\\G\\a.dll")};
    EXPECT_FALSE(hasModuleNotIn({module("c:\\g\\A.DLL")}, base));
    EXPECT_TRUE(hasModuleNotIn({base[1], module("C:\\Temp\\a.dll")}, base));  // the same name, another module
}

// The first line of players\guid.dat, else of main\guid.dat, cut at 63 characters.
TEST(PlayerGUID, PlayersOverMainFirstLineCut) {
    const std::string folder = besideExe("guid_game");
    const std::string hundred(100, 'g');
    // players, main (none: no file), the GUID
    const std::tuple<std::optional<std::string>, std::optional<std::string>, std::string> cases[] = {
        {"players-guid\r\n", "main-guid\r\n", "players-guid"},
        {{}, "main-guid\n", "main-guid"},
        {hundred + "\n", {}, hundred.substr(0, 63)},
    };
    for (const auto& [players, main, expected] : cases) {
        for (const auto& [sub, text] : {std::make_pair("players", players), std::make_pair("main", main)}) {
            removePath(folder + "\\" + sub + "\\guid.dat");
            if (text) writeFile(folder + "\\" + sub + "\\guid.dat", *text);
        }
        // The folder ends at either separator; natively only '/' is one.
        EXPECT_EQ(guidFromImagePath(folder + "/iw3mp.exe"), expected);
    }
    removePath(folder);
}

// A region that starts with PE headers, a view of a Windows file if so told.
MemoryRegion headed(MemoryRegion r, bool systemFile = false) {
    r.peHeader = true, r.systemFile = systemFile;
    return r;
}

// Protection alone is no finding outside images (trampolines, JIT); headers are, with what follows.
TEST(MemoryScan, FindsForeignCodeAndMergesItsRanges) {
    const std::vector<MemoryScanHit> hits = classifyRegions({
        region(0x10000, 0x1000, RWX, PRIVATE),               // RWX: the content decides (findForeignCode)
        headed(region(0x500000, 0x1000, RW, PRIVATE)),       // hand-mapped: headers...
        region(0x501000, 0x3000, RX, PRIVATE, 0x500000),     // ...and code, one hit
        headed(region(0x510000, 0x1000, R, PRIVATE)),        // headers again: another allocation
        region(0x800000, 0x1000, RX, MAPPED),                // executable view of another file
        region(0xB00000, 0x1000, 0x140, PRIVATE),            // guard page
        region(0xC00000, 0x1000, RWX, IMAGE),                // RWX inside an image
        headed(region(0xE00000, 0x1000, RX, MAPPED), true),  // a system file's view
        headed(region(0x7FF0F0000000ull, 0x200000000ull, RW, PRIVATE)),  // by its low half
    });
    std::vector<std::pair<std::uint32_t, std::uint32_t>> at;
    for (const MemoryScanHit& h : hits) at.emplace_back(h.address, h.size);
    EXPECT_EQ(at, (std::vector<std::pair<std::uint32_t, std::uint32_t>>{
                      {0x500000, 0x4000}, {0x510000, 0x1000}, {0xC00000, 0x1000}, {0xF0000000, 0xFFFFFFFF}}));
}

// The same bytes as x86 and x64 code: REX prefixes are x64's only; FF 25 is absolute on x86.
TEST(Prologue, EachEntryDecodedByItsWidth) {
    constexpr CodeWidth X86 = CodeWidth::X86, X64 = CodeWidth::X64;
    // width, address, bytes, then what is decoded: breakpoint, jumps, indirect, target
    using Bytes = std::vector<std::uint8_t>;
    using Case = std::tuple<CodeWidth, std::uint64_t, Bytes, bool, bool, bool, std::uint64_t>;
    const Bytes movRax = {0x48, 0xB8, 1, 2, 3, 4, 5, 6, 7, 8, 0xFF, 0xE0};
    const Bytes movR11 = {0x49, 0xBB, 1, 2, 3, 4, 5, 6, 7, 8, 0x41, 0xFF, 0xE3};
    const Case cases[] = {
        {X86, 0xFFFFFFF0, {0xE9, 0x20, 0x00, 0x00, 0x00}, false, true, false, 0x15},  // jmp rel32 wraps
        {X86, 0x2000, {0xFF, 0x25, 0xF0, 0xFF, 0xFF, 0xFF}, false, true, true, 0xFFFFFFF0},
        {X64, 0, movRax, false, true, false, 0x0807060504030201},
        {X86, 0, movRax, false, false, false, 0},  // dec eax; mov eax
        {X64, 0, movR11, false, true, false, 0x0807060504030201},
        {X86, 0, {0xCC}, true, false, false, 0},
        {X64, 0, {0x48, 0x83, 0xEC, 0x28, 0x48, 0x8B, 0x05}, false, false, false, 0},  // sub rsp; mov rax
    };
    for (const auto& [width, address, code, breakpoint, jumps, indirect, target] : cases) {
        std::uint8_t bytes[16] = {};
        std::memcpy(bytes, code.data(), code.size());
        const Prologue p = decodePrologue(bytes, sizeof bytes, address, width);
        EXPECT_EQ(std::make_tuple(p.breakpoint, p.jumps, p.indirect, p.target),
                  std::make_tuple(breakpoint, jumps, indirect, target)) << std::hex << address << +code[0];
        EXPECT_FALSE(decodePrologue(bytes, 15, address, width).jumps) << "too few bytes to judge";
    }
}

// WOW64's answer is the 32-bit block on Windows, only 1 on Wine; gflags.exe's other global flags are no debugger.
TEST(DebuggerCheck, ReadsTheGamesOwnBlockWhateverTheWow64AnswerGives) {
    constexpr std::uint64_t NATIVE_PEB = 0x7FFDF000, WINDOWS_PEB32 = 0x7EFDE000;
    // width, the WOW64 answer (0: a 64-bit game), BeingDebugged, NtGlobalFlag, debugged
    const std::tuple<int, std::uint64_t, std::uint8_t, std::uint32_t, bool> cases[] = {
        {4, WINDOWS_PEB32, 1, 0, true},
        {4, 1, 1, 0, true},
        {4, 1, 0, 0x70, true},  // heap debug flags
        {4, 1, 0, 0x400 | 0x20, false},
        {8, 0, 0, 0x70, true},
    };
    for (const auto& [width, answer, beingDebugged, globalFlags, debugged] : cases) {
        FakeMemory memory;
        memory.pieces[NATIVE_PEB].assign(0x2000, 0);  // the 64-bit block and the page after it
        memory.pieces[WINDOWS_PEB32].assign(0x1000, 0);
        const std::uint64_t own = width == 8 ? NATIVE_PEB : answer == 1 ? NATIVE_PEB + 0x1000 : answer;
        memory.pointer(own + (width == 8 ? 0x18 : 0x0C), width, 0x00A01000);  // PEB.Ldr
        *memory.at(own + 2, 1) = beingDebugged;
        storeLe32(memory.at(own + (width == 8 ? 0xBC : 0x68), 4), globalFlags);
        const ReadMemory read = memory.reader();
        const std::uint64_t found = width == 8 ? NATIVE_PEB : wow64Peb(read, answer, NATIVE_PEB);
        EXPECT_EQ(found, own) << std::hex << answer;
        EXPECT_EQ(pebShowsDebugger(read, found, width), debugged) << std::hex << answer << " " << globalFlags;
    }
}

// A file that could not be read (0) at session start or now tells nothing.
TEST(SelfIntegrity, AnUnreadFileIsNoChange) {
    EXPECT_FALSE(selfIntegrityChanged(0x1234ABCD, 0));
    EXPECT_FALSE(selfIntegrityChanged(0, 0x1234ABCD));
}

// A 32-bit game's map as Wine shows it.
const std::vector<MemoryRegion> MAP = {
    region(0x00010000, 0x1000, RW, PRIVATE),               // read-write data
    headed(region(0x00250000, 0x2000, RX, MAPPED), true),  // Wine's wow64cpu, a system file's view
    region(0x00300000, 0x10000, RX, PRIVATE),              // trampolines or JIT code
    region(0x00310000, 0x1000, RWX, PRIVATE),
    region(0x00320000, 0x1000, 0x120, PRIVATE),            // guard | execute-read
    region(0x00330000, 0x10000, 0x01, PRIVATE, 0, RESERVE),
    region(0x00401000, 0x200000, RX, IMAGE),               // iw3mp.exe code
    region(0x00700000, 0x4000, RX, MAPPED),                // an executable view of someone's file
};

TEST(GameThreads, UnownedCodeIsExecutableMemoryNoImageOrSystemViewHolds) {
    const std::pair<std::uint64_t, bool> cases[] = {
        {0x00300000, true},  {0x00310800, true},  {0x00700010, true},  {0x00401234, false},
        {0x00250100, false}, {0x00010000, false}, {0x00320000, false}, {0x00335000, false},
    };
    for (const auto& [address, unowned] : cases) EXPECT_EQ(inUnownedCode(MAP, address), unowned) << std::hex << address;
}

TEST(GameThreads, Dr7EnablesEachRegisterByItsLocalOrGlobalBit) {
    const std::pair<DebugRegisters, bool> cases[] = {
        {{{0x1000, 0, 0, 0}, 0x2}, true},                  // G0
        {{{0, 0, 0, 0x2000}, 0x40}, true},                 // L3
        {{{0x1000, 0, 0, 0}, 0x4}, false},                 // DR1 enabled, empty; DR0 not enabled
        {{{0x1000, 0, 0, 0}, 0x400 | 0x300}, false},       // reserved bit 10 and LE/GE alone
        {{{0x1000, 0, 0, 0}, 0xFFFF0000}, false},          // conditions and lengths alone
    };
    for (const auto& [registers, armed] : cases)
        EXPECT_EQ(hardwareBreakpointArmed(registers), armed) << std::hex << registers.control;
}

TEST(Trust, SystemModuleIsAFileDirectlyInTheFolder) {
    const std::tuple<const char*, const char*, bool> cases[] = {  // path, folder, directly in it
        {"C:\\Windows\\System32\\d3d9.dll", "C:\\Windows\\System32", true},
        {"c:\\windows\\SYSTEM32\\D3D9.DLL", "C:\\Windows\\System32", true},
        {"C:\\Windows\\SysWOW64\\d3d9.dll", "C:\\Windows\\SysWOW64\\", true},
        // Subfolders some of which any user may write to.
        {"C:\\Windows\\System32\\spool\\drivers\\color\\hook.dll", "C:\\Windows\\System32", false},
        {"C:\\Windows\\System32\\..\\Temp\\hook.dll", "C:\\Windows\\System32", false},
        {"C:\\Windows\\System32x\\hook.dll", "C:\\Windows\\System32", false},
        {"\\d3d9.dll", "", false},  // no 32-bit twin on a 32-bit system
    };
    for (const auto& [path, folder, in] : cases)
        EXPECT_EQ(directlyInFolder(path, folder), in) << path << " in " << folder;
}

TEST(Trust, DecidedBySystemFolderOrAValidSignatureWhoseSignerIsKept) {
    // An overlay's DLL signed by its maker; a system file signed through Windows' catalogs.
    const SignatureCheck none, vendor{true, "Overlay Vendor"}, windows{true, "Microsoft Windows"};
    const SignatureCheck broken{false, "Overlay Vendor"};  // a signature that did not verify names no one
    // in the system folder, embedded and catalog signatures; trusted, signed, signer
    const std::tuple<bool, SignatureCheck, SignatureCheck, bool, bool, std::string> cases[] = {
        {true, none, none, true, false, ""},
        {false, vendor, none, true, true, "Overlay Vendor"},
        {false, none, windows, true, true, "Microsoft Windows"},
        {false, broken, windows, true, true, "Microsoft Windows"},
        {false, broken, none, false, false, ""},
    };
    for (const auto& [system, embedded, catalog, trusted, signedValid, signer] : cases) {
        const ModuleTrust t = decideTrust(system, embedded, catalog);
        EXPECT_EQ(std::make_tuple(t.trusted, t.signedValid, t.signer), std::tie(trusted, signedValid, signer));
    }
}

}  // namespace
}  // namespace marvik
