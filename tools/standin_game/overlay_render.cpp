// An overlay-like DLL for the realistic stand-in game: what the frame-rate,
// voice and store overlays most players run leave in a game. Once loaded it
// starts a thread (in this module) that waits for d3d9.dll and detours its
// export Direct3DCreate9 the way common hooking libraries do:
//   - the first whole instructions covering 5 bytes are copied into a
//     trampoline, followed by a jump back to the rest of the function;
//   - the trampoline lives in a private block allocated read-write, filled,
//     then switched to read-execute with VirtualProtect; on x64 the block is
//     allocated within 2 GB of the target and also holds a relay stub
//     (jmp [rip+0] to the hook), because a jmp rel32 cannot reach this DLL;
//   - a 5-byte jmp rel32 is written over the start of the export (to the hook
//     here on x86, to the relay on x64), any rest of the copied instructions
//     filled with int3, and the page's protection put back.
// The hook counts calls and goes on through the trampoline, so the function
// keeps working. Nothing here touches another process.
//
// A second hook, of Direct3DCreate9Ex, is laid out as MinHook lays its hooks
// out (MinHook's src/buffer.c and src/hook.c, public on GitHub, used by
// ReShade's add-ons, many overlays and mod loaders): a 4 KiB block allocated
// PAGE_EXECUTE_READWRITE within 2 GB of the target and left so, its header
// (next block, first free slot, slots in use) followed by slots of 64 bytes
// (x64) or 32 (x86); free slots are a list, each holding the address of the
// next, inside the block. A used slot holds the trampoline (the relocated
// first instructions and an absolute jump back, jmp [rip+0] on x64) and, on
// x64, the relay (jmp [rip+0] to the detour) at its end. Here the patched
// jump first goes through one more relay of another common form, in a slot
// of its own (push imm32; ret on x86, mov rax, imm64; jmp rax on x64), as
// when a second tool chains its hook in front.
//
// Loaded as an anti-virus product's DLL (StartGuardHooks), it hooks
// injection-related exports of ntdll and kernel32 the way products built on
// Detours do (Detours 4.0.1, src/detours.cpp, public on GitHub: trampolines
// in 64 KiB regions allocated near the target and made PAGE_EXECUTE_READ once
// written, detour_runnable_trampoline_regions; on x64 the patched jmp rel32
// leads to the trampoline's rbCodeIn, a jmp [rip+d] through its pbDetour
// field). The exports are those public lists of user-mode hooks by security
// products name (NtWriteVirtualMemory, NtQueueApcThread, NtCreateThreadEx,
// VirtualAllocEx, CreateRemoteThread and the like). On x86 the relay is a
// jmp [abs32] through the same field. Each hook counts and calls on.
//
// Once the game has its Direct3D 9 device, HookDevice detours the device's
// Present and Reset in d3d9.dll's code, found through its method table, as
// overlays do to draw over each frame; the same Detours-like trampolines.
//
// Nothing hooks until the stand-in game calls StartOverlayHooks or
// StartGuardHooks: one file serves as the overlay, as the anti-virus DLL
// (signed copies) and as a cheat's renderer (an unsigned copy).
#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <cstring>

#include "overlay_render.h"

