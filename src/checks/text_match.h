// Case-insensitive text matching for the detection tables.
#pragma once

#include <string>

namespace marvik {

std::string asciiLowerCopy(const std::string& text);
// '*' matches any run of characters, '?' one; ASCII case is ignored.
bool wildcardMatch(const char* pattern, const char* text);
bool equalsIgnoreCase(const std::string& a, const std::string& b);
// Whether path lies in folder or below it: folder (no separator at its end)
// followed by a separator and more. ASCII case is ignored, and '/' and '\\'
// are one separator, as Windows takes them.
bool underFolder(const std::string& path, const std::string& folder);
// What follows the last separator ('\\' or '/'); the whole path when it has none.
std::string fileNameOf(const std::string& path);

}  // namespace marvik
