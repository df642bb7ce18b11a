#include "archive.h"

#include "codec.h"
#include "hash.h"

#include <algorithm>
#include <cstring>
#include <ctime>
#include <functional>
#include <new>
#include <stdexcept>

namespace kseng {
namespace {

// ---- layout --------------------------------------------------------------

const uint8_t kMagic[8] = {'K', 'S', 'A', 'R', 'C', 0x1A, '\r', '\n'};
constexpr uint16_t kFormatVersion = 1;
constexpr uint64_t kSlotOffset[2] = {0, 4096};  // a sector apart, so a torn write hits one slot
constexpr uint64_t kDataStart = 8192;
constexpr size_t kHeaderSize = 64;
constexpr uint32_t kDirectoryMagic = 0x5244534B;  // "KSDR"
constexpr uint32_t kFlagCompressed = 1;
// A zlib stream never expands data more than about 1032 times.
constexpr uint64_t kZlibMaxRatio = 1032;
// Deltas along a chain may add up to this much of their base before the next
// version starts a new base, which bounds the cost of rebuilding any version.
constexpr uint64_t kMinChainAllowance = 64 * 1024;
constexpr size_t kMaxChainDepth = 1000;
constexpr int kReadAttempts = 4;
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

// ---- little-endian encoding ----------------------------------------------

class Writer {
public:
    Bytes out;
    void u8(uint8_t v) { out.push_back(v); }
    void u16(uint16_t v) { raw(&v, 2); }
    void u32(uint32_t v) { raw(&v, 4); }
    void u64(uint64_t v) { raw(&v, 8); }
    void raw(const void* p, size_t n) {
        const auto* b = static_cast<const uint8_t*>(p);
        out.insert(out.end(), b, b + n);
    }
};

// Reads with bounds checks; once anything is out of bounds every further
// read yields zero and ok() stays false.
class Reader {
public:
    Reader(const uint8_t* p, size_t n) : p_(p), end_(p + n) {}
    bool ok() const { return ok_; }
    size_t left() const { return static_cast<size_t>(end_ - p_); }
    uint8_t u8() { uint8_t v = 0; raw(&v, 1); return v; }
    uint16_t u16() { uint16_t v = 0; raw(&v, 2); return v; }
    uint32_t u32() { uint32_t v = 0; raw(&v, 4); return v; }
    uint64_t u64() { uint64_t v = 0; raw(&v, 8); return v; }
    std::string text(size_t n) {
        std::string s;
        if (n > left()) { ok_ = false; return s; }
        s.assign(reinterpret_cast<const char*>(p_), n);
        p_ += n;
        return s;
    }
    void raw(void* out, size_t n) {
        if (!ok_ || n > left()) { ok_ = false; return; }
        std::memcpy(out, p_, n);
        p_ += n;
    }

private:
    const uint8_t* p_;
    const uint8_t* end_;
    bool ok_ = true;
};

// ---- header slots ----------------------------------------------------------

struct Header {
    uint16_t formatVersion = 0;
    uint32_t flags = 0;
    uint64_t sequence = 0;
    uint64_t directoryOffset = 0;
    uint64_t directoryLength = 0;
    uint64_t directoryHash = 0;
};

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

enum class SlotRead { Valid, Invalid, Newer };

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

// ---- directory ---------------------------------------------------------------

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

// Every reference checked here, so that later code may trust the state.
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

// ---- blocks --------------------------------------------------------------------

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

struct Extent {
    uint64_t offset;
    uint64_t length;
    bool operator<(const Extent& o) const { return offset < o.offset; }
};

void collectExtents(const ArchiveState& s, std::vector<Extent>* out) {
    for (const ContentNode& n : s.nodes) out->push_back({n.offset, n.storedLength});
    if (s.directoryLength) out->push_back({s.directoryOffset, s.directoryLength});
}

uint64_t extentEnd(const std::vector<Extent>& extents) {
    uint64_t end = kDataStart;
    for (const Extent& e : extents) end = std::max(end, e.offset + e.length);
    return end;
}

// ---- loading ----------------------------------------------------------------------

struct Loaded {
    ArchiveState current;
    ArchiveState previous;  // the other slot's state, when it is intact
    bool hasPrevious = false;
    uint64_t highestSequence = 0;
};

Status loadDirectory(File& file, uint64_t fileSize, const Header& h, int slot, ArchiveState* s) {
    if (h.directoryOffset < kDataStart || h.directoryOffset > fileSize ||
        h.directoryLength > fileSize - h.directoryOffset)
        return kCorrupt;
    Bytes bytes;
    try {
        bytes.resize(static_cast<size_t>(h.directoryLength));
    } catch (const std::bad_alloc&) {
        return kNoMemory;
    }
    if (!file.readAt(h.directoryOffset, bytes.data(), bytes.size())) return kCorrupt;
    if (hash64(bytes.data(), bytes.size()) != h.directoryHash) return kCorrupt;
    *s = ArchiveState();
    if (!decodeDirectory(bytes, fileSize, s)) return kCorrupt;
    s->sequence = h.sequence;
    s->slot = slot;
    s->directoryOffset = h.directoryOffset;
    s->directoryLength = h.directoryLength;
    return kOk;
}

Status loadBoth(File& file, Loaded* loaded) {
    uint64_t fileSize = 0;
    if (!file.size(&fileSize)) return kIoError;
    if (fileSize < kDataStart) return kCorrupt;
    Header headers[2];
    SlotRead reads[2];
    for (int i = 0; i < 2; ++i) {
        uint8_t raw[kHeaderSize];
        if (!file.readAt(kSlotOffset[i], raw, kHeaderSize)) return kIoError;
        reads[i] = decodeHeader(raw, &headers[i]);
    }
    if (reads[0] == SlotRead::Newer || reads[1] == SlotRead::Newer) return kNewerFormat;
    int order[2] = {0, 1};
    if (reads[1] == SlotRead::Valid && (reads[0] != SlotRead::Valid || headers[1].sequence > headers[0].sequence))
        std::swap(order[0], order[1]);
    loaded->highestSequence = std::max(reads[0] == SlotRead::Valid ? headers[0].sequence : 0,
                                       reads[1] == SlotRead::Valid ? headers[1].sequence : 0);
    Status status = kCorrupt;
    int found = -1;
    for (int k = 0; k < 2 && found < 0; ++k) {
        int slot = order[k];
        if (reads[slot] != SlotRead::Valid) continue;
        status = loadDirectory(file, fileSize, headers[slot], slot, &loaded->current);
        if (status == kOk) found = k;
        else if (status == kNoMemory) return status;
    }
    if (found < 0) return status;
    loaded->hasPrevious = false;
    if (found == 0 && reads[order[1]] == SlotRead::Valid)
        loaded->hasPrevious = loadDirectory(file, fileSize, headers[order[1]], order[1], &loaded->previous) == kOk;
    return kOk;
}

// ---- updating ----------------------------------------------------------------------

// One change to an open archive: new blocks go only where neither header slot
// points, and the new state becomes visible with the single write of a slot.
class Update {
public:
    explicit Update(File& file) : file_(file) {}

