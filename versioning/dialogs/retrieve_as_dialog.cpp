// "Retrieve As" (dialog 112): where a retrieved version is to be written.
// Browse offers the system's Save As dialog; a name typed over an existing
// file is used only after the user agreed to replace that file.
#include "dialogs.h"

#include <commdlg.h>

#include "dialog_support.h"
#include "archive/messages.h"
#include "archive/module.h"
#include "archive/paths.h"
#include "../resources/resource.h"

using dialog_support::RecordOf;

namespace {

// The filter string keeps "@" where the common dialog wants NULs (a string
// resource cannot hold them). Stepping by characters keeps a "@" byte that
// is the second half of a double-byte character.
void LoadFileFilter(char* filter, int size) {
    LoadText(IDS_RETRIEVE_FILTER, filter, size - 1);
    filter[size - 1] = '\0';  // the list ends with two NULs
    for (char* at = filter; *at; at = CharNextA(at)) {
        if (*at == '@') *at = '\0';
    }
}

// When the user picks a file, it becomes the request's path and the
// dialog closes at once: the Save As dialog has asked about replacing.
bool Browse(HWND dialog, RetrieveAsRequest* request) {
    char filter[256] = {};
    char title[256];
    char fileName[MAX_PATH];
    LoadFileFilter(filter, sizeof filter);
    LoadText(IDS_RETRIEVE_AS, title, sizeof title);
    CopyText(fileName, sizeof fileName, request->path);

    OPENFILENAMEA choice{};
    choice.lStructSize = sizeof choice;
    choice.hwndOwner = dialog;
    choice.lpstrFilter = filter;
    choice.lpstrFile = fileName;
    choice.nMaxFile = sizeof fileName;
    choice.lpstrInitialDir = request->initialFolder[0] ? request->initialFolder : nullptr;
    choice.lpstrTitle = title;
    choice.Flags = OFN_OVERWRITEPROMPT | OFN_HIDEREADONLY | OFN_NOCHANGEDIR;
    if (!GetSaveFileNameA(&choice)) return false;

    CopyText(request->path, sizeof request->path, fileName);
    SetDlgItemTextA(dialog, IDC_RETRIEVE_PATH, request->path);
    return true;
}

// Answers whether the dialog may close with the typed name.
bool AcceptTypedName(HWND dialog, RetrieveAsRequest* request) {
    GetDlgItemTextA(dialog, IDC_RETRIEVE_PATH, request->path, sizeof request->path);
    if (!FileExists(request->path)) return true;
    return ShowMessageCaption(dialog, IDS_RETRIEVE_AS, IDS_RETRIEVE_EXISTS, MB_YESNO | MB_ICONWARNING,
                              request->path) == IDYES;
}

INT_PTR OnInitDialog(HWND dialog, RetrieveAsRequest* request) {
    dialog_support::KeepRecord(dialog, reinterpret_cast<LPARAM>(request));
    request->window = dialog;
    // Both names are read as C strings below; a caller's full buffer ends here.
    request->path[sizeof request->path - 1] = '\0';
    request->initialFolder[sizeof request->initialFolder - 1] = '\0';
    // The field holds no more than the path can: what the user sees is
    // exactly the name that is used.
    SendDlgItemMessageA(dialog, IDC_RETRIEVE_PATH, EM_LIMITTEXT, sizeof request->path - 1, 0);
    SetDlgItemTextA(dialog, IDC_RETRIEVE_PATH, request->path);
    return TRUE;
}

INT_PTR OnMessage(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_INITDIALOG) return OnInitDialog(dialog, reinterpret_cast<RetrieveAsRequest*>(lParam));
    RetrieveAsRequest* request = RecordOf<RetrieveAsRequest>(dialog);
    if (!request) return FALSE;

    switch (message) {
    case WM_COMMAND:
        switch (LOWORD(wParam)) {
        case IDC_BROWSE:
            if (Browse(dialog, request)) EndDialog(dialog, IDOK);
            return TRUE;
        case IDOK:
            if (AcceptTypedName(dialog, request)) EndDialog(dialog, IDOK);
            return TRUE;
        case IDCANCEL:
            EndDialog(dialog, IDCANCEL);
            return TRUE;
        }
        break;
    case WM_DESTROY:
        request->window = nullptr;
        return FALSE;
    }
    return HandleContextHelp(dialog, IDD_RETRIEVE_AS, message, wParam, lParam) ? TRUE : FALSE;
}

}  // namespace

int ShowRetrieveAsDialog(HWND owner, RetrieveAsRequest* request) {
    return dialog_support::RunModalDialog(owner, IDD_RETRIEVE_AS, dialog_support::GuardedDialogProc<OnMessage>,
                                          reinterpret_cast<LPARAM>(request));
}
