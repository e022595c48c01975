// The hidden-module methods of the memory check on recorded region maps and
// a made-up game memory.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <tuple>

#include "checks/hidden_modules.h"
#include "support/fake_memory.h"

namespace marvik {
namespace {

constexpr std::uint32_t IMAGE = 0x1000000, PRIVATE = 0x20000, COMMIT = 0x1000, RESERVE = 0x2000;
constexpr std::uint32_t R = 0x02, RW = 0x04, RX = 0x20, RWX = 0x40;

MemoryRegion region(std::uint64_t base, std::uint64_t size, std::uint32_t protect, std::uint32_t type,
                    std::uint64_t allocation, std::uint32_t state = COMMIT) {
    return MemoryRegion{base, size, allocation, state, protect, type};
}

ListedModule listed(std::uint64_t base, std::uint32_t size) { return ListedModule{base, size, "", "", ""}; }

using test::FakeMemory;

// PE headers at base with one data directory set.
std::vector<std::uint8_t>& image(FakeMemory& memory, std::uint64_t base, int width, int directory, std::uint32_t rva,
                                 std::uint32_t size) {
    std::vector<std::uint8_t>& head = memory.pieces[base];
    head.resize(0x2000);
    test::peHeaders(head, width);
    test::peDirectory(head, width, directory, rva, size);
    return head;
}

TEST(HiddenModules, UnlistedExecutableImagesAndTheirImports) {
    const std::vector<MemoryRegion> regions = {
        region(0x10000000, 0x1000, R, IMAGE, 0x10000000),  // unlinked DLL
        region(0x10001000, 0x3000, RX, IMAGE, 0x10000000),
        region(0x10004000, 0x1000, RW, IMAGE, 0x10000000),
        region(0x7FFE0000, 0x1000, R, IMAGE, 0x7FFE0000),  // a 64-bit system image of a 32-bit game: listed
        region(0x7FFE1000, 0x9000, RX, IMAGE, 0x7FFE0000),
        region(0x30000000, 0x1000, RX, PRIVATE, 0x30000000),
    };
    const std::vector<ListedModule> modules = {listed(0x7FFE0000, 0xA000), listed(0x6F000000, 0x4000)};
    EXPECT_EQ(unlistedExecutableImages(regions, modules), (std::vector<std::uint64_t>{0x10000000}));

    // Loaded to run, at both widths: a loader bound the first import to an
    // address in a listed module, or the headers were wiped; a resource
    // mapping keeps the file's entry and its headers.
    for (int width : {4, 8}) {
        SCOPED_TRACE(width);
        struct Case {
            const char* what;
            std::uint64_t entry;  // the first address entry in memory
            bool imports;
            bool wiped;  // headers zeroed
            bool loaded;
        } cases[] = {
            {"bound into a listed module", 0x6F001230, true, false, true},
            {"the file's own lookup entry", 0x3000, true, false, false},
            {"changed, into no module", 0x55550000, true, false, false},
            {"no imports at all", 0, false, false, false},
            {"headers wiped, imports as in the file", 0x3000, true, true, true},
        };
        for (const Case& c : cases) {
            SCOPED_TRACE(c.what);
            FakeMemory memory;
            std::vector<std::uint8_t>& head = image(memory, 0x10000000, width, 1, c.imports ? 0x1800 : 0, 20);
            storeLe32(&head[0x1800], 0x1900);       // lookup table
            storeLe32(&head[0x1800 + 16], 0x1A00);  // address table
            memory.pointer(0x10001900, width, 0x3000);
            memory.pointer(0x10001A00, width, c.entry);
            if (c.wiped) std::fill(head.begin(), head.begin() + 0x400, 0);
            EXPECT_EQ(loadedToRun(memory.reader(), 0x10000000, modules), c.loaded);
        }
    }

    const MemoryScanHit hit = unlinkedModuleHit(0x7FF612340000ull, 0x5000, "C:\\Users\\p\\AppData\\Local\\Temp\\x.dll");
    EXPECT_EQ(hit.description, "Unlinked module x.dll 0x7ff612340000");
    EXPECT_EQ(hit.address, 0x12340000u);
}

TEST(HiddenModules, PathMismatchOnlyWhereTheMappedFileIsAnother) {
    const std::tuple<const char*, const char*, bool> cases[] = {
        {"C:\\Windows\\SysWOW64\\winmm.dll", "c:/windows/syswow64/WINMM.DLL", true},
        {"\\\\?\\C:\\Games\\CoD4\\iw3mp.exe", "C:\\Games\\CoD4\\iw3mp.exe", true},
        {"\\??\\C:\\Games\\CoD4\\game.dll", "C:\\Games\\CoD4\\game.dll", true},
        {"C:\\Windows\\SysWOW64\\version.dll", "C:\\Windows\\SysWOW64\\winmm.dll", false},
        {"C:\\Games\\CoD4\\game.dll", "C:\\Games\\CoD4\\game.dll.bak", false},
    };
    for (const auto& [loader, mapped, same] : cases) EXPECT_EQ(samePathText(loader, mapped), same) << loader;

    const ListedModule spoofed{0x6F000000, 0x4000, "", "C:\\Windows\\SysWOW64\\version.dll",
                               "C:\\Windows\\SysWOW64\\winmm.dll", false};
    ListedModule unknownFile = spoofed;  // the system could not name its file: nothing to weigh
    unknownFile.mappedPath.clear();
    ListedModule clean = spoofed;
    clean.sameFile = true;
    const std::vector<MemoryScanHit> hits = pathMismatchHits({clean, spoofed, unknownFile});
    ASSERT_EQ(hits.size(), 1u);
    EXPECT_EQ(hits[0].description, "Module path mismatch version.dll maps winmm.dll");
    EXPECT_EQ(hits[0].address, 0x6F000000u);
}

// A module listed at 0x6F000000 with four exports (one of them a forwarder),
// and private allocations whose non-executable pages hold pointers.
// Executable memory outside images is judged by what it holds: an import
// table or a section table's remnants make it foreign code whatever its
// protection (a hand mapper may leave it read-execute or read-write-execute),
// named for the image layout when a careful mapper gave it one; trampolines
// and JIT code, with neither, are silent.
TEST(HiddenModules, ForeignCodeByItsImportsOrSectionNamesNotItsProtection) {
    for (int width : {4, 8}) {
        SCOPED_TRACE(width);
        FakeMemory memory;
        std::vector<std::uint8_t>& dll = image(memory, 0x6F000000, width, 0, 0x1000, 0x100);
        storeLe32(&dll[0x1000 + 0x14], 6);       // NumberOfFunctions
        storeLe32(&dll[0x1000 + 0x1C], 0x1040);  // AddressOfFunctions
        const std::uint32_t functions[] = {0x1100, 0x1200, 0x1300, 0x1400, 0x1500, 0x1080 /* forwarder */};
        for (int i = 0; i < 6; ++i) storeLe32(&dll[0x1040 + 4 * i], functions[i]);
        const std::vector<ListedModule> modules = {listed(0x6F000000, 0x2000)};
        const std::vector<std::uint32_t> imports = {0x1100, 0x1200, 0x1300, 0x1400, 0};

        // Each allocation: its regions, the pointers its last page holds, and
        // how many section names its first page keeps.
        struct Case {
            const char* what;
            std::vector<std::uint32_t> protections;  // one page each, from the allocation base
            std::vector<std::uint32_t> dataPointers;   // RVAs into the module, 0 for a null
            int sectionNames;
            const char* label;  // the hit's start; null for none
        } cases[] = {
            {"hand-mapped, headers wiped", {R, RX, RX, R, RW}, {0x1100, 0x1200, 0x1300, 0x1400, 0, 0x1500, 0}, 0,
             "Headerless image in private memory, 4 imports"},
            {"headers page decommitted", {0, RX, R}, imports, 0, "Headerless image"},
            {"mapped whole read-execute", {RX, RX, RX}, imports, 0, "Foreign code: 4 imports, 76 KiB private"},
            {"mapped whole read-write-execute", {RWX, RWX}, imports, 0, "Foreign code: 4 imports, 72 KiB private"},
            {"only MZ and PE wiped", {RX, RX}, {}, 3, "Foreign code: 3 section names, 72 KiB private"},
            {"one stray section name", {RX, RX}, {}, 1, nullptr},
            {"pointers to inner code", {R, RX, R}, {0x1100, 0x1110, 0x1120, 0x1130, 0x1140, 0}, 0, nullptr},
            {"a forwarder is no address", {R, RX, R}, {0x1100, 0x1200, 0x1080, 0x1300, 0}, 0, nullptr},
            {"run broken by an inner address", {R, RX, R}, {0x1100, 0x1200, 0x1300, 0x1400, 0x1110}, 0, nullptr},
            {"trampoline block (read-write-execute)", {RWX}, {0x1100, 0, 0x1200, 0}, 0, nullptr},
            {"JIT: data, code, no data after", {RW, RX, RX}, {}, 0, nullptr},
            {"data only", {R, RW}, imports, 0, nullptr},
        };
        for (const Case& c : cases) {
            SCOPED_TRACE(c.what);
            constexpr std::uint64_t base = 0x30000000;
            std::vector<MemoryRegion> regions;
            for (std::size_t i = 0; i < c.protections.size(); ++i) {
                const std::uint32_t p = c.protections[i];
                regions.push_back(region(base + 0x1000 * i, 0x1000, p, PRIVATE, base, p == 0 ? RESERVE : COMMIT));
            }
            regions.push_back(region(base + 0x1000 * c.protections.size(), 0x10000, 0, PRIVATE, base, RESERVE));
            FakeMemory game = memory;
            game.pieces[base].resize(0x1000 * c.protections.size());
            const std::size_t data = 0x1000 * (c.protections.size() - 1);
            for (std::size_t i = 0; i < c.dataPointers.size(); ++i)
                game.pointer(base + data + 0x10 + width * i, width, c.dataPointers[i] ? 0x6F000000 + c.dataPointers[i] : 0);
            for (int i = 0; i < c.sectionNames; ++i)
                std::memcpy(&game.pieces[base][0x188 + 40 * i], (".text\0\0\0.rdata\0\0.data\0\0\0") + 8 * i, 8);
            const std::vector<MemoryScanHit> hits = findForeignCode(regions, modules, game.reader(), width);
            ASSERT_EQ(hits.size(), c.label ? 1u : 0u);
            if (!c.label) continue;
            EXPECT_EQ(hits[0].description.rfind(c.label, 0), 0u) << hits[0].description;
            EXPECT_EQ(std::make_pair(hits[0].address, hits[0].size),
                      std::make_pair(std::uint32_t{base}, std::uint32_t(0x1000 * c.protections.size() + 0x10000)));
        }
    }
}

// A loop or a chain past the bound is the game's doing; a broken link is
// the loader's, caught between two writes.
TEST(HiddenModules, LoopedOrEndlessLoaderListIsTampering) {
    const std::pair<LoaderListShape, const char*> cases[] = {
        {LoaderListShape::CLOSED, ""},
        {LoaderListShape::BROKEN, ""},
        {LoaderListShape::LOOPED, "Loader list tampered: loop at 0x11000 (64-bit list)"},
        {LoaderListShape::TOO_LONG, "Loader list tampered: endless at 0x11000 (64-bit list)"},
    };
    for (const auto& [shape, description] : cases) {
        const LoaderListEnd end{shape, 0x11000, 8};
        EXPECT_EQ(loaderListTampered(end) ? tamperedLoaderListHit(end).description : "", description);
    }
}

// The export directory is the game's to write: a count in the billions is
// read as the bound, tables outside the directory as no exports, a function
// inside it as a forwarder.
TEST(HiddenModules, ExportCountsAndTablesAreBounded) {
    FakeMemory memory;
    std::vector<std::uint8_t>& dll = image(memory, 0x6F000000, 4, 0, 0x1000, 0x100);
    storeLe32(&dll[0x1000 + 0x14], 0xFFFFFFFF);
    storeLe32(&dll[0x1000 + 0x1C], 0x1800);
    std::size_t bytes = 0;
    const ReadMemory read = [&](std::uint64_t a, void* out, std::size_t n) {
        bytes += n;
        return memory.reader()(a, out, n);
    };
    EXPECT_TRUE(exportAddresses(read, 0x6F000000).empty());  // the table lies outside the directory
    EXPECT_LE(bytes, 0x400u + 0x100);
    storeLe32(&dll[0x1000 + 0x14], 2);
    storeLe32(&dll[0x1000 + 0x1C], 0x1040);
    storeLe32(&dll[0x1040], 0x1100);
    storeLe32(&dll[0x1044], 0x1080);  // inside the directory: a forwarder's text
    EXPECT_EQ(exportAddresses(memory.reader(), 0x6F000000), std::vector<std::uint64_t>{0x6F001100});
}

}  // namespace
}  // namespace marvik
