// Starting a program through its file association, and telling the user
// when that fails.
#include <windows.h>
#include <shellapi.h>

#include <vector>

#include "framework/app.h"
#include "framework/resource_text.h"
#include "framework/win_handles.h"
#include "process_tool.h"
#include "resources/resource_ids.h"

namespace kickoff {
namespace {

// FindExecutableA reports its reason in its result and may leave the thread's
// last error untouched; map the result so that the box never explains a
// failure with "The operation completed successfully".
DWORD FindExecutableError(INT_PTR result) {
    const DWORD lastError = ::GetLastError();
    if (lastError != ERROR_SUCCESS) return lastError;
    switch (result) {
        case SE_ERR_FNF: return ERROR_FILE_NOT_FOUND;
        case SE_ERR_PNF: return ERROR_PATH_NOT_FOUND;
        case SE_ERR_ACCESSDENIED: return ERROR_ACCESS_DENIED;
        case SE_ERR_OOM: return ERROR_NOT_ENOUGH_MEMORY;
        case SE_ERR_NOASSOC: return ERROR_NO_ASSOCIATION;
        default: return ERROR_FILE_NOT_FOUND;
    }
}

// A buffer handed to the system with LocalFree as its release.
struct LocalText {
    char* text = nullptr;
    ~LocalText() {
        if (text != nullptr) ::LocalFree(text);
    }
};

}  // namespace

HANDLE CProcessTool::LaunchProgram(const std::string& program, const std::string& arguments,
                                   const std::string& workingDir) {
    std::string target = program;
    std::string shortcutTarget;
    if (ResolveShortcut(program, shortcutTarget)) target = shortcutTarget;

    // The association lookup works on path-sized buffers; longer names cannot
    // name a file there.
    if (target.size() >= MAX_PATH || workingDir.size() >= MAX_PATH) {
        ReportError(ERROR_FILENAME_EXCED_RANGE, program);
        return nullptr;
    }
    char executable[MAX_PATH] = {};
    ::SetLastError(ERROR_SUCCESS);
    const INT_PTR found = reinterpret_cast<INT_PTR>(
        ::FindExecutableA(target.c_str(), workingDir.empty() ? nullptr : workingDir.c_str(), executable));
    if (found <= 32) {
        ReportError(FindExecutableError(found), program);
        return nullptr;
    }
    executable[MAX_PATH - 1] = '\0';

    std::string commandLine = target;
    if (!arguments.empty()) commandLine += ' ' + arguments;
    std::vector<char> writableCommandLine(commandLine.begin(), commandLine.end());
    writableCommandLine.push_back('\0');

    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION started = {};
    if (!::CreateProcessA(executable, writableCommandLine.data(), nullptr, nullptr, TRUE, 0, nullptr,
                          workingDir.empty() ? nullptr : workingDir.c_str(), &startup, &started)) {
        ReportError(::GetLastError(), program);
        return nullptr;
    }
    ::CloseHandle(started.hThread);
    return started.hProcess;
}

std::string CProcessTool::SystemErrorText(DWORD errorCode) {
    // Inserts are ignored: system texts may contain %1 and we pass no
    // arguments for them.
    LocalText message;
    const DWORD length = ::FormatMessageA(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
        errorCode, 0, reinterpret_cast<char*>(&message.text), 0, nullptr);
    if (length == 0 || message.text == nullptr) return LoadResString(IDS_UNKNOWN_ERROR);
    std::string text(message.text, length);
    // Drop the line end the system puts after its text.
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
    return text;
}

void CProcessTool::ReportError(DWORD errorCode, const std::string& subject) {
    const std::string text = subject + "\r\n" + SystemErrorText(errorCode);
    ::MessageBoxA(nullptr, text.c_str(), ApplicationName().c_str(), MB_OK | MB_ICONSTOP);
}

}  // namespace kickoff
