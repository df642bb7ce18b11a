#include "format.h"

#include "encoding.h"
#include "hash.h"

#include <algorithm>

namespace kseng {

Bytes encodeHeader(const Header& h) {
    Writer w;
    w.raw(kMagic, 8);
    w.u16(h.formatVersion);
    w.u16(0);
    w.u32(h.flags);
    w.u64(h.sequence);
    w.u64(h.directoryOffset);
    w.u64(h.directoryLength);
    w.u64(h.directoryHash);
    w.out.resize(kHeaderSize - 8, 0);
    w.u64(hash64(w.out.data(), w.out.size()));
    return std::move(w.out);
}

SlotRead decodeHeader(const uint8_t* p, Header* h) {
    if (std::memcmp(p, kMagic, 8) != 0) return SlotRead::Invalid;
    uint64_t stored;
    std::memcpy(&stored, p + kHeaderSize - 8, 8);
    if (hash64(p, kHeaderSize - 8) != stored) return SlotRead::Invalid;
    Reader r(p + 8, kHeaderSize - 16);
    h->formatVersion = r.u16();
    r.u16();
    h->flags = r.u32();
    h->sequence = r.u64();
    h->directoryOffset = r.u64();
    h->directoryLength = r.u64();
    h->directoryHash = r.u64();
    if (h->formatVersion > kFormatVersion) return SlotRead::Newer;
    return r.ok() && h->formatVersion == kFormatVersion ? SlotRead::Valid : SlotRead::Invalid;
}

Bytes encodeDirectory(const ArchiveState& s) {
    Writer w;
    w.u32(kDirectoryMagic);
    w.u32(static_cast<uint32_t>(s.versions.size()));
    w.u32(s.versionCounter);
    w.u32(s.maxTemporary);
    w.u32(static_cast<uint32_t>(s.nodes.size()));
    w.u32(s.nextNode);
    w.u32(s.compressed ? kFlagCompressed : 0);
    for (const VersionEntry& v : s.versions) {
        w.u16(v.number);
        w.u8(v.permanent ? 1 : 0);
        w.u8(static_cast<uint8_t>(v.user.size()));
        w.u32(v.dosTime);
        w.u64(v.size);
        w.u64(v.contentHash);
        w.u32(v.node);
        w.u8(static_cast<uint8_t>(v.comment.size()));
        w.raw(v.user.data(), v.user.size());
        w.raw(v.comment.data(), v.comment.size());
    }
    for (const ContentNode& n : s.nodes) {
        w.u32(n.id);
        w.u8(n.kind);
        w.u8(n.codec);
        w.u16(0);
        w.u32(n.parent);
        w.u64(n.offset);
        w.u64(n.storedLength);
        w.u64(n.rawLength);
        w.u64(n.contentSize);
        w.u64(n.blockHash);
    }
    return std::move(w.out);
}

bool decodeDirectory(const Bytes& bytes, uint64_t fileSize, ArchiveState* s) {
    Reader r(bytes.data(), bytes.size());
    if (r.u32() != kDirectoryMagic) return false;
    uint32_t versionCount = r.u32();
    s->versionCounter = r.u32();
    s->maxTemporary = r.u32();
    uint32_t nodeCount = r.u32();
    s->nextNode = r.u32();
    s->compressed = (r.u32() & kFlagCompressed) != 0;
    // Counts are checked against the bytes that are there before anything is
    // reserved, so a damaged count cannot ask for memory the file cannot fill.
    constexpr size_t kMinVersionBytes = 29, kNodeBytes = 52;
    if (!r.ok() || versionCount > r.left() / kMinVersionBytes || nodeCount > r.left() / kNodeBytes) return false;
    s->versions.resize(versionCount);
    for (VersionEntry& v : s->versions) {
        v.number = r.u16();
        v.permanent = r.u8() != 0;
        uint8_t userLength = r.u8();
        v.dosTime = r.u32();
        v.size = r.u64();
        v.contentHash = r.u64();
        v.node = r.u32();
        uint8_t commentLength = r.u8();
        v.user = r.text(userLength);
        v.comment = r.text(commentLength);
        if (userLength > kMaxUser || commentLength > kMaxComment) return false;
    }
    s->nodes.resize(nodeCount);
    for (ContentNode& n : s->nodes) {
        n.id = r.u32();
        n.kind = r.u8();
        n.codec = r.u8();
        r.u16();
        n.parent = r.u32();
        n.offset = r.u64();
        n.storedLength = r.u64();
        n.rawLength = r.u64();
        n.contentSize = r.u64();
        n.blockHash = r.u64();
    }
    if (!r.ok() || r.left() != 0) return false;
    if (s->versionCounter > kLastVersionNumber + 1 || s->maxTemporary < kMinTemporaryLimit ||
        s->maxTemporary > kMaxTemporaryLimit)
        return false;

    auto byId = [](const ContentNode& a, const ContentNode& b) { return a.id < b.id; };
    if (!std::is_sorted(s->nodes.begin(), s->nodes.end(), byId)) std::sort(s->nodes.begin(), s->nodes.end(), byId);
    // Node ids on their own: looking up thousands of them is then a search
    // through a few cache lines rather than through the whole node table.
    std::vector<uint32_t> ids(s->nodes.size());
    for (size_t i = 0; i < ids.size(); ++i) ids[i] = s->nodes[i].id;
    auto indexOf = [&ids](uint32_t id) {
        auto it = std::lower_bound(ids.begin(), ids.end(), id);
        return it != ids.end() && *it == id ? static_cast<size_t>(it - ids.begin()) : SIZE_MAX;
    };
    for (size_t i = 0; i < s->nodes.size(); ++i) {
        const ContentNode& n = s->nodes[i];
        if (n.id == 0 || n.id >= s->nextNode || (i > 0 && s->nodes[i - 1].id == n.id)) return false;
        if (n.offset < kDataStart || n.offset > fileSize || n.storedLength > fileSize - n.offset) return false;
        if (n.contentSize > kMaxContentSize) return false;
        if (n.codec == ContentNode::Stored ? n.rawLength != n.storedLength
            : (n.codec != ContentNode::Zlib && n.codec != ContentNode::ZlibChunks) ||
                  n.rawLength > n.storedLength * kZlibMaxRatio + 64)
            return false;
        if (n.kind == ContentNode::Full ? (n.parent != 0 || n.rawLength != n.contentSize)
            : (n.kind != ContentNode::Delta || indexOf(n.parent) == SIZE_MAX || n.parent == n.id))
            return false;
    }
    // Chains must end at a full node. Each node is walked once: a walk stops
    // at a node already known to reach one, and a walk that comes back to a
    // node of its own path has found a cycle.
    enum : uint8_t { Unknown, OnPath, Reaches };
    std::vector<uint8_t> mark(s->nodes.size(), Unknown);
    std::vector<size_t> path;
    for (size_t i = 0; i < s->nodes.size(); ++i) {
        size_t at = i;
        path.clear();
        while (mark[at] == Unknown && s->nodes[at].kind == ContentNode::Delta) {
            mark[at] = OnPath;
            path.push_back(at);
            at = indexOf(s->nodes[at].parent);
        }
        if (mark[at] == OnPath) return false;
        mark[at] = Reaches;
        for (size_t p : path) mark[p] = Reaches;
    }
    uint32_t previous = 0;
    for (const VersionEntry& v : s->versions) {
        size_t n = indexOf(v.node);
        if (v.number <= previous || v.number >= s->versionCounter || n == SIZE_MAX ||
            s->nodes[n].contentSize != v.size)
            return false;
        previous = v.number;
    }
    return true;
}

}  // namespace kseng
