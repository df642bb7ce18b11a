#include "format.h"

#include "codec.h"
#include "encoding.h"
#include "hash.h"

#include <algorithm>
#include <map>

namespace kseng {
namespace {

constexpr uint32_t kFirstDirectoryMagic = 0x5244534B;  // "KSDR"
constexpr uint32_t kDirectoryMagic = 0x3244534B;       // "KSD2"
constexpr uint8_t kWhole = 1, kChanges = 2;
// Magic, kind, three zero bytes, sequence and length before the body; the
// directory's own hash after it.
constexpr size_t kDirectoryPrefix = 24;
constexpr size_t kDirectorySuffix = 8;
// The fewest bytes an entry can take, so that a count can be checked against
// the bytes present before anything is reserved for it.
constexpr size_t kMinVersionBytes = 18, kMinNodeBytes = 18;

void encodeVersion(Writer& w, const VersionEntry& v, uint32_t previousNumber) {
    w.varint(v.number - previousNumber);
    w.u8(v.permanent ? 1 : 0);
    w.u32(v.dosTime);
    w.varint(v.size);
    w.u64(v.contentHash);
    w.varint(v.node);
    w.u8(static_cast<uint8_t>(v.user.size()));
    w.raw(v.user.data(), v.user.size());
    w.u8(static_cast<uint8_t>(v.comment.size()));
    w.raw(v.comment.data(), v.comment.size());
}

bool decodeVersion(Reader& r, VersionEntry* v, uint32_t previousNumber) {
    uint64_t number = previousNumber + r.varint();
    v->permanent = r.u8() != 0;
    v->dosTime = r.u32();
    v->size = r.varint();
    v->contentHash = r.u64();
    v->node = r.varint32();
    size_t userLength = r.u8();
    v->user = r.text(userLength);
    size_t commentLength = r.u8();
    v->comment = r.text(commentLength);
    if (number > kLastVersionNumber || userLength > kMaxUser || commentLength > kMaxComment) return false;
    v->number = static_cast<uint16_t>(number);
    return r.ok();
}

void encodeNode(Writer& w, const ContentNode& n, uint32_t previousId) {
    w.varint(n.id - previousId);
    w.u8(n.kind);
    w.u8(n.layout);
    w.u8(n.codec);
    w.varint(n.parent);
    w.varint(n.offset);
    w.varint(n.storedLength);
    w.varint(n.rawLength);
    w.varint(n.contentSize);
    w.varint(n.literalLength);
    w.u64(n.blockHash);
}

bool decodeNode(Reader& r, ContentNode* n, uint32_t previousId) {
    uint64_t id = previousId + uint64_t(r.varint32());
    n->kind = r.u8();
    n->layout = r.u8();
    n->codec = r.u8();
    n->parent = r.varint32();
    n->offset = r.varint();
    n->storedLength = r.varint();
    n->rawLength = r.varint();
    n->contentSize = r.varint();
    n->literalLength = r.varint();
    n->blockHash = r.u64();
    if (id > UINT32_MAX) return false;
    n->id = static_cast<uint32_t>(id);
    return r.ok();
}

void startRecord(Writer& w, uint8_t kind, uint64_t sequence) {
    w.u32(kDirectoryMagic);
    w.u8(kind);
    w.raw("\0\0\0", 3);
    w.u64(sequence);
    w.u64(0);  // the length, filled in by finishRecord
}

Bytes finishRecord(Writer& w) {
    uint64_t length = w.out.size() + kDirectorySuffix;
    std::memcpy(w.out.data() + 16, &length, 8);
    w.u64(hash64(w.out.data(), w.out.size()));
    return std::move(w.out);
}

void encodeScalars(Writer& w, const ArchiveState& s) {
    w.varint(s.versionCounter);
    w.varint(s.maxTemporary);
    w.varint(s.nextNode);
    w.varint(s.compressed ? kFlagCompressed : 0);
    w.varint(s.signatureOffset);
    w.varint(s.signatureCapacity);
    w.varint(s.signatureNode);
}

void decodeScalars(Reader& r, ArchiveState* s) {
    s->versionCounter = r.varint32();
    s->maxTemporary = r.varint32();
    s->nextNode = r.varint32();
    s->compressed = (r.varint() & kFlagCompressed) != 0;
    s->signatureOffset = r.varint();
    s->signatureCapacity = r.varint();
    s->signatureNode = r.varint32();
}

// Ascending ids or numbers, each the step from the one before.
void encodeIds(Writer& w, const std::vector<uint32_t>& ids) {
    w.varint(ids.size());
    uint32_t previous = 0;
    for (uint32_t id : ids) {
        w.varint(id - previous);
        previous = id;
    }
}

bool decodeIds(Reader& r, std::vector<uint32_t>* ids) {
    uint64_t count = r.varint();
    if (!r.ok() || count > r.left()) return false;
    ids->resize(static_cast<size_t>(count));
    uint64_t previous = 0;
    for (uint32_t& id : *ids) {
        uint64_t step = r.varint();
        if (previous && step == 0) return false;
        previous += step;
        if (previous > UINT32_MAX) return false;
        id = static_cast<uint32_t>(previous);
    }
    return r.ok();
}

bool sameVersion(const VersionEntry& a, const VersionEntry& b) {
    return a.number == b.number && a.permanent == b.permanent && a.dosTime == b.dosTime && a.size == b.size &&
           a.contentHash == b.contentHash && a.node == b.node && a.user == b.user && a.comment == b.comment;
}

bool sameNode(const ContentNode& a, const ContentNode& b) {
    return a.id == b.id && a.kind == b.kind && a.layout == b.layout && a.codec == b.codec && a.parent == b.parent &&
           a.offset == b.offset && a.storedLength == b.storedLength && a.rawLength == b.rawLength &&
           a.contentSize == b.contentSize && a.literalLength == b.literalLength && a.blockHash == b.blockHash;
}

bool decodeChanges(Reader& r, DirectoryChanges* c) {
    c->previous.offset = r.varint();
    c->previous.length = r.varint();
    c->previousHash = r.u64();
    c->depth = r.varint32();
    decodeScalars(r, &c->scalars);
    if (!decodeIds(r, &c->removedVersions)) return false;
    uint64_t count = r.varint();
    if (!r.ok() || count > r.left() / kMinVersionBytes) return false;
    c->versions.resize(static_cast<size_t>(count));
    uint32_t previous = 0;
    for (VersionEntry& v : c->versions) {
        if (!decodeVersion(r, &v, previous) || (previous && v.number <= previous)) return false;
        previous = v.number;
    }
    if (!decodeIds(r, &c->removedNodes)) return false;
    count = r.varint();
    if (!r.ok() || count > r.left() / kMinNodeBytes) return false;
    c->nodes.resize(static_cast<size_t>(count));
    previous = 0;
    for (ContentNode& n : c->nodes) {
        if (!decodeNode(r, &n, previous) || (previous && n.id <= previous)) return false;
        previous = n.id;
    }
    return r.ok() && r.left() == 0;
}

// Entries ascending by key, merged with changes by key (null: removed).
template <typename Entry, typename Key>
void merge(std::vector<Entry>* entries, const std::map<uint32_t, const Entry*>& changes, Key key) {
    std::vector<Entry> out;
    out.reserve(entries->size() + changes.size());
    auto change = changes.begin();
    for (Entry& e : *entries) {
        for (; change != changes.end() && change->first < key(e); ++change)
            if (change->second) out.push_back(*change->second);
        if (change != changes.end() && change->first == key(e)) {
            if (change->second) out.push_back(*change->second);
            ++change;
        } else {
            out.push_back(std::move(e));
        }
    }
    for (; change != changes.end(); ++change)
        if (change->second) out.push_back(*change->second);
    *entries = std::move(out);
}

// Blocks and directories lie inside the file, after the header sectors.
bool inFile(uint64_t offset, uint64_t length, uint64_t fileSize) {
    return offset >= kDataStart && offset <= fileSize && length <= fileSize - offset;
}

// A block's codec and lengths fit its layout: neither zlib nor the LZ form
// makes more than about 1032 bytes of one, a frame holds at most kFrameSize.
bool checkBlock(const ContentNode& n) {
    bool zlibRatio = n.rawLength <= n.storedLength * kZlibMaxRatio + 64;
    if (n.layout == ContentNode::FirstLayout) {
        if (n.literalLength != 0) return false;
        switch (n.codec) {
        case ContentNode::Stored: return n.rawLength == n.storedLength;
        case ContentNode::Zlib:
        case ContentNode::ZlibChunks: return zlibRatio;
        default: return false;
        }
    }
    if (n.layout != ContentNode::FramedLayout || n.literalLength > n.rawLength ||
        (n.kind == ContentNode::Full && n.literalLength != 0))
        return false;
    switch (n.codec) {
    case ContentNode::Stored: return n.rawLength == n.storedLength && n.rawLength <= kFrameSize;
    case ContentNode::Zlib:
    case ContentNode::Lz: return zlibRatio && n.rawLength <= kFrameSize && n.storedLength < n.rawLength;
    case ContentNode::Indexed: return zlibRatio && n.rawLength > kFrameSize;
    default: return false;
    }
}

bool checkNodes(ArchiveState& s, uint64_t fileSize) {
    auto byId = [](const ContentNode& a, const ContentNode& b) { return a.id < b.id; };
    if (!std::is_sorted(s.nodes.begin(), s.nodes.end(), byId)) std::sort(s.nodes.begin(), s.nodes.end(), byId);
    // Node ids on their own: looking up thousands of them is then a search
    // through a few cache lines rather than through the whole node table.
    std::vector<uint32_t> ids(s.nodes.size());
    for (size_t i = 0; i < ids.size(); ++i) ids[i] = s.nodes[i].id;
    auto indexOf = [&ids](uint32_t id) {
        auto it = std::lower_bound(ids.begin(), ids.end(), id);
        return it != ids.end() && *it == id ? static_cast<size_t>(it - ids.begin()) : SIZE_MAX;
    };
    for (size_t i = 0; i < s.nodes.size(); ++i) {
        const ContentNode& n = s.nodes[i];
        if (n.id == 0 || n.id >= s.nextNode || (i > 0 && s.nodes[i - 1].id == n.id)) return false;
        if (!inFile(n.offset, n.storedLength, fileSize)) return false;
        if (!checkBlock(n)) return false;
        if (n.kind == ContentNode::Full ? (n.parent != 0 || n.rawLength != n.contentSize)
            : (n.kind != ContentNode::Delta || indexOf(n.parent) == SIZE_MAX || n.parent == n.id))
            return false;
    }
    // Chains must end at a full node. Each node is walked once: a walk stops
    // at a node already known to reach one, and a walk that comes back to a
    // node of its own path has found a cycle.
    enum : uint8_t { Unknown, OnPath, Reaches };
    std::vector<uint8_t> mark(s.nodes.size(), Unknown);
    std::vector<size_t> path;
    for (size_t i = 0; i < s.nodes.size(); ++i) {
        size_t at = i;
        path.clear();
        while (mark[at] == Unknown && s.nodes[at].kind == ContentNode::Delta) {
            mark[at] = OnPath;
            path.push_back(at);
            at = indexOf(s.nodes[at].parent);
        }
        if (mark[at] == OnPath) return false;
        mark[at] = Reaches;
        for (size_t p : path) mark[p] = Reaches;
    }
    // Each version has a node of its own: deleting one version must not take
    // another's content.
    std::vector<bool> owned(s.nodes.size(), false);
    uint32_t previous = 0;
    for (const VersionEntry& v : s.versions) {
        size_t n = indexOf(v.node);
        if (v.number <= previous || v.number >= s.versionCounter || n == SIZE_MAX || owned[n] ||
            s.nodes[n].contentSize != v.size)
            return false;
        owned[n] = true;
        previous = v.number;
    }
    return true;
}

// No two pieces of live data share a byte: overlapping blocks mean that one
// of them was written over the other.
bool checkOverlaps(const ArchiveState& s) {
    std::vector<Extent> live;
    live.reserve(s.nodes.size() + 2);
    for (const ContentNode& n : s.nodes)
        if (n.storedLength) live.push_back({n.offset, n.storedLength});
    for (const Extent& e : s.directoryChain) live.push_back(e);
    if (s.signatureCapacity) live.push_back({s.signatureOffset, s.signatureCapacity});
    std::sort(live.begin(), live.end());
    for (size_t i = 1; i < live.size(); ++i)
        if (live[i - 1].offset + live[i - 1].length > live[i].offset) return false;
    return true;
}

}  // namespace

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
    return r.ok() && h->formatVersion >= kFirstFormat ? SlotRead::Valid : SlotRead::Invalid;
}

