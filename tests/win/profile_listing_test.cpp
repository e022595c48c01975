// The profile folder listing behind the configuration search, on real
// folders.
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
// profiles; one of 261 is not listed at all, though cutting it at 259 would
// name the profiles folder itself (and list it as a profile). Every folder
// made here fits in 260 characters, so that it can be removed again.
TEST(ProfileListing, PatternThatDoesNotFitIsNotListed) {
    const std::string base = test::besideExe("profiles_long");
    struct Case {
        std::size_t patternLength;
        const char* profile;  // made in the profiles folder, when not null
        std::vector<std::string> expected;
    };
    const Case cases[] = {
        {259, "B", {"B"}},
        {261, nullptr, {}},
    };
    for (const Case& c : cases) {
        test::removePath(base);
        const std::string root = base + "\\" + std::string(c.patternLength - 19 - base.size() - 1, 'r');
        std::string folder = root + "\\players\\profiles";
        if (c.profile != nullptr) folder += std::string("\\") + c.profile;
        ASSERT_LE(folder.size(), 259u);
        std::error_code ec;
        std::filesystem::create_directories(folder, ec);
        ASSERT_TRUE(test::fileExists(folder)) << c.patternLength;
        EXPECT_EQ(listProfileDirs(root), c.expected) << c.patternLength;
    }
    test::removePath(base);
    EXPECT_FALSE(test::fileExists(base));
}

}  // namespace
}  // namespace marvik
