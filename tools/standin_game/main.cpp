// Stands in for the game in tests, built for x86_64 and i686 (the real game
// is 32-bit: under WOW64 on a player's 64-bit Windows, under 32-bit Wine
// here). Copied into a test game folder as iw3mp.exe, it stays alive until a
// file "<its path>.exit" appears beside it (its first line, if any, is the
// exit code) or until it is killed.
//   standin_game [--load <dll>]... [--rwx] [--rwx-pe] [--patch] [--churn] [--thread-private] [--dr0]
//                [--code-nop] [--code-detour] [--iat-hook] [--vtable-hook]
//                [--unlink <dll>] [--spoof-path <dll>] [--hand-map] [--resource-loads] [--loop-loader]
//                [--map-rx] [--map-rwx]
//                [--suspend-all]
//                [--realistic] [--late-load-seconds N] [--unload-seconds N] [--report]
// Each switch can also be given later as a line of "<its path>.cmd" (the
// file is read once and deleted): "load <dll>", "rwx", "rwx-pe", "patch", "churn",
// "realistic", "late-load-seconds N", "unload-seconds N", "report". After the
// start-up switches it writes "<its path>.ready" (not at all, and exits with
// code 3, when the realistic mode cannot be set up). Everything it does is
// harmless and stays in its own process: the memory it sets up only looks
// like what cheats and overlays leave.
//
// Cheat-like switches (what a cheat leaves in a game):
//   --load    LoadLibrary, as the game loads its modules (or as an injector)
//   --rwx     a private read-write-execute region holding a few instructions
//   --rwx-pe  the same holding a copy of this program's PE headers, as a
//             module mapped by hand looks
//   --patch   a jump written over the first bytes of one of its functions
//   --thread-private, --dr0  a thread started in private executable memory,
//             a hardware breakpoint on a game thread (fixtures_threads.h)
//   --unlink <dll>      loads the DLL, then takes its entry out of the three
//                       loader lists of its own (for a 32-bit game, 32-bit) PEB
//   --spoof-path <dll>  loads the DLL, then makes its loader entry's full path
//                       name the system folder's version.dll
//   --hand-map          a copy of its own image (imports bound) in private
//                       memory, headers zeroed, each section protected as
//                       the section asks (fixtures_hidden.cpp)
//   --map-rx, --map-rwx the same copy made read-execute, or read-write-execute,
//                       whole, as the simplest public injectors leave it
//   --loop-loader       an entry with no base that links to itself, put
//                       last in its own load-order list (fixtures_hidden.cpp)
//   --suspend-all       every thread of its own suspended (fixtures_threads.h)
//   --resource-loads    (innocent) the realistic mode's resource-only loads
//   --code-nop, --code-detour  code patches (fixtures_code.cpp)
//   --iat-hook          its import entry of kernel32!Sleep led to a private stub
//                       that goes on to Sleep (fixtures_code.cpp)
//   --vtable-hook       d3d9's IDirect3D9 method table entry GetAdapterCount
//                       led to such a stub (fixtures_code.cpp)
// Stress switch:
//   --churn   a thread loads and frees a few system DLLs without pause, so
//             the loader lists change while the client walks them
//
// --realistic: a clean game as players run it, noisy but innocent
// (realistic.cpp). The DLLs it loads must lie beside the executable: the
// build puts them in its own folder (build/<preset>/tools/standin_game/), so
// copy that folder's *.dll beside a copied iw3mp.exe.
//   - system DLLs a Direct3D 9 game loads (d3d9, d3dx9_36, dinput8, dsound,
//     xinput1_3, winmm, ws2_32, wininet, ... SYSTEM_DLLS in realistic.cpp),
//     by name, so they come from the system folder of the game's width; the
//     loader adds their imports. Names this Windows lacks are skipped.
//   - the game's own DLLs, every game_*.dll beside the executable (36 of
//     them, 260 KiB to 3.1 MiB, with code, data, exports and relocations;
//     written by tools/fixtures/make_test_dll.py --game-set; every eighth
//     one wants the compiler's default base, so the loader relocates it).
//     With the system DLLs, about 120 modules in all (124 or 125 under Wine 8,
//     both widths, as its late DLLs come and go).
//   - overlay_render.dll beside the executable (overlay_render.cpp): its
//     thread detours d3d9!Direct3DCreate9 with a jmp rel32 over the start of
//     the export; the original instructions and a jump back sit in a private
//     4 KiB block allocated read-write, filled, then made read-execute. On
//     x86 the jump leads straight to the hook in overlay_render.dll; on x64
//     to a relay stub (jmp [rip+0]) in that block, allocated within 2 GB of
//     d3d9.dll. The game then calls Direct3DCreate9 once, through the hook.
//   - msi.dll mapped as an image resource and ieframe.dll as a data file,
//     for icons and strings: mapped, never listed, never run.
//   - a JIT-like region: 1 MiB reserved PAGE_EXECUTE_READWRITE, 64 KiB of it
//     committed, eight generated functions written, then made
//     PAGE_EXECUTE_READ; they are called and checked.
//   - its own code rewritten with the same bytes (fixtures_code.cpp): a
//     page of the executable that is the process's copy, equal to the file.
//   - launcher_splash.dll, loaded at the start and freed (FreeLibrary)
//     --unload-seconds later (default 5), and content_patch.dll, loaded
//     --late-load-seconds after the start (default 20); both beside the
//     executable. Times count from when the realistic mode began (at the
//     process start when given as a switch).
// --report (or "report"): writes "<its path>.report", the process as seen
// from inside: modules, the memory a scanner has to explain, and where each
// piece above lies (report.cpp describes the format).
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>

