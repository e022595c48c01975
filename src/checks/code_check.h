// What a module's code and read-only data must look like loaded: its
// file's sections with the base relocations applied, for comparing with
// what the game holds.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "checks/x86_decode.h"

namespace marvik {

// The code section of a PE image as it must look loaded at actualBase: the
// raw section bytes from the file with its base relocations applied. Empty
// when the file is not a PE image this can read.
struct CodeSection {
    std::uint32_t rva = 0;
    std::vector<std::uint8_t> bytes;
    bool readOnlyData = false;  // initialized, readable, neither writable nor executable
};
CodeSection expectedCodeSection(const std::vector<std::uint8_t>& file, std::uint64_t actualBase);

// Every executable section of a PE image of either format (PE32 or PE32+,
// whatever this build's own width) as it must look loaded at actualBase,
// and what names the image: a loaded module whose header disagrees was not
// mapped from this file. Empty sections when the file cannot be read as a PE
// image or its relocations cannot be found.
// The file is whoever made the module's, so the work is bounded by it: at
// most MAX_CODE_SECTIONS executable sections holding MAX_CODE_BYTES in all
// (more gives empty sections), every offset checked against the file, and
// one pass over the relocation directory's bytes per section.
constexpr std::size_t MAX_CODE_SECTIONS = 96;
constexpr std::size_t MAX_CODE_BYTES = std::size_t(64) << 20;
struct ImageCode {
    bool pe64 = false;
    std::uint32_t timeDateStamp = 0;
    std::uint32_t sizeOfImage = 0;
    std::uint32_t entryPoint = 0;
    std::uint32_t iatRva = 0;  // the import address table, which the loader fills in
    std::uint32_t iatSize = 0;
    std::vector<CodeSection> sections;
};
// With withReadOnlyData, the read-only data sections too (where compilers
// put C++ and COM method tables), under the same bounds.
ImageCode expectedImageCode(const std::vector<std::uint8_t>& file, std::uint64_t actualBase,
                            bool withReadOnlyData = false);

}  // namespace marvik
