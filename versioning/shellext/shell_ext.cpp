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

// Locks a global memory block for its lifetime.
class LockedGlobal {
public:
    explicit LockedGlobal(HGLOBAL memory) : memory_(memory), data_(memory ? GlobalLock(memory) : nullptr) {}
    ~LockedGlobal() {
        if (data_) GlobalUnlock(memory_);
    }
    LockedGlobal(const LockedGlobal&) = delete;
    LockedGlobal& operator=(const LockedGlobal&) = delete;
    const BYTE* data() const { return static_cast<const BYTE*>(data_); }

private:
    HGLOBAL memory_;
    void* data_;
};

// Calls `take` once for each name of a CF_HDROP block, in order: with the
// name in the single-byte code page, or with null for a name that does not
// fit MAX_PATH characters that way. The block is a DROPFILES header and a
// list of names (wide or single-byte) ended by an empty one; nothing beyond
// the block's size is read, and a name the block cuts off is not taken.
template <typename Take>
void ForEachDroppedName(HDROP drop, Take take) {
    if (!drop) return;
    LockedGlobal lock(drop);
    const BYTE* block = lock.data();
    SIZE_T size = GlobalSize(drop);
    if (!block || size < sizeof(DROPFILES)) return;
    const auto* header = reinterpret_cast<const DROPFILES*>(block);
    if (header->pFiles < sizeof(DROPFILES) || header->pFiles >= size) return;

    if (header->fWide) {
        const auto* name = reinterpret_cast<const WCHAR*>(block + header->pFiles);
        const WCHAR* end = name + (size - header->pFiles) / sizeof(WCHAR);
        while (name < end && *name) {
            const WCHAR* stop = name;
            while (stop < end && *stop) ++stop;
            if (stop == end) return;
            char path[MAX_PATH];
            int length = static_cast<int>(stop - name);
            int written = WideCharToMultiByte(CP_ACP, 0, name, length, path, MAX_PATH - 1, nullptr, nullptr);
            bool fits = length == 0 || written > 0;
            if (fits) path[written] = '\0';
            take(fits ? path : nullptr);
            name = stop + 1;
        }
    } else {
        const char* name = reinterpret_cast<const char*>(block + header->pFiles);
        const char* end = reinterpret_cast<const char*>(block + size);
        while (name < end && *name) {
            const char* stop = static_cast<const char*>(memchr(name, '\0', static_cast<size_t>(end - name)));
            if (!stop) return;
            take(static_cast<size_t>(stop - name) < MAX_PATH ? name : nullptr);
            name = stop + 1;
        }
    }
}

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
        // Each name is read once, in one pass over the drop list: asking
        // the system for name i walks the list from its start every time.
        // Each name goes in front of the list, earlier selections included.
        UINT count = 0;
        ForEachDroppedName(medium.drop(), [&](const char* name) {
            ++count;
            // A name longer than an entry would come back cut short, naming
            // another file or none: it is left out.
            if (name) files_.Add(name);
        });
        if (count == 0) return E_FAIL;
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
