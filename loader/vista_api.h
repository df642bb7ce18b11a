// System calls of Windows Vista and later that the loader uses, declared
// here while the build's headers are set to an older Windows.
#pragma once

#include <windows.h>

#if _WIN32_WINNT < 0x0600
extern "C" {
WINBASEAPI int WINAPI CompareStringOrdinal(LPCWCH string1, int count1, LPCWCH string2, int count2,
                                           WINBOOL ignoreCase);
WINBASEAPI WINBOOL WINAPI QueryFullProcessImageNameW(HANDLE process, DWORD flags, LPWSTR name, PDWORD size);
}
#endif

#ifndef PROCESS_QUERY_LIMITED_INFORMATION
#define PROCESS_QUERY_LIMITED_INFORMATION 0x1000
#endif
