// Shared steps of the archive tests: an archive in memory files, versions
// saved into it, and everything it holds read back.
#ifndef KSENG_TESTS_ARCHIVE_HELPERS_H
#define KSENG_TESTS_ARCHIVE_HELPERS_H

#include "archive.h"
#include "memory_files.h"

#include <gtest/gtest.h>

#include <map>

namespace kseng {
namespace testing {

constexpr const char* kArchive = "dir/doc.ks";
constexpr const char* kCopy = "tmp/copy";

using Contents = std::map<uint32_t, Bytes>;

inline VersionMeta meta(bool permanent = false, const std::string& comment = "") {
    VersionMeta m;
    m.user = "tester";
    m.comment = comment;
    m.permanent = permanent;
    m.dosTime = 0x5A210000;
    return m;
}

inline Status create(MemoryFiles& fs, const Bytes& content, uint32_t maxTemporary = 100, bool compress = false,
                     bool permanent = false) {
    fs.put(kCopy, content);
    return createArchive(fs, kArchive, kCopy, meta(permanent), maxTemporary, compress);
}

inline Status add(MemoryFiles& fs, const Bytes& content, bool permanent = false) {
    fs.put(kCopy, content);
    std::unique_ptr<File> file = fs.open(kArchive, OpenMode::ReadWrite);
    if (!file) return kNoArchive;
    return addVersion(*file, kCopy, fs, meta(permanent));
}

template <typename Change>
Status change(MemoryFiles& fs, Change body) {
    std::unique_ptr<File> file = fs.open(kArchive, OpenMode::ReadWrite);
    if (!file) return kNoArchive;
    return body(*file);
}

// Every version's content, read the way callers read it.
inline Status readAll(MemoryFiles& fs, Contents* out, ArchiveState* state = nullptr) {
    ArchiveState s;
    Status status = readState(fs, kArchive, &s);
    if (status != kOk) return status;
    out->clear();
    for (const VersionEntry& v : s.versions) {
        status = readVersion(fs, kArchive, v.number, &(*out)[v.number]);
        if (status != kOk) return status;
    }
    if (state) *state = s;
    return kOk;
}

}  // namespace testing
}  // namespace kseng

#endif
