// Why an archive operation did not happen: the engine's statuses, the few
// keepshel adds of its own, and the words that tell the user the reason.
#ifndef KEEPSHEL_REFUSALS_H
#define KEEPSHEL_REFUSALS_H

#include <windows.h>

#include <cstddef>
#include <cstdint>

struct ArchiveContext;

namespace status {
// The engine's statuses (its format document lists them).
constexpr int kOk = 0;
constexpr int kNoArchive = 1;
constexpr int kDamaged = 2;
constexpr int kReserved = 3;
constexpr int kIoFailed = 4;
constexpr int kTooLarge = 5;
constexpr int kNoVersion = 6;
constexpr int kUnreadable = 7;
constexpr int kExists = 9;
constexpr int kOutOfMemory = 11;
constexpr int kNumbersUsedUp = 12;
constexpr int kNewerEngine = 13;
// keepshel's own, above every engine status. A first save whose archive
// path would be too long answers 103.
constexpr int kPathTooLong = 103;
constexpr int kFileInUse = 104;     // another program holds the working file without letting it be read
constexpr int kDiskFull = 105;
constexpr int kReadOnly = 106;      // the archive or its folder cannot be written
constexpr int kFileGone = 107;      // the working file is not there
constexpr int kArchiveGone = 108;   // the archive went (moved, deleted) while a version was added
constexpr int kIsArchive = 109;     // the "working file" is an archive itself
// Why a file has no archive place (Resolve refused it).
constexpr int kFolderMissing = 110;
constexpr int kNoShortName = 111;
constexpr int kCantCreateFolder = 112;
}  // namespace status

// The largest working file the engine keeps versions of; larger ones are
// refused before anything is copied. The one place on this side that
// knows the engine's limit.
uint64_t EngineFileSizeLimit();

// The status for a working file that could not be opened or copied, from
// the system's error code.
int StatusOfFileError(DWORD error);

// The engine refused to read or write `context`'s archive with
// `engineStatus`: a closer look at the archive and its disk turns a failed
// read or write into read-only or disk full where that is what it was.
int StatusOfArchiveFailure(const ArchiveContext& context, int engineStatus);

// The reason clause for `outcome`, completing "<file> was not saved: ...";
// `text` holds `size` characters.
void FormatRefusalReason(const ArchiveContext& context, int outcome, char* text, size_t size);

// The size limit as the user reads it: "16 TB", "1 TB".
void FormatSizeLimit(char* text, size_t size);

#endif
