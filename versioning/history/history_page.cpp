// The history page's procedure: initialisation, the sheet's notifications,
// the toolbar's commands, the limit of temporary versions, the reload when
// the archive changes, and help.
#include "history_page.h"

#include <cstring>
#include <vector>

#include "dialogs/dialogs.h"
#include "archive/messages.h"
#include "archive/module.h"
#include "archive/settings.h"
#include "resources/resource.h"

namespace {

constexpr UINT_PTR kReloadTimerId = 0;
constexpr UINT kReloadPeriodMs = 500;
constexpr int kToolbarButtons = 5;
constexpr int kToolbarBitmapSize = 16;
constexpr LONG kToolbarStyle = WS_CHILD | WS_VISIBLE | TBSTYLE_TOOLTIPS | CCS_NODIVIDER | CCS_NOPARENTALIGN |
                               CCS_NORESIZE;  // 0x5000014C
constexpr ULONG_PTR kPageTopic = 131072 + IDD_HISTORY_PAGE;
// Pop-up topics of the toolbar's buttons, in button order.
constexpr ULONG_PTR kToolbarTopics[kToolbarButtons] = {34, 28, 33, 53, 25};

HistoryPage* PageOf(HWND dialog) {
    auto* description = reinterpret_cast<const PROPSHEETPAGEA*>(GetWindowLongPtrA(dialog, DWLP_USER));
    return description ? reinterpret_cast<HistoryPage*>(description->lParam) : nullptr;
}

// The archive's last-write time; false when it cannot be read now.
bool ReadArchiveTime(const ArchiveContext& context, ULONGLONG* time) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExA(context.archivePath, GetFileExInfoStandard, &data)) return false;
    *time = (static_cast<ULONGLONG>(data.ftLastWriteTime.dwHighDateTime) << 32) | data.ftLastWriteTime.dwLowDateTime;
    return true;
}

// The page writes the limit itself: that is no change of the user's for
// the sheet's Apply button.
void ShowLimit(HistoryPage* page, int limit) {
    page->settingLimit = true;
    SetDlgItemInt(page->window, IDC_HISTORY_LIMIT, static_cast<UINT>(limit), FALSE);
    page->settingLimit = false;
}

void ShowCompressed(HistoryPage* page) {
    char text[64] = "";
    if (page->context->IsCompressed()) LoadText(IDS_COMPRESSED, text, sizeof text);
    SetDlgItemTextA(page->window, IDC_HISTORY_COMPRESSED, text);
}

void EnableButton(HWND toolbar, int command, bool enabled) {
    SendMessageA(toolbar, TB_ENABLEBUTTON, command, MAKELONG(enabled ? TRUE : FALSE, 0));
}

void CreateToolbar(HistoryPage* page) {
    TBBUTTON buttons[kToolbarButtons] = {};
    const int commands[kToolbarButtons] = {IDC_TOOL_SAVE_AS, IDC_TOOL_DELETE, IDC_TOOL_PRINT_HISTORY,
                                           IDC_TOOL_SETTINGS, IDC_TOOL_ABOUT};
    for (int i = 0; i < kToolbarButtons; ++i) {
        buttons[i].iBitmap = i;
        buttons[i].idCommand = commands[i];
        buttons[i].fsState = i < 2 ? 0 : TBSTATE_ENABLED;  // Save As and Delete wait for a selection
        buttons[i].fsStyle = TBSTYLE_BUTTON;
    }
    page->toolbar = CreateToolbarEx(page->window, WS_CHILD | WS_VISIBLE | TBSTYLE_TOOLTIPS, IDC_HISTORY_TOOLBAR,
                                    kToolbarButtons, ModuleInstance(), IDB_HISTORY_TOOLBAR, buttons, kToolbarButtons,
                                    kToolbarBitmapSize, kToolbarBitmapSize, kToolbarBitmapSize, kToolbarBitmapSize,
                                    sizeof(TBBUTTON));
    if (!page->toolbar) return;
    SetWindowLongPtrA(page->toolbar, GWL_STYLE, kToolbarStyle);

    // The template keeps the toolbar's place with a hidden static.
    HWND place = GetDlgItem(page->window, IDC_HISTORY_TOOLBAR_PLACE);
    if (!place) return;
    RECT area;
    GetWindowRect(place, &area);
    MapWindowPoints(nullptr, page->window, reinterpret_cast<POINT*>(&area), 2);
    SetWindowPos(page->toolbar, nullptr, area.left, area.top, area.right - area.left, area.bottom - area.top,
                 SWP_NOZORDER | SWP_SHOWWINDOW);
    DestroyWindow(place);
}

