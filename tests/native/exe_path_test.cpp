#include <gtest/gtest.h>

#include <string>

#include "base/exe_path.h"

namespace marvik {
namespace {

// The file name replaced when the result fits 259 characters and a NUL, else
// nothing. (A program in a folder too deep for its file: the system tests.)
TEST(ExePath, SiblingReplacesFileNameWhenTheResultFits) {
    const std::string fits = "C:\\" + std::string(242, 'd') + "\\";  // 246 + 13 = 259
    std::string cyrillic = "C:\\";
    for (int i = 0; i < 242; ++i) cyrillic += "Ж";  // 484 bytes, 242 units
    cyrillic += "\\";
    const std::string cases[][2] = {
        {"C:\\marvik_ac.exe", "C:\\marvik_ac.cfg"},
        {fits + "a.exe", fits + "marvik_ac.cfg"},
        {"C:\\d" + fits.substr(2) + "a.exe", ""},
        // The limit counts the system's UTF-16 units, not UTF-8 bytes.
        {cyrillic + "a.exe", cyrillic + "marvik_ac.cfg"},
        {"", ""},
    };
    for (const auto& c : cases) EXPECT_EQ(siblingPath(c[0], "marvik_ac.cfg"), c[1]) << c[0];
}

}  // namespace
}  // namespace marvik
