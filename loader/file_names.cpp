#include "file_names.h"

#include <windows.h>

#include <climits>
#include <vector>

#include "vista_api.h"

namespace kickoff {
namespace {

bool OrdinalEqualIgnoringCase(const wchar_t* a, std::size_t aLength, const wchar_t* b, std::size_t bLength) {
    if (aLength != bLength) return false;
    if (aLength == 0) return true;
    if (aLength > static_cast<std::size_t>(INT_MAX)) return false;
    return ::CompareStringOrdinal(a, static_cast<int>(aLength), b, static_cast<int>(bLength), TRUE) == CSTR_EQUAL;
}

}  // namespace

std::wstring WideFromAnsi(const std::string& text) {
    if (text.empty() || text.size() > static_cast<std::size_t>(INT_MAX)) return std::wstring();
    const int length = ::MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    if (length <= 0) return std::wstring();
    std::vector<wchar_t> wide(static_cast<std::size_t>(length));
    ::MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), wide.data(), length);
    return std::wstring(wide.data(), wide.size());
}

std::wstring FileNamePart(const std::wstring& path) {
    const std::size_t slash = path.rfind(L'\\');
    return slash == std::wstring::npos ? path : path.substr(slash + 1);
}

bool SameFileName(const std::wstring& a, const std::wstring& b) {
    return OrdinalEqualIgnoringCase(a.data(), a.size(), b.data(), b.size());
}

bool FileNameStartsWith(const std::wstring& name, const std::wstring& prefix) {
    return prefix.size() <= name.size() && OrdinalEqualIgnoringCase(name.data(), prefix.size(), prefix.data(), prefix.size());
}

}  // namespace kickoff
