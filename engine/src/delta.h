// Deltas between two versions, and the plans that turn a chain of deltas into
// one list of pieces to copy, so that any version is rebuilt in a single pass
// over its bytes however many deltas lie between it and its base.
//
// A delta is a byte string: varint source size, varint target size, then
// instructions until the end, each a varint (length << 1 | kind):
//   kind 0, ADD:  length literal bytes follow;
//   kind 1, COPY: a varint source offset follows; copy length bytes from it.
#ifndef KSENG_DELTA_H
#define KSENG_DELTA_H

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

namespace kseng {

using Bytes = std::vector<uint8_t>;

// The delta that turns source into target.
Bytes encodeDelta(const uint8_t* source, size_t sourceSize, const uint8_t* target, size_t targetSize);

// Bytes of the literal runs in a delta (how much it did not find in its source).
uint64_t deltaLiteralBytes(const Bytes& delta);

// A version described as pieces: runs of the base content and literal runs
// held by the deltas the plan keeps alive.
class Plan {
public:
    // The base content itself.
    static Plan identity(uint64_t size);

    // The plan of the delta's target, when this plan describes its source.
    // False when the delta is malformed or reaches outside its source, or the
    // target would exceed sizeLimit.
    bool apply(std::shared_ptr<const Bytes> delta, uint64_t sizeLimit, Plan* out) const;

    uint64_t size() const { return size_; }
    // Writes the content into out (size() bytes); base is the base content.
    void materialize(const uint8_t* base, uint8_t* out) const;
    // The plan as one delta against the base (whose size is baseSize).
    Bytes toDelta(uint64_t baseSize) const;

private:
    struct Piece {
        uint64_t start;           // offset in this plan's content
        uint64_t length;
        const uint8_t* literal;   // null: taken from the base at baseOffset
        uint64_t baseOffset;
    };
    void push(uint64_t length, const uint8_t* literal, uint64_t baseOffset);

    uint64_t size_ = 0;
    std::vector<Piece> pieces_;
    std::vector<std::shared_ptr<const Bytes>> keep_;
};

}  // namespace kseng

#endif
