// Walking the instances of the first object in a performance data block.
// Pure byte work with no system calls, so it builds on any platform and can
// be tested with offsets of either width: a 32-bit program does its
// arithmetic in 32 bits, where an unchecked sum of a huge length wraps round
// and points back into the block instead of past its end.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace kickoff {

// Where the fields the walk reads sit, in bytes, in the structures of the
// performance data (the same on 32-bit and 64-bit systems).
namespace perf_layout {
constexpr std::uint32_t kBlockSize = 88;
constexpr std::uint32_t kBlockHeaderLength = 24;
constexpr std::uint32_t kBlockObjectCount = 28;

constexpr std::uint32_t kObjectSize = 64;
constexpr std::uint32_t kObjectDefinitionLength = 4;
constexpr std::uint32_t kObjectHeaderLength = 8;
constexpr std::uint32_t kObjectCounterCount = 32;
constexpr std::uint32_t kObjectInstanceCount = 40;

constexpr std::uint32_t kCounterSize = 40;
constexpr std::uint32_t kCounterNameIndex = 4;
constexpr std::uint32_t kCounterOffset = 36;

constexpr std::uint32_t kInstanceSize = 24;
constexpr std::uint32_t kInstanceByteLength = 0;
constexpr std::uint32_t kInstanceNameOffset = 16;
constexpr std::uint32_t kInstanceNameLength = 20;

constexpr std::uint32_t kCounterBlockSize = 4;
constexpr std::uint32_t kCounterBlockByteLength = 0;
}  // namespace perf_layout

// One instance as the walk hands it over: its name as stored (UTF-16 code
// units, little-endian, up to its terminator or the end of its field; no
// bytes when the field lies outside the block) and the value of the process
// id counter (0 when the counter lies outside the instance's counter block).
struct PerfInstanceView {
    const unsigned char* name;
    std::size_t nameBytes;
    std::uint32_t processId;
};

// `Offset` is the unsigned type positions in the block are computed in:
// std::size_t in the program, and both 32-bit and 64-bit types in the tests.
template <typename Offset>
class PerfBlockWalk {
public:
    PerfBlockWalk(const unsigned char* block, Offset size) : block_(block), size_(block != nullptr ? size : 0) {}

    // Hands each instance of the first object to `accept` in block order
    // until it answers true, and returns that instance's process id. 0 when
    // no instance was accepted, the object has no counter with
    // `idCounterIndex`, or the block is malformed where the walk needs it.
    template <typename Accept>
    std::uint32_t FindInstance(std::uint32_t idCounterIndex, Accept accept) const {
        using namespace perf_layout;
        static const unsigned char kSignature[8] = {'P', 0, 'E', 0, 'R', 0, 'F', 0};
        if (size_ < kBlockSize || std::memcmp(block_, kSignature, sizeof kSignature) != 0) return 0;

        std::uint32_t blockHeader = 0, objectCount = 0;
        if (!Read(kBlockHeaderLength, blockHeader) || !Read(kBlockObjectCount, objectCount)) return 0;
        if (objectCount == 0) return 0;

        const Offset object = blockHeader;
        if (!Holds(object, kObjectSize)) return 0;
        std::uint32_t objectDefinition = 0, objectHeader = 0, counterCount = 0, instanceCount = 0;
        Read(object + kObjectDefinitionLength, objectDefinition);
        Read(object + kObjectHeaderLength, objectHeader);
        Read(object + kObjectCounterCount, counterCount);
        Read(object + kObjectInstanceCount, instanceCount);

        std::uint32_t counterOffset = 0;
        if (!FindCounterOffset(object, objectHeader, counterCount, idCounterIndex, counterOffset)) return 0;
        // Negative counts include "no instances" (-1).
        if (static_cast<std::int32_t>(instanceCount) <= 0) return 0;

        Offset instance = 0;
        if (!Advance(object, objectDefinition, instance)) return 0;
        for (std::uint32_t i = 0; i < instanceCount; ++i) {
            if (!Holds(instance, kInstanceSize)) return 0;
            std::uint32_t instanceLength = 0, nameOffset = 0, nameLength = 0;
            Read(instance + kInstanceByteLength, instanceLength);
            Read(instance + kInstanceNameOffset, nameOffset);
            Read(instance + kInstanceNameLength, nameLength);
            // Each step must move forward: a definition shorter than its own
            // fields, or a length past the end, would walk bytes again.
            if (instanceLength < kInstanceSize) return 0;
            Offset counters = 0;
            if (!Advance(instance, instanceLength, counters)) return 0;
            std::uint32_t countersLength = 0;
            if (!Read(counters + kCounterBlockByteLength, countersLength)) return 0;
            if (countersLength < kCounterBlockSize || !Holds(counters, countersLength)) return 0;

            PerfInstanceView view = {nullptr, 0, 0};
            // The whole counter block is inside, so its fields are too.
            if (counterOffset <= countersLength && countersLength - counterOffset >= 4) {
                Read(counters + counterOffset, view.processId);
            }
            Offset name = 0;
            if (Advance(instance, nameOffset, name) && Holds(name, nameLength)) {
                view.name = block_ + name;
                view.nameBytes = UntilTerminator(view.name, nameLength);
            }
            if (accept(view)) return view.processId;

            instance = counters + countersLength;  // inside: checked by Holds above
        }
        return 0;
    }

private:
    // `base + length` when it does not pass the end of the block. The length
    // is compared with what is left before it is added, so the sum cannot
    // wrap round whatever the width of Offset.
    bool Advance(Offset base, std::uint32_t length, Offset& result) const {
        if (base > size_ || length > size_ - base) return false;
        result = base + length;
        return true;
    }
    bool Holds(Offset at, std::uint32_t length) const { return at <= size_ && size_ - at >= length; }
    bool Read(Offset at, std::uint32_t& value) const {
        if (!Holds(at, 4)) return false;
        value = static_cast<std::uint32_t>(block_[at]) | static_cast<std::uint32_t>(block_[at + 1]) << 8 |
                static_cast<std::uint32_t>(block_[at + 2]) << 16 | static_cast<std::uint32_t>(block_[at + 3]) << 24;
        return true;
    }

    bool FindCounterOffset(Offset object, std::uint32_t objectHeader, std::uint32_t counterCount,
                           std::uint32_t idCounterIndex, std::uint32_t& counterOffset) const {
        using namespace perf_layout;
        Offset definition = 0;
        if (!Advance(object, objectHeader, definition)) return false;
        for (std::uint32_t i = 0; i < counterCount; ++i) {
            if (!Holds(definition, kCounterSize)) return false;
            std::uint32_t nameIndex = 0;
            Read(definition + kCounterNameIndex, nameIndex);
            if (nameIndex == idCounterIndex) return Read(definition + kCounterOffset, counterOffset);
            definition += kCounterSize;  // inside: checked by Holds above
        }
        return false;
    }

    static std::size_t UntilTerminator(const unsigned char* name, std::uint32_t bytes) {
        std::size_t length = 0;
        while (length + 2 <= bytes && (name[length] != 0 || name[length + 1] != 0)) length += 2;
        return length;
    }

    const unsigned char* block_;
    Offset size_;
};

}  // namespace kickoff
