#include "inventory/guid.h"

#include <cstdio>
#include <cstring>

#include "base/exe_path.h"
#include "base/utf8.h"
#include "inventory/game_process.h"

namespace marvik {

namespace {

// The first line of a guid.dat; false when it does not open.
bool readGUIDFile(const std::string& path, std::string& guid) {
    std::FILE* f = openFile(path, "r");
    if (f == nullptr) return false;
    char line[64] = {};
    if (std::fgets(line, sizeof line, f) == nullptr) line[0] = '\0';
    std::fclose(f);
    line[std::strcspn(line, "\r\n")] = '\0';
    guid = line;  // up to the first NUL
    return true;
}

}  // namespace

std::string guidFromImagePath(const std::string& imagePath) {
    const std::size_t cut = imagePath.find_last_of("\\/");
    const std::string folder = cut == std::string::npos ? imagePath : imagePath.substr(0, cut);
    for (const char* sub : {"players", "main"}) {
        const std::string path = folder + "\\" + sub + "\\guid.dat";
        // A candidate longer than the system's paths hold is skipped, never
        // cut: the cut path would name another file.
        if (!fitsSystemPath(path)) continue;
        std::string guid;
        if (readGUIDFile(path, guid)) return guid;
    }
    return std::string();
}

std::string getPlayerGUID(std::uint32_t pid) {
    // Without the game's path there is no folder to look in.
    const std::string imagePath = processImagePath(pid);
    return imagePath.empty() ? std::string() : guidFromImagePath(imagePath);
}

}  // namespace marvik
