// Text inside the program is UTF-8: paths, module names, the configuration's
// values, log lines. Windows is reached through its UTF-16 calls, so a path
// in any language opens; the wire keeps the system's ANSI code page for text
// that code page holds, as plug-ins have always seen it, and UTF-8 for the
// rest (docs/protocol.md, "Text fields").
#pragma once

#include <cstddef>
#include <cstdio>
#include <string>

namespace marvik {

// Bytes that are not UTF-8 become U+FFFD, one for each byte.
std::u16string utf16FromUtf8(const std::string& text);
// An unpaired surrogate becomes U+FFFD.
std::string utf8FromUtf16(const std::u16string& text);

// Shortest form, no surrogates, nothing past U+10FFFF.
bool isValidUtf8(const std::string& text);

// How many UTF-16 units text takes: what the system's path limits count.
std::size_t utf16Length(const std::string& text);

// The longest prefix of text, in bytes, that is at most maxBytes long and
// ends on a character boundary.
std::size_t utf8Cut(const std::string& text, std::size_t maxBytes);

// A configuration file's bytes as UTF-8: a leading byte-order mark skipped,
// valid UTF-8 taken as it is, anything else read in the ANSI code page
// (what Notepad saved before it wrote UTF-8).
std::string configFileText(const std::string& bytes);

// What goes into a text field of maxBytes bytes (its NUL not counted): the
// text in the ANSI code page when that holds every character of it, else
// UTF-8; either way cut on a character boundary. Bytes that are not UTF-8
// (nothing of ours decoded them) go as they are.
std::string wireText(const std::string& text, std::size_t maxBytes);

// The platform's half: the ANSI code page (the native build stands in
// ISO 8859-1 for it), files and the environment by UTF-8 names.

// ANSI code page bytes as UTF-8.
std::string utf8FromAnsi(const std::string& bytes);
// text in the ANSI code page; false when the code page cannot hold every
// character exactly (no look-alike substitutes).
bool ansiFromUtf8(const std::string& text, std::string& ansi);
// The runtime's fopen for a UTF-8 path.
std::FILE* openFile(const std::string& path, const char* mode);
// An environment variable's value as UTF-8; false when it is not set.
bool environmentValue(const char* name, std::string& value);

}  // namespace marvik
