#include "process_snapshot.h"

#include <tlhelp32.h>

#include <cstring>

#include "framework/win_handles.h"

namespace kickoff {
namespace {

using CreateSnapshotFn = HANDLE(WINAPI*)(DWORD, DWORD);
using ProcessWalkFn = BOOL(WINAPI*)(HANDLE, PROCESSENTRY32*);

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
        api.first = Lookup<ProcessWalkFn>(kernel, "Process32First");
        api.next = Lookup<ProcessWalkFn>(kernel, "Process32Next");
        api.available = api.createSnapshot != nullptr && api.first != nullptr && api.next != nullptr;
    }
    g_snapshotApi = api;
    return api.available;
}

bool SnapshotSupported() { return g_snapshotApi.available; }

DWORD FindProcessIdBySnapshot(const std::string& name) {
    if (!g_snapshotApi.available) return 0;
    UniqueHandle snapshot(g_snapshotApi.createSnapshot(TH32CS_SNAPPROCESS, 0));
    if (!snapshot.Valid()) return 0;

    PROCESSENTRY32 entry;
    std::memset(&entry, 0, sizeof entry);
    entry.dwSize = sizeof entry;
    // Entries are matched on the file name alone: the usage count is 0 for
    // every process on NT-family systems, so it cannot tell running ones.
    for (BOOL more = g_snapshotApi.first(snapshot.Get(), &entry); more;
         more = g_snapshotApi.next(snapshot.Get(), &entry)) {
        entry.szExeFile[MAX_PATH - 1] = '\0';
        const char* fileName = std::strrchr(entry.szExeFile, '\\');
        fileName = fileName != nullptr ? fileName + 1 : entry.szExeFile;
        if (::lstrcmpiA(name.c_str(), fileName) == 0) return entry.th32ProcessID;
    }
    return 0;
}

}  // namespace kickoff
