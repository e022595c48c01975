#include "session/discovery.h"

#include "checks/text_match.h"

namespace marvik {

bool isGameExeName(const char* exeName) { return equalsIgnoreCase(exeName, GAME_EXE_NAME); }

}  // namespace marvik
