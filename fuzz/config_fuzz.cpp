// libFuzzer target: decoding and parsing any bytes a player's editor can leave in marvik_ac.cfg.
#include <string>

#include "base/utf8.h"
#include "config/config.h"

using namespace marvik;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text = configFileText(std::string(reinterpret_cast<const char*>(data), size));
    Config cfg;
    parseConfigText(text, cfg);
    if (!isValidUtf8(text) || !isValidUtf8(cfg.playerName)) __builtin_trap();
    wireText(cfg.playerName, 32);
    return 0;
}
