#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "app/little_endian.h"
#include "inventory/loader_list.h"

namespace marvik {
namespace {

// A game's memory as pages of bytes; reads outside what was written fail,
// as reads of freed memory do.
struct FakeMemory {
    std::map<std::uint64_t, std::vector<std::uint8_t>> blocks;

    std::uint8_t* at(std::uint64_t address, std::size_t size) {
        for (auto& [base, bytes] : blocks)
            if (address >= base && address + size <= base + bytes.size()) return bytes.data() + (address - base);
        return nullptr;
    }
    void put(std::uint64_t address, std::size_t size) { blocks[address].resize(size); }
    void pointer(std::uint64_t address, std::uint64_t value, int width) {
        if (width == 8) storeLe64(at(address, 8), value);
        else storeLe32(at(address, 4), static_cast<std::uint32_t>(value));
    }
    ReadMemory reader() {
        return [this](std::uint64_t address, void* out, std::size_t size) {
            const std::uint8_t* p = at(address, size);
            if (p != nullptr) std::memcpy(out, p, size);
            return p != nullptr;
        };
    }
};

struct EntrySpec {
    std::uint64_t base;
    std::u16string path, name;
    bool namesReadable = true;
};

// A loader list in the given layout: PEB at 0x1000, loader data at 0x2000,
// entry i at 0x10000 + 0x1000 * i with its strings behind it.
void buildList(FakeMemory& m, int width, const std::vector<EntrySpec>& specs) {
    const std::uint32_t pebLdr = width == 8 ? 0x18 : 0x0C, order = width == 8 ? 0x10 : 0x0C;
    const std::uint32_t dllBase = width == 8 ? 0x30 : 0x18, size = width == 8 ? 0x40 : 0x20;
    const std::uint32_t full = width == 8 ? 0x48 : 0x24, base = width == 8 ? 0x58 : 0x2C, buffer = width == 8 ? 8 : 4;
    m.put(0x1000, 0x100);
    m.put(0x2000, 0x100);
    m.pointer(0x1000 + pebLdr, 0x2000, width);
    const std::uint64_t head = 0x2000 + order;
    std::uint64_t previous = head;
    for (std::size_t i = 0; i < specs.size(); ++i) {
        const std::uint64_t e = 0x10000 + 0x1000 * i;
        m.put(e, 0x100);
        m.pointer(previous, e, width);
        m.pointer(e + dllBase, specs[i].base, width);
        storeLe32(m.at(e + size, 4), 0x5000);
        auto string = [&](std::uint32_t field, const std::u16string& text, std::uint64_t where) {
            storeLe16(m.at(e + field, 2), static_cast<std::uint16_t>(text.size() * 2));
            m.pointer(e + field + buffer, where, width);
            if (!specs[i].namesReadable || text.empty()) return;
            m.put(where, text.size() * 2);
            for (std::size_t c = 0; c < text.size(); ++c) storeLe16(m.at(where + 2 * c, 2), text[c]);
        };
        string(full, specs[i].path, e + 0x400);
        string(base, specs[i].name, e + 0x800);
        previous = e;
    }
    m.pointer(previous, head, width);
}

// Entries the game's loader is still filling in or tearing down (no base,
// no path, names in freed memory) are left out at both widths, the others
// kept in order; a second walk over the same list gives the same result
// from what it remembers.
TEST(LoaderList, LeavesOutEntriesItCannotNameAtBothWidths) {
    for (int width : {4, 8}) {
        SCOPED_TRACE(width);
        FakeMemory m;
        buildList(m, width,
                  {{0x400000, u"C:\\Games\\iw3mp.exe", u"iw3mp.exe"},
                   {0, u"C:\\x\\loading.dll", u"loading.dll"},
                   {0x10000000, u"", u""},
                   {0x20000000, u"C:\\x\\freed.dll", u"freed.dll", false},
                   {0x30000000, u"C:\\Windows\\d3d9.dll", u"d3d9.dll"}});
        std::vector<std::pair<LoaderEntryKey, LoadedModule>> known;
        for (int walk = 0; walk < 2; ++walk) {
            const std::vector<LoadedModule> got = walkLoaderList(m.reader(), 0x1000, width, 64, known);
            ASSERT_EQ(got.size(), 2u);
            EXPECT_EQ(got[0].name, u"iw3mp.exe");
            EXPECT_EQ(got[1].path, u"C:\\Windows\\d3d9.dll");
            EXPECT_EQ(got[1].base, 0x30000000u);
        }
    }
}

// A list that does not close on itself (an entry relinked to an earlier one
// while it was read) ends at the bound instead of looping.
TEST(LoaderList, ListThatNeverClosesEndsAtTheBound) {
    FakeMemory m;
    buildList(m, 8, {{0x400000, u"C:\\a.exe", u"a.exe"}, {0x500000, u"C:\\b.dll", u"b.dll"}});
    m.pointer(0x11000, 0x10000, 8);  // b links back to a, not to the head
    std::vector<std::pair<LoaderEntryKey, LoadedModule>> known;
    EXPECT_EQ(walkLoaderList(m.reader(), 0x1000, 8, 7, known).size(), 7u);
}

}  // namespace
}  // namespace marvik
