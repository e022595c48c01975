#include "config/config.h"

#include <algorithm>
#include <cctype>
#include <climits>
#include <cstring>

#include "base/exe_path.h"
#include "base/utf8.h"
#include "report/log.h"
#include "report/tray.h"

namespace marvik {

int configInteger(const char* text) {
    const unsigned char* p = reinterpret_cast<const unsigned char*>(text);
    while (std::isspace(*p)) ++p;
    bool negative = false;
    if (*p == '+' || *p == '-') negative = (*p++ == '-');
    long long value = 0;
    const long long limit = negative ? -static_cast<long long>(INT_MIN) : INT_MAX;
    for (; std::isdigit(*p); ++p) {
        value = value * 10 + (*p - '0');
        if (value >= limit) {
            value = limit;
            // Swallow the remaining digits: the value stays saturated.
            while (std::isdigit(p[1])) ++p;
        }
    }
    return static_cast<int>(negative ? -value : value);
}

namespace {

// A value cut at its field's length may end in half a UTF-8 character:
// drop the half.
std::string wholeCharacters(const char* value) {
    std::string text(value);
    std::size_t lead = text.size();
    while (lead > 0 && (static_cast<unsigned char>(text[lead - 1]) & 0xC0) == 0x80) --lead;
    if (lead == 0) return text;
    const unsigned char c = static_cast<unsigned char>(text[lead - 1]);
    const std::size_t length = c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : c >= 0xC0 ? 2 : 1;
    if (lead - 1 + length > text.size()) text.resize(lead - 1);
    return text;
}

}  // namespace

void parseConfigLine(char* line, Config& cfg) {
    line[std::strcspn(line, "\n")] = '\0';
    line[std::strcspn(line, "\r")] = '\0';
    if (line[0] == '\0' || line[0] == '#') return;

    char key[64];
    char value[192];
    if (std::sscanf(line, "%63[^=]=%191s", key, value) != 2) return;

    if (std::strcmp(key, "server_ip") == 0) {
        cfg.serverIP = wholeCharacters(value);
    } else if (std::strcmp(key, "server_port") == 0) {
        cfg.serverPort = static_cast<std::uint16_t>(configInteger(value));
    } else if (std::strcmp(key, "player_name") == 0) {
        cfg.playerName = wholeCharacters(value);
    } else if (std::strcmp(key, "auto_start") == 0) {
        cfg.autoStart = configInteger(value) != 0;
    } else if (std::strcmp(key, "encryption") == 0) {
        cfg.encryption = configInteger(value) != 0;
    }
}

void parseConfigText(const std::string& text, Config& cfg) {
    // Pieces as a 256-byte fgets buffer takes them: up to and including a
    // line feed, at most 255 bytes, and never half a character (a value cut
    // there stays UTF-8).
    char line[256];
    for (std::size_t at = 0; at < text.size();) {
        std::size_t end = text.find('\n', at);
        end = end == std::string::npos ? text.size() : end + 1;
        if (end - at > sizeof line - 1) end = at + std::max<std::size_t>(1, utf8Cut(text.substr(at, sizeof line - 1), sizeof line - 1));
        text.copy(line, end - at, at);
        line[end - at] = '\0';
        parseConfigLine(line, cfg);
        at = end;
    }
}

bool readConfigFile(const std::string& path, Config& cfg) {
    std::FILE* file = openFile(path, "rb");
    if (file == nullptr) return false;
    std::string bytes;
    char block[4096];
    for (std::size_t got; (got = std::fread(block, 1, sizeof block, file)) > 0;) bytes.append(block, got);
    std::fclose(file);
    parseConfigText(configFileText(bytes), cfg);
    return !cfg.serverIP.empty();
}

bool loadConfiguration(Config& cfg) {
    std::string path = pathBesideExecutable(CONFIG_FILE_NAME);
    if (path.empty() || !readConfigFile(path, cfg)) {
        logToFile("ERROR", "No config found at %s", path.c_str());
        showTrayBalloon("Config not found! Place marvik_ac.cfg next to exe.",
                        TrayBalloonLevel::Error);
        return false;
    }
    return true;
}

}  // namespace marvik
