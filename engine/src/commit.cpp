#include "commit.h"

#include "hash.h"

#include <algorithm>
#include <cstring>
#include <new>

namespace kseng {
namespace {

// Where the four header copies lie, in the order of Loaded::copies.
constexpr uint64_t kCopyOffset[4] = {kSlotOffset[0], kSlotOffset[1], kMirrorOffset[0], kMirrorOffset[1]};

bool allZero(const uint8_t* p, size_t n) {
    return std::all_of(p, p + n, [](uint8_t b) { return b == 0; });
}

uint64_t extentEnd(const std::vector<Extent>& extents) {
    uint64_t end = kDataStart;
    for (const Extent& e : extents) end = std::max(end, e.offset + e.length);
    return end;
}

// Reads the directory record at place, checked against hash.
Status readRecord(File& file, uint64_t fileSize, const Extent& place, uint64_t hash, Bytes* bytes) {
    if (place.offset < kDataStart || place.offset > fileSize || place.length > fileSize - place.offset) return kCorrupt;
    try {
        bytes->resize(static_cast<size_t>(place.length));
    } catch (const std::bad_alloc&) {
        return kNoMemory;
    }
    if (!file.readAt(place.offset, bytes->data(), bytes->size())) return kCorrupt;
    return hash64(bytes->data(), bytes->size()) == hash ? kOk : kCorrupt;
}

// The state a slot names: its directory record and, for a record of changes,
// the records before it back to a whole directory, each named by place and
// hash in the one after it.
Status loadState(File& file, uint64_t fileSize, const Header& h, int slot, ArchiveState* s) {
    *s = ArchiveState();
    Extent place{h.directoryOffset, h.directoryLength};
    Bytes bytes;
    Status status = readRecord(file, fileSize, place, h.directoryHash, &bytes);
    if (status != kOk) return status;
    bool decoded = true;
    if (h.formatVersion == kFirstFormat) {
        decoded = decodeFirstDirectory(bytes, s);
        s->directoryChain.push_back(place);
        s->wholeLength = place.length;
    } else {
        std::vector<DirectoryChanges> records;
        DirectoryRecord record;
        // The newest record carries the slot's sequence; each before it was
        // written by an earlier commit, with a lower one.
        uint64_t later = h.sequence;
        for (;;) {
            DirectoryChanges changes;
            decoded = decodeDirectory(bytes, &record, s, &changes) &&
                      (s->directoryChain.empty() ? record.sequence == later : record.sequence < later);
            later = record.sequence;
            if (!decoded) break;
            s->directoryChain.insert(s->directoryChain.begin(), place);
            if (!record.changes) {
                s->wholeLength = place.length;
                break;
            }
            // Records of changes count down to the whole directory before them.
            if (changes.depth == 0 || records.size() == kMostChangeRecords ||
                (!records.empty() && changes.depth != records.front().depth - 1)) {
                decoded = false;
                break;
            }
            s->changesLength += place.length;
            place = changes.previous;
            uint64_t hash = changes.previousHash;
            records.insert(records.begin(), std::move(changes));
            status = readRecord(file, fileSize, place, hash, &bytes);
            if (status != kOk) return status;
        }
        if (decoded && !records.empty()) decoded = records.front().depth == 1 && applyChanges(s, records);
    }
    s->formatVersion = h.formatVersion;
    s->sequence = h.sequence;
    s->slot = slot;
    s->directoryOffset = h.directoryOffset;
    s->directoryLength = h.directoryLength;
    return decoded && checkState(*s, fileSize) ? kOk : kCorrupt;
}

}  // namespace

void collectExtents(const ArchiveState& s, std::vector<Extent>* out) {
    for (const ContentNode& n : s.nodes) out->push_back({n.offset, n.storedLength});
    for (const Extent& e : s.directoryChain) out->push_back(e);
    if (s.signatureCapacity) out->push_back({s.signatureOffset, s.signatureCapacity});
}

Status loadNewest(File& file, Loaded* loaded) {
    uint64_t fileSize = 0;
    if (!file.size(&fileSize)) return kIoError;
    if (fileSize < kDataStart) return kCorrupt;
    Header headers[4];
    SlotRead reads[4];
    for (int i = 0; i < 4; ++i) {
        if (!file.readAt(kCopyOffset[i], loaded->copies[i], kHeaderSize)) return kIoError;
        reads[i] = decodeHeader(loaded->copies[i], &headers[i]);
        if (reads[i] == SlotRead::Newer) return kNewerFormat;
        if (reads[i] == SlotRead::Invalid && !allZero(loaded->copies[i], kHeaderSize)) ++loaded->damagedCopies;
    }
    // Each slot's better copy: the two differ only when a crash kept one of
    // the two writes of a commit and not the other.
    int best[2] = {-1, -1};
    for (int i = 0; i < 4; ++i) {
        int& slotBest = best[i % 2];
        if (reads[i] == SlotRead::Valid && (slotBest < 0 || headers[i].sequence > headers[slotBest].sequence))
            slotBest = i;
        if (reads[i] == SlotRead::Valid) loaded->highestSequence = std::max(loaded->highestSequence, headers[i].sequence);
    }
    if (best[0] < 0 && best[1] < 0) return kCorrupt;
    int newest = best[0] < 0 ? best[1]
                 : best[1] < 0 ? best[0]
                 : headers[best[1]].sequence > headers[best[0]].sequence ? best[1] : best[0];
    // From the second format on every slot has been written. A slot with no
    // valid copy has lost what it held, which may have been the newest state:
    // answering with the other slot's older state would roll the archive back
    // without a word, and a later save would take a number again.
    if (headers[newest].formatVersion != kFirstFormat && (best[0] < 0 || best[1] < 0)) return kCorrupt;
    loaded->newestCopy = newest;
    loaded->directoryHash = headers[newest].directoryHash;
    return loadState(file, fileSize, headers[newest], newest % 2, &loaded->current);
}

Status Update::begin() {
    Status status = loadNewest(file_, &loaded_);
    if (status != kOk) return status;
    next_ = loaded_.current;
    collectExtents(loaded_.current, &used_);
    std::sort(used_.begin(), used_.end());
    return kOk;
}

void Update::beginEmpty(bool compressed, uint32_t maxTemporary) {
    empty_ = true;
    next_ = ArchiveState();
    next_.compressed = compressed;
    next_.maxTemporary = maxTemporary;
}

uint64_t Update::tail() const {
    uint64_t end = kDataStart;
    for (const Extent& e : used_) end = std::max(end, e.offset + e.length);
    return end;
}

void Update::claim(uint64_t offset, uint64_t length) {
    Extent e{offset, length};
    used_.insert(std::upper_bound(used_.begin(), used_.end(), e), e);
}

void Update::release(uint64_t offset, uint64_t length) {
    auto it = std::find(used_.begin(), used_.end(), Extent{offset, length});
    if (it != used_.end()) used_.erase(it);
}

bool Update::readSignature(uint32_t node, Signature* signature) {
    if (!next_.signatureCapacity || next_.signatureNode != node) return false;
    Bytes bytes(kSignatureHeaderSize);
    if (next_.signatureCapacity < bytes.size() || !file_.readAt(next_.signatureOffset, bytes.data(), bytes.size()))
        return false;
    uint32_t count;
    std::memcpy(&count, bytes.data() + kSignatureHeaderSize - 4, 4);
    if (encodedSignatureSize(count) > next_.signatureCapacity) return false;
    bytes.resize(static_cast<size_t>(encodedSignatureSize(count)));
    return file_.readAt(next_.signatureOffset, bytes.data(), bytes.size()) && decodeSignature(bytes, signature) &&
           signature->node == node;
}

Status Update::writeSignature(const Signature& signature) {
    Bytes bytes = encodeSignature(signature);
    if (bytes.size() > next_.signatureCapacity) {
        // Room to grow a little, so that the next saves write in place; the
        // room is written whole, so that the file holds all of it.
        uint64_t capacity = (bytes.size() + bytes.size() / 8 + 4095) / 4096 * 4096;
        next_.signatureOffset = allocate(capacity);
        next_.signatureCapacity = capacity;
        bytes.resize(static_cast<size_t>(capacity), 0);
    }
    next_.signatureNode = signature.node;
    return file_.writeAt(next_.signatureOffset, bytes.data(), bytes.size()) ? kOk : kIoError;
}

bool Update::writeSlot(int slot, const Bytes& header) {
    return file_.writeAt(kSlotOffset[slot], header.data(), header.size()) &&
           file_.writeAt(kMirrorOffset[slot], header.data(), header.size());
}

Status Update::commit() {
    // A signature of a version no longer there is of no use.
    if (next_.signatureCapacity && !next_.findNode(next_.signatureNode)) {
        next_.signatureOffset = next_.signatureCapacity = 0;
        next_.signatureNode = 0;
    }
    uint64_t sequence = loaded_.highestSequence + 1;
    // A long directory is not written whole for every change: the commit
    // writes a record of its changes, naming the record before, until the
    // records would be many or long beside the whole directory.
    const ArchiveState& current = loaded_.current;
    Bytes directory;
    if (!empty_ && current.formatVersion != kFirstFormat && current.wholeLength >= kSmallestDirectoryKeptInChanges &&
        current.directoryChain.size() <= kMostChangeRecords) {
        DirectoryChanges link;
        link.previous = Extent{current.directoryOffset, current.directoryLength};
        link.previousHash = loaded_.directoryHash;
        link.depth = static_cast<uint32_t>(current.directoryChain.size());
        directory = encodeChanges(current, next_, sequence, link);
        if (current.changesLength + directory.size() <= current.wholeLength / 2) {
            next_.directoryChain = current.directoryChain;
            next_.changesLength = current.changesLength + directory.size();
        } else {
            directory.clear();
        }
    }
    if (directory.empty()) {
        directory = encodeDirectory(next_, sequence);
        next_.directoryChain.clear();
        next_.wholeLength = directory.size();
        next_.changesLength = 0;
    }
    next_.formatVersion = kFormatVersion;
    next_.sequence = sequence;
    next_.directoryLength = directory.size();
    next_.directoryOffset = allocate(directory.size());
    next_.directoryChain.push_back(Extent{next_.directoryOffset, next_.directoryLength});
    Header h;
    h.formatVersion = kFormatVersion;
    h.flags = next_.compressed ? kFlagCompressed : 0;
    h.sequence = sequence;
    h.directoryOffset = next_.directoryOffset;
    h.directoryLength = next_.directoryLength;
    h.directoryHash = hash64(directory.data(), directory.size());
    Bytes header = encodeHeader(h);
    // Blocks and directory must be on disk before the slot that names them.
    if (!file_.writeAt(next_.directoryOffset, directory.data(), directory.size()) || !file_.flush())
        return kIoError;
    // The slot that does not hold the current state; a new archive has both
    // slots written, so that each has a copy from the start.
    int slot = empty_ ? 0 : 1 - loaded_.current.slot;
    bool written = writeSlot(slot, header) && (!empty_ || writeSlot(1 - slot, header)) && file_.flush();
    if (!written) {
        // Either copy may or may not have reached the disk. A failed update
        // must leave the archive as it was, so both copies are given the
        // current state's header: the slot then names nothing new, and still
        // has a valid copy.
        if (!empty_) {
            const uint8_t* current = loaded_.copies[loaded_.newestCopy];
            if (writeSlot(slot, Bytes(current, current + kHeaderSize))) file_.flush();
        }
        return kIoError;
    }
    next_.slot = slot;
    // Space the new state no longer names is handed back; failing to shrink
    // costs space, never a version.
    std::vector<Extent> live;
    collectExtents(next_, &live);
    uint64_t end = extentEnd(live), size = 0;
    if (file_.size(&size) && size > end && file_.truncate(end)) file_.flush();
    return kOk;
}

// First fit: the first gap that holds the block, else the end. (Best fit
// was tried: its small deltas in small gaps keep the rooms of old
// directories from merging, and archives with long histories doubled.)
uint64_t Update::allocate(uint64_t length) {
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

}  // namespace kseng
