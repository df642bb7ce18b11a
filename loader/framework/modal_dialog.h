// A modal dialog built from a dialog resource, with its messages going to a
// C++ object.
#pragma once

#include <windows.h>

namespace kickoff {

class CModalDialog {
public:
    explicit CModalDialog(UINT templateId) : templateId_(templateId) {}
    virtual ~CModalDialog() = default;
    CModalDialog(const CModalDialog&) = delete;
    CModalDialog& operator=(const CModalDialog&) = delete;

    // Shows the dialog and returns the id it was ended with (IDOK, IDCANCEL),
    // or -1 when it could not be created.
    INT_PTR DoModal(HWND owner = nullptr);
    HWND Handle() const { return dialog_; }

protected:
    // Return true to let the system put the focus on the default control.
    virtual bool OnInitDialog() { return true; }
    virtual void OnOK() { EndDialog(IDOK); }
    virtual void OnCancel() { EndDialog(IDCANCEL); }
    void EndDialog(INT_PTR result) { ::EndDialog(dialog_, result); }

private:
    static INT_PTR CALLBACK DialogProcedure(HWND, UINT, WPARAM, LPARAM);
    UINT templateId_;
    HWND dialog_ = nullptr;
};

}  // namespace kickoff
