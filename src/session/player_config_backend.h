// The directory listing behind the profile search, one file per platform.
#pragma once

#include <string>
#include <vector>

namespace marvik {

// Names of the subfolders of root\players\profiles other than "." and "..",
// in listing order; empty when the folder cannot be listed.
std::vector<std::string> listProfileDirs(const std::string& root);

}  // namespace marvik
