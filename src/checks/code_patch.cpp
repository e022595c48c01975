#include "checks/code_patch.h"

#include <cstdio>
#include <cstring>

#include "app/little_endian.h"
#include "checks/memory_scan.h"
#include "checks/pe_image.h"
#include "checks/text_match.h"

namespace marvik {

namespace {

// Graphics: where wallhacks and ESP overlays draw (EndScene, Present,
// DrawIndexedPrimitive, glDrawElements). Input: where aimbots and
// triggerbots read and fake the player's aim (GetDeviceState, XInputGetState,
// GetCursorPos, SendInput). System: what speedhacks slow or hurry
// (QueryPerformanceCounter, GetTickCount, timeGetTime), what packet tools
// rewrite (send, recv, sendto), and what hides a cheat from scanners
// (ReadProcessMemory, NtQueryVirtualMemory, the loader's own calls).
const char* const WATCHED_MODULES[] = {
    "d3d9.dll",   "d3d8.dll",   "dxgi.dll",       "d3d11.dll",    "opengl32.dll", "dinput8.dll",
    "dinput.dll", "xinput1_3.dll", "user32.dll",  "kernel32.dll", "kernelbase.dll", "ntdll.dll",
    "ws2_32.dll", "winmm.dll",  "gdi32.dll",
};

// Relay stubs followed from a detour to where it finally leads: a hooking
// library's own stub and at most a couple more.
constexpr int MAX_RELAYS = 3;
constexpr std::size_t DESCRIPTION_MAX = 63;

std::string hex(std::uint64_t value, int digits) {
    char text[24];
    std::snprintf(text, sizeof text, "0x%0*llx", digits, static_cast<unsigned long long>(value));
    return text;
}

const char* kindName(MemoryKind kind) {
    switch (kind) {
    case MemoryKind::Private: return "private";
    case MemoryKind::Mapped: return "mapped";
    case MemoryKind::Image: return "unlisted image";
    default: return "unmapped";
    }
}

// The jump or call that a patch writes: decoded where the run starts, or a
// few bytes before it when the patch kept the instruction's first bytes (a
// jump whose displacement alone was changed).
Prologue patchJump(const GameView& game, const PatchRun& run) {
    constexpr unsigned BACK = 5;
    std::uint8_t window[BACK + 16] = {};
    const bool before = run.address >= BACK && game.read(run.address - BACK, window, sizeof window);
    if (!before && !game.read(run.address, window + BACK, 16)) return Prologue{};
    Prologue p = decodePrologue(window + BACK, 16, run.address, game.width);
    if (p.jumps || !before) return p;
    for (unsigned back = 1; back <= BACK; ++back) {
        const Prologue earlier = decodePrologue(window + BACK - back, 16, run.address - back, game.width);
        if (earlier.jumps && earlier.length > back) return earlier;
    }
    return Prologue{};
}

}  // namespace

const ListedModule* hookDestination(const GameView& game, std::uint64_t target, std::uint64_t& landing) {
    const int pointerSize = game.width == CodeWidth::X64 ? 8 : 4;
    landing = target;
    const ListedModule* module = moduleHolding(game.modules, target);
    for (int hop = 0; module == nullptr && hop < MAX_RELAYS; ++hop) {
        std::uint8_t bytes[16];
        if (!game.read(landing, bytes, sizeof bytes)) break;
        const Prologue p = decodePrologue(bytes, sizeof bytes, landing, game.width);
        if (!p.jumps || p.call) break;
        std::uint64_t next = p.target;
        if (p.indirect) {
            std::uint8_t pointer[8] = {};
            if (!game.read(p.target, pointer, static_cast<std::size_t>(pointerSize))) break;
            next = pointerSize == 8 ? loadLe64(pointer) : loadLe32(pointer);
        }
        landing = next;
        module = moduleHolding(game.modules, landing);
    }
    return module;
}

bool trustedHookEnd(const GameView& game, const ListedModule* into) {
    if (into == nullptr) return false;
    if (game.trusted) return game.trusted(*into);
    return !loadedFromUnusualFolder(moduleFile(*into), game.gameFolder);
}

HookEnd hookEnd(const GameView& game, std::uint64_t target, std::uint64_t landing, const ListedModule* into) {
    // A module that vouches for nothing is named as such: an overlay that
    // turns out unsigned is an admin's question, not a silent pass.
    if (into != nullptr)
        return {into->name, "+" + hex(landing - into->base, 0) + (game.trusted && !game.trusted(*into) ? " unsigned" : "")};
    if (const ListedModule* first = moduleHolding(game.modules, target)) return {first->name, "+" + hex(target - first->base, 0)};
    const int digits = game.width == CodeWidth::X64 ? 12 : 8;
    return {kindName(game.kindAt ? game.kindAt(target) : MemoryKind::Free), " " + hex(target, digits)};
}

namespace {

// "Code patch <name>+<at><joint><other><rest>", the longer of the two
// names cut until it fits.
std::string fitted(const char* label, std::string name, const std::string& at, const char* joint, std::string other,
                   const std::string& rest) {
    auto text = [&] { return std::string(label) + " " + name + "+" + at + joint + other + rest; };
    while (text().size() > DESCRIPTION_MAX && (name.size() > 6 || other.size() > 6)) {
        std::string& longer = name.size() >= other.size() ? name : other;
        longer.pop_back();
    }
    return text().substr(0, DESCRIPTION_MAX);
}

}  // namespace

bool readOnlyDataWatched(const std::string& moduleName) {
    for (const char* name : {"d3d9.dll", "d3d8.dll", "dxgi.dll", "d3d11.dll"})
        if (equalsIgnoreCase(moduleName, name)) return true;
    return false;
}

bool codeWatched(const std::string& moduleName, bool isGameExecutable) {
    if (isGameExecutable) return true;
    for (const char* name : WATCHED_MODULES)
        if (equalsIgnoreCase(moduleName, name)) return true;
    return false;
}

bool pageWritten(std::uint64_t attributes) {
    // Bit 15 is Shared, for resident and (since Windows 8.1) paged-out pages
    // alike; older systems leave it clear for a page not resident, which
    // then costs a comparison but never a false finding.
    return (attributes & (1ull << 15)) == 0;
}

std::vector<PatchRun> differingRuns(const std::uint8_t* expected, const std::uint8_t* actual, std::size_t n,
                                    std::uint64_t address, std::uint64_t skipFrom, std::uint64_t skipTo) {
    std::vector<PatchRun> runs;
    std::size_t lastEnd = 0;
    for (std::size_t i = 0; i < n; ++i) {
        if (expected[i] == actual[i]) continue;
        const std::uint64_t at = address + i;
        if (at >= skipFrom && at < skipTo) continue;
        if (!runs.empty() && i - lastEnd <= PATCH_JOIN_GAP) {
            runs.back().length = static_cast<std::uint32_t>(at + 1 - runs.back().address);
        } else {
            runs.push_back(PatchRun{at, 1});
        }
        lastEnd = i + 1;
    }
    return runs;
}

bool patchFinding(const GameView& game, std::size_t module, const PatchRun& run, MemoryScanHit& hit) {
    const ListedModule& patched = game.modules[module];
    const std::string at = hex(run.address - patched.base, 0);
    hit = MemoryScanHit{};
    hit.address = static_cast<std::uint32_t>(run.address);  // the low half, as the memory check's other hits
    hit.size = run.length;
    const Prologue jump = patchJump(game, run);
    if (!jump.jumps) {
        hit.description = fitted(LABEL_CODE_PATCH, patched.name, at, " (", "", std::to_string(run.length) + " bytes)");
        return true;
    }
    std::uint64_t target = jump.target;
    if (jump.indirect) {
        std::uint8_t pointer[8] = {};
        const std::size_t size = game.width == CodeWidth::X64 ? 8 : 4;
        if (game.read(jump.target, pointer, size)) target = size == 8 ? loadLe64(pointer) : loadLe32(pointer);
    }
    std::uint64_t landing = 0;
    const ListedModule* into = hookDestination(game, target, landing);
    // An overlay's detour: into another module that is trusted. A cheat's
    // DLL is the module check's business.
    if (into != nullptr && into != &patched && trustedHookEnd(game, into)) return false;
    const HookEnd end = hookEnd(game, target, landing, into != &patched ? into : nullptr);
    hit.description = fitted(LABEL_CODE_PATCH, patched.name, at, " -> ", end.name, end.rest);
    return true;
}

bool dataPatchFinding(const GameView& game, std::size_t module, const PatchRun& run, MemoryScanHit& hit) {
    const ListedModule& patched = game.modules[module];
    const std::size_t width = game.width == CodeWidth::X64 ? 8 : 4;
    const std::uint64_t slot = run.address & ~static_cast<std::uint64_t>(width - 1);
    hit = MemoryScanHit{};
    hit.address = static_cast<std::uint32_t>(slot);
    hit.size = run.length;
    std::uint64_t value = 0;
    const bool pointer = readPointer(game.read, slot, static_cast<int>(width), value) &&
                         (moduleHolding(game.modules, value) != nullptr ||
                          (game.kindAt && game.kindAt(value) != MemoryKind::Free));
    if (!pointer) {
        hit.description = fitted(LABEL_DATA_PATCH, patched.name, hex(run.address - patched.base, 0), " (", "",
                                 std::to_string(run.length) + " bytes)");
        return true;
    }
    std::uint64_t landing = 0;
    const ListedModule* into = hookDestination(game, value, landing);
    if (into != nullptr && into != &patched && trustedHookEnd(game, into)) return false;
    const HookEnd end = hookEnd(game, value, landing, into != &patched ? into : nullptr);
    hit.description = fitted(LABEL_DATA_PATCH, patched.name, hex(slot - patched.base, 0), " -> ", end.name, end.rest);
    return true;
}

bool sameImage(const ImageCode& file, const std::uint8_t* h, std::size_t n) {
    PeHeaders loaded;
    return readPeHeaders(h, n, loaded) && loaded.timeDateStamp == file.timeDateStamp &&
           loaded.entryPoint == file.entryPoint && loaded.sizeOfImage == file.sizeOfImage && loaded.pe64 == file.pe64;
}

}  // namespace marvik
