#include "process_snapshot.h"

#include <tlhelp32.h>

#include <cstring>

#include "file_names.h"
#include "framework/win_handles.h"

namespace kickoff {
namespace {

using CreateSnapshotFn = HANDLE(WINAPI*)(DWORD, DWORD);
using ProcessWalkFn = BOOL(WINAPI*)(HANDLE, PROCESSENTRY32W*);

struct SnapshotApi {
    bool available = false;
    CreateSnapshotFn createSnapshot = nullptr;
    ProcessWalkFn first = nullptr;
    ProcessWalkFn next = nullptr;
};

SnapshotApi g_snapshotApi;

template <typename Fn>
Fn Lookup(HMODULE module, const char* name) {
    return reinterpret_cast<Fn>(reinterpret_cast<void*>(::GetProcAddress(module, name)));
}

}  // namespace

bool DetectSnapshotSupport() {
    SnapshotApi api;
    // Looked up, not loaded: KERNEL32 is in every process already.
    if (HMODULE kernel = ::GetModuleHandleA("KERNEL32.DLL")) {
        api.createSnapshot = Lookup<CreateSnapshotFn>(kernel, "CreateToolhelp32Snapshot");
        // The UTF-16 walk: the ANSI one converts names with best-fit
        // mappings, which turn a letter the code page lacks into a plain
        // one (s with a circumflex into s), so another program's name could
        // read as the one in the script.
        api.first = Lookup<ProcessWalkFn>(kernel, "Process32FirstW");
        api.next = Lookup<ProcessWalkFn>(kernel, "Process32NextW");
        api.available = api.createSnapshot != nullptr && api.first != nullptr && api.next != nullptr;
    }
    g_snapshotApi = api;
    return api.available;
}

bool SnapshotSupported() { return g_snapshotApi.available; }

DWORD FindProcessIdBySnapshot(const std::string& name) {
    if (!g_snapshotApi.available) return 0;
    const std::wstring lookFor = WideFromAnsi(name);
    if (lookFor.empty()) return 0;
    UniqueHandle snapshot(g_snapshotApi.createSnapshot(TH32CS_SNAPPROCESS, 0));
    if (!snapshot.Valid()) return 0;

    PROCESSENTRY32W entry;
    std::memset(&entry, 0, sizeof entry);
    entry.dwSize = sizeof entry;
    // Entries are matched on the file name alone: the usage count is 0 for
    // every process on NT-family systems, so it cannot tell running ones.
    for (BOOL more = g_snapshotApi.first(snapshot.Get(), &entry); more;
         more = g_snapshotApi.next(snapshot.Get(), &entry)) {
        entry.szExeFile[MAX_PATH - 1] = L'\0';
        if (SameFileName(lookFor, FileNamePart(entry.szExeFile))) return entry.th32ProcessID;
    }
    return 0;
}

}  // namespace kickoff
