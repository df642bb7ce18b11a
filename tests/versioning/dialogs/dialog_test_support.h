// What the dialog tests share: running a modal dialog on a thread of its
// own with a time-out, waiting for a condition, and recording the help
// requests the dialogs make instead of starting a help viewer.
#ifndef KEEPSHEL_DIALOG_TEST_SUPPORT_H
#define KEEPSHEL_DIALOG_TEST_SUPPORT_H

#include <windows.h>

#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "dialogs/dialogs.h"
#include "ui_driver.h"

namespace kstest {

constexpr DWORD kDialogTimeoutMs = 20000;

// Runs `show` (which opens a modal dialog) on its own thread; answers what
// it returned, or -100 when it had to be dismissed after the time-out.
inline int RunDialog(const std::function<int()>& show, DWORD timeoutMs = kDialogTimeoutMs) {
    int result = -100;
    bool inTime = CallWithin(timeoutMs, [&] { result = show(); });
    return inTime ? result : -100;
}

// Polls `condition` every 10 ms for at most `timeoutMs`.
inline bool WaitFor(const std::function<bool()>& condition, DWORD timeoutMs = 5000) {
    DWORD start = GetTickCount();
    while (!condition()) {
        if (GetTickCount() - start >= timeoutMs) return false;
        Sleep(10);
    }
    return true;
}

// The control that has the keyboard focus in `window`'s thread.
inline HWND FocusOf(HWND window) {
    GUITHREADINFO info{};
    info.cbSize = sizeof info;
    if (!GetGUIThreadInfo(GetWindowThreadProcessId(window, nullptr), &info)) return nullptr;
    return info.hwndFocus;
}

inline std::string TextOfWindow(HWND window) {
    char text[1024] = "";
    GetWindowTextA(window, text, sizeof text);
    return text;
}

struct HelpRequest {
    HWND window;
    std::string helpFile;
    UINT command;
    ULONG_PTR data;
};

// Installs a help hook for its lifetime and keeps every request.
class HelpRequests {
public:
    HelpRequests() {
        Current() = this;
        SetHelpRequestHook(&Record);
    }
    ~HelpRequests() {
        SetHelpRequestHook(nullptr);
        Current() = nullptr;
    }
    HelpRequests(const HelpRequests&) = delete;
    HelpRequests& operator=(const HelpRequests&) = delete;

    std::vector<HelpRequest> Seen() {
        std::lock_guard<std::mutex> hold(lock_);
        return seen_;
    }
    bool WaitForCount(size_t count, DWORD timeoutMs = 5000) {
        return WaitFor([&] { return Seen().size() >= count; }, timeoutMs);
    }

private:
    static HelpRequests*& Current() {
        static HelpRequests* current = nullptr;
        return current;
    }
    static BOOL Record(HWND window, const char* helpFile, UINT command, ULONG_PTR data) {
        HelpRequests* self = Current();
        if (!self) return FALSE;
        std::lock_guard<std::mutex> hold(self->lock_);
        self->seen_.push_back({window, helpFile ? helpFile : "", command, data});
        return TRUE;
    }

    std::mutex lock_;
    std::vector<HelpRequest> seen_;
};

}  // namespace kstest

#endif
