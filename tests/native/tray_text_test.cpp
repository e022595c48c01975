#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "report/tray.h"

#if !defined(_WIN32)
#include "report/tray_posix.h"
#endif

namespace marvik {
namespace {

TEST(TrayOperations, TooltipIsPrefixedAndCutTo127Characters) {
    setTrayStatus("Verified - Active");
    EXPECT_STREQ(trayFields().tip, "Marvik AC v3.2 - Verified - Active");
    std::string status(200, 's');
    setTrayStatus(status.c_str());
    EXPECT_EQ(std::string(trayFields().tip), "Marvik AC v3.2 - " + std::string(127 - 17, 's'));
}

TEST(TrayOperations, BalloonFillsItsFieldsAndLeavesNoInfoFlag) {
    const unsigned flags = trayFields().flags;
    std::string longText(300, 't');
    showTrayBalloon(longText.c_str(), TrayBalloonLevel::Error);
    EXPECT_EQ(std::string(trayFields().info), std::string(255, 't'));
    EXPECT_EQ(trayFields().infoLevel, 3u);

    showTrayBalloon("Debugger detected!", TrayBalloonLevel::Warning);
    TrayFields record = trayFields();
    EXPECT_STREQ(record.info, "Debugger detected!");
    for (std::size_t i = std::strlen(record.info); i < sizeof record.info; ++i) ASSERT_EQ(record.info[i], '\0') << i;
    EXPECT_STREQ(record.infoTitle, "Marvik AC");
    for (std::size_t i = 9; i < sizeof record.infoTitle; ++i) ASSERT_EQ(record.infoTitle[i], '\0') << i;
    EXPECT_EQ(record.infoLevel, 2u);
    EXPECT_EQ(record.flags, flags);  // a later tooltip update shows no balloon
}

#if !defined(_WIN32)
// Every thread that reports uses the tray; each shell call must carry one
// operation's texts, level and flags, never a mix of two.
TEST(TrayOperations, ThreadsLeaveWholeConsistentCalls) {
    const char* const statuses[] = {"Waiting for game...", "Connecting...", "Verified - Active", "Session ended"};
    const struct {
        const char* text;
        TrayBalloonLevel level;
    } balloons[] = {{"Game detected! Connecting...", TrayBalloonLevel::Info},
                    {"Server not responding. Is marvik-ac.so loaded?", TrayBalloonLevel::Warning},
                    {"Kicked by server!", TrayBalloonLevel::Error},
                    {"Debugger detected!", TrayBalloonLevel::Warning}};
    constexpr int kThreads = 4;
    constexpr int kRounds = 5000;
    const std::string tipBefore = trayFields().tip;
    takeTrayShellCalls();
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([&, t] {
            for (int i = 0; i < kRounds; ++i) {
                if ((i + t) % 2 == 0)
                    setTrayStatus(statuses[(i / 2 + t) % 4]);
                else
                    showTrayBalloon(balloons[(i / 2 + t) % 4].text, balloons[(i / 2 + t) % 4].level);
            }
        });
    for (std::thread& t : threads) t.join();

    std::vector<TrayShellCallRecord> calls = takeTrayShellCalls();
    ASSERT_EQ(calls.size(), static_cast<std::size_t>(kThreads * kRounds));
    std::size_t balloonCalls = 0;
    for (const TrayShellCallRecord& call : calls) {
        const TrayRecord& r = call.record;
        const std::string tip = r.tip;
        bool tipIsAStatus = tip == tipBefore;
        for (const char* s : statuses) tipIsAStatus = tipIsAStatus || tip == TRAY_TIP_PREFIX + std::string(s);
        ASSERT_TRUE(tipIsAStatus) << tip;
        ASSERT_EQ(call.call, TrayCall::Modify);
        ASSERT_EQ(r.flags & ~TRAY_FLAG_INFO, TRAY_FLAGS);
        if ((r.flags & TRAY_FLAG_INFO) == 0) continue;
        ++balloonCalls;
        bool known = false;
        for (const auto& b : balloons)
            known = known || (std::strcmp(r.info, b.text) == 0 && r.infoLevel == static_cast<unsigned long>(b.level));
        ASSERT_TRUE(known) << r.info << " at level " << r.infoLevel;
        ASSERT_STREQ(r.infoTitle, "Marvik AC");
    }
    EXPECT_EQ(balloonCalls, calls.size() / 2);  // NIF_INFO on the balloon calls only
    EXPECT_EQ(trayFields().flags, TRAY_FLAGS);
}
#endif

}  // namespace
}  // namespace marvik
