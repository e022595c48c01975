// Code patches the memory check compares with the files, code-nop's and code-detour's reported to "<its path>.report"
// as "<command> addr=0x.. target=0x.. module_base=0x.." for the test to compare with the client's report; and the
// realistic mode's noise: a function's first bytes written back unchanged, as self-updating code does.
#include <cstdio>

#include "standin.h"

namespace marvik {

namespace {

__attribute__((noinline, used)) int neverCalled(int x) { return x * 7 + (x >> 3); }
__attribute__((noinline, used)) int retouched(int x) { return x * 11 - (x >> 1); }

bool report(const std::string& command, const void* at, const void* target, const void* moduleBase) {
    std::FILE* f = std::fopen((selfPath() + ".report").c_str(), "a");
    if (f == nullptr) return false;
    const auto hex = [](const void* p) { return static_cast<unsigned long long>(reinterpret_cast<std::uintptr_t>(p)); };
    std::fprintf(f, "%s addr=0x%llx target=0x%llx module_base=0x%llx\n", command.c_str(), hex(at), hex(target),
                 hex(moduleBase));
    return std::fclose(f) == 0;
}

// A cheat's stub: does a little of its own (a nop), then goes on to real; written over the pointer at slot.
bool relayThrough(void* slot, void* real) {
    void* stub = privateCode([&](std::uint8_t* at) {
        at[0] = 0x90;
        writeAbsoluteJump(at + 1, real);
    });
    return stub != nullptr && overwrite(slot, &stub, sizeof stub);
}

}  // namespace

bool retouchOwnCode() {
    unsigned char same[8];
    std::memcpy(same, reinterpret_cast<void*>(&retouched), sizeof same);
    return overwrite(reinterpret_cast<void*>(&retouched), same, sizeof same) && retouched(4) == 42;
}

// code-nop: three NOPs over the first instruction of a function of the game's own that nothing calls; code-detour:
// kernel32!GetTapeParameters (no game asks for tapes) led to a private "xor eax, eax; ret" by jmp rel32 on x86, by
// mov rax, imm64; jmp rax on x64 (no private block need be within 2 GB).
bool patchCodeFixture(const std::string& command) {
    if (command == "code-nop") {
        const unsigned char nops[3] = {0x90, 0x90, 0x90};
        void* at = reinterpret_cast<void*>(&neverCalled);
        return overwrite(at, nops, sizeof nops) && report(command, at, nullptr, GetModuleHandleA(nullptr));
    }
    HMODULE kernel32 = GetModuleHandleA("kernel32.dll");
    auto* entry = reinterpret_cast<std::uint8_t*>(GetProcAddress(kernel32, "GetTapeParameters"));
    void* block = privateCode([](std::uint8_t* at) { std::memcpy(at, "\x31\xC0\xC3", 3); });  // xor eax, eax; ret
    if (entry == nullptr || block == nullptr) return false;
    const auto jump = [&](std::uint8_t* at) {
        if (X64) writeRegisterJump(at, block);
        else writeRelativeJump(at, block);
    };
    return patch(entry, X64 ? 12 : 5, jump) && report(command, entry, block, kernel32);
}

bool hookDirect3DMethodTable() {  // entry 17, Present, in d3d9.dll's read-only data, as a cheat draws its frame
    auto create = exported<void*(WINAPI*)(UINT)>(LoadLibraryA("d3d9.dll"), "Direct3DCreate9");
    void* device = create != nullptr ? createDirect3DDevice(create(32)) : nullptr;
    if (device == nullptr) return false;
    void** table = *static_cast<void***>(device);
    return relayThrough(&table[17], table[17]);
}

bool hookOwnImport() {  // the executable's import of kernel32!Sleep, its main loop's call
    auto* image = reinterpret_cast<unsigned char*>(GetModuleHandleA(nullptr));
    const IMAGE_DATA_DIRECTORY& iat = ntHeaders(image)->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IAT];
    void* sleep = reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("kernel32.dll"), "Sleep"));
    auto* slots = reinterpret_cast<void**>(image + iat.VirtualAddress);
    for (std::size_t i = 0; i < iat.Size / sizeof(void*); ++i)
        if (slots[i] == sleep) return relayThrough(&slots[i], sleep);
    return false;
}

}  // namespace marvik
