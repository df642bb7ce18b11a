// Blocks: the bytes a node keeps in the archive, read and written a frame at
// a time so that no block, however large, is ever held whole in memory.
//
// A framed block cuts its raw bytes into frames of kFrameSize, each deflated
// or kept raw, and ends with an index of the frames' stored lengths and
// hashes; a block of one frame is that frame alone (FORMAT.md, "Blocks").
// Blocks of the first format are read too.
#ifndef KSENG_BLOCKS_H
#define KSENG_BLOCKS_H

#include "archive.h"
#include "codec.h"

#include <vector>

namespace kseng {

// The first format's compressed blocks held at most this much raw content
// per zlib stream.
constexpr size_t kFirstChunkSize = size_t(4) << 20;

// Reads a node's raw bytes at any offset, checking everything it hands out
// against the block's hashes.
class BlockReader {
public:
    Status open(File& file, const ContentNode& node);
    uint64_t size() const { return rawLength_; }
    Status read(uint64_t offset, uint8_t* out, size_t length);
    // Gives back the memory of the frame kept for the next read.
    void release();

private:
    struct Frame {
        uint64_t storedOffset;  // in the file
        uint64_t hash;
        uint32_t storedLength;
        FrameCodec codec;
        bool hashed;            // the frame has a hash of its own
    };
    Status openFirstFormat(const ContentNode& node);
    Status openIndexed(const ContentNode& node);
    Status verifyWhole(const ContentNode& node);
    // Unpacks a frame into into, or into the frame kept for the next read.
    Status load(size_t frame, uint8_t* into);

    File* file_ = nullptr;
    uint64_t rawLength_ = 0;
    size_t frameSize_ = 0;  // raw bytes per frame (the last may have fewer)
    std::vector<Frame> frames_;
    size_t cachedFrame_ = SIZE_MAX;
    Bytes cache_;
    Bytes stored_;
};

// The space an update writes into.
class BlockSpace {
public:
    virtual ~BlockSpace() = default;
    // Room for length bytes where the current state has nothing.
    virtual uint64_t allocate(uint64_t length) = 0;
    // Where a block of not yet known length may grow: past everything.
    virtual uint64_t tail() const = 0;
    // The block grown at the tail is done and takes this room.
    virtual void claim(uint64_t offset, uint64_t length) = 0;
};

// Writes a node's raw bytes as a framed block, each frame packed with
// method (Raw for a stored archive) when that shrinks it.
class BlockWriter {
public:
    BlockWriter(File& file, BlockSpace& space, FrameCodec method, int level = 9)
        : file_(file), space_(space), method_(method), level_(level) {}
    Status write(const uint8_t* data, size_t length);
    uint64_t written() const { return written_; }
    // Sets the node's layout, codec, place, lengths and hash.
    Status finish(ContentNode* node);

private:
    Status flushFrames();

    File& file_;
    BlockSpace& space_;
    FrameCodec method_;
    int level_;
    uint64_t written_ = 0;
    std::vector<Bytes> frames_;   // full frames waiting to be deflated and written
    Bytes current_;               // the frame being filled
    bool streaming_ = false;      // frames go to the tail as they fill
    uint64_t start_ = 0, at_ = 0;
    Bytes index_;
};

}  // namespace kseng

#endif