// The sheet's Help button gets its access key: "Help" becomes "&Help".
void MarkSheetHelpButton(HWND dialog) {
    HWND sheet = GetParent(dialog);
    if (!sheet) return;
    char help[6];
    LoadText(IDS_HELP_BUTTON, help, sizeof help);
    for (HWND child = GetWindow(sheet, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
        char className[16] = "", text[6] = "";
        GetClassNameA(child, className, sizeof className);
        if (lstrcmpiA(className, "button") != 0) continue;
        GetWindowTextA(child, text, sizeof text);
        if (strcmp(text, help) != 0) continue;
        if (text[0] != '&') {
            char marked[8];
            FormatText(marked, sizeof marked, "&%s", text);
            SetWindowTextA(child, marked);
        }
        return;
    }
}

BOOL OnInitDialog(HWND dialog, const PROPSHEETPAGEA* description) {
    SetWindowLongPtrA(dialog, DWLP_USER, reinterpret_cast<LONG_PTR>(description));
    HistoryPage* page = description ? reinterpret_cast<HistoryPage*>(description->lParam) : nullptr;
    if (!page) return TRUE;
    page->window = dialog;
    ArchiveContext& context = *page->context;

    CreateToolbar(page);
    page->list.Attach(dialog, GetDlgItem(dialog, IDC_HISTORY_LIST), page->context, false);

    DWORD versioning = 0;  // a missing setting counts as off
    ReadSettingNumber(IDS_ENABLE_VERSION_CONTROL, &versioning);
    BOOL usable = versioning != 0 && context.ArchiveExists();
    for (int id : {IDC_HISTORY_LIST, IDC_HISTORY_LIMIT_LABEL, IDC_HISTORY_LIMIT})
        EnableWindow(GetDlgItem(dialog, id), usable);

    ShowLimit(page, context.MaxTemporaryVersions());
    ShowCompressed(page);
    SetUpTemporaryLimitSpin(dialog, IDC_HISTORY_SPIN);

    EnableButton(page->toolbar, IDC_TOOL_DELETE, false);
    EnableButton(page->toolbar, IDC_TOOL_SAVE_AS, false);
    EnableButton(page->toolbar, IDC_TOOL_PRINT_HISTORY, context.ArchiveExists());

    ReadArchiveTime(context, &page->lastArchiveTime);
    MarkSheetHelpButton(dialog);
    SetTimer(dialog, kReloadTimerId, kReloadPeriodMs, nullptr);
    page->timerId = kReloadTimerId;
    // The list is filled when the page first becomes active.
    return TRUE;
}

void OnDestroy(HistoryPage* page) {
    page->list.Detach();
    KillTimer(page->window, page->timerId);
}

void OpenPageTopic(HistoryPage* page) {
    char helpFile[MAX_PATH];
    GetHelpFilePath(helpFile);
    RequestHelp(page->window, helpFile, HELP_CONTEXT, kPageTopic);
}

BOOL OnHelp(HistoryPage* page, const HELPINFO* info) {
    const DWORD* table = LoadHelpTable(IDD_HISTORY_PAGE);
    if (!table || !info) return FALSE;
    char helpFile[MAX_PATH];
    GetHelpFilePath(helpFile);
    HWND item = static_cast<HWND>(info->hItemHandle);
    if (item && item == page->toolbar) {
        // The toolbar is one window: its buttons are told apart by the
        // mouse position.
        POINT point = info->MousePos;
        ScreenToClient(page->toolbar, &point);
        int button = static_cast<int>(SendMessageA(page->toolbar, TB_HITTEST, 0, reinterpret_cast<LPARAM>(&point)));
        if (button >= 0 && button < kToolbarButtons) {
            RequestHelp(page->window, helpFile, HELP_CONTEXTPOPUP, kToolbarTopics[button]);
            return TRUE;
        }
    }
    RequestHelp(item, helpFile, HELP_WM_HELP, reinterpret_cast<ULONG_PTR>(table));
    return TRUE;
}

void OnToolTip(HistoryPage* page, NMHDR* header) {
    LoadText(static_cast<UINT>(header->idFrom), page->tooltip, sizeof page->tooltip);
    if (header->code == TTN_NEEDTEXTA) {
        reinterpret_cast<NMTTDISPINFOA*>(header)->lpszText = page->tooltip;
    } else {
        // A toolbar that talks Unicode to its parent asks for wide text.
        MultiByteToWideChar(CP_ACP, 0, page->tooltip, -1, page->tooltipWide, 64);
        reinterpret_cast<NMTTDISPINFOW*>(header)->lpszText = page->tooltipWide;
    }
}

void OnNotify(HistoryPage* page, NMHDR* header) {
    switch (header->code) {
    case PSN_SETACTIVE:
        page->list.Refresh();
        break;
    case PSN_KILLACTIVE:
        SetWindowLongPtrA(page->window, DWLP_MSGRESULT, ApplyPage(page) ? TRUE : FALSE);
        break;
    case PSN_HELP:
        OpenPageTopic(page);
        break;
    case TTN_NEEDTEXTA:
    case TTN_NEEDTEXTW:
        OnToolTip(page, header);
        break;
    case LVN_COLUMNCLICK:
        if (header->idFrom == IDC_HISTORY_LIST)
            page->list.OnColumnClick(reinterpret_cast<NMLISTVIEW*>(header)->iSubItem);
        break;
    case LVN_DELETEALLITEMS:
        // The rows hold nothing to free: no notification per row, which
        // for 10,000 rows cost as much as filling them again.
        if (header->idFrom == IDC_HISTORY_LIST) SetWindowLongPtrA(page->window, DWLP_MSGRESULT, TRUE);
        break;
    case LVN_ITEMCHANGED:
        if (header->idFrom != IDC_HISTORY_LIST) break;
        UpdateToolbar(page);
        if (page->list.SelectedCount() > 1) page->list.ShowComment(-1);
        break;
    default:
        break;
    }
}

void DeleteSelectedVersions(HistoryPage* page) {
    page->list.Focus();
    // The versions the user selected when asking are the ones deleted,
    // whatever is saved elsewhere while the question is open.
    std::vector<int> numbers = page->list.SelectedVersionNumbers();
    ReloadPause pause(page);
    if (ShowMessage(page->window, IDS_CONFIRM_DELETE_VERSIONS, MB_YESNO | MB_ICONQUESTION) != IDYES) return;
    page->list.DeleteVersions(numbers);
    UpdateToolbar(page);
}

void OnCommand(HistoryPage* page, int command, int code) {
    if (code == EN_CHANGE) {
        if (!page->settingLimit) SendMessageA(GetParent(page->window), PSM_CHANGED, reinterpret_cast<WPARAM>(page->window), 0);
        return;
    }
    switch (command) {
    case IDC_TOOL_SAVE_AS: {
        page->list.Focus();
        ReloadPause pause(page);
        page->list.RetrieveSelected(nullptr);
        break;
    }
    case IDC_TOOL_DELETE:
        DeleteSelectedVersions(page);
        break;
    case IDC_TOOL_PRINT_HISTORY: {
        page->list.Focus();
        ReloadPause pause(page);
        page->list.PrintHistory();
        break;
    }
    case IDC_TOOL_SETTINGS:
        StartSettingsApplet();
        break;
    case IDC_TOOL_ABOUT:
        page->list.Focus();
        ShowAboutBox(page->window);
        break;
    case IDM_WHATS_THIS:
        SendWhatsThisHelp(page->window);
        break;
    default:
        break;
    }
}

INT_PTR Dispatch(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_INITDIALOG) return OnInitDialog(dialog, reinterpret_cast<const PROPSHEETPAGEA*>(lParam));
    HistoryPage* page = PageOf(dialog);
    switch (message) {
    case WM_DESTROY:
        if (page) OnDestroy(page);
        return TRUE;
    case WM_DRAWITEM:
        if (!page || wParam != IDC_HISTORY_LIST) return FALSE;
        return page->list.DrawItem(reinterpret_cast<const DRAWITEMSTRUCT*>(lParam));
    case WM_NOTIFY:
        if (page) OnNotify(page, reinterpret_cast<NMHDR*>(lParam));
        return TRUE;
    case WM_HELP:
        return page ? OnHelp(page, reinterpret_cast<const HELPINFO*>(lParam)) : FALSE;
    case WM_CONTEXTMENU:
        HandleContextHelp(dialog, IDD_HISTORY_PAGE, message, wParam, lParam);
        return TRUE;
    case WM_COMMAND:
        if (!page) return TRUE;  // before initialisation
        OnCommand(page, LOWORD(wParam), HIWORD(wParam));
        return FALSE;
    case WM_TIMER:
        if (page) CheckArchiveChanged(page);
        return TRUE;
    default:
        return FALSE;
    }
}

}  // namespace