    Status begin() {
        Status status = loadBoth(file_, &loaded_);
        if (status != kOk) return status;
        next_ = loaded_.current;
        collectExtents(loaded_.current, &used_);
        if (loaded_.hasPrevious) collectExtents(loaded_.previous, &used_);
        std::sort(used_.begin(), used_.end());
        return kOk;
    }
    ArchiveState& state() { return next_; }
    File& file() { return file_; }

    // Stores raw as the block of node (compressed when the archive is).
    Status putBlock(ContentNode* node, const Bytes& raw, int level) {
        Bytes packed;
        const Bytes* stored = &raw;
        node->codec = ContentNode::Stored;
        if (next_.compressed && !raw.empty()) {
            bool chunked = raw.size() > kChunkSize;
            packed = chunked ? packChunks(raw, level) : deflateRange(raw.data(), raw.size(), level);
            if (packed.size() < raw.size()) {
                stored = &packed;
                node->codec = chunked ? ContentNode::ZlibChunks : ContentNode::Zlib;
            }
        }
        node->rawLength = raw.size();
        node->storedLength = stored->size();
        node->blockHash = hash64(stored->data(), stored->size());
        node->offset = allocate(stored->size());
        if (!stored->empty() && !file_.writeAt(node->offset, stored->data(), stored->size())) return kIoError;
        return kOk;
    }

