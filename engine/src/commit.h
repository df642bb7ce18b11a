// The commit protocol: how an update reads the state it starts from, where
// its new blocks may go, and how the new state becomes the archive's with the
// single write of a header slot. FORMAT.md ("Committing") gives the argument.
#ifndef KSENG_COMMIT_H
#define KSENG_COMMIT_H

#include "archive.h"
#include "format.h"

#include <vector>

namespace kseng {

struct Extent {
    uint64_t offset;
    uint64_t length;
    bool operator<(const Extent& o) const { return offset < o.offset; }
};

// The state a reader or an update starts from: the newest intact one, and the
// one before it when it is intact too.
struct Loaded {
    ArchiveState current;
    ArchiveState previous;  // the other slot's state, when it is intact
    bool hasPrevious = false;
    uint64_t highestSequence = 0;
};

Status loadBoth(File& file, Loaded* loaded);

// One change to an open archive: new blocks go only where neither header slot
// points, and the new state becomes visible with the single write of a slot.
class Update {
public:
    explicit Update(File& file) : file_(file) {}

    Status begin();
    ArchiveState& state() { return next_; }
    File& file() { return file_; }

    // Stores raw as the block of node (compressed when the archive is).
    Status putBlock(ContentNode* node, const Bytes& raw, int level);
    Status commit();

private:
    uint64_t allocate(uint64_t length);

    File& file_;
    Loaded loaded_;
    ArchiveState next_;
    std::vector<Extent> used_;
};

}  // namespace kseng

#endif
