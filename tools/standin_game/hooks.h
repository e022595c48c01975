// Shared by the stand-in game and its hooking DLL (overlay_render.dll, signed as av_guard.dll, unsigned as
// render_hook.dll): what the DLL exports, and the one writer of jumps and patches.
#pragma once

#include <windows.h>

#include <cstdint>
#include <cstring>

namespace marvik {

struct HookSet {
    int count;            // functions hooked
    volatile long calls;  // calls that went through the hooks
};

// StartOverlayHooks: d3d9!Direct3DCreate9 and Direct3DCreate9Ex hooked, their two sets (one hook each);
// StartGuardHooks: the anti-virus-like hooks; HookDevice: the device's Present and Reset.
using StartHooksFn = const HookSet* (*)();
using HookDeviceFn = const HookSet* (*)(void* device);
constexpr int GUARD_HOOKS = 8, DEVICE_HOOKS = 2;

constexpr bool X64 = sizeof(void*) == 8;

inline void writeRelativeJump(std::uint8_t* at, const void* to) {  // jmp rel32: 5 bytes
    const auto rel = static_cast<std::int32_t>(reinterpret_cast<std::intptr_t>(to) -
                                               reinterpret_cast<std::intptr_t>(at + 5));
    at[0] = 0xE9;
    std::memcpy(at + 1, &rel, sizeof rel);
}

// jmp [rip+d] on x64, jmp [abs32] on x86, through the pointer at slot: 6 bytes.
inline void writeIndirectJump(std::uint8_t* at, const void* slot) {
    const auto address = reinterpret_cast<std::uintptr_t>(slot);
    const auto operand = static_cast<std::uint32_t>(X64 ? address - reinterpret_cast<std::uintptr_t>(at + 6) : address);
    at[0] = 0xFF;
    at[1] = 0x25;
    std::memcpy(at + 2, &operand, 4);
}

inline void writeAbsoluteJump(std::uint8_t* at, const void* to) {  // the indirect jump, its pointer after it
    std::memcpy(at + 6, &to, sizeof to);
    writeIndirectJump(at, at + 6);
}

// Another common relay: mov rax, imm64; jmp rax (12 bytes) on x64, push imm32; ret (6) on x86; its length.
inline unsigned writeRegisterJump(std::uint8_t* at, const void* to) {
    const std::uint8_t form[] = {X64 ? 0x48 : 0x68, 0xB8, 0, 0, 0, 0, 0, 0, 0, 0, 0xFF, 0xE0};
    std::memcpy(at, form, X64 ? 12 : 6);
    std::memcpy(at + (X64 ? 2 : 1), &to, sizeof to);
    if (!X64) at[5] = 0xC3;
    return X64 ? 12 : 6;
}

// write(at) over n bytes of memory of any protection, which is then put back.
template <typename Write>
bool patch(void* at, std::size_t n, Write write) {
    DWORD old = 0;
    if (!VirtualProtect(at, n, PAGE_EXECUTE_READWRITE, &old)) return false;
    write(static_cast<std::uint8_t*>(at));
    VirtualProtect(at, n, old, &old);
    FlushInstructionCache(GetCurrentProcess(), at, n);
    return true;
}

inline bool overwrite(void* at, const void* bytes, std::size_t n) {
    return patch(at, n, [&](std::uint8_t* p) { std::memcpy(p, bytes, n); });
}

// A private page allocated read-write, written by write(block), then made read-execute, as loaders and hooking
// libraries leave theirs; null when that fails.
template <typename Write>
std::uint8_t* privateCode(Write write) {
    auto* block = static_cast<std::uint8_t*>(VirtualAlloc(nullptr, 0x1000, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE));
    DWORD old = 0;
    if (block == nullptr) return nullptr;
    write(block);
    if (!VirtualProtect(block, 0x1000, PAGE_EXECUTE_READ, &old)) return nullptr;
    FlushInstructionCache(GetCurrentProcess(), block, 0x1000);
    return block;
}

}  // namespace marvik
