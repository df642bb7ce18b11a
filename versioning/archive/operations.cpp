// The operations on one file's archive. Each is a short, fixed sequence of
// engine calls around keepshel's own file work: a temporary copy of the
// working file for saves, the target archive for copies and moves, and the
// questions asked of the user.
#include <cstring>
#include <memory>
#include <new>
#include <string>

#include "archive_context.h"
#include "file_moves.h"
#include "handles.h"
#include "messages.h"
#include "module.h"
#include "paths.h"
#include "refusals.h"
#include "reservation.h"
#include "transfer.h"
#include "version_time.h"
#include "../resources/resource.h"

namespace {

const char kEmpty[] = "";
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
// while it works. A variable that was unset is unset again, and a value of
// any length comes back whole.
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
        std::string value;
        bool set = false;
        void Remember(const char* name) {
            SetLastError(ERROR_SUCCESS);
            DWORD needed = GetEnvironmentVariableA(name, nullptr, 0);
            if (needed == 0) {
                // An empty value is still a set variable.
                set = GetLastError() != ERROR_ENVVAR_NOT_FOUND;
                return;
            }
            std::string buffer(needed, '\0');
            DWORD length = GetEnvironmentVariableA(name, &buffer[0], needed);
            set = length < needed;
            if (set) value.assign(buffer.data(), length);
        }
        void Restore(const char* name) const {
            if (set) SetEnvironmentVariableA(name, value.c_str());
            else SetEnvironmentVariableA(name, nullptr);
        }
    };
    Saved tmp_, temp_;
};

// The copy of the working file that the engine reads: made in the system
// temporary folder with the prefix "KS" (or, when "TMP" names no usable
// folder, in the archive's folder), writable even when the working file
// is read-only, and deleted on every path out.
class TemporaryCopy {
public:
    TemporaryCopy(const char* workingPath, const char* fallbackFolder) {
        char folder[MAX_PATH];
        DWORD length = GetTempPathA(sizeof folder, folder);
        bool named = length > 0 && length < sizeof folder && GetTempFileNameA(folder, "KS", 0, path_);
        if (!named && !(fallbackFolder[0] && GetTempFileNameA(fallbackFolder, "KS", 0, path_))) {
            path_[0] = '\0';
            int error = StatusOfFileError(GetLastError());
            status_ = error == status::kDiskFull ? error : status::kReadOnly;
            return;
        }
        SplitPath(path_, folder_, name_);
        if (!CopyFileA(workingPath, path_, FALSE)) {
            status_ = StatusOfFileError(GetLastError());
            return;
        }
        DWORD attributes = GetFileAttributesA(path_);
        if (attributes != INVALID_FILE_ATTRIBUTES) SetFileAttributesA(path_, attributes & ~FILE_ATTRIBUTE_READONLY);
        status_ = status::kOk;
    }
    ~TemporaryCopy() { Delete(); }
    TemporaryCopy(const TemporaryCopy&) = delete;
    TemporaryCopy& operator=(const TemporaryCopy&) = delete;

    bool made() const { return status_ == status::kOk; }
    // Why there is no copy: the working file in use, gone or unreadable,
    // or no room for the copy.
    int status() const { return status_; }
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
    int status_ = status::kUnreadable;
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
    ArchiveReservation reservation;
    if (reservation.Take(*this) != 0) return 0;
    if (EngineSetMaxTemporary(archiveName, archiveFolder, userName, count, &productTag) == 0) {
        reservation.Consumed();
        return 1;
    }
    return 0;  // a failed update must not leave the archive reserved: the reservation goes back
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

    if (!singleLocation) {
        // The archive goes beside the file whatever the central folder says.
        CopyText(archiveFolder, sizeof archiveFolder, workingFolder);
        FormatText(archivePath, sizeof archivePath, "%s\\%s", archiveFolder, archiveName);
    }
    if (!archiveName[0] || strlen(archiveFolder) + 1 + strlen(archiveName) >= MAX_PATH) {
        ShowMessage(MessageOwner(), IDS_PATH_TOO_LONG, MB_OK | MB_ICONSTOP);
        return status::kPathTooLong;
    }
    TemporaryCopy copy(workingPath, archiveFolder);
    if (!copy.made()) return copy.status();

    int result = EngineCreateArchive(copy.name(), archiveName, copy.folder(), archiveFolder, userName, kEmpty, kEmpty,
                                     permanent, 0, 0, maxTemporary, maxTemporary, 0, compress, 0);
    variables.Restore();
    return result;
}

int ArchiveContext::SaveNextVersion(const char* comment, int permanent) {
    return AddNextVersion(comment, permanent) == status::kOk ? 1 : 0;
}

