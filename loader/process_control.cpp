#include "process_control.h"

#include <vector>

#include "file_names.h"
#include "framework/win_handles.h"
#include "process_tool.h"
#include "vista_api.h"

namespace kickoff {
namespace {

// Whether the program file of an open process has the file name of `path`.
// No answer from the system counts as another name.
bool ImageFileNameIs(HANDLE process, const std::string& path) {
    const std::wstring fileName = FileNamePart(WideFromAnsi(path));
    std::vector<wchar_t> image(32768);
    DWORD length = static_cast<DWORD>(image.size());
    if (fileName.empty() || !::QueryFullProcessImageNameW(process, 0, image.data(), &length) || length == 0 ||
        length >= image.size()) {
        return false;
    }
    return SameFileName(FileNamePart(std::wstring(image.data(), length)), fileName);
}

}  // namespace

bool KeyExists(HKEY root, const std::string& keyPath) {
    RegKey key;
    return key.Open(root, keyPath.c_str(), KEY_READ) == ERROR_SUCCESS;
}

bool ProcessRunning(const std::string& processFileName) {
    CProcessTool tool;
    return tool.FindProcessId(processFileName) != 0;
}

bool RuleDetectsApplication(const PrevAppRule& rule) {
    if (!KeyExists(rule.root, rule.keyPath)) return false;
    return !rule.RequiresRunningProcess() || ProcessRunning(rule.processFileName);
}

bool TerminateByName(const std::string& processFileName) {
    DWORD processId = 0;
    std::string lookedFor;
    {
        CProcessTool tool;
        processId = tool.FindProcessId(processFileName, &lookedFor);
    }
    if (processId == 0) return false;
    return TerminateIfStillNamed(processId, lookedFor);
}

bool TerminateIfStillNamed(DWORD processId, const std::string& fileName) {
    UniqueHandle process(
        ::OpenProcess(SYNCHRONIZE | PROCESS_TERMINATE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, processId));
    // A process we may not open is left as it is: the run goes on.
    if (!process.Valid()) return false;
    // The open handle holds this process, so its id cannot pass to another
    // one between the check and the termination.
    if (!ImageFileNameIs(process.Get(), fileName)) return false;
    ::TerminateProcess(process.Get(), processId);
    return true;
}

}  // namespace kickoff
