// The game's modules read from its loader's own list in one pass: the
// process environment block names the loader data, whose load-order list
// holds one entry per module with its base, image size, full path and base
// name. This is the list the system's module enumeration reports, in the
// same order; walking it once replaces one walk per module and field.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace marvik {

// Reads size bytes of the game's memory at address into out; false when
// the memory cannot be read whole.
using ReadMemory = std::function<bool(std::uint64_t address, void* out, std::size_t size)>;

struct LoadedModule {
    std::uint64_t entry = 0;  // address of the loader entry
    std::uint64_t base = 0;
    std::uint32_t imageSize = 0;
    std::u16string path;  // as the loader recorded it
    std::u16string name;
};

// A module of the game's loader lists with the file the system says is
// mapped at its base, as the memory check weighs them against its memory.
struct ListedModule {
    std::uint64_t base = 0;
    std::uint32_t size = 0;
    std::string name;        // the module's name as the loader lists it
    std::string loaderPath;  // as the loader recorded it (a 32-bit game's system folder translated)
    std::string mappedPath;  // the file mapped there; empty when unknown
    bool sameFile = true;    // whether both paths name one file (or copies of one content)
};
// The file whose content is in memory at a module: the one mapped there,
// or the loader's word for it when the system cannot say.
inline const std::string& moduleFile(const ListedModule& m) {
    return m.mappedPath.empty() ? m.loaderPath : m.mappedPath;
}

// A pointer of the game's width (4 or 8 bytes) at address; false when it
// cannot be read.
bool readPointer(const ReadMemory& read, std::uint64_t address, int width, std::uint64_t& out);
// The listed module whose image holds address; null when none does.
const ListedModule* moduleHolding(const std::vector<ListedModule>& listed, std::uint64_t address);

// Where the names of an entry were read from: when none of it changed, the
// names read before still hold and need not be read again.
struct LoaderEntryKey {
    std::uint64_t entry = 0;
    std::uint64_t base = 0;
    std::uint32_t imageSize = 0;
    std::uint64_t pathBuffer = 0;
    std::uint16_t pathLength = 0;
    std::uint64_t nameBuffer = 0;
    std::uint16_t nameLength = 0;
    bool operator==(const LoaderEntryKey& o) const {
        return entry == o.entry && base == o.base && imageSize == o.imageSize && pathBuffer == o.pathBuffer &&
               pathLength == o.pathLength && nameBuffer == o.nameBuffer && nameLength == o.nameLength;
    }
};

// How a walk of a loader list ended. The list lives in the game's memory,
// so whoever controls the game controls its shape: a list that loops back
// on itself or runs on past any real module count was made so on purpose
// (the loader only ever links a closed ring), and is evidence in itself.
enum class LoaderListShape {
    CLOSED,    // back at the list's head: the loader's own ring
    UNREAD,    // no loader data to walk (no PEB, none yet, unreadable)
    BROKEN,    // a link or entry could not be read: freed while the game loads or unloads a DLL
    LOOPED,    // an entry came round again without the head: relinked by hand
    TOO_LONG,  // more entries than the bound: relinked by hand, or made up
};
struct LoaderListEnd {
    LoaderListShape shape = LoaderListShape::UNREAD;
    std::uint64_t at = 0;  // the entry where a loop closed or the bound was met
    int width = 0;         // the list's pointer width
};
struct LoaderWalk {
    std::vector<LoadedModule> modules;
    LoaderListEnd end;
};

// The 32-bit process environment block of a WOW64 process, as the 64-bit
// client finds it from the system's WOW64 answer and the 64-bit block's
// address: Windows answers with the 32-bit block's address, Wine with a
// mere yes (1); there, as on Windows, the 32-bit block follows the 64-bit
// one at the next page. The first candidate that holds loader data; 0 when
// neither does.
std::uint64_t wow64Peb(const ReadMemory& read, std::uint64_t wow64Answer, std::uint64_t nativePeb);

// The modules of the loader list whose process environment block is at
// peb, for a process of pointer width 4 or 8, in list order; at most
// maxModules. known holds the entries of the previous walk (updated here),
// so that an unchanged entry costs one read.
// Bounded whatever the game wrote: at most 2 * maxModules entries are read,
// skipped ones (no base, no path, names that cannot be read) included, each
// with at most three reads of at most 0x68 + 2 * 64 KiB bytes, and a
// revisited entry ends the walk. A list that cannot be read whole, loops or
// runs past the bound gives what was read up to there, with its shape.
LoaderWalk walkLoaderList(const ReadMemory& read, std::uint64_t peb, int width, std::size_t maxModules,
                          std::vector<std::pair<LoaderEntryKey, LoadedModule>>& known);

}  // namespace marvik
