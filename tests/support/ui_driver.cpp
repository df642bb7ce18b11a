#include "ui_driver.h"

#include <commctrl.h>

#include <algorithm>
#include <cstring>

namespace kstest {

namespace {

std::string TextOf(HWND window) {
    if (!window) return {};
    // WM_GETTEXT works across processes; a timeout keeps a hung window
    // from hanging the driver.
    DWORD_PTR length = 0;
    if (!SendMessageTimeoutA(window, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, 2000, &length)) return {};
    std::string text(length + 1, '\0');
    DWORD_PTR copied = 0;
    if (!SendMessageTimeoutA(window, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(&text[0]), SMTO_ABORTIFHUNG,
                             2000, &copied))
        return {};
    text.resize(copied);
    return text;
}

std::string ClassOf(HWND window) {
    char name[256] = "";
    GetClassNameA(window, name, sizeof name);
    return name;
}

struct FindRequest {
    const char* className;
    const char* title;
    DWORD processId;  // 0: any
    HWND found;
};

BOOL CALLBACK MatchTopLevel(HWND window, LPARAM param) {
    auto* request = reinterpret_cast<FindRequest*>(param);
    if (!IsWindowVisible(window)) return TRUE;
    if (request->processId) {
        DWORD owner = 0;
        GetWindowThreadProcessId(window, &owner);
        if (owner != request->processId) return TRUE;
    }
    if (request->className && ClassOf(window) != request->className) return TRUE;
    if (request->title && TextOf(window) != request->title) return TRUE;
    request->found = window;
    return FALSE;
}

struct IconKind {
    LPCSTR resource;
    UINT style;
};
const IconKind kIcons[] = {
    {IDI_HAND, MB_ICONSTOP},
    {IDI_QUESTION, MB_ICONQUESTION},
    {IDI_EXCLAMATION, MB_ICONWARNING},
    {IDI_ASTERISK, MB_ICONINFORMATION},
};

// The mask bits of an icon, to recognise a system icon across processes,
// where handles differ.
std::vector<BYTE> IconMask(HICON icon) {
    ICONINFO info{};
    if (!GetIconInfo(icon, &info)) return {};
    std::vector<BYTE> bits;
    BITMAP bitmap{};
    if (info.hbmMask && GetObjectA(info.hbmMask, sizeof bitmap, &bitmap)) {
        bits.resize(static_cast<size_t>(bitmap.bmWidthBytes) * bitmap.bmHeight);
        if (GetBitmapBits(info.hbmMask, static_cast<LONG>(bits.size()), bits.data()) <= 0) bits.clear();
    }
    if (info.hbmMask) DeleteObject(info.hbmMask);
    if (info.hbmColor) DeleteObject(info.hbmColor);
    return bits;
}

UINT IconStyle(HICON icon) {
    if (!icon) return 0;
    for (const IconKind& kind : kIcons) {
        if (LoadIconA(nullptr, kind.resource) == icon) return kind.style;
    }
    std::vector<BYTE> mask = IconMask(icon);
    if (mask.empty()) return 0;
    for (const IconKind& kind : kIcons) {
        if (IconMask(LoadIconA(nullptr, kind.resource)) == mask) return kind.style;
    }
    return 0;
}

}  // namespace

std::string Window::ClassName() const { return ClassOf(handle_); }
std::string Window::Title() const { return TextOf(handle_); }
DWORD Window::Style() const { return static_cast<DWORD>(GetWindowLongPtrA(handle_, GWL_STYLE)); }
HWND Window::Control(int id) const { return GetDlgItem(handle_, id); }
std::string Window::Text(int id) const { return TextOf(Control(id)); }

void Window::SetText(int id, const std::string& text) const {
    DWORD_PTR result = 0;
    SendMessageTimeoutA(Control(id), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()), SMTO_ABORTIFHUNG, 2000,
                        &result);
}

bool Window::IsChecked(int id) const {
    DWORD_PTR state = 0;
    SendMessageTimeoutA(Control(id), BM_GETCHECK, 0, 0, SMTO_ABORTIFHUNG, 2000, &state);
    return state == BST_CHECKED;
}

