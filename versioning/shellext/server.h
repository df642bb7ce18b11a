// Process-wide state of the COM server.
#ifndef KEEPSHEL_SERVER_H
#define KEEPSHEL_SERVER_H

#include <windows.h>

// The one class the server hands out: context-menu handler, property-sheet
// handler and copy hook in one object.
// {5B2E7C41-9A3D-4F18-B6C2-7E1D0A94C3F5}
extern const CLSID CLSID_KeepsakeShellExt;

// Live class factories, extension objects and property pages; the library
// may unload only at zero. Changed with interlocked operations: the shell
// calls extensions from several threads.
extern LONG g_objectCount;

// Writes one trace line for a debugger to see.
inline void Trace(const char* line) { OutputDebugStringA(line); }

#endif
