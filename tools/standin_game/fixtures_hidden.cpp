// What cheats do to hide a module, done harmlessly to the stand-in's own process, and the resource loads of a clean
// game that look a little like it.
#include "standin.h"

#include <winternl.h>

extern "C" PEB* NTAPI RtlGetCurrentPeb();  // ntdll's, which no header declares

namespace marvik {

namespace {

// The loader's records as far as they are touched here (the same layout at both widths).
struct LoaderEntry {
    LIST_ENTRY loadOrder, memoryOrder, initializationOrder;
    void* base;
    void* entryPoint;
    ULONG imageSize;
    UNICODE_STRING fullName, baseName;
};
struct LoaderData {
    ULONG length;
    BOOLEAN initialized;
    void* ssHandle;
    LIST_ENTRY loadOrder, memoryOrder, initializationOrder;
};

LoaderData* loaderData() {  // this process's own: for a 32-bit game, its 32-bit one
    return reinterpret_cast<LoaderData*>(RtlGetCurrentPeb()->Ldr);
}

LoaderEntry* loadedEntry(const std::string& dll) {
    HMODULE module = LoadLibraryA(dll.c_str());
    LIST_ENTRY* const head = &loaderData()->loadOrder;
    for (LIST_ENTRY* link = head->Flink; module != nullptr && link != head; link = link->Flink)
        if (reinterpret_cast<LoaderEntry*>(link)->base == module) return reinterpret_cast<LoaderEntry*>(link);
    return nullptr;
}

void unlinkFrom(LIST_ENTRY& links) {
    if (links.Flink == nullptr || links.Blink == nullptr) return;
    links.Blink->Flink = links.Flink;
    links.Flink->Blink = links.Blink;
    links.Flink = links.Blink = &links;
}

// A hostile game's trap for a walker that skips unnamed entries: an entry with no base whose forward link is itself,
// put last so the game's own lookups find every module first. The exit puts the list back.
LoaderEntry g_loopEntry;
LIST_ENTRY* g_loopLinkedAfter = nullptr;

}  // namespace

bool unlinkModule(const std::string& dll) {
    LoaderEntry* entry = loadedEntry(dll);
    if (entry == nullptr) return false;
    unlinkFrom(entry->loadOrder);
    unlinkFrom(entry->memoryOrder);
    unlinkFrom(entry->initializationOrder);
    return true;
}

bool loopLoaderList() {
    if (g_loopLinkedAfter != nullptr) return false;
    LIST_ENTRY* last = loaderData()->loadOrder.Blink;
    g_loopEntry.loadOrder.Flink = &g_loopEntry.loadOrder;
    g_loopEntry.loadOrder.Blink = last;
    last->Flink = &g_loopEntry.loadOrder;
    g_loopLinkedAfter = last;
    return true;
}

void unloopLoaderList() {
    if (g_loopLinkedAfter == nullptr) return;
    g_loopLinkedAfter->Flink = &loaderData()->loadOrder;
    g_loopLinkedAfter = nullptr;
}

bool spoofModulePath(const std::string& dll) {  // the entry names another system DLL, as a cheat renames its own
    LoaderEntry* entry = loadedEntry(dll);
    wchar_t system[MAX_PATH];
    const UINT n = GetSystemDirectoryW(system, MAX_PATH);
    if (entry == nullptr || n == 0 || n >= MAX_PATH) return false;
    static std::wstring path;
    path = std::wstring(system, n) + L"\\version.dll";
    entry->fullName.Buffer = &path[0];
    entry->fullName.Length = static_cast<USHORT>(path.size() * sizeof(wchar_t));
    entry->fullName.MaximumLength = static_cast<USHORT>(entry->fullName.Length + sizeof(wchar_t));
    entry->baseName.Buffer = &path[n + 1];  // its name too, as the loader keeps it: the path's last part
    entry->baseName.Length = static_cast<USHORT>(entry->fullName.Length - (n + 1) * sizeof(wchar_t));
    entry->baseName.MaximumLength = static_cast<USHORT>(entry->baseName.Length + sizeof(wchar_t));
    return true;
}

// The image copied as the loader left it (imports bound), headers wiped, then each section given its own
// protection as a careful mapper does, or, as the simplest public injectors do, all of it read-execute or RWX.
bool handMapOwnImage(DWORD whole) {
    auto* image = reinterpret_cast<unsigned char*>(GetModuleHandleA(nullptr));
    const IMAGE_NT_HEADERS* nt = ntHeaders(image);
    const SIZE_T size = nt->OptionalHeader.SizeOfImage;
    auto* copy = static_cast<unsigned char*>(VirtualAlloc(nullptr, size, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE));
    if (copy == nullptr) return false;
    std::memcpy(copy, image, size);
    const SIZE_T headers = (nt->OptionalHeader.SizeOfHeaders + 0xFFF) & ~static_cast<SIZE_T>(0xFFF);
    std::memset(copy, 0, headers);
    DWORD old = 0;
    if (whole != 0) return VirtualProtect(copy, size, whole, &old) != 0;
    bool ok = VirtualProtect(copy, headers, PAGE_READONLY, &old) != 0;
    const IMAGE_SECTION_HEADER* section = IMAGE_FIRST_SECTION(nt);
    for (WORD i = 0; i < nt->FileHeader.NumberOfSections; ++i, ++section) {
        const DWORD flags = section->Characteristics, length = section->Misc.VirtualSize;
        const DWORD protect = (flags & IMAGE_SCN_MEM_EXECUTE) ? PAGE_EXECUTE_READ
                              : (flags & IMAGE_SCN_MEM_WRITE) ? PAGE_READWRITE
                                                              : PAGE_READONLY;
        if (length != 0) ok = VirtualProtect(copy + section->VirtualAddress, length, protect, &old) != 0 && ok;
    }
    return ok;
}

bool loadResourceOnlyDlls() {  // icons and strings from system DLLs a launcher or overlay never runs
    return LoadLibraryExA("msi.dll", nullptr, LOAD_LIBRARY_AS_IMAGE_RESOURCE) != nullptr &&
           LoadLibraryExA("ieframe.dll", nullptr, LOAD_LIBRARY_AS_DATAFILE) != nullptr;
}

}  // namespace marvik
