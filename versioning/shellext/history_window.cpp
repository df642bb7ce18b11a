#include "history_window.h"

#include <prsht.h>

#include "server.h"
#include "../archive/module.h"
#include "../history/history_page.h"
#include "../resources/resource.h"

int ShowHistoryWindow(HWND owner, HistoryPage* page) {
    char format[100], title[100 + MAX_PATH];
    LoadText(IDS_HISTORY_TITLE, format, sizeof format);
    FormatText(title, sizeof title, format, page->context->workingName);

    // One window per file name, found by its title.
    HWND open = FindWindowA("#32770", title);
    if (open) {
        SetForegroundWindow(open);
        SetFocus(open);
        return 2;
    }

    PROPSHEETPAGEA description = MakeHistoryPageDescription(
        page, kHistoryWindowPageFlags, nullptr, reinterpret_cast<UINT*>(&g_objectCount));
    PROPSHEETHEADERA sheet{};
    sheet.dwSize = kHistorySheetHeaderSize;
    sheet.dwFlags = PSH_PROPSHEETPAGE;
    sheet.hwndParent = owner;
    sheet.hInstance = ModuleInstance();
    sheet.pszCaption = title;
    sheet.nPages = 1;
    sheet.nStartPage = 0;
    sheet.ppsp = &description;
    return static_cast<int>(PropertySheetA(&sheet));
}
