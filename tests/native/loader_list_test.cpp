#include <gtest/gtest.h>

#include "inventory/loader_list.h"
#include "support/fake_memory.h"

namespace marvik {
namespace {

struct EntrySpec {
    std::uint64_t base;
    std::u16string path;  // the name is its last part
    bool namesReadable = true;
};

// A loader list in the given layout: PEB at 0x1000, loader data at 0x2000,
// entry i at 0x10000 + 0x1000 * i with its strings behind it.
void buildList(test::FakeMemory& m, int width, const std::vector<EntrySpec>& specs) {
    const bool x64 = width == 8;
    for (std::uint64_t block : {0x1000, 0x2000}) m.pieces[block].resize(0x100);
    m.pointer(0x1000 + (x64 ? 0x18 : 0x0C), width, 0x2000);
    const std::uint64_t head = 0x2000 + (x64 ? 0x10 : 0x0C);
    std::uint64_t previous = head;
    for (std::size_t i = 0; i < specs.size(); ++i) {
        const std::uint64_t e = 0x10000 + 0x1000 * i;
        m.pieces[e].resize(0x100);
        m.pointer(previous, width, e);
        m.pointer(e + (x64 ? 0x30 : 0x18), width, specs[i].base);
        const std::u16string& path = specs[i].path;
        const std::u16string name = path.substr(path.rfind(u'\\') + 1);
        for (auto [field, text] : {std::make_pair(x64 ? 0x48 : 0x24, path), std::make_pair(x64 ? 0x58 : 0x2C, name)}) {
            const std::uint64_t where = e + 0x10 * field;
            storeLe16(m.at(e + field, 2), static_cast<std::uint16_t>(text.size() * 2));
            m.pointer(e + field + width, width, where);
            if (!specs[i].namesReadable || text.empty()) continue;
            m.pieces[where].resize(text.size() * 2);
            for (std::size_t c = 0; c < text.size(); ++c) storeLe16(m.at(where + 2 * c, 2), text[c]);
        }
        previous = e;
    }
    m.pointer(previous, width, head);
}

// Entries the game's loader is still filling in or tearing down (no base,
// no path, names in freed memory) are left out, the others kept in order; a
// second walk gives the same from what it remembers.
TEST(LoaderList, LeavesOutEntriesItCannotName) {
    for (int width : {4, 8}) {
        SCOPED_TRACE(width);
        test::FakeMemory m;
        buildList(m, width,
                  {{0x400000, u"C:\\Games\\iw3mp.exe"},
                   {0, u"C:\\x\\loading.dll"},
                   {0x10000000, u""},
                   {0x20000000, u"C:\\x\\freed.dll", false},
                   {0x30000000, u"C:\\Windows\\d3d9.dll"}});
        const ReadMemory read = m.reader();
        std::vector<std::pair<LoaderEntryKey, LoadedModule>> known;
        for (int walk = 0; walk < 2; ++walk) {
            const LoaderWalk got = walkLoaderList(read, 0x1000, width, 64, known);
            ASSERT_EQ(got.modules.size(), 2u);
            EXPECT_EQ(got.modules[0].name, u"iw3mp.exe");
            EXPECT_EQ(got.modules[1].path, u"C:\\Windows\\d3d9.dll");
            EXPECT_EQ(got.modules[1].base, 0x30000000u);
            EXPECT_EQ(got.end.shape, LoaderListShape::CLOSED);
        }
    }
}

// The list is the game's to write. Whatever it links, the walk ends after a
// bounded number of entries, skipped ones counted, and says how it ended:
// what a hostile game makes (loops through skipped or named entries, a
// self-link, a chain longer than any game's) apart from what the loader
// leaves for a moment (a link into freed memory).
TEST(LoaderList, EndsOnEveryShapeAHostileGameLinks) {
    constexpr std::uint64_t E0 = 0x10000, E1 = 0x11000, E2 = 0x12000;
    struct Case {
        const char* what;
        std::vector<EntrySpec> specs;
        std::uint64_t linkFrom, linkTo;  // one link rewritten after the list is built (0: none)
        std::size_t maxModules;
        LoaderListShape shape;
        std::uint64_t at;
        std::size_t modules;
    };
    const std::vector<EntrySpec> named = {{0x400000, u"C:\\g\\iw3mp.exe"}, {0x10000000, u"C:\\g\\a.dll"},
                                          {0x20000000, u"C:\\g\\b.dll"}};
    const std::vector<EntrySpec> skipped = {{0x400000, u"C:\\g\\iw3mp.exe"}, {0, u"C:\\g\\x.dll"},
                                            {0x20000000, u"C:\\g\\y.dll", false}};
    const Case cases[] = {
        {"named entries loop back to the first", named, E2, E0, 64, LoaderListShape::LOOPED, E0, 3},
        {"a skipped entry links to itself", skipped, E1, E1, 64, LoaderListShape::LOOPED, E1, 1},
        {"two skipped entries link to each other", skipped, E2, E1, 64, LoaderListShape::LOOPED, E1, 1},
        {"a link into unmapped memory", named, E1, 0x7FFF0000, 64, LoaderListShape::BROKEN, 0, 2},
        {"a null link", named, E1, 0, 64, LoaderListShape::BROKEN, 0, 2},
        {"more entries than the bound", named, 0, 0, 2, LoaderListShape::TOO_LONG, E2, 2},
    };
    for (int width : {4, 8}) {
        for (const Case& c : cases) {
            SCOPED_TRACE(std::string(c.what) + (width == 8 ? " (64-bit)" : " (32-bit)"));
            test::FakeMemory m;
            buildList(m, width, c.specs);
            if (c.linkFrom != 0) m.pointer(c.linkFrom, width, c.linkTo);
            std::vector<std::pair<LoaderEntryKey, LoadedModule>> known;
            const LoaderWalk got = walkLoaderList(m.reader(), 0x1000, width, c.maxModules, known);
            EXPECT_EQ(got.end.shape, c.shape);
            EXPECT_EQ(got.end.at, c.at);
            EXPECT_EQ(got.end.width, width);
            EXPECT_EQ(got.modules.size(), c.modules);
        }
    }
}

// A chain of skipped entries that never repeats one still ends at the bound:
// every entry read counts, named or not.
TEST(LoaderList, CountsSkippedEntriesAgainstTheBound) {
    std::vector<EntrySpec> specs(50, EntrySpec{0, u"C:\\x.dll"});
    test::FakeMemory m;
    buildList(m, 4, specs);
    std::size_t reads = 0;
    const ReadMemory counted = [&](std::uint64_t a, void* out, std::size_t n) { return ++reads, m.reader()(a, out, n); };
    std::vector<std::pair<LoaderEntryKey, LoadedModule>> known;
    const LoaderWalk got = walkLoaderList(counted, 0x1000, 4, 8, known);
    EXPECT_EQ(got.end.shape, LoaderListShape::TOO_LONG);
    EXPECT_TRUE(got.modules.empty());
    EXPECT_LE(reads, 2u + 17u);  // PEB, head, then at most 2 * 8 + 1 entries
}

}  // namespace
}  // namespace marvik
