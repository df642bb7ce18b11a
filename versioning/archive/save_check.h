// Whether a working file can be saved as a new version, decided before
// anything is asked or copied: empty, unchanged since its latest version,
// or refused for a reason the user must hear (too large, in use, an
// archive that cannot be read).
#ifndef KEEPSHEL_SAVE_CHECK_H
#define KEEPSHEL_SAVE_CHECK_H

#include "archive_context.h"

enum class FileState {
    Ready,      // there is something to save
    Empty,      // a file of length zero
    Unchanged,  // the same as its latest version
    Refused,    // see status
};

struct FileCheck {
    FileState state;
    int status;  // why, when Refused (a status of refusals.h)
};

FileCheck CheckWorkingFile(const ArchiveContext& context);

#endif
