// Stands in for the game in tests, built for x86_64 and i686 (the real game
// is 32-bit: under WOW64 on a player's 64-bit Windows, under 32-bit Wine
// here). Copied into a test game folder as iw3mp.exe, it stays alive until a
// file "<its path>.exit" appears beside it (its first line, if any, is the
// exit code) or until it is killed.
//   standin_game [--<switch> [<dll>]]...
// Each switch can also be given later as a line of "<its path>.cmd" (the
// file is read once and deleted), as "<switch> [<dll>]". After the start-up
// switches it writes "<its path>.ready" (not at all, and exits with code 3,
// when the realistic mode cannot be set up). Everything it does is harmless
// and stays in its own process: the memory it sets up only looks like what
// cheats and overlays leave.
//
// What a cheat leaves in a game, each the fixture that makes a check fire:
//   --load <dll>        LoadLibrary, as an injector does
//   --rwx, --rwx-pe     a private read-write-execute region holding a few
//                       instructions, or a copy of this program's PE headers
//                       (as a module mapped by hand looks)
//   --thread-private, --dr0, --suspend-all      fixtures_threads.cpp
//   --unlink <dll>, --spoof-path <dll>, --hand-map, --map-rx, --map-rwx,
//   --loop-loader                               fixtures_hidden.cpp
//   --code-nop, --code-detour, --iat-hook, --vtable-hook   fixtures_code.cpp
//   --unsigned-hook     render_hook.dll beside it (the overlay's unsigned
//                       build) detours d3d9 as a cheat's renderer would
//   --churn             a thread loads and frees a few system DLLs without
//                       pause, so the loader lists change while the client
//                       walks them
// What a clean game does, the fixtures that must stay silent:
//   --realistic         a game as players run it, noisy but innocent
//                       (realistic.cpp); the DLLs it loads must lie beside the
//                       executable: copy build/<preset>/tools/standin_game/*.dll
//   --resource-loads    system DLLs mapped for their icons and strings only
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>

#include "standin.h"

namespace marvik {

namespace {

bool allocateRwx(bool withPeHeader) {
    void* region = VirtualAlloc(nullptr, 0x2000, MEM_COMMIT | MEM_RESERVE, PAGE_EXECUTE_READWRITE);
    if (region == nullptr) return false;
    const unsigned char code[] = {0x31, 0xC0, 0xC3};  // xor eax, eax; ret
    if (withPeHeader)
        std::memcpy(region, GetModuleHandleA(nullptr), 0x400);
    else
        std::memcpy(region, code, sizeof code);
    return true;
}

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

RealisticGame g_game;

using Run = bool (*)(const std::string& dll);
const struct Switch {
    const char* name;
    bool takesDll;
    Run run;
} SWITCHES[] = {
    {"load", true, [](const std::string& dll) { return LoadLibraryA(dll.c_str()) != nullptr; }},
    {"rwx", false, [](const std::string&) { return allocateRwx(false); }},
    {"rwx-pe", false, [](const std::string&) { return allocateRwx(true); }},
    {"thread-private", false, [](const std::string&) { return startPrivateThread(); }},
    {"dr0", false, [](const std::string&) { return armDr0(); }},
    {"suspend-all", false, [](const std::string&) { return suspendAll(); }},
    {"unlink", true, unlinkModule},
    {"spoof-path", true, spoofModulePath},
    {"hand-map", false, [](const std::string&) { return handMapOwnImage(HandMap::PER_SECTION); }},
    {"map-rx", false, [](const std::string&) { return handMapOwnImage(HandMap::WHOLE_RX); }},
    {"map-rwx", false, [](const std::string&) { return handMapOwnImage(HandMap::WHOLE_RWX); }},
    {"loop-loader", false, [](const std::string&) { return loopLoaderList(); }},
    {"code-nop", false, [](const std::string&) { return patchCodeFixture("code-nop"); }},
    {"code-detour", false, [](const std::string&) { return patchCodeFixture("code-detour"); }},
    {"iat-hook", false, [](const std::string&) { return hookOwnImport(); }},
    {"vtable-hook", false, [](const std::string&) { return hookDirect3DMethodTable(); }},
    {"unsigned-hook", false,
     [](const std::string&) {
         return LoadLibraryA("d3d9.dll") != nullptr && startRenderHooks(exeFolder() + "\\render_hook.dll") != nullptr;
     }},
    {"churn", false,
     [](const std::string&) {
         HANDLE thread = CreateThread(nullptr, 0, churnModules, nullptr, 0, nullptr);
         return thread != nullptr && CloseHandle(thread);
     }},
    {"resource-loads", false, [](const std::string&) { return loadResourceOnlyDlls(); }},
    {"realistic", false, [](const std::string&) { return g_game.active || startRealistic(g_game); }},
};

const Switch* findSwitch(const std::string& name) {
    for (const Switch& s : SWITCHES)
        if (name == s.name) return &s;
    return nullptr;
}

// False when the realistic mode was asked for and could not be set up; any
// failure is told on standard error.
bool run(const std::string& command, const std::string& argument) {
    const Switch* s = findSwitch(command);
    if (s != nullptr && s->run(argument)) return true;
    std::fprintf(stderr, "%s %s failed (error %lu)\n", command.c_str(), argument.c_str(), GetLastError());
    return command != "realistic";
}

void runCommandFile(const std::string& path) {
    std::ifstream in(path);
    if (!in) return;
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        const std::size_t space = line.find(' ');
        run(line.substr(0, space), space == std::string::npos ? std::string() : line.substr(space + 1));
    }
    in.close();
    std::remove(path.c_str());
}

}  // namespace

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

std::string exeFolder() {
    const std::string self = selfPath();
    return self.substr(0, self.find_last_of('\\'));
}

}  // namespace marvik

int main(int argc, char** argv) {
    using namespace marvik;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg.rfind("--", 0) != 0) continue;
        const Switch* s = findSwitch(arg.substr(2));
        const std::string value = s != nullptr && s->takesDll && i + 1 < argc ? argv[++i] : std::string();
        if (!run(arg.substr(2), value)) return 3;
    }
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
        runCommandFile(commandFile);
        tickRealistic(g_game);
        Sleep(100);
    }
}
