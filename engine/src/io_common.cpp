#include "io.h"

namespace kseng {

bool readWholeFile(FileSystem& fs, const std::string& path, uint64_t limit,
                   std::vector<uint8_t>* out, bool* tooLarge) {
    *tooLarge = false;
    std::unique_ptr<File> file = fs.open(path, OpenMode::Read);
    uint64_t size = 0;
    if (!file || !file->size(&size)) return false;
    if (size > limit) {
        *tooLarge = true;
        return false;
    }
    out->resize(static_cast<size_t>(size));
    return size == 0 || file->readAt(0, out->data(), out->size());
}

}  // namespace kseng

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
