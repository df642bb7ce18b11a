#include "modal_dialog.h"

#include "app.h"

namespace kickoff {
namespace {

// Templates place dialogs at 0, 0; show them in the middle of their owner,
// or of the work area when they have none.
void CenterOnOwnerOrScreen(HWND dialog) {
    RECT area;
    HWND owner = ::GetWindow(dialog, GW_OWNER);
    if (owner == nullptr || !::IsWindowVisible(owner) || !::GetWindowRect(owner, &area)) {
        ::SystemParametersInfoA(SPI_GETWORKAREA, 0, &area, 0);
    }
    RECT frame;
    ::GetWindowRect(dialog, &frame);
    const int width = frame.right - frame.left;
    const int height = frame.bottom - frame.top;
    ::SetWindowPos(dialog, nullptr, area.left + (area.right - area.left - width) / 2,
                   area.top + (area.bottom - area.top - height) / 2, 0, 0,
                   SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

}  // namespace

INT_PTR CModalDialog::DoModal(HWND owner) {
    return ::DialogBoxParamA(ResourceInstance(), MAKEINTRESOURCEA(templateId_), owner, DialogProcedure,
                             reinterpret_cast<LPARAM>(this));
}

INT_PTR CALLBACK CModalDialog::DialogProcedure(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_INITDIALOG) {
        auto* self = reinterpret_cast<CModalDialog*>(lParam);
        self->dialog_ = dialog;
        ::SetWindowLongPtrA(dialog, DWLP_USER, lParam);
        CenterOnOwnerOrScreen(dialog);
        return self->OnInitDialog() ? TRUE : FALSE;
    }
    auto* self = reinterpret_cast<CModalDialog*>(::GetWindowLongPtrA(dialog, DWLP_USER));
    if (self == nullptr) return FALSE;
    switch (message) {
        case WM_COMMAND:
            // IDCANCEL also arrives for Escape and the system menu's Close.
            if (LOWORD(wParam) == IDOK && HIWORD(wParam) == BN_CLICKED) {
                self->OnOK();
                return TRUE;
            }
            if (LOWORD(wParam) == IDCANCEL) {
                self->OnCancel();
                return TRUE;
            }
            break;
        case WM_NCDESTROY:
            self->dialog_ = nullptr;
            break;
    }
    return FALSE;
}

}  // namespace kickoff
