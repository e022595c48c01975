// Code patches for the memory check's comparison of code with its files:
//   code-nop     three NOPs over the first instruction of a function of the
//                game's own executable that nothing calls
//   code-detour  a detour at kernel32!GetTapeParameters (no game asks for
//                tapes) into a private read-execute block holding
//                "xor eax, eax; ret": jmp rel32 on x86, mov rax, imm64;
//                jmp rax on x64 (no private block need be within 2 GB)
// Neither patched function is ever called afterwards. Each writes where it
// patched to "<its path>.report", for the test to compare with what the
// client reports: "<command> addr=0x.. target=0x.. module_base=0x..". And the realistic
// mode's own noise: retouchOwnCode writes a function's first bytes back
// unchanged, as self-updating or unpacking code does, so that its page is
// the process's own copy (no longer shared with the file) yet equal to it.
#include <cstdint>
#include <cstdio>
#include <cstring>

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

// A private read-execute stub that does a little of its own (a nop) and
// goes on to real: jmp [rip+0] on x64, jmp [abs32] on x86, then the address.
void* relayStub(std::uintptr_t real) {
    unsigned char code[7 + sizeof real] = {0x90, 0xFF, 0x25};
    std::memcpy(code + 7, &real, sizeof real);
    auto* stub = static_cast<unsigned char*>(privateCode(code, sizeof code));
    if (stub == nullptr || sizeof(void*) == 8) return stub;
    const auto operand = static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(stub + 7));  // [abs32]
    return overwrite(stub + 3, &operand, 4) ? stub : nullptr;
}

}  // namespace

bool overwrite(void* at, const void* bytes, std::size_t n) {
    DWORD old = 0;
    if (!VirtualProtect(at, n, PAGE_EXECUTE_READWRITE, &old)) return false;
    std::memcpy(at, bytes, n);
    VirtualProtect(at, n, old, &old);
    FlushInstructionCache(GetCurrentProcess(), at, n);
    return true;
}

void* privateCode(const void* code, std::size_t n) {
    void* block = VirtualAlloc(nullptr, 0x1000, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
    if (block == nullptr) return nullptr;
    std::memcpy(block, code, n);
    DWORD old = 0;
    if (!VirtualProtect(block, 0x1000, PAGE_EXECUTE_READ, &old)) return nullptr;
    FlushInstructionCache(GetCurrentProcess(), block, n);
    return block;
}

bool retouchOwnCode() {
    unsigned char same[8];
    std::memcpy(same, reinterpret_cast<void*>(&retouched), sizeof same);
    return overwrite(reinterpret_cast<void*>(&retouched), same, sizeof same) && retouched(4) == 42;
}

bool patchCodeFixture(const std::string& command) {
    if (command == "code-nop") {
        const unsigned char nops[3] = {0x90, 0x90, 0x90};
        void* at = reinterpret_cast<void*>(&neverCalled);
        return overwrite(at, nops, sizeof nops) && report(command, at, nullptr, GetModuleHandleA(nullptr));
    }
    HMODULE kernel32 = GetModuleHandleA("kernel32.dll");
    auto* entry = reinterpret_cast<unsigned char*>(GetProcAddress(kernel32, "GetTapeParameters"));
    const unsigned char body[] = {0x31, 0xC0, 0xC3};  // xor eax, eax; ret
    void* block = privateCode(body, sizeof body);
    if (entry == nullptr || block == nullptr) return false;
    unsigned char jump[12];
    std::size_t n = 0;
#if defined(_WIN64)
    jump[n++] = 0x48;  // mov rax, imm64
    jump[n++] = 0xB8;
    const std::uint64_t to = reinterpret_cast<std::uintptr_t>(block);
    std::memcpy(jump + n, &to, 8);
    n += 8;
    jump[n++] = 0xFF;  // jmp rax
    jump[n++] = 0xE0;
#else
    jump[n++] = 0xE9;  // jmp rel32
    const std::int32_t rel = static_cast<std::int32_t>(reinterpret_cast<std::intptr_t>(block) -
                                                       reinterpret_cast<std::intptr_t>(entry + 5));
    std::memcpy(jump + n, &rel, 4);
    n += 4;
#endif
    return overwrite(entry, jump, n) && report(command, entry, block, kernel32);
}

bool hookDirect3DMethodTable() {
    // The device's method table lives in d3d9.dll's read-only data; its
    // entry 17, Present, is led to a private stub, as a cheat leads Present
    // or EndScene to draw its own frame.
    HMODULE d3d9 = LoadLibraryA("d3d9.dll");
    using Create = void*(WINAPI*)(UINT);
    auto create = d3d9 != nullptr ? reinterpret_cast<Create>(reinterpret_cast<void*>(GetProcAddress(d3d9, "Direct3DCreate9"))) : nullptr;
    void* device = create != nullptr ? createDirect3DDevice(create(32)) : nullptr;
    if (device == nullptr) return false;
    constexpr int PRESENT = 17;
    void** table = *static_cast<void***>(device);
    void* stub = relayStub(reinterpret_cast<std::uintptr_t>(table[PRESENT]));
    return stub != nullptr && overwrite(&table[PRESENT], &stub, sizeof stub);
}

bool hookOwnImport() {
    // The executable's own import entry for kernel32!Sleep (its main loop's
    // call) swapped for a relay stub, as a cheat's stub calls the original
    // after its work.
    auto* image = reinterpret_cast<unsigned char*>(GetModuleHandleA(nullptr));
    const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(image + reinterpret_cast<IMAGE_DOS_HEADER*>(image)->e_lfanew);
    const IMAGE_DATA_DIRECTORY& iat = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IAT];
    const auto sleep = reinterpret_cast<std::uintptr_t>(GetProcAddress(GetModuleHandleA("kernel32.dll"), "Sleep"));
    auto* slots = reinterpret_cast<std::uintptr_t*>(image + iat.VirtualAddress);
    for (std::size_t i = 0; i < iat.Size / sizeof(void*); ++i) {
        if (slots[i] != sleep) continue;
        void* stub = relayStub(sleep);
        return stub != nullptr && overwrite(&slots[i], &stub, sizeof stub);
    }
    return false;
}

}  // namespace marvik
