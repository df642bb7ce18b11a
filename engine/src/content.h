// Content blocks and the versions rebuilt from them: a block read back and
// checked, a version composed from its base and the deltas above it.
#ifndef KSENG_CONTENT_H
#define KSENG_CONTENT_H

#include "archive.h"

namespace kseng {

// Reads a node's block, checks its hash and undoes its compression.
Status readBlock(File& file, const ContentNode& n, Bytes* raw);
// Rebuilds the content a node stands for.
Status rebuildContent(File& file, const ArchiveState& s, uint32_t nodeId, Bytes* content);
// Whether rebuilt content is the version's.
bool matchesVersion(const ArchiveState& s, const VersionEntry& v, const Bytes& content);
// The compression level of a block of this kind.
int levelFor(uint8_t kind);

}  // namespace kseng

#endif
