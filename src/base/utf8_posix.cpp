#include <cstdlib>

#include "base/utf8.h"

namespace marvik {

// The native build's ANSI code page is ISO 8859-1: every byte is the
// character of the same number, so tests can tell text it holds (é) from
// text it does not (П) as on an English-language Windows.

std::string utf8FromAnsi(const std::string& bytes) {
    std::u16string wide;
    for (unsigned char c : bytes) wide += c;
    return utf8FromUtf16(wide);
}

bool ansiFromUtf8(const std::string& text, std::string& ansi) {
    ansi.clear();
    for (char16_t c : utf16FromUtf8(text)) {
        if (c > 0xFF) return false;
        ansi += static_cast<char>(c);
    }
    return true;
}

std::FILE* openFile(const std::string& path, const char* mode) { return std::fopen(path.c_str(), mode); }

bool environmentValue(const char* name, std::string& value) {
    const char* found = std::getenv(name);
    if (found == nullptr) return false;
    value = found;
    return true;
}

}  // namespace marvik
