#include "dialog_support.h"

#include <commctrl.h>

#include "archive/module.h"

namespace dialog_support {

void EnsureCommonControls() {
    INITCOMMONCONTROLSEX classes{sizeof classes, ICC_UPDOWN_CLASS | ICC_PROGRESS_CLASS};
    InitCommonControlsEx(&classes);
}

int RunModalDialog(HWND owner, int templateId, DLGPROC procedure, LPARAM record) {
    EnsureCommonControls();
    INT_PTR result = DialogBoxParamA(ModuleInstance(), MAKEINTRESOURCEA(templateId), owner, procedure, record);
    if (result == IDOK) return IDOK;
    return IDCANCEL;
}

}  // namespace dialog_support
