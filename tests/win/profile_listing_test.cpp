// The profile folder listing behind the configuration search, on real folders.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

#include "session/player_config_backend.h"
#include "support/files.h"

namespace marvik {
namespace {

// root\players\profiles\* is root + 19 characters. A pattern of 259 lists the
// profiles; one of 261 is not listed at all, though cut at 259 it would name
// the profiles folder itself (and list it as a profile). Every folder made
// here fits in 260 characters, so that it can be removed again.
TEST(ProfileListing, PatternThatDoesNotFitIsNotListed) {
    const std::string base = test::besideExe("profiles_long");
    for (const std::size_t patternLength : {259, 261}) {
        test::removePath(base);
        const std::string root = base + "\\" + std::string(patternLength - 19 - base.size() - 1, 'r');
        const std::string folder = root + "\\players\\profiles" + (patternLength == 259 ? "\\B" : "");
        std::error_code ec;
        std::filesystem::create_directories(folder, ec);
        ASSERT_TRUE(test::fileExists(folder)) << patternLength;
        EXPECT_EQ(listProfileDirs(root), (patternLength == 259 ? std::vector<std::string>{"B"}
                                                              : std::vector<std::string>{}))
            << patternLength;
    }
    test::removePath(base);
}

}  // namespace
}  // namespace marvik
