#include "process_tool.h"

#include <objbase.h>
#include <shlobj.h>
#include <shobjidl.h>

#include <cstring>

#include "framework/win_handles.h"
#include "perf_data.h"
#include "process_snapshot.h"

namespace kickoff {

CProcessTool::CProcessTool() {
    // S_FALSE (already initialised on this thread) must be paired too.
    comInitialized_ = SUCCEEDED(::CoInitialize(nullptr));
}

CProcessTool::~CProcessTool() {
    if (comInitialized_) ::CoUninitialize();
}

bool CProcessTool::ResolveShortcut(const std::string& name, std::string& target) {
    ComRef<IShellLinkA> link;
    if (FAILED(::CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkA,
                                  link.PutVoid()))) {
        return false;
    }
    ComRef<IPersistFile> file;
    if (FAILED(link->QueryInterface(IID_IPersistFile, file.PutVoid()))) return false;

    // A name that does not fit a path buffer cannot be a shortcut we load.
    wchar_t wideName[MAX_PATH];
    if (::MultiByteToWideChar(CP_ACP, 0, name.c_str(), -1, wideName, MAX_PATH) == 0) return false;
    if (FAILED(file->Load(wideName, 0))) return false;
    if (FAILED(link->Resolve(nullptr, SLR_NO_UI | SLR_ANY_MATCH))) return false;

    char path[MAX_PATH] = {};
    if (FAILED(link->GetPath(path, MAX_PATH, nullptr, SLGP_SHORTPATH))) return false;
    path[MAX_PATH - 1] = '\0';
    target = path;

    if (std::strchr(path, '%') != nullptr) {
        char expanded[MAX_PATH] = {};
        const DWORD needed = ::ExpandEnvironmentStringsA(path, expanded, MAX_PATH);
        // An expansion that does not fit is left unexpanded rather than cut.
        if (needed != 0 && needed <= MAX_PATH) target = expanded;
    }
    return true;
}

DWORD CProcessTool::FindProcessId(const std::string& name, std::string* lookedFor) {
    std::string lookFor = name;
    std::string target;
    if (ResolveShortcut(name, target)) lookFor = target;
    if (lookedFor != nullptr) *lookedFor = lookFor;
    return SnapshotSupported() ? FindProcessIdBySnapshot(lookFor) : FindProcessIdByPerfData(lookFor);
}

}  // namespace kickoff
