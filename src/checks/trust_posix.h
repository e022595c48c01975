// The native build's signatures: recorded answers that tests set up, read by
// moduleTrust through its usual calls, so its decision and its cache run
// natively. Nothing here exists in the Windows build.
#pragma once

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "checks/trust.h"

namespace marvik {

struct ScriptedSignatures {
    SystemFolders folders;
    std::map<std::string, SignatureCheck> embedded;  // by path; a path not listed is unsigned
    std::map<std::string, SignatureCheck> catalog;
    std::vector<std::string> looks;  // "embedded <path>" or "catalog <path>", one per look, in order
    int lookMs = 0;                  // how long each look takes, as a big file's hash does
};

// Runs edit on the script under its lock; moduleTrust reads it meanwhile.
void editScriptedSignatures(const std::function<void(ScriptedSignatures&)>& edit);
ScriptedSignatures scriptedSignatures();

}  // namespace marvik
