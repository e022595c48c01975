#include "session/player_config.h"

#include <cstdio>

#include "base/exe_path.h"
#include "base/utf8.h"
#include "net/chunks.h"
#include "net/packets.h"
#include "report/log.h"
#include "session/player_config_backend.h"

namespace marvik {

const char* const CONFIG_FIXED_ROOTS[4] = {
    "C:\\Program Files (x86)\\Steam\\steamapps\\common\\Call of Duty 4",
    "C:\\Program Files\\Steam\\steamapps\\common\\Call of Duty 4",
    "D:\\Games\\Call of Duty 4",
    "D:\\CoD4",
};

std::vector<std::string> buildConfigRoots(const char* localAppData, const std::vector<ModuleInfo>& modules) {
    std::vector<std::string> roots;
    if (localAppData != nullptr) roots.push_back(std::string(localAppData) + "\\CallofDuty4MW");
    for (const char* root : CONFIG_FIXED_ROOTS) roots.push_back(root);
    for (const ModuleInfo& m : modules) {
        if (m.path.empty()) continue;
        std::string current = m.path;
        for (int i = 0; i < CONFIG_DERIVED_ROOTS; ++i) {
            std::size_t cut = current.find_last_of("\\/");
            if (cut == std::string::npos) break;
            current.erase(cut);
            roots.push_back(current);
        }
        break;
    }
    return roots;
}

std::vector<std::string> configCandidates(const std::string& root, const std::string& playerName,
                                          const std::vector<std::string>& profileDirs) {
    const std::string profiles = root + "\\players\\profiles\\";
    std::vector<std::string> files;
    if (!playerName.empty()) files.push_back(profiles + playerName + "\\config_mp.cfg");
    files.push_back(profiles + "active\\config_mp.cfg");
    for (const std::string& dir : profileDirs) files.push_back(profiles + dir + "\\config_mp.cfg");
    files.push_back(root + "\\players\\config_mp.cfg");
    files.push_back(root + "\\main\\config_mp.cfg");
    return files;
}

namespace {

// A candidate longer than the system's paths hold is skipped, never cut:
// the cut path would name another file.
std::FILE* openCandidate(const std::string& path) {
    if (!fitsSystemPath(path)) return nullptr;
    return openFile(path, "rb");
}

}  // namespace

void uploadPlayerConfig(UDPClient& client, const std::vector<ModuleInfo>& modules, const std::string& playerName) {
    std::string localAppData;
    const bool haveLocalAppData = environmentValue("LOCALAPPDATA", localAppData);
    const std::vector<std::string> roots =
        buildConfigRoots(haveLocalAppData ? localAppData.c_str() : nullptr, modules);
    std::FILE* file = nullptr;
    std::string found;
    for (const std::string& root : roots) {
        for (const std::string& candidate : configCandidates(root, playerName, listProfileDirs(root))) {
            file = openCandidate(candidate);
            if (file != nullptr) {
                found = candidate;
                break;
            }
        }
        if (file != nullptr) break;
    }
    if (file == nullptr) {
        logToFile("CONFIG", "config_mp.cfg not found (searched %d roots)", static_cast<int>(roots.size()));
        return;
    }
    logToFile("CONFIG", "Found: %s", found.c_str());
    long size = -1;
    if (std::fseek(file, 0, SEEK_END) == 0) size = std::ftell(file);
    std::fseek(file, 0, SEEK_SET);
    if (size < 1 || size > static_cast<long>(CONFIG_MAX_FILE_SIZE)) {
        std::fclose(file);
        return;
    }
    std::vector<std::uint8_t> content(static_cast<std::size_t>(size), 0);
    std::size_t got = std::fread(content.data(), 1, content.size(), file);
    (void)got;  // a short read leaves the rest zero
    int chunks = sendPlayerConfig(client, content, playerName);
    logToFile("CONFIG", "Player config sent (%ld bytes, %d chunks)", size, chunks);
    std::fclose(file);
}

}  // namespace marvik
