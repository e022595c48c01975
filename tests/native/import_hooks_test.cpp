// The import address table check on a made-up game memory.
#include <gtest/gtest.h>

#include <string>
#include <tuple>

#include "checks/import_hooks.h"
#include "support/fake_memory.h"

namespace marvik {
namespace {

constexpr std::uint64_t EXE = 0x400000, KERNEL32 = 0x7C800000, NTDLL = 0x7C900000, OVERLAY = 0x10000000,
                        CHEAT = 0x20000000, STUB = 0x30000000;

using namespace test;

struct Game {
    FakeMemory memory;
    GameView view;
};
std::uint64_t slot(int width, int i) { return EXE + 0x1200 + width * i; }  // the address table's entry i

// The executable imports kernel32!GetTickCount, kernel32!Fwd (-> ntdll!RtlFoo) and ordinal 2, all filled.
Game makeGame(int width) {
    Game g;
    std::vector<std::uint8_t>& exe = peImage(g.memory, EXE, width);
    peDirectory(exe, width, 1, 0x1000, 40);
    storeLe32(&exe[0x1000], 0x1100);       // lookup table
    storeLe32(&exe[0x1000 + 12], 0x1300);  // DLL name
    storeLe32(&exe[0x1000 + 16], 0x1200);  // address table
    peText(exe, 0x1300, "KERNEL32.dll");
    const std::uint64_t entries[] = {0x1400, 0x1440, (width == 8 ? 1ull << 63 : 1ull << 31) | 2};
    peText(exe, 0x1402, "GetTickCount");
    peText(exe, 0x1442, "Fwd");
    std::vector<std::uint8_t>& k32 = peImage(g.memory, KERNEL32, width);
    peExports(k32, width, {{"GetTickCount", 0x2000}, {"Sleep", 0x2100}, {"Fwd", 0x1600}});
    peText(k32, 0x1600, "ntdll.RtlFoo");
    std::vector<std::uint8_t>& nt = peImage(g.memory, NTDLL, width);
    peExports(nt, width, {{"RtlFoo", 0x2400}});
    const std::uint64_t filled[] = {KERNEL32 + 0x2000, NTDLL + 0x2400, KERNEL32 + 0x2100};
    for (int i = 0; i < 3; ++i) {
        g.memory.pointer(EXE + 0x1100 + width * i, width, entries[i]);
        g.memory.pointer(slot(width, i), width, filled[i]);
    }
    // A cheat's stub does its own work first (push ebp; mov ebp, esp; ...), unlike a relay's bare jump back.
    g.memory.pieces[STUB] = {0x55, 0x8B, 0xEC, 0x90, 0x90, 0x5D, 0xC3};
    g.memory.pieces[STUB].resize(0x20);
    g.memory.pieces[STUB][0x10] = 0xE9;  // and at +0x10 a bare jmp rel32 to GetTickCount
    storeLe32(&g.memory.pieces[STUB][0x11], static_cast<std::uint32_t>(KERNEL32 + 0x2000 - (STUB + 0x15)));
    g.view.modules = {{EXE, 0x3000, "iw3mp.exe", "C:\\Games\\iw3mp.exe", "", true},
                      {KERNEL32, 0x3000, "KERNEL32.DLL", "C:\\windows\\system32\\kernel32.dll", "", true},
                      {NTDLL, 0x3000, "ntdll.dll", "C:\\windows\\system32\\ntdll.dll", "", true},
                      {OVERLAY, 0x3000, "overlay.dll", "C:\\Program Files\\Overlay\\overlay.dll", "", true},
                      {CHEAT, 0x3000, "cheat.dll", "C:\\Games\\cheat.dll", "", true}};
    g.view.width = width == 8 ? CodeWidth::X64 : CodeWidth::X86;
    g.view.read = g.memory.reader();
    g.view.kindAt = [](std::uint64_t a) { return a >= STUB && a < STUB + 0x20 ? MemoryKind::Private : MemoryKind::Free; };
    g.view.trusted = [](const ListedModule& m) { return m.name != "cheat.dll"; };
    return g;
}

TEST(ImportHooks, EntriesThatLeaveTheirExportForUntrustedCodeAreHooks) {
    for (int width : {4, 8}) {
        SCOPED_TRACE(width);
        Game clean = makeGame(width);
        const std::vector<ImportSlot> slots = readImports(clean.view.read, EXE, width);
        ASSERT_EQ(slots.size(), 3u);
        EXPECT_EQ(slots[0].dll + "!" + slots[0].function + " " + slots[2].function, "KERNEL32.dll!GetTickCount #2");
        EXPECT_TRUE(findImportHooks(clean.view).empty()) << "as the loader filled them, forwarder followed";
        // ntdll forwarding back to kernel32 (a hostile game's): the chain ends at its bound, the entry unjudged.
        Game loop = makeGame(width);
        peText(loop.memory.pieces[NTDLL], 0x1600, "KERNEL32.Fwd");
        storeLe32(&loop.memory.pieces[NTDLL][0x1100], 0x1600);
        loop.memory.pointer(slot(width, 1), width, CHEAT + 0x100);
        EXPECT_TRUE(findImportHooks(loop.view).empty());

        // The entry changed, its new value, the hit's start.
        const std::tuple<int, std::uint64_t, std::string> cases[] = {
            {0, STUB, "Import hook KERNEL32.dll!GetTickCount -> private 0x"},
            {1, CHEAT + 0x100, "Import hook KERNEL32.dll!Fwd -> cheat.dll+0x100"},
            // Windows' compatibility shims redirect import entries into signed
            // shim DLLs (the shim engine, apphelp.dll / AcLayers.dll).
            {0, OVERLAY + 0x80, "none"},
            {0, STUB + 0x10, "none"},  // a relay back to the export
        };
        for (const auto& [entry, value, hit] : cases) {
            Game g = makeGame(width);
            g.memory.pointer(slot(width, entry), width, value);
            const std::vector<MemoryScanHit> hits = findImportHooks(g.view);
            EXPECT_EQ(hits.empty() ? "none" : hits[0].description.substr(0, hit.size()), hit);
        }
    }
}

}  // namespace
}  // namespace marvik
