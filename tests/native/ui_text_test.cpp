#include <gtest/gtest.h>

#include "session/discovery.h"
#include "ui/menu_status.h"

namespace marvik {
namespace {

std::string status(bool verified, std::uint32_t pid, bool rejected = false) {
    char line[MENU_STATUS_SIZE];
    formatMenuStatus(line, verified, pid, rejected);
    return line;
}

TEST(MenuStatus, FollowsVerifiedThenGamePID) {
    // (Waiting and connecting: the system tests read the menu.)
    EXPECT_EQ(status(true, 0xFFFFFFFFu), "Status: Verified (PID: 4294967295)");
    // Between sessions the flag can outlive the game's id.
    EXPECT_EQ(status(true, 0), "Status: Verified (PID: 0)");
    // After a rejection the game is still known, and nothing connects any more.
    EXPECT_EQ(status(false, 4242, true), "Status: Rejected by server - check encryption and server address");
}

TEST(GameDiscovery, ExeNameMatchesWholeNameInAnyCase) {
    for (const char* name : {"iw3mp.exe", "IW3MP.EXE", "Iw3Mp.ExE"}) EXPECT_TRUE(isGameExeName(name)) << name;
    for (const char* name : {"", "iw3mp", "iw3mp.exe.bak", "xiw3mp.exe", "iw3mp.ex", "iw3sp.exe", "iw3mp.exe "})
        EXPECT_FALSE(isGameExeName(name)) << name;
}

}  // namespace
}  // namespace marvik
