#include <dirent.h>
#include <sys/stat.h>

#include <cstring>

#include "session/player_config_backend.h"

namespace marvik {

// The native build lists the folder as named; the client's paths use
// backslashes, so this mostly finds nothing outside tests.
std::vector<std::string> listProfileDirs(const std::string& root) {
    std::vector<std::string> dirs;
    std::string folder = root + "\\players\\profiles";
    DIR* dir = opendir(folder.c_str());
    if (dir == nullptr) return dirs;
    while (dirent* entry = readdir(dir)) {
        if (std::strcmp(entry->d_name, ".") == 0 || std::strcmp(entry->d_name, "..") == 0) continue;
        struct stat st;
        if (stat((folder + "/" + entry->d_name).c_str(), &st) == 0 && S_ISDIR(st.st_mode)) dirs.push_back(entry->d_name);
    }
    closedir(dir);
    return dirs;
}

}  // namespace marvik
