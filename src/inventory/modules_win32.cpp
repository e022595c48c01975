#include <windows.h>
#include <psapi.h>

#include "checks/checks.h"
#include "inventory/game_process.h"
#include "inventory/hash.h"
#include "inventory/modules.h"

namespace marvik {

namespace {
// A game with more modules than this is listed with its first 1024.
constexpr DWORD MODULE_TABLE_SIZE = 1024;
}

std::vector<ModuleInfo> scanProcessModules(std::uint32_t pid) {
    std::vector<ModuleInfo> modules;
    const ProcessHandle opened = openProcessForReading(pid);
    if (opened == 0) return modules;
    HANDLE process = reinterpret_cast<HANDLE>(opened);
    HMODULE handles[MODULE_TABLE_SIZE];
    DWORD bytes = 0;
    if (!K32EnumProcessModulesEx(process, handles, sizeof handles, &bytes, LIST_MODULES_ALL) || bytes == 0) {
        closeProcess(opened);
        return modules;
    }
    DWORD count = bytes / sizeof(HMODULE);
    if (count > MODULE_TABLE_SIZE) count = MODULE_TABLE_SIZE;
    modules.reserve(count);
    for (DWORD i = 0; i < count; ++i) {
        char path[MAX_PATH] = {};
        if (K32GetModuleFileNameExA(process, handles[i], path, MAX_PATH) == 0) continue;
        ModuleInfo m;
        m.path = path;
        char name[MAX_PATH] = {};
        if (K32GetModuleBaseNameA(process, handles[i], name, MAX_PATH) != 0) {
            m.name = name;
        } else {
            std::size_t cut = m.path.find_last_of("\\/");
            m.name = cut == std::string::npos ? m.path : m.path.substr(cut + 1);
        }
        MODULEINFO info = {};
        if (K32GetModuleInformation(process, handles[i], &info, sizeof info)) m.size = info.SizeOfImage;
        // One read of the file gives both hashes.
        FileHashes hashes = fileHashes(m.path);
        m.crc32 = hashes.crc32;
        m.md5 = hashes.md5;
        checkModule(m);
        modules.push_back(std::move(m));
    }
    closeProcess(opened);
    return modules;
}

}  // namespace marvik
