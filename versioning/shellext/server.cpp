// The library entry point and the two standard exports of a COM server.
#include <objbase.h>

#include "server.h"
#include "../archive/module.h"

LONG g_objectCount = 0;

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

extern "C" HRESULT WINAPI DllGetClassObject(REFCLSID, REFIID, LPVOID* out) {
    Trace("In DllGetClassObject\r\n");
    if (out) *out = nullptr;
    return CLASS_E_CLASSNOTAVAILABLE;
}
