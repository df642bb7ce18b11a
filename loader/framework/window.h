// Window classes and the base for windows whose messages go to a C++ object.
#pragma once

#include <windows.h>

namespace kickoff {

// Registers a window class whose procedure hands messages to CWindow
// objects. Registering the same name again is harmless.
bool RegisterWindowClass(const char* className, UINT style, HCURSOR cursor, HBRUSH background, HICON icon);

class CWindow {
public:
    CWindow() = default;
    virtual ~CWindow();
    CWindow(const CWindow&) = delete;
    CWindow& operator=(const CWindow&) = delete;

    bool CreateEx(DWORD exStyle, const char* className, const char* text, DWORD style, int x, int y,
                  int width, int height, HWND owner, HMENU menuOrId);
    HWND Handle() const { return window_; }
    bool Exists() const { return window_ != nullptr && ::IsWindow(window_); }

protected:
    // Messages not handled here go to DefWindowProcA.
    virtual LRESULT HandleMessage(UINT message, WPARAM wParam, LPARAM lParam);
    // Called when the window is gone, whoever destroyed it.
    virtual void OnDestroyed() {}

private:
    friend LRESULT CALLBACK WindowProcedure(HWND, UINT, WPARAM, LPARAM);
    HWND window_ = nullptr;
};

}  // namespace kickoff
