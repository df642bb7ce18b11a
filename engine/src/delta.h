// Deltas between two versions, and the plans that turn a chain of deltas into
// one list of pieces to copy, so that any version is read in a single pass
// over its bytes however many deltas lie between it and its base.
//
// A delta of this format is a list of operations, kept apart from the
// literal bytes it adds (FORMAT.md, "Deltas"):
//   varint source size, varint target size, then operations to the end:
//     varint (length << 1 | 0)                    ADD the next length literal bytes
//     varint (length << 1 | 1), zigzag varint d   COPY length bytes of the source from
//                                                 the end of the previous COPY plus d
// A first-format delta holds its literals inline, after each ADD, and gives
// each COPY's source offset as a plain varint.
#ifndef KSENG_DELTA_H
#define KSENG_DELTA_H

#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

namespace kseng {

using Bytes = std::vector<uint8_t>;

// Where the matcher reports what it found: runs of the source, and bytes it
// did not find there.
class DeltaSink {
public:
    virtual ~DeltaSink() = default;
    virtual void copy(uint64_t sourceOffset, uint64_t length) = 0;
    virtual void add(const uint8_t* literal, size_t length) = 0;
};

// Finds target's bytes in source, in order, and reports them to sink.
void encodeDelta(const uint8_t* source, size_t sourceSize, const uint8_t* target, size_t targetSize,
                 DeltaSink& sink);

// One operation of a delta. A COPY's offset is in the source; an ADD's is
// where its literal bytes start in the node's raw bytes.
struct DeltaOp {
    uint64_t length;
    uint64_t offset;
    bool copy;
};

// Builds a delta's operations, joining a COPY that continues the previous
// one and ADDs that follow each other.
class OpsWriter {
public:
    void copy(uint64_t sourceOffset, uint64_t length);
    void add(uint64_t length);
    uint64_t targetSize() const { return target_; }
    uint64_t literalBytes() const { return literals_; }
    // Bytes of the operations so far (the sizes in front not counted).
    size_t encodedSize() const { return body_.size() + 10; }
    // The encoded delta: sizes, then the operations.
    Bytes finish(uint64_t sourceSize);

private:
    void flush();
    Bytes body_;
    uint64_t target_ = 0, literals_ = 0;
    uint64_t pendingLength_ = 0, pendingOffset_ = 0;
    bool pendingCopy_ = false;
    uint64_t copyEnd_ = 0;
};

// Decodes a delta of this format whose literals are literalLength bytes long;
// false when it is malformed, reaches outside its source, adds other than
// exactly its literals, or does not make targetSize bytes.
bool parseOps(const uint8_t* data, size_t size, uint64_t sourceSize, uint64_t targetSize, uint64_t literalLength,
              std::vector<DeltaOp>* ops);

// Decodes a first-format delta of rawLength bytes, read through readRaw, with
// the same checks; ADD offsets are where each literal run starts.
using RawReader = std::function<bool(uint64_t offset, uint8_t* out, size_t length)>;
bool parseFirstFormatOps(const RawReader& readRaw, uint64_t rawLength, uint64_t sourceSize, uint64_t targetSize,
                         std::vector<DeltaOp>* ops);

// A version described as pieces: runs of the base content (source 0) and
// literal runs of the deltas' raw bytes (sources 1, 2, …, one per delta).
class Plan {
public:
    struct Piece {
        uint64_t start;   // offset in this plan's content
        uint64_t length;
        uint64_t offset;  // in the source
        uint32_t source;
    };

    // The base content itself.
    static Plan identity(uint64_t size);

    // The plan of a delta's target, when this plan describes its source; the
    // delta's literals become pieces of source literalSource. False when an
    // operation reaches outside this plan, or the plan would exceed
    // maxPieces pieces.
    bool apply(const std::vector<DeltaOp>& ops, uint64_t targetSize, uint32_t literalSource, size_t maxPieces,
               Plan* out) const;

    uint64_t size() const { return size_; }
    const std::vector<Piece>& pieces() const { return pieces_; }
    // The index of the piece holding offset (offset < size()).
    size_t pieceAt(uint64_t offset) const;

private:
    void push(uint64_t length, uint32_t source, uint64_t offset);
    uint64_t size_ = 0;
    std::vector<Piece> pieces_;
};

}  // namespace kseng

#endif
