// The hidden-module methods of the memory check on real stand-in games of
// both widths: a DLL unlinked from the loader lists, a loader entry naming
// another file, and the game's own image copied into private memory with
// its headers wiped are each one hit; DLLs mapped only for their resources
// are none.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "checks/checks.h"
#include "support/files.h"
#include "support/standin_game.h"

namespace marvik {
namespace {

std::string describe(const std::vector<MemoryScanHit>& hits) {
    std::string text;
    for (const MemoryScanHit& h : hits) text += h.description + "\n";
    return text;
}

TEST(HiddenModulesWin32, FixturesFoundAndResourceLoadsSilentAtBothWidths) {
    for (bool thirtyTwo : {false, true}) {
        SCOPED_TRACE(thirtyTwo ? "32-bit game" : "64-bit game");
        const std::string image = test::standinExe(thirtyTwo);
        if (!test::fileExists(image)) FAIL() << image << " is not built";
        {
            test::StandinGame clean("--resource-loads", "iw3mp.exe", image);
            const std::vector<MemoryScanHit> hits = scanProcessMemory(clean.pid());
            EXPECT_TRUE(hits.empty()) << describe(hits);
        }
        test::StandinGame game("--unlink version.dll --spoof-path msimg32.dll --hand-map", "iw3mp.exe", image);
        const std::vector<MemoryScanHit> hits = scanProcessMemory(game.pid());
        const std::vector<std::string> expected = {"Module path mismatch version.dll maps msimg32.dll",
                                                   "Unlinked module version.dll 0x", "Headerless image"};
        ASSERT_EQ(hits.size(), expected.size()) << describe(hits);
        for (std::size_t i = 0; i < hits.size(); ++i)
            EXPECT_EQ(hits[i].description.rfind(expected[i], 0), 0u) << describe(hits);
    }
}

}  // namespace
}  // namespace marvik
