#include "blocks.h"

#include "codec.h"
#include "encoding.h"
#include "hash.h"

#include <algorithm>
#include <new>

namespace kseng {
namespace {

// The top bits of an index entry's stored length: how the frame is kept.
constexpr uint32_t kRawFrame = 0x80000000u, kLzFrame = 0x40000000u, kFrameBits = kRawFrame | kLzFrame;

FrameCodec codecOfWord(uint32_t word) {
    return word & kRawFrame ? FrameCodec::Raw : word & kLzFrame ? FrameCodec::Lz : FrameCodec::Zlib;
}
uint32_t wordOf(FrameCodec codec, size_t storedLength) {
    uint32_t bits = codec == FrameCodec::Raw ? kRawFrame : codec == FrameCodec::Lz ? kLzFrame : 0;
    return static_cast<uint32_t>(storedLength) | bits;
}
FrameCodec codecOfNode(uint8_t codec) {
    return codec == ContentNode::Stored ? FrameCodec::Raw : codec == ContentNode::Lz ? FrameCodec::Lz : FrameCodec::Zlib;
}
constexpr size_t kIndexEntry = 12;  // stored length and raw flag (4), hash (8)
constexpr size_t kFramesPerBatch = 2;
constexpr uint64_t kMostFrames = (uint64_t(1) << 24) + 1;

uint64_t frameCount(uint64_t rawLength, size_t frameSize) { return (rawLength + frameSize - 1) / frameSize; }

}  // namespace

Status BlockReader::open(File& file, const ContentNode& node) {
    file_ = &file;
    rawLength_ = node.rawLength;
    frames_.clear();
    cachedFrame_ = SIZE_MAX;
    if (node.layout == ContentNode::FirstLayout) return openFirstFormat(node);
    if (node.layout != ContentNode::FramedLayout) return kCorrupt;
    if (node.codec == ContentNode::Indexed) return openIndexed(node);
    if ((node.codec != ContentNode::Stored && node.codec != ContentNode::Zlib && node.codec != ContentNode::Lz) ||
        node.rawLength > kFrameSize || node.storedLength > kFrameSize)
        return kCorrupt;
    frameSize_ = kFrameSize;
    if (node.rawLength)
        frames_.push_back(Frame{node.offset, node.blockHash, static_cast<uint32_t>(node.storedLength), codecOfNode(node.codec), true});
    return kOk;
}

Status BlockReader::openIndexed(const ContentNode& node) {
    frameSize_ = kFrameSize;
    uint64_t count = frameCount(node.rawLength, kFrameSize);
    // No build writes a block of more than 16 TiB (and its deltas' few bytes).
    if (count < 2 || count > node.storedLength / kIndexEntry || count > kMostFrames) return kCorrupt;
    uint64_t indexLength = count * kIndexEntry;
    Bytes index;
    index.resize(static_cast<size_t>(indexLength));
    if (!file_->readAt(node.offset + node.storedLength - indexLength, index.data(), index.size())) return kCorrupt;
    if (hash64(index.data(), index.size()) != node.blockHash) return kCorrupt;
    Reader r(index.data(), index.size());
    frames_.resize(static_cast<size_t>(count));
    uint64_t at = node.offset, end = node.offset + node.storedLength - indexLength;
    for (uint64_t i = 0; i < count; ++i) {
        uint32_t word = r.u32();
        Frame& f = frames_[static_cast<size_t>(i)];
        f.storedOffset = at;
        f.storedLength = word & ~kFrameBits;
        f.codec = codecOfWord(word);
        f.hashed = true;
        f.hash = r.u64();
        uint64_t rawSize = std::min<uint64_t>(kFrameSize, node.rawLength - i * kFrameSize);
        if ((word & kFrameBits) == kFrameBits) return kCorrupt;
        if (f.codec == FrameCodec::Raw ? f.storedLength != rawSize : f.storedLength == 0 || f.storedLength >= rawSize)
            return kCorrupt;
        if (f.storedLength > end - at) return kCorrupt;
        at += f.storedLength;
    }
    return at == end ? kOk : kCorrupt;
}

// First-format blocks carry one hash over all their stored bytes: the block
// is checked whole before any of it is handed out.
Status BlockReader::verifyWhole(const ContentNode& node) {
    Hasher hasher;
    Bytes buffer(static_cast<size_t>(std::min<uint64_t>(node.storedLength, kFrameSize)));
    for (uint64_t at = 0; at < node.storedLength;) {
        size_t take = static_cast<size_t>(std::min<uint64_t>(buffer.size(), node.storedLength - at));
        if (!file_->readAt(node.offset + at, buffer.data(), take)) return kCorrupt;
        hasher.update(buffer.data(), take);
        at += take;
    }
    return hasher.digest() == node.blockHash ? kOk : kCorrupt;
}

Status BlockReader::openFirstFormat(const ContentNode& node) {
    switch (node.codec) {
    case ContentNode::Stored: {
        Status status = verifyWhole(node);
        if (status != kOk) return status;
        frameSize_ = kFrameSize;
        for (uint64_t at = 0; at < node.rawLength; at += kFrameSize)
            frames_.push_back(Frame{node.offset + at, 0, static_cast<uint32_t>(std::min<uint64_t>(kFrameSize, node.rawLength - at)),
                                    FrameCodec::Raw, false});
        return kOk;
    }
    case ContentNode::Zlib:
        // One stream of at most one first-format chunk, checked by the block's hash.
        if (node.rawLength > kFirstChunkSize || node.storedLength > kFirstChunkSize) return kCorrupt;
        frameSize_ = kFirstChunkSize;
        if (node.rawLength)
            frames_.push_back(Frame{node.offset, node.blockHash, static_cast<uint32_t>(node.storedLength), FrameCodec::Zlib, true});
        return kOk;
    case ContentNode::ZlibChunks: {
        Status status = verifyWhole(node);
        if (status != kOk) return status;
        // u32 chunk count, a u32 stored length per chunk (high bit: kept raw),
        // then the chunks.
        frameSize_ = kFirstChunkSize;
        uint64_t count = frameCount(node.rawLength, kFirstChunkSize);
        // The first format took no file above 2 GiB: 512 chunks.
        if (node.storedLength < 4 || count > (node.storedLength - 4) / 4 || count > 512) return kCorrupt;
        Bytes header(static_cast<size_t>(4 + 4 * count));
        if (!file_->readAt(node.offset, header.data(), header.size())) return kCorrupt;
        Reader r(header.data(), header.size());
        if (r.u32() != count) return kCorrupt;
        uint64_t at = node.offset + header.size(), end = node.offset + node.storedLength;
        for (uint64_t i = 0; i < count; ++i) {
            uint32_t word = r.u32();
            uint64_t length = word & ~kRawFrame, rawSize = std::min<uint64_t>(kFirstChunkSize, node.rawLength - i * kFirstChunkSize);
            bool raw = (word & kRawFrame) != 0;
            if ((raw && length != rawSize) || length > end - at) return kCorrupt;
            frames_.push_back(Frame{at, 0, static_cast<uint32_t>(length), raw ? FrameCodec::Raw : FrameCodec::Zlib, false});
            at += length;
        }
        return at == end ? kOk : kCorrupt;
    }
    }
    return kCorrupt;
}

Status BlockReader::load(size_t index, uint8_t* into) {
    const Frame& f = frames_[index];
    size_t rawSize = static_cast<size_t>(std::min<uint64_t>(frameSize_, rawLength_ - uint64_t(index) * frameSize_));
    cachedFrame_ = SIZE_MAX;
    bool cached = !into;
    try {
        if (cached) cache_.resize(rawSize);
        if (f.codec != FrameCodec::Raw) stored_.resize(static_cast<size_t>(f.storedLength));
    } catch (const std::bad_alloc&) {
        return kNoMemory;
    }
    if (cached) into = cache_.data();
    // A raw frame is read straight to where it goes; a packed one is read,
    // then unpacked there.
    uint8_t* storedAt = f.codec == FrameCodec::Raw ? into : stored_.data();
    if (f.codec == FrameCodec::Raw && f.storedLength != rawSize) return kCorrupt;
    if (!file_->readAt(f.storedOffset, storedAt, f.storedLength)) return kCorrupt;
    if (f.hashed && hash64(storedAt, f.storedLength) != f.hash) return kCorrupt;
    if (f.codec != FrameCodec::Raw && !unpackFrame(f.codec, stored_.data(), stored_.size(), into, rawSize))
        return kCorrupt;
    if (cached) cachedFrame_ = index;
    return kOk;
}

Status BlockReader::read(uint64_t offset, uint8_t* out, size_t length) {
    if (offset > rawLength_ || length > rawLength_ - offset) return kCorrupt;
    while (length > 0) {
        size_t index = static_cast<size_t>(offset / frameSize_);
        size_t within = static_cast<size_t>(offset - uint64_t(index) * frameSize_);
        size_t rawSize = static_cast<size_t>(std::min<uint64_t>(frameSize_, rawLength_ - uint64_t(index) * frameSize_));
        if (index != cachedFrame_ && within == 0 && length >= rawSize) {
            // A whole frame asked for: straight into the caller's buffer.
            Status status = load(index, out);
            if (status != kOk) return status;
            out += rawSize;
            offset += rawSize;
            length -= rawSize;
            continue;
        }
        if (index != cachedFrame_) {
            Status status = load(index, nullptr);
            if (status != kOk) return status;
        }
        size_t take = std::min(length, cache_.size() - within);
        std::memcpy(out, cache_.data() + within, take);
        out += take;
        offset += take;
        length -= take;
    }
    return kOk;
}

void BlockReader::release() {
    cachedFrame_ = SIZE_MAX;
    Bytes().swap(cache_);
    Bytes().swap(stored_);
}

Status BlockWriter::write(const uint8_t* data, size_t length) {
    written_ += length;
    while (length > 0) {
        if (current_.capacity() < kFrameSize) current_.reserve(kFrameSize);
        size_t take = std::min(length, kFrameSize - current_.size());
        current_.insert(current_.end(), data, data + take);
        data += take;
        length -= take;
        if (current_.size() == kFrameSize) {
            frames_.push_back(std::move(current_));
            current_ = Bytes();
            if (frames_.size() > kFramesPerBatch) {
                // Keep the newest full frame back: it may turn out to be the
                // block's only one.
                Bytes last = std::move(frames_.back());
                frames_.pop_back();
                Status status = flushFrames();
                frames_.push_back(std::move(last));
                if (status != kOk) return status;
            }
        }
    }
    return kOk;
}

Status BlockWriter::flushFrames() {
    if (!streaming_) {
        streaming_ = true;
        start_ = at_ = space_.tail();
    }
    std::vector<Bytes> packed(frames_.size());
    std::vector<FrameCodec> codecs(frames_.size(), FrameCodec::Raw);
    if (method_ != FrameCodec::Raw && !parallelFor(frames_.size(), [&](size_t i) {
            codecs[i] = packFrame(frames_[i].data(), frames_[i].size(), method_, level_, &packed[i]);
            return true;
        }))
        throw std::bad_alloc();
    Writer index;
    for (size_t i = 0; i < frames_.size(); ++i) {
        const Bytes& stored = codecs[i] == FrameCodec::Raw ? frames_[i] : packed[i];
        if (!file_.writeAt(at_, stored.data(), stored.size())) return kIoError;
        index.u32(wordOf(codecs[i], stored.size()));
        index.u64(hash64(stored.data(), stored.size()));
        at_ += stored.size();
    }
    index_.insert(index_.end(), index.out.begin(), index.out.end());
    frames_.clear();
    return kOk;
}

Status BlockWriter::finish(ContentNode* node) {
    node->layout = ContentNode::FramedLayout;
    node->rawLength = written_;
    if (!streaming_ && frames_.size() + (current_.empty() ? 0 : 1) <= 1) {
        const Bytes& frame = frames_.empty() ? current_ : frames_[0];
        Bytes packed;
        FrameCodec codec = packFrame(frame.data(), frame.size(), method_, level_, &packed);
        const Bytes& stored = codec == FrameCodec::Raw ? frame : packed;
        node->codec = codec == FrameCodec::Raw ? ContentNode::Stored : codec == FrameCodec::Lz ? ContentNode::Lz : ContentNode::Zlib;
        node->storedLength = stored.size();
        node->blockHash = hash64(stored.data(), stored.size());
        node->offset = space_.allocate(stored.size());
        if (!stored.empty() && !file_.writeAt(node->offset, stored.data(), stored.size())) return kIoError;
        return kOk;
    }
    if (!current_.empty()) frames_.push_back(std::move(current_));
    Status status = flushFrames();
    if (status != kOk) return status;
    if (!file_.writeAt(at_, index_.data(), index_.size())) return kIoError;
    node->codec = ContentNode::Indexed;
    node->offset = start_;
    node->storedLength = at_ + index_.size() - start_;
    node->blockHash = hash64(index_.data(), index_.size());
    space_.claim(node->offset, node->storedLength);
    return kOk;
}

}  // namespace kseng
