// The engine's exported functions: argument checks, path joining and the
// records callers read; everything else is the archive code's. No exception
// leaves this file.
#include "../kseng32.h"

#include "archive.h"
#include "reservations.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <mutex>
#include <new>
#include <vector>

namespace kseng {
namespace {

#ifdef _WIN32
constexpr char kSeparator = '\\';
#else
constexpr char kSeparator = '/';
#endif
// Callers keep paths in 260-character buffers; a longer path cannot be theirs.
constexpr size_t kMaxPath = 260;

Reservations& reservations() {
    static Reservations instance;
    return instance;
}

// folder + separator + name; false when either is missing or the result would
// not fit a caller's path buffer.
bool joinPath(const char* folder, const char* name, std::string* path) {
    if (!folder || !name || !*name) return false;
    size_t folderLength = strnlen(folder, kMaxPath), nameLength = strnlen(name, kMaxPath);
    if (folderLength >= kMaxPath || nameLength >= kMaxPath) return false;
    path->assign(folder, folderLength);
    if (!path->empty() && path->back() != '\\' && path->back() != '/') path->push_back(kSeparator);
    path->append(name, nameLength);
    return path->size() < kMaxPath;
}

template <typename Body>
int guardedCall(Body body) {
    try {
        return body();
    } catch (const std::bad_alloc&) {
        return kNoMemory;
    } catch (...) {
        return kIoError;
    }
}

VersionMeta metaFrom(const char* user, const char* comment, int32_t permanent) {
    VersionMeta meta;
    meta.user = boundedText(user, kMaxUser);
    meta.comment = boundedText(comment, kMaxComment);
    meta.permanent = permanent != 0;
    meta.dosTime = currentDosTime();
    return meta;
}

// The records of each thread's last directory read: they must outlive
// EngineCloseDirectory, and one buffer a thread keeps memory flat however
// often the history is read. A map rather than thread_local storage, whose
// destructors would run from a DLL that may be unloaded before the thread
// ends; DllMain gives a thread's buffer back when the thread ends.
std::mutex gRecordsMutex;
std::map<uint64_t, std::vector<EngineVersionRecord>> gRecords;
EngineVersionRecord gNoRecords[1];

std::vector<EngineVersionRecord>& recordsOfThisThread() {
    std::lock_guard<std::mutex> guard(gRecordsMutex);
    return gRecords[currentThreadKey()];  // map nodes stay put while others come and go
}

}  // namespace

void releaseThreadRecords() {
    std::lock_guard<std::mutex> guard(gRecordsMutex);
    gRecords.erase(currentThreadKey());
}

}  // namespace kseng

using namespace kseng;