namespace marvik {
namespace {

OverlayHook g_hook;
OverlayHook g_minHook;
DetourHooks g_guard;   // the anti-virus-like hooks
DetourHooks g_device;  // the overlay's hooks of the Direct3D 9 device's Present and Reset
void* g_trampolines[2 * DETOUR_MAX];  // by pass-through index: the guard's first, then the device's

using Create9Fn = void*(WINAPI*)(UINT);
using Create9ExFn = HRESULT(WINAPI*)(UINT, void**);

void* WINAPI hookDirect3DCreate9(UINT sdkVersion) {
    InterlockedIncrement(&g_hook.calls);
    return reinterpret_cast<Create9Fn>(g_hook.trampoline)(sdkVersion);
}

HRESULT WINAPI hookDirect3DCreate9Ex(UINT sdkVersion, void** out) {
    InterlockedIncrement(&g_minHook.calls);
    return reinterpret_cast<Create9ExFn>(g_minHook.trampoline)(sdkVersion, out);
}

// Length of the ModRM operand (ModRM byte, SIB, displacement) at p, or 0 for
// an operand relative to the instruction pointer, which a copy would break.
unsigned modrmLength(const std::uint8_t* p, bool x64) {
    const unsigned mod = p[0] >> 6, rm = p[0] & 7;
    if (mod == 3) return 1;
    unsigned length = 1;
    if (rm == 4) {
        ++length;
        if (mod == 0 && (p[1] & 7) == 5) return length + 4;
    } else if (mod == 0 && rm == 5) {
        return x64 ? 0 : length + 4;
    }
    return length + (mod == 1 ? 1 : mod == 2 ? 4 : 0);
}

// Length of the instruction at p, for the instructions compilers put at the
// start of a function; 0 for anything else (branches, returns, operands
// relative to the instruction pointer), which the trampoline cannot move.
unsigned instructionLength(const std::uint8_t* p, bool x64) {
    unsigned prefix = 0;
    bool operand16 = false, wide = false;
    if (p[prefix] == 0x66) operand16 = true, ++prefix;
    if (x64 && (p[prefix] & 0xF0) == 0x40) wide = (p[prefix] & 8) != 0, ++prefix;
    const std::uint8_t* op = p + prefix;
    const unsigned imm32 = operand16 ? 2 : 4;
    auto withModrm = [&](unsigned opcodeBytes, unsigned immediate) -> unsigned {
        const unsigned m = modrmLength(op + opcodeBytes, x64);
        return m == 0 ? 0 : prefix + opcodeBytes + m + immediate;
    };
    const std::uint8_t o = op[0];
    if ((o >= 0x50 && o <= 0x5F) || o == 0x90 || o == 0xCC) return prefix + 1;
    if (o == 0x6A || (o >= 0xB0 && o <= 0xB7)) return prefix + 2;
    if (o == 0x68) return prefix + 5;
    if (o >= 0xB8 && o <= 0xBF) return prefix + 1 + (wide ? 8 : imm32);
    if ((o < 0x40 && (o & 7) < 4) || (o >= 0x84 && o <= 0x8B) || o == 0x8D || o == 0x63)
        return withModrm(1, 0);
    if (o == 0x83 || o == 0x6B || o == 0xC0 || o == 0xC1 || o == 0xC6) return withModrm(1, 1);
    if (o == 0x81 || o == 0x69 || o == 0xC7) return withModrm(1, imm32);
    if (o == 0xFF && ((op[1] >> 3) & 7) != 2 && ((op[1] >> 3) & 7) != 3 && ((op[1] >> 3) & 7) != 4 &&
        ((op[1] >> 3) & 7) != 5)
        return withModrm(1, 0);
    if (o == 0x0F && (op[1] == 0x1F || op[1] == 0xAF || op[1] == 0xB6 || op[1] == 0xB7 || op[1] == 0xBE ||
                      op[1] == 0xBF))
        return withModrm(2, 0);
    return 0;
}

// A free, allocation-aligned address for the trampoline block within 2 GB
// below (then above) the target, so that a jmp rel32 reaches it.
void* nearbyFreeAddress(std::uintptr_t target) {
    SYSTEM_INFO info;
    GetSystemInfo(&info);
    const std::uintptr_t granule = info.dwAllocationGranularity;
    const std::uintptr_t reach = 0x7FF00000;
    const std::uintptr_t low = target > reach ? target - reach : granule;
    const std::uintptr_t lowest = reinterpret_cast<std::uintptr_t>(info.lpMinimumApplicationAddress);
    MEMORY_BASIC_INFORMATION mbi;
    for (std::uintptr_t at = (target & ~(granule - 1)) - granule; at >= low && at >= lowest; at -= granule) {
        if (VirtualQuery(reinterpret_cast<void*>(at), &mbi, sizeof mbi) == 0) break;
        if (mbi.State == MEM_FREE) return reinterpret_cast<void*>(at);
    }
    for (std::uintptr_t at = (target + granule) & ~(granule - 1); at < target + reach; at += granule) {
        if (VirtualQuery(reinterpret_cast<void*>(at), &mbi, sizeof mbi) == 0) break;
        if (mbi.State == MEM_FREE) return reinterpret_cast<void*>(at);
    }
    return nullptr;
}

void fail(OverlayHook& hook, const char* what) {
    std::snprintf(hook.error, sizeof hook.error, "%s (error %lu)", what, GetLastError());
    InterlockedExchange(&hook.status, OVERLAY_FAILED);
}
void fail(const char* what) { fail(g_hook, what); }

void writeAbsoluteJump(std::uint8_t* at, const void* to) {  // jmp [rip+0]; dq to
    const std::uint8_t code[6] = {0xFF, 0x25, 0, 0, 0, 0};
    std::memcpy(at, code, sizeof code);
    const std::uint64_t address = reinterpret_cast<std::uintptr_t>(to);
    std::memcpy(at + 6, &address, sizeof address);
}

void writeRelativeJump(std::uint8_t* at, const void* to) {  // jmp rel32
    const std::int32_t rel = static_cast<std::int32_t>(reinterpret_cast<std::intptr_t>(to) -
                                                       reinterpret_cast<std::intptr_t>(at + 5));
    at[0] = 0xE9;
    std::memcpy(at + 1, &rel, sizeof rel);
}

void installHook(std::uint8_t* target) {
    constexpr bool x64 = sizeof(void*) == 8;
    unsigned length = 0;
    while (length < 5) {
        const unsigned n = instructionLength(target + length, x64);
        if (n == 0) return fail("cannot relocate the function's first instructions");
        length += n;
    }
    if (length > sizeof g_hook.saved) return fail("prologue too long");

    void* wanted = x64 ? nearbyFreeAddress(reinterpret_cast<std::uintptr_t>(target)) : nullptr;
    if (x64 && wanted == nullptr) return fail("no free memory within reach of the target");
    auto* block = static_cast<std::uint8_t*>(VirtualAlloc(wanted, 0x1000, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE));
    if (block == nullptr) return fail("VirtualAlloc");
    std::memset(block, 0xCC, 0x1000);
    std::memcpy(block, target, length);
    if (x64) {
        writeAbsoluteJump(block + length, target + length);
        writeAbsoluteJump(block + 64, reinterpret_cast<void*>(&hookDirect3DCreate9));
    } else {
        writeRelativeJump(block + length, target + length);
    }
    DWORD old = 0;
    if (!VirtualProtect(block, 0x1000, PAGE_EXECUTE_READ, &old)) return fail("VirtualProtect on the trampoline");
    FlushInstructionCache(GetCurrentProcess(), block, 0x1000);

    std::memcpy(g_hook.saved, target, length);
    g_hook.savedLength = length;
    g_hook.block = block;
    g_hook.trampoline = block;
    g_hook.relay = x64 ? block + 64 : nullptr;
    g_hook.hook = reinterpret_cast<void*>(&hookDirect3DCreate9);
    if (!VirtualProtect(target, length, PAGE_EXECUTE_READWRITE, &old)) return fail("VirtualProtect on the target");
    writeRelativeJump(target, x64 ? g_hook.relay : g_hook.hook);
    std::memset(target + 5, 0xCC, length - 5);
    VirtualProtect(target, length, old, &old);
    FlushInstructionCache(GetCurrentProcess(), target, length);
    g_hook.target = target;
    InterlockedExchange(&g_hook.status, OVERLAY_INSTALLED);
}

// How many bytes of whole instructions cover the 5 a jmp rel32 takes; 0 when
// they cannot be moved.
unsigned coveredLength(const std::uint8_t* target) {
    unsigned length = 0;
    while (length < 5) {
        const unsigned n = instructionLength(target + length, sizeof(void*) == 8);
        if (n == 0) return 0;
        length += n;
    }
    return length <= 16 ? length : 0;
}

void installMinHookLike(std::uint8_t* target) {
    constexpr bool x64 = sizeof(void*) == 8;
    constexpr std::size_t SLOT = x64 ? 64 : 32, PTR = sizeof(void*);
    const unsigned length = coveredLength(target);
    if (length == 0) return fail(g_minHook, "cannot relocate Direct3DCreate9Ex's first instructions");
    void* wanted = nearbyFreeAddress(reinterpret_cast<std::uintptr_t>(target));
    auto* block = static_cast<std::uint8_t*>(
        VirtualAlloc(wanted, 0x1000, MEM_RESERVE | MEM_COMMIT, PAGE_EXECUTE_READWRITE));
    if (block == nullptr) return fail(g_minHook, "VirtualAlloc");
    // Header: next block (none), first free slot, slots in use; then the
    // free list through every slot after the two in use.
    const std::size_t slots = 0x1000 / SLOT;
    std::uint8_t* trampoline = block + SLOT;
    std::uint8_t* chained = block + 2 * SLOT;
    void* firstFree = block + 3 * SLOT;
    std::memcpy(block + PTR, &firstFree, PTR);
    const std::uintptr_t used = 2;
    std::memcpy(block + 2 * PTR, &used, PTR);
    for (std::size_t i = 3; i < slots; ++i) {
        void* next = i + 1 < slots ? block + (i + 1) * SLOT : nullptr;
        std::memcpy(block + i * SLOT, &next, PTR);
    }
    std::memcpy(trampoline, target, length);
    void* detour = reinterpret_cast<void*>(&hookDirect3DCreate9Ex);
    if (x64) {
        writeAbsoluteJump(trampoline + length, target + length);
        std::uint8_t* relay = trampoline + SLOT - 14;  // MinHook's relay at the slot's end
        writeAbsoluteJump(relay, detour);
        const std::uint8_t movJmp[12] = {0x48, 0xB8, 0, 0, 0, 0, 0, 0, 0, 0, 0xFF, 0xE0};  // mov rax, imm64; jmp rax
        std::memcpy(chained, movJmp, sizeof movJmp);
        const std::uint64_t to = reinterpret_cast<std::uintptr_t>(relay);
        std::memcpy(chained + 2, &to, sizeof to);
    } else {
        writeRelativeJump(trampoline + length, target + length);
        chained[0] = 0x68;  // push imm32; ret
        const std::uint32_t to = static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(detour));
        std::memcpy(chained + 1, &to, sizeof to);
        chained[5] = 0xC3;
    }
    FlushInstructionCache(GetCurrentProcess(), block, 0x1000);
    std::memcpy(g_minHook.saved, target, length);
    g_minHook.savedLength = length;
    g_minHook.block = block;
    g_minHook.trampoline = trampoline;
    g_minHook.relay = chained;
    g_minHook.hook = detour;
    DWORD old = 0;
    if (!VirtualProtect(target, length, PAGE_EXECUTE_READWRITE, &old)) return fail(g_minHook, "VirtualProtect");
    writeRelativeJump(target, chained);
    std::memset(target + 5, 0x90, length - 5);
    VirtualProtect(target, length, old, &old);
    FlushInstructionCache(GetCurrentProcess(), target, length);
    g_minHook.target = target;
    InterlockedExchange(&g_minHook.status, OVERLAY_INSTALLED);
}

DWORD WINAPI hookThread(void*) {
    // Overlays hook the graphics API when the game brings it in.
    for (int waited = 0; waited < 30000; waited += 50) {
        if (HMODULE d3d9 = GetModuleHandleA("d3d9.dll")) {
            if (FARPROC create = GetProcAddress(d3d9, "Direct3DCreate9")) {
                installHook(reinterpret_cast<std::uint8_t*>(create));
            } else {
                fail("d3d9.dll has no Direct3DCreate9");
            }
            if (FARPROC createEx = GetProcAddress(d3d9, "Direct3DCreate9Ex")) {
                installMinHookLike(reinterpret_cast<std::uint8_t*>(createEx));
            } else {
                fail(g_minHook, "d3d9.dll has no Direct3DCreate9Ex");
            }
            return 0;
        }
        Sleep(50);
    }
    fail("d3d9.dll never loaded");
    fail(g_minHook, "d3d9.dll never loaded");
    return 0;
}


// The anti-virus-like hooks: a pass-through per export, typed as the export.
template <int I, typename R, typename... A>
R WINAPI passThrough(A... args) {
    InterlockedIncrement(I < DETOUR_MAX ? &g_guard.calls : &g_device.calls);
    return reinterpret_cast<R(WINAPI*)(A...)>(g_trampolines[I])(args...);
}

struct GuardTarget {
    const char* module;
    const char* name;
    void* hook;
};
const GuardTarget GUARD_TARGETS[] = {
    {"ntdll.dll", "NtWriteVirtualMemory", reinterpret_cast<void*>(&passThrough<0, LONG, HANDLE, void*, const void*, SIZE_T, SIZE_T*>)},
    {"ntdll.dll", "NtQueueApcThread", reinterpret_cast<void*>(&passThrough<1, LONG, HANDLE, void*, void*, void*, void*>)},
    {"ntdll.dll", "NtSetContextThread", reinterpret_cast<void*>(&passThrough<2, LONG, HANDLE, const CONTEXT*>)},
    {"ntdll.dll", "NtCreateThreadEx",
     reinterpret_cast<void*>(&passThrough<3, LONG, HANDLE*, ACCESS_MASK, void*, HANDLE, void*, void*, ULONG, SIZE_T,
                                          SIZE_T, SIZE_T, void*>)},
    {"kernel32.dll", "VirtualAllocEx", reinterpret_cast<void*>(&passThrough<4, void*, HANDLE, void*, SIZE_T, DWORD, DWORD>)},
    {"kernel32.dll", "WriteProcessMemory",
     reinterpret_cast<void*>(&passThrough<5, BOOL, HANDLE, void*, const void*, SIZE_T, SIZE_T*>)},
    {"kernel32.dll", "CreateRemoteThread",
     reinterpret_cast<void*>(&passThrough<6, HANDLE, HANDLE, SECURITY_ATTRIBUTES*, SIZE_T, LPTHREAD_START_ROUTINE, void*,
                                          DWORD, DWORD*>)},
    {"kernel32.dll", "OpenProcess", reinterpret_cast<void*>(&passThrough<7, HANDLE, DWORD, BOOL, DWORD>)},
};
static_assert(sizeof GUARD_TARGETS / sizeof GUARD_TARGETS[0] <= DETOUR_MAX, "DetourHooks holds every target");

// Detours' trampoline, cut to what a hook needs: the moved instructions and
// the jump back, then the relay the patched jump leads to, then the fields
// both jumps read.
struct GuardTrampoline {
    std::uint8_t code[32];     // moved instructions, then a jump to remain
    std::uint8_t codeIn[8];    // the relay: jmp [rip+d] (x64) or jmp [abs32] (x86) through detour
    std::uint8_t* remain;      // the rest of the hooked function
    void* detour;
};

// A 64 KiB region near target for trampolines, as Detours reserves one.
std::uint8_t* guardRegion(std::uintptr_t target) {
    void* wanted = sizeof(void*) == 8 ? nearbyFreeAddress(target) : nullptr;
    return static_cast<std::uint8_t*>(VirtualAlloc(wanted, 0x10000, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE));
}

// Detours target with hook through a trampoline in region, recorded in set;
// index: the pass-through's.
bool installDetour(DetourHooks& set, std::uint8_t* target, const char* name, void* hook, int index,
                   std::uint8_t* region, std::size_t& used) {
    constexpr bool x64 = sizeof(void*) == 8;
    if (target == nullptr || set.count == DETOUR_MAX) return false;
    const unsigned length = coveredLength(target);
    if (length == 0 || used + sizeof(GuardTrampoline) > 0x10000) return false;
    if (x64 && (region > target + 0x7FF00000ull || target > region + 0x7FF00000ull)) return false;
    auto* tramp = reinterpret_cast<GuardTrampoline*>(region + used);
    used += sizeof(GuardTrampoline);
    std::memset(tramp->code, 0xCC, sizeof tramp->code);
    std::memcpy(tramp->code, target, length);
    tramp->remain = target + length;
    tramp->detour = hook;
    if (x64) {
        // jmp [rip+d] to remain, then jmp [rip+d] to the detour.
        const std::uint8_t* back = tramp->code + length;
        const std::int32_t toRemain = static_cast<std::int32_t>(reinterpret_cast<std::uint8_t*>(&tramp->remain) - (back + 6));
        const std::uint8_t jmp[2] = {0xFF, 0x25};
        std::memcpy(tramp->code + length, jmp, 2);
        std::memcpy(tramp->code + length + 2, &toRemain, 4);
        const std::int32_t toDetour =
            static_cast<std::int32_t>(reinterpret_cast<std::uint8_t*>(&tramp->detour) - (tramp->codeIn + 6));
        std::memcpy(tramp->codeIn, jmp, 2);
        std::memcpy(tramp->codeIn + 2, &toDetour, 4);
    } else {
        writeRelativeJump(tramp->code + length, target + length);
        const std::uint32_t field = static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(&tramp->detour));
        tramp->codeIn[0] = 0xFF;  // jmp [abs32]
        tramp->codeIn[1] = 0x25;
        std::memcpy(tramp->codeIn + 2, &field, 4);
    }
    g_trampolines[index] = tramp->code;
    DWORD old = 0;
    if (!VirtualProtect(region, 0x10000, PAGE_EXECUTE_READ, &old)) return false;
    FlushInstructionCache(GetCurrentProcess(), region, 0x10000);
    if (!VirtualProtect(target, length, PAGE_EXECUTE_READWRITE, &old)) return false;
    writeRelativeJump(target, tramp->codeIn);
    std::memset(target + 5, 0xCC, length - 5);
    VirtualProtect(target, length, old, &old);
    FlushInstructionCache(GetCurrentProcess(), target, length);
    set.targets[set.count] = target;
    set.names[set.count] = name;
    ++set.count;
    return true;
}