void Window::SetChecked(int id, bool checked) const {
    DWORD_PTR result = 0;
    SendMessageTimeoutA(Control(id), BM_SETCHECK, checked ? BST_CHECKED : BST_UNCHECKED, 0, SMTO_ABORTIFHUNG, 2000,
                        &result);
}

bool Window::IsEnabled(int id) const {
    HWND control = Control(id);
    return control && IsWindowEnabled(control);
}

bool Window::IsVisible(int id) const {
    HWND control = Control(id);
    return control && IsWindowVisible(control);
}

std::vector<std::string> Window::ListBoxItems(int id) const {
    // The wide messages, converted here: Wine answers LB_GETTEXT of another
    // process's list box in UTF-16 even when asked for ANSI.
    std::vector<std::string> items;
    HWND list = Control(id);
    DWORD_PTR count = 0;
    if (!list || !SendMessageTimeoutW(list, LB_GETCOUNT, 0, 0, SMTO_ABORTIFHUNG, 2000, &count)) return items;
    for (DWORD_PTR i = 0; i < count && static_cast<LONG_PTR>(count) > 0; ++i) {
        DWORD_PTR length = 0;
        SendMessageTimeoutW(list, LB_GETTEXTLEN, i, 0, SMTO_ABORTIFHUNG, 2000, &length);
        std::wstring wide(length + 1, L'\0');
        DWORD_PTR copied = 0;
        SendMessageTimeoutW(list, LB_GETTEXT, i, reinterpret_cast<LPARAM>(&wide[0]), SMTO_ABORTIFHUNG, 2000, &copied);
        wide.resize(static_cast<LONG_PTR>(copied) > 0 ? copied : 0);
        std::string item(wide.size() * 2 + 1, '\0');
        int bytes = WideCharToMultiByte(CP_ACP, 0, wide.c_str(), static_cast<int>(wide.size()), &item[0],
                                        static_cast<int>(item.size()), nullptr, nullptr);
        item.resize(bytes > 0 ? bytes : 0);
        items.push_back(item);
    }
    return items;
}

void Window::Press(int id) const {
    PostMessageA(handle_, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(Control(id)));
}

void Window::Close() const { PostMessageA(handle_, WM_CLOSE, 0, 0); }

