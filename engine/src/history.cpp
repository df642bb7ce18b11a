#include "history.h"

#include "content.h"
#include "limits.h"
#include "save.h"

#include <algorithm>
#include <memory>

namespace kseng {
namespace {


ContentNode* findNode(ArchiveState& s, uint32_t id) {
    for (ContentNode& n : s.nodes)
        if (n.id == id) return &n;
    return nullptr;
}

// Writes child's delta against the parent of the node it builds on, through
// that node: the two deltas composed into one, their literals copied.
Status foldInto(Update& u, const ContentNode& node, const std::vector<DeltaOp>& nodeOps, uint64_t sourceSize,
                ContentNode* child) {
    std::vector<DeltaOp> childOps;
    Status status = readOps(u.file(), *child, node.contentSize, &childOps);
    if (status != kOk) return status;
    size_t maxPieces = static_cast<size_t>(maxPlanPieces(child->contentSize));
    Plan throughNode, folded;
    if (!Plan::identity(sourceSize).apply(nodeOps, node.contentSize, 1, maxPieces, &throughNode) ||
        !throughNode.apply(childOps, child->contentSize, 2, maxPieces, &folded))
        return kCorrupt;
    // Source 0 of the plan is the parent's content, which the new delta copies
    // from; sources 1 and 2 are the two deltas' literals.
    VersionReader literals;
    ContentNode parentStandIn;
    status = literals.openPlan(u.file(), folded, {parentStandIn, node, *child});
    if (status != kOk) return status;
    BlockWriter out(u.file(), u, methodFor(u.state(), ContentNode::Delta));
    OpsWriter ops;
    Bytes buffer;
    for (const Plan::Piece& piece : folded.pieces()) {
        if (piece.source == 0) {
            ops.copy(piece.offset, piece.length);
            continue;
        }
        for (uint64_t done = 0; done < piece.length;) {
            size_t take = static_cast<size_t>(std::min<uint64_t>(piece.length - done, 1 << 16));
            buffer.resize(take);
            status = literals.readSource(piece.source, piece.offset + done, buffer.data(), take);
            if (status == kOk) status = out.write(buffer.data(), take);
            if (status != kOk) return status;
            done += take;
        }
        ops.add(piece.length);
    }
    Bytes operations = ops.finish(sourceSize);
    status = out.write(operations.data(), operations.size());
    if (status != kOk) return status;
    status = out.finish(child);
    child->literalLength = ops.literalBytes();
    child->parent = node.parent;
    return status;
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
        const ContentNode folding = *node;
        uint64_t sourceSize = s.findNode(folding.parent)->contentSize;
        std::vector<DeltaOp> nodeOps;
        Status status = readOps(u.file(), folding, sourceSize, &nodeOps);
        if (status != kOk) return status;
        for (ContentNode& child : s.nodes) {
            if (child.parent != nodeId) continue;
            status = foldInto(u, folding, nodeOps, sourceSize, &child);
            if (status != kOk) return status;
        }
        node = findNode(s, nodeId);
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

namespace {

// The signature of the newest version: the one the archive keeps, else one
// made from its content (which is then checked against its hash).
Status newestSignature(Update& u, const VersionEntry& latest, VersionReader& content, Signature* signature) {
    if (u.readSignature(latest.node, signature) && signature->contentSize == latest.size &&
        signature->contentHash == latest.contentHash)
        return kOk;
    Status status = buildSignature(content, latest.contentHash, signature);
    signature->node = latest.node;
    return status;
}

}  // namespace

// Adds a version, read from its file once. It becomes a delta on the newest
// version when that is worth it and the chain allows another; else a base.
Status appendVersion(Update& u, FileSystem& fs, const std::string& sourcePath, const VersionMeta& meta) {
    ArchiveState& s = u.state();
    if (s.versionCounter > kLastVersionNumber || s.nextNode >= kNodeIdLimit) return kNumbersExhausted;
    std::unique_ptr<File> source = fs.open(sourcePath, OpenMode::Read);
    uint64_t size = 0;
    if (!source || !source->size(&size)) return kSourceUnreadable;
    if (size > kMaxContentSize) return kTooLarge;

    ContentNode node;
    node.id = s.nextNode;
    node.contentSize = size;
    EncodedVersion encoded;
    Signature oldSignature;
    bool haveSignature = false, delta = false;
    if (!s.versions.empty()) {
        const VersionEntry& latest = s.versions.back();
        ChainMeasure chain = measureChain(s, latest.node);
        if (chain.depth < maxChainDepth(size)) {
            VersionReader oldContent;
            Status status = oldContent.open(u.file(), s, latest.node);
            if (status == kOk) status = newestSignature(u, latest, oldContent, &oldSignature);
            if (status != kOk) return status;
            haveSignature = true;
            OldVersion old{&oldSignature, &oldContent};
            BlockWriter out(u.file(), u, methodFor(s, ContentNode::Delta));
            bool givenUp = false;
            status = encodeVersion(*source, size, nullptr, &old, out, &encoded, &givenUp);
            if (status != kOk) return status;
            delta = !givenUp && chain.operationBytes + encoded.operations.size() <= maxPlanPieces(size) / 2;
            if (delta) {
                status = out.write(encoded.operations.data(), encoded.operations.size());
                if (status == kOk) status = out.finish(&node);
                if (status != kOk) return status;
                node.kind = ContentNode::Delta;
                node.parent = latest.node;
                node.literalLength = encoded.literalBytes;
                if (chain.deltaBytes + node.storedLength > std::max(chain.baseBytes, kMinChainAllowance)) {
                    u.release(node.offset, node.storedLength);
                    delta = false;
                }
            }
        } else {
            // A new base; the signature kept, if it is the newest's, still
            // helps to cut the new file.
            haveSignature = u.readSignature(latest.node, &oldSignature);
        }
    }
    if (!delta) {
        node = ContentNode();
        node.id = s.nextNode;
        node.contentSize = size;
        BlockWriter out(u.file(), u, methodFor(s, ContentNode::Full));
        bool givenUp;
        Status status = encodeVersion(*source, size, haveSignature ? &oldSignature : nullptr, nullptr, out, &encoded,
                                      &givenUp);
        if (status == kOk) status = out.finish(&node);
        if (status != kOk) return status;
        if (out.written() != size) return kSourceUnreadable;
    }
    ++s.nextNode;
    VersionEntry v;
    v.number = static_cast<uint16_t>(s.versionCounter++);
    v.permanent = meta.permanent;
    v.dosTime = meta.dosTime;
    v.size = size;
    v.contentHash = encoded.contentHash;
    v.node = node.id;
    v.user = meta.user.substr(0, kMaxUser);
    v.comment = meta.comment.substr(0, kMaxComment);
    s.nodes.push_back(node);
    s.versions.push_back(std::move(v));
    encoded.signature.node = node.id;
    encoded.signature.contentSize = size;
    encoded.signature.contentHash = encoded.contentHash;
    Status status = u.writeSignature(encoded.signature);
    return status == kOk ? pruneTemporary(u) : status;
}

}  // namespace kseng