int ArchiveContext::AddNextVersion(const char* comment, int permanent) {
    WaitCursor cursor;
    TempVariables variables;
    if (!ArchiveExists()) return status::kArchiveGone;
    TemporaryCopy copy(workingPath, archiveFolder);
    if (!copy.made()) return copy.status();

    if (!comment) comment = kEmpty;
    char cutComment[kMaxComment + 1];
    CopyCut(cutComment, kMaxComment, comment, strlen(comment) + 1);
    // Another writer of the archive is waited for a little.
    ArchiveReservation reservation;
    int result = reservation.Take(*this);
    if (result == status::kOk)
        result = EngineAddVersion(copy.name(), archiveName, copy.folder(), archiveFolder, userName, cutComment, kEmpty,
                                  permanent, 0, 0, 0, 0, &productTag);
    variables.Restore();
    cursor.Restore();
    copy.Delete();
    if (result == status::kOk) {
        reservation.Consumed();
        return status::kOk;
    }
    reservation.Release();
    // The archive is no longer where it was: moved or deleted meanwhile.
    if (result == status::kNoArchive) return status::kArchiveGone;
    return StatusOfArchiveFailure(*this, result);
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
    // Applying the history page writes every row's flag: no row waits for
    // another writer.
    ArchiveReservation reservation;
    if (reservation.Take(*this, 0) != 0) return 0;
    if (EngineSetPermanent(archiveName, archiveFolder, userName, kEmpty, number, flag, &productTag) == 0) {
        reservation.Consumed();
        return 1;
    }
    return 0;
}

namespace {

// Removes the archive file of a reserved archive: first out of its name,
// so no writer opens it by that name any more, then gone.
bool RemoveReservedArchive(const ArchiveContext& context) {
    FileSetAside archive;
    if (!archive.Take(context.archivePath)) return !FileExists(context.archivePath);
    archive.Remove();
    return true;
}

// Tells the user why version `number` stays.
void ReportVersionKept(const ArchiveContext& context, int number, int why) {
    char reason[300];
    FormatRefusalReason(context, StatusOfArchiveFailure(context, why), reason, sizeof reason);
    ShowMessage(MessageOwner(), IDS_VERSION_NOT_DELETED, MB_OK | MB_ICONWARNING, number, context.workingName, reason);
}

}  // namespace

int ArchiveContext::DeleteVersion(int number) {
    if (IsPermanent(number)) {
        int answer = ShowMessage(MessageOwner(), IDS_CONFIRM_DELETE_PERMANENT, MB_YESNOCANCEL | MB_ICONQUESTION,
                                 number, workingName);
        if (answer == IDCANCEL) return 0;
        if (answer == IDNO) return 1;  // the version stays, and that counts as done
    }
    // The archive is held from the look at its versions to the deletion:
    // no version added meanwhile can go with it.
    ArchiveReservation reservation;
    int result = reservation.Take(*this);
    if (result == status::kNoArchive) return 1;  // nothing left to delete
    if (result != status::kOk) {
        ReportVersionKept(*this, number, result);
        return 0;
    }
    ArchiveDirectory directory;
    if (!ReadDirectory(*this, &directory)) {
        ReportVersionKept(*this, number, status::kDamaged);
        return 0;
    }
    bool present = false;
    for (int i = 0; i < directory.versionCount; ++i) present = present || directory.records[i].number == number;
    // A number the archive does not hold (a list that is no longer
    // current) deletes nothing.
    if (!present) return 1;
    // The last version goes with its archive file.
    if (directory.versionCount == 1) {
        if (RemoveReservedArchive(*this)) return 1;
        ReportVersionKept(*this, number, status::kReadOnly);
        return 0;
    }

    // Clearing the flag uses the reservation; the deletion takes its own.
    SetPermanent(number, 0);
    result = reservation.Take(*this);
    if (result == status::kOk) result = EngineDeleteVersion(archiveName, archiveFolder, userName, kEmpty, number, 0, &plainTag);
    if (result == status::kOk || result == status::kNoVersion) {
        reservation.Consumed();
        return 1;
    }
    reservation.Release();
    ReportVersionKept(*this, number, result);
    return 0;
}

int ArchiveContext::DeleteArchive() {
    if (!archiveName[0]) return 1;
    ArchiveReservation reservation;
    int result = reservation.Take(*this);
    if (result == status::kNoArchive) return 1;
    if (result != status::kOk) return 0;
    return RemoveReservedArchive(*this) ? 1 : 0;
}

DeleteResult DeleteWithVersions(ArchiveContext& context) {
    WaitCursor cursor;
    ArchiveReservation reservation;
    bool archived = context.ArchiveExists();
    if (archived) {
        int result = reservation.Take(context);
        if (result == status::kReserved) return DeleteResult::Busy;
        archived = result == status::kOk;
    }
    // The file first: when it cannot go, nothing has changed. The archive
    // keeps its name until then, so no new archive can be made under it
    // for a file that stays.
    if (!DeleteFileA(context.workingPath) && GetLastError() != ERROR_FILE_NOT_FOUND) return DeleteResult::Failed;
    if (archived && !RemoveReservedArchive(context)) return DeleteResult::ArchiveKept;
    return DeleteResult::Done;
}