    Status commit() {
        Bytes directory = encodeDirectory(next_);
        next_.directoryLength = directory.size();
        next_.directoryOffset = allocate(directory.size());
        Header h;
        h.formatVersion = kFormatVersion;
        h.flags = next_.compressed ? kFlagCompressed : 0;
        h.sequence = loaded_.highestSequence + 1;
        h.directoryOffset = next_.directoryOffset;
        h.directoryLength = next_.directoryLength;
        h.directoryHash = hash64(directory.data(), directory.size());
        int slot = loaded_.current.slot == 0 ? 1 : 0;
        Bytes header = encodeHeader(h);
        // Blocks and directory must be on disk before the slot that names them.
        if (!file_.writeAt(next_.directoryOffset, directory.data(), directory.size()) || !file_.flush())
            return kIoError;
        if (!file_.writeAt(kSlotOffset[slot], header.data(), header.size()) || !file_.flush()) {
            // The new slot may or may not have reached the disk. A failure must
            // leave the archive as it was, so the slot is wiped: the other
            // slot still names the old state, untouched.
            Bytes zeros(kHeaderSize, 0);
            if (file_.writeAt(kSlotOffset[slot], zeros.data(), zeros.size())) file_.flush();
            return kIoError;
        }
        // Space neither slot names any longer is handed back; failing to
        // shrink costs space, never a version.
        std::vector<Extent> live;
        collectExtents(next_, &live);
        collectExtents(loaded_.current, &live);
        uint64_t end = extentEnd(live), size = 0;
        if (file_.size(&size) && size > end && file_.truncate(end)) file_.flush();
        return kOk;
    }

private:
    // First fit: the first gap that holds the block, else the end. (Best fit
    // was tried: its small deltas in small gaps keep the rooms of old
    // directories from merging, and archives with long histories doubled.)
    uint64_t allocate(uint64_t length) {
        uint64_t at = kDataStart;
        size_t index = 0;
        for (; index < used_.size(); ++index) {
            const Extent& e = used_[index];
            if (e.offset >= at && e.offset - at >= length) break;
            at = std::max(at, e.offset + e.length);
        }
        used_.insert(used_.begin() + static_cast<std::ptrdiff_t>(index), Extent{at, length});
        return at;
    }

