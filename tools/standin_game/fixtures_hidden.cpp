// What cheats do to hide a module from the loader list, done harmlessly to
// the stand-in's own process (see main.cpp), and the resource loads a clean
// game does that look a little like it.
#include <cstring>
#include <string>

#include "standin.h"

namespace marvik {

namespace {

// The loader's records, as far as they are touched here (the same layout
// at both widths, with pointers of the width).
struct LoaderString {
    USHORT length;
    USHORT maximumLength;
    PWSTR buffer;
};
struct LoaderEntry {
    LIST_ENTRY loadOrder, memoryOrder, initializationOrder;
    void* base;
    void* entryPoint;
    ULONG imageSize;
    LoaderString fullName;
    LoaderString baseName;
};
struct LoaderData {
    ULONG length;
    BOOLEAN initialized;
    void* ssHandle;
    LIST_ENTRY loadOrder, memoryOrder, initializationOrder;
};

// This process's own loader data: for a 32-bit game, its 32-bit one.
LoaderData* loaderData() {
    struct {
        LONG_PTR exitStatus;
        unsigned char* peb;
        ULONG_PTR rest[4];
    } basic = {};
    using Query = LONG(WINAPI*)(HANDLE, ULONG, void*, ULONG, ULONG*);
    auto query = reinterpret_cast<Query>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("ntdll.dll"), "NtQueryInformationProcess")));
    if (query == nullptr || query(GetCurrentProcess(), 0, &basic, sizeof basic, nullptr) < 0) return nullptr;
    return *reinterpret_cast<LoaderData**>(basic.peb + (sizeof(void*) == 8 ? 0x18 : 0x0C));
}

LoaderEntry* loadedEntry(const std::string& dll) {
    HMODULE module = LoadLibraryA(dll.c_str());
    LoaderData* data = loaderData();
    if (module == nullptr || data == nullptr) return nullptr;
    LIST_ENTRY* head = &data->loadOrder;
    for (LIST_ENTRY* link = head->Flink; link != head; link = link->Flink) {
        auto* entry = reinterpret_cast<LoaderEntry*>(link);  // loadOrder is the entry's first field
        if (entry->base == module) return entry;
    }
    return nullptr;
}

void unlinkFrom(LIST_ENTRY& links) {
    if (links.Flink == nullptr || links.Blink == nullptr) return;
    links.Blink->Flink = links.Flink;
    links.Flink->Blink = links.Blink;
    links.Flink = links.Blink = &links;
}

}  // namespace

bool unlinkModule(const std::string& dll) {
    LoaderEntry* entry = loadedEntry(dll);
    if (entry == nullptr) return false;
    unlinkFrom(entry->loadOrder);
    unlinkFrom(entry->memoryOrder);
    unlinkFrom(entry->initializationOrder);
    return true;
}

// What a hostile game links into its own list to make a walker that
// skips unnamed entries go round for ever: an entry with no base whose
// forward link is itself, put last, so the game's own lookups still find
// every module before they reach it. The exit puts the list back.
namespace {
LoaderEntry g_loopEntry;
LIST_ENTRY* g_loopLinkedAfter = nullptr;
}  // namespace

bool loopLoaderList() {
    LoaderData* data = loaderData();
    if (data == nullptr || g_loopLinkedAfter != nullptr) return false;
    LIST_ENTRY* last = data->loadOrder.Blink;
    g_loopEntry.loadOrder.Flink = &g_loopEntry.loadOrder;
    g_loopEntry.loadOrder.Blink = last;
    last->Flink = &g_loopEntry.loadOrder;
    g_loopLinkedAfter = last;
    return true;
}

void unloopLoaderList() {
    LoaderData* data = loaderData();
    if (data == nullptr || g_loopLinkedAfter == nullptr) return;
    g_loopLinkedAfter->Flink = &data->loadOrder;
    g_loopLinkedAfter = nullptr;
}

bool spoofModulePath(const std::string& dll) {
    LoaderEntry* entry = loadedEntry(dll);
    if (entry == nullptr) return false;
    // The loader's entry now names another system DLL, as a cheat renames
    // its own to pass for one; the mapped file stays what it was.
    wchar_t system[MAX_PATH];
    const UINT n = GetSystemDirectoryW(system, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) return false;
    static std::wstring path;
    path = std::wstring(system, n) + L"\\version.dll";
    entry->fullName.buffer = &path[0];
    entry->fullName.length = static_cast<USHORT>(path.size() * sizeof(wchar_t));
    entry->fullName.maximumLength = static_cast<USHORT>(entry->fullName.length + sizeof(wchar_t));
    return true;
}

bool handMapOwnImage(HandMap how) {
    auto* image = reinterpret_cast<unsigned char*>(GetModuleHandleA(nullptr));
    const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(
        image + reinterpret_cast<const IMAGE_DOS_HEADER*>(image)->e_lfanew);
    const SIZE_T size = nt->OptionalHeader.SizeOfImage;
    auto* copy = static_cast<unsigned char*>(VirtualAlloc(nullptr, size, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE));
    if (copy == nullptr) return false;
    // The image as the loader left it, imports bound; then the headers wiped
    // and each section given its own protection, as a careful mapper does.
    std::memcpy(copy, image, size);
    const SIZE_T headers = (nt->OptionalHeader.SizeOfHeaders + 0xFFF) & ~static_cast<SIZE_T>(0xFFF);
    std::memset(copy, 0, headers);
    DWORD old = 0;
    // The simplest public injectors stop short of protections per section:
    // the whole allocation made read-execute, or left read-write-execute.
    if (how != HandMap::PER_SECTION) {
        const DWORD whole = how == HandMap::WHOLE_RX ? PAGE_EXECUTE_READ : PAGE_EXECUTE_READWRITE;
        const bool done = VirtualProtect(copy, size, whole, &old) != 0;
        FlushInstructionCache(GetCurrentProcess(), copy, size);
        return done;
    }
    bool ok = VirtualProtect(copy, headers, PAGE_READONLY, &old) != 0;
    const IMAGE_SECTION_HEADER* section = IMAGE_FIRST_SECTION(nt);
    for (WORD i = 0; i < nt->FileHeader.NumberOfSections; ++i, ++section) {
        const DWORD flags = section->Characteristics;
        const DWORD protect = (flags & IMAGE_SCN_MEM_EXECUTE) ? PAGE_EXECUTE_READ
                              : (flags & IMAGE_SCN_MEM_WRITE) ? PAGE_READWRITE
                                                              : PAGE_READONLY;
        const SIZE_T length = section->Misc.VirtualSize != 0 ? section->Misc.VirtualSize : section->SizeOfRawData;
        if (length != 0) ok = VirtualProtect(copy + section->VirtualAddress, length, protect, &old) != 0 && ok;
    }
    FlushInstructionCache(GetCurrentProcess(), copy, size);
    return ok;
}

bool loadResourceOnlyDlls() {
    // A game's launcher and overlays take icons and strings from system
    // DLLs they never run: mapped as an image, or as a plain data file.
    return LoadLibraryExA("msi.dll", nullptr, LOAD_LIBRARY_AS_IMAGE_RESOURCE) != nullptr &&
           LoadLibraryExA("ieframe.dll", nullptr, LOAD_LIBRARY_AS_DATAFILE) != nullptr;
}

}  // namespace marvik