bool DamagedArchivePath(const ArchiveContext& context, int attempt, char* path) {
    // Still an archive by its extension, so never versioned; and never the
    // name of a working file's archive, which holds no dot but before "ks".
    char base[MAX_PATH];
    CopyText(base, sizeof base, context.archivePath);
    char* extension = strrchr(base, '.');
    if (extension) *extension = '\0';
    int length = attempt <= 1 ? FormatText(path, MAX_PATH, "%s.damaged.ks", base)
                              : FormatText(path, MAX_PATH, "%s.damaged%d.ks", base, attempt);
    if (length < MAX_PATH) return true;
    path[0] = '\0';
    return false;
}

bool SetArchiveAside(ArchiveContext& context, char* asidePath) {
    asidePath[0] = '\0';
    ArchiveReservation reservation;
    if (reservation.Take(context) != status::kOk) return false;
    for (int attempt = 1; attempt < 100; ++attempt) {
        char candidate[MAX_PATH];
        if (!DamagedArchivePath(context, attempt, candidate)) return false;
        if (MoveFileExA(context.archivePath, candidate, MOVEFILE_WRITE_THROUGH)) {
            CopyText(asidePath, MAX_PATH, candidate);
            return true;
        }
        if (GetLastError() != ERROR_ALREADY_EXISTS && GetLastError() != ERROR_FILE_EXISTS) return false;
    }
    return false;
}

namespace {

// The target's archive, as far as reserving it needs: names and user.
ArchiveContext TargetArchive(const ArchiveContext& source, const char* targetFolder, const char* targetName,
                             const char* archiveFolder, const char* archiveName) {
    ArchiveContext target = source;
    CopyText(target.workingFolder, sizeof target.workingFolder, targetFolder);
    CopyText(target.workingName, sizeof target.workingName, targetName);
    CopyText(target.archiveFolder, sizeof target.archiveFolder, archiveFolder);
    CopyText(target.archiveName, sizeof target.archiveName, archiveName);
    FormatText(target.archivePath, sizeof target.archivePath, "%s\\%s", archiveFolder, archiveName);
    return target;
}

}  // namespace

TransferResult TransferWithVersions(ArchiveContext& source, const char* newPath, bool askIfExists, TransferKind kind) {
    const bool move = kind == TransferKind::Move;
    WaitCursor cursor;
    const UINT failedId = move ? IDS_MOVE_FAILED : IDS_COPY_FAILED;
    char targetFolder[MAX_PATH], targetName[MAX_PATH], targetArchiveName[MAX_PATH];
    SplitPath(newPath, targetFolder, targetName);
    auto fail = [&](UINT messageId, UINT icon) {
        cursor.Restore();
        if (messageId == failedId)
            ShowMessage(MessageOwner(), messageId, MB_OK | icon, targetName, targetFolder);
        else
            ShowMessage(MessageOwner(), messageId, MB_OK | icon, source.workingName);
        return TransferResult::Failed;
    };

    // Onto itself: nothing is copied and nothing deleted, or the file and
    // its archive would be lost.
    if (SameFile(source.workingPath, newPath)) return fail(failedId, 0);

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

    // Both archives are held for the whole step, once the user has
    // answered: no version is added to the source while it is carried
    // over, nor to the archive it replaces.
    const UINT busyId = move ? IDS_MOVE_BUSY : IDS_COPY_BUSY;
    bool archived = source.ArchiveExists();
    if (archived && !targetArchivePath[0]) return fail(failedId, 0);
    ArchiveReservation sourceHold, targetHold;
    if (archived) {
        int result = sourceHold.Take(source);
        if (result == status::kReserved) return fail(busyId, MB_ICONWARNING);
        archived = result == status::kOk;
    }
    bool replacesArchive = false;
    if (archived && FileExists(targetArchivePath)) {
        int result = targetHold.Take(TargetArchive(source, targetFolder, targetName, targetArchiveFolder,
                                                   targetArchiveName));
        if (result == status::kReserved) return fail(busyId, MB_ICONWARNING);
        replacesArchive = result == status::kOk;  // gone meanwhile: its name is free
    }

    // What the destination held comes back unless the file and its archive
    // both arrived; a move's sources go only then. The working file that is
    // replaced steps aside; the archive that is replaced is written over in
    // place, so its name is never free for a new archive meanwhile.
    FileSetAside oldFile, movedArchive;
    FileRelocation file, archive;
    FileOverwrite replacedArchive;
    auto undo = [&] {
        movedArchive.PutBack();
        replacedArchive.Undo();
        archive.Undo();
        file.Undo();
        oldFile.PutBack();
        return fail(failedId, 0);
    };
    if (FileExists(newPath) && !oldFile.Take(newPath)) return undo();
    if (!(move ? file.Move(source.workingPath, newPath) : file.Copy(source.workingPath, newPath))) return undo();
    if (archived && replacesArchive) {
        if (!replacedArchive.Take(source.archivePath, targetArchivePath)) return undo();
        if (move && !movedArchive.Take(source.archivePath)) return undo();
    } else if (archived) {
        if (!(move ? archive.Move(source.archivePath, targetArchivePath)
                   : archive.Copy(source.archivePath, targetArchivePath)))
            return undo();
    }
    if (!file.Finish()) return undo();
    archive.Finish();
    movedArchive.Remove();
    replacedArchive.Finish();
    oldFile.Remove();
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