#include "fixtures_threads.h"
#include "standin.h"

namespace marvik {

namespace {

__attribute__((noinline)) int patchTarget(int x) { return x * 3 + 1; }

void allocateRwx(bool withPeHeader) {
    void* region = VirtualAlloc(nullptr, 0x2000, MEM_COMMIT | MEM_RESERVE, PAGE_EXECUTE_READWRITE);
    if (region == nullptr) return;
    if (withPeHeader) {
        std::memcpy(region, GetModuleHandleA(nullptr), 0x400);
    } else {
        const unsigned char code[] = {0x31, 0xC0, 0xC3};  // xor eax, eax; ret
        std::memcpy(region, code, sizeof code);
    }
}

void patchOwnCode() {
    auto* target = reinterpret_cast<unsigned char*>(&patchTarget);
    DWORD old = 0;
    if (!VirtualProtect(target, 16, PAGE_EXECUTE_READWRITE, &old)) return;
    target[0] = 0xEB;  // jmp to itself: never called after this
    target[1] = 0xFE;
    VirtualProtect(target, 16, old, &old);
    FlushInstructionCache(GetCurrentProcess(), target, 16);
}

// DLLs loaded and freed again without pause for as long as the game runs,
// so that a scan of its modules meets loader lists that change under it.
DWORD WINAPI churnModules(void*) {
    const char* const dlls[] = {"mpr.dll", "wldap32.dll", "cabinet.dll", "riched20.dll", "credui.dll"};
    for (;;) {
        for (const char* dll : dlls) {
            HMODULE module = LoadLibraryA(dll);
            Sleep(1);
            if (module != nullptr) FreeLibrary(module);
        }
    }
}

// The stand-in's own files sit beside it. A folder in letters the code page
// lacks (a Cyrillic game folder on an English-language system) is named by
// its short name, which is ASCII, so the narrow file calls still reach it.
std::string selfPath() {
    wchar_t wide[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, wide, MAX_PATH);
    char self[MAX_PATH] = {};
    BOOL lossy = FALSE;
    WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide, -1, self, MAX_PATH, nullptr, &lossy);
    wchar_t shortName[MAX_PATH] = {};
    if (lossy && GetShortPathNameW(wide, shortName, MAX_PATH) != 0)
        WideCharToMultiByte(CP_ACP, 0, shortName, -1, self, MAX_PATH, nullptr, nullptr);
    return self;
}

// False when the realistic mode was asked for and could not be set up.
bool run(StandinGame& game, const std::string& command, const std::string& argument) {
    if (command == "load") {
        if (LoadLibraryA(argument.c_str()) == nullptr) std::fprintf(stderr, "cannot load %s\n", argument.c_str());
    } else if (command == "rwx") {
        allocateRwx(false);
    } else if (command == "rwx-pe") {
        allocateRwx(true);
    } else if (command == "patch") {
        patchOwnCode();
    } else if (command == "churn") {
        if (HANDLE thread = CreateThread(nullptr, 0, churnModules, nullptr, 0, nullptr)) CloseHandle(thread);
    } else if (command == "unlink" || command == "spoof-path" || command == "hand-map" ||
               command == "resource-loads" || command == "loop-loader" || command == "map-rx" ||
               command == "map-rwx") {
        const bool done = command == "unlink"         ? unlinkModule(argument)
                          : command == "spoof-path"   ? spoofModulePath(argument)
                          : command == "hand-map"     ? handMapOwnImage(HandMap::PER_SECTION)
                          : command == "map-rx"       ? handMapOwnImage(HandMap::WHOLE_RX)
                          : command == "map-rwx"      ? handMapOwnImage(HandMap::WHOLE_RWX)
                          : command == "loop-loader"  ? loopLoaderList()
                                                      : loadResourceOnlyDlls();
        if (!done) std::fprintf(stderr, "%s %s failed\n", command.c_str(), argument.c_str());
    } else if (command == "iat-hook" || command == "vtable-hook") {
        if (!(command == "iat-hook" ? hookOwnImport() : hookDirect3DMethodTable()))
            std::fprintf(stderr, "cannot run %s (error %lu)\n", command.c_str(), GetLastError());
    } else if (command == "unsigned-hook") {
        // A cheat's renderer: an unsigned DLL in the game folder detouring
        // d3d9 as an overlay would.
        if (LoadLibraryA("d3d9.dll") == nullptr ||
            !startRenderHooks(exeFolder() + "\\render_hook.dll", game.cheatHook, game.cheatMinHook))
            std::fprintf(stderr, "cannot run unsigned-hook\n");
    } else if (command == "code-nop" || command == "code-detour") {
        if (!patchCodeFixture(command, command == "code-nop" ? game.codeNop : game.codeDetour))
            std::fprintf(stderr, "cannot run %s (error %lu)\n", command.c_str(), GetLastError());
    } else if (command == "late-load-seconds") {
        game.realistic.lateLoadSeconds = static_cast<unsigned>(std::strtoul(argument.c_str(), nullptr, 10));
    } else if (command == "unload-seconds") {
        game.realistic.unloadSeconds = static_cast<unsigned>(std::strtoul(argument.c_str(), nullptr, 10));
    } else if (command == "realistic") {
        if (!game.realistic.active) return startRealistic(game.realistic);
    } else if (command == "report") {
        writeReport(selfPath() + ".report", game);
    } else {
        runThreadFixture(command);
    }
    return true;
}

bool takesValue(const std::string& command) {
    return command == "load" || command == "late-load-seconds" || command == "unload-seconds" ||
           command == "unlink" || command == "spoof-path";
}

bool runCommandFile(StandinGame& game, const std::string& path) {
    std::ifstream in(path);
    if (!in) return true;
    std::string line;
    bool ok = true;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        const std::size_t space = line.find(' ');
        const std::string argument = space == std::string::npos ? std::string() : line.substr(space + 1);
        ok = run(game, line.substr(0, space), argument) && ok;
    }
    in.close();
    std::remove(path.c_str());
    return ok;
}

}  // namespace

