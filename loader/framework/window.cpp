#include "window.h"

namespace kickoff {

LRESULT CALLBACK WindowProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_NCCREATE) {
        auto* create = reinterpret_cast<CREATESTRUCTA*>(lParam);
        auto* self = static_cast<CWindow*>(create->lpCreateParams);
        self->window_ = window;
        ::SetWindowLongPtrA(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
    }
    auto* self = reinterpret_cast<CWindow*>(::GetWindowLongPtrA(window, GWLP_USERDATA));
    if (self == nullptr) return ::DefWindowProcA(window, message, wParam, lParam);

    const LRESULT result = self->HandleMessage(message, wParam, lParam);
    if (message == WM_NCDESTROY) {
        ::SetWindowLongPtrA(window, GWLP_USERDATA, 0);
        self->window_ = nullptr;
        self->OnDestroyed();
    }
    return result;
}

bool RegisterWindowClass(const char* className, UINT style, HCURSOR cursor, HBRUSH background, HICON icon) {
    WNDCLASSA existing;
    if (::GetClassInfoA(::GetModuleHandleA(nullptr), className, &existing)) return true;
    WNDCLASSA windowClass = {};
    windowClass.style = style;
    windowClass.lpfnWndProc = WindowProcedure;
    windowClass.hInstance = ::GetModuleHandleA(nullptr);
    windowClass.hIcon = icon;
    windowClass.hCursor = cursor;
    windowClass.hbrBackground = background;
    windowClass.lpszClassName = className;
    return ::RegisterClassA(&windowClass) != 0;
}

CWindow::~CWindow() {
    // The object is going away: stop the window from calling into it.
    if (window_ != nullptr && ::IsWindow(window_)) {
        ::SetWindowLongPtrA(window_, GWLP_USERDATA, 0);
        ::DestroyWindow(window_);
    }
    window_ = nullptr;
}

bool CWindow::CreateEx(DWORD exStyle, const char* className, const char* text, DWORD style, int x, int y,
                       int width, int height, HWND owner, HMENU menuOrId) {
    HWND created = ::CreateWindowExA(exStyle, className, text, style, x, y, width, height, owner, menuOrId,
                                     ::GetModuleHandleA(nullptr), this);
    return created != nullptr;
}

LRESULT CWindow::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    return ::DefWindowProcA(window_, message, wParam, lParam);
}

}  // namespace kickoff
