#include "history.h"

#include "content.h"
#include "hash.h"

#include <algorithm>
#include <memory>

namespace kseng {
namespace {

// Deltas along a chain may add up to this much of their base before the next
// version starts a new base, which bounds the cost of rebuilding any version.
constexpr uint64_t kMinChainAllowance = 64 * 1024;
constexpr size_t kMaxChainDepth = 1000;

ContentNode* findNode(ArchiveState& s, uint32_t id) {
    for (ContentNode& n : s.nodes)
        if (n.id == id) return &n;
    return nullptr;
}

// The chain a new delta would extend: its length and the bytes its deltas and
// its base occupy.
void measureChain(const ArchiveState& s, uint32_t nodeId, size_t* depth, uint64_t* deltaBytes, uint64_t* baseBytes) {
    *depth = 0;
    *deltaBytes = 0;
    const ContentNode* n = s.findNode(nodeId);
    while (n->kind == ContentNode::Delta) {
        ++*depth;
        *deltaBytes += n->storedLength;
        n = s.findNode(n->parent);
    }
    *baseBytes = n->storedLength;
}

}  // namespace

// Drops nodes nothing depends on any more: full nodes of deleted versions
// stay only while a delta still builds on them. One pass over references,
// whatever the number of versions a prune deleted.
void dropUnusedNodes(ArchiveState& s) {
    std::vector<uint32_t> references(s.nodes.size(), 0);
    auto indexOf = [&s](uint32_t id) { return static_cast<size_t>(s.findNode(id) - s.nodes.data()); };
    for (const VersionEntry& v : s.versions) ++references[indexOf(v.node)];
    for (const ContentNode& n : s.nodes)
        if (n.kind == ContentNode::Delta) ++references[indexOf(n.parent)];
    std::vector<size_t> unused;
    for (size_t i = 0; i < s.nodes.size(); ++i)
        if (!references[i]) unused.push_back(i);
    std::vector<bool> dropped(s.nodes.size(), false);
    while (!unused.empty()) {
        size_t i = unused.back();
        unused.pop_back();
        dropped[i] = true;
        if (s.nodes[i].kind == ContentNode::Delta) {
            size_t parent = indexOf(s.nodes[i].parent);
            if (--references[parent] == 0) unused.push_back(parent);
        }
    }
    size_t kept = 0;
    for (size_t i = 0; i < s.nodes.size(); ++i)
        if (!dropped[i]) s.nodes[kept++] = s.nodes[i];
    s.nodes.resize(kept);
}

// Removes a version. Its delta is folded into the deltas built on it, so
// every other version keeps its content without being rebuilt in full.
Status removeVersion(Update& u, size_t index) {
    ArchiveState& s = u.state();
    uint32_t nodeId = s.versions[index].node;
    s.versions.erase(s.versions.begin() + static_cast<std::ptrdiff_t>(index));
    ContentNode* node = findNode(s, nodeId);
    if (node->kind == ContentNode::Delta) {
        const ContentNode* parent = s.findNode(node->parent);
        auto nodeDelta = std::make_shared<Bytes>();
        Status status = readBlock(u.file(), *node, nodeDelta.get());
        if (status != kOk) return status;
        Plan throughNode;
        if (!Plan::identity(parent->contentSize).apply(nodeDelta, kMaxContentSize, &throughNode)) return kCorrupt;
        for (ContentNode& child : s.nodes) {
            if (child.parent != nodeId) continue;
            auto childDelta = std::make_shared<Bytes>();
            status = readBlock(u.file(), child, childDelta.get());
            if (status != kOk) return status;
            Plan folded;
            if (!throughNode.apply(childDelta, kMaxContentSize, &folded)) return kCorrupt;
            status = u.putBlock(&child, folded.toDelta(parent->contentSize), levelFor(child.kind));
            if (status != kOk) return status;
            child.parent = node->parent;
        }
    }
    // A folded delta is needed by nobody now; a full node stays while a delta
    // builds on it (dropUnusedNodes takes it once the last one is gone).
    bool needed = node->kind == ContentNode::Full &&
                  std::any_of(s.nodes.begin(), s.nodes.end(), [nodeId](const ContentNode& n) { return n.parent == nodeId; });
    if (!needed) s.nodes.erase(s.nodes.begin() + (node - s.nodes.data()));
    return kOk;
}

// The oldest temporary version goes first; permanent ones never do.
Status pruneTemporary(Update& u) {
    ArchiveState& s = u.state();
    while (s.temporaryCount() > s.maxTemporary) {
        size_t oldest = 0;
        while (s.versions[oldest].permanent) ++oldest;
        Status status = removeVersion(u, oldest);
        if (status != kOk) return status;
    }
    dropUnusedNodes(s);
    return kOk;
}

// Adds a version whose content readNew supplies. The newest version is
// rebuilt before the new content is read, so that the base it was rebuilt
// from is gone again and no more than two versions are in memory at once.
Status appendVersion(Update& u, const std::function<Status(Bytes*)>& readNew, const VersionMeta& meta) {
    ArchiveState& s = u.state();
    if (s.versionCounter > kLastVersionNumber || s.nextNode >= kNodeIdLimit) return kNumbersExhausted;
    Bytes source, content, delta;
    if (!s.versions.empty()) {
        const VersionEntry& latest = s.versions.back();
        Status status = rebuildContent(u.file(), s, latest.node, &source);
        if (status != kOk) return status;
        if (!matchesVersion(s, latest, source)) return kCorrupt;
    }
    Status status = readNew(&content);
    if (status != kOk) return status;
    ContentNode node;
    node.id = s.nextNode++;
    node.contentSize = content.size();
    if (!s.versions.empty()) {
        const VersionEntry& latest = s.versions.back();
        delta = encodeDelta(source.data(), source.size(), content.data(), content.size());
        size_t depth;
        uint64_t chainBytes, baseBytes;
        measureChain(s, latest.node, &depth, &chainBytes, &baseBytes);
        bool worthIt = deltaLiteralBytes(delta) <= content.size() / 2 && depth < kMaxChainDepth &&
                       chainBytes + delta.size() <= std::max(baseBytes, kMinChainAllowance);
        if (worthIt) {
            node.kind = ContentNode::Delta;
            node.parent = latest.node;
        } else {
            delta.clear();
        }
        Bytes().swap(source);
    }
    VersionEntry v;
    v.number = static_cast<uint16_t>(s.versionCounter++);
    v.permanent = meta.permanent;
    v.dosTime = meta.dosTime;
    v.size = content.size();
    v.contentHash = hash64(content.data(), content.size());
    v.node = node.id;
    v.user = meta.user.substr(0, kMaxUser);
    v.comment = meta.comment.substr(0, kMaxComment);
    status = node.kind == ContentNode::Delta ? u.putBlock(&node, delta, levelFor(node.kind))
                                                    : u.putBlock(&node, content, levelFor(node.kind));
    if (status != kOk) return status;
    s.nodes.push_back(node);
    s.versions.push_back(std::move(v));
    return pruneTemporary(u);
}

}  // namespace kseng
