// The hooking DLL of the realistic stand-in game: clean-but-noisy software a player runs beside a game, each hook
// counting its calls and going on through its trampoline. Nothing hooks until the game asks (hooks.h lists the
// exports). Signed copies are the overlay and the anti-virus DLL; the unsigned copy is a cheat's renderer.
#include "hooks.h"

namespace marvik {
namespace {

// Each hook is a pass-through typed as the function it hooks, by index: the guard's, the device's, then
// Direct3DCreate9 and Ex.
constexpr int DEVICE_FIRST = GUARD_HOOKS, CREATE9 = DEVICE_FIRST + 2, CREATE9EX = CREATE9 + 1;
HookSet g_guard, g_device, g_overlay[2];  // the overlay's: Direct3DCreate9, Direct3DCreate9Ex
void* g_trampolines[CREATE9EX + 1];

constexpr HookSet* setOf(int index) {
    return index < DEVICE_FIRST ? &g_guard : index < CREATE9 ? &g_device : &g_overlay[index - CREATE9];
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

// Memory within 2 GB below target on x64, where Detours and MinHook look first, so that a jmp rel32 reaches it;
// anywhere on x86.
std::uint8_t* allocateNear(const std::uint8_t* target, SIZE_T size, DWORD protect) {
    if (!X64) return static_cast<std::uint8_t*>(VirtualAlloc(nullptr, size, MEM_RESERVE | MEM_COMMIT, protect));
    const std::uintptr_t start = reinterpret_cast<std::uintptr_t>(target) & ~std::uintptr_t{0xFFFF};  // granularity
    for (std::uintptr_t below = 0x10000; below < 0x7FF00000 && below <= start; below += 0x10000)
        if (void* at = VirtualAlloc(reinterpret_cast<void*>(start - below), size, MEM_RESERVE | MEM_COMMIT, protect))
            return static_cast<std::uint8_t*>(at);
    return nullptr;
}

// The first length bytes of target replaced by a jmp rel32 to `to`, the rest filled.
bool patchWithJump(std::uint8_t* target, unsigned length, const void* to, std::uint8_t fill) {
    return patch(target, length, [&](std::uint8_t* at) {
        writeRelativeJump(at, to);
        std::memset(at + 5, fill, length - 5);
    });
}

// Direct3DCreate9Ex behind a second tool's chained relay, in a block laid out as MinHook's src/buffer.c and
// src/hook.c lay theirs: 4 KiB left read-write-execute, its header (next block, first free slot, slots in use), then
// 64-byte (x64) or 32-byte (x86) slots, free ones a list through the block; the used slot holds the moved
// instructions, the jump back and (x64) the relay to the detour at its end.
void installMinHookLike(std::uint8_t* target) {
    constexpr std::size_t SLOT = X64 ? 64 : 32, PTR = sizeof(void*), SLOTS = 0x1000 / SLOT;
    const unsigned length = coveredLength(target);
    std::uint8_t* block = length != 0 ? allocateNear(target, 0x1000, PAGE_EXECUTE_READWRITE) : nullptr;
    if (block == nullptr) return;
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
    if (patchWithJump(target, length, chained, 0x90)) ++g_overlay[1].count;
}

// A trampoline as Detours 4.0.1 src/detours.cpp lays it out, cut to what a hook needs: the moved instructions and
// the jump back, the relay the patched jump leads to, then the fields both jumps read.
struct DetourTrampoline {
    std::uint8_t code[32];
    std::uint8_t codeIn[8];  // jmp [rip+d] (x64) or jmp [abs32] (x86) through detour
    std::uint8_t* remain;    // the rest of the hooked function
    void* detour;
};

std::uint8_t* detourRegion(const std::uint8_t* target) { return allocateNear(target, 0x10000, PAGE_READWRITE); }

// target detoured to hook (pass-through index) through a trampoline in region (64 KiB near it, as Detours takes);
// direct: the patched jump leads to the hook itself on x86, as most overlays' 32-bit builds do. The region is
// writable only while a trampoline is written; targets whose first instructions cannot be moved are left alone.
void installDetour(std::uint8_t* target, void* hook, int index, std::uint8_t* region, std::size_t& used,
                   bool direct = false) {
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
    if (patchWithJump(target, length, direct && !X64 ? hook : tramp->codeIn, 0xCC)) ++setOf(index)->count;
}

const HookSet* installOverlayHooks() {  // once the game has loaded d3d9.dll
    HMODULE d3d9 = GetModuleHandleA("d3d9.dll");
    auto* create = reinterpret_cast<std::uint8_t*>(GetProcAddress(d3d9, "Direct3DCreate9"));
    auto* createEx = reinterpret_cast<std::uint8_t*>(GetProcAddress(d3d9, "Direct3DCreate9Ex"));
    std::size_t used = 0;
    installDetour(create, hookOf<CREATE9, void*, UINT>(), CREATE9, detourRegion(create), used, true);
    if (createEx != nullptr) installMinHookLike(createEx);
    return g_overlay;
}

// The exports public lists of security products' user-mode hooks name.
struct GuardTarget {
    const char* module;
    const char* name;
    void* hook;
};
const GuardTarget GUARD_TARGETS[GUARD_HOOKS] = {
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

const HookSet* installGuardHooks() {
    std::uint8_t* regions[2] = {};  // near ntdll, near kernel32
    std::size_t used[2] = {};
    for (int i = 0; i < GUARD_HOOKS; ++i) {
        const GuardTarget& t = GUARD_TARGETS[i];
        HMODULE module = GetModuleHandleA(t.module);
        const int r = std::strcmp(t.module, "ntdll.dll") == 0 ? 0 : 1;
        if (regions[r] == nullptr && module != nullptr)
            regions[r] = detourRegion(reinterpret_cast<const std::uint8_t*>(module));
        auto* target = module ? reinterpret_cast<std::uint8_t*>(GetProcAddress(module, t.name)) : nullptr;
        installDetour(target, t.hook, i, regions[r], used[r]);
    }
    return &g_guard;
}

const HookSet* hookDevice(void* device) {  // through its method table; COM methods are stdcall
    void* const* methods = *static_cast<void* const* const*>(device);
    constexpr std::size_t RESET = 16, PRESENT = 17;
    auto* present = static_cast<std::uint8_t*>(methods[PRESENT]);
    std::uint8_t* region = detourRegion(present);
    std::size_t used = 0;
    installDetour(static_cast<std::uint8_t*>(methods[RESET]), hookOf<DEVICE_FIRST, LONG, void*, void*>(), DEVICE_FIRST,
                  region, used);
    installDetour(present, hookOf<DEVICE_FIRST + 1, LONG, void*, const void*, const void*, HWND, const void*>(),
                  DEVICE_FIRST + 1, region, used);
    return &g_device;
}

}  // namespace
}  // namespace marvik

extern "C" __declspec(dllexport) const marvik::HookSet* StartOverlayHooks() { return marvik::installOverlayHooks(); }
extern "C" __declspec(dllexport) const marvik::HookSet* StartGuardHooks() { return marvik::installGuardHooks(); }
extern "C" __declspec(dllexport) const marvik::HookSet* HookDevice(void* device) { return marvik::hookDevice(device); }
