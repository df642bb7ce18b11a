// The per-file record every versioning action starts from: where the
// working file is, where its archive lives and what it is called, who the
// user is, and the tags the engine calls carry.
#ifndef KEEPSHEL_ARCHIVE_CONTEXT_H
#define KEEPSHEL_ARCHIVE_CONTEXT_H

#include <windows.h>

#include "kseng32.h"

// One version as the history user interface sees it.
struct VersionEntry {
    int32_t permanent;
    int32_t number;
    char dateTime[100];
    char updatedBy[36];
    char comment[132];
};

struct ArchiveContext {
    char workingPath[MAX_PATH];
    char workingFolder[MAX_PATH];   // without trailing backslash
    char workingName[MAX_PATH];
    char archiveFolder[MAX_PATH];   // without trailing backslash
    char archiveName[MAX_PATH];
    char archivePath[MAX_PATH];     // archiveFolder + "\" + archiveName
    char userName[33];
    EngineTag productTag;           // the product name, code 0
    EngineTag plainTag;             // empty, code 2

    // Fills the record for the file at `path`. A refusal (a name or folder
    // that cannot be had) leaves the later fields empty and, when
    // `reportErrors`, tells the user; owner null means the active window.
    // Answers true when the record is complete.
    bool Resolve(const char* path, bool reportErrors, HWND owner);
    // The same without a word to the user: 0 when the record is complete,
    // else why not (status::kPathTooLong, kFolderMissing, kNoShortName,
    // kCantCreateFolder).
    int Locate(const char* path);

    bool ArchiveExists() const;
    bool ArchiveBesideFileExists() const;

    // Operations on the file's archive; each reads the archive anew through
    // the engine. Engine statuses are 0 for success.
    bool WorkingFileIsNewer() const;
    int VersionCount() const;                 // -1 when the directory cannot be read
    int TemporaryVersionCount() const;        // -1 on failure
    int NextVersionNumber() const;            // -1 on failure
    int IsCompressed() const;                 // 0 on failure
    int MaxTemporaryVersions() const;         // 10 when the engine cannot tell
    int SetMaxTemporaryVersions(int count);   // 1 set, 0 not
    // A new array (release it with delete[]) and its length; -1 on failure.
    int ListVersions(VersionEntry** entries) const;
    int FormatVersionTime(int number, char* text) const;  // text holds 100; 1, or 0 with empty text
    int SaveFirstVersion(int permanent, int maxTemporary, int compress, int singleLocation);
    int SaveNextVersion(const char* comment, int permanent);   // 1 saved, 0 not
    // The same, answering why not: 0 saved, else a status of refusals.h
    // (never 1). Waits a little for another writer of the archive.
    int AddNextVersion(const char* comment, int permanent);
    int RetrieveVersion(const char* targetPath, int number);   // engine status
    int IsPermanent(int number) const;
    int SetPermanent(int number, int flag);   // 1 set, 0 not
    int DeleteVersion(int number);            // 1 deleted or skipped by the user, 0 refused/cancelled/failed
    int DeleteArchive();                      // 1 gone (or nothing there), 0 another writer holds it or it stays
    int CopyWithVersions(const char* newPath, bool askIfExists);  // 1 done or skipped, 0 cancelled/failed
    int MoveWithVersions(const char* newPath, bool askIfExists);
};

// Tells the user why Locate refused `context`'s file (`problem` as it
// answered), over `owner`.
void ReportResolveProblem(HWND owner, const ArchiveContext& context, int problem);

// Archives themselves (".ks" files) and whatever lies in the central
// archive folder are never versioned, whatever the exclusion list says.
class NeverVersioned {
public:
    NeverVersioned();  // reads "VersionsPath" once
    bool Covers(const char* path) const;

private:
    char centralFolder_[MAX_PATH];
};

// True for a file named like an archive (extension ".ks", any case).
bool IsArchiveFileName(const char* path);

#endif
