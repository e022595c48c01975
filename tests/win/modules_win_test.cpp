// The module inventory against the system's own enumeration, and the memory
// check, on real stand-in games of both widths.
#include <windows.h>
#include <psapi.h>

#include <gtest/gtest.h>

#include <cstring>
#include <sstream>
#include <string>
#include <vector>

#include "checks/checks.h"
#include "inventory/hash.h"
#include "checks/checks_windows.h"
#include "support/files.h"
#include "support/standin_game.h"

namespace marvik {
namespace {

// The stand-in loading the system DLLs a Direct3D game loads.
std::string withGameDlls(const std::string& extra = "") {
    std::istringstream names(
        "d3d9 d3dx9_36 dinput8 dsound winmm ws2_32 wininet opengl32 imm32 version shell32 ole32 oleaut32 setupapi "
        "dbghelp mswsock iphlpapi xinput1_3 d3d8 ddraw dxgi d3d10 d3d11 msacm32 comctl32 comdlg32 crypt32 secur32 "
        "wintrust usp10 uxtheme winhttp urlmon shlwapi dwmapi hid powrprof psapi xaudio2_7 x3daudio1_7 "
        "d3dcompiler_43 d3dx10_43 mfplat avrt dnsapi netapi32 userenv wtsapi32 cfgmgr32 msimg32 gdiplus");
    std::string args, dll;
    while (names >> dll) args += " --load " + dll + ".dll";
    return args + " " + extra;
}

// The machine a PE file is built for.
std::uint16_t machineOf(const std::string& path) {
    const std::string head = test::readFile(path).substr(0, 0x1000);
    std::uint32_t pe = 0;
    std::uint16_t machine = 0;
    if (head.size() >= 0x40) std::memcpy(&pe, head.data() + 0x3C, 4);
    if (pe != 0 && pe + 6 <= head.size()) std::memcpy(&machine, head.data() + pe + 4, 2);
    return machine;
}

// What the system's per-module calls report.
struct Reported {
    std::string name, path;
    std::uint32_t size;
};
std::vector<Reported> systemModules(DWORD pid) {
    std::vector<Reported> out;
    HANDLE p = OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, pid);
    HMODULE handles[1024];
    DWORD bytes = 0;
    if (p == nullptr || !K32EnumProcessModulesEx(p, handles, sizeof handles, &bytes, LIST_MODULES_ALL)) return out;
    for (DWORD i = 0; i < bytes / sizeof(HMODULE) && i < 1024; ++i) {
        char path[MAX_PATH] = {}, name[MAX_PATH] = {};
        MODULEINFO info = {};
        if (K32GetModuleFileNameExA(p, handles[i], path, MAX_PATH) == 0) continue;
        K32GetModuleBaseNameA(p, handles[i], name, MAX_PATH);
        K32GetModuleInformation(p, handles[i], &info, sizeof info);
        out.push_back({name, path, static_cast<std::uint32_t>(info.SizeOfImage)});
    }
    CloseHandle(p);
    return out;
}

// A path as the system names it: a 32-bit game's system DLLs from system32.
std::string systemName(std::string path) {
    const std::size_t wow = path.find("\\syswow64\\");
    if (wow != std::string::npos) path.replace(wow, 10, "\\system32\\");
    return path;
}

// The inventory of a game with the DLLs a Direct3D game loads, then of the
// same game while it loads and frees DLLs without pause: every module loaded
// before the churn began is in every scan, in the system's order, and
// whatever else a scan lists (a DLL caught between load and unload) is named
// and hashed from the file it really is. A walk that followed a freed entry
// would lose modules, repeat them or hang. A 32-bit game's system DLLs are
// named and hashed from its own system folder.
TEST(ModuleInventory, SameAsTheSystemAlsoWhileModulesChurnAtEachWidth) {
    for (bool thirtyTwo : test::standinWidths()) {
        SCOPED_TRACE(thirtyTwo ? "32-bit game" : "64-bit game");
        const std::string image = test::standinExe(thirtyTwo);
        ASSERT_TRUE(test::fileExists(image)) << image << " is not built (build the win32 preset first)";
        test::StandinGame game(withGameDlls(), "iw3mp.exe", image);
        const std::vector<Reported> reported = systemModules(game.pid());
        const std::vector<ModuleInfo> listed = scanProcessModules(game.pid());
        ASSERT_GE(reported.size(), 60u);
        ASSERT_EQ(listed.size(), reported.size());
        int redirected = 0;
        for (std::size_t i = 0; i < listed.size(); ++i) {
            SCOPED_TRACE(reported[i].path);
            EXPECT_EQ(listed[i].name, reported[i].name);
            EXPECT_EQ(listed[i].size, reported[i].size);
            // The file named is the one mapped there, of the game's width, and
            // hashed as it is.
            EXPECT_EQ(machineOf(listed[i].path), thirtyTwo ? 0x14C : 0x8664);
            EXPECT_EQ(listed[i].crc32, fileCRC32(listed[i].path));
            EXPECT_EQ(listed[i].md5, fileMD5(listed[i].path));
            EXPECT_EQ(_stricmp(systemName(listed[i].path).c_str(), reported[i].path.c_str()), 0) << listed[i].path;
            redirected += listed[i].path != systemName(listed[i].path);
        }
        EXPECT_TRUE(thirtyTwo ? redirected >= 50 : redirected == 0) << redirected;

        game.command("churn");
        std::size_t extras = 0;
        for (int scan = 0; scan < 30; ++scan) {
            std::size_t next = 0;  // the next module expected of those loaded before
            for (const ModuleInfo& m : scanProcessModules(game.pid())) {
                if (next < reported.size() && _stricmp(systemName(m.path).c_str(), reported[next].path.c_str()) == 0) {
                    ++next;
                    continue;
                }
                ++extras;
                EXPECT_FALSE(m.name.empty()) << m.path;
                EXPECT_EQ(m.crc32, fileCRC32(m.path)) << m.path;
            }
            EXPECT_EQ(next, reported.size()) << "scan " << scan << " lost a module that stayed loaded";
        }
        EXPECT_GT(extras, 0u) << "no scan met a churned DLL: the test proves nothing";
    }
}

std::string describe(const std::vector<MemoryScanHit>& hits) {
    std::string text;
    for (const MemoryScanHit& h : hits) text += h.description + "\n";
    return text;
}

// The memory check on games of both widths: silent on a clean one with the
// DLLs a Direct3D game loads and DLLs mapped for their resources only (a
// 32-bit game's address space also holds views of system files that are not
// mapped as images); each fixture of a prepared one found once.
TEST(MemoryScanWin32, CleanGameSilentAndEachFixtureFoundAtBothWidths) {
    for (bool thirtyTwo : test::standinWidths()) {
        SCOPED_TRACE(thirtyTwo ? "32-bit game" : "64-bit game");
        const std::string image = test::standinExe(thirtyTwo);
        {
            test::StandinGame clean(withGameDlls("--resource-loads"), "iw3mp.exe", image);
            EXPECT_EQ(describe(scanProcessMemory(clean.pid())), "");
        }
        // --rwx holds three bytes of code and nothing a module brings:
        // read-write-execute alone is no finding.
        test::StandinGame game("--rwx-pe --rwx --unlink version.dll --spoof-path msimg32.dll --hand-map --map-rx "
                               "--map-rwx",
                               "iw3mp.exe", image);
        const std::vector<MemoryScanHit> hits = scanProcessMemory(game.pid());
        const std::vector<std::string> expected = {"PE image", "Module path mismatch version.dll maps msimg32.dll",
                                                   "Unlinked module version.dll 0x", "Headerless image",
                                                   "Foreign code: ", "Foreign code: "};
        ASSERT_EQ(hits.size(), expected.size()) << describe(hits);
        for (std::size_t i = 0; i < hits.size(); ++i)
            EXPECT_EQ(hits[i].description.rfind(expected[i], 0), 0u) << describe(hits);
    }
}

}  // namespace
}  // namespace marvik
