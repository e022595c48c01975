// The native build has no notification area: its stand-in for the shell
// keeps every call it receives, with the record as the call carried it, so
// that what the portable code shows can be read.
#pragma once

#include <vector>

#include "report/tray.h"

namespace marvik {

struct TrayRecord {
    unsigned flags;
    char tip[TRAY_TIP_SIZE];
    char info[TRAY_INFO_SIZE];
    char infoTitle[TRAY_TITLE_SIZE];
    unsigned long infoLevel;
    TrayIconState icon;
};

struct TrayShellCallRecord {
    TrayCall call;
    TrayRecord record;
};

// The shell calls received since the last take, oldest first.
std::vector<TrayShellCallRecord> takeTrayShellCalls();

}  // namespace marvik
