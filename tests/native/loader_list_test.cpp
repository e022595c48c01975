#include <gtest/gtest.h>

#include <string>
#include <tuple>

#include "checks/hidden_modules.h"
#include "inventory/loader_list.h"
#include "support/fake_memory.h"

namespace marvik {
namespace {

struct EntrySpec {
    std::uint64_t base;
    std::u16string path;  // the name is its last part
    bool namesReadable = true;
};

// A loader list: PEB at 0x1000, loader data at 0x2000, entry i at 0x10000 + 0x1000 * i, its strings behind it.
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

// Entries being loaded or freed (no base, no path, names in freed memory) are left out; a loop or a
// chain past the bound (skipped entries counted) is the game's doing, a null link the loader's.
TEST(LoaderList, WalksWhatItCanNameAndEndsOnEveryShape) {
    constexpr std::uint64_t E0 = 0x10000, E1 = 0x11000, E2 = 0x12000;
    const std::vector<EntrySpec> loading = {{0x400000, u"C:\\Games\\iw3mp.exe"}, {0, u"C:\\x\\loading.dll"},
                                            {0x10000000, u""}, {0x20000000, u"C:\\x\\freed.dll", false},
                                            {0x30000000, u"C:\\Windows\\d3d9.dll"}};
    const std::vector<EntrySpec> named = {{0x400000, u"C:\\g\\iw3mp.exe"}, {0x10000000, u"C:\\g\\a.dll"},
                                          {0x20000000, u"C:\\g\\b.dll"}};
    const std::vector<EntrySpec> skipped(50, EntrySpec{0, u"C:\\x.dll"});
    const struct {
        std::vector<EntrySpec> specs;
        std::uint64_t linkFrom, linkTo;  // one link rewritten after the list is built (0: none)
        std::size_t maxModules;
        LoaderListShape shape;
        std::uint64_t at;
        std::u16string paths;  // of the modules walked
        std::string finding;   // the memory check's, its start
    } cases[] = {
        {loading, 0, 0, 64, LoaderListShape::CLOSED, 0, u"C:\\Games\\iw3mp.exe|C:\\Windows\\d3d9.dll|", ""},
        {named, E2, E0, 64, LoaderListShape::LOOPED, E0, u"C:\\g\\iw3mp.exe|C:\\g\\a.dll|C:\\g\\b.dll|",
         "Loader list tampered: loop at 0x10000"},
        {named, E1, 0, 64, LoaderListShape::BROKEN, 0, u"C:\\g\\iw3mp.exe|C:\\g\\a.dll|", ""},
        {named, 0, 0, 2, LoaderListShape::TOO_LONG, E2, u"C:\\g\\iw3mp.exe|C:\\g\\a.dll|",
         "Loader list tampered: endless at 0x12000"},
        // Skipped entries that never repeat: the 17th of them is past 2 * 8 steps.
        {skipped, 0, 0, 8, LoaderListShape::TOO_LONG, E0 + 16 * 0x1000, u"", "Loader list tampered: endless"},
    };
    for (int width : {4, 8}) {
        for (const auto& c : cases) {
            test::FakeMemory m;
            buildList(m, width, c.specs);
            if (c.linkFrom != 0) m.pointer(c.linkFrom, width, c.linkTo);
            std::vector<std::pair<LoaderEntryKey, LoadedModule>> known;
            const LoaderWalk got = walkLoaderList(m.reader(), 0x1000, width, c.maxModules, known);
            std::u16string paths;
            for (const LoadedModule& module : got.modules) paths += module.path + u"|";
            EXPECT_EQ(std::make_tuple(got.end.shape, got.end.at, got.end.width),
                      std::make_tuple(c.shape, c.at, width));
            EXPECT_TRUE(paths == c.paths) << width << " " << c.at;
            const bool tampered = loaderListTampered(got.end);
            const std::string finding = tampered ? tamperedLoaderListHit(got.end).description : "";
            EXPECT_EQ(finding.substr(0, c.finding.size()), c.finding);
            EXPECT_EQ(finding.empty(), c.finding.empty()) << finding;
        }
    }
}

}  // namespace
}  // namespace marvik
