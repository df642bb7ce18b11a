// The modeless progress window of multi-file actions (dialog 126).
#include "dialogs.h"

#include <commctrl.h>

#include "dialog_support.h"
#include "archive/module.h"
#include "../resources/resource.h"

using dialog_support::RecordOf;

ProgressDialog::~ProgressDialog() { Close(); }

bool ProgressDialog::Open(HWND owner, int steps, const char* title) {
    Close();
    dialog_support::EnsureCommonControls();
    steps_ = steps;
    cancelled_ = false;
    window_ = CreateDialogParamA(ModuleInstance(), MAKEINTRESOURCEA(IDD_PROGRESS), owner, DialogProc,
                                 reinterpret_cast<LPARAM>(this));
    if (!window_) return false;
    if (title) SetWindowTextA(window_, title);
    ShowWindow(window_, SW_SHOW);
    return true;
}

void ProgressDialog::SetText(const char* text) {
    if (window_) SetDlgItemTextA(window_, IDC_PROGRESS_TEXT, text ? text : "");
}

void ProgressDialog::Step() {
    Pump();
    if (window_) SendDlgItemMessageA(window_, IDC_PROGRESS_BAR, PBM_STEPIT, 0, 0);
}

bool ProgressDialog::IsCancelled() {
    Pump();
    return cancelled_;
}

void ProgressDialog::Close() {
    if (!window_) return;
    HWND window = window_;
    window_ = nullptr;
    DestroyWindow(window);
}

// Only the progress window's own messages (its controls' included) are
// taken, so no other window of the thread reacts during a long action.
void ProgressDialog::Pump() {
    MSG message;
    while (window_ && !cancelled_ && PeekMessageA(&message, window_, 0, 0, PM_REMOVE)) {
        if (IsDialogMessageA(window_, &message)) continue;
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
}

INT_PTR ProgressDialog::OnMessage(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_INITDIALOG: {
        dialog_support::KeepRecord(dialog, lParam);
        auto* progress = reinterpret_cast<ProgressDialog*>(lParam);
        // The bar's range is 16 bits wide.
        SendDlgItemMessageA(dialog, IDC_PROGRESS_BAR, PBM_SETRANGE, 0, MAKELPARAM(0, progress->steps_ & 0xFFFF));
        SendDlgItemMessageA(dialog, IDC_PROGRESS_BAR, PBM_SETSTEP, 1, 0);
        return TRUE;
    }
    case WM_COMMAND:
        if (LOWORD(wParam) == IDCANCEL) {
            // The action notices the flag between files and closes us.
            if (auto* progress = RecordOf<ProgressDialog>(dialog)) progress->cancelled_ = true;
            return TRUE;
        }
        return FALSE;
    case WM_DESTROY:
        if (auto* progress = RecordOf<ProgressDialog>(dialog)) {
            if (progress->window_ == dialog) progress->window_ = nullptr;
        }
        dialog_support::KeepRecord(dialog, 0);
        return FALSE;
    default:
        return FALSE;
    }
}

INT_PTR CALLBACK ProgressDialog::DialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    return dialog_support::GuardedDialogProc<OnMessage>(dialog, message, wParam, lParam);
}