// Targets whose first instructions cannot be moved are left alone, as the
// products do; the region goes back to writable between hooks, as Detours
// makes its regions writable for a transaction.
void installGuardHooks() {
    std::uint8_t* regions[2] = {};
    std::size_t used[2] = {};
    for (const GuardTarget& t : GUARD_TARGETS) {
        const int index = static_cast<int>(&t - GUARD_TARGETS);
        const int r = std::strcmp(t.module, "ntdll.dll") == 0 ? 0 : 1;
        if (regions[r] == nullptr) {
            HMODULE module = GetModuleHandleA(t.module);
            regions[r] = module ? guardRegion(reinterpret_cast<std::uintptr_t>(module)) : nullptr;
            if (regions[r] == nullptr) continue;
            g_guard.regions[r] = regions[r];
        }
        DWORD old = 0;
        VirtualProtect(regions[r], 0x10000, PAGE_READWRITE, &old);
        HMODULE module = GetModuleHandleA(t.module);
        auto* target = module ? reinterpret_cast<std::uint8_t*>(GetProcAddress(module, t.name)) : nullptr;
        installDetour(g_guard, target, t.name, t.hook, index, regions[r], used[r]);
        VirtualProtect(regions[r], 0x10000, PAGE_EXECUTE_READ, &old);
    }
    InterlockedExchange(&g_guard.status, g_guard.count > 0 ? OVERLAY_INSTALLED : OVERLAY_FAILED);
}

