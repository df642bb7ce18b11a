// Versions read back from their nodes: a version's chain of deltas composed
// into one plan over its base and the deltas' literals, and its content read
// anywhere through that plan, a frame at a time.
#ifndef KSENG_CONTENT_H
#define KSENG_CONTENT_H

#include "archive.h"
#include "blocks.h"

#include <functional>
#include <memory>

namespace kseng {

// A delta node's operations against its parent's content.
Status readOps(File& file, const ContentNode& node, uint64_t sourceSize, std::vector<DeltaOp>* ops);

// The chain a node stands at the end of: its depth (deltas down to the
// base), the stored bytes of those deltas, the bytes of their operations,
// and the base's stored size.
struct ChainMeasure {
    size_t depth = 0;
    uint64_t deltaBytes = 0;
    uint64_t operationBytes = 0;
    uint64_t baseBytes = 0;
};
ChainMeasure measureChain(const ArchiveState& s, uint32_t nodeId);

// Reads one node's content, at any offset.
class VersionReader {
public:
    // The content of node nodeId.
    Status open(File& file, const ArchiveState& s, uint32_t nodeId);
    // The content a delta's source is when plan describes it, for folding.
    Status openPlan(File& file, Plan plan, std::vector<ContentNode> sources);
    uint64_t size() const { return plan_.size(); }
    const Plan& plan() const { return plan_; }
    const std::vector<ContentNode>& sources() const { return sources_; }
    Status read(uint64_t offset, uint8_t* out, size_t length);
    // Reads the raw bytes of one source (for folding literals into a new delta).
    Status readSource(uint32_t source, uint64_t offset, uint8_t* out, size_t length);

private:
    BlockReader* reader(uint32_t source, Status* status);

    File* file_ = nullptr;
    Plan plan_;
    std::vector<ContentNode> sources_;  // 0: the base; then each delta whose literals the plan uses
    std::vector<std::unique_ptr<BlockReader>> readers_;
    std::vector<uint32_t> recent_;      // literal sources that keep a frame, newest last
};

// Composes the plan of a node: its base's content through every delta above
// it. sources receives the base and the deltas, in the plan's numbering.
Status composePlan(File& file, const ArchiveState& s, uint32_t nodeId, Plan* plan, std::vector<ContentNode>* sources);

// Hands a version's content to out in pieces of at most a frame, and checks
// at the end that it is the content saved: its size and its hash.
Status streamVersion(File& file, const ArchiveState& s, const VersionEntry& v,
                     const std::function<Status(const uint8_t*, size_t)>& out);

// How a block of this kind is packed: in a compressed archive, bases in
// the LZ form (read back at close to the speed of a copy), deltas deflated
// (they are small, and every byte of them is growth).
FrameCodec methodFor(const ArchiveState& s, uint8_t kind);

}  // namespace kseng

#endif
