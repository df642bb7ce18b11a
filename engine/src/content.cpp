#include "content.h"

#include "codec.h"
#include "hash.h"
#include "limits.h"

#include <algorithm>
#include <new>

namespace kseng {
namespace {

// Literal sources that keep their last frame: enough for the deltas an
// extraction moves between, few enough that a long chain costs no memory.
constexpr size_t kRecentSources = 2;

}  // namespace

Status readOps(File& file, const ContentNode& node, uint64_t sourceSize, std::vector<DeltaOp>* ops) {
    BlockReader raw;
    Status status = raw.open(file, node);
    if (status != kOk) return status;
    uint64_t limit = maxPlanPieces(node.contentSize) * 20;
    if (node.layout == ContentNode::FirstLayout) {
        bool parsed = parseFirstFormatOps(
            [&](uint64_t offset, uint8_t* out, size_t length) { return raw.read(offset, out, length) == kOk; },
            node.rawLength, sourceSize, node.contentSize, ops);
        return parsed ? kOk : kCorrupt;
    }
    // The operations follow the literals; a damaged length cannot make a
    // reader take more memory than the longest chain of operations allowed.
    if (node.literalLength > node.rawLength || node.rawLength - node.literalLength > limit) return kCorrupt;
    Bytes encoded(static_cast<size_t>(node.rawLength - node.literalLength));
    status = raw.read(node.literalLength, encoded.data(), encoded.size());
    if (status != kOk) return status;
    return parseOps(encoded.data(), encoded.size(), sourceSize, node.contentSize, node.literalLength, ops) ? kOk
                                                                                                         : kCorrupt;
}

ChainMeasure measureChain(const ArchiveState& s, uint32_t nodeId) {
    ChainMeasure m;
    const ContentNode* n = s.findNode(nodeId);
    while (n->kind == ContentNode::Delta) {
        ++m.depth;
        m.deltaBytes += n->storedLength;
        m.operationBytes += n->layout == ContentNode::FramedLayout ? n->rawLength - n->literalLength : n->rawLength;
        n = s.findNode(n->parent);
    }
    m.baseBytes = n->storedLength;
    return m;
}

Status composePlan(File& file, const ArchiveState& s, uint32_t nodeId, Plan* plan, std::vector<ContentNode>* sources) {
    std::vector<const ContentNode*> chain;
    for (const ContentNode* n = s.findNode(nodeId); n; n = n->kind == ContentNode::Delta ? s.findNode(n->parent) : nullptr)
        chain.push_back(n);
    const ContentNode& base = *chain.back();
    size_t maxPieces = static_cast<size_t>(maxPlanPieces(s.findNode(nodeId)->contentSize));
    sources->assign(1, base);
    *plan = Plan::identity(base.contentSize);
    std::vector<DeltaOp> ops;
    for (size_t i = chain.size() - 1; i-- > 0;) {
        const ContentNode& delta = *chain[i];
        Status status = readOps(file, delta, plan->size(), &ops);
        if (status != kOk) return status;
        sources->push_back(delta);
        Plan next;
        if (!plan->apply(ops, delta.contentSize, static_cast<uint32_t>(sources->size() - 1), maxPieces, &next))
            return next.size() == 0 && ops.size() < maxPieces ? kCorrupt : kNoMemory;
        *plan = std::move(next);
    }
    return kOk;
}

Status VersionReader::open(File& file, const ArchiveState& s, uint32_t nodeId) {
    Plan plan;
    std::vector<ContentNode> sources;
    Status status = composePlan(file, s, nodeId, &plan, &sources);
    if (status != kOk) return status;
    return openPlan(file, std::move(plan), std::move(sources));
}

Status VersionReader::openPlan(File& file, Plan plan, std::vector<ContentNode> sources) {
    file_ = &file;
    plan_ = std::move(plan);
    sources_ = std::move(sources);
    readers_.clear();
    readers_.resize(sources_.size());
    recent_.clear();
    return kOk;
}

BlockReader* VersionReader::reader(uint32_t source, Status* status) {
    std::unique_ptr<BlockReader>& r = readers_[source];
    if (!r) {
        r = std::make_unique<BlockReader>();
        *status = r->open(*file_, sources_[source]);
        if (*status != kOk) {
            r.reset();
            return nullptr;
        }
    }
    // The base is read from start to end; literal sources take turns, and
    // only the last few keep a frame.
    if (source != 0) {
        auto it = std::find(recent_.begin(), recent_.end(), source);
        if (it != recent_.end()) recent_.erase(it);
        recent_.push_back(source);
        if (recent_.size() > kRecentSources) {
            readers_[recent_.front()]->release();
            recent_.erase(recent_.begin());
        }
    }
    *status = kOk;
    return r.get();
}

Status VersionReader::readSource(uint32_t source, uint64_t offset, uint8_t* out, size_t length) {
    Status status;
    BlockReader* r = reader(source, &status);
    return r ? r->read(offset, out, length) : status;
}

Status VersionReader::read(uint64_t offset, uint8_t* out, size_t length) {
    if (offset > plan_.size() || length > plan_.size() - offset) return kCorrupt;
    if (!length) return kOk;
    const std::vector<Plan::Piece>& pieces = plan_.pieces();
    for (size_t index = plan_.pieceAt(offset); length > 0; ++index) {
        const Plan::Piece& piece = pieces[index];
        uint64_t within = offset - piece.start;
        size_t take = static_cast<size_t>(std::min<uint64_t>(length, piece.length - within));
        Status status = readSource(piece.source, piece.offset + within, out, take);
        if (status != kOk) return status;
        out += take;
        offset += take;
        length -= take;
    }
    return kOk;
}

Status streamVersion(File& file, const ArchiveState& s, const VersionEntry& v,
                     const std::function<Status(const uint8_t*, size_t)>& out) {
    VersionReader reader;
    Status status = reader.open(file, s, v.node);
    if (status != kOk) return status;
    if (reader.size() != v.size) return kCorrupt;
    Bytes buffer(static_cast<size_t>(std::min<uint64_t>(v.size, kFrameSize)));
    Hasher hasher;
    for (uint64_t at = 0; at < v.size;) {
        size_t take = static_cast<size_t>(std::min<uint64_t>(buffer.size(), v.size - at));
        status = reader.read(at, buffer.data(), take);
        if (status != kOk) return status;
        hasher.update(buffer.data(), take);
        status = out(buffer.data(), take);
        if (status != kOk) return status;
        at += take;
    }
    return hasher.digest() == v.contentHash ? kOk : kCorrupt;
}

FrameCodec methodFor(const ArchiveState& s, uint8_t kind) {
    return !s.compressed ? FrameCodec::Raw : kind == ContentNode::Full ? FrameCodec::Lz : FrameCodec::Zlib;
}

}  // namespace kseng
