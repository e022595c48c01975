// The hooking DLL of the realistic stand-in game: clean-but-noisy software a player runs beside a game, each hook
// counting its calls and going on through its trampoline. Nothing hooks until the game asks:
//   StartOverlayHooks  an overlay's hooks of d3d9: Direct3DCreate9 Detours-like (on x86 the jmp leads straight to
//                      the hook, as most overlays' 32-bit builds do), Direct3DCreate9Ex in a MinHook-like block
//                      (modelled on MinHook's src/buffer.c and src/hook.c) behind a second tool's chained relay
//   StartGuardHooks    an anti-virus product's hooks of injection-related ntdll and kernel32 exports, modelled on
//                      Detours 4.0.1 src/detours.cpp (64 KiB trampoline regions near the target, made read-execute)
//   HookDevice         the device's Present and Reset in d3d9.dll's code, as overlays draw over each frame
// Signed copies are the overlay and the anti-virus DLL; the unsigned copy is a cheat's renderer.
#include <cstdio>

#include "hooks.h"

namespace marvik {
namespace {

// Each hook is a pass-through typed as the function it hooks, by index: the guard's, the device's, then
// Direct3DCreate9 and Ex.
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

void settle(HookSet& set, int wanted, const char* what) {
    if (set.count == wanted) InterlockedExchange(&set.status, HOOKS_INSTALLED);
    else fail(set, what);
}

// Length of the ModRM operand (ModRM, SIB, displacement) at p; 0 for one relative to the instruction pointer.
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

// Length of the instruction at p, for those compilers put at a function's start; 0 for anything a trampoline
// cannot move (branches, returns, operands relative to the instruction pointer).
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
    if ((o < 0x40 && (o & 7) < 4) || (o >= 0x84 && o <= 0x8B) || o == 0x8D || o == 0x63) return withModrm(1, 0);
    if (o == 0x83 || o == 0x6B || o == 0xC0 || o == 0xC1 || o == 0xC6) return withModrm(1, 1);
    if (o == 0x81 || o == 0x69 || o == 0xC7) return withModrm(1, imm32);
    if (o == 0xFF && (reg < 2 || reg > 5)) return withModrm(1, 0);  // not a call or jump
    if (o == 0x0F && (op[1] == 0x1F || op[1] == 0xAF || op[1] == 0xB6 || op[1] == 0xB7 || op[1] == 0xBE ||
                      op[1] == 0xBF))
        return withModrm(2, 0);
    return 0;
}

// How many bytes of whole instructions cover the 5 a jmp rel32 takes; 0 when they cannot be moved.
unsigned coveredLength(const std::uint8_t* target) {
    unsigned length = 0;
    while (length < 5) {
        const unsigned n = instructionLength(target + length);
        if (n == 0) return 0;
        length += n;
    }
    return length <= 16 ? length : 0;
}

// Memory within 2 GB below (then above) target on x64, so that a jmp rel32 reaches it; anywhere on x86.
std::uint8_t* allocateNear(const std::uint8_t* target, SIZE_T size, DWORD protect) {
    void* wanted = nullptr;
    if (X64) {
        SYSTEM_INFO info;
        GetSystemInfo(&info);
        const std::uintptr_t granule = info.dwAllocationGranularity, reach = 0x7FF00000;
        const std::uintptr_t start = reinterpret_cast<std::uintptr_t>(target) & ~(granule - 1);
        const std::uintptr_t lowest = reinterpret_cast<std::uintptr_t>(info.lpMinimumApplicationAddress);
        MEMORY_BASIC_INFORMATION mbi;
        for (int below = 1; below >= 0 && wanted == nullptr; --below)
            for (std::uintptr_t d = granule; d < reach && wanted == nullptr; d += granule) {
                const std::uintptr_t at = below ? start - d : start + d;
                if ((below && (d > start || at < lowest)) ||
                    VirtualQuery(reinterpret_cast<void*>(at), &mbi, sizeof mbi) == 0)
                    break;
                if (mbi.State == MEM_FREE) wanted = reinterpret_cast<void*>(at);
            }
        if (wanted == nullptr) return nullptr;
    }
    return static_cast<std::uint8_t*>(VirtualAlloc(wanted, size, MEM_RESERVE | MEM_COMMIT, protect));
}

// The first length bytes of target replaced by a jmp rel32 to `to`, the rest filled.
bool patchWithJump(std::uint8_t* target, unsigned length, const void* to, std::uint8_t fill) {
    return patch(target, length, [&](std::uint8_t* at) {
        writeRelativeJump(at, to);
        std::memset(at + 5, fill, length - 5);
    });
}

// MinHook's layout: a 4 KiB block left read-write-execute, its header (next block, first free slot, slots in use),
// then 64-byte (x64) or 32-byte (x86) slots, free ones a list through the block; the used slot holds the moved
// instructions, the jump back and (x64) the relay to the detour at its end.
void installMinHookLike(std::uint8_t* target) {
    constexpr std::size_t SLOT = X64 ? 64 : 32, PTR = sizeof(void*), SLOTS = 0x1000 / SLOT;
    const unsigned length = coveredLength(target);
    if (length == 0) return void(fail(g_create9Ex, "cannot relocate Direct3DCreate9Ex's first instructions"));
    std::uint8_t* block = allocateNear(target, 0x1000, PAGE_EXECUTE_READWRITE);
    if (block == nullptr) return void(fail(g_create9Ex, "VirtualAlloc"));
    std::uint8_t *trampoline = block + SLOT, *chained = block + 2 * SLOT;
    void* firstFree = block + 3 * SLOT;
    const std::uintptr_t used = 2;
    std::memcpy(block + PTR, &firstFree, PTR);
    std::memcpy(block + 2 * PTR, &used, PTR);
    for (std::size_t i = 3; i < SLOTS; ++i) {
        void* next = i + 1 < SLOTS ? block + (i + 1) * SLOT : nullptr;
        std::memcpy(block + i * SLOT, &next, PTR);
    }
    std::memcpy(trampoline, target, length);
    void* detour = hookOf<CREATE9EX, HRESULT, UINT, void**>();
    if (X64) {
        writeAbsoluteJump(trampoline + length, target + length);
        std::uint8_t* relay = trampoline + SLOT - 14;
        writeAbsoluteJump(relay, detour);
        writeRegisterJump(chained, relay);
    } else {
        writeRelativeJump(trampoline + length, target + length);
        writeRegisterJump(chained, detour);
    }
    FlushInstructionCache(GetCurrentProcess(), block, 0x1000);
    g_trampolines[CREATE9EX] = trampoline;
    if (patchWithJump(target, length, chained, 0x90)) ++g_create9Ex.count;
    settle(g_create9Ex, 1, "VirtualProtect");
}

// Detours' trampoline, cut to what a hook needs: the moved instructions and the jump back, the relay the patched
// jump leads to, then the fields both jumps read.
struct DetourTrampoline {
    std::uint8_t code[32];
    std::uint8_t codeIn[8];  // jmp [rip+d] (x64) or jmp [abs32] (x86) through detour
    std::uint8_t* remain;    // the rest of the hooked function
    void* detour;
};

std::uint8_t* detourRegion(const std::uint8_t* target) { return allocateNear(target, 0x10000, PAGE_READWRITE); }

// target detoured to hook (pass-through index) through a trampoline in region, counted in set; direct: the patched
// jump leads to the hook itself on x86. The region is writable only while a trampoline is written; targets whose
// first instructions cannot be moved are left alone, as the products do.
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
    for (int waited = 0; waited < 30000; waited += 50, Sleep(50)) {  // overlays hook d3d9 when the game loads it
        HMODULE d3d9 = GetModuleHandleA("d3d9.dll");
        if (d3d9 == nullptr) continue;
        auto* create = reinterpret_cast<std::uint8_t*>(GetProcAddress(d3d9, "Direct3DCreate9"));
        auto* createEx = reinterpret_cast<std::uint8_t*>(GetProcAddress(d3d9, "Direct3DCreate9Ex"));
        if (create == nullptr || createEx == nullptr) break;
        std::size_t used = 0;
        installDetour(g_create9, create, hookOf<CREATE9, void*, UINT>(), CREATE9, detourRegion(create), used, true);
        settle(g_create9, 1, "cannot hook Direct3DCreate9");
        installMinHookLike(createEx);
        return 0;
    }
    fail(g_create9, "no d3d9.dll with both exports");
    return fail(g_create9Ex, "no d3d9.dll with both exports");
}

// The exports public lists of security products' user-mode hooks name.
struct GuardTarget {
    const char* module;
    const char* name;
    void* hook;
};
const GuardTarget GUARD_TARGETS[GUARD_MAX] = {
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
    settle(g_guard, GUARD_MAX, "missed a hook");
}

void hookDevice(void* device) {  // through its method table; COM methods are stdcall
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
    settle(g_device, 2, "missed a hook");
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