bool decodeFirstDirectory(const Bytes& bytes, ArchiveState* s) {
    Reader r(bytes.data(), bytes.size());
    if (r.u32() != kFirstDirectoryMagic) return false;
    uint32_t versionCount = r.u32();
    s->versionCounter = r.u32();
    s->maxTemporary = r.u32();
    uint32_t nodeCount = r.u32();
    s->nextNode = r.u32();
    s->compressed = (r.u32() & kFlagCompressed) != 0;
    // Counts are checked against the bytes that are there before anything is
    // reserved, so a damaged count cannot ask for memory the file cannot fill.
    constexpr size_t kFirstVersionBytes = 29, kFirstNodeBytes = 52;
    if (!r.ok() || versionCount > r.left() / kFirstVersionBytes || nodeCount > r.left() / kFirstNodeBytes)
        return false;
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
        n.layout = ContentNode::FirstLayout;
        n.codec = r.u8();
        r.u16();
        n.parent = r.u32();
        n.offset = r.u64();
        n.storedLength = r.u64();
        n.rawLength = r.u64();
        n.contentSize = r.u64();
        n.blockHash = r.u64();
    }
    return r.ok() && r.left() == 0;
}

Bytes encodeDirectory(const ArchiveState& s, uint64_t sequence) {
    Writer w;
    startRecord(w, kWhole, sequence);
    encodeScalars(w, s);
    w.varint(s.versions.size());
    uint32_t previous = 0;
    for (const VersionEntry& v : s.versions) {
        encodeVersion(w, v, previous);
        previous = v.number;
    }
    w.varint(s.nodes.size());
    previous = 0;
    for (const ContentNode& n : s.nodes) {
        encodeNode(w, n, previous);
        previous = n.id;
    }
    return finishRecord(w);
}

