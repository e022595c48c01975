// The stand-in's report on itself: what a memory scanner sees in the game,
// as VirtualQuery and the loader list show it from inside. One fact a line,
// "<kind> key=value ...", a path or file name always last:
//   summary   width, wow64, modules, image_bytes, file_bytes, uptime_ms
//   module    base, size, path (every module in the loader list)
//   region    committed memory a scanner has to explain (executable or image
//             memory no listed module owns, writable code inside a module):
//             base, size, type, protections, owning module, its first bytes,
//             and the file a mapped or image region shows
//   query     one address of interest: its region, allocation, type, protections and owning module
//   detour / hook / jit / splash / late / patch / missing: the realistic
//             mode's pieces and the cheat-like --patch (see main.cpp)
//   code-nop / code-detour: where those commands patched (addr) and where
//             the detour leads (target)
#include "standin.h"

#include <psapi.h>
#include <tlhelp32.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <utility>

namespace marvik {
namespace {

struct Module {
    std::uintptr_t base;
    std::uintptr_t size;
    std::string path;
};

std::vector<Module> loadedModules() {
    std::vector<Module> modules;
    HANDLE snap = CreateToolhelp32Snapshot(TH32CS_SNAPMODULE, 0);
    if (snap == INVALID_HANDLE_VALUE) return modules;
    MODULEENTRY32 entry;
    entry.dwSize = sizeof entry;
    for (BOOL more = Module32First(snap, &entry); more; more = Module32Next(snap, &entry))
        modules.push_back({reinterpret_cast<std::uintptr_t>(entry.modBaseAddr), entry.modBaseSize, entry.szExePath});
    CloseHandle(snap);
    return modules;
}

const Module* owner(const std::vector<Module>& modules, std::uintptr_t address) {
    for (const Module& m : modules)
        if (address >= m.base && address - m.base < m.size) return &m;
    return nullptr;
}

std::string hex(std::uintptr_t value) {
    char text[24];
    std::snprintf(text, sizeof text, "0x%llx", static_cast<unsigned long long>(value));
    return text;
}

std::string hex(const void* at) { return hex(reinterpret_cast<std::uintptr_t>(at)); }

std::string bytes(const void* at, std::size_t n) {
    std::string text;
    char two[3];
    for (std::size_t i = 0; i < n; ++i) {
        std::snprintf(two, sizeof two, "%02X", static_cast<const unsigned char*>(at)[i]);
        text += two;
    }
    return text;
}

std::string protection(DWORD p) {
    static const struct { DWORD value; const char* name; } names[] = {
        {PAGE_NOACCESS, "NOACCESS"}, {PAGE_READONLY, "R"}, {PAGE_READWRITE, "RW"}, {PAGE_WRITECOPY, "WC"},
        {PAGE_EXECUTE, "X"}, {PAGE_EXECUTE_READ, "RX"}, {PAGE_EXECUTE_READWRITE, "RWX"},
        {PAGE_EXECUTE_WRITECOPY, "WCX"},
    };
    std::string text = "0";
    for (const auto& n : names)
        if ((p & 0xFF) == n.value) text = n.name;
    if (p & PAGE_GUARD) text += "+GUARD";
    return text;
}

const char* typeName(DWORD type) {
    return type == MEM_IMAGE ? "image" : type == MEM_MAPPED ? "mapped" : type == MEM_PRIVATE ? "private" : "none";
}

bool executable(DWORD p) {
    return (p & (PAGE_EXECUTE | PAGE_EXECUTE_READ | PAGE_EXECUTE_READWRITE | PAGE_EXECUTE_WRITECOPY)) != 0;
}

std::string mappedFile(const void* at) {
    char name[MAX_PATH * 2] = {};
    return GetMappedFileNameA(GetCurrentProcess(), const_cast<void*>(at), name, sizeof name) ? name : "-";
}

std::string moduleName(const Module* m) {
    if (m == nullptr) return "-";
    const std::size_t slash = m->path.find_last_of("\\/");
    return slash == std::string::npos ? m->path : m->path.substr(slash + 1);
}

void query(std::ostream& out, const std::vector<Module>& modules, const char* label, const void* at) {
    MEMORY_BASIC_INFORMATION mbi = {};
    VirtualQuery(at, &mbi, sizeof mbi);
    out << "query " << label << " addr=" << hex(at)
        << " region=" << hex(mbi.BaseAddress) << " size=" << hex(mbi.RegionSize)
        << " alloc=" << hex(mbi.AllocationBase)
        << " state=" << (mbi.State == MEM_COMMIT ? "commit" : mbi.State == MEM_RESERVE ? "reserve" : "free")
        << " type=" << typeName(mbi.Type) << " protect=" << protection(mbi.Protect)
        << " alloc_protect=" << protection(mbi.AllocationProtect)
        << " module=" << moduleName(owner(modules, reinterpret_cast<std::uintptr_t>(at))) << "\n";
}

// Where a jmp rel32 (E9) or jmp [rip+0] (FF 25 00000000) at p leads, or null.
const unsigned char* jumpDestination(const unsigned char* p) {
    if (p[0] == 0xE9) {
        std::int32_t rel;
        std::memcpy(&rel, p + 1, 4);
        return p + 5 + rel;
    }
    if (p[0] == 0xFF && p[1] == 0x25) {
        std::int32_t rel;
        std::memcpy(&rel, p + 2, 4);
        const unsigned char* slot = sizeof(void*) == 8 ? p + 6 + rel : reinterpret_cast<const unsigned char*>(rel);
        const unsigned char* to;
        std::memcpy(&to, slot, sizeof to);
        return to;
    }
    return nullptr;
}

bool writable(DWORD p) {
    return (p & (PAGE_READWRITE | PAGE_WRITECOPY | PAGE_EXECUTE_READWRITE | PAGE_EXECUTE_WRITECOPY)) != 0;
}

// The regions a memory scanner has to explain: executable memory outside the
// listed modules, image memory outside them, and pages of a module that are
// writable and executable at once.
void reportRegions(std::ostream& out, const std::vector<Module>& modules) {
    SYSTEM_INFO info;
    GetSystemInfo(&info);
    auto at = static_cast<const unsigned char*>(info.lpMinimumApplicationAddress);
    MEMORY_BASIC_INFORMATION mbi;
    while (at < info.lpMaximumApplicationAddress && VirtualQuery(at, &mbi, sizeof mbi) == sizeof mbi) {
        const auto base = reinterpret_cast<std::uintptr_t>(mbi.BaseAddress);
        const Module* module = owner(modules, base);
        const bool exec = executable(mbi.Protect);
        if (mbi.State == MEM_COMMIT &&
            (module == nullptr ? exec || mbi.Type == MEM_IMAGE : exec && writable(mbi.Protect))) {
            const bool readable = !(mbi.Protect & (PAGE_GUARD | PAGE_NOACCESS)) && mbi.Protect != PAGE_EXECUTE;
            out << "region base=" << hex(base) << " size=" << hex(mbi.RegionSize)
                << " alloc=" << hex(mbi.AllocationBase)
                << " type=" << typeName(mbi.Type) << " protect=" << protection(mbi.Protect)
                << " alloc_protect=" << protection(mbi.AllocationProtect) << " module=" << moduleName(module)
                << " bytes=" << (readable ? bytes(mbi.BaseAddress, 16) : "-")
                << " file=" << (mbi.Type == MEM_PRIVATE ? "-" : mappedFile(mbi.BaseAddress)) << "\n";
        }
        at = static_cast<const unsigned char*>(mbi.BaseAddress) + mbi.RegionSize;
    }
}

void reportRealistic(std::ostream& out, const RealisticGame& game, const std::vector<Module>& modules) {
    for (const std::string& name : game.missingSystemDlls) out << "missing " << name << "\n";
    out << "realistic start_ms=" << game.startMs << " late_load_seconds=" << game.lateLoadSeconds
        << " unload_seconds=" << game.unloadSeconds << "\n";
    const OverlayHook& hook = *game.overlay;
    const auto* target = static_cast<const unsigned char*>(hook.target);
    const unsigned char* first = jumpDestination(target);
    const unsigned char* final = first;
    if (final != nullptr && owner(modules, reinterpret_cast<std::uintptr_t>(final)) == nullptr)
        final = jumpDestination(final);  // through the relay
    out << "detour target=d3d9.dll!Direct3DCreate9 addr=" << hex(target)
        << " bytes=" << bytes(target, 16) << " saved=" << bytes(hook.saved, hook.savedLength)
        << " jump=" << hex(first) << " final=" << hex(final)
        << " final_module=" << moduleName(owner(modules, reinterpret_cast<std::uintptr_t>(final))) << "\n";
    const auto* tramp = static_cast<const unsigned char*>(hook.trampoline);
    out << "trampoline addr=" << hex(tramp)
        << " bytes=" << bytes(tramp, hook.savedLength) << " back="
        << hex(jumpDestination(tramp + hook.savedLength)) << "\n";
    out << "hook calls=" << hook.calls << " d3d=" << hex(game.d3d) << "\n";
    const OverlayHook& minHook = *game.minHook;
    out << "minhook target=d3d9.dll!Direct3DCreate9Ex addr=" << hex(minHook.target) << " block=" << hex(minHook.block)
        << " relay=" << hex(minHook.relay) << " final=" << hex(minHook.hook) << " calls=" << minHook.calls
        << " result=" << game.d3dExResult << "\n";
    query(out, modules, "minhook_block", minHook.block);
    const DetourHooks& device = *game.deviceHooks;
    out << "device hooks=" << device.count << " calls=" << device.calls << "\n";
    query(out, modules, "device_hooks", device.regions[0]);
    const DetourHooks& guard = *game.guard;
    out << "guard hooks=" << guard.count << " names=";
    for (int i = 0; i < guard.count; ++i) out << (i ? "," : "") << guard.names[i];
    out << "\n";
    query(out, modules, "guard_ntdll", guard.regions[0]);
    query(out, modules, "guard_kernel32", guard.regions[1]);
    query(out, modules, "detour_target", target);
    query(out, modules, "detour_jump", first);
    query(out, modules, "detour_final", final);
    query(out, modules, "trampoline", tramp);

    int right = 0;
    for (std::size_t i = 0; i < game.jitFunctions.size(); ++i)
        right += game.jitFunctions[i](11) == jitExpected(static_cast<int>(i), 11);
    out << "jit base=" << hex(game.jit) << " functions=" << game.jitFunctions.size()
        << " correct=" << right << "\n";
    query(out, modules, "jit", game.jit);
    out << "splash loaded_ms=" << game.splashLoadedMs << " freed_ms=" << game.splashFreedMs
        << " path=" << game.splashPath << "\n";
    out << "late loaded_ms=" << game.lateLoadedMs << " path=" << game.latePath << "\n";
}

}  // namespace

void writeReport(const std::string& path, const StandinGame& game) {
    const std::vector<Module> modules = loadedModules();
    std::ostringstream out;
    BOOL wow64 = FALSE;
    IsWow64Process(GetCurrentProcess(), &wow64);
    unsigned long long imageBytes = 0, fileBytes = 0;
    for (const Module& m : modules) {
        imageBytes += m.size;
        WIN32_FILE_ATTRIBUTE_DATA data;
        if (GetFileAttributesExA(m.path.c_str(), GetFileExInfoStandard, &data))
            fileBytes += (static_cast<unsigned long long>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
    }
    out << "summary width=" << sizeof(void*) * 8 << " wow64=" << (wow64 ? 1 : 0) << " modules=" << modules.size()
        << " image_bytes=" << imageBytes << " file_bytes=" << fileBytes << " uptime_ms=" << msSinceProcessStart()
        << "\n";
    for (const Module& m : modules)
        out << "module base=" << hex(m.base) << " size=" << hex(m.size) << " path=" << m.path << "\n";
    reportRegions(out, modules);
    if (game.realistic.active) reportRealistic(out, game.realistic, modules);
    out << "patch addr=" << hex(game.patchTarget)
        << " bytes=" << bytes(game.patchTarget, 8) << "\n";
    query(out, modules, "patch", game.patchTarget);
    for (const auto& fixture : {std::make_pair("code-nop", game.codeNop), std::make_pair("code-detour", game.codeDetour)})
        if (fixture.second.at != nullptr)
            out << fixture.first << " addr=" << hex(fixture.second.at) << " target=" << hex(fixture.second.target)
                << "\n";
    if (game.cheatHook != nullptr)
        out << "unsigned-hook addr=" << hex(game.cheatHook->target) << " ex_addr=" << hex(game.cheatMinHook->target)
            << "\n";
    // Written aside and renamed, so that a reader never sees half a report.
    const std::string partial = path + ".partial";
    std::ofstream(partial, std::ios::binary) << out.str();
    MoveFileExA(partial.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING);
}

}  // namespace marvik
