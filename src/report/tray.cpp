#include "report/tray.h"

#include <cstdio>
#include <cstring>

namespace marvik {

void formatTrayTip(char (&tip)[TRAY_TIP_SIZE], const char* status) {
    std::snprintf(tip, sizeof tip, "%s%s", TRAY_TIP_PREFIX, status);
}

void fillBalloonTitle(char (&title)[TRAY_TITLE_SIZE]) {
    std::memset(title, 0, sizeof title);
    std::memcpy(title, TRAY_BALLOON_TITLE, std::strlen(TRAY_BALLOON_TITLE));
}

void fillBalloonText(char (&info)[TRAY_INFO_SIZE], const char* text) {
    // strncpy zero-fills the rest of the 255 bytes; the last one stays NUL.
    std::strncpy(info, text, sizeof info - 1);
    info[sizeof info - 1] = '\0';
}

}  // namespace marvik
