#include "launch.h"

#include <windows.h>

#include <new>
#include <vector>

#include "framework/win_handles.h"
#include "framework/worker_thread.h"
#include "process_tool.h"

namespace kickoff {
namespace {

// Handed to the worker thread, which owns and frees it.
struct LaunchRequest {
    std::string commandLine;
    HANDLE done;  // manual-reset; signalled by the worker when it is finished
};

DWORD RunAndWait(void* parameter) {
    LaunchRequest* request = static_cast<LaunchRequest*>(parameter);
    std::vector<char> commandLine(request->commandLine.begin(), request->commandLine.end());
    commandLine.push_back('\0');

    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_SHOWDEFAULT;
    PROCESS_INFORMATION started = {};
    if (::CreateProcessA(nullptr, commandLine.data(), nullptr, nullptr, FALSE, NORMAL_PRIORITY_CLASS, nullptr,
                         nullptr, &startup, &started)) {
        UniqueHandle process(started.hProcess);
        UniqueHandle thread(started.hThread);
        const HANDLE waitFor[] = {request->done, process.Get()};
        ::WaitForMultipleObjects(2, waitFor, FALSE, INFINITE);
    }
    ::SetEvent(request->done);
    delete request;
    return 0;
}

}  // namespace

bool LaunchAndWait(const std::string& commandLine) {
    UniqueHandle done(::CreateEventA(nullptr, TRUE, FALSE, nullptr));
    if (!done.Valid()) return false;
    auto* request = new (std::nothrow) LaunchRequest{commandLine, done.Get()};
    if (request == nullptr) return false;

    UniqueHandle worker = StartWorkerThread(RunAndWait, request);
    if (!worker.Valid()) {
        delete request;
        return false;
    }
    ::WaitForSingleObject(done.Get(), INFINITE);
    // The worker still touches the request after signalling; let it finish
    // before the event it refers to is closed.
    ::WaitForSingleObject(worker.Get(), INFINITE);
    return true;
}

bool LaunchDetached(const std::string& command) {
    CProcessTool tool;
    std::string program, workingDir, arguments;
    if (tool.ParseCommand(command, program, workingDir, arguments)) {
        UniqueHandle process(tool.LaunchProgram(program, arguments, workingDir));
    }
    return true;
}

}  // namespace kickoff