Bytes encodeChanges(const ArchiveState& before, const ArchiveState& after, uint64_t sequence,
                    const DirectoryChanges& link) {
    Writer w;
    startRecord(w, kChanges, sequence);
    w.varint(link.previous.offset);
    w.varint(link.previous.length);
    w.u64(link.previousHash);
    w.varint(link.depth);
    encodeScalars(w, after);
    // Both lists ascend: one walk finds what went, what came and what changed.
    std::vector<uint32_t> removed;
    std::vector<const VersionEntry*> versions;
    size_t i = 0, j = 0;
    while (i < before.versions.size() || j < after.versions.size()) {
        if (j == after.versions.size() || (i < before.versions.size() && before.versions[i].number < after.versions[j].number)) {
            removed.push_back(before.versions[i++].number);
        } else if (i == before.versions.size() || after.versions[j].number < before.versions[i].number) {
            versions.push_back(&after.versions[j++]);
        } else {
            if (!sameVersion(before.versions[i], after.versions[j])) versions.push_back(&after.versions[j]);
            ++i;
            ++j;
        }
    }
    encodeIds(w, removed);
    w.varint(versions.size());
    uint32_t previous = 0;
    for (const VersionEntry* v : versions) {
        encodeVersion(w, *v, previous);
        previous = v->number;
    }
    removed.clear();
    std::vector<const ContentNode*> nodes;
    for (i = 0, j = 0; i < before.nodes.size() || j < after.nodes.size();) {
        if (j == after.nodes.size() || (i < before.nodes.size() && before.nodes[i].id < after.nodes[j].id)) {
            removed.push_back(before.nodes[i++].id);
        } else if (i == before.nodes.size() || after.nodes[j].id < before.nodes[i].id) {
            nodes.push_back(&after.nodes[j++]);
        } else {
            if (!sameNode(before.nodes[i], after.nodes[j])) nodes.push_back(&after.nodes[j]);
            ++i;
            ++j;
        }
    }
    encodeIds(w, removed);
    w.varint(nodes.size());
    previous = 0;
    for (const ContentNode* n : nodes) {
        encodeNode(w, *n, previous);
        previous = n->id;
    }
    return finishRecord(w);
}

