#include "refusals.h"

#include "archive_context.h"
#include "handles.h"
#include "module.h"
#include "../resources/resource.h"

namespace {

constexpr uint64_t kMiB = 1024 * 1024;
constexpr uint64_t kGiB = 1024 * kMiB;
constexpr uint64_t kTiB = 1024 * kGiB;
// Less room than this on the archive's disk (or than the file itself) is
// taken for a full disk when a write failed.
constexpr uint64_t kLeastRoom = kMiB;

bool ArchiveCannotBeWritten(const ArchiveContext& context) {
    DWORD attributes = GetFileAttributesA(context.archivePath);
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY)) return true;
    FileHandle file(CreateFileA(context.archivePath, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (file) return false;
    DWORD error = GetLastError();
    return error == ERROR_ACCESS_DENIED || error == ERROR_WRITE_PROTECT;
}

bool DiskNearlyFull(const ArchiveContext& context) {
    ULARGE_INTEGER available{};
    const char* folder = context.archiveFolder[0] ? context.archiveFolder : context.workingFolder;
    char root[MAX_PATH + 1];
    if (FormatText(root, sizeof root, "%s\\", folder) >= static_cast<int>(sizeof root)) return false;
    if (!GetDiskFreeSpaceExA(root, &available, nullptr, nullptr)) return false;
    uint64_t needed = kLeastRoom;
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (GetFileAttributesExA(context.workingPath, GetFileExInfoStandard, &data)) {
        uint64_t size = (static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
        if (size > needed) needed = size;
    }
    return available.QuadPart < needed;
}

}  // namespace

uint64_t EngineFileSizeLimit() {
    // The engine streams every version in bounded memory; its 32-bit build
    // stops at what its address space can hold the frame index of.
    return sizeof(void*) == 4 ? kTiB : 16 * kTiB;
}

int StatusOfFileError(DWORD error) {
    switch (error) {
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
        return status::kFileInUse;
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
        return status::kFileGone;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
        return status::kDiskFull;
    case ERROR_NOT_ENOUGH_MEMORY:
    case ERROR_OUTOFMEMORY:
        return status::kOutOfMemory;
    default:
        return status::kUnreadable;
    }
}

int StatusOfArchiveFailure(const ArchiveContext& context, int engineStatus) {
    if (engineStatus != status::kIoFailed) return engineStatus;
    if (ArchiveCannotBeWritten(context)) return status::kReadOnly;
    if (DiskNearlyFull(context)) return status::kDiskFull;
    return engineStatus;
}

void FormatSizeLimit(char* text, size_t size) {
    uint64_t limit = EngineFileSizeLimit();
    char format[32];
    if (limit >= kTiB && limit % kTiB == 0) {
        LoadText(IDS_SIZE_TB, format, sizeof format);
        FormatText(text, size, format, static_cast<unsigned>(limit / kTiB));
    } else if (limit >= kGiB && limit % kGiB == 0) {
        LoadText(IDS_SIZE_GB, format, sizeof format);
        FormatText(text, size, format, static_cast<unsigned>(limit / kGiB));
    } else {
        LoadText(IDS_SIZE_MB, format, sizeof format);
        FormatText(text, size, format, static_cast<unsigned>(limit / kMiB));
    }
}

void FormatRefusalReason(const ArchiveContext& context, int outcome, char* text, size_t size) {
    UINT id = IDS_REASON_OTHER;
    const char* folder = context.archiveFolder[0] ? context.archiveFolder : context.workingFolder;
    switch (outcome) {
    case status::kReserved: id = IDS_REASON_BUSY; break;
    case status::kDamaged: id = IDS_REASON_DAMAGED; break;
    case status::kNewerEngine: id = IDS_REASON_NEWER_ENGINE; break;
    case status::kReadOnly: id = IDS_REASON_READ_ONLY; break;
    case status::kIoFailed: id = IDS_REASON_UNREACHABLE; break;
    case status::kDiskFull: id = IDS_REASON_DISK_FULL; break;
    case status::kTooLarge: id = IDS_REASON_TOO_LARGE; break;
    case status::kFileInUse: id = IDS_REASON_IN_USE; break;
    case status::kUnreadable: id = IDS_REASON_UNREADABLE; break;
    case status::kFileGone: id = IDS_REASON_FILE_GONE; break;
    case status::kNumbersUsedUp: id = IDS_REASON_NUMBERS_USED_UP; break;
    case status::kNoArchive:
    case status::kArchiveGone: id = IDS_REASON_ARCHIVE_GONE; break;
    case status::kPathTooLong: id = IDS_REASON_PATH_TOO_LONG; break;
    case status::kOutOfMemory: id = IDS_REASON_OUT_OF_MEMORY; break;
    case status::kIsArchive: id = IDS_REASON_IS_ARCHIVE; break;
    case status::kExists: id = IDS_REASON_ARCHIVE_APPEARED; break;
    case status::kFolderMissing: id = IDS_REASON_FOLDER_MISSING; break;
    case status::kNoShortName: id = IDS_REASON_NO_SHORT_NAME; break;
    case status::kCantCreateFolder: id = IDS_REASON_CANT_CREATE_FOLDER; break;
    default: break;
    }
    char format[300];
    LoadText(id, format, sizeof format);
    switch (id) {
    case IDS_REASON_READ_ONLY:
    case IDS_REASON_UNREACHABLE:
    case IDS_REASON_DISK_FULL:
    case IDS_REASON_CANT_CREATE_FOLDER:
        FormatText(text, size, format, folder);
        break;
    case IDS_REASON_TOO_LARGE: {
        char limit[32];
        FormatSizeLimit(limit, sizeof limit);
        FormatText(text, size, format, limit);
        break;
    }
    case IDS_REASON_OTHER:
        FormatText(text, size, format, outcome);
        break;
    default:
        CopyText(text, size, format);
        break;
    }
}
