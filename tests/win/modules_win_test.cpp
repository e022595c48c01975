// The module walk and the loader-list checks on real stand-in games
// (tools/standin_game) of both widths, which only a real loader shows.
#include <windows.h>

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "checks/checks.h"
#include "checks/checks_windows.h"
#include "checks/text_match.h"
#include "support/files.h"

namespace marvik {
namespace {

// The stand-in copied as iw3mp.exe into a fresh folder and started; killed
// and removed at the end. thirtyTwo: the i686 build's, also from the x86-64 build.
struct StandinGame {
    std::string folder = test::besideExe("game_") + std::to_string(GetTickCount()), exe = folder + "\\iw3mp.exe";
    PROCESS_INFORMATION pi{};

    StandinGame(bool thirtyTwo, std::string args) {
        const char* built = thirtyTwo && sizeof(void*) == 8 ? "..\\..\\win32\\tools\\standin_game\\standin_game.exe"
                                                             : "..\\tools\\standin_game\\standin_game.exe";
        CreateDirectoryA(folder.c_str(), nullptr);
        CopyFileA(test::besideExe(built).c_str(), exe.c_str(), FALSE);
        args = "\"" + exe + "\" " + args;
        STARTUPINFOA si{};
        si.cb = sizeof si;
        CreateProcessA(nullptr, &args[0], nullptr, nullptr, FALSE, 0, nullptr, folder.c_str(), &si, &pi);
        // Loading many DLLs under Wine takes a few seconds.
        for (int i = 0; i < 200 && pi.hProcess != nullptr && !test::fileExists(exe + ".ready"); ++i) Sleep(50);
    }
    ~StandinGame() {
        TerminateProcess(pi.hProcess, 0);
        WaitForSingleObject(pi.hProcess, 5000);
        CloseHandle(pi.hProcess);
        CloseHandle(pi.hThread);
        test::removePath(folder);
    }
};

// The game widths this build runs: a 32-bit build cannot read a 64-bit game.
const std::vector<bool> WIDTHS = sizeof(void*) == 8 ? std::vector<bool>{false, true} : std::vector<bool>{true};

// A game with the system DLLs a Direct3D game loads and the loader-list
// fixtures no system test sets up: each found once, and every module listed
// as the file it maps.
TEST(LoaderListWin32, FixturesFoundAndModulesNamedByTheirFilesAtEachWidth) {
    std::istringstream names(
        "d3d9 d3dx9_36 dinput8 dsound winmm ws2_32 wininet opengl32 imm32 version shell32 ole32 oleaut32 setupapi "
        "dbghelp mswsock iphlpapi xinput1_3 d3d8 ddraw dxgi d3d10 d3d11 msacm32 comctl32 comdlg32 crypt32 secur32 "
        "wintrust usp10 uxtheme winhttp urlmon shlwapi dwmapi hid powrprof psapi xaudio2_7 x3daudio1_7 "
        "d3dcompiler_43 d3dx10_43 mfplat avrt dnsapi netapi32 userenv wtsapi32 cfgmgr32 msimg32 gdiplus");
    std::string args = "--rwx-pe --unlink version.dll --spoof-path msimg32.dll --hand-map --map-rwx";
    for (std::string dll; names >> dll;) args += " --load " + dll + ".dll";
    const std::vector<std::string> expected = {"PE image", "Module path mismatch version.dll maps msimg32.dll",
                                               "Unlinked module version.dll 0x", "Headerless image", "Foreign code: "};
    for (bool thirtyTwo : WIDTHS) {
        SCOPED_TRACE(thirtyTwo ? "32-bit game" : "64-bit game");
        StandinGame game(thirtyTwo, args);
        std::vector<std::string> found;  // each as long as the one expected in its place
        for (const MemoryScanHit& h : scanProcessMemory(game.pi.dwProcessId))
            found.push_back(h.description.substr(0, found.size() < expected.size() ? expected[found.size()].size() : 99));
        EXPECT_EQ(found, expected);

        const std::vector<ModuleInfo> modules = scanProcessModules(game.pi.dwProcessId);
        ASSERT_GE(modules.size(), 60u);
        for (const ModuleInfo& m : modules)  // the renamed entry too: listed as the file it maps
            EXPECT_TRUE(equalsIgnoreCase(m.name, fileNameOf(m.path))) << m.name << " for " << m.path;
    }
}

}  // namespace
}  // namespace marvik
