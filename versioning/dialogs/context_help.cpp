// Context help of keepshel's dialogs: the Help button opens the dialog's
// topic, F1 and "What's This?" show a control's pop-up through the dialog's
// help table.
#include "dialogs.h"

#include <windowsx.h>

#include "archive/module.h"
#include "archive/settings.h"
#include "../resources/resource.h"

namespace {

// Help topics of whole dialogs are numbered from here by dialog id.
constexpr ULONG_PTR kDialogTopicBase = 131072;

// A right click's point, remembered until "What's This?" is chosen from the
// menu shown there: one for the whole library.
POINT g_whatsThisPoint = {0, 0};

HelpRequestHook g_helpRequestHook = nullptr;

}  // namespace

void GetHelpFilePath(char* path) {
    char folder[MAX_PATH];
    DWORD size = sizeof folder;
    if (!ReadSettingString(IDS_HELP_PATH, folder, &size)) folder[0] = '\0';
    char fileName[MAX_PATH];
    LoadText(IDS_HELP_FILE, fileName, sizeof fileName);

    if (folder[0] == '\0') {
        CopyText(path, MAX_PATH, fileName);
        return;
    }
    // A folder too long to take the name behind it would make a cut, wrong
    // path; the name alone still lets WinHelp search for the file.
    if (FormatText(path, MAX_PATH, "%s\\%s", folder, fileName) >= MAX_PATH) CopyText(path, MAX_PATH, fileName);
}

const DWORD* LoadHelpTable(int dialogId) {
    HINSTANCE module = ModuleInstance();
    HRSRC found = FindResourceA(module, MAKEINTRESOURCEA(dialogId), MAKEINTRESOURCEA(RT_HELP_TABLE));
    if (!found) return nullptr;
    HGLOBAL loaded = LoadResource(module, found);
    const DWORD* values = loaded ? static_cast<const DWORD*>(LockResource(loaded)) : nullptr;
    if (!values) return nullptr;

    size_t count = SizeofResource(module, found) / sizeof(DWORD);
    size_t start = 0;
    if (count >= 2 && values[0] == 0) start = 2;  // header: 0 and the dialog's topic
    // WinHelp reads pairs until a control id of 0: a table without one
    // inside the resource is refused rather than read past its end.
    for (size_t i = start; i < count; i += 2) {
        if (values[i] == 0) return values + start;
    }
    return nullptr;
}

void SetHelpRequestHook(HelpRequestHook hook) { g_helpRequestHook = hook; }

BOOL RequestHelp(HWND window, const char* helpFile, UINT command, ULONG_PTR data) {
    if (g_helpRequestHook) return g_helpRequestHook(window, helpFile, command, data);
    return WinHelpA(window, helpFile, command, data);
}

void ShowWhatsThisMenu(HWND window, POINT screenPoint) {
    g_whatsThisPoint = screenPoint;
    HMENU menu = LoadMenuA(ModuleInstance(), MAKEINTRESOURCEA(IDM_WHATS_THIS_MENU));
    if (!menu) return;
    HMENU popup = GetSubMenu(menu, 0);
    if (popup) TrackPopupMenu(popup, TPM_RIGHTBUTTON, screenPoint.x, screenPoint.y, 0, window, nullptr);
    DestroyMenu(menu);
}

void SendWhatsThisHelp(HWND window) {
    POINT point = g_whatsThisPoint;
    ScreenToClient(window, &point);
    HWND control = ChildWindowFromPointEx(window, point, CWP_SKIPINVISIBLE);
    if (!control || control == window) return;  // no control there to explain

    HELPINFO info{};
    info.cbSize = sizeof info;
    info.iContextType = HELPINFO_WINDOW;
    info.iCtrlId = GetDlgCtrlID(control);
    info.hItemHandle = control;
    info.dwContextId = 0;
    info.MousePos = g_whatsThisPoint;
    SendMessageA(window, WM_HELP, 0, reinterpret_cast<LPARAM>(&info));
}

namespace {

bool OnHelp(int dialogId, const HELPINFO* info) {
    if (!info || info->iContextType != HELPINFO_WINDOW) return false;
    const DWORD* table = LoadHelpTable(dialogId);
    if (!table) return false;  // the system's default handling
    char helpFile[MAX_PATH];
    GetHelpFilePath(helpFile);
    RequestHelp(static_cast<HWND>(info->hItemHandle), helpFile, HELP_WM_HELP, reinterpret_cast<ULONG_PTR>(table));
    return true;
}

bool OnContextMenu(HWND dialog, HWND clicked, LPARAM position) {
    POINT point{GET_X_LPARAM(position), GET_Y_LPARAM(position)};
    if (point.x == -1 && point.y == -1) {
        // From the keyboard (Shift+F10, the menu key): there is no click,
        // so take the middle of the window that has the focus.
        RECT frame{};
        GetWindowRect(clicked ? clicked : dialog, &frame);
        point = {(frame.left + frame.right) / 2, (frame.top + frame.bottom) / 2};
    }
    ShowWhatsThisMenu(dialog, point);
    return true;
}

void OpenDialogTopic(HWND dialog, int dialogId) {
    char helpFile[MAX_PATH];
    GetHelpFilePath(helpFile);
    RequestHelp(dialog, helpFile, HELP_CONTEXT, kDialogTopicBase + dialogId);
}

}  // namespace

bool HandleContextHelp(HWND dialog, int dialogId, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_HELP:
        return OnHelp(dialogId, reinterpret_cast<const HELPINFO*>(lParam));
    case WM_CONTEXTMENU:
        return OnContextMenu(dialog, reinterpret_cast<HWND>(wParam), lParam);
    case WM_COMMAND:
        if (HIWORD(wParam) != BN_CLICKED) return false;  // menu commands arrive as 0 too
        if (LOWORD(wParam) == IDM_WHATS_THIS) {
            SendWhatsThisHelp(dialog);
            return true;
        }
        if (LOWORD(wParam) == IDHELP) {
            OpenDialogTopic(dialog, dialogId);
            return true;
        }
        return false;
    default:
        return false;
    }
}
