// libFuzzer target: the walk of the game's loader list at both widths ends
// within its bound of entries and reads whatever the list links.
#include "fuzz_memory.h"

using namespace marvik;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz::Input in{data, size};
    const int width = (in.take(1) & 1) ? 8 : 4;
    const std::size_t maxModules = 1 + in.take(1) % 64;
    fuzz::Memory memory;
    fuzz::fill(memory, in, 0x10000);
    std::vector<std::pair<LoaderEntryKey, LoadedModule>> known;
    for (int walk = 0; walk < 2; ++walk) {  // the second from what the first remembered
        memory.reads = memory.bytesRead = 0;
        const LoaderWalk got = walkLoaderList(memory.reader(), 0x1000, width, maxModules, known);
        const std::size_t entries = 2 * maxModules + 1;  // each: its record and two names
        if (got.modules.size() > maxModules || memory.reads > 2 + 3 * entries ||
            memory.bytesRead > 16 + entries * (0x68 + 2 * 0x10000))
            __builtin_trap();
        const LoaderListShape shape = got.end.shape;
        if ((shape == LoaderListShape::LOOPED || shape == LoaderListShape::TOO_LONG) && got.end.at == 0)
            __builtin_trap();
    }
    return 0;
}
