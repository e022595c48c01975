#include <windows.h>

#include "report/log_backend.h"

namespace marvik {

CRITICAL_SECTION g_logCS;

void logLockCreate() { InitializeCriticalSection(&g_logCS); }
void logLockDelete() { DeleteCriticalSection(&g_logCS); }
void logLockEnter() { EnterCriticalSection(&g_logCS); }
void logLockLeave() { LeaveCriticalSection(&g_logCS); }

LogClock logLocalTime() {
    SYSTEMTIME st;
    GetLocalTime(&st);
    return LogClock{st.wHour, st.wMinute, st.wSecond};
}

}  // namespace marvik
