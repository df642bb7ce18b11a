// What keepshel's dialog procedures share: their record in DWLP_USER, a
// guard that keeps exceptions inside the procedure, and the modal run.
#ifndef KEEPSHEL_DIALOG_SUPPORT_H
#define KEEPSHEL_DIALOG_SUPPORT_H

#include <windows.h>

namespace dialog_support {

// A procedure's logic without the CALLBACK frame.
using DialogHandler = INT_PTR (*)(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

// The window procedure around `handler`: nothing thrown may unwind into
// the system's dialog manager.
template <DialogHandler handler>
INT_PTR CALLBACK GuardedDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) noexcept {
    try {
        return handler(dialog, message, wParam, lParam);
    } catch (...) {
        return FALSE;
    }
}

// The record a dialog keeps for its lifetime; set on WM_INITDIALOG.
template <typename Record>
Record* RecordOf(HWND dialog) {
    return reinterpret_cast<Record*>(GetWindowLongPtrA(dialog, DWLP_USER));
}

inline void KeepRecord(HWND dialog, LPARAM record) { SetWindowLongPtrA(dialog, DWLP_USER, record); }

// Registers the up-down and progress classes the templates use.
void EnsureCommonControls();

// Runs dialog `templateId` modally. A dialog that cannot be shown counts as
// Cancel, so no caller takes it for a choice the user made.
int RunModalDialog(HWND owner, int templateId, DLGPROC procedure, LPARAM record);

// Focuses a control the way dialog navigation does (an edit's text selected).
inline void FocusControl(HWND dialog, int controlId) {
    SendMessageA(dialog, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(GetDlgItem(dialog, controlId)), TRUE);
}

}  // namespace dialog_support

#endif
