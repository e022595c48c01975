#include <gtest/gtest.h>

#include "net/packets.h"
#include "report/log.h"
#include "session/player_config.h"
#include "support/files.h"

namespace marvik {
namespace {

ModuleInfo moduleAt(const std::string& path) {
    ModuleInfo m;
    m.path = path;
    return m;
}

TEST(ConfigRoots, LocalAppDataFixedThenUpToFiveDerived) {
    const std::vector<std::string> roots =
        buildConfigRoots("C:\\Users\\p\\AppData\\Local", {moduleAt(""), moduleAt("E:\\a\\b\\c\\d\\e\\f\\iw3mp.exe")});
    const std::vector<std::string> expected = {
        "C:\\Users\\p\\AppData\\Local\\CallofDuty4MW",
        "C:\\Program Files (x86)\\Steam\\steamapps\\common\\Call of Duty 4",
        "C:\\Program Files\\Steam\\steamapps\\common\\Call of Duty 4",
        "D:\\Games\\Call of Duty 4",
        "D:\\CoD4",
        "E:\\a\\b\\c\\d\\e\\f",
        "E:\\a\\b\\c\\d\\e",
        "E:\\a\\b\\c\\d",
        "E:\\a\\b\\c",
        "E:\\a\\b",
    };
    EXPECT_EQ(roots, expected);
}

TEST(ConfigRoots, ShortPathsForwardSlashesAndNothingKnown) {
    EXPECT_EQ(buildConfigRoots(nullptr, {}).size(), 4u);
    std::vector<std::string> roots = buildConfigRoots(nullptr, {moduleAt("E:\\Games\\CoD4\\iw3mp.exe")});
    EXPECT_EQ(std::vector<std::string>(roots.begin() + 4, roots.end()),
              (std::vector<std::string>{"E:\\Games\\CoD4", "E:\\Games", "E:"}));
    roots = buildConfigRoots(nullptr, {moduleAt("/games/cod4/iw3mp.exe")});
    EXPECT_EQ(std::vector<std::string>(roots.begin() + 4, roots.end()),
              (std::vector<std::string>{"/games/cod4", "/games", ""}));
    EXPECT_EQ(buildConfigRoots(nullptr, {moduleAt("iw3mp.exe")}).size(), 4u);
}

TEST(ConfigCandidates, NamedProfileActiveListedThenPlayersAndMain) {
    const std::string r = "C:\\g";
    EXPECT_EQ(configCandidates(r, "Alice", {"active", "Bob"}),
              (std::vector<std::string>{"C:\\g\\players\\profiles\\Alice\\config_mp.cfg",
                                        "C:\\g\\players\\profiles\\active\\config_mp.cfg",
                                        "C:\\g\\players\\profiles\\active\\config_mp.cfg",
                                        "C:\\g\\players\\profiles\\Bob\\config_mp.cfg",
                                        "C:\\g\\players\\config_mp.cfg", "C:\\g\\main\\config_mp.cfg"}));
    EXPECT_EQ(configCandidates(r, "", {}).front(), "C:\\g\\players\\profiles\\active\\config_mp.cfg");
    EXPECT_EQ(configCandidates(r, "", {}).size(), 3u);
}

}  // namespace
}  // namespace marvik
