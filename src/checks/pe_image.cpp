#include "checks/pe_image.h"

#include <algorithm>
#include <cstring>

#include "app/little_endian.h"

namespace marvik {

bool looksLikePEHeader(const std::uint8_t* b, std::size_t n) {
    if (n < 0x40 || b[0] != 'M' || b[1] != 'Z') return false;
    const std::uint32_t pe = loadLe32(b + 0x3C);
    return pe >= 0x40 && pe <= n - 4 && std::memcmp(b + pe, "PE\0\0", 4) == 0;
}

bool readPeHeaders(const std::uint8_t* b, std::size_t n, PeHeaders& out) {
    out = PeHeaders{};
    if (n < 0x40 || b[0] != 'M' || b[1] != 'Z') return false;
    const std::uint32_t pe = loadLe32(b + 0x3C);
    if (pe > n || n - pe < 24 + 0x60 || std::memcmp(b + pe, "PE\0\0", 4) != 0) return false;
    const std::uint8_t* opt = b + pe + 24;
    const std::uint16_t magic = loadLe16(opt), optSize = loadLe16(b + pe + 20), sections = loadLe16(b + pe + 6);
    if (magic != 0x10B && magic != 0x20B) return false;
    out.pe64 = magic == 0x20B;
    const std::size_t dirsAt = out.pe64 ? 112 : 96;
    if (optSize < dirsAt || n - pe - 24 < dirsAt) return false;
    out.timeDateStamp = loadLe32(b + pe + 8);
    out.entryPoint = loadLe32(opt + 16);
    out.sizeOfImage = loadLe32(opt + 56);
    out.imageBase = out.pe64 ? loadLe64(opt + 24) : loadLe32(opt + 28);
    const std::size_t optEnd = std::min<std::size_t>(optSize, n - pe - 24);
    for (std::size_t at = dirsAt; at + 8 <= optEnd && out.directories.size() < 16; at += 8)
        out.directories.push_back(PeDirectory{loadLe32(opt + at), loadLe32(opt + at + 4)});
    const std::size_t table = pe + 24 + static_cast<std::size_t>(optSize);
    for (std::size_t i = 0; i < sections && table + (i + 1) * 40 <= n; ++i) {
        const std::uint8_t* s = b + table + i * 40;
        PeSection section;
        section.name.assign(reinterpret_cast<const char*>(s), strnlen(reinterpret_cast<const char*>(s), 8));
        section.virtualSize = loadLe32(s + 8);
        section.rva = loadLe32(s + 12);
        section.rawSize = loadLe32(s + 16);
        section.rawOffset = loadLe32(s + 20);
        section.flags = loadLe32(s + 36);
        out.sections.push_back(std::move(section));
    }
    out.allSections = out.sections.size() == sections;
    return true;
}

bool fileOffsetOf(const PeHeaders& headers, std::uint32_t rva, std::uint32_t length, std::size_t fileSize,
                  std::size_t& offset) {
    for (const PeSection& s : headers.sections) {
        if (rva >= s.rva && rva - s.rva + static_cast<std::uint64_t>(length) <= s.rawSize &&
            s.rawOffset + static_cast<std::uint64_t>(s.rawSize) <= fileSize) {
            offset = s.rawOffset + (rva - s.rva);
            return true;
        }
    }
    return false;
}

bool forEachRelocation(const std::vector<std::uint8_t>& file, const PeHeaders& headers,
                       const std::function<void(std::uint64_t rva, unsigned width)>& visit) {
    const PeDirectory dir = headers.directory(PE_RELOCATIONS);
    if (dir.rva == 0 || dir.size == 0) return true;
    std::size_t start = 0;
    if (!fileOffsetOf(headers, dir.rva, dir.size, file.size(), start)) return false;
    for (std::size_t at = start; at + 8 <= start + dir.size;) {
        const std::uint32_t page = loadLe32(&file[at]), blockSize = loadLe32(&file[at + 4]);
        if (blockSize < 8 || at + blockSize > start + dir.size) break;
        for (std::size_t e = at + 8; e + 2 <= at + blockSize; e += 2) {
            const std::uint16_t entry = loadLe16(&file[e]);
            const unsigned type = entry >> 12, width = type == 10 ? 8 : type == 3 ? 4 : 0;  // DIR64, HIGHLOW
            if (width != 0) visit(static_cast<std::uint64_t>(page) + (entry & 0xFFF), width);
        }
        at += blockSize;
    }
    return true;
}

bool imageDirectory(const ReadMemory& read, std::uint64_t base, int index, int& width, std::uint32_t& rva,
                    std::uint32_t& size) {
    std::uint8_t head[0x400];
    PeHeaders headers;
    if (!read(base, head, sizeof head) || !readPeHeaders(head, sizeof head, headers)) return false;
    width = headers.pe64 ? 8 : 4;
    rva = headers.directory(index).rva;
    size = headers.directory(index).size;
    return rva != 0;
}

std::string PeExports::text(std::uint32_t rva) const {
    std::string name;
    for (std::size_t at = rva - dirRva; inDirectory(rva) && at < dir.size() && dir[at] != 0 && name.size() < MAX_EXPORT_NAME;)
        name.push_back(static_cast<char>(dir[at++]));
    return name;
}

PeExports readExports(const ReadMemory& read, std::uint64_t base) {
    PeExports e;
    int width = 0;
    if (!imageDirectory(read, base, PE_EXPORTS, width, e.dirRva, e.dirSize) || e.dirSize < 40 ||
        e.dirSize > MAX_EXPORT_DIRECTORY)
        return e;
    e.dir.resize(e.dirSize);
    if (!read(base + e.dirRva, e.dir.data(), e.dir.size())) return e;
    const std::uint8_t* d = e.dir.data();
    e.ordinalBase = loadLe32(d + 16);
    const std::uint32_t functions = std::min(loadLe32(d + 20), MAX_EXPORTS);
    const std::uint32_t names = std::min(loadLe32(d + 24), MAX_EXPORTS);
    // A table inside the directory's bytes, or none: tables elsewhere are
    // not what a linker writes.
    auto table = [&](std::uint32_t rva, std::uint32_t entrySize, std::uint32_t count) -> const std::uint8_t* {
        if (!e.inDirectory(rva) || static_cast<std::uint64_t>(count) * entrySize > e.dirSize - (rva - e.dirRva))
            return nullptr;
        return d + (rva - e.dirRva);
    };
    const std::uint8_t* f = table(loadLe32(d + 28), 4, functions);
    const std::uint8_t* n = table(loadLe32(d + 32), 4, names);
    const std::uint8_t* o = table(loadLe32(d + 36), 2, names);
    if (f == nullptr) return e;
    for (std::uint32_t i = 0; i < functions; ++i) e.functions.push_back(loadLe32(f + 4 * i));
    for (std::uint32_t i = 0; n != nullptr && o != nullptr && i < names; ++i) {
        const std::uint32_t at = loadLe32(n + 4 * i);
        if (e.inDirectory(at)) e.byName.emplace(e.text(at), loadLe16(o + 2 * i));
    }
    e.read = true;
    return e;
}

std::vector<std::uint64_t> exportAddresses(const ReadMemory& read, std::uint64_t base) {
    const PeExports e = readExports(read, base);
    std::vector<std::uint64_t> out;
    for (std::uint32_t rva : e.functions)
        if (rva != 0 && !e.inDirectory(rva)) out.push_back(base + rva);
    std::sort(out.begin(), out.end());
    return out;
}

}  // namespace marvik
