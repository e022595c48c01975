#include "session/discovery.h"

namespace marvik {

static char asciiLower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool isGameExeName(const char* exeName) {
    const char* want = GAME_EXE_NAME;
    for (; *exeName != '\0' && *want != '\0'; ++exeName, ++want)
        if (asciiLower(*exeName) != *want) return false;
    return *exeName == '\0' && *want == '\0';
}

}  // namespace marvik
