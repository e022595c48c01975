#include "app/globals.h"

#include "app/test_hold.h"

namespace marvik {

std::atomic<bool> g_running{true};
std::atomic<bool> g_sessionActive{false};
std::atomic<bool> g_verified{false};
std::atomic<bool> g_rejected{false};
std::atomic<std::uint32_t> g_gamePID{0};

std::string g_serverIP;
std::uint16_t g_serverPort = 28960;
std::string g_playerName;
bool g_autoStart = true;
bool g_encryption = false;

std::uint32_t g_sessionStartTick = 0;
std::uint32_t g_initialSelfCRC = 0;
std::atomic<int> g_liveWorkers{0};

void (*g_testHold)(const char*) = nullptr;

}  // namespace marvik
