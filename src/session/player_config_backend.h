// The directory listing behind the profile search, one file per platform.
#pragma once

#include <string>
#include <vector>

namespace marvik {

// Names of the subfolders of root\players\profiles other than "." and "..",
// in listing order; empty when the folder cannot be listed (on Windows also
// when its listing pattern does not fit in MARVIK_MAX_PATH).
std::vector<std::string> listProfileDirs(const std::string& root);

}  // namespace marvik
