// Texts from the program's string table, and bounded printf-style formatting.
#pragma once

#include <windows.h>

#include <string>

namespace kickoff {

// The string with that id, or an empty string when the table lacks it.
std::string LoadResString(UINT id);

// printf-style formatting into at most `limit` - 1 characters; longer
// results are cut, never written past the limit.
std::string FormatBounded(std::size_t limit, const char* format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 2, 3)))
#endif
    ;
std::string FormatBoundedV(std::size_t limit, const char* format, va_list args);

}  // namespace kickoff