PROPSHEETPAGEA MakeHistoryPageDescription(HistoryPage* page, DWORD flags, LPFNPSPCALLBACKA callback,
                                          UINT* refCounter) {
    INITCOMMONCONTROLSEX classes{};
    classes.dwSize = sizeof classes;
    classes.dwICC = ICC_LISTVIEW_CLASSES | ICC_BAR_CLASSES | ICC_UPDOWN_CLASS | ICC_TAB_CLASSES;
    InitCommonControlsEx(&classes);

    PROPSHEETPAGEA description{};
    description.dwSize = PROPSHEETPAGEA_V2_SIZE;  // 48 bytes on 32-bit Windows
    description.dwFlags = flags;
    description.hInstance = ModuleInstance();
    description.pszTemplate = MAKEINTRESOURCEA(IDD_HISTORY_PAGE);
    description.pfnDlgProc = &HistoryPageProc;
    description.lParam = reinterpret_cast<LPARAM>(page);
    description.pfnCallback = callback;
    description.pcRefParent = refCounter;
    return description;
}

INT_PTR CALLBACK HistoryPageProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    try {
        return Dispatch(dialog, message, wParam, lParam);
    } catch (...) {
        return FALSE;  // nothing may unwind into the dialog manager
    }
}

void UpdateToolbar(HistoryPage* page) {
    int selected = page->list.SelectedCount();
    EnableButton(page->toolbar, IDC_TOOL_DELETE, selected >= 1);
    EnableButton(page->toolbar, IDC_TOOL_SAVE_AS, selected == 1);
    EnableButton(page->toolbar, IDC_TOOL_PRINT_HISTORY, selected == 1);
}

