// Copying and moving a file together with its archive, for callers that
// must tell the user's Cancel from a failure: the members CopyWithVersions
// and MoveWithVersions answer 0 for both.
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
TransferResult TransferWithVersions(ArchiveContext& source, const char* newPath, bool askIfExists, TransferKind kind);

#endif
