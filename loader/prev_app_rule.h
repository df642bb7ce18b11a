// One [PrevAppDetect] entry taken apart.
#pragma once

#include <windows.h>

#include <string>

namespace kickoff {

struct PrevAppRule {
    // '0': listed only when the key exists and the process runs;
    // any other character: listed as soon as the key exists.
    char mode = 0;
    HKEY root = nullptr;
    std::string keyPath;
    std::string processFileName;
    std::string displayName;

    bool RequiresRunningProcess() const { return mode == '0'; }
};

// Parses an entry of the form
//   <mode><any char><ROOT>\<key path>,[ignored fields,]<process file>,<display name>
// Returns false for an entry that can name nothing: too short, an unknown
// root, no backslash after the root, an empty key path, or no field for the
// process file name.
bool ParsePrevAppRule(const std::string& entry, PrevAppRule& rule);

// Maps the four accepted root names (case-sensitive) to their keys.
HKEY RootKeyFromName(const std::string& name);

}  // namespace kickoff
