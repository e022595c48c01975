// The game-thread checks' decisions on a game's address map and debug registers.
#include <gtest/gtest.h>

#include <utility>

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

}  // namespace
}  // namespace marvik
