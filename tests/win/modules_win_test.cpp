// The module inventory against the system's own enumeration, on real
// stand-in games of both widths with the system DLLs a Direct3D game loads:
// the same modules in the same order with the same names and sizes, and
// each module's file the one actually mapped there.
#include <windows.h>
#include <psapi.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "inventory/file_digests.h"
#include "inventory/hash.h"
#include "checks/checks.h"
#include "inventory/modules.h"
#include "support/files.h"
#include "support/standin_game.h"

namespace marvik {
namespace {

const char* const GAME_DLLS[] = {
    "d3d9",     "d3dx9_36", "dinput8",  "dsound",   "winmm",    "ws2_32",    "wininet",    "opengl32", "imm32",
    "version",  "shell32",  "ole32",    "oleaut32", "setupapi", "dbghelp",   "mswsock",    "iphlpapi", "xinput1_3",
    "d3d8",     "ddraw",    "dxgi",     "d3d10",    "d3d11",    "msacm32",   "comctl32",   "comdlg32", "crypt32",
    "secur32",  "wintrust", "usp10",    "uxtheme",  "winhttp",  "urlmon",    "shlwapi",    "dwmapi",   "hid",
    "powrprof", "psapi",    "xaudio2_7", "x3daudio1_7", "d3dcompiler_43", "d3dx10_43", "mfplat", "avrt", "dnsapi",
    "netapi32", "userenv",  "wtsapi32", "cfgmgr32", "msimg32",  "gdiplus",
};

// The stand-in loading them all.
std::string withGameDlls(const std::string& extra = "") {
    std::string args;
    for (const char* dll : GAME_DLLS) args += std::string(" --load ") + dll + ".dll";
    return args + " " + extra;
}

// What the system's per-module calls report.
struct Reported {
    std::string name, path;
    std::uint32_t size;
    std::uint64_t base;
};
std::vector<Reported> systemModules(DWORD pid) {
    std::vector<Reported> out;
    HANDLE p = OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, pid);
    if (p == nullptr) return out;
    HMODULE handles[1024];
    DWORD bytes = 0;
    if (K32EnumProcessModulesEx(p, handles, sizeof handles, &bytes, LIST_MODULES_ALL)) {
        for (DWORD i = 0; i < bytes / sizeof(HMODULE) && i < 1024; ++i) {
            char path[MAX_PATH] = {}, name[MAX_PATH] = {};
            MODULEINFO info = {};
            if (K32GetModuleFileNameExA(p, handles[i], path, MAX_PATH) == 0) continue;
            K32GetModuleBaseNameA(p, handles[i], name, MAX_PATH);
            K32GetModuleInformation(p, handles[i], &info, sizeof info);
            out.push_back({name, path, static_cast<std::uint32_t>(info.SizeOfImage),
                           reinterpret_cast<std::uint64_t>(handles[i])});
        }
    }
    CloseHandle(p);
    return out;
}

// The machine and link time in a PE header, from a file or from memory.
struct Stamp {
    std::uint16_t machine = 0;
    std::uint32_t timeDate = 0;
};
Stamp stampOf(const std::uint8_t* head, std::size_t n) {
    Stamp s;
    if (n < 0x40) return s;
    std::uint32_t pe = *reinterpret_cast<const std::uint32_t*>(head + 0x3C);
    if (pe + 12 > n) return s;
    s.machine = *reinterpret_cast<const std::uint16_t*>(head + pe + 4);
    s.timeDate = *reinterpret_cast<const std::uint32_t*>(head + pe + 8);
    return s;
}
Stamp fileStampOf(const std::string& path) {
    const std::string head = test::readFile(path).substr(0, 0x1000);
    return stampOf(reinterpret_cast<const std::uint8_t*>(head.data()), head.size());
}
Stamp memoryStampOf(DWORD pid, std::uint64_t base) {
    std::uint8_t head[0x1000] = {};
    SIZE_T got = 0;
    HANDLE p = OpenProcess(PROCESS_VM_READ, FALSE, pid);
    ReadProcessMemory(p, reinterpret_cast<void*>(base), head, sizeof head, &got);
    CloseHandle(p);
    return stampOf(head, got);
}

void expectSameAsTheSystem(bool thirtyTwo) {
    const std::string image = test::standinExe(thirtyTwo);
    ASSERT_TRUE(test::fileExists(image)) << image << " is not built (build the win32 preset first)";
    test::StandinGame game(withGameDlls(), "iw3mp.exe", image);
    ASSERT_NE(game.pi.hProcess, nullptr);
    const DWORD pid = game.pid();
    const std::vector<Reported> reported = systemModules(pid);
    const std::vector<ModuleInfo> listed = scanProcessModules(pid);
    ASSERT_GE(reported.size(), 60u);
    ASSERT_EQ(listed.size(), reported.size());
    const std::uint16_t machine = thirtyTwo ? 0x14C : 0x8664;
    int redirected = 0;
    for (std::size_t i = 0; i < listed.size(); ++i) {
        SCOPED_TRACE(reported[i].path);
        EXPECT_EQ(listed[i].name, reported[i].name);
        EXPECT_EQ(listed[i].size, reported[i].size);
        // The file named is the one mapped there: of the game's width, built
        // at the same time as the image in memory, and hashed as it is.
        const Stamp file = fileStampOf(listed[i].path);
        EXPECT_EQ(file.machine, machine);
        EXPECT_EQ(file.timeDate, memoryStampOf(pid, reported[i].base).timeDate);
        EXPECT_EQ(listed[i].crc32, fileCRC32(listed[i].path));
        EXPECT_EQ(listed[i].md5, fileMD5(listed[i].path));
        if (_stricmp(listed[i].path.c_str(), reported[i].path.c_str()) != 0) {
            // Only a 32-bit game's system DLLs, named from the 32-bit folder.
            EXPECT_TRUE(thirtyTwo);
            EXPECT_NE(listed[i].path.find("\\syswow64\\"), std::string::npos);
            EXPECT_NE(reported[i].path.find("\\system32\\"), std::string::npos);
            ++redirected;
        }
    }
    if (thirtyTwo) {
        EXPECT_GE(redirected, 50);
    }

    // A second scan reads no file again and gives the same list.
    const std::uint64_t reads = fileDigestReads();
    const std::vector<ModuleInfo> again = scanProcessModules(pid);
    EXPECT_EQ(fileDigestReads(), reads);
    ASSERT_EQ(again.size(), listed.size());
    for (std::size_t i = 0; i < again.size(); ++i) {
        EXPECT_EQ(again[i].path, listed[i].path);
        EXPECT_EQ(again[i].crc32, listed[i].crc32);
    }
}

TEST(ModuleInventory, SameAsTheSystemForAGameOfThisWidth) { expectSameAsTheSystem(sizeof(void*) == 4); }

#ifdef _WIN64
// The i686 build's own game is 32-bit already: the test above is this one there.
TEST(ModuleInventory, ThirtyTwoBitGameIsNamedAndHashedFromItsOwnSystemFolder) { expectSameAsTheSystem(true); }
#endif

// Scans while the game loads and frees DLLs without pause, at both widths:
// every module loaded before the churn began is in every scan, in the
// system's order, and whatever else a scan lists (a DLL caught between load
// and unload) is named and hashed from the file it really is. A walk that
// followed a freed entry would lose modules, repeat them or hang.
TEST(ModuleInventory, ScansWhileModulesLoadAndUnload) {
    for (bool thirtyTwo : {false, true}) {
        SCOPED_TRACE(thirtyTwo ? "32-bit game" : "64-bit game");
        const std::string image = test::standinExe(thirtyTwo);
        if (!test::fileExists(image)) FAIL() << image << " is not built";
        test::StandinGame game(withGameDlls(), "iw3mp.exe", image);
        ASSERT_NE(game.pi.hProcess, nullptr);
        std::vector<std::string> stable;
        for (const Reported& r : systemModules(game.pid())) stable.push_back(r.path);
        ASSERT_GE(stable.size(), 60u);
        game.command("churn");
        std::size_t extras = 0;
        for (int scan = 0; scan < 30; ++scan) {
            const std::vector<ModuleInfo> listed = scanProcessModules(game.pid());
            std::size_t next = 0;  // the next stable module expected
            for (const ModuleInfo& m : listed) {
                SCOPED_TRACE(m.path);
                std::string systemPath = m.path;  // as the system names a 32-bit system DLL
                const std::size_t wow = systemPath.find("\\syswow64\\");
                if (wow != std::string::npos) systemPath.replace(wow, 10, "\\system32\\");
                if (next < stable.size() &&
                    (_stricmp(systemPath.c_str(), stable[next].c_str()) == 0 ||
                     _stricmp(m.path.c_str(), stable[next].c_str()) == 0)) {
                    ++next;
                    continue;
                }
                ++extras;
                EXPECT_FALSE(m.name.empty());
                EXPECT_EQ(m.crc32, fileCRC32(m.path));
            }
            EXPECT_EQ(next, stable.size()) << "scan " << scan << " lost a module that stayed loaded";
        }
        EXPECT_GT(extras, 0u) << "no scan met a churned DLL: the test proves nothing";
    }
}

// The memory check on games of both widths: silent on a clean one (a 32-bit
// game's address space holds views of system files that are not mapped as
// images), and a hand-mapped module and writable code still found.
TEST(ModuleInventory, MemoryOfCleanAndPreparedGamesOfBothWidths) {
    // This process too: the client's own code pages are images.
    for (const MemoryScanHit& h : scanProcessMemory(GetCurrentProcessId()))
        ADD_FAILURE() << std::hex << h.address << " " << h.description;
    for (bool thirtyTwo : {false, true}) {
        SCOPED_TRACE(thirtyTwo ? "32-bit game" : "64-bit game");
        const std::string image = test::standinExe(thirtyTwo);
        if (!test::fileExists(image)) FAIL() << image << " is not built";
        {
            test::StandinGame clean(withGameDlls(), "iw3mp.exe", image);
            const std::vector<MemoryScanHit> hits = scanProcessMemory(clean.pid());
            for (const MemoryScanHit& h : hits) ADD_FAILURE() << std::hex << h.address << " " << h.description;
        }
        test::StandinGame prepared(withGameDlls("--rwx-pe --rwx"), "iw3mp.exe", image);
        const std::vector<MemoryScanHit> hits = scanProcessMemory(prepared.pid());
        ASSERT_EQ(hits.size(), 2u);
        EXPECT_NE(hits[0].description.find("PE image"), std::string::npos);
        EXPECT_NE(hits[1].description.find("writable and executable"), std::string::npos);
    }
}

}  // namespace
}  // namespace marvik
