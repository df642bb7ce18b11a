#include "process_control.h"

#include "framework/win_handles.h"
#include "process_tool.h"

namespace kickoff {

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
    {
        CProcessTool tool;
        processId = tool.FindProcessId(processFileName);
    }
    if (processId == 0) return false;
    UniqueHandle process(::OpenProcess(SYNCHRONIZE | PROCESS_TERMINATE, FALSE, processId));
    // A process we may not open counts as asked to end: the run goes on.
    if (process.Valid()) ::TerminateProcess(process.Get(), processId);
    return true;
}

}  // namespace kickoff
