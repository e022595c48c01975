// libFuzzer target: the PE readers over a module's file (code relocated to a
// load address) and over the same bytes in game memory at a module's base.
#include "checks/code_check.h"
#include "checks/code_patch.h"
#include "checks/hidden_modules.h"
#include "checks/pe_image.h"
#include "fuzz_memory.h"

using namespace marvik;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 8 || size > 1 << 20) return 0;
    const std::uint64_t base = 0x10000000ull + (static_cast<std::uint64_t>(data[0]) << 16);
    const std::vector<std::uint8_t> file(data + 1, data + size);

    const ImageCode image = expectedImageCode(file, base);
    std::size_t code = 0;
    for (const CodeSection& section : image.sections) code += section.bytes.size();
    if (code > file.size() * (image.sections.empty() ? 1 : image.sections.size())) __builtin_trap();
    expectedCodeSection(file, base);
    sameImage(image, file.data(), file.size());

    fuzz::Memory memory;
    memory.pieces.emplace(base, file);
    const std::vector<ListedModule> listed = {{base, 0x100000, "fuzz.dll", "C:\\fuzz.dll", "", true},
                                              {base + 0x100000, 0x1000, "next.dll", "C:\\next.dll", "", true}};
    // The headers, then the export directory whole, whatever the module claims.
    const std::vector<std::uint64_t> exports = exportAddresses(memory.reader(), base);
    if (exports.size() > MAX_EXPORTS || memory.bytesRead > 0x400 * 4 + MAX_EXPORT_DIRECTORY) __builtin_trap();
    loadedToRun(memory.reader(), base, listed);
    return 0;
}