bool decodeDirectory(const Bytes& bytes, DirectoryRecord* record, ArchiveState* whole, DirectoryChanges* changes) {
    if (bytes.size() < kDirectoryPrefix + kDirectorySuffix) return false;
    size_t hashed = bytes.size() - kDirectorySuffix;
    uint64_t stored;
    std::memcpy(&stored, bytes.data() + hashed, 8);
    if (hash64(bytes.data(), hashed) != stored) return false;
    Reader r(bytes.data(), hashed);
    if (r.u32() != kDirectoryMagic) return false;
    uint8_t kind = r.u8();
    if (kind != kWhole && kind != kChanges) return false;
    r.text(3);
    record->changes = kind == kChanges;
    record->sequence = r.u64();
    if (r.u64() != bytes.size()) return false;
    if (record->changes) return decodeChanges(r, changes);
    ArchiveState* s = whole;
    decodeScalars(r, s);
    uint64_t count = r.varint();
    if (!r.ok() || count > r.left() / kMinVersionBytes) return false;
    s->versions.resize(static_cast<size_t>(count));
    uint32_t previous = 0;
    for (VersionEntry& v : s->versions) {
        if (!decodeVersion(r, &v, previous)) return false;
        previous = v.number;
    }
    count = r.varint();
    if (!r.ok() || count > r.left() / kMinNodeBytes) return false;
    s->nodes.resize(static_cast<size_t>(count));
    previous = 0;
    for (ContentNode& n : s->nodes) {
        if (!decodeNode(r, &n, previous)) return false;
        previous = n.id;
    }
    return r.ok() && r.left() == 0;
}