// What overlays draw through: the device's Present and Reset, found in its
// method table and detoured in d3d9.dll's code (COM methods are stdcall).
void hookDevice(void* device) {
    void* const* methods = *static_cast<void* const* const*>(device);
    const struct {
        const char* name;
        std::size_t slot;
        void* hook;
    } targets[] = {
        {"IDirect3DDevice9::Reset", 16, reinterpret_cast<void*>(&passThrough<DETOUR_MAX, LONG, void*, void*>)},
        {"IDirect3DDevice9::Present", 17,
         reinterpret_cast<void*>(&passThrough<DETOUR_MAX + 1, LONG, void*, const void*, const void*, HWND, const void*>)},
    };
    auto* target = static_cast<std::uint8_t*>(methods[17]);
    std::uint8_t* region = guardRegion(reinterpret_cast<std::uintptr_t>(target));
    std::size_t used = 0;
    for (const auto& t : targets) {
        const int index = DETOUR_MAX + static_cast<int>(&t - targets);
        DWORD old = 0;
        if (region != nullptr) VirtualProtect(region, 0x10000, PAGE_READWRITE, &old);
        installDetour(g_device, static_cast<std::uint8_t*>(methods[t.slot]), t.name, t.hook, index, region, used);
        if (region != nullptr) VirtualProtect(region, 0x10000, PAGE_EXECUTE_READ, &old);
    }
    g_device.regions[0] = region;
    InterlockedExchange(&g_device.status, g_device.count == 2 ? OVERLAY_INSTALLED : OVERLAY_FAILED);
}

}  // namespace
}  // namespace marvik

extern "C" __declspec(dllexport) void StartOverlayHooks() {
    if (HANDLE thread = CreateThread(nullptr, 0, marvik::hookThread, nullptr, 0, nullptr)) CloseHandle(thread);
}
extern "C" __declspec(dllexport) const marvik::DetourHooks* StartGuardHooks() {
    marvik::installGuardHooks();
    return &marvik::g_guard;
}
extern "C" __declspec(dllexport) const marvik::DetourHooks* HookDevice(void* device) {
    marvik::hookDevice(device);
    return &marvik::g_device;
}
extern "C" __declspec(dllexport) const marvik::OverlayHook* OverlayHookState() { return &marvik::g_hook; }
extern "C" __declspec(dllexport) const marvik::OverlayHook* OverlayMinHookState() { return &marvik::g_minHook; }

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) DisableThreadLibraryCalls(instance);
    return TRUE;
}
