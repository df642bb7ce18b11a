#include "resource_text.h"

#include <cstdarg>
#include <cstdio>
#include <vector>

#include "app.h"

namespace kickoff {

std::string LoadResString(UINT id) {
    // Resource strings hold at most 4097 characters with their terminator.
    std::vector<char> buffer(4097, '\0');
    const int length = ::LoadStringA(ResourceInstance(), id, buffer.data(), static_cast<int>(buffer.size()));
    return length > 0 ? std::string(buffer.data(), static_cast<std::size_t>(length)) : std::string();
}

std::string FormatBoundedV(std::size_t limit, const char* format, va_list args) {
    if (limit == 0) return std::string();
    std::vector<char> buffer(limit, '\0');
    const int written = std::vsnprintf(buffer.data(), limit, format, args);
    if (written < 0) return std::string();
    return std::string(buffer.data());
}

std::string FormatBounded(std::size_t limit, const char* format, ...) {
    va_list args;
    va_start(args, format);
    std::string text = FormatBoundedV(limit, format, args);
    va_end(args);
    return text;
}

}  // namespace kickoff
