// Stands in for the game in tests, built for x86_64 and i686 (the real game is 32-bit). Copied into a game folder as
// iw3mp.exe and started with switches, it writes "<its path>.ready" holding its pid (exits with code 3 instead when
// the realistic mode or a held handle cannot be set up), then lives until "<its path>.exit" appears or it is killed.
// A switch can also come later as a line "<switch> [<dll>]" of "<its path>.cmd", read once and deleted. Everything
// it does is harmless and stays in its own process (--hold-* only opens another).
#include <cstdio>
#include <fstream>

#include "standin.h"

namespace marvik {

namespace {

bool copyHeadersToRwx() {  // what an injector's first write leaves: PE headers in private RWX memory
    void* region = VirtualAlloc(nullptr, 0x2000, MEM_COMMIT | MEM_RESERVE, PAGE_EXECUTE_READWRITE);
    if (region != nullptr) std::memcpy(region, GetModuleHandleA(nullptr), 0x400);
    return region != nullptr;
}

using Run = bool (*)(const std::string& dll);
const struct Switch {
    const char* name;
    bool takesDll;
    Run run;
} SWITCHES[] = {
    // What cheats leave in a game, each the fixture that makes a check fire:
    {"load", true, [](const std::string& dll) { return LoadLibraryA(dll.c_str()) != nullptr; }},  // an injector's
    {"rwx-pe", false, [](const std::string&) { return copyHeadersToRwx(); }},
    {"thread-private", false, [](const std::string&) { return startPrivateThread(); }},
    {"dr0", false, [](const std::string&) { return armDr0(); }},
    {"suspend-all", false, [](const std::string&) { return suspendAll(); }},
    {"unlink", true, unlinkModule},
    {"spoof-path", true, spoofModulePath},
    {"hand-map", false, [](const std::string&) { return handMapOwnImage(0); }},
    {"map-rx", false, [](const std::string&) { return handMapOwnImage(PAGE_EXECUTE_READ); }},
    {"map-rwx", false, [](const std::string&) { return handMapOwnImage(PAGE_EXECUTE_READWRITE); }},
    {"loop-loader", false, [](const std::string&) { return loopLoaderList(); }},
    {"code-nop", false, [](const std::string&) { return patchCodeFixture("code-nop"); }},
    {"code-detour", false, [](const std::string&) { return patchCodeFixture("code-detour"); }},
    {"iat-hook", false, [](const std::string&) { return hookOwnImport(); }},
    {"vtable-hook", false, [](const std::string&) { return hookDirect3DMethodTable(); }},
    // render_hook.dll beside it (the overlay's unsigned build) detours d3d9 as a cheat's renderer would.
    {"unsigned-hook", false,
     [](const std::string&) {
         return LoadLibraryA("d3d9.dll") != nullptr && startRenderHooks(exeFolder() + "\\render_hook.dll") != nullptr;
     }},
    // An external cheat holding a handle to the game (<exe>) with write rights, or a tool with query rights.
    {"hold-write", true, [](const std::string& exe) { return holdProcess(exe, true); }},
    {"hold-query", true, [](const std::string& exe) { return holdProcess(exe, false); }},
    // A clean game as players run it, which must stay silent (realistic.cpp; its DLLs lie beside it).
    {"realistic", false, [](const std::string&) { return startRealistic(); }},
};

const Switch* findSwitch(const std::string& name) {
    for (const Switch& s : SWITCHES)
        if (name == s.name) return &s;
    return nullptr;
}

// False when the realistic mode or a held handle could not be set up; any failure is told on standard error.
bool run(const std::string& command, const std::string& argument) {
    const Switch* s = findSwitch(command);
    if (s != nullptr && s->run(argument)) return true;
    std::fprintf(stderr, "%s %s failed (error %lu)\n", command.c_str(), argument.c_str(), GetLastError());
    return command != "realistic" && command.rfind("hold-", 0) != 0;
}

void runCommandFile(const std::string& path) {
    std::ifstream in(path);
    if (!in) return;
    for (std::string line; std::getline(in, line);) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        const std::size_t space = line.find(' ');
        run(line.substr(0, space), space == std::string::npos ? std::string() : line.substr(space + 1));
    }
    in.close();
    std::remove(path.c_str());
}

}  // namespace

// A folder in letters the code page lacks is named by its short name, which is ASCII, so narrow file calls reach it.
std::string selfPath() {
    wchar_t wide[MAX_PATH] = {}, shortName[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, wide, MAX_PATH);
    char self[MAX_PATH] = {};
    BOOL lossy = FALSE;
    WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide, -1, self, MAX_PATH, nullptr, &lossy);
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
    const std::string self = selfPath(), exitFile = self + ".exit";
    std::ofstream(self + ".ready") << "ready pid=" << GetCurrentProcessId() << "\n";
    for (;; Sleep(100)) {
        if (std::remove(exitFile.c_str()) == 0) {
            unloopLoaderList();  // the loader walks its list on the way out
            return 0;
        }
        runCommandFile(self + ".cmd");
        tickRealistic();
    }
}
