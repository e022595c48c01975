// libFuzzer target: the configuration file's parser over any bytes a
// player's editor can leave in marvik_ac.cfg; the sanitizers judge it.
#include <cstdio>

#include "config/config.h"

using namespace marvik;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::FILE* file = fmemopen(const_cast<std::uint8_t*>(data), size, "rb");
    if (file == nullptr) return 0;
    Config cfg;
    parseConfigStream(file, cfg);
    std::fclose(file);
    return 0;
}
