// The game-thread and game-handle checks' decisions on recorded values.
#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <utility>

#include "checks/game_handles.h"
#include "checks/game_threads.h"

namespace marvik {
namespace {

constexpr std::uint32_t COMMIT = 0x1000, RESERVE = 0x2000, IMAGE = 0x1000000, MAPPED = 0x40000, PRIVATE = 0x20000;

MemoryRegion region(std::uint64_t base, std::uint64_t size, std::uint32_t type, std::uint32_t protect,
                    std::uint32_t state = COMMIT, bool systemFile = false) {
    return MemoryRegion{base, size, base, state, protect, type, false, systemFile};
}

// A 32-bit game's map as Wine shows it.
const std::vector<MemoryRegion> MAP = {
    region(0x00010000, 0x1000, PRIVATE, 0x04),               // read-write data
    region(0x00250000, 0x2000, MAPPED, 0x20, COMMIT, true),  // Wine's wow64cpu, a view of a system file
    region(0x00300000, 0x10000, PRIVATE, 0x20),              // trampolines or JIT code, read-execute
    region(0x00310000, 0x1000, PRIVATE, 0x40),               // read-write-execute
    region(0x00320000, 0x1000, PRIVATE, 0x120),              // guard | execute-read
    region(0x00330000, 0x10000, PRIVATE, 0x01, RESERVE),
    region(0x00401000, 0x200000, IMAGE, 0x20),               // iw3mp.exe code
    region(0x00700000, 0x4000, MAPPED, 0x20),                // an executable view of someone's file
};

TEST(GameThreads, UnownedCodeIsExecutableMemoryNoImageOrSystemViewHolds) {
    const std::pair<std::uint64_t, bool> cases[] = {
        {0x00300000, true},  {0x00310800, true},  {0x00700010, true},  {0x00401234, false},
        {0x00250100, false}, {0x00010000, false}, {0x00320000, false}, {0x00335000, false},
    };
    for (const auto& [address, unowned] : cases) EXPECT_EQ(inUnownedCode(MAP, address), unowned) << std::hex << address;
}

TEST(GameThreads, Dr7EnablesEachRegisterByItsLocalOrGlobalBit) {
    const std::pair<DebugRegisters, bool> cases[] = {
        {{{0x1000, 0, 0, 0}, 0x2}, true},                  // G0
        {{{0, 0, 0, 0x2000}, 0x40}, true},                 // L3
        {{{0x1000, 0, 0, 0}, 0x4}, false},                 // DR1 enabled, empty; DR0 not enabled
        {{{0x1000, 0, 0, 0}, 0x400 | 0x300}, false},       // reserved bit 10 and LE/GE alone
        {{{0x1000, 0, 0, 0}, 0xFFFF0000}, false},          // conditions and lengths alone
    };
    for (const auto& [registers, armed] : cases)
        EXPECT_EQ(hardwareBreakpointArmed(registers), armed) << std::hex << registers.control;
}

// Where the table shows object addresses, only handles naming the game's own process count.
TEST(GameHandles, KeepsRiskyHandlesOfTheGamesProcessFromOtherHolders) {
    const SystemHandle own{500, 0x44, 0x1000, 7, 0};
    std::vector<SystemHandle> table = {
        own,
        {900, 0x10, 0x0030, 7, 0},    // read and write memory
        {900, 0x14, 0x1000, 7, 0},    // limited query, as Task Manager holds
        {900, 0x18, 0x001F, 8, 0},    // a thread handle with the same bits
        {4, 0x08, 0x1FFFFF, 7, 0},    // the system
    };
    bool confirmed = true;
    std::vector<SystemHandle> kept = handlesToCheck(table, own, {0, 4, 500, 600}, confirmed);
    ASSERT_EQ(kept.size(), 1u);
    EXPECT_EQ(kept[0].value, 0x10u);
    for (SystemHandle& h : table) h.object = h.value == 0x44 ? 0xFFFF8000AAAA0000 : 0xFFFF8000BBBB0000;
    EXPECT_TRUE(handlesToCheck(table, table[0], {0, 4, 500, 600}, confirmed).empty());
}

// Holders that need the game's handle pass by name and place, never by name alone.
TEST(GameHandles, SystemProcessesOnlyByNameAndPlace) {
    const std::pair<const char*, bool> cases[] = {
        {"c:\\windows\\SYSTEM32\\SvcHost.exe", true},
        {"C:\\Windows\\explorer.exe", true},
        {"C:\\Users\\p\\Downloads\\csrss.exe", false},
        {"C:\\Windows\\system32x\\lsass.exe", false},  // a folder that only starts like it
        {"C:\\Windows\\lsass.exe", false},              // the Windows folder holds only explorer
        {"C:\\Windows\\system32\\cheatengine.exe", false},
    };
    for (const auto& [path, allowed] : cases)
        EXPECT_EQ(wellKnownSystemProcess(path, "C:\\Windows\\system32", "C:\\Windows"), allowed) << path;
}

}  // namespace
}  // namespace marvik
