// Entry point of kseng32.dll: a thread that ends gives back the records of
// its last directory read.
#include <windows.h>

namespace kseng {
void releaseThreadRecords();
}

BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID) {
    if (reason == DLL_THREAD_DETACH) kseng::releaseThreadRecords();
    return TRUE;
}
