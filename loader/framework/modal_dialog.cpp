#include "modal_dialog.h"

#include "app.h"

namespace kickoff {

INT_PTR CModalDialog::DoModal(HWND owner) {
    return ::DialogBoxParamA(ResourceInstance(), MAKEINTRESOURCEA(templateId_), owner, DialogProcedure,
                             reinterpret_cast<LPARAM>(this));
}

INT_PTR CALLBACK CModalDialog::DialogProcedure(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_INITDIALOG) {
        auto* self = reinterpret_cast<CModalDialog*>(lParam);
        self->dialog_ = dialog;
        ::SetWindowLongPtrA(dialog, DWLP_USER, lParam);
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
