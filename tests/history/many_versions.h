// An archive of many versions, made by the engine's core in memory and
// written to disk once: through the save operations (a copy, a reservation
// and flushed commits per version) 10,000 versions take minutes. Shared by
// the history tests and the shell benchmark.
#ifndef KEEPSHEL_MANY_VERSIONS_H
#define KEEPSHEL_MANY_VERSIONS_H

#include <windows.h>

#include <memory>
#include <string>
#include <vector>

#include "src/archive.h"
#include "memory_files.h"

namespace kstest {

// Versions 1..count into a new archive at `archivePath`,
// all temporary but every seventh, by "user 0".."user 4" in turn, each
// with the comment "comment N". False when the engine refuses or the
// archive cannot be written.
inline bool MakeManyVersions(const std::string& archivePath, int count) {
    kseng::testing::MemoryFiles memory;
    const std::string work = "work", archive = "archive";
    auto content = [](int number) {
        std::string text = "version " + std::to_string(number) + "\n";
        return std::vector<uint8_t>(text.begin(), text.end());
    };
    kseng::VersionMeta meta;
    auto describe = [&](int number) {
        meta.user = "user " + std::to_string(number % 5);
        meta.comment = "comment " + std::to_string(number);
        meta.permanent = number % 7 == 0;
    };
    memory.put(work, content(1));
    describe(1);
    if (kseng::createArchive(memory, archive, work, meta, kseng::kMaxTemporaryLimit, false) != kseng::kOk)
        return false;
    {
        std::unique_ptr<kseng::File> file = memory.open(archive, kseng::OpenMode::ReadWrite);
        if (!file) return false;
        for (int number = 2; number <= count; ++number) {
            memory.put(work, content(number));
            describe(number);
            if (kseng::addVersion(*file, work, memory, meta) != kseng::kOk) return false;
        }
    }
    std::vector<uint8_t> bytes;
    if (!memory.get(archive, &bytes)) return false;
    HANDLE out = CreateFileA(archivePath.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (out == INVALID_HANDLE_VALUE) return false;
    DWORD written = 0;
    bool ok = WriteFile(out, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) && written == bytes.size();
    CloseHandle(out);
    return ok;
}

}  // namespace kstest

#endif
