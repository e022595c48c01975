// Stands in for the game in tests: copied into a test game folder as
// iw3mp.exe, it stays alive until a file "<its name>.exit" appears beside it
// (its first line, if any, is the exit code) or until it is killed.
//   standin_game [--load <dll>]...   load DLLs first, as a game loads its modules
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

int main(int argc, char** argv) {
    for (int i = 1; i + 1 < argc; ++i) {
        if (std::strcmp(argv[i], "--load") == 0) {
            if (LoadLibraryA(argv[++i]) == nullptr) std::fprintf(stderr, "cannot load %s\n", argv[i]);
        }
    }
    char self[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, self, MAX_PATH);
    std::string exitFile = std::string(self) + ".exit";
    for (;;) {
        if (std::FILE* f = std::fopen(exitFile.c_str(), "r")) {
            int code = 0;
            if (std::fscanf(f, "%d", &code) != 1) code = 0;
            std::fclose(f);
            std::remove(exitFile.c_str());
            return code;
        }
        Sleep(100);
    }
}
