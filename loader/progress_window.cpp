#include "progress_window.h"

#include <commctrl.h>

#include <cstdarg>
#include <cstdio>

#include "framework/app.h"
#include "framework/resource_text.h"
#include "resources/resource_ids.h"

namespace kickoff {
namespace {

const char kClassName[] = "KickoffSetupProgress";
const char kSettingsSection[] = "Settings";
const char kCancelSlotText[] = " Cancel ";

// The size of the metrics structure that every Windows version accepts
// (without the padded border width added later).
constexpr UINT kClassicNonClientMetricsSize = 340;

HICON LoadProgramIcon(int size) {
    return static_cast<HICON>(::LoadImageA(ResourceInstance(), MAKEINTRESOURCEA(IDI_KICKOFF), IMAGE_ICON, size,
                                           size, LR_DEFAULTCOLOR | LR_SHARED));
}

}  // namespace

CSetupProgressWnd::CSetupProgressWnd(std::string profileFile)
    : profileFile_(profileFile.empty() ? ProfileFileName() : std::move(profileFile)) {}

CSetupProgressWnd::~CSetupProgressWnd() { Destroy(); }

bool CSetupProgressWnd::Create(HWND owner, const char* title, bool smoothBar) {
    if (title != nullptr) title_ = title;

    // The bar is a common control; its class exists only after this.
    INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_PROGRESS_CLASS};
    ::InitCommonControlsEx(&controls);

    RegisterWindowClass(kClassName, CS_DBLCLKS | CS_HREDRAW | CS_VREDRAW, ::LoadCursor(nullptr, IDC_APPSTARTING),
                        ::GetSysColorBrush(COLOR_BTNFACE), LoadProgramIcon(0));

    NONCLIENTMETRICSA metrics = {};
    metrics.cbSize = kClassicNonClientMetricsSize;
    if (::SystemParametersInfoA(SPI_GETNONCLIENTMETRICS, kClassicNonClientMetricsSize, &metrics, 0)) {
        font_.Reset(::CreateFontIndirectA(&metrics.lfMessageFont));
    }

    bool created = CreateEx(WS_EX_DLGMODALFRAME, kClassName, title_.c_str(), WS_POPUP | WS_CAPTION | WS_SYSMENU,
                            0, 0, 350, 50, owner, nullptr);
    if (created) {
        ::SendMessageA(Handle(), WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(LoadProgramIcon(0)));
        ::SendMessageA(Handle(), WM_SETICON, ICON_SMALL,
                       reinterpret_cast<LPARAM>(LoadProgramIcon(::GetSystemMetrics(SM_CXSMICON))));
        status_ = ::CreateWindowExA(0, "STATIC", "", WS_CHILD | WS_VISIBLE | SS_LEFTNOWORDWRAP | SS_NOPREFIX, 0, 0,
                                    10, 10, Handle(), reinterpret_cast<HMENU>(kStatusTextId),
                                    ::GetModuleHandleA(nullptr), nullptr);
        bar_ = ::CreateWindowExA(0, PROGRESS_CLASSA, "", WS_CHILD | WS_VISIBLE | (smoothBar ? PBS_SMOOTH : 0), 0,
                                 0, 10, 10, Handle(), reinterpret_cast<HMENU>(kProgressBarId),
                                 ::GetModuleHandleA(nullptr), nullptr);
        created = status_ != nullptr && bar_ != nullptr;
        if (!created) {
            // Half a window is no window: no position is stored for it.
            rememberPosition_ = false;
            ::DestroyWindow(Handle());
            rememberPosition_ = true;
        }
    }
    if (!created) {
        ::MessageBoxA(nullptr, LoadResString(IDS_ERROR_CREATING).c_str(), LoadResString(IDS_ERROR_CAPTION).c_str(),
                      MB_OK);
        return false;
    }

    if (font_.Get() != nullptr) ::SendMessageA(status_, WM_SETFONT, reinterpret_cast<WPARAM>(font_.Get()), FALSE);
    Layout(2, 350);
    PlaceAtSavedPosition();

