// Finding a process in the system's performance data. The walks work on
// memory blocks only, so they can be checked with blocks built by hand;
// every offset and length read from a block is checked against its size.
#pragma once

#include <windows.h>

#include <cstddef>
#include <string>

namespace kickoff {

struct ProcessCounterNames {
    std::string objectIndexText;  // the index of the "Process" object, as text
    DWORD idCounterIndex = 0;     // the index of its "ID Process" counter
};

// Walks the "Counters" value (pairs of zero-terminated index and name
// strings). Later matches replace earlier ones. Returns false unless both
// the object and the counter were named.
bool FindProcessCounterNames(const char* counters, std::size_t size, ProcessCounterNames& names);

// Walks the first object of a performance data block for an instance whose
// name is a prefix of `upperBaseName` (an upper-cased file name without
// folder) and whose process id is not zero. Returns that id, or 0 when
// nothing matches or the block is malformed.
DWORD FindProcessInPerfBlock(const BYTE* block, std::size_t size, DWORD idCounterIndex,
                             const std::string& upperBaseName);

// What instance names are compared with: the file name without its folder,
// upper-cased (C:\APPS\editor.exe gives EDITOR.EXE).
std::string PerfLookupName(const std::string& fileName);

// The whole lookup against the live registry; 0 when not found.
DWORD FindProcessIdByPerfData(const std::string& fileName);

}  // namespace kickoff
