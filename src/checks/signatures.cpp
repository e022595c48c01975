#include "checks/signatures.h"

#include "checks/text_match.h"

namespace marvik {

namespace {

struct Signature {
    const char* key;
    const char* label;
};

// Files known by their content. The first entries are the harmless test
// modules (x86_64 and i686) and test program that tools/fixtures/data holds
// byte for byte, so a client in the field can be checked end to end without
// any real cheat.
const Signature CHEAT_MD5[] = {
    {"b525a69694bfb01741d0411ebeb90e79", "Marvik test signature (harmless)"},
    {"3104026b44ace396f2c4eb5e60fe94e2", "Marvik test signature (harmless)"},
    {"2467ec4140466391f74ef8aacac47465", "Marvik test program signature (harmless)"},
};

// Module file names: aim and wall hacks, speed hacks and the helper DLLs
// that memory editors inject into their target.
const Signature CHEAT_MODULES[] = {
    {"*aimbot*.dll", "Aimbot module"},
    {"*wallhack*.dll", "Wallhack module"},
    {"*triggerbot*.dll", "Triggerbot module"},
    {"*esp?hook*.dll", "ESP overlay hook"},
    {"speedhack-*.dll", "Memory editor speed hack"},
    {"vehdebug-*.dll", "Memory editor VEH debugger"},
    {"allochook-*.dll", "Memory editor allocation hook"},
    {"*cod4?hook*.dll", "Game hook module"},
};

// Process names of memory editors, trainers and injectors.
const Signature CHEAT_PROCESSES[] = {
    {"cheatengine*.exe", "Memory editor"},
    {"cheat engine*.exe", "Memory editor"},
    {"artmoney*.exe", "Memory editor"},
    {"tsearch*.exe", "Memory editor"},
    {"*aimbot*.exe", "Aimbot loader"},
    {"*wallhack*.exe", "Wallhack loader"},
    {"*triggerbot*.exe", "Triggerbot loader"},
    {"*dllinjector*.exe", "DLL injector"},
    {"extreme injector*.exe", "DLL injector"},
};

template <std::size_t N>
const char* matchName(const Signature (&table)[N], const std::string& name) {
    for (const Signature& s : table)
        if (wildcardMatch(s.key, name.c_str())) return s.label;
    return nullptr;
}

}  // namespace

const char* knownCheatMD5(const std::string& md5) {
    for (const Signature& s : CHEAT_MD5)
        if (equalsIgnoreCase(md5, s.key)) return s.label;
    return nullptr;
}

const char* cheatModuleName(const std::string& name) { return matchName(CHEAT_MODULES, name); }
const char* cheatProcessName(const std::string& name) { return matchName(CHEAT_PROCESSES, name); }

std::vector<std::string> moduleCheckLabels() {
    std::vector<std::string> labels;
    auto add = [&labels](const Signature& s) {
        for (const std::string& l : labels)
            if (l == s.label) return;
        labels.push_back(s.label);
    };
    for (const Signature& s : CHEAT_MD5) add(s);
    for (const Signature& s : CHEAT_MODULES) add(s);
    return labels;
}

}  // namespace marvik
