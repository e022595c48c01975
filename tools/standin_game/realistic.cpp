// The realistic mode: a clean game as players run it, noisy but innocent: the system DLLs a Direct3D 9 game
// loads, its own DLLs beside it (game_dll.c, built under each name), about 120 modules in all; the
// overlay's and the anti-virus DLL's hooks (overlay_render.cpp); resource-only views; a JIT region (as a script or
// shader compiler leaves one); its own code rewritten unchanged; launcher_splash.dll freed after 5 s and
// content_patch.dll loaded at 20 s.
#include <d3d9.h>

#include <cstdio>

#include "standin.h"

namespace marvik {
namespace {

// By name, so that they come from the system folder of the game's width.
const char* const SYSTEM_DLLS[] = {
    "user32.dll",    "gdi32.dll",      "advapi32.dll",  "shell32.dll",     "shlwapi.dll",     "ole32.dll",
    "oleaut32.dll",  "comctl32.dll",   "comdlg32.dll",  "version.dll",     "imm32.dll",       "winmm.dll",
    "msacm32.dll",   "ws2_32.dll",     "wsock32.dll",   "mswsock.dll",     "iphlpapi.dll",    "dnsapi.dll",
    "wininet.dll",   "winhttp.dll",    "urlmon.dll",    "crypt32.dll",     "wintrust.dll",    "bcrypt.dll",
    "rsaenh.dll",    "secur32.dll",    "setupapi.dll",  "cfgmgr32.dll",    "hid.dll",         "dbghelp.dll",
    "psapi.dll",     "powrprof.dll",   "userenv.dll",   "netapi32.dll",    "wtsapi32.dll",    "uxtheme.dll",
    "dwmapi.dll",    "msctf.dll",      "d3d9.dll",      "d3dx9_36.dll",    "d3dcompiler_43.dll", "opengl32.dll",
    "dinput8.dll",   "dinput.dll",     "dsound.dll",    "xinput1_3.dll",   "xaudio2_7.dll",   "x3daudio1_7.dll",
    "mmdevapi.dll",  "avrt.dll",       "msvcr80.dll",   "msvcp90.dll",     "winspool.drv",    "msimg32.dll",
    "usp10.dll",     "gdiplus.dll",    "windowscodecs.dll", "riched20.dll", "normaliz.dll",   "wldap32.dll",
    "imagehlp.dll",  "mpr.dll",        "nsi.dll",
};

// A JIT's output: functions f(x) = x * k + c, 32 bytes apart; k and c are the last two immediates.
constexpr int JIT_FUNCTIONS = 8;
#if defined(_WIN64)
const unsigned char JIT_CODE[] = {0x69, 0xC1, 0, 0, 0, 0, 0x05, 0, 0, 0, 0, 0xC3};  // imul eax, ecx, k; add eax, c; ret
#else  // mov eax, [esp+4]; imul eax, eax, k; add eax, c; ret
const unsigned char JIT_CODE[] = {0x8B, 0x44, 0x24, 0x04, 0x69, 0xC0, 0, 0, 0, 0, 0x05, 0, 0, 0, 0, 0xC3};
#endif

// Reserved large and executable, committed a piece at a time, written, made read-execute, each function called.
bool makeJitRegion() {
    constexpr SIZE_T reserve = 0x100000, commit = 0x10000;
    auto* region = static_cast<unsigned char*>(VirtualAlloc(nullptr, reserve, MEM_RESERVE, PAGE_EXECUTE_READWRITE));
    if (region == nullptr || VirtualAlloc(region, commit, MEM_COMMIT, PAGE_EXECUTE_READWRITE) == nullptr) return false;
    std::memset(region, 0xCC, commit);
    for (int i = 0; i < JIT_FUNCTIONS; ++i) {
        unsigned char* at = region + 32 * i;
        const int k = i + 2, c = 100 * i;
        std::memcpy(at, JIT_CODE, sizeof JIT_CODE);
        std::memcpy(at + sizeof JIT_CODE - 10, &k, 4);
        std::memcpy(at + sizeof JIT_CODE - 5, &c, 4);
    }
    DWORD old = 0;
    if (!VirtualProtect(region, commit, PAGE_EXECUTE_READ, &old)) return false;
    FlushInstructionCache(GetCurrentProcess(), region, commit);
    for (int i = 0; i < JIT_FUNCTIONS; ++i)
        if (reinterpret_cast<int (*)(int)>(region + 32 * i)(7) != 7 * (i + 2) + 100 * i) return false;
    return true;
}

bool fail(const char* what, const std::string& detail) {
    std::fprintf(stderr, "realistic: %s %s (error %lu)\n", what, detail.c_str(), GetLastError());
    return false;
}

bool loadGameDlls(const std::string& folder) {
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((folder + "\\game_*.dll").c_str(), &found);
    bool ok = search != INVALID_HANDLE_VALUE;
    for (BOOL more = ok; more; more = FindNextFileA(search, &found))
        if (LoadLibraryA((folder + "\\" + found.cFileName).c_str()) == nullptr)
            ok = fail("cannot load", found.cFileName);
    if (search != INVALID_HANDLE_VALUE) FindClose(search);
    return ok;
}

constexpr unsigned long long UNLOAD_MS = 5000, LATE_LOAD_MS = 20000;

// What the main loop still has to do once set up: free the splash, then load the late DLL.
unsigned long long g_startTick = 0;
HMODULE g_splash = nullptr;
std::string g_latePath;  // until loaded

}  // namespace

void* createDirect3DDevice(void* d3d) {
    HWND window =
        CreateWindowA("STATIC", "iw3mp", WS_OVERLAPPEDWINDOW, 0, 0, 320, 240, nullptr, nullptr, nullptr, nullptr);
    if (window == nullptr || d3d == nullptr) return nullptr;
    D3DPRESENT_PARAMETERS present = {};
    present.Windowed = TRUE;
    present.SwapEffect = D3DSWAPEFFECT_DISCARD;
    present.hDeviceWindow = window;
    IDirect3DDevice9* device = nullptr;
    const HRESULT made = static_cast<IDirect3D9*>(d3d)->CreateDevice(
        D3DADAPTER_DEFAULT, D3DDEVTYPE_HAL, window, D3DCREATE_SOFTWARE_VERTEXPROCESSING, &present, &device);
    return SUCCEEDED(made) ? device : nullptr;
}

const HookSet* startRenderHooks(const std::string& path) {
    auto start = exported<StartHooksFn>(LoadLibraryA(path.c_str()), "StartOverlayHooks");
    const HookSet* hooks = start != nullptr ? start() : nullptr;
    if (hooks != nullptr && hooks[0].count == 1 && hooks[1].count == 1) return hooks;
    return fail("no d3d9 hooks from", path), nullptr;
}

bool startRealistic() {
    g_startTick = GetTickCount64();
    const std::string folder = exeFolder();
    for (const char* name : SYSTEM_DLLS) LoadLibraryA(name);  // names this Windows lacks are skipped
    if (!loadGameDlls(folder)) return fail("cannot load the game's DLLs from", folder + "\\game_*.dll");

    const HookSet* overlay = startRenderHooks(folder + "\\overlay_render.dll");
    if (overlay == nullptr) return false;
    const std::string guardPath = folder + "\\av_guard.dll";
    auto startGuard = exported<StartHooksFn>(LoadLibraryA(guardPath.c_str()), "StartGuardHooks");
    if (startGuard == nullptr || startGuard()->count != GUARD_HOOKS) return fail("no guard hooks from", guardPath);
    // The game's Direct3D objects made through the overlay's hooks, a frame drawn through its hook of Present.
    HMODULE d3d9 = GetModuleHandleA("d3d9.dll");
    void* d3d = exported<void*(WINAPI*)(UINT)>(d3d9, "Direct3DCreate9")(32);  // D3D_SDK_VERSION
    void* d3dEx = nullptr;
    exported<HRESULT(WINAPI*)(UINT, void**)>(d3d9, "Direct3DCreate9Ex")(32, &d3dEx);
    void* device = createDirect3DDevice(d3d);
    if (device == nullptr) return fail("cannot create a Direct3D 9 device", "");
    auto hookDevice = exported<HookDeviceFn>(GetModuleHandleA((folder + "\\overlay_render.dll").c_str()), "HookDevice");
    const HookSet* deviceHooks = hookDevice != nullptr ? hookDevice(device) : nullptr;
    if (deviceHooks == nullptr || deviceHooks->count != DEVICE_HOOKS)
        return fail("the overlay did not hook the device's Present and Reset", "");
    static_cast<IDirect3DDevice9*>(device)->Present(nullptr, nullptr, nullptr, nullptr);
    // A hook in place but never called would prove nothing.
    if (overlay[0].calls != 1 || overlay[1].calls != 1 || deviceHooks->calls < 1)
        return fail("a call went around the overlay's hooks", "");

    if (!makeJitRegion()) return fail("cannot set up the JIT-like region", "");
    if (!loadResourceOnlyDlls()) return fail("cannot map msi.dll and ieframe.dll for their resources", "");
    if (!retouchOwnCode()) return fail("cannot rewrite its own code", "");

    const std::string splash = folder + "\\launcher_splash.dll";
    if ((g_splash = LoadLibraryA(splash.c_str())) == nullptr) return fail("cannot load", splash);
    g_latePath = folder + "\\content_patch.dll";
    return GetFileAttributesA(g_latePath.c_str()) != INVALID_FILE_ATTRIBUTES || fail("no", g_latePath);
}

void tickRealistic() {
    const unsigned long long elapsed = GetTickCount64() - g_startTick;
    if (g_splash != nullptr && elapsed >= UNLOAD_MS) {
        FreeLibrary(g_splash);
        g_splash = nullptr;
    }
    if (!g_latePath.empty() && elapsed >= LATE_LOAD_MS) {
        if (LoadLibraryA(g_latePath.c_str()) == nullptr) fail("cannot load", g_latePath);
        g_latePath.clear();
    }
}

}  // namespace marvik
