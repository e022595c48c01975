// Real files beside the test executable, where the program keeps its own.
#pragma once

#include <string>
#include <vector>

namespace marvik::test {

std::string besideExe(const char* name);
std::string readFile(const std::string& path);  // empty when missing
bool fileExists(const std::string& path);
void writeFile(const std::string& path, const std::string& bytes);
// Removes a file or a folder with its contents; no error when missing.
void removePath(const std::string& path);
// The lines of a log file without their "[hh:mm:ss] " prefix and line end.
std::vector<std::string> logMessages(const std::string& path);

// The log as at process start (marvik_ac.log removed, taking lines); its path. Tests reading the log start so.
std::string freshLog();

}  // namespace marvik::test
