// Stands in for the game in tests: copied into a test game folder as
// iw3mp.exe, it stays alive until a file "<its path>.exit" appears beside it
// (its first line, if any, is the exit code) or until it is killed.
//   standin_game [--load <dll>]... [--rwx] [--rwx-pe] [--patch]
// Each switch can also be given later as a line of "<its path>.cmd" (the
// file is read once and deleted): "load <dll>", "rwx", "rwx-pe", "patch".
// After the start-up switches it writes "<its path>.ready". Everything it
// does is harmless: the memory it sets up only looks like what cheats leave.
//   --load    LoadLibrary, as the game loads its modules (or as an injector)
//   --rwx     a private read-write-execute region holding a few instructions
//   --rwx-pe  the same holding a copy of this program's PE headers, as a
//             module mapped by hand looks
//   --patch   a jump written over the first bytes of one of its functions
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>

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

void run(const std::string& command, const std::string& argument) {
    if (command == "load") {
        if (LoadLibraryA(argument.c_str()) == nullptr) std::fprintf(stderr, "cannot load %s\n", argument.c_str());
    } else if (command == "rwx") {
        allocateRwx(false);
    } else if (command == "rwx-pe") {
        allocateRwx(true);
    } else if (command == "patch") {
        patchOwnCode();
    }
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

int main(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--load" && i + 1 < argc) run("load", argv[++i]);
        else if (arg.rfind("--", 0) == 0) run(arg.substr(2), std::string());
    }
    char self[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, self, MAX_PATH);
    const std::string exitFile = std::string(self) + ".exit";
    const std::string commandFile = std::string(self) + ".cmd";
    std::ofstream(std::string(self) + ".ready") << "ready\n";
    for (;;) {
        if (std::FILE* f = std::fopen(exitFile.c_str(), "r")) {
            int code = 0;
            if (std::fscanf(f, "%d", &code) != 1) code = 0;
            std::fclose(f);
            std::remove(exitFile.c_str());
            return code;
        }
        runCommandFile(commandFile);
        Sleep(100);
    }
}
