// The one reader of PE images, for files and for modules in the game's
// memory alike: headers, sections, the data directories, base relocations
// and the export table with its forwarders. Every byte it reads was written
// by whoever made the file or controls the game, so every count and offset
// is checked against what was read, and each walk states its bound.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "inventory/loader_list.h"

namespace marvik {

enum PeDirectoryIndex { PE_EXPORTS = 0, PE_IMPORTS = 1, PE_RELOCATIONS = 5, PE_IMPORT_ADDRESSES = 12 };

struct PeSection {
    std::string name;  // up to 8 characters
    std::uint32_t rva = 0, virtualSize = 0, rawSize = 0, rawOffset = 0, flags = 0;
};
struct PeDirectory {
    std::uint32_t rva = 0, size = 0;
};

// What the headers say. sections holds the table's entries that lie inside
// the bytes read (all of them for a whole file; a header page read from
// memory may cut a long table short).
struct PeHeaders {
    bool pe64 = false;
    std::uint32_t timeDateStamp = 0, entryPoint = 0, sizeOfImage = 0;
    std::uint64_t imageBase = 0;
    std::vector<PeDirectory> directories;  // as many as the optional header holds, at most 16
    std::vector<PeSection> sections;
    bool allSections = false;  // the whole section table was inside the bytes
    PeDirectory directory(int index) const {
        return index < static_cast<int>(directories.size()) ? directories[index] : PeDirectory{};
    }
};

// The cheap test the memory map uses: "MZ", then "PE\0\0" where the DOS
// header points, inside the n bytes.
bool looksLikePEHeader(const std::uint8_t* bytes, std::size_t n);

// The headers of a PE32 or PE32+ image whose first n bytes are at bytes;
// false when they are not one's.
bool readPeHeaders(const std::uint8_t* bytes, std::size_t n, PeHeaders& out);

// The file offset of [rva, rva + length) through the section table, or
// false when no section's raw data inside a file of fileSize bytes holds it.
bool fileOffsetOf(const PeHeaders& headers, std::uint32_t rva, std::uint32_t length, std::size_t fileSize,
                  std::size_t& offset);

// Each base relocation of the file that moves 4 bytes (HIGHLOW) or 8
// (DIR64): visit(rva, width). One pass over the directory's bytes, a block
// shorter than its own header ending it. False when the directory is not
// in the file.
bool forEachRelocation(const std::vector<std::uint8_t>& file, const PeHeaders& headers,
                       const std::function<void(std::uint64_t rva, unsigned width)>& visit);

// The pointer width and one data directory of the image at base in the
// game, from one read of its first 0x400 bytes; false when they are not a
// PE image's or the directory is empty.
bool imageDirectory(const ReadMemory& read, std::uint64_t base, int index, int& width, std::uint32_t& rva,
                    std::uint32_t& size);

// A module's exports read from the game in one piece: the export
// directory's bytes hold its tables and names (linkers put them there), so
// one read serves every name. At most 4 MiB and 0x10000 functions and
// names; tables outside the directory's bytes are no exports.
constexpr std::uint32_t MAX_EXPORT_DIRECTORY = 4u << 20;
constexpr std::uint32_t MAX_EXPORTS = 0x10000;
constexpr std::size_t MAX_EXPORT_NAME = 255;
struct PeExports {
    bool read = false;
    std::uint32_t dirRva = 0, dirSize = 0, ordinalBase = 0;
    std::vector<std::uint8_t> dir;
    std::vector<std::uint32_t> functions;         // RVAs by index
    std::map<std::string, std::uint32_t> byName;  // index by name
    // Whether an RVA lies in the directory; a function there is a
    // forwarder (its text "DLL.Function").
    bool inDirectory(std::uint32_t rva) const { return rva >= dirRva && rva - dirRva < dirSize; }
    // The NUL-terminated text at an RVA inside the directory (a name or a
    // forwarder's "DLL.Function"), at most MAX_EXPORT_NAME characters.
    std::string text(std::uint32_t rva) const;
};
PeExports readExports(const ReadMemory& read, std::uint64_t base);
// The addresses of a module's exported code (forwarders left out), sorted.
std::vector<std::uint64_t> exportAddresses(const ReadMemory& read, std::uint64_t base);

}  // namespace marvik
