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

// How many characters of a program's file name the system keeps in a process
// instance name before it drops ".exe": longer names arrive cut to this
// length, extension and all ("aspnet_admin.exe" as "aspnet_admin.ex").
constexpr std::size_t kCutInstanceNameLength = 15;

// Whether a process instance name stands for the program file `fileName`
// (no folder): the file name itself, the file name without ".exe", or a cut
// name of exactly kCutInstanceNameLength characters that the file name
// begins with. Compared as the file system compares names.
bool InstanceNameMatches(const std::wstring& instanceName, const std::wstring& fileName);

// Walks the first object of a performance data block for an instance that
// InstanceNameMatches `fileName` and whose process id is not zero. Returns
// that id, or 0 when nothing matches or the block is malformed.
DWORD FindProcessInPerfBlock(const BYTE* block, std::size_t size, DWORD idCounterIndex,
                             const std::wstring& fileName);

// What instance names are compared with: the file name without its folder
// (C:\APPS\editor.exe gives editor.exe).
std::wstring PerfLookupName(const std::string& fileName);

// The whole lookup against the live registry; 0 when not found.
DWORD FindProcessIdByPerfData(const std::string& fileName);

}  // namespace kickoff
