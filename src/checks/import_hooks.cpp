#include "checks/import_hooks.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <map>

#include "app/little_endian.h"
#include "checks/hidden_modules.h"
#include "checks/memory_scan.h"
#include "checks/pe_image.h"
#include "checks/text_match.h"

namespace marvik {

namespace {

constexpr std::size_t MAX_DESCRIPTORS = 512;
constexpr std::size_t MAX_ENTRIES = 4096;
constexpr std::size_t MAX_NAME = MAX_EXPORT_NAME;
constexpr int MAX_FORWARDS = 4;
constexpr std::size_t MAX_HITS = 16;
constexpr std::size_t DESCRIPTION_MAX = 63;

// A NUL-terminated name of at most MAX_NAME characters, read in small
// pieces so that a name near the end of readable memory is still read.
std::string readName(const ReadMemory& read, std::uint64_t address) {
    std::string name;
    char piece[16];
    while (name.size() < MAX_NAME) {
        if (!read(address + name.size(), piece, sizeof piece)) {
            if (!read(address + name.size(), piece, 1)) return name;
            if (piece[0] == '\0') return name;
            name.push_back(piece[0]);
            continue;
        }
        for (char c : piece) {
            if (c == '\0' || name.size() == MAX_NAME) return name;
            name.push_back(c);
        }
    }
    return name;
}

const ListedModule* moduleNamed(const GameView& game, std::string name) {
    if (name.find('.') == std::string::npos) name += ".dll";
    for (const ListedModule& m : game.modules)
        if (equalsIgnoreCase(m.name, name)) return &m;
    return nullptr;
}

std::string cut(std::string text) {
    if (text.size() > DESCRIPTION_MAX) text.resize(DESCRIPTION_MAX);
    return text;
}

}  // namespace

std::vector<ImportSlot> readImports(const ReadMemory& read, std::uint64_t base, int width) {
    std::vector<ImportSlot> slots;
    std::uint32_t rva = 0, size = 0;
    int imageWidth = 0;
    if (!imageDirectory(read, base, PE_IMPORTS, imageWidth, rva, size) || imageWidth != width) return slots;
    const std::uint64_t ordinalFlag = width == 8 ? 1ull << 63 : 1ull << 31;
    for (std::size_t d = 0; d < MAX_DESCRIPTORS; ++d) {
        std::uint8_t descriptor[20];
        if (!read(base + rva + 20 * d, descriptor, sizeof descriptor)) break;
        const std::uint32_t lookup = loadLe32(descriptor), name = loadLe32(descriptor + 12),
                            addresses = loadLe32(descriptor + 16);
        if (name == 0 && addresses == 0) break;
        if (lookup == 0 || addresses == 0) continue;  // bound without names: nothing to compare with
        const std::string dll = readName(read, base + name);
        for (std::size_t e = 0; e < MAX_ENTRIES; ++e) {
            std::uint64_t entry = 0, value = 0;
            const std::uint64_t slot = base + addresses + static_cast<std::uint64_t>(e) * width;
            if (!readPointer(read, base + lookup + static_cast<std::uint64_t>(e) * width, width, entry) || entry == 0 ||
                !readPointer(read, slot, width, value))
                break;
            ImportSlot s;
            s.dll = dll;
            s.function = (entry & ordinalFlag) != 0 ? "#" + std::to_string(entry & 0xFFFF)
                                                    : readName(read, base + (entry & 0x7FFFFFFF) + 2);
            s.slot = slot;
            s.value = value;
            slots.push_back(std::move(s));
        }
    }
    return slots;
}

namespace {

using ExportCache = std::map<std::uint64_t, PeExports>;

// The address the export named resolves to in the module at base, its
// forwarders followed (at most MAX_FORWARDS, each to a listed module); 0
// when it cannot be resolved.
std::uint64_t resolveExport(const GameView& game, ExportCache& cache, std::uint64_t base, const std::string& function,
                            int hops = 0) {
    auto found = cache.find(base);
    if (found == cache.end()) found = cache.emplace(base, readExports(game.read, base)).first;
    const PeExports& e = found->second;
    if (!e.read) return 0;
    std::uint32_t index = 0xFFFFFFFF;
    if (!function.empty() && function[0] == '#') {
        index = static_cast<std::uint32_t>(std::strtoul(function.c_str() + 1, nullptr, 10)) - e.ordinalBase;
    } else {
        const auto named = e.byName.find(function);
        if (named != e.byName.end()) index = named->second;
    }
    if (index >= e.functions.size()) return 0;
    const std::uint32_t target = e.functions[index];
    if (!e.inDirectory(target)) return base + target;
    // A forwarder: "DLL.Function" or "DLL.#ordinal".
    const std::string forward = e.text(target);
    const std::size_t dot = forward.rfind('.');
    if (hops >= MAX_FORWARDS || dot == std::string::npos) return 0;
    const ListedModule* next = moduleNamed(game, forward.substr(0, dot));
    return next != nullptr ? resolveExport(game, cache, next->base, forward.substr(dot + 1), hops + 1) : 0;
}

}  // namespace

std::vector<MemoryScanHit> findImportHooks(const GameView& game) {
    std::vector<MemoryScanHit> hits;
    if (game.modules.empty()) return hits;
    const int width = game.width == CodeWidth::X64 ? 8 : 4;
    ExportCache exports;
    for (const ImportSlot& s : readImports(game.read, game.modules[0].base, width)) {
        const ListedModule* named = moduleNamed(game, s.dll);
        if (named == nullptr) continue;  // an API set or a name the loader mapped elsewhere
        const std::uint64_t expected = resolveExport(game, exports, named->base, s.function);
        if (expected == 0 || s.value == expected) continue;
        const ListedModule* expectedOwner = moduleHolding(game.modules, expected);
        if (expectedOwner != nullptr && moduleHolding(game.modules, s.value) == expectedOwner) continue;
        std::uint64_t landing = 0;
        const ListedModule* into = hookDestination(game, s.value, landing);
        if (trustedHookEnd(game, into)) continue;
        const HookEnd end = hookEnd(game, s.value, landing, into);
        MemoryScanHit hit;
        hit.address = static_cast<std::uint32_t>(s.slot);
        hit.size = static_cast<std::uint32_t>(width);
        hit.description = cut(std::string(LABEL_IMPORT_HOOK) + " " + s.dll + "!" + s.function + " -> " + end.name + end.rest);
        hits.push_back(hit);
        if (hits.size() == MAX_HITS) break;
    }
    return hits;
}

}  // namespace marvik
