// The dialog that asks for the properties of a new version: "New Version"
// (113) for a file's first version, with the choices of its new archive,
// and "Save Properties" (105) for every later one, with the comment.
#include "dialogs.h"

#include <commctrl.h>

#include <cstring>

#include "dialog_support.h"
#include "archive/messages.h"
#include "archive/module.h"
#include "archive/settings.h"
#include "../resources/resource.h"

using dialog_support::RecordOf;

namespace {

constexpr int kCommentLength = sizeof(SaveOptions::comment) - 1;

struct NewVersionDialog {
    SaveOptions* options;
    int dialogId;
};

void SetChecked(HWND dialog, int controlId, int32_t on) {
    CheckDlgButton(dialog, controlId, on ? BST_CHECKED : BST_UNCHECKED);
}

int32_t Checked(HWND dialog, int controlId) { return IsDlgButtonChecked(dialog, controlId) == BST_CHECKED ? 1 : 0; }

void SetTitle(HWND dialog, UINT formatId, const char* title) {
    char format[256];
    char text[512];
    LoadText(formatId, format, sizeof format);
    FormatText(text, sizeof text, format, title ? title : "");
    SetWindowTextA(dialog, text);
}

void FillNewVersionForm(HWND dialog, const SaveOptions& options) {
    SetChecked(dialog, IDC_FIRST_PERMANENT, options.permanent);
    SetChecked(dialog, IDC_USE_COMPRESSION, options.useCompression);
    SetChecked(dialog, IDC_SINGLE_LOCATION, options.singleLocation);
    SetUpTemporaryLimitSpin(dialog, IDC_MAX_TEMPORARY_SPIN);
    SetDlgItemInt(dialog, IDC_MAX_TEMPORARY, static_cast<UINT>(options.maxTemporary), FALSE);
    SetTitle(dialog, IDS_NEW_VERSION_TITLE, options.title);
}

void FillSavePropertiesForm(HWND dialog, const SaveOptions& options) {
    SetChecked(dialog, IDC_PERMANENT, options.permanent);
    SendDlgItemMessageA(dialog, IDC_COMMENT, EM_LIMITTEXT, kCommentLength, 0);
    // The caller's comment may fill the field without a terminator.
    char comment[sizeof options.comment];
    memcpy(comment, options.comment, kCommentLength);
    comment[kCommentLength] = '\0';
    SetDlgItemTextA(dialog, IDC_COMMENT, comment);
    SetTitle(dialog, IDS_VERSION_PROPERTIES_TITLE, options.title);
}

// Answers whether the dialog may close. A limit out of range is explained,
// replaced by the nearer bound, and left focused for the user to see.
bool AcceptNewVersionForm(HWND dialog, SaveOptions* options) {
    options->permanent = Checked(dialog, IDC_FIRST_PERMANENT);
    options->useCompression = Checked(dialog, IDC_USE_COMPRESSION);
    options->singleLocation = Checked(dialog, IDC_SINGLE_LOCATION);

    int limit = 0;
    if (!ReadTemporaryLimit(dialog, IDC_MAX_TEMPORARY, &limit)) return false;
    options->maxTemporary = limit;
    return true;
}

void AcceptSavePropertiesForm(HWND dialog, SaveOptions* options) {
    options->permanent = Checked(dialog, IDC_PERMANENT);
    GetDlgItemTextA(dialog, IDC_COMMENT, options->comment, sizeof options->comment);
}

INT_PTR OnInitDialog(HWND dialog, NewVersionDialog* record) {
    dialog_support::KeepRecord(dialog, reinterpret_cast<LPARAM>(record));
    record->options->window = dialog;
    if (record->dialogId == IDD_NEW_VERSION)
        FillNewVersionForm(dialog, *record->options);
    else
        FillSavePropertiesForm(dialog, *record->options);
    return TRUE;
}

void OnOk(HWND dialog, NewVersionDialog* record) {
    if (record->dialogId == IDD_NEW_VERSION) {
        if (!AcceptNewVersionForm(dialog, record->options)) return;
    } else {
        AcceptSavePropertiesForm(dialog, record->options);
    }
    EndDialog(dialog, IDOK);
}

INT_PTR OnMessage(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_INITDIALOG) return OnInitDialog(dialog, reinterpret_cast<NewVersionDialog*>(lParam));
    NewVersionDialog* record = RecordOf<NewVersionDialog>(dialog);
    if (!record) return FALSE;

    switch (message) {
    case WM_COMMAND:
        switch (LOWORD(wParam)) {
        case IDOK:
            OnOk(dialog, record);
            return TRUE;
        case IDCANCEL:
            EndDialog(dialog, IDCANCEL);
            return TRUE;
        }
        break;
    case WM_DESTROY:
        record->options->window = nullptr;
        return FALSE;
    }
    return HandleContextHelp(dialog, record->dialogId, message, wParam, lParam) ? TRUE : FALSE;
}

}  // namespace

void InitSaveOptions(SaveOptions* options) {
    *options = SaveOptions{};
    DWORD useCompression = 0;
    DWORD singleLocation = 1;
    DWORD maxTemporary = 10;
    ReadSettingNumber(IDS_USE_COMPRESSION, &useCompression);
    ReadSettingNumber(IDS_SINGLE_LOCATION, &singleLocation);
    ReadSettingNumber(IDS_MAX_TEMP_VERSIONS, &maxTemporary);
    options->useCompression = static_cast<int32_t>(useCompression);
    options->singleLocation = static_cast<int32_t>(singleLocation);
    options->maxTemporary = static_cast<int32_t>(maxTemporary);
}

int ShowNewVersionDialog(HWND owner, SaveOptions* options) {
    NewVersionDialog record{options, options->firstVersion ? IDD_NEW_VERSION : IDD_SAVE_PROPERTIES};
    return dialog_support::RunModalDialog(owner, record.dialogId,
                                          dialog_support::GuardedDialogProc<OnMessage>,
                                          reinterpret_cast<LPARAM>(&record));
}
