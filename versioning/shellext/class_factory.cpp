#include "class_factory.h"

#include <new>

#include "server.h"
#include "shell_ext.h"

const CLSID CLSID_KeepsakeShellExt = {0x5B2E7C41, 0x9A3D, 0x4F18, {0xB6, 0xC2, 0x7E, 0x1D, 0x0A, 0x94, 0xC3, 0xF5}};

LONG g_objectCount = 0;

CShellExtClassFactory::CShellExtClassFactory() {
    Trace("CShellExtClassFactory::CShellExtClassFactory()\r\n");
    InterlockedIncrement(&g_objectCount);
}

CShellExtClassFactory::~CShellExtClassFactory() { InterlockedDecrement(&g_objectCount); }

STDMETHODIMP CShellExtClassFactory::QueryInterface(REFIID id, void** out) {
    Trace("CShellExtClassFactory::QueryInterface()\r\n");
    if (!out) return E_POINTER;
    *out = nullptr;
    if (!IsEqualIID(id, IID_IUnknown) && !IsEqualIID(id, IID_IClassFactory)) return E_NOINTERFACE;
    *out = static_cast<IClassFactory*>(this);
    AddRef();
    return S_OK;
}

STDMETHODIMP_(ULONG) CShellExtClassFactory::AddRef() { return static_cast<ULONG>(InterlockedIncrement(&references_)); }

STDMETHODIMP_(ULONG) CShellExtClassFactory::Release() {
    LONG remaining = InterlockedDecrement(&references_);
    if (remaining == 0) delete this;
    return static_cast<ULONG>(remaining);
}

STDMETHODIMP CShellExtClassFactory::CreateInstance(IUnknown* outer, REFIID id, void** out) {
    Trace("CShellExtClassFactory::CreateInstance()\r\n");
    if (!out) return E_POINTER;
    *out = nullptr;
    if (outer) return CLASS_E_NOAGGREGATION;
    auto* object = new (std::nothrow) CShellExt;
    if (!object) return E_OUTOFMEMORY;
    // The object's first reference is the one QueryInterface takes; an
    // interface it does not answer leaves it with none, so it goes now
    // instead of keeping the library loaded for good.
    HRESULT result = object->QueryInterface(id, out);
    if (FAILED(result)) delete object;
    return result;
}

STDMETHODIMP CShellExtClassFactory::LockServer(BOOL) { return S_OK; }

HRESULT CreateClassFactory(REFIID id, void** out) {
    if (!out) return E_POINTER;
    *out = nullptr;
    auto* factory = new (std::nothrow) CShellExtClassFactory;
    if (!factory) return E_OUTOFMEMORY;
    HRESULT result = factory->QueryInterface(id, out);
    if (FAILED(result)) delete factory;  // nobody holds it
    return result;
}
