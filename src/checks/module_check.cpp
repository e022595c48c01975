#include <mutex>

#include "checks/checks.h"
#include "checks/signatures.h"
#include "checks/text_match.h"

namespace marvik {

namespace {

// Folders no game module is ever loaded from: downloads, temporary and
// recycled files. A DLL there is flagged without a label, unless it is one
// of the game's own: players unpack whole games under Downloads.
const char* const UNUSUAL_FOLDERS[] = {
    "*\\appdata\\local\\temp\\*", "*\\users\\*\\temp\\*", "*\\windows\\temp\\*", "*\\$recycle.bin\\*",
    "*\\downloads\\*",           "*\\temporary internet files\\*",
};

bool endsWith(const std::string& text, const char* tail) {
    const std::string t = tail;
    return text.size() >= t.size() && text.compare(text.size() - t.size(), t.size(), t) == 0;
}

std::string normalisedPath(const std::string& path) {
    std::string p = asciiLowerCopy(path);
    for (char& c : p)
        if (c == '/') c = '\\';
    return p;
}

}  // namespace

bool loadedFromUnusualFolder(const std::string& path, const std::string& gameFolder) {
    const std::string p = normalisedPath(path);
    if (!endsWith(p, ".dll")) return false;
    if (underFolder(path, gameFolder)) return false;
    for (const char* folder : UNUSUAL_FOLDERS)
        if (wildcardMatch(folder, p.c_str())) return true;
    return false;
}

void checkModule(ModuleInfo& module, const std::string& gameFolder) {
    const char* label = nullptr;
    if (!module.md5.empty()) label = knownCheatMD5(module.md5);
    if (label == nullptr) label = cheatModuleName(module.name);
    if (label != nullptr) {
        module.suspicious = true;
        module.detection = label;
    } else if (loadedFromUnusualFolder(module.path, gameFolder)) {
        module.suspicious = true;
        module.detection.clear();
    }
}

void replaceBaselineModules(ModuleBaseline& baseline, std::vector<ModuleInfo> modules) {
    std::lock_guard<std::mutex> lock(baseline.mutex);
    baseline.modules.swap(modules);
}

bool hasModuleNotIn(const std::vector<ModuleInfo>& current, const std::vector<ModuleInfo>& baseline) {
    for (const ModuleInfo& m : current) {
        bool known = false;
        for (const ModuleInfo& b : baseline) {
            if (equalsIgnoreCase(m.path, b.path)) {
                known = true;
                break;
            }
        }
        if (!known) return true;
    }
    return false;
}

bool checkModuleInjection(ModuleBaseline& baseline, const std::vector<ModuleInfo>& current) {
    if (current.empty()) return false;
    std::lock_guard<std::mutex> lock(baseline.mutex);
    return hasModuleNotIn(current, baseline.modules);
}

}  // namespace marvik