bool applyChanges(ArchiveState* s, const std::vector<DirectoryChanges>& records) {
    if (records.empty()) return true;
    // Every record's changes gathered first, the later over the earlier, so
    // that the entries are merged in one pass however many records there are.
    // A removal must find its entry, in the whole directory or added by an
    // earlier record.
    std::map<uint32_t, const VersionEntry*> versions;
    std::map<uint32_t, const ContentNode*> nodes;
    auto inWhole = [](const auto& entries, uint32_t key, auto keyOf) {
        auto it = std::lower_bound(entries.begin(), entries.end(), key,
                                   [&](const auto& e, uint32_t k) { return keyOf(e) < k; });
        return it != entries.end() && keyOf(*it) == key;
    };
    auto versionKey = [](const VersionEntry& v) { return uint32_t(v.number); };
    auto nodeKey = [](const ContentNode& n) { return n.id; };
    for (const DirectoryChanges& c : records) {
        for (uint32_t number : c.removedVersions) {
            auto it = versions.find(number);
            if (it != versions.end() ? !it->second : !inWhole(s->versions, number, versionKey)) return false;
            versions[number] = nullptr;
        }
        for (const VersionEntry& v : c.versions) versions[v.number] = &v;
        for (uint32_t id : c.removedNodes) {
            auto it = nodes.find(id);
            if (it != nodes.end() ? !it->second : !inWhole(s->nodes, id, nodeKey)) return false;
            nodes[id] = nullptr;
        }
        for (const ContentNode& n : c.nodes) nodes[n.id] = &n;
    }
    const ArchiveState& last = records.back().scalars;
    s->versionCounter = last.versionCounter;
    s->maxTemporary = last.maxTemporary;
    s->nextNode = last.nextNode;
    s->compressed = last.compressed;
    s->signatureOffset = last.signatureOffset;
    s->signatureCapacity = last.signatureCapacity;
    s->signatureNode = last.signatureNode;
    merge(&s->versions, versions, versionKey);
    merge(&s->nodes, nodes, nodeKey);
    return true;
}

bool checkState(ArchiveState& s, uint64_t fileSize) {
    if (s.versionCounter < 1 || s.versionCounter > kLastVersionNumber + 1 || s.nextNode > kNodeIdLimit ||
        s.maxTemporary < kMinTemporaryLimit ||
        s.maxTemporary > kMaxTemporaryLimit)
        return false;
    if (s.signatureCapacity && !inFile(s.signatureOffset, s.signatureCapacity, fileSize)) return false;
    return checkNodes(s, fileSize) && checkOverlaps(s);
}

}  // namespace kseng
