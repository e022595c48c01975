// An overlay-like DLL for the realistic stand-in game: what the frame-rate,
// voice and store overlays most players run leave in a game. Once loaded it
// starts a thread (in this module) that waits for d3d9.dll and detours its
// export Direct3DCreate9 as the Detours hooks below are laid, except that on
// x86 the patched jmp rel32 leads straight to the hook in this DLL, as most
// overlays' 32-bit builds do. Each hook counts calls and goes on through its
// trampoline, so the function keeps working. Nothing here touches another
// process.
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

constexpr bool X64 = sizeof(void*) == 8;

// Each hook is a pass-through, typed as the function it hooks, by index:
// the guard's first, then the device's, then Direct3DCreate9 and Ex.
constexpr int GUARD_MAX = 8, DEVICE_FIRST = GUARD_MAX, CREATE9 = DEVICE_FIRST + 2, CREATE9EX = CREATE9 + 1;
HookSet g_guard, g_device, g_create9, g_create9Ex;
void* g_trampolines[CREATE9EX + 1];

constexpr HookSet* setOf(int index) {
    return index < DEVICE_FIRST ? &g_guard : index < CREATE9 ? &g_device : index == CREATE9 ? &g_create9 : &g_create9Ex;
}

template <int I, typename R, typename... A>
R WINAPI passThrough(A... args) {
    InterlockedIncrement(&setOf(I)->calls);
    return reinterpret_cast<R(WINAPI*)(A...)>(g_trampolines[I])(args...);
}

template <int I, typename R, typename... A>
void* hookOf() {
    return reinterpret_cast<void*>(&passThrough<I, R, A...>);
}

bool fail(HookSet& set, const char* what) {
    std::snprintf(set.error, sizeof set.error, "%s (error %lu)", what, GetLastError());
    InterlockedExchange(&set.status, HOOKS_FAILED);
    return false;
}

// Length of the ModRM operand (ModRM byte, SIB, displacement) at p, or 0 for
// an operand relative to the instruction pointer, which a copy would break.
unsigned modrmLength(const std::uint8_t* p) {
    const unsigned mod = p[0] >> 6, rm = p[0] & 7;
    if (mod == 3) return 1;
    unsigned length = 1;
    if (rm == 4) {
        ++length;
        if (mod == 0 && (p[1] & 7) == 5) return length + 4;
    } else if (mod == 0 && rm == 5) {
        return X64 ? 0 : length + 4;
    }
    return length + (mod == 1 ? 1 : mod == 2 ? 4 : 0);
}

// Length of the instruction at p, for the instructions compilers put at the
// start of a function; 0 for anything else (branches, returns, operands
// relative to the instruction pointer), which the trampoline cannot move.
unsigned instructionLength(const std::uint8_t* p) {
    unsigned prefix = 0;
    bool operand16 = false, wide = false;
    if (p[prefix] == 0x66) operand16 = true, ++prefix;
    if (X64 && (p[prefix] & 0xF0) == 0x40) wide = (p[prefix] & 8) != 0, ++prefix;
    const std::uint8_t* op = p + prefix;
    const unsigned imm32 = operand16 ? 2 : 4;
    auto withModrm = [&](unsigned opcodeBytes, unsigned immediate) -> unsigned {
        const unsigned m = modrmLength(op + opcodeBytes);
        return m == 0 ? 0 : prefix + opcodeBytes + m + immediate;
    };
    const std::uint8_t o = op[0];
    const unsigned reg = (op[1] >> 3) & 7;
    if ((o >= 0x50 && o <= 0x5F) || o == 0x90 || o == 0xCC) return prefix + 1;
    if (o == 0x6A || (o >= 0xB0 && o <= 0xB7)) return prefix + 2;
    if (o == 0x68) return prefix + 5;
    if (o >= 0xB8 && o <= 0xBF) return prefix + 1 + (wide ? 8 : imm32);
    if ((o < 0x40 && (o & 7) < 4) || (o >= 0x84 && o <= 0x8B) || o == 0x8D || o == 0x63)
        return withModrm(1, 0);
    if (o == 0x83 || o == 0x6B || o == 0xC0 || o == 0xC1 || o == 0xC6) return withModrm(1, 1);
    if (o == 0x81 || o == 0x69 || o == 0xC7) return withModrm(1, imm32);
    if (o == 0xFF && (reg < 2 || reg > 5)) return withModrm(1, 0);  // not a call or jump
    if (o == 0x0F && (op[1] == 0x1F || op[1] == 0xAF || op[1] == 0xB6 || op[1] == 0xB7 || op[1] == 0xBE ||
                      op[1] == 0xBF))
        return withModrm(2, 0);
    return 0;
}

