#include <windows.h>

#include "inventory/guid.h"

namespace marvik {

std::string getPlayerGUID(std::uint32_t pid) {
    HANDLE game = OpenProcess(PROCESS_QUERY_INFORMATION, FALSE, pid);
    if (game == nullptr) return std::string();
    char path[MAX_PATH] = {};
    DWORD size = MAX_PATH;
    BOOL named = QueryFullProcessImageNameA(game, 0, path, &size);
    CloseHandle(game);
    // Without the game's path there is no folder to look in.
    return named ? guidFromImagePath(path) : std::string();
}

}  // namespace marvik