bool ApplyPage(HistoryPage* page) {
    HWND dialog = page->window;
    ArchiveContext& context = *page->context;
    page->list.ApplyPermanence();

    if (context.ArchiveExists()) {
        int limit = 0;
        int temporary = context.TemporaryVersionCount();
        if (!ReadTemporaryLimit(dialog, IDC_HISTORY_LIMIT, &limit)) return true;
        if (temporary >= 0 && limit < temporary) {
            // The question's own message loop must not reload the page.
            ReloadPause pause(page);
            if (ShowMessage(dialog, IDS_TOO_MANY_TEMPORARY, MB_OKCANCEL | MB_ICONEXCLAMATION) != IDOK) return true;
        }
        context.SetMaxTemporaryVersions(limit);
    }
    SendMessageA(GetParent(dialog), PSM_UNCHANGED, reinterpret_cast<WPARAM>(dialog), 0);
    return false;
}

void CheckArchiveChanged(HistoryPage* page) {
    if (!page->refreshEnabled) return;
    ArchiveContext& context = *page->context;
    bool exists = context.ArchiveExists();
    ULONGLONG time = 0;
    // An archive that is there but cannot be read now is looked at again
    // at the next tick.
    if (exists && !ReadArchiveTime(context, &time)) return;
    if (time == page->lastArchiveTime) return;

    int limit = context.MaxTemporaryVersions();
    BOOL isNumber = FALSE;
    if (GetDlgItemInt(page->window, IDC_HISTORY_LIMIT, &isNumber, FALSE) != static_cast<UINT>(limit))
        ShowLimit(page, limit);
    EnableWindow(GetDlgItem(page->window, IDC_HISTORY_LIMIT), exists);
    ShowCompressed(page);
    // A reload that failed is tried again at the next tick.
    if (page->list.Refresh()) page->lastArchiveTime = time;
    UpdateToolbar(page);
}
