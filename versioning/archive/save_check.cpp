#include "save_check.h"

#include "handles.h"
#include "refusals.h"

namespace {

// Opens the working file as the save will read it; others may go on
// reading and writing it.
FileHandle OpenForReading(const char* path) {
    return FileHandle(CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                  FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
}

}  // namespace

FileCheck CheckWorkingFile(const ArchiveContext& context) {
    if (IsArchiveFileName(context.workingPath)) return {FileState::Refused, status::kIsArchive};
    {
        FileHandle file = OpenForReading(context.workingPath);
        if (!file) return {FileState::Refused, StatusOfFileError(GetLastError())};
        // The full 64-bit size, against the engine's limit, before any
        // dialog and before anything is copied.
        LARGE_INTEGER size{};
        if (!GetFileSizeEx(file.get(), &size)) return {FileState::Refused, status::kUnreadable};
        if (size.QuadPart == 0) return {FileState::Empty, status::kOk};
        if (static_cast<uint64_t>(size.QuadPart) > EngineFileSizeLimit()) return {FileState::Refused, status::kTooLarge};
    }
    if (!context.ArchiveExists()) return {FileState::Ready, status::kOk};

    int compared = EngineCompareWorking(context.workingName, context.archiveName, context.workingFolder,
                                        context.archiveFolder);
    if (compared > 0) return {FileState::Ready, status::kOk};
    if (compared == 0) return {FileState::Unchanged, status::kOk};
    // A negative answer is the status that kept the engine from comparing:
    // never "not newer".
    int refused = -compared;
    if (refused == status::kNoArchive) return {FileState::Ready, status::kOk};  // gone meanwhile: a first version
    if (refused == status::kUnreadable) {
        FileHandle file = OpenForReading(context.workingPath);
        return {FileState::Refused, file ? status::kUnreadable : StatusOfFileError(GetLastError())};
    }
    return {FileState::Refused, StatusOfArchiveFailure(context, refused)};
}
