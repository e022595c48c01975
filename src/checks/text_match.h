// Case-insensitive text matching for the detection tables.
#pragma once

#include <string>

namespace marvik {

std::string asciiLowerCopy(const std::string& text);
// '*' matches any run of characters, '?' one; ASCII case is ignored.
bool wildcardMatch(const char* pattern, const char* text);
bool equalsIgnoreCase(const std::string& a, const std::string& b);

}  // namespace marvik
