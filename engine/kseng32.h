// Interface of the version engine kseng32.dll, shared by the engine and its
// callers. The functions are exported by ordinal only; the import library
// binds them by ordinal, so the names below exist only in this header.
#ifndef KSENG32_H
#define KSENG32_H

#include <stddef.h>
#include <stdint.h>

#ifdef _WIN32
#define KSENG_CALL __stdcall
#else
#define KSENG_CALL
#endif

#ifdef __cplusplus
extern "C" {
#endif

// The fixed block passed as the last argument of most engine calls.
typedef struct EngineTag {
    char text[128];
    int16_t code;
    char reserved[14];
} EngineTag;

// One version as the engine reports it (228 bytes on every target).
typedef struct EngineVersionRecord {
    char comment[129];
    char userName[67];
    uint16_t number;
    int16_t permanent;
    uint32_t dosTime;  // UTC, MS-DOS packing: year-1980<<25 | month<<21 | day<<16 | h<<11 | m<<5 | s/2
    char reserved[24];
} EngineVersionRecord;

// The block that EngineReadDirectory fills (644 bytes on i686; the record
// pointer widens on x86_64). Only the named fields carry meaning for callers.
typedef struct ArchiveDirectory {
    char reserved0[372];
    uint16_t versionCount;     // 372
    uint16_t versionCounter;   // 374: number the next version will take
    uint16_t reserved1;        // 376
    uint16_t compressed;       // 378
    char reserved2[4];         // 380
    EngineVersionRecord* records;  // 384
    char reserved3[256];
} ArchiveDirectory;

typedef void* EngineDirHandle;

// What EngineVerifyArchive found. The caller sets structSize; the engine
// fills the rest.
typedef struct EngineVerifyResult {
    uint32_t structSize;           // sizeof(EngineVerifyResult)
    int32_t versionCount;          // versions the archive lists; -1 when its directory cannot be read
    int32_t damagedCount;          // versions whose content does not rebuild to what was saved
    int32_t damagedHeaderCopies;   // header copies (of four) that could not be read; the archive
                                   // still works while each slot keeps one, and the next saves rewrite them
    uint16_t damaged[32];          // the first damaged version numbers, ascending
} EngineVerifyResult;

// Statuses: 0 is success; the others are listed in engine/FORMAT.md.

int KSENG_CALL EngineCreateArchive(const char* copyName, const char* archiveName,
                                   const char* copyFolder, const char* archiveFolder,
                                   const char* userName, const char* empty1, const char* empty2,
                                   int32_t permanent, int32_t zero1, int32_t zero2,
                                   int32_t maxTemporary1, int32_t maxTemporary2, int32_t zero3,
                                   int32_t compress, int32_t zero4);                       // @36
int KSENG_CALL EngineLock(const char* fileName, const char* archiveName,
                          const char* fileFolder, const char* archiveFolder,
                          const char* userName, int32_t mode, int32_t zero,
                          const EngineTag* productTag);                                     // @29
int KSENG_CALL EngineAddVersion(const char* copyName, const char* archiveName,
                                const char* copyFolder, const char* archiveFolder,
                                const char* userName, const char* comment, const char* empty,
                                int32_t permanent, int32_t zero1, int32_t zero2, int32_t zero3,
                                int32_t zero4, const EngineTag* productTag);                 // @31
int KSENG_CALL EngineGetMaxTemporary(const char* archiveName, const char* archiveFolder,
                                     int32_t* count, const EngineTag* plainTag);             // @21
int KSENG_CALL EngineSetMaxTemporary(const char* archiveName, const char* archiveFolder,
                                     const char* userName, int32_t count,
                                     const EngineTag* productTag);                           // @48
int KSENG_CALL EngineReadDirectory(const char* archivePath, ArchiveDirectory* directory,
                                   EngineDirHandle* handle);                                 // @27
void KSENG_CALL EngineCloseDirectory(EngineDirHandle handle);                                // @33
int KSENG_CALL EngineExtractVersion(const char* targetName, const char* archiveName,
                                    const char* targetFolder, const char* archiveFolder,
                                    const char* userName, const char* empty, int32_t number,
                                    int32_t two, int32_t zero, int32_t one,
                                    const EngineTag* productTag);                            // @18
int KSENG_CALL EngineIsPermanent(const char* archiveName, const char* archiveFolder,
                                 const char* empty, int32_t number, int32_t* flag,
                                 const EngineTag* productTag);                               // @5
int KSENG_CALL EngineSetPermanent(const char* archiveName, const char* archiveFolder,
                                  const char* userName, const char* empty, int32_t number,
                                  int32_t flag, const EngineTag* productTag);                // @3
int KSENG_CALL EngineDeleteVersion(const char* archiveName, const char* archiveFolder,
                                   const char* userName, const char* empty, int32_t number,
                                   int32_t zero, const EngineTag* plainTag);                 // @34
int KSENG_CALL EngineCompareWorking(const char* workingName, const char* archiveName,
                                    const char* workingFolder, const char* archiveFolder);   // @8
// Rebuilds every version of the archive and checks it against the hash it
// was saved with: 0 when all are intact, 2 when the directory or any version
// is damaged (the result says which), other statuses as for reading.
int KSENG_CALL EngineVerifyArchive(const char* archiveName, const char* archiveFolder,
                                   EngineVerifyResult* result);                             // @50

#ifdef __cplusplus
}
#endif

#ifdef __cplusplus
static_assert(sizeof(EngineTag) == 144, "EngineTag is 144 bytes");
static_assert(sizeof(EngineVerifyResult) == 80, "EngineVerifyResult is 80 bytes on every target");
static_assert(sizeof(EngineVersionRecord) == 228, "EngineVersionRecord is 228 bytes");
static_assert(offsetof(EngineVersionRecord, userName) == 129, "record user offset");
static_assert(offsetof(EngineVersionRecord, number) == 196, "record number offset");
static_assert(offsetof(EngineVersionRecord, permanent) == 198, "record permanent offset");
static_assert(offsetof(EngineVersionRecord, dosTime) == 200, "record time offset");
static_assert(offsetof(ArchiveDirectory, versionCount) == 372, "directory count offset");
static_assert(offsetof(ArchiveDirectory, versionCounter) == 374, "directory counter offset");
static_assert(offsetof(ArchiveDirectory, compressed) == 378, "directory compressed offset");
static_assert(offsetof(ArchiveDirectory, records) == 384, "directory records offset");
#if defined(__i386__) || defined(_M_IX86)
static_assert(sizeof(ArchiveDirectory) == 644, "ArchiveDirectory is 644 bytes on i686");
#endif
#endif

#endif
