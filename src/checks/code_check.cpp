#include "checks/code_check.h"

#include "app/little_endian.h"
#include "checks/pe_image.h"

namespace marvik {

ImageCode expectedImageCode(const std::vector<std::uint8_t>& file, std::uint64_t actualBase, bool withReadOnlyData) {
    ImageCode out;
    PeHeaders headers;
    if (!readPeHeaders(file.data(), file.size(), headers) || !headers.allSections) return out;
    out.pe64 = headers.pe64;
    out.timeDateStamp = headers.timeDateStamp;
    out.entryPoint = headers.entryPoint;
    out.sizeOfImage = headers.sizeOfImage;
    out.iatRva = headers.directory(PE_IMPORT_ADDRESSES).rva;
    out.iatSize = headers.directory(PE_IMPORT_ADDRESSES).size;

    constexpr std::uint32_t CODE = 0x20, EXECUTE = 0x20000000;  // IMAGE_SCN_CNT_CODE, IMAGE_SCN_MEM_EXECUTE
    constexpr std::uint32_t INITIALIZED = 0x40, READ = 0x40000000, WRITE = 0x80000000, DISCARDABLE = 0x02000000;
    std::size_t codeBytes = 0;
    for (const PeSection& s : headers.sections) {
        const bool readOnlyData = (s.flags & (CODE | EXECUTE)) == 0 &&
                                  (s.flags & (INITIALIZED | READ)) == (INITIALIZED | READ) &&
                                  (s.flags & (WRITE | DISCARDABLE)) == 0;
        if ((s.flags & (CODE | EXECUTE)) == 0 && !(withReadOnlyData && readOnlyData)) continue;
        if (readOnlyData && s.name == ".rsrc") continue;  // resources: large, and no code reads them as tables
        // Sections may overlap in the file: thousands of them over one
        // large span would be copied thousands of times. No module a
        // compiler makes comes near either bound.
        if (out.sections.size() == MAX_CODE_SECTIONS) return ImageCode{};
        std::uint32_t size = s.virtualSize;  // what is loaded
        if (size == 0 || size > s.rawSize) size = s.rawSize;
        if (size == 0) continue;
        if (s.rawOffset + static_cast<std::uint64_t>(size) > file.size()) return ImageCode{};
        codeBytes += size;
        if (codeBytes > MAX_CODE_BYTES) return ImageCode{};
        CodeSection section;
        section.rva = s.rva;
        section.readOnlyData = readOnlyData;
        section.bytes.assign(file.begin() + s.rawOffset, file.begin() + s.rawOffset + size);
        out.sections.push_back(std::move(section));
    }
    const std::uint64_t delta = actualBase - headers.imageBase;
    if (out.sections.empty() || delta == 0) return out;
    const bool relocated = forEachRelocation(file, headers, [&](std::uint64_t rva, unsigned width) {
        for (CodeSection& section : out.sections) {
            if (rva < section.rva || rva + width > section.rva + section.bytes.size()) continue;
            std::uint8_t* p = &section.bytes[rva - section.rva];
            if (width == 8)
                storeLe64(p, loadLe64(p) + delta);
            else
                storeLe32(p, loadLe32(p) + static_cast<std::uint32_t>(delta));
            return;
        }
    });
    if (!relocated) out.sections.clear();
    return out;
}

CodeSection expectedCodeSection(const std::vector<std::uint8_t>& file, std::uint64_t actualBase) {
    // The section named .text, as the client's own toolchain names its code.
    PeHeaders headers;
    ImageCode image = expectedImageCode(file, actualBase);
    if (image.sections.empty() || !readPeHeaders(file.data(), file.size(), headers)) return CodeSection{};
    for (const PeSection& s : headers.sections) {
        if (s.name != ".text") continue;
        for (CodeSection& section : image.sections)
            if (section.rva == s.rva) return std::move(section);
    }
    return CodeSection{};
}

}  // namespace marvik
