#include <gtest/gtest.h>

#include <string>

#include "app/exe_path.h"

namespace marvik {
namespace {

TEST(ExePath, SiblingReplacesFileName) {
    EXPECT_EQ(siblingPath("C:\\Games\\AC\\marvik_ac.exe", "marvik_ac.cfg"), "C:\\Games\\AC\\marvik_ac.cfg");
    EXPECT_EQ(siblingPath("C:\\marvik_ac.exe", "marvik_ac.log"), "C:\\marvik_ac.log");
    EXPECT_EQ(siblingPath("/opt/ac/marvik_tests", "marvik_ac.log"), "/opt/ac/marvik_ac.log");
}

TEST(ExePath, NoRoomForFileNameGivesNoPath) {
    // 259 characters is the longest path that fits with its NUL.
    std::string folder = "C:\\" + std::string(243, 'd') + "\\";  // 247 characters
    EXPECT_EQ(siblingPath(folder + "a.exe", "marvik_ac.cfg"), "");
    std::string fits = "C:\\" + std::string(242, 'd') + "\\";  // 246 + 13 = 259
    EXPECT_EQ(siblingPath(fits + "a.exe", "marvik_ac.cfg"), fits + "marvik_ac.cfg");
    EXPECT_EQ(siblingPath("", "marvik_ac.cfg"), "");
}

}  // namespace
}  // namespace marvik
