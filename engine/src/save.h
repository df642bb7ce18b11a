// A new version read from its file once, in a window: cut into chunks for
// its signature, hashed, and written either in full or as a delta against
// the newest version. The delta finds what the new file shares with the old
// version through the old version's signature, hash for hash, and reads the
// old content only around what changed, to find the exact edges.
#ifndef KSENG_SAVE_H
#define KSENG_SAVE_H

#include "blocks.h"
#include "content.h"
#include "signature.h"

namespace kseng {

// The version a delta is made against.
struct OldVersion {
    const Signature* signature;  // of its content
    VersionReader* content;      // read only around the changes
};

struct EncodedVersion {
    uint64_t size = 0;
    uint64_t contentHash = 0;
    uint64_t literalBytes = 0;  // a delta's literals
    Bytes operations;           // a delta's operations
    Signature signature;        // of the new content
};

// Reads size bytes of source. With old, out receives the delta's literal
// bytes and result the operations; a delta that would hold more than half
// of the content as literals is given up (*givenUp) as soon as that shows,
// after 4 MiB or at the end. Without old, out receives every byte; hint, the
// old signature when there is one, only speeds up the cutting.
Status encodeVersion(File& source, uint64_t size, const Signature* hint, const OldVersion* old, BlockWriter& out,
                     EncodedVersion* result, bool* givenUp);

// The signature of content read through reader, for an archive that keeps
// none of its newest version; fails with kCorrupt when the content is not
// the one saved (its size and hash).
Status buildSignature(VersionReader& reader, uint64_t contentHash, Signature* signature);

// The window over a file being saved: room for the changed region being
// refined and the largest chunk after it.
size_t saveWindow(uint64_t contentSize);

}  // namespace kseng

#endif
