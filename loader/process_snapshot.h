// Process lookup through toolhelp snapshots, which older NT systems lack.
// Whether they exist is decided once, at program start, by looking the
// functions up in the already loaded KERNEL32.
#pragma once

#include <windows.h>

#include <string>

namespace kickoff {

// Looks the snapshot functions up; call once before anything searches for
// processes. Returns whether the snapshot method is available.
bool DetectSnapshotSupport();
bool SnapshotSupported();

// Finds a running process whose executable file name (without folder) is
// `name` as the file system compares names: ordinal, ignoring case. A name
// with a folder part never matches. Returns its id, or 0.
DWORD FindProcessIdBySnapshot(const std::string& name);

}  // namespace kickoff
