// The About box (dialog 130): product, version and rights from the string
// table, centred on the window it was opened from.
#include "dialogs.h"

#include "dialog_support.h"
#include "archive/module.h"
#include "../resources/resource.h"

namespace {

struct AboutLine {
    int controlId;
    UINT textId;
};

// Two of the lines have no text in the table and stay empty.
const AboutLine kAboutLines[] = {
    {IDC_ABOUT_PRODUCT, IDS_ABOUT_PRODUCT}, {IDC_ABOUT_VERSION, IDS_ABOUT_VERSION},
    {IDC_ABOUT_RIGHTS, IDS_ABOUT_RIGHTS},   {IDC_ABOUT_LINE_5, IDS_ABOUT_LINE_5},
    {IDC_ABOUT_LINE_3, IDS_ABOUT_LINE_3},
};

// Without repainting: the box is not on screen yet.
void CentreOn(HWND dialog, HWND owner) {
    RECT ownerFrame;
    RECT box;
    if (!owner || !GetWindowRect(owner, &ownerFrame) || !GetWindowRect(dialog, &box)) return;
    int width = box.right - box.left;
    int height = box.bottom - box.top;
    int left = ownerFrame.left + ((ownerFrame.right - ownerFrame.left) - width) / 2;
    int top = ownerFrame.top + ((ownerFrame.bottom - ownerFrame.top) - height) / 2;
    MoveWindow(dialog, left, top, width, height, FALSE);
}

INT_PTR OnInitDialog(HWND dialog, HWND owner) {
    for (const AboutLine& line : kAboutLines) {
        char text[256];
        LoadText(line.textId, text, sizeof text);
        SetDlgItemTextA(dialog, line.controlId, text);
    }
    CentreOn(dialog, owner);
    return TRUE;
}

INT_PTR OnMessage(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_INITDIALOG:
        return OnInitDialog(dialog, reinterpret_cast<HWND>(lParam));
    case WM_COMMAND:
        if (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL) {
            EndDialog(dialog, LOWORD(wParam));
            return TRUE;
        }
        break;
    }
    return HandleContextHelp(dialog, IDD_ABOUT, message, wParam, lParam) ? TRUE : FALSE;
}

}  // namespace

int ShowAboutBox(HWND owner) {
    return dialog_support::RunModalDialog(owner, IDD_ABOUT, dialog_support::GuardedDialogProc<OnMessage>,
                                          reinterpret_cast<LPARAM>(owner));
}