    if (!::IsWindowVisible(Handle())) {
        ::SetWindowLongPtrA(Handle(), GWL_STYLE, ::GetWindowLongPtrA(Handle(), GWL_STYLE) | WS_VISIBLE);
        ::ShowWindow(Handle(), SW_SHOWNA);
        ::RedrawWindow(Handle(), nullptr, nullptr, RDW_FRAME | RDW_ERASE | RDW_INVALIDATE);
    }
    return true;
}

void CSetupProgressWnd::Layout(int lines, int textWidth) {
    // Text rectangle: as high as `lines` lines of "M" in the status font.
    std::string sample = "M";
    for (int i = 1; i < lines; ++i) sample += "\nM";
    RECT text = {10, 10, 10 + textWidth, 10};
    int slotWidth = 0;
    int slotHeight = 0;
    {
        WindowDC dc(status_);
        if (dc.Get() != nullptr) {
            SelectedObject selectFont(dc.Get(), font_.Get());
            RECT measured = {0, 0, 0, 0};
            ::DrawTextA(dc.Get(), sample.c_str(), -1, &measured, DT_CALCRECT | DT_NOPREFIX | DT_NOCLIP);
            text.bottom = text.top + (measured.bottom - measured.top);

            const std::string slotText = std::string(kCancelSlotText) + "  ";
            SIZE extent = {0, 0};
            ::GetTextExtentPoint32A(dc.Get(), slotText.c_str(), static_cast<int>(slotText.size()), &extent);
            slotWidth = extent.cx;
            slotHeight = extent.cy;
        } else {
            // Nothing to measure with: assume a common font's line height.
            text.bottom = text.top + 13 * lines;
            slotWidth = 60;
            slotHeight = 13;
        }
    }
    slotWidth += 4 * ::GetSystemMetrics(SM_CXEDGE);
    slotHeight += 3 * ::GetSystemMetrics(SM_CYEDGE);

    RECT slot = {text.right - slotWidth, text.bottom + 10, text.right, text.bottom + 10 + slotHeight};
    RECT bar = {text.left, slot.top + ::GetSystemMetrics(SM_CYEDGE), slot.left - 10,
                slot.bottom - ::GetSystemMetrics(SM_CYEDGE)};

    ::MoveWindow(status_, text.left, text.top, text.right - text.left, text.bottom - text.top, TRUE);
    ::MoveWindow(bar_, bar.left, bar.top, bar.right - bar.left, bar.bottom - bar.top, TRUE);

    // Client area: 10-pixel margins round the text and the bar row.
    RECT frame = {0, 0, textWidth + 20, (text.bottom - text.top) + slotHeight + 30};
    ::AdjustWindowRectEx(&frame, static_cast<DWORD>(::GetWindowLongPtrA(Handle(), GWL_STYLE)), FALSE,
                         static_cast<DWORD>(::GetWindowLongPtrA(Handle(), GWL_EXSTYLE)));
    ::SetWindowPos(Handle(), nullptr, 0, 0, frame.right - frame.left, frame.bottom - frame.top,
                   SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void CSetupProgressWnd::PlaceAtSavedPosition() {
    const int x = static_cast<int>(::GetPrivateProfileIntA(kSettingsSection, "X", -1, profileFile_.c_str()));
    const int y = static_cast<int>(::GetPrivateProfileIntA(kSettingsSection, "Y", -1, profileFile_.c_str()));
    const int screenWidth = ::GetSystemMetrics(SM_CXSCREEN);
    const int screenHeight = ::GetSystemMetrics(SM_CYSCREEN);
    if (x < 0 || x >= screenWidth || y < 0 || y >= screenHeight) {
        RECT window;
        ::GetWindowRect(Handle(), &window);
        const int width = window.right - window.left;
        const int height = window.bottom - window.top;
        ::SetWindowPos(Handle(), nullptr, (screenWidth - width) / 2, (screenHeight - height) / 2, 0, 0,
                       SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    } else {
        ::SetWindowPos(Handle(), nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    }
}

void CSetupProgressWnd::SavePosition() {
    RECT window;
    if (!::GetWindowRect(Handle(), &window)) return;
    char number[16];
    std::snprintf(number, sizeof number, "%ld", static_cast<long>(window.left));
    ::WritePrivateProfileStringA(kSettingsSection, "X", number, profileFile_.c_str());
    std::snprintf(number, sizeof number, "%ld", static_cast<long>(window.top));
    ::WritePrivateProfileStringA(kSettingsSection, "Y", number, profileFile_.c_str());
}

void CSetupProgressWnd::SetStatus(const char* format, ...) {
    if (!Exists()) return;
    va_list args;
    va_start(args, format);
    const std::string text = FormatBoundedV(kStatusTextLimit, format, args);
    va_end(args);
    ::SetWindowTextA(status_, text.c_str());
}

void CSetupProgressWnd::SetRange(int lower, int upper, int step) {
    if (!Exists()) return;
    lower_ = lower;
    upper_ = upper;
    step_ = step;
    ::SendMessageA(bar_, PBM_SETRANGE32, static_cast<WPARAM>(lower), static_cast<LPARAM>(upper));
    ::SendMessageA(bar_, PBM_SETSTEP, static_cast<WPARAM>(step), 0);
}

int CSetupProgressWnd::SetStep(int step) {
    if (!Exists()) return step_;
    const int previous = step_;
    step_ = step;
    ::SendMessageA(bar_, PBM_SETSTEP, static_cast<WPARAM>(step), 0);
    return previous;
}

void CSetupProgressWnd::UpdatePercent() {
    // 64-bit arithmetic: large positions must not overflow into nonsense.
    int percent = 0;
    if (upper_ > lower_) {
        percent = static_cast<int>(static_cast<long long>(position_) * 100 /
                                   (static_cast<long long>(upper_) - lower_));
    }
    if (percent != percent_) {
        percent_ = percent;
        const std::string caption = FormatBounded(title_.size() + 32, "%s [%d%%]", title_.c_str(), percent);
        ::SetWindowTextA(Handle(), caption.c_str());
    }
}

int CSetupProgressWnd::SetPos(int position) {
    if (!Exists()) return position_;
    position_ = position;
    UpdatePercent();
    return static_cast<int>(::SendMessageA(bar_, PBM_SETPOS, static_cast<WPARAM>(position), 0));
}

int CSetupProgressWnd::StepIt() { return SetPos(position_ + step_); }

void CSetupProgressWnd::Reset() {
    if (!Exists()) return;
    SetStatus("%s", "");
    SetPos(0);
    cancelled_ = false;
    position_ = 0;
    ::UpdateWindow(Handle());
}

void CSetupProgressWnd::Cancel() {
    cancelled_ = true;
    // The loader has no main window to bring back; nothing else to do.
}

void CSetupProgressWnd::PumpMessages(bool detectEscape) {
    if (!Exists()) return;
    MSG message;
    while (!cancelled_ && ::PeekMessageA(&message, nullptr, 0, 0, PM_NOREMOVE)) {
        if (detectEscape && message.message == WM_CHAR && message.wParam == VK_ESCAPE) Cancel();
        if (!::PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) break;
        if (message.message == WM_QUIT) {
            // Leave the quit request for whoever runs the real loop.
            ::PostQuitMessage(0);
            return;
        }
        ::TranslateMessage(&message);
        ::DispatchMessageA(&message);
    }
}

void CSetupProgressWnd::Destroy() {
    if (!Exists()) return;
    if (rememberPosition_) SavePosition();
    ::DestroyWindow(Handle());
}

LRESULT CSetupProgressWnd::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_ERASEBKGND: {
            RECT client;
            ::GetClientRect(Handle(), &client);
            ::FillRect(reinterpret_cast<HDC>(wParam), &client, ::GetSysColorBrush(COLOR_BTNFACE));
            return TRUE;
        }
        case WM_NCDESTROY:
            status_ = nullptr;
            bar_ = nullptr;
            break;
    }
    return CWindow::HandleMessage(message, wParam, lParam);
}

}  // namespace kickoff
