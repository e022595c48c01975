#include <windows.h>

#include <cwchar>

#include "base/exe_path.h"
#include "base/utf8_windows.h"
#include "session/player_config_backend.h"

namespace marvik {

std::vector<std::string> listProfileDirs(const std::string& root) {
    std::vector<std::string> dirs;
    const std::string pattern = root + "\\players\\profiles\\*";
    // Too long to list as named; a cut pattern would list another folder.
    if (!fitsSystemPath(pattern)) return dirs;
    WIN32_FIND_DATAW entry;
    HANDLE find = FindFirstFileW(wideFromUtf8(pattern).c_str(), &entry);
    if (find == INVALID_HANDLE_VALUE) return dirs;
    do {
        if ((entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) continue;
        if (std::wcscmp(entry.cFileName, L".") == 0 || std::wcscmp(entry.cFileName, L"..") == 0) continue;
        dirs.push_back(utf8FromWide(entry.cFileName));
    } while (FindNextFileW(find, &entry));
    FindClose(find);
    return dirs;
}

}  // namespace marvik
