#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "report/tray.h"

#if !defined(_WIN32)
#include "report/tray_posix.h"
#endif

namespace marvik {
namespace {

// The text is cut at 255 characters and a shorter one leaves nothing of a
// longer one before it; the balloon flag does not outlive its call.
TEST(TrayOperations, BalloonFillsItsFieldsAndLeavesNoInfoFlag) {
    const unsigned flags = trayFields().flags;
    showTrayBalloon(std::string(300, 't').c_str(), TrayBalloonLevel::Error);
    EXPECT_EQ(std::string(trayFields().info), std::string(255, 't'));
    EXPECT_EQ(trayFields().infoLevel, 3u);
    showTrayBalloon("Debugger detected!", TrayBalloonLevel::Warning);
    EXPECT_EQ(std::string(trayFields().info) + " " + trayFields().infoTitle, "Debugger detected! Marvik AC");
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
    EXPECT_STREQ(trayFields().tip, "Marvik AC v3.2 - Session ended");
}
#endif

}  // namespace
}  // namespace marvik