MessageBoxInfo Window::ReadMessageBox() const {
    MessageBoxInfo info;
    info.caption = Title();
    for (HWND child = GetWindow(handle_, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
        std::string cls = ClassOf(child);
        LONG style = static_cast<LONG>(GetWindowLongPtrA(child, GWL_STYLE));
        int id = GetDlgCtrlID(child);
        if (_stricmp(cls.c_str(), "Static") == 0) {
            if ((style & SS_TYPEMASK) == SS_ICON) {
                DWORD_PTR icon = 0;
                SendMessageTimeoutA(child, STM_GETICON, 0, 0, SMTO_ABORTIFHUNG, 2000, &icon);
                info.icon = IconStyle(reinterpret_cast<HICON>(icon));
            } else if (id == 0xFFFF || info.text.empty()) {
                std::string text = TextOf(child);
                if (!text.empty()) info.text = text;
            }
        } else if (_stricmp(cls.c_str(), "Button") == 0 && IsWindowVisible(child)) {
            info.buttons.push_back(id);
            info.buttonTexts.push_back(TextOf(child));
        }
    }
    return info;
}

int SelectListViewRows(HWND list, int column, const std::vector<std::string>& texts) {
    int rows = static_cast<int>(SendMessageA(list, LVM_GETITEMCOUNT, 0, 0));
    int selected = 0;
    for (int row = 0; row < rows; ++row) {
        char text[260] = "";
        LVITEMA item{};
        item.iSubItem = column;
        item.pszText = text;
        item.cchTextMax = sizeof text;
        SendMessageA(list, LVM_GETITEMTEXTA, row, reinterpret_cast<LPARAM>(&item));
        bool wanted = std::find(texts.begin(), texts.end(), text) != texts.end();
        LVITEMA state{};
        state.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
        state.state = wanted ? (selected == 0 ? LVIS_SELECTED | LVIS_FOCUSED : LVIS_SELECTED) : 0;
        SendMessageA(list, LVM_SETITEMSTATE, row, reinterpret_cast<LPARAM>(&state));
        if (wanted) ++selected;
    }
    return selected;
}

Window FindTopLevel(const char* className, const char* title) {
    FindRequest request{className, title, 0, nullptr};
    EnumWindows(MatchTopLevel, reinterpret_cast<LPARAM>(&request));
    return Window(request.found);
}

Window WaitForWindow(const char* className, const char* title, DWORD timeoutMs) {
    DWORD start = GetTickCount();
    for (;;) {
        Window window = FindTopLevel(className, title);
        if (window) return window;
        if (GetTickCount() - start >= timeoutMs) return Window();
        Sleep(20);
    }
}

bool WaitUntilGone(HWND window, DWORD timeoutMs) {
    DWORD start = GetTickCount();
    while (IsWindow(window) && IsWindowVisible(window)) {
        if (GetTickCount() - start >= timeoutMs) return false;
        Sleep(20);
    }
    return true;
}

int DismissDialogsOfThisProcess() {
    int dismissed = 0;
    for (int round = 0; round < 20; ++round) {
        FindRequest request{"#32770", nullptr, GetCurrentProcessId(), nullptr};
        EnumWindows(MatchTopLevel, reinterpret_cast<LPARAM>(&request));
        if (!request.found) break;
        Window dialog(request.found);
        dialog.Cancel();
        if (!WaitUntilGone(request.found, 1000)) {
            dialog.Close();
            if (!WaitUntilGone(request.found, 1000)) ShowWindow(request.found, SW_HIDE);
        }
        ++dismissed;
    }
    return dismissed;
}

namespace {
DWORD WINAPI RunCall(void* call) {
    (*static_cast<const std::function<void()>*>(call))();
    return 0;
}
}  // namespace

bool CallWithin(DWORD timeoutMs, const std::function<void()>& call) {
    HANDLE thread = CreateThread(nullptr, 0, RunCall, const_cast<std::function<void()>*>(&call), 0, nullptr);
    if (!thread) return false;
    bool inTime = WaitForSingleObject(thread, timeoutMs) == WAIT_OBJECT_0;
    if (!inTime) {
        DismissDialogsOfThisProcess();
        WaitForSingleObject(thread, 10000);
    }
    CloseHandle(thread);
    return inTime;
}

struct UiDriver::Step {
    std::string className;  // empty: any
    std::string title;
    bool anyTitle = false;
    bool messageBox = false;
    Action action;
    DWORD timeoutMs = kDefaultWaitMs;
};

UiDriver::UiDriver() { InitializeCriticalSection(&lock_); }

UiDriver::~UiDriver() {
    Finish();
    for (Step* step : steps_) delete step;
    DeleteCriticalSection(&lock_);
}

UiDriver& UiDriver::OnWindow(const char* className, const char* title, Action action, DWORD timeoutMs) {
    auto* step = new Step;
    step->className = className ? className : "";
    step->anyTitle = title == nullptr;
    step->title = title ? title : "";
    step->action = std::move(action);
    step->timeoutMs = timeoutMs;
    EnterCriticalSection(&lock_);
    steps_.push_back(step);
    LeaveCriticalSection(&lock_);
    Start();
    return *this;
}

UiDriver& UiDriver::OnDialog(const char* title, Action action, DWORD timeoutMs) {
    return OnWindow("#32770", title, std::move(action), timeoutMs);
}

UiDriver& UiDriver::OnMessageBox(const char* caption, Action action, DWORD timeoutMs) {
    OnWindow("#32770", caption, std::move(action), timeoutMs);
    EnterCriticalSection(&lock_);
    steps_.back()->messageBox = true;
    LeaveCriticalSection(&lock_);
    return *this;
}

void UiDriver::Start() {
    if (!thread_) thread_ = CreateThread(nullptr, 0, ThreadMain, this, 0, nullptr);
}

DWORD WINAPI UiDriver::ThreadMain(void* self) {
    static_cast<UiDriver*>(self)->Run();
    return 0;
}

void UiDriver::Run() {
    for (;;) {
        Step* step = nullptr;
        EnterCriticalSection(&lock_);
        if (next_ < steps_.size()) step = steps_[next_++];
        bool done = finished_;
        LeaveCriticalSection(&lock_);
        if (!step) {
            if (done) return;
            Sleep(10);  // more steps may be queued while the driver runs
            continue;
        }
        Window window = WaitForWindow(step->className.empty() ? nullptr : step->className.c_str(),
                                      step->anyTitle ? nullptr : step->title.c_str(), step->timeoutMs);
        if (!window) {
            EnterCriticalSection(&lock_);
            failures_.push_back("no window of class \"" + step->className + "\" titled \"" + step->title +
                                "\" appeared within " + std::to_string(step->timeoutMs) + " ms");
            LeaveCriticalSection(&lock_);
            DismissDialogsOfThisProcess();
            continue;
        }
        HWND handle = window.handle();
        if (step->messageBox) {
            MessageBoxInfo info = window.ReadMessageBox();
            EnterCriticalSection(&lock_);
            seen_.push_back(info);
            LeaveCriticalSection(&lock_);
            if (step->action) {
                step->action(window);
            } else if (!info.buttons.empty()) {
                window.Press(info.buttons.front());
            }
        } else if (step->action) {
            step->action(window);
        }
        // The next step must not find this window again: wait until the
        // action has closed it, if it does.
        WaitUntilGone(handle, 1500);
    }
}

bool UiDriver::Finish(DWORD timeoutMs) {
    if (thread_) {
        EnterCriticalSection(&lock_);
        finished_ = true;
        LeaveCriticalSection(&lock_);
        if (WaitForSingleObject(thread_, timeoutMs) != WAIT_OBJECT_0) {
            EnterCriticalSection(&lock_);
            failures_.push_back("the UI steps did not finish in time");
            LeaveCriticalSection(&lock_);
            DismissDialogsOfThisProcess();
            WaitForSingleObject(thread_, 5000);
        }
        CloseHandle(thread_);
        thread_ = nullptr;
    }
    EnterCriticalSection(&lock_);
    finished_ = false;
    bool ok = failures_.empty();
    LeaveCriticalSection(&lock_);
    return ok;
}

BoxRecorder::BoxRecorder(const char* caption, int button, DWORD delayMs)
    : caption_(caption), button_(button), delayMs_(delayMs) {
    InitializeCriticalSection(&lock_);
    stop_ = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    thread_ = CreateThread(nullptr, 0, &ThreadMain, this, 0, nullptr);
}

BoxRecorder::~BoxRecorder() {
    SetEvent(stop_);
    WaitForSingleObject(thread_, 10000);
    CloseHandle(thread_);
    CloseHandle(stop_);
    DeleteCriticalSection(&lock_);
}

std::vector<MessageBoxInfo> BoxRecorder::Seen() {
    EnterCriticalSection(&lock_);
    std::vector<MessageBoxInfo> seen = seen_;
    LeaveCriticalSection(&lock_);
    return seen;
}

DWORD WINAPI BoxRecorder::ThreadMain(void* self) {
    auto* recorder = static_cast<BoxRecorder*>(self);
    while (WaitForSingleObject(recorder->stop_, 20) == WAIT_TIMEOUT) {
        Window box = FindTopLevel("#32770", recorder->caption_.c_str());
        if (!box) continue;
        MessageBoxInfo info = box.ReadMessageBox();
        EnterCriticalSection(&recorder->lock_);
        recorder->seen_.push_back(info);
        LeaveCriticalSection(&recorder->lock_);
        int press = info.buttons.empty() ? IDOK : info.buttons.front();
        for (int button : info.buttons) press = button == recorder->button_ ? button : press;
        if (recorder->delayMs_) Sleep(recorder->delayMs_);
        box.Press(press);
        WaitUntilGone(box.handle(), 5000);
    }
    return 0;
}

}  // namespace kstest

