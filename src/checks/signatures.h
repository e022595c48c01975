// The built-in tables of known cheat binaries, shared by the module check
// and the running-process check.
#pragma once

#include <string>
#include <vector>

namespace marvik {

// The label of a file whose MD5 (lowercase hex) is a known cheat binary;
// null when it is not.
const char* knownCheatMD5(const std::string& md5);
// The label of a module file name that matches a cheat module pattern.
const char* cheatModuleName(const std::string& name);
// The label of a process executable name of a known cheat tool.
const char* cheatProcessName(const std::string& name);
// Every label the module check can give (content table, then name table),
// each once, in table order.
std::vector<std::string> moduleCheckLabels();

}  // namespace marvik
