// The native build has no notification area: the tray operations keep what
// would be shown in this record, so the portable code's reports can be read.
#pragma once

#include <cstdint>

#include "report/tray.h"

namespace marvik {

struct TrayText {
    char tip[TRAY_TIP_SIZE];
    char info[TRAY_INFO_SIZE];
    char infoTitle[TRAY_TITLE_SIZE];
    std::uint32_t infoLevel;
    unsigned balloons;  // balloons shown so far
};

TrayText trayTextSnapshot();

}  // namespace marvik
