// CShellExt: identity, reference counts, the selection from the shell, and
// the copy hook.
#include "shell_ext.h"

#include <shellapi.h>

#include "server.h"
#include "../history/history_page.h"

namespace {

// The shell's drop data in CF_HDROP form; released on every path out.
class HdropMedium {
public:
    explicit HdropMedium(IDataObject* data) {
        FORMATETC format = {CF_HDROP, nullptr, DVASPECT_CONTENT, -1, TYMED_HGLOBAL};
        ok_ = data && SUCCEEDED(data->GetData(&format, &medium_));
    }
    ~HdropMedium() {
        if (ok_) ReleaseStgMedium(&medium_);
    }
    HdropMedium(const HdropMedium&) = delete;
    HdropMedium& operator=(const HdropMedium&) = delete;

    bool ok() const { return ok_; }
    HDROP drop() const { return ok_ ? static_cast<HDROP>(medium_.hGlobal) : nullptr; }

private:
    STGMEDIUM medium_ = {};
    bool ok_ = false;
};

}  // namespace

CShellExt::CShellExt() {
    Trace("CShellExt::CShellExt()\r\n");
    InterlockedIncrement(&g_objectCount);
}

CShellExt::~CShellExt() {
    if (data_) data_->Release();
    delete historyPage_;  // only a record no page ever took is still here
    InterlockedDecrement(&g_objectCount);
}

STDMETHODIMP CShellExt::QueryInterface(REFIID id, void** out) {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (IsEqualIID(id, IID_IShellExtInit) || IsEqualIID(id, IID_IUnknown)) {
        Trace("CShellExt::QueryInterface()==>IID_IShellExtInit\r\n");
        *out = static_cast<IShellExtInit*>(this);
    } else if (IsEqualIID(id, IID_IContextMenu)) {
        Trace("CShellExt::QueryInterface()==>IID_IContextMenu\r\n");
        *out = static_cast<IContextMenu*>(this);
    } else if (IsEqualIID(id, IID_IShellPropSheetExt)) {
        Trace("CShellExt::QueryInterface()==>IShellPropSheetExt\r\n");
        *out = static_cast<IShellPropSheetExt*>(this);
    } else if (IsEqualIID(id, IID_IShellCopyHookA)) {
        Trace("CShellExt::QueryInterface()==>ICopyHook\r\n");
        *out = static_cast<ICopyHookA*>(this);
    } else {
        Trace("CShellExt::QueryInterface()==>Unknown Interface!\r\n");
        return E_NOINTERFACE;
    }
    AddRef();
    return S_OK;
}

STDMETHODIMP_(ULONG) CShellExt::AddRef() {
    Trace("CShellExt::AddRef()\r\n");
    return static_cast<ULONG>(InterlockedIncrement(&references_));
}

STDMETHODIMP_(ULONG) CShellExt::Release() {
    Trace("CShellExt::Release()\r\n");
    LONG remaining = InterlockedDecrement(&references_);
    if (remaining == 0) delete this;
    return static_cast<ULONG>(remaining);
}

STDMETHODIMP CShellExt::Initialize(PCIDLIST_ABSOLUTE, IDataObject* data, HKEY) {
    Trace("CShellExt::Initialize()\r\n");
    try {
        // A new data object replaces the held one. A call without one keeps
        // the held one: it is read below and must still be alive.
        if (data) {
            data->AddRef();
            if (data_) data_->Release();
            data_ = data;
        }

        HdropMedium medium(data_);
        if (!medium.ok()) return E_FAIL;
        UINT count = medium.drop() ? DragQueryFileA(medium.drop(), 0xFFFFFFFF, nullptr, 0) : 0;
        if (count == 0) return E_FAIL;

        // Each name goes in front of the list, earlier selections included.
        for (UINT index = 0; index < count; ++index) {
            // A name longer than an entry would come back cut short, naming
            // another file or none: it is left out.
            if (DragQueryFileA(medium.drop(), index, nullptr, 0) >= MAX_PATH) continue;
            char path[MAX_PATH];
            if (DragQueryFileA(medium.drop(), index, path, sizeof path) == 0) continue;
            files_.Add(path);
        }
        return S_OK;
    } catch (...) {
        return E_FAIL;
    }
}

STDMETHODIMP_(UINT) CShellExt::CopyCallback(HWND, UINT, UINT, LPCSTR, DWORD, LPCSTR, DWORD) {
    // Every shell copy, move, rename and delete goes ahead; files travel
    // with their versions only through the menu's own commands.
    Trace("CShellExt::CopyCallback\r\n");
    return IDYES;
}
