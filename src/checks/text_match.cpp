#include "checks/text_match.h"

namespace marvik {

namespace {
char lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }
bool separator(char c) { return c == '\\' || c == '/'; }
}  // namespace

std::string asciiLowerCopy(const std::string& text) {
    std::string out = text;
    for (char& c : out) c = lower(c);
    return out;
}

bool wildcardMatch(const char* pattern, const char* text) {
    // Iterative with one backtrack point: linear in practice, no recursion.
    const char* star = nullptr;
    const char* resume = nullptr;
    while (*text != '\0') {
        if (*pattern == '*') {
            star = pattern++;
            resume = text;
        } else if (*pattern == '?' || lower(*pattern) == lower(*text)) {
            ++pattern;
            ++text;
        } else if (star != nullptr) {
            pattern = star + 1;
            text = ++resume;
        } else {
            return false;
        }
    }
    while (*pattern == '*') ++pattern;
    return *pattern == '\0';
}

bool equalsIgnoreCase(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (lower(a[i]) != lower(b[i])) return false;
    return true;
}

bool underFolder(const std::string& path, const std::string& folder) {
    const std::size_t n = folder.size();
    if (n == 0 || path.size() <= n || !separator(path[n])) return false;
    for (std::size_t i = 0; i < n; ++i)
        if (lower(path[i]) != lower(folder[i]) && !(separator(path[i]) && separator(folder[i]))) return false;
    return true;
}

std::string fileNameOf(const std::string& path) {
    const std::size_t cut = path.find_last_of("\\/");
    return cut == std::string::npos ? path : path.substr(cut + 1);
}

}  // namespace marvik
