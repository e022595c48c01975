#include "inventory/loader_list.h"

#include "base/little_endian.h"

#include <unordered_set>

namespace marvik {

namespace {

// Offsets in the loader's structures, by pointer width.
struct Layout {
    std::uint32_t pebLdr;         // PEB.Ldr
    std::uint32_t ldrLoadOrder;   // PEB_LDR_DATA.InLoadOrderModuleList
    std::uint32_t entrySize;      // the part of an entry read
    std::uint32_t dllBase;        // LDR_DATA_TABLE_ENTRY.DllBase
    std::uint32_t sizeOfImage;    // .SizeOfImage
    std::uint32_t fullDllName;    // .FullDllName (UNICODE_STRING)
    std::uint32_t baseDllName;    // .BaseDllName
    std::uint32_t stringBuffer;   // UNICODE_STRING.Buffer
};
constexpr Layout LAYOUT_32 = {0x0C, 0x0C, 0x34, 0x18, 0x20, 0x24, 0x2C, 4};
constexpr Layout LAYOUT_64 = {0x18, 0x10, 0x68, 0x30, 0x40, 0x48, 0x58, 8};

std::uint64_t pointerAt(const std::uint8_t* p, int width) { return width == 8 ? loadLe64(p) : loadLe32(p); }

bool readString(const ReadMemory& read, std::uint64_t buffer, std::uint16_t length, std::u16string& out) {
    out.clear();
    if (length == 0 || buffer == 0) return true;
    std::vector<std::uint8_t> bytes(length & ~1u);
    if (!read(buffer, bytes.data(), bytes.size())) return false;
    for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) out.push_back(static_cast<char16_t>(loadLe16(&bytes[i])));
    return true;
}

}  // namespace

bool readPointer(const ReadMemory& read, std::uint64_t address, int width, std::uint64_t& out) {
    std::uint8_t bytes[8] = {};
    if (!read(address, bytes, static_cast<std::size_t>(width))) return false;
    out = pointerAt(bytes, width);
    return true;
}

const ListedModule* moduleHolding(const std::vector<ListedModule>& listed, std::uint64_t address) {
    for (const ListedModule& m : listed)
        if (address >= m.base && address - m.base < m.size) return &m;
    return nullptr;
}

std::uint64_t wow64Peb(const ReadMemory& read, std::uint64_t wow64Answer, std::uint64_t nativePeb) {
    constexpr std::uint64_t PAGE = 0x1000;
    for (std::uint64_t candidate : {wow64Answer, nativePeb != 0 ? nativePeb + PAGE : 0}) {
        std::uint64_t ldr = 0;
        if (candidate != 0 && readPointer(read, candidate + LAYOUT_32.pebLdr, 4, ldr) && ldr != 0) return candidate;
    }
    return 0;
}

LoaderWalk walkLoaderList(const ReadMemory& read, std::uint64_t peb, int width, std::size_t maxModules,
                          std::vector<std::pair<LoaderEntryKey, LoadedModule>>& known) {
    LoaderWalk walk;
    walk.end.width = width;
    const Layout& at = width == 8 ? LAYOUT_64 : LAYOUT_32;
    std::uint64_t ldr = 0;
    if (peb == 0 || !readPointer(read, peb + at.pebLdr, width, ldr) || ldr == 0) return walk;
    const std::uint64_t head = ldr + at.ldrLoadOrder;
    std::uint64_t link = 0;
    if (!readPointer(read, head, width, link)) return walk;

    std::vector<std::pair<LoaderEntryKey, LoadedModule>> seen;
    std::unordered_set<std::uint64_t> visited;
    const std::size_t maxSteps = 2 * maxModules;
    std::uint8_t entry[0x68];
    walk.end.shape = LoaderListShape::BROKEN;
    for (;;) {
        if (link == head) {
            walk.end.shape = LoaderListShape::CLOSED;
            break;
        }
        if (link == 0 || !read(link, entry, at.entrySize)) break;
        if (!visited.insert(link).second) {
            walk.end.shape = LoaderListShape::LOOPED;
            walk.end.at = link;
            break;
        }
        if (visited.size() > maxSteps || walk.modules.size() >= maxModules) {
            walk.end.shape = LoaderListShape::TOO_LONG;
            walk.end.at = link;
            break;
        }
        const std::uint64_t next = pointerAt(entry, width);  // InLoadOrderLinks.Flink: the entry's first field
        LoaderEntryKey key;
        key.entry = link;
        key.base = pointerAt(entry + at.dllBase, width);
        key.imageSize = loadLe32(entry + at.sizeOfImage);
        key.pathLength = loadLe16(entry + at.fullDllName);
        key.pathBuffer = pointerAt(entry + at.fullDllName + at.stringBuffer, width);
        key.nameLength = loadLe16(entry + at.baseDllName);
        key.nameBuffer = pointerAt(entry + at.baseDllName + at.stringBuffer, width);
        link = next;

        // Entries keep their order from walk to walk: look at the same place
        // first, then everywhere.
        LoadedModule module;
        bool found = false;
        const std::size_t here = seen.size();
        if (here < known.size() && known[here].first == key) {
            module = known[here].second;
            found = true;
        }
        for (std::size_t k = 0; !found && k < known.size(); ++k) {
            if (known[k].first == key) {
                module = known[k].second;
                found = true;
            }
        }
        if (!found) {
            module.entry = key.entry;
            module.base = key.base;
            module.imageSize = key.imageSize;
            // An entry whose names cannot be read is left out, as the
            // system's enumeration leaves out a module it cannot name; so is
            // one the loader is still filling in or already tearing down
            // (no base or no path yet), met while the game loads or frees a
            // DLL: it would reach the server as a module with no name.
            if (key.base == 0 || key.pathLength < 2 ||
                !readString(read, key.pathBuffer, key.pathLength, module.path) ||
                !readString(read, key.nameBuffer, key.nameLength, module.name))
                continue;
        }
        seen.emplace_back(key, module);
        walk.modules.push_back(module);
    }
    known.swap(seen);
    return walk;
}

}  // namespace marvik
