// The signature of a version: its content cut into chunks where the content
// itself says so (a rolling hash over the last 64 bytes), and the hash of
// each chunk. The archive keeps the newest version's signature, so that a
// save finds what the new file shares with it by hashing the new file alone
// and reads the old content only around the changes.
//
// Cut points depend only on the bytes just before them, so an edit moves the
// cuts of the chunk it falls in and of the one after at most; every other
// chunk of the new file is found, hash for hash, in the old signature.
#ifndef KSENG_SIGNATURE_H
#define KSENG_SIGNATURE_H

#include "delta.h"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace kseng {

// Chunk sizes for content of a given size: from half to four times 32 KiB,
// more for files above 64 GiB so that a signature has some 2^21 chunks at
// most. The smallest chunk bounds the signature's memory.
struct ChunkSizes {
    unsigned shift;  // the average is 1 << shift
    size_t min() const { return size_t(1) << (shift - 1); }
    size_t max() const { return size_t(1) << (shift + 2); }
};
ChunkSizes chunkSizesFor(uint64_t contentSize);

// Finds the end of the chunk that starts at p: at least sizes.min() and at
// most sizes.max() bytes, or all of available when the content ends there.
// Returns 0 when more than available bytes are needed to decide.
size_t nextCut(const uint8_t* p, size_t available, bool contentEnds, ChunkSizes sizes);

struct SignatureEntry {
    uint32_t length;
    uint64_t hash;
};

struct Signature {
    unsigned shift = 0;       // of the ChunkSizes the content was cut with
    uint32_t node = 0;        // the node whose content it describes
    uint64_t contentSize = 0;
    uint64_t contentHash = 0;
    std::vector<SignatureEntry> entries;
};

// The signature block (32 bytes and the entries): magic "KSSG", shift (1), 0 (3), node id (4), content
// size (8), content hash (8), entry count (4), entries (length 4, hash 8
// each), XXH64 of everything before (8).
Bytes encodeSignature(const Signature& s);
uint64_t encodedSignatureSize(uint64_t entries);
constexpr size_t kSignatureHeaderSize = 32;
// Checks the hash and the lengths: every entry within the chunk bounds (the
// last may be shorter) and the lengths adding up to the content size.
bool decodeSignature(const Bytes& bytes, Signature* s);

// Finds old chunks by hash and length.
class SignatureIndex {
public:
    explicit SignatureIndex(const Signature& s);
    // The index of the entry with this hash and length, or SIZE_MAX.
    size_t find(uint64_t hash, uint32_t length) const;
    const SignatureEntry& entry(size_t i) const { return entries_[i]; }
    uint64_t offset(size_t i) const { return offsets_[i]; }
    size_t size() const { return entries_.size(); }

private:
    const std::vector<SignatureEntry>& entries_;
    std::vector<uint64_t> offsets_;
    std::vector<uint32_t> slots_;  // entry index + 1, 0 for empty
    size_t mask_ = 0;
};

}  // namespace kseng

#endif
