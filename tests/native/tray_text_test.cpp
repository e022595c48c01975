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

// The text is cut at 255 characters and a shorter one leaves nothing of a
// longer one before it; the balloon flag does not outlive its call.
TEST(TrayOperations, BalloonFillsItsFieldsAndLeavesNoInfoFlag) {
    const unsigned flags = trayFields().flags;
    showTrayBalloon(std::string(300, 't').c_str(), TrayBalloonLevel::Error);
    EXPECT_EQ(std::string(trayFields().info), std::string(255, 't'));
    EXPECT_EQ(trayFields().infoLevel, 3u);
    showTrayBalloon("Debugger detected!", TrayBalloonLevel::Warning);
    EXPECT_STREQ(trayFields().info, "Debugger detected!");
    EXPECT_STREQ(trayFields().infoTitle, "Marvik AC");
    EXPECT_EQ(trayFields().infoLevel, 2u);
    EXPECT_EQ(trayFields().flags, flags);
}

#if !defined(_WIN32)
// Each status's icon goes with it in the same shell call; an error balloon
// shows the problem icon until the next status.
TEST(TrayIcon, ShownWithTheStatusAndByAnError) {
    takeTrayShellCalls();
    for (const char* status : {"Starting...", "Waiting for game...", "Connecting...", "Verified - Active",
                               "Active (no verify)", TRAY_STATUS_REJECTED, "Session ended"})
        setTrayStatus(status);
    showTrayBalloon("Debugger detected!", TrayBalloonLevel::Warning);
    showTrayBalloon("Kicked by server!", TrayBalloonLevel::Error);
    setTrayStatus("Session ended");
    std::vector<TrayIconState> shown;
    for (const TrayShellCallRecord& call : takeTrayShellCalls()) shown.push_back(call.record.icon);
    constexpr TrayIconState W = TrayIconState::Waiting, A = TrayIconState::Active, P = TrayIconState::Problem;
    EXPECT_EQ(shown, (std::vector<TrayIconState>{W, W, W, A, A, P, W, W, P, W}));
}

// Every thread that reports uses the tray; each shell call must carry one
// operation's texts, level and flags, never a mix of two.
TEST(TrayOperations, ThreadsLeaveWholeConsistentCalls) {
    const char* const statuses[] = {"Connecting...", "Verified - Active", "Session ended"};
    const char* const balloons[] = {"Game detected! Connecting...", "Debugger detected!", "Kicked by server!"};
    constexpr int kThreads = 4, kRounds = 5000;
    const std::string tipBefore = trayFields().tip;
    takeTrayShellCalls();
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([&, t] {
            for (int i = 0; i < kRounds; ++i) {
                const int k = (i / 2 + t) % 3;
                if ((i + t) % 2 == 0) setTrayStatus(statuses[k]);
                else showTrayBalloon(balloons[k], static_cast<TrayBalloonLevel>(k + 1));  // each text its level
            }
        });
    for (std::thread& t : threads) t.join();

    const std::vector<TrayShellCallRecord> calls = takeTrayShellCalls();
    ASSERT_EQ(calls.size(), static_cast<std::size_t>(kThreads * kRounds));
    std::size_t balloonCalls = 0;
    for (const TrayShellCallRecord& call : calls) {
        const TrayRecord& r = call.record;
        bool tipIsAStatus = r.tip == tipBefore;
        for (const char* s : statuses) tipIsAStatus = tipIsAStatus || r.tip == TRAY_TIP_PREFIX + std::string(s);
        ASSERT_TRUE(tipIsAStatus && call.call == TrayCall::Modify && (r.flags & ~TRAY_FLAG_INFO) == TRAY_FLAGS) << r.tip;
        if ((r.flags & TRAY_FLAG_INFO) == 0) continue;
        ++balloonCalls;
        ASSERT_TRUE(r.infoLevel >= 1 && r.infoLevel <= 3 && std::strcmp(r.info, balloons[r.infoLevel - 1]) == 0 &&
                    std::strcmp(r.infoTitle, "Marvik AC") == 0) << r.info << " at level " << r.infoLevel;
    }
    EXPECT_EQ(balloonCalls, calls.size() / 2);  // NIF_INFO on the balloon calls only
}
#endif

}  // namespace
}  // namespace marvik
