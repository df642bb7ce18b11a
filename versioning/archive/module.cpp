#include "module.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

namespace {
HINSTANCE g_instance = nullptr;
}

HINSTANCE ModuleInstance() { return g_instance; }

void SetModuleInstance(HINSTANCE instance) { g_instance = instance; }

int LoadText(UINT id, char* buffer, int size) {
    if (size <= 0) return 0;
    buffer[0] = '\0';
    int length = LoadStringA(g_instance, id, buffer, size);
    if (length <= 0) buffer[0] = '\0';
    return length > 0 ? length : 0;
}

int FormatText(char* buffer, size_t size, const char* format, ...) {
    if (size == 0) return 0;
    va_list args;
    va_start(args, format);
    int length = vsnprintf(buffer, size, format, args);
    va_end(args);
    if (length < 0) {
        buffer[0] = '\0';
        return 0;
    }
    return length;
}

bool CopyText(char* target, size_t size, const char* source) {
    if (size == 0) return false;
    size_t length = strlen(source);
    bool fits = length < size;
    if (!fits) length = size - 1;
    memcpy(target, source, length);
    target[length] = '\0';
    return fits;
}
