#include "commit.h"

#include "codec.h"
#include "hash.h"

#include <algorithm>
#include <new>

namespace kseng {
namespace {

void collectExtents(const ArchiveState& s, std::vector<Extent>* out) {
    for (const ContentNode& n : s.nodes) out->push_back({n.offset, n.storedLength});
    if (s.directoryLength) out->push_back({s.directoryOffset, s.directoryLength});
}

uint64_t extentEnd(const std::vector<Extent>& extents) {
    uint64_t end = kDataStart;
    for (const Extent& e : extents) end = std::max(end, e.offset + e.length);
    return end;
}

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

}  // namespace

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

Status Update::begin() {
    Status status = loadBoth(file_, &loaded_);
    if (status != kOk) return status;
    next_ = loaded_.current;
    collectExtents(loaded_.current, &used_);
    if (loaded_.hasPrevious) collectExtents(loaded_.previous, &used_);
    std::sort(used_.begin(), used_.end());
    return kOk;
}

Status Update::putBlock(ContentNode* node, const Bytes& raw, int level) {
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

Status Update::commit() {
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
