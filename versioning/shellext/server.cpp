// The library entry point and the two standard exports of a COM server.
#include <objbase.h>

#include "class_factory.h"
#include "server.h"
#include "../archive/module.h"

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
    switch (reason) {
    case DLL_PROCESS_ATTACH:
        Trace("In DLLMain, DLL_PROCESS_ATTACH\r\n");
        SetModuleInstance(instance);
        break;
    case DLL_PROCESS_DETACH:
        Trace("In DLLMain, DLL_PROCESS_DETACH\r\n");
        break;
    default:
        break;
    }
    return TRUE;
}

extern "C" HRESULT WINAPI DllCanUnloadNow() {
    Trace("In DLLCanUnloadNow\r\n");
    return InterlockedCompareExchange(&g_objectCount, 0, 0) == 0 ? S_OK : S_FALSE;
}

// Each call makes a fresh factory; its first reference is the caller's.
extern "C" HRESULT WINAPI DllGetClassObject(REFCLSID classId, REFIID id, LPVOID* out) {
    Trace("In DllGetClassObject\r\n");
    if (!out) return E_POINTER;
    *out = nullptr;
    if (!IsEqualCLSID(classId, CLSID_KeepsakeShellExt)) return CLASS_E_CLASSNOTAVAILABLE;
    return CreateClassFactory(id, out);
}
