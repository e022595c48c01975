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
// second walk gives the same from what it remembers; a list relinked while
// it is read ends at the bound instead of looping.
TEST(LoaderList, LeavesOutEntriesItCannotNameAndStopsAtTheBound) {
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
            const std::vector<LoadedModule> got = walkLoaderList(read, 0x1000, width, 64, known);
            ASSERT_EQ(got.size(), 2u);
            EXPECT_EQ(got[0].name, u"iw3mp.exe");
            EXPECT_EQ(got[1].path, u"C:\\Windows\\d3d9.dll");
            EXPECT_EQ(got[1].base, 0x30000000u);
        }
        m.pointer(0x14000, width, 0x10000);  // the last entry links back to the first, not to the head
        EXPECT_EQ(walkLoaderList(read, 0x1000, width, 7, known).size(), 7u);
    }
}

}  // namespace
}  // namespace marvik
