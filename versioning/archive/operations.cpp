// The operations on one file's archive. Each is a short, fixed sequence of
// engine calls around keepshel's own file work: a temporary copy of the
// working file for saves, the target archive for copies and moves, and the
// questions asked of the user.
#include <cstring>
#include <memory>
#include <new>

#include "archive_context.h"
#include "handles.h"
#include "messages.h"
#include "module.h"
#include "paths.h"
#include "transfer.h"
#include "version_time.h"
#include "../resources/resource.h"

namespace {

const char kEmpty[] = "";
constexpr int kReserve = 1;
constexpr int kRelease = 0;
constexpr int kStatusPathTooLong = 103;
// The engine's own status for a source it cannot read; a save whose
// temporary copy failed answers it rather than archiving a partial file.
constexpr int kStatusSourceUnreadable = 7;
constexpr size_t kMaxComment = 128;

// Every message of the archive operations is owned by the desktop.
HWND MessageOwner() { return GetDesktopWindow(); }

// Copies at most `limit` bytes of `source` without splitting a double-byte
// character, and terminates.
void CopyCut(char* target, size_t limit, const char* source, size_t sourceSize) {
    size_t length = strnlen(source, sourceSize);
    if (length > limit) {
        length = 0;
        for (const char* c = source; static_cast<size_t>(c - source) < limit;) {
            const char* next = IsDBCSLeadByte(static_cast<BYTE>(*c)) && c[1] ? c + 2 : c + 1;
            if (static_cast<size_t>(next - source) > limit) break;
            c = next;
            length = static_cast<size_t>(c - source);
        }
    }
    memcpy(target, source, length);
    target[length] = '\0';
}

// "TMP" and "TEMP" as they were before a save; the engine may change them
// while it works. A variable that was unset is unset again.
class TempVariables {
public:
    TempVariables() {
        tmp_.Remember("TMP");
        temp_.Remember("TEMP");
    }
    // Every path out of a save, the engine's refusals included.
    ~TempVariables() { Restore(); }
    TempVariables(const TempVariables&) = delete;
    TempVariables& operator=(const TempVariables&) = delete;
    void Restore() const {
        tmp_.Restore("TMP");
        temp_.Restore("TEMP");
    }

private:
    struct Saved {
        char value[MAX_PATH] = "";
        bool set = false;
        void Remember(const char* name) {
            DWORD length = GetEnvironmentVariableA(name, value, sizeof value);
            set = length > 0 && length < sizeof value;
            if (!set) value[0] = '\0';
            // An empty value is still a set variable.
            if (length == 0 && GetLastError() != ERROR_ENVVAR_NOT_FOUND) set = true;
        }
        void Restore(const char* name) const { SetEnvironmentVariableA(name, set ? value : nullptr); }
    };
    Saved tmp_, temp_;
};

// The copy of the working file that the engine reads: made in the system
// temporary folder with the prefix "KS", writable even when the working
// file is read-only, and deleted on every path out.
class TemporaryCopy {
public:
    explicit TemporaryCopy(const char* workingPath) {
        char folder[MAX_PATH];
        DWORD length = GetTempPathA(sizeof folder, folder);
        if (length == 0 || length >= sizeof folder) return;
        if (!GetTempFileNameA(folder, "KS", 0, path_)) {
            path_[0] = '\0';
            return;
        }
        SplitPath(path_, folder_, name_);
        if (!CopyFileA(workingPath, path_, FALSE)) return;
        DWORD attributes = GetFileAttributesA(path_);
        if (attributes != INVALID_FILE_ATTRIBUTES) SetFileAttributesA(path_, attributes & ~FILE_ATTRIBUTE_READONLY);
        made_ = true;
    }
    ~TemporaryCopy() { Delete(); }
    TemporaryCopy(const TemporaryCopy&) = delete;
    TemporaryCopy& operator=(const TemporaryCopy&) = delete;

