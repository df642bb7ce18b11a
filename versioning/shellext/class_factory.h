// The class object of the server: makes CShellExt objects.
#ifndef KEEPSHEL_CLASS_FACTORY_H
#define KEEPSHEL_CLASS_FACTORY_H

#include <objbase.h>

class CShellExtClassFactory final : public IClassFactory {
public:
    CShellExtClassFactory();
    ~CShellExtClassFactory();
    CShellExtClassFactory(const CShellExtClassFactory&) = delete;
    CShellExtClassFactory& operator=(const CShellExtClassFactory&) = delete;

    // IUnknown
    STDMETHODIMP QueryInterface(REFIID id, void** out) override;
    STDMETHODIMP_(ULONG) AddRef() override;
    STDMETHODIMP_(ULONG) Release() override;

    // IClassFactory
    STDMETHODIMP CreateInstance(IUnknown* outer, REFIID id, void** out) override;
    STDMETHODIMP LockServer(BOOL lock) override;

private:
    LONG references_ = 0;
};

// A fresh factory answering `id`; the factory's first reference is the
// one handed out. The out pointer is cleared first.
HRESULT CreateClassFactory(REFIID id, void** out);

#endif