// How many bytes of whole instructions cover the 5 a jmp rel32 takes; 0 when
// they cannot be moved.
unsigned coveredLength(const std::uint8_t* target) {
    unsigned length = 0;
    while (length < 5) {
        const unsigned n = instructionLength(target + length);
        if (n == 0) return 0;
        length += n;
    }
    return length <= 16 ? length : 0;
}

// A free, allocation-aligned address within 2 GB below (then above) the
// target, so that a jmp rel32 reaches it; any address for a 32-bit target.
void* nearbyFreeAddress(std::uintptr_t target) {
    if (!X64) return nullptr;
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

std::uint8_t* allocateNear(const std::uint8_t* target, SIZE_T size, DWORD protect) {
    void* wanted = nearbyFreeAddress(reinterpret_cast<std::uintptr_t>(target));
    if (X64 && wanted == nullptr) return nullptr;
    return static_cast<std::uint8_t*>(VirtualAlloc(wanted, size, MEM_RESERVE | MEM_COMMIT, protect));
}

void writeRelativeJump(std::uint8_t* at, const void* to) {  // jmp rel32
    const std::int32_t rel = static_cast<std::int32_t>(reinterpret_cast<std::intptr_t>(to) -
                                                       reinterpret_cast<std::intptr_t>(at + 5));
    at[0] = 0xE9;
    std::memcpy(at + 1, &rel, sizeof rel);
}

// jmp [rip+d] on x64, jmp [abs32] on x86, through the pointer at slot.
void writeIndirectJump(std::uint8_t* at, const void* slot) {
    const std::uintptr_t address = reinterpret_cast<std::uintptr_t>(slot);
    const std::uint32_t operand = static_cast<std::uint32_t>(X64 ? address - reinterpret_cast<std::uintptr_t>(at + 6) : address);
    at[0] = 0xFF;
    at[1] = 0x25;
    std::memcpy(at + 2, &operand, 4);
}

void writeAbsoluteJump(std::uint8_t* at, const void* to) {  // x64: jmp [rip+0]; dq to
    std::memcpy(at + 6, &to, sizeof to);
    writeIndirectJump(at, at + 6);
}

// A jmp rel32 to `to` written over the first length bytes of target, the
// rest of them filled, the page's protection put back.
bool patchWithJump(std::uint8_t* target, unsigned length, const void* to, std::uint8_t fill) {
    DWORD old = 0;
    if (!VirtualProtect(target, length, PAGE_EXECUTE_READWRITE, &old)) return false;
    writeRelativeJump(target, to);
    std::memset(target + 5, fill, length - 5);
    VirtualProtect(target, length, old, &old);
    FlushInstructionCache(GetCurrentProcess(), target, length);
    return true;
}

void installMinHookLike(std::uint8_t* target) {
    constexpr std::size_t SLOT = X64 ? 64 : 32, PTR = sizeof(void*);
    const unsigned length = coveredLength(target);
    if (length == 0) return void(fail(g_create9Ex, "cannot relocate Direct3DCreate9Ex's first instructions"));
    std::uint8_t* block = allocateNear(target, 0x1000, PAGE_EXECUTE_READWRITE);
    if (block == nullptr) return void(fail(g_create9Ex, "VirtualAlloc"));
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
    void* detour = hookOf<CREATE9EX, HRESULT, UINT, void**>();
    if (X64) {
        writeAbsoluteJump(trampoline + length, target + length);
        std::uint8_t* relay = trampoline + SLOT - 14;  // MinHook's relay at the slot's end
        writeAbsoluteJump(relay, detour);
        const std::uint8_t movJmp[12] = {0x48, 0xB8, 0, 0, 0, 0, 0, 0, 0, 0, 0xFF, 0xE0};  // mov rax, imm64; jmp rax
        std::memcpy(chained, movJmp, sizeof movJmp);
        std::memcpy(chained + 2, &relay, sizeof relay);
    } else {
        writeRelativeJump(trampoline + length, target + length);
        chained[0] = 0x68;  // push imm32; ret
        std::memcpy(chained + 1, &detour, 4);
        chained[5] = 0xC3;
    }
    FlushInstructionCache(GetCurrentProcess(), block, 0x1000);
    g_trampolines[CREATE9EX] = trampoline;
    if (!patchWithJump(target, length, chained, 0x90)) return void(fail(g_create9Ex, "VirtualProtect"));
    g_create9Ex.count = 1;
    InterlockedExchange(&g_create9Ex.status, HOOKS_INSTALLED);
}

struct GuardTarget {
    const char* module;
    const char* name;
    void* hook;
};
const GuardTarget GUARD_TARGETS[] = {
    {"ntdll.dll", "NtWriteVirtualMemory", hookOf<0, LONG, HANDLE, void*, const void*, SIZE_T, SIZE_T*>()},
    {"ntdll.dll", "NtQueueApcThread", hookOf<1, LONG, HANDLE, void*, void*, void*, void*>()},
    {"ntdll.dll", "NtSetContextThread", hookOf<2, LONG, HANDLE, const CONTEXT*>()},
    {"ntdll.dll", "NtCreateThreadEx",
     hookOf<3, LONG, HANDLE*, ACCESS_MASK, void*, HANDLE, void*, void*, ULONG, SIZE_T, SIZE_T, SIZE_T, void*>()},
    {"kernel32.dll", "VirtualAllocEx", hookOf<4, void*, HANDLE, void*, SIZE_T, DWORD, DWORD>()},
    {"kernel32.dll", "WriteProcessMemory", hookOf<5, BOOL, HANDLE, void*, const void*, SIZE_T, SIZE_T*>()},
    {"kernel32.dll", "CreateRemoteThread",
     hookOf<6, HANDLE, HANDLE, SECURITY_ATTRIBUTES*, SIZE_T, LPTHREAD_START_ROUTINE, void*, DWORD, DWORD*>()},
    {"kernel32.dll", "OpenProcess", hookOf<7, HANDLE, DWORD, BOOL, DWORD>()},
};
static_assert(sizeof GUARD_TARGETS / sizeof GUARD_TARGETS[0] == GUARD_MAX, "one pass-through each");

// Detours' trampoline, cut to what a hook needs: the moved instructions and
// the jump back, then the relay the patched jump leads to, then the fields
// both jumps read.
struct DetourTrampoline {
    std::uint8_t code[32];     // moved instructions, then a jump to remain
    std::uint8_t codeIn[8];    // the relay: jmp [rip+d] (x64) or jmp [abs32] (x86) through detour
    std::uint8_t* remain;      // the rest of the hooked function
    void* detour;
};

// A 64 KiB region near target for trampolines, as Detours reserves one.
std::uint8_t* detourRegion(const std::uint8_t* target) { return allocateNear(target, 0x10000, PAGE_READWRITE); }

// Detours target with pass-through index through a trampoline in region,
// counted in set; direct: the patched jump leads to the hook itself on x86.
// The region is writable only while the trampoline is written, as Detours
// makes its regions writable for a transaction; targets whose first
// instructions cannot be moved are left alone, as the products do.
void installDetour(HookSet& set, std::uint8_t* target, void* hook, int index, std::uint8_t* region,
                   std::size_t& used, bool direct = false) {
    const unsigned length = target != nullptr && region != nullptr ? coveredLength(target) : 0;
    if (length == 0 || used + sizeof(DetourTrampoline) > 0x10000) return;
    if (X64 && (region > target + 0x7FF00000ull || target > region + 0x7FF00000ull)) return;
    DWORD old = 0;
    if (!VirtualProtect(region, 0x10000, PAGE_READWRITE, &old)) return;
    auto* tramp = reinterpret_cast<DetourTrampoline*>(region + used);
    used += sizeof(DetourTrampoline);
    std::memset(tramp->code, 0xCC, sizeof tramp->code);
    std::memcpy(tramp->code, target, length);
    tramp->remain = target + length;
    tramp->detour = hook;
    if (X64) writeIndirectJump(tramp->code + length, &tramp->remain);
    else writeRelativeJump(tramp->code + length, target + length);
    writeIndirectJump(tramp->codeIn, &tramp->detour);
    g_trampolines[index] = tramp->code;
    if (!VirtualProtect(region, 0x10000, PAGE_EXECUTE_READ, &old)) return;
    FlushInstructionCache(GetCurrentProcess(), region, 0x10000);
    if (patchWithJump(target, length, direct && !X64 ? hook : tramp->codeIn, 0xCC)) ++set.count;
}

DWORD WINAPI hookThread(void*) {
    // Overlays hook the graphics API when the game brings it in.
    for (int waited = 0; waited < 30000; waited += 50) {
        if (HMODULE d3d9 = GetModuleHandleA("d3d9.dll")) {
            auto* create = reinterpret_cast<std::uint8_t*>(GetProcAddress(d3d9, "Direct3DCreate9"));
            auto* createEx = reinterpret_cast<std::uint8_t*>(GetProcAddress(d3d9, "Direct3DCreate9Ex"));
            if (create == nullptr || createEx == nullptr) {
                fail(g_create9, "d3d9.dll lacks an export");
                return fail(g_create9Ex, "d3d9.dll lacks an export");
            }
            std::size_t used = 0;
            installDetour(g_create9, create, hookOf<CREATE9, void*, UINT>(), CREATE9, detourRegion(create), used, true);
            if (g_create9.count == 1) InterlockedExchange(&g_create9.status, HOOKS_INSTALLED);
            else fail(g_create9, "cannot hook Direct3DCreate9");
            installMinHookLike(createEx);
            return 0;
        }
        Sleep(50);
    }
    fail(g_create9, "d3d9.dll never loaded");
    return fail(g_create9Ex, "d3d9.dll never loaded");
}

void installGuardHooks() {
    std::uint8_t* regions[2] = {};  // near ntdll, near kernel32
    std::size_t used[2] = {};
    for (int i = 0; i < GUARD_MAX; ++i) {
        const GuardTarget& t = GUARD_TARGETS[i];
        HMODULE module = GetModuleHandleA(t.module);
        const int r = std::strcmp(t.module, "ntdll.dll") == 0 ? 0 : 1;
        if (regions[r] == nullptr && module != nullptr)
            regions[r] = detourRegion(reinterpret_cast<const std::uint8_t*>(module));
        auto* target = module ? reinterpret_cast<std::uint8_t*>(GetProcAddress(module, t.name)) : nullptr;
        installDetour(g_guard, target, t.hook, i, regions[r], used[r]);
    }
    InterlockedExchange(&g_guard.status, g_guard.count == GUARD_MAX ? HOOKS_INSTALLED : HOOKS_FAILED);
}

// What overlays draw through: the device's Present and Reset, found in its
// method table and detoured in d3d9.dll's code (COM methods are stdcall).
void hookDevice(void* device) {
    void* const* methods = *static_cast<void* const* const*>(device);
    constexpr std::size_t RESET = 16, PRESENT = 17;
    auto* present = static_cast<std::uint8_t*>(methods[PRESENT]);
    std::uint8_t* region = detourRegion(present);
    std::size_t used = 0;
    installDetour(g_device, static_cast<std::uint8_t*>(methods[RESET]), hookOf<DEVICE_FIRST, LONG, void*, void*>(),
                  DEVICE_FIRST, region, used);
    installDetour(g_device, present,
                  hookOf<DEVICE_FIRST + 1, LONG, void*, const void*, const void*, HWND, const void*>(),
                  DEVICE_FIRST + 1, region, used);
    InterlockedExchange(&g_device.status, g_device.count == 2 ? HOOKS_INSTALLED : HOOKS_FAILED);
}

}  // namespace
}  // namespace marvik

extern "C" __declspec(dllexport) void StartOverlayHooks() {
    if (HANDLE thread = CreateThread(nullptr, 0, marvik::hookThread, nullptr, 0, nullptr)) CloseHandle(thread);
}
extern "C" __declspec(dllexport) const marvik::HookSet* OverlayHooks(int which) {
    return which == 0 ? &marvik::g_create9 : &marvik::g_create9Ex;
}
extern "C" __declspec(dllexport) const marvik::HookSet* StartGuardHooks() {
    marvik::installGuardHooks();
    return &marvik::g_guard;
}
extern "C" __declspec(dllexport) const marvik::HookSet* HookDevice(void* device) {
    marvik::hookDevice(device);
    return &marvik::g_device;
}

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) DisableThreadLibraryCalls(instance);
    return TRUE;
}
