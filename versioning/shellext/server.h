// Process-wide state of the COM server.
#ifndef KEEPSHEL_SERVER_H
#define KEEPSHEL_SERVER_H

#include <windows.h>

// Live class factories, extension objects and property pages; the library
// may unload only at zero. Changed with interlocked operations: the shell
// calls extensions from several threads.
extern LONG g_objectCount;

// Writes one trace line for a debugger to see.
inline void Trace(const char* line) { OutputDebugStringA(line); }

#endif
