#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "report/tray.h"
#include "support/files.h"

namespace marvik {
namespace {

TEST(TrayText, TooltipCarriesPrefix) {
    char tip[TRAY_TIP_SIZE];
    formatTrayTip(tip, "Verified - Active");
    EXPECT_STREQ(tip, "Marvik AC v3.2 - Verified - Active");
}

TEST(TrayText, LongStatusGives127CharacterTooltip) {
    char tip[TRAY_TIP_SIZE];
    std::memset(tip, 'x', sizeof tip);
    std::string status(200, 's');
    formatTrayTip(tip, status.c_str());
    EXPECT_EQ(std::strlen(tip), 127u);
    EXPECT_EQ(std::string(tip), "Marvik AC v3.2 - " + std::string(127 - 17, 's'));
}

TEST(TrayText, BalloonTextCutAt255AndZeroFilled) {
    char info[TRAY_INFO_SIZE];
    std::memset(info, 'x', sizeof info);
    fillBalloonText(info, "short");
    EXPECT_STREQ(info, "short");
    for (std::size_t i = 5; i < sizeof info; ++i) ASSERT_EQ(info[i], '\0') << i;

    std::string text(300, 't');
    fillBalloonText(info, text.c_str());
    EXPECT_EQ(std::string(info), std::string(255, 't'));
}

TEST(TrayText, TitleIsMarvikAcWithRestZeroed) {
    char title[TRAY_TITLE_SIZE];
    std::memset(title, 'x', sizeof title);
    fillBalloonTitle(title);
    EXPECT_STREQ(title, "Marvik AC");
    for (std::size_t i = 9; i < sizeof title; ++i) ASSERT_EQ(title[i], '\0') << i;
}

TEST(TrayOperations, BalloonAndStatusAreKept) {
    showTrayBalloon("Kicked by server!", TrayBalloonLevel::Error);
    setTrayStatus("Session ended");
    test::TrayView view = test::trayView();
    EXPECT_EQ(view.tip, "Marvik AC v3.2 - Session ended");
    EXPECT_EQ(view.info, "Kicked by server!");
    EXPECT_EQ(view.infoTitle, "Marvik AC");
    EXPECT_EQ(view.level, 3u);
    showTrayBalloon("Debugger detected!", TrayBalloonLevel::Warning);
    EXPECT_EQ(test::trayView().level, 2u);
}

}  // namespace
}  // namespace marvik
