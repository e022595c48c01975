#include "inventory/hwid.h"

#include <gtest/gtest.h>

#include <cctype>

namespace marvik {
namespace {

TEST(HWIDWin32, ThisMachineGivesAStableWellFormedId)
{
    const std::string id = generateHWID();
    ASSERT_EQ(id.size(), 24u) << id;
    EXPECT_EQ(id.compare(0, 7, "MARVIK-"), 0) << id;
    EXPECT_EQ(id[15], '-') << id;
    for (char c : id.substr(7)) {
        if (c == '-') continue;
        EXPECT_TRUE(std::isxdigit(static_cast<unsigned char>(c)) && !std::islower(static_cast<unsigned char>(c))) << id;
    }
    EXPECT_EQ(generateHWID(), id);
}

}  // namespace
}  // namespace marvik
