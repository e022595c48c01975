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
    region(0x00400000, 0x1000, IMAGE, 0x02),                 // iw3mp.exe headers
    region(0x00401000, 0x200000, IMAGE, 0x20),               // iw3mp.exe code
    region(0x00700000, 0x4000, MAPPED, 0x20),                // an executable view of someone's file
    region(0x7FFE0000, 0x1000, PRIVATE, 0x02),               // shared user data
};

TEST(GameThreads, UnownedCodeIsExecutableMemoryNoImageOrSystemViewHolds) {
    const std::pair<std::uint64_t, bool> cases[] = {
        {0x00300000, true},  {0x0030FFFF, true},  {0x00310800, true},  {0x00700010, true},
        {0x00401234, false}, {0x00400010, false}, {0x00250100, false}, {0x00010000, false},
        {0x00320000, false}, {0x00335000, false}, {0x7FFE0000, false}, {0x00000000, false},
        {0x0000F000, false}, {0x00340000, false}, {0x80000000, false},
    };
    for (const auto& [address, unowned] : cases) EXPECT_EQ(inUnownedCode(MAP, address), unowned) << std::hex << address;
}

TEST(GameThreads, OneHitPerThreadNamingWhatIsUnowned) {
    std::vector<std::tuple<std::string, std::uint32_t, std::uint32_t>> hits;  // description, address, size
    for (const MemoryScanHit& h : classifyThreads(MAP, {
             {100, 0x00401000, 0x00402000, {}},  // in the game's code
             {204, 0x00300010, 0x7BC01000, {}},  // started in the JIT region, now in ntdll (not in the map)
             {308, 0x00401100, 0x00310020, {}},  // started in the game, now running unowned code
             {412, 0x00300000, 0x00300004, {}},  // both
             {620, 0, 0, {}},                    // nothing could be read
         }))
        hits.emplace_back(h.description, h.address, h.size);
    EXPECT_EQ(hits, (decltype(hits){{"Thread in unowned code tid=204 start", 0x00300010, 0x10000 - 0x10},
                                    {"Thread in unowned code tid=308 ip", 0x00310020, 0x1000 - 0x20},
                                    {"Thread in unowned code tid=412 start+ip", 0x00300000, 0x10000}}));
}

TEST(GameThreads, Dr7EnablesEachRegisterByItsLocalOrGlobalBit) {
    const std::pair<DebugRegisters, bool> cases[] = {
        {{{0x1000, 0, 0, 0}, 0x2}, true},                  // G0
        {{{0, 0, 0, 0x2000}, 0x40}, true},                 // L3
        {{{0, 0x3000, 0, 0}, 0x4 | (3u << 20)}, true},     // L1 with a write condition
        {{{0x1000, 0, 0, 0}, 0x4}, false},                 // DR1 enabled, empty; DR0 not enabled
        {{{0x1000, 0x1000, 0x1000, 0x1000}, 0x0}, false},
        {{{0x1000, 0, 0, 0}, 0x400 | 0x300}, false},       // reserved bit 10 and LE/GE alone
        {{{0x1000, 0, 0, 0}, 0xFFFF0000}, false},          // conditions and lengths alone
        {{{0, 0, 0, 0}, 0xFF}, false},                     // all enabled, nothing set
    };
    for (const auto& [registers, armed] : cases)
        EXPECT_EQ(hardwareBreakpointArmed(registers), armed) << std::hex << registers.control;
}

TEST(GameHandles, LabelNamesTheRightsThatMatter) {
    const std::pair<std::uint32_t, const char*> cases[] = {
        {0x0010, "handle to game: read memory"},
        {0x0020 | 0x0400, "handle to game: write memory"},
        {0x0002 | 0x0008, "handle to game: create threads, change protections"},
        {0x1FFFFF, "handle to game: read/write memory, create threads, change protections, duplicate handles"},
        {0x0001 | 0x0200 | 0x1000 | 0x100000, ""},  // terminate, set information, limited query, synchronize
    };
    for (const auto& [access, label] : cases) EXPECT_EQ(gameHandleLabel(access), label) << std::hex << access;
}

TEST(GameHandles, KeepsRiskyHandlesOfTheGamesTypeFromOtherHolders) {
    const std::uint16_t process = 7, thread = 8;
    const SystemHandle own{500, 0x44, 0x1000, process, 0};
    std::vector<SystemHandle> table = {
        own,
        {900, 0x10, 0x0030, process, 0},    // kept
        {300, 0x20, 0x0010, process, 0},    // kept, sorted before 900
        {900, 0x14, 0x1000, process, 0},    // query only
        {900, 0x18, 0x001F, thread, 0},     // a thread handle with the same bits
        {600, 0x08, 0x1FFFFF, process, 0},  // the game itself
        {4, 0x08, 0x1FFFFF, process, 0},    // the system
        {300, 0x24, 0x0008, process, 0},    // kept
    };
    bool confirmed = true;
    std::vector<SystemHandle> kept = handlesToCheck(table, own, {0, 4, 500, 600}, confirmed);
    EXPECT_FALSE(confirmed);  // no object addresses: each one must be asked which process it names
    ASSERT_EQ(kept.size(), 3u);
    EXPECT_EQ((std::vector<std::uint64_t>{kept[0].value, kept[1].value, kept[2].value}),
              (std::vector<std::uint64_t>{0x20, 0x24, 0x10}));

    // Where the table has object addresses, they say which handles are the game's.
    for (SystemHandle& h : table) h.object = h.value == 0x20 || h.value == 0x44 ? 0xFFFF8000AAAA0000 : 0xFFFF8000BBBB0000;
    kept = handlesToCheck(table, table[0], {0, 4, 500, 600}, confirmed);
    EXPECT_TRUE(confirmed);
    ASSERT_EQ(kept.size(), 1u);
    EXPECT_EQ(kept[0].owner, 300u);
}

TEST(GameHandles, SystemProcessesOnlyByNameAndPlace) {
    const std::pair<const char*, bool> cases[] = {
        {"c:\\windows\\SYSTEM32\\SvcHost.exe", true},
        {"C:\\Windows\\explorer.exe", true},
        {"C:\\Windows\\system32\\services.exe", true},
        {"C:\\Users\\p\\Downloads\\csrss.exe", false},      // the name alone
        {"C:\\Windows\\system32\\sub\\lsass.exe", false},   // below the folder
        {"C:\\Windows\\system32x\\lsass.exe", false},       // a folder that only starts like it
        {"C:\\Windows\\lsass.exe", false},                   // the Windows folder holds only explorer
        {"C:\\Windows\\system32\\cheatengine.exe", false},  // in the folder, but nobody we know
        {"", false},
    };
    for (const auto& [path, allowed] : cases)
        EXPECT_EQ(wellKnownSystemProcess(path, "C:\\Windows\\system32", "C:\\Windows"), allowed) << path;
}

}  // namespace
}  // namespace marvik
