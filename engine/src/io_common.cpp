#include "io.h"

#include <atomic>
#include <cstdio>

namespace kseng {

std::string comparablePath(const std::string& path) {
    std::string key = path;
#ifdef _WIN32
    for (char& c : key) {
        if (c == '/') c = '\\';
        else if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    }
#endif
    return key;
}

std::string scratchName(const std::string& path, unsigned processId) {
    static std::atomic<unsigned> counter{0};
    size_t slash = path.find_last_of("\\/");
    std::string folder = slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
    char name[32];
    std::snprintf(name, sizeof name, "~ks%x-%x.tmp", processId, counter++);
    return folder + name;
}

}  // namespace kseng
