// moduleTrust on real files with recorded signature answers: which looks it
// takes, in what order, and that a file is verified once per content.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <thread>
#include <vector>

#include "checks/trust_posix.h"
#include "support/files.h"

namespace marvik {
namespace {

std::string trustFile(const std::string& name, const std::string& bytes = "MZ module") {
    const std::string path = test::besideExe("trust_test") + "/" + name;
    test::writeFile(path, bytes);
    return path;
}

std::vector<std::string> looks() { return scriptedSignatures().looks; }

void script(const std::function<void(ScriptedSignatures&)>& edit) {
    editScriptedSignatures([&](ScriptedSignatures& s) {
        s = ScriptedSignatures{};
        s.folders.system = test::besideExe("trust_test") + "/system32";
        s.folders.wow64 = test::besideExe("trust_test") + "/syswow64";
        edit(s);
    });
}

TEST(ModuleTrust, SystemModulesAreNotReadAndOthersTryEmbeddedThenCatalog) {
    const std::string system = trustFile("system32/d3d9.dll"), wow = trustFile("syswow64/d3d9.dll");
    const std::string below = trustFile("system32/spool/drivers/color/hook.dll");
    const std::string overlay = trustFile("game/overlay.dll"), driver = trustFile("game/driver_overlay.dll");
    const std::string cheat = trustFile("game/d3d9.dll"), gone = test::besideExe("trust_test") + "/game/gone.dll";
    script([&](ScriptedSignatures& s) {
        s.embedded[overlay] = {true, "Overlay Vendor"};
        s.catalog[driver] = {true, "Graphics Vendor"};
    });
    const struct {
        std::string path;
        bool trusted, system;
        const char* signer;
        std::vector<std::string> looks;
    } cases[] = {
        {system, true, true, "", {}},
        {wow, true, true, "", {}},
        {below, false, false, "", {"embedded " + below, "catalog " + below}},
        {overlay, true, false, "Overlay Vendor", {"embedded " + overlay}},
        {driver, true, false, "Graphics Vendor", {"embedded " + driver, "catalog " + driver}},
        {cheat, false, false, "", {"embedded " + cheat, "catalog " + cheat}},
        {gone, false, false, "", {}},
    };
    for (const auto& c : cases) {
        editScriptedSignatures([](ScriptedSignatures& s) { s.looks.clear(); });
        const ModuleTrust t = moduleTrust(c.path);
        EXPECT_EQ(t.trusted, c.trusted) << c.path;
        EXPECT_EQ(t.systemModule, c.system) << c.path;
        EXPECT_EQ(t.signer, c.signer) << c.path;
        EXPECT_EQ(looks(), c.looks) << c.path;
    }
}

TEST(ModuleTrust, VerifiedOncePerContentAndAgainWhenTheFileChanges) {
    const std::string path = trustFile("game/changing.dll", "signed content!");
    script([&](ScriptedSignatures& s) { s.embedded[path] = {true, "Overlay Vendor"}; });
    EXPECT_TRUE(moduleTrust(path).trusted);
    EXPECT_TRUE(moduleTrust(path).trusted);
    EXPECT_EQ(looks().size(), 1u);
    // The same file patched in place (same size, a later write time): its
    // signature no longer matches it.
    const auto written = std::filesystem::last_write_time(path);
    test::writeFile(path, "patched content");
    std::filesystem::last_write_time(path, written + std::chrono::seconds(2));
    editScriptedSignatures([&](ScriptedSignatures& s) { s.embedded[path].valid = false; });
    EXPECT_FALSE(moduleTrust(path).trusted);
    EXPECT_FALSE(moduleTrust(path).trusted);
    EXPECT_EQ(looks().size(), 3u);  // embedded, then catalog, once
}

TEST(ModuleTrust, ThreadsAskingForOneNewFileShareOneVerification) {
    const std::string path = trustFile("game/shared.dll");
    script([&](ScriptedSignatures& s) {
        s.embedded[path] = {true, "Overlay Vendor"};
        s.lookMs = 100;
    });
    std::vector<std::thread> threads;
    std::vector<int> trusted(6, 0);
    for (std::size_t i = 0; i < trusted.size(); ++i)
        threads.emplace_back([&, i] { trusted[i] = moduleTrust(path).signer == "Overlay Vendor"; });
    for (std::thread& t : threads) t.join();
    EXPECT_EQ(trusted, std::vector<int>(6, 1));
    EXPECT_EQ(looks(), std::vector<std::string>{"embedded " + path});
}

}  // namespace
}  // namespace marvik
