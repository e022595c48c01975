#include "support/files.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <system_error>

#include "base/exe_path.h"
#include "report/log.h"

namespace marvik::test {

std::string besideExe(const char* name) { return pathBesideExecutable(name); }

// Paths are UTF-8, as the program's are, on every platform.
std::filesystem::path fsPath(const std::string& path) { return std::filesystem::u8path(path); }

std::string readFile(const std::string& path) {
    std::ifstream in(fsPath(path), std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

bool fileExists(const std::string& path) {
    std::error_code ec;
    return std::filesystem::exists(fsPath(path), ec);
}

void writeFile(const std::string& path, const std::string& bytes) {
    std::error_code ec;
    const std::filesystem::path parent = fsPath(path).parent_path();
    if (!parent.empty()) std::filesystem::create_directories(parent, ec);
    std::ofstream out(fsPath(path), std::ios::binary | std::ios::trunc);
    out << bytes;
}

void removePath(const std::string& path) {
    std::error_code ec;
    std::filesystem::remove_all(fsPath(path), ec);
}

std::vector<std::string> logMessages(const std::string& path) {
    std::vector<std::string> out;
    std::istringstream in(readFile(path));
    for (std::string line; std::getline(in, line);) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.size() > 11) out.push_back(line.substr(11));  // after "[hh:mm:ss] "
    }
    return out;
}

std::string freshLog() {
    logShutdown();
    std::string path = besideExe("marvik_ac.log");
    removePath(path);
    logInit();
    return path;
}

}  // namespace marvik::test