unsigned long long msSinceProcessStart() {
    FILETIME created, exited, kernel, user, now;
    GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user);
    GetSystemTimeAsFileTime(&now);
    auto value = [](const FILETIME& t) {
        return (static_cast<unsigned long long>(t.dwHighDateTime) << 32) | t.dwLowDateTime;
    };
    return (value(now) - value(created)) / 10000;
}

std::string exeFolder() {
    const std::string self = selfPath();
    return self.substr(0, self.find_last_of('\\'));
}

}  // namespace marvik

int main(int argc, char** argv) {
    using namespace marvik;
    static StandinGame game;
    game.patchTarget = reinterpret_cast<void*>(&patchTarget);
    // Settings first, so that "--realistic --late-load-seconds 3" means the
    // same as the other order; then the rest in order, the report last.
    bool report = false;
    for (int pass = 0; pass < 2; ++pass) {
        for (int i = 1; i < argc; ++i) {
            const std::string arg = argv[i];
            if (arg.rfind("--", 0) != 0) continue;
            const std::string command = arg.substr(2);
            const std::string value = takesValue(command) && i + 1 < argc ? argv[++i] : std::string();
            const bool setting = command == "late-load-seconds" || command == "unload-seconds";
            if (command == "report") report = true;
            else if (setting == (pass == 0) && !run(game, command, value)) return 3;
        }
    }
    if (report) run(game, "report", std::string());
    const std::string self = selfPath();
    const std::string exitFile = self + ".exit";
    const std::string commandFile = self + ".cmd";
    std::ofstream(self + ".ready") << "ready\n";
    for (;;) {
        if (std::FILE* f = std::fopen(exitFile.c_str(), "r")) {
            int code = 0;
            if (std::fscanf(f, "%d", &code) != 1) code = 0;
            std::fclose(f);
            std::remove(exitFile.c_str());
            unloopLoaderList();
            return code;
        }
        if (!runCommandFile(game, commandFile)) std::fprintf(stderr, "realistic mode not set up\n");
        tickRealistic(game.realistic);
        Sleep(100);
    }
}
