// The module whose resources keepshel loads: the DLL itself, or a test
// program that carries the same resources.
#ifndef KEEPSHEL_MODULE_H
#define KEEPSHEL_MODULE_H

#include <windows.h>

HINSTANCE ModuleInstance();
void SetModuleInstance(HINSTANCE instance);

// Loads string `id` into `buffer` (always terminated; empty when missing).
int LoadText(UINT id, char* buffer, int size);

// Bounded formatting: never writes past `size`, always terminates.
int FormatText(char* buffer, size_t size, const char* format, ...)
    __attribute__((format(printf, 3, 4)));

// Bounded copy; answers false (and copies what fits) when `source` is longer.
bool CopyText(char* target, size_t size, const char* source);

#endif
