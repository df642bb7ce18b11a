// The per-file record every versioning action starts from: where the
// working file is, where its archive lives and what it is called, who the
// user is, and the tags the engine calls carry.
#ifndef KEEPSHEL_ARCHIVE_CONTEXT_H
#define KEEPSHEL_ARCHIVE_CONTEXT_H

#include <windows.h>

#include "kseng32.h"

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

    bool ArchiveExists() const;
    bool ArchiveBesideFileExists() const;
};

#endif
