// Finding the player's config_mp.cfg below the game folders and sending it.
#pragma once

#include <string>
#include <vector>

#include "inventory/module_info.h"

namespace marvik {

class UDPClient;

// The fixed install folders searched after LOCALAPPDATA's.
extern const char* const CONFIG_FIXED_ROOTS[4];
constexpr int CONFIG_DERIVED_ROOTS = 5;

// LOCALAPPDATA\CallofDuty4MW (when localAppData is not null), the four fixed
// folders, then up to five folders cut from the first module path that is
// not empty: the executable's folder, its parent, and so on.
std::vector<std::string> buildConfigRoots(const char* localAppData, const std::vector<ModuleInfo>& modules);

// The candidate files of one root, in the order they are tried;
// profileDirs are the subfolders of root\players\profiles in listing order.
std::vector<std::string> configCandidates(const std::string& root, const std::string& playerName,
                                          const std::vector<std::string>& profileDirs);

// Searches the roots (playerName's profile first) and uploads the first
// file that opens, logging each step with the tag CONFIG; a candidate (or a
// profile listing) whose path does not fit in MARVIK_MAX_PATH is skipped.
// Never fails the session.
void uploadPlayerConfig(UDPClient& client, const std::vector<ModuleInfo>& modules, const std::string& playerName);

}  // namespace marvik
