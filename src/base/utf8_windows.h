// UTF-8 paths and names to and from the UTF-16 of the system's wide calls.
#pragma once

#include <cstddef>
#include <string>

namespace marvik {

std::wstring wideFromUtf8(const std::string& text);
std::string utf8FromWide(const wchar_t* text, std::size_t length);
std::string utf8FromWide(const wchar_t* text);  // NUL-terminated

}  // namespace marvik
