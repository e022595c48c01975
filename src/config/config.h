// marvik_ac.cfg: key=value lines beside the executable, read once at start.
#pragma once

#include <cstdint>
#include <string>

namespace marvik {

struct Config {
    std::string serverIP;
    std::uint16_t serverPort = 28960;
    std::string playerName;
    bool autoStart = true;
    bool encryption = false;
};

constexpr const char* CONFIG_FILE_NAME = "marvik_ac.cfg";

// The leading decimal integer of text by atoi's rules (blanks, sign, digits,
// the rest ignored, no digits give 0). Out-of-range values saturate at the
// int limits, as the Windows runtime's atoi does, instead of being undefined.
int configInteger(const char* text);

// One piece as read into the 256-byte line buffer; cut at LF and CR here.
void parseConfigLine(char* line, Config& cfg);

// Every line of the file's text (UTF-8), in pieces of at most 255 bytes.
void parseConfigText(const std::string& text, Config& cfg);

// The file at a UTF-8 path, read as UTF-8 when it is that (a byte-order
// mark skipped), else in the ANSI code page. False when the file cannot be
// opened or names no server.
bool readConfigFile(const std::string& path, Config& cfg);

// Reads the file beside the executable into cfg. When there is no usable
// configuration it logs "No config found at <path>", shows the balloon and
// returns false.
bool loadConfiguration(Config& cfg);

}  // namespace marvik
