#include <winsock2.h>
#include <windows.h>
#include <tlhelp32.h>

#include <cstdint>
#include <cstring>
#include <mutex>
#include <vector>

#include "base/exe_path.h"
#include "checks/checks.h"
#include "checks/checks_windows.h"
#include "checks/code_check.h"
#include "checks/game_threads.h"
#include "inventory/file_digests.h"

namespace marvik {

namespace {

// The same rule as for the game's threads: a register DR7 arms and that
// holds an address.
bool debugRegistersSet(const CONTEXT& c) {
    return hardwareBreakpointArmed(debugRegistersOf(c));
}

// The client's code as its file says it must look loaded here, worked out
// once per file identity: reading and relocating the whole executable every
// cycle would be most of the heartbeat's cost.
struct ExpectedCode {
    FileStamp stamp;
    CodeSection code;
};
std::mutex g_expectedMutex;
ExpectedCode g_expected;

// The client's code in memory against its file, relocated to where it
// was loaded: a patch or a software breakpoint changes it.
bool ownCodeModified() {
    const std::string path = executablePath();
    const FileStamp stamp = fileStamp(path);
    if (!stamp.known) return false;
    const std::uint64_t base = reinterpret_cast<std::uintptr_t>(GetModuleHandleA(nullptr));
    std::lock_guard<std::mutex> lock(g_expectedMutex);
    if (!sameFileStamp(g_expected.stamp, stamp)) {
        g_expected.stamp = stamp;
        g_expected.code = expectedCodeSection(readWholeFile(path), base);
    }
    const CodeSection& expected = g_expected.code;
    if (expected.bytes.empty()) return false;
    const auto* loaded = reinterpret_cast<const std::uint8_t*>(static_cast<std::uintptr_t>(base + expected.rva));
    return std::memcmp(loaded, expected.bytes.data(), expected.bytes.size()) != 0;
}

bool insideImage(std::uint64_t address) {
    if (static_cast<std::uintptr_t>(address) != address) return false;  // beyond a 32-bit build's reach
    MEMORY_BASIC_INFORMATION info;
    if (VirtualQuery(reinterpret_cast<void*>(static_cast<std::uintptr_t>(address)), &info, sizeof info) == 0)
        return false;
    return info.State == MEM_COMMIT && info.Type == MEM_IMAGE;
}

// The system functions the client's checks and transport rely on.
struct Watched {
    const char* module;
    const char* function;
};
const Watched WATCHED[] = {
    {"kernel32.dll", "IsDebuggerPresent"},       {"kernel32.dll", "CheckRemoteDebuggerPresent"},
    {"kernel32.dll", "OpenProcess"},             {"kernel32.dll", "ReadProcessMemory"},
    {"kernel32.dll", "VirtualQueryEx"},          {"kernel32.dll", "CreateToolhelp32Snapshot"},
    {"kernel32.dll", "GetThreadContext"},        {"kernel32.dll", "K32EnumProcessModulesEx"},
    {"ntdll.dll", "NtQueryInformationProcess"},  {"ws2_32.dll", "sendto"},
    {"ws2_32.dll", "recvfrom"},
};

}  // namespace

bool functionHooked(const void* function) {
    if (function == nullptr) return false;
    // Through uintptr_t: a 32-bit pointer cast straight to a 64-bit integer
    // is sign-extended.
    const std::uint64_t address = reinterpret_cast<std::uintptr_t>(function);
    std::uint8_t bytes[16];
    std::memcpy(bytes, function, sizeof bytes);
    Prologue p = decodePrologue(bytes, sizeof bytes, address, NATIVE_CODE_WIDTH);
    if (p.breakpoint) return true;
    if (!p.jumps) return false;
    std::uint64_t target = p.target;
    if (p.indirect) {
        if (!insideImage(target)) return true;  // the pointer itself lives outside any module
        std::uintptr_t pointer = 0;  // as wide as the build's pointers
        std::memcpy(&pointer, reinterpret_cast<const void*>(static_cast<std::uintptr_t>(target)), sizeof pointer);
        target = pointer;
    }
    // Forwarding into another module is how system DLLs are built; a jump
    // into memory no module owns is a detour.
    return !insideImage(target);
}

bool checkHardwareBreakpoints() {
    const DWORD self = GetCurrentThreadId();
    const DWORD pid = GetCurrentProcessId();
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    if (snapshot == INVALID_HANDLE_VALUE) return false;
    bool found = false;
    THREADENTRY32 entry;
    entry.dwSize = sizeof entry;
    for (BOOL more = Thread32First(snapshot, &entry); more && !found; more = Thread32Next(snapshot, &entry)) {
        if (entry.th32OwnerProcessID != pid) continue;
        CONTEXT context = {};
        context.ContextFlags = CONTEXT_DEBUG_REGISTERS;
        if (entry.th32ThreadID == self) {
            if (GetThreadContext(GetCurrentThread(), &context)) found = debugRegistersSet(context);
            continue;
        }
        HANDLE thread = OpenThread(THREAD_GET_CONTEXT | THREAD_SUSPEND_RESUME | THREAD_QUERY_INFORMATION, FALSE,
                                   entry.th32ThreadID);
        if (thread == nullptr) continue;
        if (SuspendThread(thread) != static_cast<DWORD>(-1)) {
            if (GetThreadContext(thread, &context)) found = debugRegistersSet(context);
            ResumeThread(thread);
        }
        CloseHandle(thread);
    }
    CloseHandle(snapshot);
    return found;
}

IntegrityIndicators checkIntegrity() {
    IntegrityIndicators r;
    r.debuggerOnClient = clientBeingDebugged();
    r.hardwareBreakpoints = checkHardwareBreakpoints();
    r.codeModified = ownCodeModified();
    for (const Watched& w : WATCHED) {
        HMODULE module = GetModuleHandleA(w.module);
        if (module == nullptr) continue;
        if (functionHooked(reinterpret_cast<const void*>(GetProcAddress(module, w.function)))) {
            r.apiHooked = true;
            break;
        }
    }
    return r;
}

std::uint32_t selfIntegrityValue() {
    const std::string path = executablePath();
    return path.empty() ? 0 : cachedFileHashes(path).crc32;
}

}  // namespace marvik
