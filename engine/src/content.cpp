#include "content.h"

#include "codec.h"
#include "hash.h"

#include <algorithm>
#include <memory>

namespace kseng {
namespace {

// What a version may rebuild to, given the archive it comes from: highly
// repetitive content is allowed far beyond zlib's ratio, but a small damaged
// file cannot make a reader allocate gigabytes.
constexpr uint64_t kContentPerArchiveByte = 1100;
constexpr uint64_t kContentAlwaysAllowed = uint64_t(64) << 20;

uint64_t contentLimit(File& file) {
    uint64_t size = 0;
    file.size(&size);
    uint64_t limit = size > kMaxContentSize / kContentPerArchiveByte ? kMaxContentSize : size * kContentPerArchiveByte;
    return std::min(kMaxContentSize, std::max(limit, kContentAlwaysAllowed));
}

}  // namespace

Status readBlock(File& file, const ContentNode& n, Bytes* raw) {
    Bytes stored;
    try {
        stored.resize(static_cast<size_t>(n.storedLength));
    } catch (const std::bad_alloc&) {
        return kNoMemory;
    }
    if (n.storedLength && !file.readAt(n.offset, stored.data(), stored.size())) return kCorrupt;
    if (hash64(stored.data(), stored.size()) != n.blockHash) return kCorrupt;
    if (n.codec == ContentNode::Stored) {
        *raw = std::move(stored);
        return kOk;
    }
    try {
        raw->resize(static_cast<size_t>(n.rawLength));
    } catch (const std::bad_alloc&) {
        return kNoMemory;
    }
    bool unpacked = n.codec == ContentNode::Zlib ? inflateRange(stored.data(), stored.size(), raw->data(), raw->size())
                                                 : unpackChunks(stored, raw->data(), raw->size());
    return unpacked ? kOk : kCorrupt;
}

Status rebuildContent(File& file, const ArchiveState& s, uint32_t nodeId, Bytes* content) {
    std::vector<const ContentNode*> chain;
    for (const ContentNode* n = s.findNode(nodeId); n; n = n->kind == ContentNode::Delta ? s.findNode(n->parent) : nullptr)
        chain.push_back(n);
    uint64_t limit = contentLimit(file);
    for (const ContentNode* n : chain)
        if (n->contentSize > limit || n->rawLength > limit) return kCorrupt;
    Bytes base;
    Status status = readBlock(file, *chain.back(), &base);
    if (status != kOk) return status;
    Plan plan = Plan::identity(base.size());
    for (size_t i = chain.size() - 1; i-- > 0;) {
        auto delta = std::make_shared<Bytes>();
        status = readBlock(file, *chain[i], delta.get());
        if (status != kOk) return status;
        if (!plan.apply(delta, chain[i]->contentSize, &plan) || plan.size() != chain[i]->contentSize)
            return kCorrupt;
    }
    if (chain.size() == 1) {
        *content = std::move(base);
        return kOk;
    }
    content->resize(static_cast<size_t>(plan.size()));
    plan.materialize(base.data(), content->data());
    return kOk;
}

// Whether rebuilt content is the version's. Content read straight from a
// stored full block was checked by the block's hash, which is then the
// content hash itself: no need to hash it twice.
bool matchesVersion(const ArchiveState& s, const VersionEntry& v, const Bytes& content) {
    if (content.size() != v.size) return false;
    const ContentNode* n = s.findNode(v.node);
    if (n->kind == ContentNode::Full && n->codec == ContentNode::Stored) return n->blockHash == v.contentHash;
    return hash64(content.data(), content.size()) == v.contentHash;
}

int levelFor(uint8_t kind) { return kind == ContentNode::Full ? 3 : 9; }

}  // namespace kseng
