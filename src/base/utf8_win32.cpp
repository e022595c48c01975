#include <windows.h>

#include <cwchar>

#include "base/utf8.h"
#include "base/utf8_windows.h"

namespace marvik {

static_assert(sizeof(wchar_t) == sizeof(char16_t), "Windows' wide characters are UTF-16 units");

std::wstring wideFromUtf8(const std::string& text) {
    const std::u16string units = utf16FromUtf8(text);
    return std::wstring(units.begin(), units.end());
}

std::string utf8FromWide(const wchar_t* text, std::size_t length) {
    return utf8FromUtf16(std::u16string(text, text + length));
}

std::string utf8FromWide(const wchar_t* text) { return utf8FromWide(text, std::wcslen(text)); }

std::string utf8FromAnsi(const std::string& bytes) {
    if (bytes.empty()) return std::string();
    const int n = MultiByteToWideChar(CP_ACP, 0, bytes.data(), static_cast<int>(bytes.size()), nullptr, 0);
    if (n <= 0) return std::string();
    std::wstring wide(static_cast<std::size_t>(n), L'\0');
    MultiByteToWideChar(CP_ACP, 0, bytes.data(), static_cast<int>(bytes.size()), &wide[0], n);
    return utf8FromWide(wide.data(), wide.size());
}

bool ansiFromUtf8(const std::string& text, std::string& ansi) {
    ansi.clear();
    // A system whose code page is UTF-8 holds everything, in these bytes;
    // the conversion would refuse the flags below for it anyway.
    if (GetACP() == CP_UTF8) {
        ansi = text;
        return true;
    }
    if (text.empty()) return true;
    const std::wstring wide = wideFromUtf8(text);
    BOOL substituted = FALSE;
    // No best fit: Ł sent as L would name a folder that does not exist.
    const int n = WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide.data(), static_cast<int>(wide.size()),
                                      nullptr, 0, nullptr, &substituted);
    if (n <= 0 || substituted) return false;
    ansi.assign(static_cast<std::size_t>(n), '\0');
    WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide.data(), static_cast<int>(wide.size()), &ansi[0], n,
                        nullptr, nullptr);
    return true;
}

std::FILE* openFile(const std::string& path, const char* mode) {
    return _wfopen(wideFromUtf8(path).c_str(), wideFromUtf8(mode).c_str());
}

bool environmentValue(const char* name, std::string& value) {
    const std::wstring wideName = wideFromUtf8(name);
    const DWORD n = GetEnvironmentVariableW(wideName.c_str(), nullptr, 0);
    if (n == 0) return false;  // unset (an empty value reports 1, its NUL)
    std::wstring wide(n, L'\0');
    const DWORD got = GetEnvironmentVariableW(wideName.c_str(), &wide[0], n);
    if (got >= n) return false;
    value = utf8FromWide(wide.data(), got);
    return true;
}

}  // namespace marvik
