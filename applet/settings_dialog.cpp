#include "settings_dialog.h"

#include <commctrl.h>
#include <shlobj.h>

#include <cstring>

#include "applet_resource.h"
#include "applet_settings.h"
#include "dialogs/dialog_support.h"
#include "archive/messages.h"
#include "archive/module.h"
#include "resource.h"

namespace {

using dialog_support::FocusControl;

void SetChecked(HWND dialog, int id, DWORD on) { CheckDlgButton(dialog, id, on ? BST_CHECKED : BST_UNCHECKED); }
DWORD Checked(HWND dialog, int id) { return IsDlgButtonChecked(dialog, id) == BST_CHECKED ? 1 : 0; }

void EnableApply(HWND dialog, bool enable) { EnableWindow(GetDlgItem(dialog, IDC_APPLY), enable); }

void ShowTexts(HWND dialog, const AppletSettings& settings) {
    SetDlgItemTextA(dialog, IDC_ARCHIVE_FOLDER, settings.archiveFolder);
    SetDlgItemTextA(dialog, IDC_EXCLUDED, settings.excluded);
    SetDlgItemTextA(dialog, IDC_HELP_FOLDER, settings.helpFolder);
}

void FillDialog(HWND dialog, const AppletSettings& settings) {
    SetChecked(dialog, IDC_ENABLE_VERSIONING, settings.versioning);
    SetChecked(dialog, IDC_USE_COMPRESSION_NEW, settings.compression);
    SetChecked(dialog, IDC_SINGLE_LOCATION_NEW, settings.singleLocation);
    SendDlgItemMessageA(dialog, IDC_MAX_TEMP_SPIN, UDM_SETRANGE32, kFewestTemporaryVersions, kMostTemporaryVersions);
    SetDlgItemInt(dialog, IDC_MAX_TEMP, settings.maxTemporary, FALSE);
    ShowTexts(dialog, settings);
}

// Reads one text field. A text that does not fit a registry value of 259
// characters is refused, never cut short.
bool ReadTextField(HWND dialog, int id, UINT fieldNameId, char (&text)[kSettingTextSize]) {
    int length = GetWindowTextLengthA(GetDlgItem(dialog, id));
    if (length >= static_cast<int>(sizeof text)) {
        char field[100];
        LoadText(fieldNameId, field, sizeof field);
        ShowMessage(dialog, IDS_TEXT_TOO_LONG, MB_ICONSTOP, field, static_cast<int>(sizeof text) - 1, length);
        FocusControl(dialog, id);
        return false;
    }
    GetDlgItemTextA(dialog, id, text, sizeof text);
    return true;
}

bool ReadDialog(HWND dialog, AppletSettings* settings) {
    settings->versioning = Checked(dialog, IDC_ENABLE_VERSIONING);
    settings->compression = Checked(dialog, IDC_USE_COMPRESSION_NEW);
    settings->singleLocation = Checked(dialog, IDC_SINGLE_LOCATION_NEW);
    BOOL isNumber = FALSE;
    UINT limit = GetDlgItemInt(dialog, IDC_MAX_TEMP, &isNumber, FALSE);
    // Not a number (empty, or beyond 32 bits) is out of range as well.
    settings->maxTemporary = isNumber ? limit : 0;
    if (!isNumber && GetWindowTextLengthA(GetDlgItem(dialog, IDC_MAX_TEMP)) > 0)
        settings->maxTemporary = kMostTemporaryVersions + 1;
    return ReadTextField(dialog, IDC_ARCHIVE_FOLDER, IDS_FIELD_ARCHIVE_FOLDER, settings->archiveFolder) &&
           ReadTextField(dialog, IDC_EXCLUDED, IDS_FIELD_EXCLUDED, settings->excluded) &&
           ReadTextField(dialog, IDC_HELP_FOLDER, IDS_FIELD_HELP_FOLDER, settings->helpFolder);
}

// Tells the user what is wrong and puts the caret where it can be fixed.
void Refuse(HWND dialog, const AppletSettings& settings, SettingsProblem problem) {
    switch (problem.field) {
    case SettingsField::MaxTemporary:
        ShowMessage(dialog, problem.messageId, MB_ICONSTOP);
        // The nearest allowed number, as the New Version dialog does.
        SetDlgItemInt(dialog, IDC_MAX_TEMP,
                      settings.maxTemporary < kFewestTemporaryVersions ? kFewestTemporaryVersions
                                                                        : kMostTemporaryVersions,
                      FALSE);
        FocusControl(dialog, IDC_MAX_TEMP);
        break;
    case SettingsField::ArchiveFolder:
        ShowMessage(dialog, problem.messageId, MB_ICONSTOP, settings.archiveFolder);
        FocusControl(dialog, IDC_ARCHIVE_FOLDER);
        break;
    default:
        ShowMessage(dialog, problem.messageId, MB_ICONSTOP);
        break;
    }
}

// OK and Apply: read, tidy, check, create the archive folder, store.
// False (with the user told why) when nothing may be stored yet.
bool Commit(HWND dialog) {
    AppletSettings settings;
    if (!ReadDialog(dialog, &settings)) return false;
    TidyAppletSettings(&settings);
    // The user sees the list as it is stored, without dots and blanks.
    ShowTexts(dialog, settings);

    SettingsProblem problem = ValidateAppletSettings(settings);
    if (problem.messageId != 0) {
        Refuse(dialog, settings, problem);
        return false;
    }
    if (!EnsureArchiveFolder(settings.archiveFolder)) {
        Refuse(dialog, settings, {SettingsField::ArchiveFolder, IDS_FOLDER_NOT_CREATED});
        return false;
    }
    if (!StoreAppletSettings(settings)) {
        Refuse(dialog, settings, {SettingsField::None, IDS_SETTINGS_NOT_SAVED});
        return false;
    }
    EnableApply(dialog, false);
    return true;
}

// The folder browser wants COM in this thread; it is left as found.
class ComScope {
public:
    ComScope() : initialized_(SUCCEEDED(CoInitialize(nullptr))) {}
    ~ComScope() {
        if (initialized_) CoUninitialize();
    }
    ComScope(const ComScope&) = delete;
    ComScope& operator=(const ComScope&) = delete;

private:
    bool initialized_;
};

// The item list the folder browser hands back, freed on every path out.
class ChosenFolder {
public:
    explicit ChosenFolder(LPITEMIDLIST items) : items_(items) {}
    ~ChosenFolder() { CoTaskMemFree(items_); }
    ChosenFolder(const ChosenFolder&) = delete;
    ChosenFolder& operator=(const ChosenFolder&) = delete;
    LPITEMIDLIST get() const { return items_; }

private:
    LPITEMIDLIST items_;
};

int CALLBACK SelectStartFolder(HWND browser, UINT message, LPARAM, LPARAM start) {
    if (message == BFFM_INITIALIZED && start && *reinterpret_cast<const char*>(start))
        SendMessageA(browser, BFFM_SETSELECTIONA, TRUE, start);
    return 0;
}

void BrowseForArchiveFolder(HWND dialog) {
    char current[kSettingTextSize] = "";
    if (GetWindowTextLengthA(GetDlgItem(dialog, IDC_ARCHIVE_FOLDER)) < static_cast<int>(sizeof current)) {
        GetDlgItemTextA(dialog, IDC_ARCHIVE_FOLDER, current, sizeof current);
        TrimBlanks(current);
    }
    char title[256];
    LoadText(IDS_BROWSE_TITLE, title, sizeof title);
    char displayName[MAX_PATH] = "";

    ComScope com;
    BROWSEINFOA browse{};
    browse.hwndOwner = dialog;
    browse.pszDisplayName = displayName;
    browse.lpszTitle = title;
    browse.ulFlags = BIF_RETURNONLYFSDIRS;
    browse.lpfn = SelectStartFolder;
    browse.lParam = reinterpret_cast<LPARAM>(current);
    ChosenFolder chosen(SHBrowseForFolderA(&browse));
    if (!chosen.get()) return;  // cancelled
    char folder[MAX_PATH] = "";
    if (SHGetPathFromIDListA(chosen.get(), folder) && folder[0]) SetDlgItemTextA(dialog, IDC_ARCHIVE_FOLDER, folder);
}

INT_PTR OnCommand(HWND dialog, int id, int notification) {
    switch (id) {
    case IDOK:
        if (Commit(dialog)) EndDialog(dialog, IDOK);
        return TRUE;
    case IDCANCEL:
        EndDialog(dialog, IDCANCEL);
        return TRUE;
    case IDC_APPLY:
        Commit(dialog);
        return TRUE;
    case IDC_BROWSE_FOLDER:
        BrowseForArchiveFolder(dialog);
        return TRUE;
    case IDC_ENABLE_VERSIONING:
    case IDC_USE_COMPRESSION_NEW:
    case IDC_SINGLE_LOCATION_NEW:
        if (notification == BN_CLICKED) EnableApply(dialog, true);
        return TRUE;
    case IDC_MAX_TEMP:
    case IDC_ARCHIVE_FOLDER:
    case IDC_EXCLUDED:
    case IDC_HELP_FOLDER:
        if (notification == EN_CHANGE) EnableApply(dialog, true);
        return TRUE;
    default:
        return FALSE;
    }
}

INT_PTR HandleSettingsDialog(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
    switch (message) {
    case WM_INITDIALOG: {
        AppletSettings settings;
        LoadAppletSettings(&settings);
        FillDialog(dialog, settings);
        // Filling the fields counts as no change.
        EnableApply(dialog, false);
        return TRUE;
    }
    case WM_COMMAND:
        return OnCommand(dialog, LOWORD(wParam), HIWORD(wParam));
    default:
        return FALSE;
    }
}

}  // namespace

int ShowSettingsDialog(HWND owner) {
    return dialog_support::RunModalDialog(owner, IDD_SETTINGS,
                                          dialog_support::GuardedDialogProc<HandleSettingsDialog>, 0);
}
