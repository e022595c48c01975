// moduleTrust on a real file with recorded signature answers: a file is
// verified once per content, embedded signature first, then the catalog.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <vector>

#include "checks/trust_posix.h"
#include "support/files.h"

namespace marvik {
namespace {

TEST(ModuleTrust, VerifiedOncePerContentAndAgainWhenTheFileChanges) {
    const std::string path = test::besideExe("trust_test") + "/game/changing.dll";
    test::writeFile(path, "signed content!");
    editScriptedSignatures([&](ScriptedSignatures& s) {
        s = ScriptedSignatures{};
        s.folders.system = test::besideExe("trust_test") + "/system32";
        s.embedded[path] = {true, "Overlay Vendor"};
    });
    EXPECT_EQ(moduleTrust(path).signer, "Overlay Vendor");
    EXPECT_TRUE(moduleTrust(path).trusted);
    // The same file patched in place (same size, a later write time): its
    // signature no longer matches it.
    const auto written = std::filesystem::last_write_time(path);
    test::writeFile(path, "patched content");
    std::filesystem::last_write_time(path, written + std::chrono::seconds(2));
    editScriptedSignatures([&](ScriptedSignatures& s) { s.embedded[path].valid = false; });
    EXPECT_FALSE(moduleTrust(path).trusted);
    EXPECT_FALSE(moduleTrust(path).trusted);
    EXPECT_EQ(scriptedSignatures().looks,
              (std::vector<std::string>{"embedded " + path, "embedded " + path, "catalog " + path}));
    test::removePath(test::besideExe("trust_test"));
}

}  // namespace
}  // namespace marvik