    File& file_;
    Loaded loaded_;
    ArchiveState next_;
    std::vector<Extent> used_;
};

int levelFor(uint8_t kind) { return kind == ContentNode::Full ? 3 : 9; }

ContentNode* findNode(ArchiveState& s, uint32_t id) {
    for (ContentNode& n : s.nodes)
        if (n.id == id) return &n;
    return nullptr;
}

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

// Deletes the oldest temporary versions until no more than the limit remain.
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

// Adds a version whose content readNew supplies. The newest version is
// rebuilt before the new content is read, so that the base it was rebuilt
// from is gone again and no more than two versions are in memory at once.
Status appendVersion(Update& u, const std::function<Status(Bytes*)>& readNew, const VersionMeta& meta) {
    ArchiveState& s = u.state();
    if (s.versionCounter > kLastVersionNumber) return kNumbersExhausted;
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

// The two header slots as they are on disk: when they have not changed, a
// damaged read was no race with a writer.
Bytes headerSlots(File& file) {
    Bytes slots(2 * kHeaderSize, 0);
    for (int i = 0; i < 2; ++i) file.readAt(kSlotOffset[i], slots.data() + i * kHeaderSize, kHeaderSize);
    return slots;
}

// Runs one read-only look at an archive, again when a concurrent writer
// committed while it was reading.
Status withArchive(FileSystem& fs, const std::string& path, const std::function<Status(File&)>& look) {
    Status status = kCorrupt;
    for (int attempt = 0; attempt < kReadAttempts; ++attempt) {
        OpenError error;
        std::unique_ptr<File> file = fs.open(path, OpenMode::Read, &error);
        if (!file) return error == OpenError::NotFound ? kNoArchive : kIoError;
        Bytes before = headerSlots(*file);
        status = look(*file);
        if (status != kCorrupt || headerSlots(*file) == before) return status;
    }
    return status;
}

Status guarded(const std::function<Status()>& body) {
    try {
        return body();
    } catch (const std::bad_alloc&) {
        return kNoMemory;
    } catch (const std::length_error&) {
        return kNoMemory;
    }
}

Status loadVersionContent(File& file, uint32_t number, Bytes* content) {
    Loaded loaded;
    Status status = loadBoth(file, &loaded);
    if (status != kOk) return status;
    const VersionEntry* v = loaded.current.findVersion(number);
    if (!v) return kNoVersion;
    status = rebuildContent(file, loaded.current, v->node, content);
    if (status != kOk) return status;
    return matchesVersion(loaded.current, *v, *content) ? kOk : kCorrupt;
}

Status readSource(FileSystem& fs, const std::string& path, Bytes* content) {
    bool tooLarge = false;
    if (readWholeFile(fs, path, kMaxContentSize, content, &tooLarge)) return kOk;
    return tooLarge ? kTooLarge : kSourceUnreadable;
}

}  // namespace

// ---- state queries --------------------------------------------------------------------

const VersionEntry* ArchiveState::findVersion(uint32_t number) const {
    auto it = std::lower_bound(versions.begin(), versions.end(), number,
                               [](const VersionEntry& v, uint32_t n) { return v.number < n; });
    return it != versions.end() && it->number == number ? &*it : nullptr;
}

const ContentNode* ArchiveState::findNode(uint32_t id) const {
    auto it = std::lower_bound(nodes.begin(), nodes.end(), id,
                               [](const ContentNode& n, uint32_t i) { return n.id < i; });
    return it != nodes.end() && it->id == id ? &*it : nullptr;
}

size_t ArchiveState::temporaryCount() const {
    return static_cast<size_t>(std::count_if(versions.begin(), versions.end(),
                                             [](const VersionEntry& v) { return !v.permanent; }));
}

std::string boundedText(const char* text, size_t max) {
    if (!text) return std::string();
    size_t n = 0;
    while (n < max && text[n]) ++n;
    return std::string(text, n);
}

uint32_t currentDosTime() {
    std::time_t now = std::time(nullptr);
    std::tm utc = {};
#ifdef _WIN32
    gmtime_s(&utc, &now);
#else
    gmtime_r(&now, &utc);
#endif
    int year = std::min(std::max(utc.tm_year + 1900, 1980), 2107);
    return static_cast<uint32_t>(year - 1980) << 25 | static_cast<uint32_t>(utc.tm_mon + 1) << 21 |
           static_cast<uint32_t>(utc.tm_mday) << 16 | static_cast<uint32_t>(utc.tm_hour) << 11 |
           static_cast<uint32_t>(utc.tm_min) << 5 | static_cast<uint32_t>(utc.tm_sec / 2);
}

Status loadState(File& file, ArchiveState* state) {
    return guarded([&] {
        Loaded loaded;
        Status status = loadBoth(file, &loaded);
        if (status == kOk) *state = std::move(loaded.current);
        return status;
    });
}

Status loadContent(File& file, const ArchiveState& state, uint32_t nodeId, Bytes* content) {
    return guarded([&] { return state.findNode(nodeId) ? rebuildContent(file, state, nodeId, content) : kNoVersion; });
}

Status readState(FileSystem& fs, const std::string& archivePath, ArchiveState* state) {
    return withArchive(fs, archivePath, [&](File& file) { return loadState(file, state); });
}

Status readVersion(FileSystem& fs, const std::string& archivePath, uint32_t number, Bytes* content) {
    return withArchive(fs, archivePath,
                       [&](File& file) { return guarded([&] { return loadVersionContent(file, number, content); }); });
}

int compareWorking(FileSystem& fs, const std::string& workingPath, const std::string& archivePath) {
    Bytes working;
    Status status = guarded([&] { return readSource(fs, workingPath, &working); });
    if (status != kOk) return -static_cast<int>(status);
    ArchiveState state;
    status = readState(fs, archivePath, &state);
    if (status != kOk) return -static_cast<int>(status);
    if (state.versions.empty()) return 1;
    const VersionEntry& latest = state.versions.back();
    return latest.size == working.size() && latest.contentHash == hash64(working.data(), working.size()) ? 0 : 1;
}

Status extractVersion(FileSystem& fs, const std::string& archivePath, uint32_t number, const std::string& targetPath) {
    return guarded([&] {
        Bytes content;
        Status status = readVersion(fs, archivePath, number, &content);
        if (status != kOk) return status;
        std::string scratch = fs.scratchNameBeside(targetPath);
        std::unique_ptr<File> out = fs.open(scratch, OpenMode::CreateNew);
        if (!out) return kTargetUnwritable;
        bool written = (content.empty() || out->writeAt(0, content.data(), content.size())) && out->flush();
        out.reset();
        if (!written || !fs.replace(scratch, targetPath)) {
            fs.remove(scratch);
            return kTargetUnwritable;
        }
        return kOk;
    });
}

Status createArchive(FileSystem& fs, const std::string& archivePath, const std::string& sourcePath,
                     const VersionMeta& meta, uint32_t maxTemporary, bool compress) {
    return guarded([&] {
        if (std::unique_ptr<File> existing = fs.open(archivePath, OpenMode::Read)) return kExists;
        Status status = kOk;
        std::string scratch = fs.scratchNameBeside(archivePath);
        std::unique_ptr<File> file = fs.open(scratch, OpenMode::CreateNew);
        if (!file) return kIoError;
        // An empty archive: zero slots, so the first commit lands in slot 0.
        Bytes empty(kDataStart, 0);
        ArchiveState initial;
        initial.compressed = compress;
        initial.maxTemporary = std::min(std::max(maxTemporary, kMinTemporaryLimit), kMaxTemporaryLimit);
        initial.slot = 1;
        Bytes directory = encodeDirectory(initial);
        Header h;
        h.formatVersion = kFormatVersion;
        h.directoryOffset = kDataStart;
        h.directoryLength = directory.size();
        h.directoryHash = hash64(directory.data(), directory.size());
        Bytes header = encodeHeader(h);
        std::memcpy(empty.data() + kSlotOffset[1], header.data(), header.size());
        if (!file->writeAt(0, empty.data(), empty.size()) ||
            !file->writeAt(kDataStart, directory.data(), directory.size())) {
            status = kIoError;
        } else {
            Update u(*file);
            status = u.begin();
            if (status == kOk)
                status = appendVersion(u, [&](Bytes* content) { return readSource(fs, sourcePath, content); }, meta);
            if (status == kOk) status = u.commit();
            // The empty state in slot 1 is no fallback worth having: without
            // it a damaged slot 0 reads as damage, not as an empty history.
            Bytes zeros(kHeaderSize, 0);
            if (status == kOk && (!file->writeAt(kSlotOffset[1], zeros.data(), zeros.size()) || !file->flush()))
                status = kIoError;
        }
        file.reset();
        if (status == kOk && !fs.publish(scratch, archivePath)) {
            std::unique_ptr<File> existing = fs.open(archivePath, OpenMode::Read);
            status = existing ? kExists : kIoError;
        }
        if (status != kOk) fs.remove(scratch);
        return status;
    });
}

Status addVersion(File& file, const std::string& sourcePath, FileSystem& fs, const VersionMeta& meta) {
    return guarded([&] {
        Update u(file);
        Status status = u.begin();
        if (status == kOk)
            status = appendVersion(u, [&](Bytes* content) { return readSource(fs, sourcePath, content); }, meta);
        return status == kOk ? u.commit() : status;
    });
}

Status deleteVersion(File& file, uint32_t number) {
    return guarded([&] {
        Update u(file);
        Status status = u.begin();
        if (status != kOk) return status;
        const VersionEntry* v = u.state().findVersion(number);
        if (!v) return kNoVersion;
        status = removeVersion(u, static_cast<size_t>(v - u.state().versions.data()));
        if (status != kOk) return status;
        dropUnusedNodes(u.state());
        return u.commit();
    });
}

Status setPermanent(File& file, uint32_t number, bool permanent) {
    return guarded([&] {
        Update u(file);
        Status status = u.begin();
        if (status != kOk) return status;
        const VersionEntry* v = u.state().findVersion(number);
        if (!v) return kNoVersion;
        if (v->permanent == permanent) return kOk;
        u.state().versions[static_cast<size_t>(v - u.state().versions.data())].permanent = permanent;
        return u.commit();
    });
}

Status setMaxTemporary(File& file, uint32_t count) {
    if (count < kMinTemporaryLimit || count > kMaxTemporaryLimit) return kBadArgument;
    return guarded([&] {
        Update u(file);
        Status status = u.begin();
        if (status != kOk) return status;
        if (u.state().maxTemporary == count) return kOk;
        u.state().maxTemporary = count;
        status = pruneTemporary(u);
        return status == kOk ? u.commit() : status;
    });
}

const char* statusText(int status) {
    switch (status) {
    case kOk: return "success";
    case kNoArchive: return "no archive";
    case kCorrupt: return "archive damaged or not an archive";
    case kReserved: return "archive reserved by another process";
    case kIoError: return "read, write or flush failed";
    case kTooLarge: return "file too large";
    case kNoVersion: return "no such version";
    case kSourceUnreadable: return "file cannot be read";
    case kTargetUnwritable: return "target cannot be written";
    case kExists: return "archive exists already";
    case kBadArgument: return "bad argument";
    case kNoMemory: return "not enough memory";
    case kNumbersExhausted: return "version numbers exhausted";
    case kNewerFormat: return "archive of a newer format";
    }
    return "unknown status";
}

}  // namespace kseng
