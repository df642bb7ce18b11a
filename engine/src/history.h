// The history's changes inside one update: a version appended as a delta on
// the newest or as a new base, a version removed with its delta folded into
// the ones built on it, and the oldest temporary versions pruned.
#ifndef KSENG_HISTORY_H
#define KSENG_HISTORY_H

#include "commit.h"

#include <string>

namespace kseng {

// Adds the file at sourcePath as the newest version, then prunes.
Status appendVersion(Update& u, FileSystem& fs, const std::string& sourcePath, const VersionMeta& meta);
// Removes the version at index of the state's versions.
Status removeVersion(Update& u, size_t index);
// Deletes the oldest temporary versions until no more than the limit remain.
Status pruneTemporary(Update& u);
// Drops nodes nothing depends on any more.
void dropUnusedNodes(ArchiveState& s);

}  // namespace kseng

#endif
