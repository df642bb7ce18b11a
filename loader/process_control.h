// The registry and process tests behind [PrevAppDetect], and closing what
// they found.
#pragma once

#include <windows.h>

#include <string>

#include "prev_app_rule.h"

namespace kickoff {

// True when the key opens for reading; it is closed again at once.
bool KeyExists(HKEY root, const std::string& keyPath);

// True when a process with that file name runs.
bool ProcessRunning(const std::string& processFileName);

// Whether a parsed [PrevAppDetect] rule lists its application: the key must
// exist, and for mode '0' the process must run too.
bool RuleDetectsApplication(const PrevAppRule& rule);

// Looks the process up anew and asks the system to end it (exit code = its
// id), as TerminateIfStillNamed does. No wait. True when a process was found
// and termination was requested.
bool TerminateByName(const std::string& processFileName);

// Ends the process `processId` only if its program file is still called
// `fileName` (the part after any folder is compared, as the file system
// compares names): a process id found earlier may since have passed to
// another program. True when termination was requested.
bool TerminateIfStillNamed(DWORD processId, const std::string& fileName);

}  // namespace kickoff
