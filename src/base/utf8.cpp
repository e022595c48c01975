#include "base/utf8.h"

namespace marvik {

namespace {

constexpr char32_t REPLACEMENT = 0xFFFD;

// The character at text[i], i moved past it; an ill-formed sequence gives
// REPLACEMENT and moves on by one byte, so the next one starts afresh.
char32_t decodeAt(const std::string& text, std::size_t& i) {
    const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
    const unsigned char lead = byte(i);
    if (lead < 0x80) {
        ++i;
        return lead;
    }
    std::size_t length = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 0;
    if (length == 0 || i + length > text.size()) {
        ++i;
        return REPLACEMENT;
    }
    char32_t c = lead & (0x7F >> length);
    for (std::size_t k = 1; k < length; ++k) {
        if ((byte(i + k) & 0xC0) != 0x80) {
            ++i;
            return REPLACEMENT;
        }
        c = (c << 6) | (byte(i + k) & 0x3F);
    }
    static const char32_t smallest[] = {0, 0, 0x80, 0x800, 0x10000};
    if (c < smallest[length] || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) {
        ++i;
        return REPLACEMENT;
    }
    i += length;
    return c;
}

bool isReplacementBytes(const std::string& text, std::size_t at) {
    return text.compare(at, 3, "\xEF\xBF\xBD") == 0;
}

void appendUtf8(std::string& out, char32_t c) {
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

}  // namespace

std::u16string utf16FromUtf8(const std::string& text) {
    std::u16string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size();) {
        const char32_t c = decodeAt(text, i);
        if (c < 0x10000) {
            out += static_cast<char16_t>(c);
        } else {
            out += static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10));
            out += static_cast<char16_t>(0xDC00 + ((c - 0x10000) & 0x3FF));
        }
    }
    return out;
}

std::string utf8FromUtf16(const std::u16string& text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        char32_t c = text[i];
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
            c = 0x10000 + ((c - 0xD800) << 10) + (text[++i] - 0xDC00);
        } else if (c >= 0xD800 && c <= 0xDFFF) {
            c = REPLACEMENT;
        }
        appendUtf8(out, c);
    }
    return out;
}

bool isValidUtf8(const std::string& text) {
    for (std::size_t i = 0; i < text.size();) {
        const std::size_t at = i;
        // A decoded U+FFFD is an error unless the text really holds one.
        if (decodeAt(text, i) == REPLACEMENT && !isReplacementBytes(text, at)) return false;
    }
    return true;
}

std::size_t utf16Length(const std::string& text) {
    std::size_t units = 0;
    for (std::size_t i = 0; i < text.size();) units += decodeAt(text, i) >= 0x10000 ? 2 : 1;
    return units;
}

std::size_t utf8Cut(const std::string& text, std::size_t maxBytes) {
    std::size_t cut = 0;
    for (std::size_t i = 0; i < text.size();) {
        decodeAt(text, i);
        if (i > maxBytes) break;
        cut = i;
    }
    return cut;
}

std::string configFileText(const std::string& bytes) {
    const bool bom = bytes.compare(0, 3, "\xEF\xBB\xBF") == 0;
    const std::string text = bom ? bytes.substr(3) : bytes;
    // A mark followed by bytes that are not UTF-8 after all (a file edited
    // in another program since) is read in the code page like any other:
    // the rest of the program takes its text as UTF-8.
    return isValidUtf8(text) ? text : utf8FromAnsi(text);
}

std::string wireText(const std::string& text, std::size_t maxBytes) {
    if (!isValidUtf8(text)) return text.substr(0, maxBytes);
    std::string ansi;
    if (!ansiFromUtf8(text, ansi)) return text.substr(0, utf8Cut(text, maxBytes));
    // Cut character by character, so that no double-byte character of an
    // East Asian code page loses its second half.
    std::string kept = text;
    while (ansi.size() > maxBytes) {
        kept.erase(utf8Cut(kept, kept.size() - 1));
        ansiFromUtf8(kept, ansi);
    }
    return ansi;
}

}  // namespace marvik
