// The shell-extension object: context-menu handler, property-sheet handler
// and copy hook in one object with one identity.
#ifndef KEEPSHEL_SHELL_EXT_H
#define KEEPSHEL_SHELL_EXT_H

#include <windows.h>
#include <shlobj.h>

#include <memory>

#include "selected_file_list.h"
#include "../archive/archive_context.h"

struct HistoryPage;

// The interface tables sit in the object in the order of the base classes:
// IContextMenu (the primary one), IShellExtInit, IShellPropSheetExt,
// ICopyHookA. IUnknown is answered with the IShellExtInit pointer.
class CShellExt final : public IContextMenu,
                        public IShellExtInit,
                        public IShellPropSheetExt,
                        public ICopyHookA {
public:
    CShellExt();
    ~CShellExt();
    CShellExt(const CShellExt&) = delete;
    CShellExt& operator=(const CShellExt&) = delete;

    // IUnknown, shared by all four tables
    STDMETHODIMP QueryInterface(REFIID id, void** out) override;
    STDMETHODIMP_(ULONG) AddRef() override;
    STDMETHODIMP_(ULONG) Release() override;

    // IShellExtInit: the shell hands over the selection first
    STDMETHODIMP Initialize(PCIDLIST_ABSOLUTE folder, IDataObject* data, HKEY programKey) override;

    // IContextMenu, in the order the shell calls it
    STDMETHODIMP QueryContextMenu(HMENU menu, UINT position, UINT firstId, UINT lastId, UINT flags) override;
    STDMETHODIMP GetCommandString(UINT_PTR offset, UINT kind, UINT* reserved, CHAR* buffer, UINT size) override;
    STDMETHODIMP InvokeCommand(CMINVOKECOMMANDINFO* info) override;

    // IShellPropSheetExt
    STDMETHODIMP AddPages(LPFNSVADDPROPSHEETPAGE addPage, LPARAM parameter) override;
    STDMETHODIMP ReplacePage(EXPPS pageId, LPFNSVADDPROPSHEETPAGE replacePage, LPARAM parameter) override;

    // ICopyHookA
    STDMETHODIMP_(UINT) CopyCallback(HWND window, UINT operation, UINT flags, LPCSTR source, DWORD sourceAttributes,
                                     LPCSTR destination, DWORD destinationAttributes) override;

    SelectedFileList& files() { return files_; }

    // The sheet has let go of the page this object added: frees the page's
    // record and gives back the reference the page held.
    void OnPageReleased(HistoryPage* page);

private:
    HRESULT RunHistoryCommand(HWND owner);
    HRESULT RunFileCommand(HWND owner, int offset, const char* directory);

    SelectedFileList files_;
    std::unique_ptr<ArchiveContext> pageContext_;  // made by AddPages for the one selected file
    HistoryPage* historyPage_ = nullptr;           // handed to the page AddPages adds
    LONG references_ = 0;
    IDataObject* data_ = nullptr;                  // the shell's selection, held with one reference
};

#endif
