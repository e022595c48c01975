// The hidden-module methods of the memory check on region maps and a made-up game memory.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <tuple>

#include "checks/hidden_modules.h"
#include "support/fake_memory.h"

namespace marvik {
namespace {

using namespace test;

ListedModule listed(std::uint64_t base, std::uint32_t size) { return ListedModule{base, size, "", "", ""}; }

TEST(HiddenModules, UnlistedExecutableImagesAndTheirImports) {
    const std::vector<MemoryRegion> regions = {
        region(0x10000000, 0x1000, R, IMAGE),  // unlinked DLL
        region(0x10001000, 0x3000, RX, IMAGE, 0x10000000),
        region(0x7FFE0000, 0x1000, R, IMAGE),  // a 64-bit system image of a 32-bit game: listed
        region(0x7FFE1000, 0x9000, RX, IMAGE, 0x7FFE0000),
        region(0x30000000, 0x1000, RX, PRIVATE),
    };
    const std::vector<ListedModule> modules = {listed(0x7FFE0000, 0xA000), listed(0x6F000000, 0x4000)};
    EXPECT_EQ(unlistedExecutableImages(regions, modules), (std::vector<std::uint64_t>{0x10000000}));

    // Loaded to run: a loader bound its first import into a listed module, or the headers
    // were wiped; a resource mapping (LoadLibraryEx AS_IMAGE_RESOURCE, as Explorer's icon reads) is not.
    for (int width : {4, 8}) {
        const std::tuple<std::uint64_t, bool, bool> cases[] = {  // first address entry, headers wiped, loaded
            {0x6F001230, false, true},
            {0x3000, false, false},
            {0x55550000, false, false},  // changed, into no module
            {0x3000, true, true},
        };
        for (const auto& [entry, wiped, loaded] : cases) {
            FakeMemory memory;
            std::vector<std::uint8_t>& head = peImage(memory, 0x10000000, width);
            peDirectory(head, width, 1, 0x1800, 20);  // imports
            storeLe32(&head[0x1800], 0x1900);       // lookup table
            storeLe32(&head[0x1800 + 16], 0x1A00);  // address table
            memory.pointer(0x10001900, width, 0x3000);
            memory.pointer(0x10001A00, width, entry);
            if (wiped) std::fill(head.begin(), head.begin() + 0x400, 0);
            EXPECT_EQ(loadedToRun(memory.reader(), 0x10000000, modules), loaded) << width << std::hex << " " << entry;
        }
    }
}

TEST(HiddenModules, PathMismatchOnlyWhereTheMappedFileIsAnother) {
    // One file as the loader and the mapping spell it (NT and long-path prefixes), and two files.
    const std::tuple<const char*, const char*, bool> cases[] = {
        {"C:\\Windows\\SysWOW64\\winmm.dll", "c:/windows/syswow64/WINMM.DLL", true},
        {"\\\\?\\C:\\Games\\CoD4\\iw3mp.exe", "C:\\Games\\CoD4\\iw3mp.exe", true},
        {"\\??\\C:\\Games\\CoD4\\game.dll", "C:\\Games\\CoD4\\game.dll", true},
        {"C:\\Games\\CoD4\\game.dll", "C:\\Games\\CoD4\\game.dll.bak", false},
    };
    for (const auto& [loader, mapped, same] : cases) EXPECT_EQ(samePathText(loader, mapped), same) << loader;

    const ListedModule spoofed{0x6F000000, 0x4000, "", "C:\\Windows\\SysWOW64\\version.dll",
                               "C:\\Windows\\SysWOW64\\winmm.dll", false};
    ListedModule clean = spoofed;
    clean.sameFile = true;
    const std::vector<MemoryScanHit> hits = pathMismatchHits({clean, spoofed});
    ASSERT_EQ(hits.size(), 1u);
    EXPECT_EQ(hits[0].description, "Module path mismatch version.dll maps winmm.dll");
}

// Executable memory outside images is judged by what it holds: imports of listed exports, section names.
TEST(HiddenModules, ForeignCodeByItsImportsOrSectionNamesNotItsProtection) {
    for (int width : {4, 8}) {
        SCOPED_TRACE(width);
        FakeMemory memory;
        peExports(peImage(memory, 0x6F000000, width), width,
                        {{"a", 0x2100}, {"b", 0x2200}, {"c", 0x2300}, {"d", 0x2400}, {"e", 0x2500}, {"fwd", 0x1600}});
        const std::vector<ListedModule> modules = {listed(0x6F000000, 0x3000)};

        // An allocation: a page per protection, its last page's pointers (RVAs into the
        // module, 0 for a null), its first page's section names; the hit's start.
        using Case = std::tuple<std::vector<std::uint32_t>, std::vector<std::uint32_t>, int, std::string>;
        const Case cases[] = {
            // hand-mapped, headers wiped
            {{R, RX, RX, R, RW}, {0x2100, 0x2200, 0x2300, 0x2400, 0, 0x2500, 0}, 0,
             "Headerless image in private memory, 4 imports"},
            {{RX, RX, RX}, {0x2100, 0x2200, 0x2300, 0x2400, 0}, 0, "Foreign code: 4 imports, 76 KiB private"},
            {{RX, RX}, {}, 3, "Foreign code: 3 section names, 72 KiB private"},  // only MZ and PE wiped
            {{RX, RX}, {}, 1, "none"},                                             // one stray section name
            {{R, RX, R}, {0x2100, 0x2110, 0x2120, 0x2130, 0x2140, 0}, 0, "none"},  // pointers to inner code
            {{R, RX, R}, {0x2100, 0x2200, 0x1600, 0x2300, 0}, 0, "none"},          // a forwarder is no address
            // MinHook's trampoline blocks of relays and copied prologues (MinHook src/buffer.c).
            {{RWX}, {0x2100, 0, 0x2200, 0}, 0, "none"},
            {{RW, RX, RX}, {}, 0, "none"},  // JIT: data, code, no data after
        };
        for (const auto& [protections, dataPointers, sectionNames, label] : cases) {
            constexpr std::uint64_t base = 0x30000000;
            std::vector<MemoryRegion> regions;
            for (std::size_t i = 0; i < protections.size(); ++i)
                regions.push_back(region(base + 0x1000 * i, 0x1000, protections[i], PRIVATE, base));
            regions.push_back(region(base + 0x1000 * protections.size(), 0x10000, 0, PRIVATE, base, RESERVE));
            FakeMemory game = memory;
            game.pieces[base].resize(0x1000 * protections.size());
            const std::size_t data = 0x1000 * (protections.size() - 1);
            for (std::size_t i = 0; i < dataPointers.size(); ++i)
                game.pointer(base + data + 0x10 + width * i, width, dataPointers[i] ? 0x6F000000 + dataPointers[i] : 0);
            for (int i = 0; i < sectionNames; ++i)
                std::memcpy(&game.pieces[base][0x188 + 40 * i], (".text\0\0\0.rdata\0\0.data\0\0\0") + 8 * i, 8);
            const std::vector<MemoryScanHit> hits = findForeignCode(regions, modules, game.reader(), width);
            EXPECT_EQ(hits.empty() ? "none" : hits[0].description.substr(0, label.size()), label) << data;
            EXPECT_LE(hits.size(), 1u);
        }
    }
}

}  // namespace
}  // namespace marvik
