// Copying, moving and deleting a file together with its archive, for
// callers that must tell the user's Cancel from a failure (the members
// CopyWithVersions and MoveWithVersions answer 0 for both) or hear why a
// deletion did not happen.
#ifndef KEEPSHEL_TRANSFER_H
#define KEEPSHEL_TRANSFER_H

#include "archive_context.h"

enum class TransferKind { Copy, Move };

enum class TransferResult {
    Done,       // the file, and its archive when it has one, are at the destination
    Skipped,    // the user answered No about what is already at the destination
    Cancelled,  // the user answered Cancel there
    Failed,     // reported to the user already
};

// Copies or moves `source`'s file to `newPath` and its archive along. With
// `askIfExists` the user is asked before an existing file at `newPath` is
// replaced; otherwise only before an existing archive there.
// Another writer holding either archive is waited for a little; then the
// user is told and nothing changes.
TransferResult TransferWithVersions(ArchiveContext& source, const char* newPath, bool askIfExists, TransferKind kind);

enum class DeleteResult {
    Done,         // the file and its archive are gone
    Busy,         // another writer holds the archive: nothing changed
    Failed,       // the file cannot be deleted: nothing changed
    ArchiveKept,  // the file is gone, but its archive could not be removed
};

// Deletes the working file, then its archive.
DeleteResult DeleteWithVersions(ArchiveContext& context);

// Where a damaged archive is set aside: "name.ks" becomes "name.damaged.ks",
// and at a further attempt "name.damagedN.ks". False when that does not fit
// `path` (MAX_PATH characters).
bool DamagedArchivePath(const ArchiveContext& context, int attempt, char* path);

// Renames a damaged archive beside itself ("name.damaged.ks"), so that the
// file's next save starts a new one; nothing is deleted. True with the new
// path in `asidePath` (MAX_PATH characters).
bool SetArchiveAside(ArchiveContext& context, char* asidePath);

#endif
