// CShellExt as a property-sheet handler, and the "&History..." command.
#include "server.h"
#include "shell_ext.h"

STDMETHODIMP CShellExt::AddPages(LPFNSVADDPROPSHEETPAGE, LPARAM) {
    // The history page is not built yet: no file gets a page.
    return S_OK;
}

STDMETHODIMP CShellExt::ReplacePage(EXPPS, LPFNSVADDPROPSHEETPAGE, LPARAM) {
    Trace("CShellExt::ReplacePage()\r\n");
    return E_FAIL;  // no page of the shell is replaced
}

HRESULT CShellExt::RunHistoryCommand(HWND) {
    // The history window is not built yet; like every command, it answers S_OK.
    return S_OK;
}
