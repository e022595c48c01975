// The native system calls the checks use (NtQueryInformationProcess and
// its kin), looked up in ntdll at run time: they have no import library in
// every toolchain.
#pragma once

#include <windows.h>

#include <vector>

#include "checks/game_handles.h"

namespace marvik {

constexpr ULONG PROCESS_INFO_BASIC = 0;
constexpr ULONG PROCESS_INFO_DEBUG_PORT = 7;
constexpr ULONG PROCESS_INFO_WOW64 = 26;
constexpr ULONG PROCESS_INFO_DEBUG_OBJECT = 0x1E;
constexpr ULONG PROCESS_INFO_DEBUG_FLAGS = 0x1F;

// What ProcessBasicInformation (class 0) gives.
struct ProcessBasicInfo {
    LONG_PTR exitStatus;
    PVOID pebBase;
    ULONG_PTR affinity;
    LONG_PTR basePriority;
    ULONG_PTR processId;
    ULONG_PTR parentId;
};

// A function of ntdll by name; null when this system's ntdll lacks it.
template <class Function>
Function ntdllFunction(const char* name) {
    return reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("ntdll.dll"), name)));
}

// NtQueryInformationProcess: the NTSTATUS of the call; negative on failure,
// also when ntdll lacks it.
LONG queryProcess(HANDLE process, ULONG infoClass, void* out, ULONG size);

// Every open handle of every process, from the system's extended handle
// table; empty when the table cannot be read.
std::vector<SystemHandle> readHandleTable();

}  // namespace marvik