extern "C" {

int KSENG_CALL EngineCreateArchive(const char* copyName, const char* archiveName, const char* copyFolder,
                                   const char* archiveFolder, const char* userName, const char*, const char*,
                                   int32_t permanent, int32_t, int32_t, int32_t maxTemporary1, int32_t,
                                   int32_t, int32_t compress, int32_t) {
    return guardedCall([&] {
        std::string copyPath, archivePath;
        if (!joinPath(copyFolder, copyName, &copyPath) || !joinPath(archiveFolder, archiveName, &archivePath))
            return kBadArgument;
        // The dialogs allow 1 to 32767; a stray setting outside that range
        // still gets its first version saved, under the nearest allowed limit.
        uint32_t limit = maxTemporary1 < 1 ? kMinTemporaryLimit : static_cast<uint32_t>(maxTemporary1);
        return createArchive(platformFileSystem(), archivePath, copyPath, metaFrom(userName, "", permanent), limit,
                             compress != 0);
    });
}

int KSENG_CALL EngineLock(const char* fileName, const char* archiveName, const char* fileFolder,
                          const char* archiveFolder, const char*, int32_t mode, int32_t, const EngineTag*) {
    (void)fileName;
    (void)fileFolder;
    return guardedCall([&] {
        std::string archivePath;
        if (!joinPath(archiveFolder, archiveName, &archivePath)) return kBadArgument;
        if (mode == 1) return reservations().reserve(platformFileSystem(), archivePath);
        if (mode == 0) {
            reservations().release(archivePath);
            return kOk;
        }
        return kBadArgument;
    });
}

int KSENG_CALL EngineAddVersion(const char* copyName, const char* archiveName, const char* copyFolder,
                                const char* archiveFolder, const char* userName, const char* comment, const char*,
                                int32_t permanent, int32_t, int32_t, int32_t, int32_t, const EngineTag*) {
    return guardedCall([&] {
        std::string copyPath, archivePath;
        if (!joinPath(copyFolder, copyName, &copyPath) || !joinPath(archiveFolder, archiveName, &archivePath))
            return kBadArgument;
        VersionMeta meta = metaFrom(userName, comment, permanent);
        return reservations().update(platformFileSystem(), archivePath, [&](File& file) {
            return addVersion(file, copyPath, platformFileSystem(), meta);
        });
    });
}

int KSENG_CALL EngineGetMaxTemporary(const char* archiveName, const char* archiveFolder, int32_t* count,
                                     const EngineTag*) {
    return guardedCall([&] {
        std::string archivePath;
        if (!count || !joinPath(archiveFolder, archiveName, &archivePath)) return kBadArgument;
        ArchiveState state;
        Status status = readState(platformFileSystem(), archivePath, &state);
        if (status == kOk) *count = static_cast<int32_t>(state.maxTemporary);
        return status;
    });
}

int KSENG_CALL EngineSetMaxTemporary(const char* archiveName, const char* archiveFolder, const char*, int32_t count,
                                     const EngineTag*) {
    return guardedCall([&] {
        std::string archivePath;
        if (!joinPath(archiveFolder, archiveName, &archivePath)) return kBadArgument;
        return reservations().update(platformFileSystem(), archivePath, [&](File& file) {
            return count < 1 ? kBadArgument : setMaxTemporary(file, static_cast<uint32_t>(count));
        });
    });
}

int KSENG_CALL EngineReadDirectory(const char* archivePath, ArchiveDirectory* directory, EngineDirHandle* handle) {
    return guardedCall([&] {
        if (!archivePath || !directory || strnlen(archivePath, kMaxPath) >= kMaxPath) return kBadArgument;
        ArchiveState state;
        Status status = readState(platformFileSystem(), archivePath, &state);
        if (status != kOk) return status;
        std::vector<EngineVersionRecord>& records = recordsOfThisThread();
        records.assign(state.versions.size(), EngineVersionRecord());
        for (size_t i = 0; i < state.versions.size(); ++i) {
            const VersionEntry& v = state.versions[i];
            EngineVersionRecord& r = records[i];
            std::memcpy(r.comment, v.comment.data(), std::min(v.comment.size(), sizeof r.comment - 1));
            std::memcpy(r.userName, v.user.data(), std::min(v.user.size(), sizeof r.userName - 1));
            r.number = v.number;
            r.permanent = v.permanent ? 1 : 0;
            r.dosTime = v.dosTime;
        }
        std::memset(directory, 0, sizeof *directory);
        directory->versionCount = static_cast<uint16_t>(state.versions.size());
        directory->versionCounter =
            static_cast<uint16_t>(state.versionCounter > kLastVersionNumber ? kLastVersionNumber : state.versionCounter);
        directory->compressed = state.compressed ? 1 : 0;
        directory->records = records.empty() ? gNoRecords : records.data();
        if (handle) *handle = directory->records;
        return kOk;
    });
}

void KSENG_CALL EngineCloseDirectory(EngineDirHandle) {
    // Nothing to give back: the records stay until this thread's next read.
}

int KSENG_CALL EngineExtractVersion(const char* targetName, const char* archiveName, const char* targetFolder,
                                    const char* archiveFolder, const char*, const char*, int32_t number, int32_t,
                                    int32_t, int32_t, const EngineTag*) {
    return guardedCall([&] {
        std::string targetPath, archivePath;
        if (!joinPath(targetFolder, targetName, &targetPath) || !joinPath(archiveFolder, archiveName, &archivePath))
            return kBadArgument;
        if (number < 1 || number > static_cast<int32_t>(kLastVersionNumber)) return kNoVersion;
        // Written over its own archive, a version would take every other with it.
        if (comparablePath(targetPath) == comparablePath(archivePath)) return kBadArgument;
        return extractVersion(platformFileSystem(), archivePath, static_cast<uint32_t>(number), targetPath);
    });
}

int KSENG_CALL EngineIsPermanent(const char* archiveName, const char* archiveFolder, const char*, int32_t number,
                                 int32_t* flag, const EngineTag*) {
    return guardedCall([&] {
        std::string archivePath;
        if (!flag || !joinPath(archiveFolder, archiveName, &archivePath)) return kBadArgument;
        ArchiveState state;
        Status status = readState(platformFileSystem(), archivePath, &state);
        if (status != kOk) return status;
        const VersionEntry* v = number > 0 ? state.findVersion(static_cast<uint32_t>(number)) : nullptr;
        if (!v) return kNoVersion;
        *flag = v->permanent ? 1 : 0;
        return kOk;
    });
}

int KSENG_CALL EngineSetPermanent(const char* archiveName, const char* archiveFolder, const char*, const char*,
                                  int32_t number, int32_t flag, const EngineTag*) {
    return guardedCall([&] {
        std::string archivePath;
        if (!joinPath(archiveFolder, archiveName, &archivePath)) return kBadArgument;
        return reservations().update(platformFileSystem(), archivePath, [&](File& file) {
            return number < 1 ? kNoVersion : setPermanent(file, static_cast<uint32_t>(number), flag != 0);
        });
    });
}

int KSENG_CALL EngineDeleteVersion(const char* archiveName, const char* archiveFolder, const char*, const char*,
                                   int32_t number, int32_t, const EngineTag*) {
    return guardedCall([&] {
        std::string archivePath;
        if (!joinPath(archiveFolder, archiveName, &archivePath)) return kBadArgument;
        return reservations().update(platformFileSystem(), archivePath, [&](File& file) {
            return number < 1 ? kNoVersion : deleteVersion(file, static_cast<uint32_t>(number));
        });
    });
}

int KSENG_CALL EngineCompareWorking(const char* workingName, const char* archiveName, const char* workingFolder,
                                    const char* archiveFolder) {
    // Below zero on every failure, including one that throws: a positive
    // answer would send the caller into a save.
    int result = guardedCall([&] {
        std::string workingPath, archivePath;
        if (!joinPath(workingFolder, workingName, &workingPath) || !joinPath(archiveFolder, archiveName, &archivePath))
            return -static_cast<int>(kBadArgument);
        return compareWorking(platformFileSystem(), workingPath, archivePath);
    });
    return result == kNoMemory || result == kIoError ? -result : result;
}

int KSENG_CALL EngineVerifyArchive(const char* archiveName, const char* archiveFolder, EngineVerifyResult* result) {
    return guardedCall([&] {
        std::string archivePath;
        if (!result || result->structSize < sizeof(EngineVerifyResult) ||
            !joinPath(archiveFolder, archiveName, &archivePath))
            return kBadArgument;
        VerifyReport report;
        Status status = verifyArchive(platformFileSystem(), archivePath, &report);
        std::memset(result, 0, sizeof *result);
        result->structSize = sizeof *result;
        result->versionCount = report.directoryRead ? static_cast<int32_t>(report.versionCount) : -1;
        result->damagedCount = static_cast<int32_t>(report.damaged.size());
        result->damagedHeaderCopies = report.damagedHeaderCopies;
        size_t listed = std::min(report.damaged.size(), sizeof result->damaged / sizeof result->damaged[0]);
        std::copy(report.damaged.begin(), report.damaged.begin() + static_cast<std::ptrdiff_t>(listed),
                  result->damaged);
        return status;
    });
}

}  // extern "C"