    bool made() const { return made_; }
    const char* folder() const { return folder_; }
    const char* name() const { return name_; }
    void Delete() {
        if (!path_[0]) return;
        SetFileAttributesA(path_, FILE_ATTRIBUTE_NORMAL);
        DeleteFileA(path_);
        path_[0] = '\0';
    }

private:
    char path_[MAX_PATH] = "";
    char folder_[MAX_PATH] = "";
    char name_[MAX_PATH] = "";
    bool made_ = false;
};

// The same file, whichever of its names (letter case, short or long form).
bool SameFile(const char* first, const char* second) {
    char firstFull[MAX_PATH], secondFull[MAX_PATH];
    DWORD a = GetFullPathNameA(first, sizeof firstFull, firstFull, nullptr);
    DWORD b = GetFullPathNameA(second, sizeof secondFull, secondFull, nullptr);
    if (a > 0 && a < sizeof firstFull && b > 0 && b < sizeof secondFull) {
        char firstLong[MAX_PATH], secondLong[MAX_PATH];
        if (GetLongPathNameA(firstFull, firstLong, sizeof firstLong) - 1 < sizeof firstLong - 1)
            CopyText(firstFull, sizeof firstFull, firstLong);
        if (GetLongPathNameA(secondFull, secondLong, sizeof secondLong) - 1 < sizeof secondLong - 1)
            CopyText(secondFull, sizeof secondFull, secondLong);
        if (_stricmp(firstFull, secondFull) == 0) return true;
    }
    // Two names of one file on disk share volume and file index.
    FileHandle one(CreateFileA(first, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                               OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    FileHandle two(CreateFileA(second, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                               OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    BY_HANDLE_FILE_INFORMATION infoOne, infoTwo;
    return one && two && GetFileInformationByHandle(one.get(), &infoOne) &&
           GetFileInformationByHandle(two.get(), &infoTwo) &&
           infoOne.dwVolumeSerialNumber == infoTwo.dwVolumeSerialNumber &&
           infoOne.nFileIndexHigh == infoTwo.nFileIndexHigh && infoOne.nFileIndexLow == infoTwo.nFileIndexLow;
}

}  // namespace

// Reads the archive's directory anew. The records stay readable until this
// thread's next read.
static bool ReadDirectory(const ArchiveContext& context, ArchiveDirectory* directory) {
    memset(directory, 0, sizeof *directory);
    if (!context.archiveName[0]) return false;
    char path[MAX_PATH];
    if (FormatText(path, sizeof path, "%s\\%s", context.archiveFolder, context.archiveName) >=
        static_cast<int>(sizeof path))
        return false;
    EngineDirHandle handle = nullptr;
    if (EngineReadDirectory(path, directory, &handle) != 0) return false;
    EngineCloseDirectory(handle);
    return directory->versionCount == 0 || directory->records != nullptr;
}

bool ArchiveContext::WorkingFileIsNewer() const {
    if (!ArchiveExists()) return true;
    return EngineCompareWorking(workingName, archiveName, workingFolder, archiveFolder) > 0;
}

int ArchiveContext::VersionCount() const {
    ArchiveDirectory directory;
    return ReadDirectory(*this, &directory) ? directory.versionCount : -1;
}

int ArchiveContext::TemporaryVersionCount() const {
    ArchiveDirectory directory;
    if (!ReadDirectory(*this, &directory)) return -1;
    int count = 0;
    for (int i = 0; i < directory.versionCount; ++i) {
        if (directory.records[i].permanent == 0) ++count;
    }
    return count;
}

int ArchiveContext::NextVersionNumber() const {
    ArchiveDirectory directory;
    return ReadDirectory(*this, &directory) ? directory.versionCounter : -1;
}

int ArchiveContext::IsCompressed() const {
    ArchiveDirectory directory;
    return ReadDirectory(*this, &directory) ? directory.compressed : 0;
}

int ArchiveContext::MaxTemporaryVersions() const {
    int32_t count = 0;
    if (!archiveName[0] || EngineGetMaxTemporary(archiveName, archiveFolder, &count, &plainTag) != 0) return 10;
    return count;
}

int ArchiveContext::SetMaxTemporaryVersions(int count) {
    if (EngineLock(workingName, archiveName, workingFolder, archiveFolder, userName, kReserve, 0, &productTag) != 0)
        return 0;
    if (EngineSetMaxTemporary(archiveName, archiveFolder, userName, count, &productTag) == 0) return 1;
    // A failed update must not leave the archive reserved.
    EngineLock(workingName, archiveName, workingFolder, archiveFolder, userName, kRelease, 0, &productTag);
    return 0;
}

int ArchiveContext::ListVersions(VersionEntry** entries) const {
    *entries = nullptr;
    ArchiveDirectory directory;
    if (!ReadDirectory(*this, &directory)) return -1;
    int count = directory.versionCount;
    VersionEntry* list = new (std::nothrow) VersionEntry[count > 0 ? count : 1];
    if (!list) return -1;
    for (int i = 0; i < count; ++i) {
        const EngineVersionRecord& record = directory.records[i];
        VersionEntry& entry = list[i];
        memset(&entry, 0, sizeof entry);
        entry.permanent = record.permanent;
        entry.number = record.number;
        CopyCut(entry.updatedBy, sizeof entry.updatedBy - 1, record.userName, sizeof record.userName);
        CopyCut(entry.comment, sizeof entry.comment - 1, record.comment, sizeof record.comment);
        FormatRecordTime(record.dosTime, entry.dateTime);
    }
    *entries = list;
    return count;
}

int ArchiveContext::FormatVersionTime(int number, char* text) const {
    text[0] = '\0';
    if (number == 0) {
        // The working file itself: its last-write time.
        FileHandle file(CreateFileA(workingPath, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                    FILE_ATTRIBUTE_NORMAL, nullptr));
        FILETIME written, local;
        SYSTEMTIME time;
        if (!file || !GetFileTime(file.get(), nullptr, nullptr, &written) ||
            !FileTimeToLocalFileTime(&written, &local) || !FileTimeToSystemTime(&local, &time))
            return 0;
        return FormatLocalTime(time, text) ? 1 : 0;
    }
    ArchiveDirectory directory;
    if (!ReadDirectory(*this, &directory)) return 0;
    for (int i = 0; i < directory.versionCount; ++i) {
        if (directory.records[i].number != number) continue;
        if (FormatRecordTime(directory.records[i].dosTime, text)) return 1;
        text[0] = '\0';
        return 0;
    }
    return 0;
}

int ArchiveContext::SaveFirstVersion(int permanent, int maxTemporary, int compress, int singleLocation) {
    WaitCursor cursor;
    TempVariables variables;
    TemporaryCopy copy(workingPath);

    if (!singleLocation) {
        // The archive goes beside the file whatever the central folder says.
        CopyText(archiveFolder, sizeof archiveFolder, workingFolder);
        FormatText(archivePath, sizeof archivePath, "%s\\%s", archiveFolder, archiveName);
    }
    if (!archiveName[0] || strlen(archiveFolder) + 1 + strlen(archiveName) >= MAX_PATH) {
        copy.Delete();
        ShowMessage(MessageOwner(), IDS_PATH_TOO_LONG, MB_OK | MB_ICONSTOP);
        return kStatusPathTooLong;
    }
    if (!copy.made()) return kStatusSourceUnreadable;

    int status = EngineCreateArchive(copy.name(), archiveName, copy.folder(), archiveFolder, userName, kEmpty, kEmpty,
                                     permanent, 0, 0, maxTemporary, maxTemporary, 0, compress, 0);
    variables.Restore();
    return status;
}

int ArchiveContext::SaveNextVersion(const char* comment, int permanent) {
    WaitCursor cursor;
    TempVariables variables;
    if (!ArchiveExists()) return 0;
    TemporaryCopy copy(workingPath);
    if (!copy.made()) return 0;

    if (!comment) comment = kEmpty;
    char cutComment[kMaxComment + 1];
    CopyCut(cutComment, kMaxComment, comment, strlen(comment) + 1);
    if (EngineLock(copy.name(), archiveName, copy.folder(), archiveFolder, userName, kReserve, 0, &productTag) != 0)
        return 0;
    int status = EngineAddVersion(copy.name(), archiveName, copy.folder(), archiveFolder, userName, cutComment, kEmpty,
                                  permanent, 0, 0, 0, 0, &productTag);
    variables.Restore();
    cursor.Restore();
    copy.Delete();
    if (status == 0) return 1;
    EngineLock(workingName, archiveName, workingFolder, archiveFolder, userName, kRelease, 0, &productTag);
    return 0;
}

int ArchiveContext::RetrieveVersion(const char* targetPath, int number) {
    WaitCursor cursor;
    char folder[MAX_PATH], name[MAX_PATH];
    SplitPath(targetPath, folder, name);
    return EngineExtractVersion(name, archiveName, folder, archiveFolder, userName, kEmpty, number, 2, 0, 1,
                                &productTag);
}

int ArchiveContext::IsPermanent(int number) const {
    int32_t flag = 0;
    if (EngineIsPermanent(archiveName, archiveFolder, kEmpty, number, &flag, &productTag) != 0) return 0;
    return flag;
}

int ArchiveContext::SetPermanent(int number, int flag) {
    if (EngineLock(workingName, archiveName, workingFolder, archiveFolder, userName, kReserve, 0, &productTag) != 0)
        return 0;
    if (EngineSetPermanent(archiveName, archiveFolder, userName, kEmpty, number, flag, &productTag) == 0) return 1;
    EngineLock(workingName, archiveName, workingFolder, archiveFolder, userName, kRelease, 0, &productTag);
    return 0;
}

int ArchiveContext::DeleteVersion(int number) {
    if (IsPermanent(number)) {
        int answer = ShowMessage(MessageOwner(), IDS_CONFIRM_DELETE_PERMANENT, MB_YESNOCANCEL | MB_ICONQUESTION,
                                 number, workingName);
        if (answer == IDCANCEL) return 0;
        if (answer == IDNO) return 1;  // the version stays, and that counts as done
    }
    // The last version goes with its archive file.
    if (VersionCount() == 1) return DeleteArchive();

    if (EngineLock(workingName, archiveName, workingFolder, archiveFolder, userName, kReserve, 0, &productTag) != 0)
        return 0;
    SetPermanent(number, 0);
    if (EngineDeleteVersion(archiveName, archiveFolder, userName, kEmpty, number, 0, &plainTag) == 0) return 1;
    EngineLock(workingName, archiveName, workingFolder, archiveFolder, userName, kRelease, 0, &productTag);
    return 0;
}

int ArchiveContext::DeleteArchive() {
    char path[MAX_PATH];
    if (archiveName[0] && FormatText(path, sizeof path, "%s\\%s", archiveFolder, archiveName) < MAX_PATH)
        DeleteFileA(path);
    return 1;
}

TransferResult TransferWithVersions(ArchiveContext& source, const char* newPath, bool askIfExists, TransferKind kind) {
    const bool move = kind == TransferKind::Move;
    WaitCursor cursor;
    const UINT failedId = move ? IDS_MOVE_FAILED : IDS_COPY_FAILED;
    char targetFolder[MAX_PATH], targetName[MAX_PATH], targetArchiveName[MAX_PATH];
    SplitPath(newPath, targetFolder, targetName);

    // Onto itself: nothing is copied and nothing deleted, or the file and
    // its archive would be lost.
    if (SameFile(source.workingPath, newPath)) {
        cursor.Restore();
        ShowMessage(MessageOwner(), failedId, MB_OK, targetName, targetFolder);
        return TransferResult::Failed;
    }

    ArchiveNameResult named = MakeArchiveName(newPath, targetArchiveName);
    const char* targetArchiveFolder = source.ArchiveBesideFileExists() ? targetFolder : source.archiveFolder;
    char targetArchivePath[MAX_PATH];
    if (named == ArchiveNameResult::TooLong ||
        FormatText(targetArchivePath, sizeof targetArchivePath, "%s\\%s", targetArchiveFolder, targetArchiveName) >=
            static_cast<int>(sizeof targetArchivePath)) {
        cursor.Restore();
        ShowMessage(MessageOwner(), IDS_PATH_TOO_LONG, MB_OK | MB_ICONSTOP);
        return TransferResult::Failed;
    }
    if (named == ArchiveNameResult::NoShortForm) targetArchivePath[0] = '\0';  // the target folder is not there

    int answer = IDYES;
    if (askIfExists && FileExists(newPath)) {
        cursor.Restore();
        answer = ShowMessage(MessageOwner(), IDS_FILE_EXISTS, MB_YESNOCANCEL | MB_ICONWARNING, newPath);
    } else if (targetArchivePath[0] && FileExists(targetArchivePath)) {
        cursor.Restore();
        answer = ShowMessage(MessageOwner(), IDS_ARCHIVE_EXISTS, MB_YESNOCANCEL | MB_ICONWARNING, newPath,
                             targetArchiveFolder);
    }
    if (answer == IDNO) return TransferResult::Skipped;
    if (answer == IDCANCEL) return TransferResult::Cancelled;
    cursor.Show();

    bool archiveExisted = source.ArchiveExists();
    bool archiveCopied = archiveExisted && targetArchivePath[0] && CopyFileA(source.archivePath, targetArchivePath, FALSE);
    bool fileCopied = CopyFileA(source.workingPath, newPath, FALSE) != FALSE;

    // A move removes the sources only when the file and its archive both
    // arrived: the working file is never lost, and never parted from its
    // versions. A half-done move leaves the sources where they were.
    const bool arrived = fileCopied && (!archiveExisted || archiveCopied);
    if (move && arrived) {
        if (archiveCopied) DeleteFileA(source.archivePath);
        SetFileAttributesA(source.workingPath, FILE_ATTRIBUTE_NORMAL);
        DeleteFileA(source.workingPath);
    }
    if (!arrived) {
        cursor.Restore();
        ShowMessage(MessageOwner(), failedId, MB_OK, targetName, targetFolder);
        return TransferResult::Failed;
    }
    return TransferResult::Done;
}

// 1 done or skipped by the user, 0 cancelled or failed.
static int TransferAnswer(TransferResult result) {
    return result == TransferResult::Done || result == TransferResult::Skipped ? 1 : 0;
}

int ArchiveContext::CopyWithVersions(const char* newPath, bool askIfExists) {
    return TransferAnswer(TransferWithVersions(*this, newPath, askIfExists, TransferKind::Copy));
}

int ArchiveContext::MoveWithVersions(const char* newPath, bool askIfExists) {
    return TransferAnswer(TransferWithVersions(*this, newPath, askIfExists, TransferKind::Move));
}
