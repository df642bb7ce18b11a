// Drives real windows from a test: a modal dialog or message box blocks the
// thread that opened it, so the driver works on a thread of its own and
// every wait it makes is bounded.
//
//   kstest::UiDriver ui;
//   ui.OnMessageBox("Keepsake (TM)", [&](kstest::Window& box) {
//       EXPECT_EQ(box.MessageText(), "Can't create Keepsake directory!");
//       box.Press(IDOK);
//   });
//   context.Resolve(path, true, nullptr);   // blocks until the box is closed
//   EXPECT_TRUE(ui.Finish());
#ifndef KSTEST_UI_DRIVER_H
#define KSTEST_UI_DRIVER_H

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

namespace kstest {

constexpr DWORD kDefaultWaitMs = 10000;

// What a message box shows.
struct MessageBoxInfo {
    std::string caption;
    std::string text;
    UINT icon = 0;                       // MB_ICONSTOP, MB_ICONQUESTION, MB_ICONWARNING, MB_ICONINFORMATION or 0;
                                         // reliable for this process's boxes only (icon handles differ across processes)
    std::vector<int> buttons;            // ids in creation order (IDOK, IDCANCEL, IDYES, ...)
    std::vector<std::string> buttonTexts;
};

// A window found by the driver: reads and drives it and its controls.
// Actions are posted, never sent, so a button that opens another modal
// window cannot block the driver.
class Window {
public:
    Window() = default;
    explicit Window(HWND handle) : handle_(handle) {}

    HWND handle() const { return handle_; }
    explicit operator bool() const { return handle_ != nullptr; }

    std::string ClassName() const;
    std::string Title() const;
    DWORD Style() const;
    HWND Control(int id) const;
    bool HasControl(int id) const { return Control(id) != nullptr; }

    std::string Text(int id) const;
    void SetText(int id, const std::string& text) const;  // sent, so the text is there on return
    bool IsChecked(int id) const;
    void SetChecked(int id, bool checked) const;
    bool IsEnabled(int id) const;
    bool IsVisible(int id) const;
    std::vector<std::string> ListBoxItems(int id) const;

    void Press(int id) const;   // a click on button `id`
    void Close() const;         // WM_CLOSE
    void Cancel() const { Press(IDCANCEL); }

    // Message boxes.
    MessageBoxInfo ReadMessageBox() const;
    std::string MessageText() const { return ReadMessageBox().text; }

private:
    HWND handle_ = nullptr;
};

// Selects exactly the rows of list view `list` (of this process) whose text
// in column `column` is one of `texts`, the first of them focused; answers
// how many rows were selected.
int SelectListViewRows(HWND list, int column, const std::vector<std::string>& texts);

// A visible top-level window of `className` with exactly `title` (null
// matches any), of any process; null when there is none now.
Window FindTopLevel(const char* className, const char* title);

// The same, waiting at most `timeoutMs`.
Window WaitForWindow(const char* className, const char* title, DWORD timeoutMs = kDefaultWaitMs);

// Waits until `window` is gone (destroyed or hidden).
bool WaitUntilGone(HWND window, DWORD timeoutMs = kDefaultWaitMs);

// Closes every visible dialog of this process (Cancel, then WM_CLOSE), so a
// test that went wrong fails instead of waiting for a person.
int DismissDialogsOfThisProcess();

// Runs `call` on a thread of its own and waits at most `timeoutMs` for it.
// When it has not returned by then (a window waits for a person), every
// dialog of this process is dismissed, the call is awaited a little longer,
// and the answer is false.
bool CallWithin(DWORD timeoutMs, const std::function<void()>& call);

// Answers every message box with `caption` shown during its life, by its
// first button (or by `button` when the box has it) after `delayMs`, and
// records what each showed: for a test that must count boxes, or see none,
// rather than drive a known sequence.
class BoxRecorder {
public:
    explicit BoxRecorder(const char* caption, int button = 0, DWORD delayMs = 0);
    ~BoxRecorder();  // stops watching
    BoxRecorder(const BoxRecorder&) = delete;
    BoxRecorder& operator=(const BoxRecorder&) = delete;

    std::vector<MessageBoxInfo> Seen();
    size_t Count() { return Seen().size(); }

private:
    static DWORD WINAPI ThreadMain(void* self);
    std::string caption_;
    int button_;
    DWORD delayMs_;
    std::vector<MessageBoxInfo> seen_;
    CRITICAL_SECTION lock_;
    HANDLE stop_ = nullptr;
    HANDLE thread_ = nullptr;
};

// Queued steps, each waiting for one window and acting on it, run in order
// on the driver's thread while the test thread sits in a modal call.
class UiDriver {
public:
    using Action = std::function<void(Window&)>;

    UiDriver();
    ~UiDriver();  // finishes (bounded) and dismisses what is left
    UiDriver(const UiDriver&) = delete;
    UiDriver& operator=(const UiDriver&) = delete;

    // Waits for a window of the class and title, then runs `action`.
    UiDriver& OnWindow(const char* className, const char* title, Action action, DWORD timeoutMs = kDefaultWaitMs);
    // Waits for a dialog ("#32770") titled `title`.
    UiDriver& OnDialog(const char* title, Action action, DWORD timeoutMs = kDefaultWaitMs);
    // Waits for a message box with this caption, records what it showed
    // (see Seen()) and runs `action`; without one, presses its first button.
    UiDriver& OnMessageBox(const char* caption, Action action = nullptr, DWORD timeoutMs = kDefaultWaitMs);

    // Waits until every queued step ran. False when a step timed out; its
    // description is in Failures(), and any dialog left open is dismissed.
    bool Finish(DWORD timeoutMs = 2 * kDefaultWaitMs);

    const std::vector<std::string>& Failures() const { return failures_; }
    // The message boxes seen by OnMessageBox steps, in order.
    const std::vector<MessageBoxInfo>& Seen() const { return seen_; }

private:
    struct Step;
    static DWORD WINAPI ThreadMain(void* self);
    void Run();
    void Start();

    std::vector<Step*> steps_;
    size_t next_ = 0;
    std::vector<std::string> failures_;
    std::vector<MessageBoxInfo> seen_;
    HANDLE thread_ = nullptr;
    CRITICAL_SECTION lock_;
    bool finished_ = false;
};

}  // namespace kstest

#endif
