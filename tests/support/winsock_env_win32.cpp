// The program starts Winsock on its monitor thread before any session; the
// tests that open sockets need the same, once for the whole run.
#include <gtest/gtest.h>
#include <winsock2.h>

namespace {

class WinsockEnvironment : public testing::Environment {
public:
    void SetUp() override {
        WSADATA data;
        ASSERT_EQ(WSAStartup(MAKEWORD(2, 2), &data), 0);
    }
    void TearDown() override { WSACleanup(); }
};

// Registered before main runs; gtest takes ownership.
testing::Environment* const g_winsock = testing::AddGlobalTestEnvironment(new WinsockEnvironment);

}  // namespace
