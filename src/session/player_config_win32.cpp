#include <windows.h>

#include <cstring>

#include "app/exe_path.h"
#include "session/player_config_backend.h"

namespace marvik {

std::vector<std::string> listProfileDirs(const std::string& root) {
    std::vector<std::string> dirs;
    const std::string pattern = root + "\\players\\profiles\\*";
    // Too long to list as named; a cut pattern would list another folder.
    if (pattern.size() >= MARVIK_MAX_PATH) return dirs;
    WIN32_FIND_DATAA entry;
    HANDLE find = FindFirstFileA(pattern.c_str(), &entry);
    if (find == INVALID_HANDLE_VALUE) return dirs;
    do {
        if ((entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) continue;
        if (std::strcmp(entry.cFileName, ".") == 0 || std::strcmp(entry.cFileName, "..") == 0) continue;
        dirs.push_back(entry.cFileName);
    } while (FindNextFileA(find, &entry));
    FindClose(find);
    return dirs;
}

}  // namespace marvik
