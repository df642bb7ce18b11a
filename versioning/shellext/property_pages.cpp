// CShellExt as a property-sheet handler, and the "&History..." command.
#include <cstdlib>
#include <cstring>
#include <new>

#include "history_window.h"
#include "server.h"
#include "shell_ext.h"
#include "../history/history_page.h"

namespace {

// The page's callback: when the sheet lets the page go, the page's record
// and the reference it held on the extension object go with it.
UINT CALLBACK HistoryPageCallback(HWND, UINT message, LPPROPSHEETPAGEA description) {
    if (message == PSPCB_RELEASE && description) {
        auto* page = reinterpret_cast<HistoryPage*>(description->lParam);
        if (page && page->owner) page->owner->OnPageReleased(page);
    }
    return 1;  // page creation is always allowed
}

// Whether the path (in its short form) ends in ".lnk", compared byte for
// byte: shortcuts get no history page.
bool IsShortcut(const char* path) {
    char shortPath[MAX_PATH];
    lstrcpynA(shortPath, path, sizeof shortPath);
    DWORD length = GetShortPathNameA(path, shortPath, sizeof shortPath);
    if (length == 0 || length >= sizeof shortPath) lstrcpynA(shortPath, path, sizeof shortPath);
    char drive[_MAX_DRIVE], dir[MAX_PATH], name[MAX_PATH], ext[MAX_PATH];
    if (_splitpath_s(shortPath, drive, sizeof drive, dir, sizeof dir, name, sizeof name, ext, sizeof ext) != 0)
        return false;
    return strcmp(ext, ".lnk") == 0;
}

}  // namespace

STDMETHODIMP CShellExt::AddPages(LPFNSVADDPROPSHEETPAGE addPage, LPARAM parameter) {
    try {
        if (files_.Count() != 1 || !addPage) return S_OK;
        const char* path = files_.First()->path;
        if (IsShortcut(path)) return S_OK;
        // A page already handed out keeps the context it was made with.
        if (historyPage_) return S_OK;

        pageContext_.reset(new (std::nothrow) ArchiveContext);
        if (!pageContext_) return S_OK;
        // Like the menu, the sheet being built shows no message: a file
        // without a place for its archive simply gets no page.
        if (pageContext_->Locate(path) != 0 || !pageContext_->ArchiveExists()) return S_OK;

        historyPage_ = new (std::nothrow) HistoryPage(pageContext_.get(), this);
        if (!historyPage_) return S_OK;
        // The page holds the object, and with it the context, until the
        // sheet releases the page.
        AddRef();
        PROPSHEETPAGEA description = MakeHistoryPageDescription(
            historyPage_, kPropertiesPageFlags, HistoryPageCallback, reinterpret_cast<UINT*>(&g_objectCount));
        HPROPSHEETPAGE page = CreatePropertySheetPageA(&description);
        if (!page) {
            // No page, so no release will come: give the reference back here.
            OnPageReleased(historyPage_);
            return S_OK;
        }
        if (!addPage(page, parameter)) DestroyPropertySheetPage(page);  // releases through the callback
        return S_OK;
    } catch (...) {
        return S_OK;
    }
}

void CShellExt::OnPageReleased(HistoryPage* page) {
    if (page != historyPage_) return;
    delete historyPage_;
    historyPage_ = nullptr;
    Release();  // may be the last reference: nothing of this object is used after it
}

STDMETHODIMP CShellExt::ReplacePage(EXPPS, LPFNSVADDPROPSHEETPAGE, LPARAM) {
    Trace("CShellExt::ReplacePage()\r\n");
    return E_FAIL;  // no page of the shell is replaced
}

HRESULT CShellExt::RunHistoryCommand(HWND owner) {
    if (files_.Count() != 1) return S_OK;  // the menu offers it for one file only
    ArchiveContext context;
    // A refused path has been told; no window without a name follows.
    if (!context.Resolve(files_.First()->path, true, nullptr)) return S_OK;
    HistoryPage page(&context);
    ShowHistoryWindow(owner, &page);
    return S_OK;
}
