#include <gtest/gtest.h>

#include <string>

#include "base/utf8.h"
#include "config/config.h"

namespace marvik {
namespace {

// (Files and folders named in these scripts, opened, hashed and sent under
// each code page: the system tests' unicode matrix.)
const std::string PETR = "Пётр";        // Cyrillic
const std::string CHINESE = "玩家";      // Chinese
const std::string FACE = "a\xF0\x9F\x98\x80z";  // a character outside the 16-bit plane

TEST(Utf8, ConvertsBothWaysAndReplacesWhatIsIllFormed) {
    const struct {
        const char* what;
        std::string utf8;
        std::u16string utf16;
        bool valid;
    } cases[] = {
        {"ASCII", "iw3mp.exe", u"iw3mp.exe", true},
        {"Cyrillic", PETR, u"Пётр", true},
        {"Chinese", CHINESE, u"玩家", true},
        {"surrogate pair", FACE, u"a\xD83D\xDE00z", true},
        {"a real U+FFFD", "\xEF\xBF\xBD", u"\xFFFD", true},
        {"ANSI bytes", "Jos\xE9", u"Jos\xFFFD", false},
        {"overlong NUL", "\xC0\x80", u"\xFFFD\xFFFD", false},
        {"encoded surrogate", "\xED\xA0\x80", u"\xFFFD\xFFFD\xFFFD", false},
        {"past U+10FFFF", "\xF4\x90\x80\x80", u"\xFFFD\xFFFD\xFFFD\xFFFD", false},
        {"cut sequence", "x\xE2\x82", u"x\xFFFD\xFFFD", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(utf16FromUtf8(c.utf8), c.utf16);
        EXPECT_EQ(isValidUtf8(c.utf8), c.valid);
        EXPECT_EQ(utf16Length(c.utf8), c.utf16.size());
        if (c.valid) {
            EXPECT_EQ(utf8FromUtf16(c.utf16), c.utf8);
        }
    }
    EXPECT_EQ(utf8FromUtf16(u"\xD800x\xDC00"), "\xEF\xBF\xBDx\xEF\xBF\xBD");
}

TEST(Utf8, CutsOnlyBetweenCharacters) {
    EXPECT_EQ(utf8Cut(PETR, 8), 8u);
    EXPECT_EQ(utf8Cut(PETR, 5), 4u);
    EXPECT_EQ(utf8Cut(CHINESE, 2), 0u);
    EXPECT_EQ(utf8Cut(FACE, 4), 1u);
    EXPECT_EQ(utf8Cut("abc", 99), 3u);
}

// The native build's code page is ISO 8859-1, Wine's default one 1252: the
// letters here are held by both or by neither.
TEST(WireText, CodePageTextAsBeforeOtherTextAsUtf8) {
    const struct {
        const char* what;
        std::string text;
        std::size_t maxBytes;
        std::string wire;
    } cases[] = {
        {"ASCII", "Tester", 35, "Tester"},
        {"held by the code page", "José", 35, "Jos\xE9"},
        {"held, cut", "Josééé", 4, "Jos\xE9"},
        {"Cyrillic", PETR, 35, PETR},
        {"mixed: one letter outside makes it all UTF-8", "é" + PETR, 35, "é" + PETR},
        {"UTF-8 cut before a split character", PETR + PETR, 5, "Пё"},
        {"Chinese cut to whole characters", CHINESE, 5, "玩"},
        {"bytes nobody decoded go as they are", "Jos\xE9", 35, "Jos\xE9"},
        {"empty", "", 35, ""},
    };
    for (const auto& c : cases) EXPECT_EQ(wireText(c.text, c.maxBytes), c.wire) << c.what;
}

}  // namespace
}  // namespace marvik
