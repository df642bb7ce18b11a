#include "save.h"

#include "hash.h"

#include <algorithm>
#include <cstring>
#include <memory>

namespace kseng {
namespace {

constexpr size_t kSmallestWindow = size_t(8) << 20;
// Old bytes read to refine one changed region: the region's own room and a
// little on each side, at most this much (the two ends when it is larger).
constexpr size_t kRefineWindow = size_t(1) << 20;
constexpr size_t kRefineSlack = 4096;
// A delta is given up once more than half of what was read is literal, but
// not before this much was read: the first edits of a file may be close
// together.
constexpr uint64_t kEarlyVerdict = uint64_t(4) << 20;

class Encoder : private DeltaSink {
public:
    Encoder(File& source, uint64_t size, const Signature* hint, const OldVersion* old, BlockWriter& out,
            EncodedVersion* result)
        : source_(source), size_(size), sizes_(chunkSizesFor(size)), old_(old), out_(out), result_(result) {
        const Signature* chunks = old ? old->signature : hint;
        // Chunks found along the old signature are only the new file's own
        // cuts when both were cut alike.
        if (chunks && chunks->shift == sizes_.shift) index_ = std::make_unique<SignatureIndex>(*chunks);
        oldSize_ = old ? old->content->size() : 0;
        buffer_.resize(saveWindow(size));
    }

    Status run(bool* givenUp) {
        *givenUp = false;
        result_->signature.shift = sizes_.shift;
        while (pos_ < size_) {
            // Checked before the window reads on, so that little more than
            // what decided it is read.
            if (old_ && pos_ >= kEarlyVerdict && 2 * pendingLiterals() > pos_) {
                *givenUp = true;
                return kOk;
            }
            Status status = fill();
            if (status != kOk) return status;
            const uint8_t* p = at(pos_);
            size_t available = static_cast<size_t>(bufferStart_ + bufferLength_ - pos_);
            // Along the old signature first: after a match the next old chunk
            // usually follows, and one hash over it settles that.
            if (expect_ < (index_ ? index_->size() : 0)) {
                const SignatureEntry& e = index_->entry(expect_);
                if (e.length <= available) {
                    uint64_t h = hash64(p, e.length);
                    if (h == e.hash) {
                        status = matched(expect_, e.length, h);
                        if (status != kOk) return status;
                        continue;
                    }
                }
            }
            size_t cut = nextCut(p, available, bufferStart_ + bufferLength_ == size_, sizes_);
            uint64_t h = hash64(p, cut);
            size_t found = index_ ? index_->find(h, static_cast<uint32_t>(cut)) : SIZE_MAX;
            status = found != SIZE_MAX ? matched(found, cut, h) : unmatched(cut, h);
            if (status != kOk) return status;
        }
        if (regionOpen_) {
            Status status = refine(size_, false, 0);
            if (status != kOk) return status;
        }
        result_->size = size_;
        result_->contentHash = hasher_.digest();
        result_->literalBytes = ops_.literalBytes();
        if (old_) {
            *givenUp = 2 * ops_.literalBytes() > size_;
            result_->operations = ops_.finish(oldSize_);
        }
        return kOk;
    }

private:
    const uint8_t* at(uint64_t offset) const { return buffer_.data() + (offset - bufferStart_); }
    uint64_t pendingLiterals() const { return ops_.literalBytes() + (regionOpen_ ? pos_ - regionStart_ : 0); }

    // Makes the window hold the largest chunk from pos_ on, or the rest of
    // the file, keeping the open region's bytes.
    Status fill() {
        uint64_t need = std::min<uint64_t>(size_, pos_ + sizes_.max());
        if (bufferStart_ + bufferLength_ >= need) return kOk;
        if (regionOpen_ && pos_ - regionStart_ > buffer_.size() / 2) {
            Status status = refine(pos_, false, 0);  // a long change is refined in parts
            if (status != kOk) return status;
        }
        uint64_t keep = regionOpen_ ? regionStart_ : pos_;
        size_t kept = static_cast<size_t>(bufferStart_ + bufferLength_ - keep);
        std::memmove(buffer_.data(), at(keep), kept);
        bufferStart_ = keep;
        bufferLength_ = kept;
        size_t more = static_cast<size_t>(std::min<uint64_t>(buffer_.size() - kept, size_ - (keep + kept)));
        if (!source_.readAt(keep + kept, buffer_.data() + kept, more)) return kSourceUnreadable;
        bufferLength_ += more;
        return kOk;
    }

    Status matched(size_t index, size_t length, uint64_t hash) {
        if (old_) {
            if (regionOpen_) {
                Status status = refine(pos_, true, index_->offset(index));
                if (status != kOk) return status;
                regionOpen_ = false;
            }
            copyOld(index_->offset(index), length);
        } else {
            Status status = out_.write(at(pos_), length);
            if (status != kOk) return status;
        }
        expect_ = index + 1;
        return advance(length, hash);
    }

    Status unmatched(size_t length, uint64_t hash) {
        if (old_) {
            if (!regionOpen_) {
                regionOpen_ = true;
                regionStart_ = pos_;
            }
        } else {
            Status status = out_.write(at(pos_), length);
            if (status != kOk) return status;
        }
        expect_ = SIZE_MAX;
        return advance(length, hash);
    }

    Status advance(size_t length, uint64_t hash) {
        hasher_.update(at(pos_), length);
        result_->signature.entries.push_back(SignatureEntry{static_cast<uint32_t>(length), hash});
        pos_ += length;
        return kOk;
    }

    void copyOld(uint64_t offset, uint64_t length) {
        ops_.copy(offset, length);
        oldCursor_ = offset + length;
    }

    // The changed region from regionStart_ to end, against the old bytes
    // between the last copy and nextOld (when the next match is known), or
    // as far on as the region is long: one or two windows of old content.
    Status refine(uint64_t end, bool nextKnown, uint64_t nextOld) {
        uint64_t length = end - regionStart_;
        uint64_t from = std::min(oldCursor_, oldSize_);
        uint64_t to = nextKnown && nextOld >= from ? nextOld : std::min(oldSize_, from + length);
        uint64_t low = from > kRefineSlack ? from - kRefineSlack : 0;
        uint64_t high = std::min(oldSize_, to + kRefineSlack);
        windowStart_[0] = low;
        windowLength_[0] = high - low;
        windowStart_[1] = high;
        windowLength_[1] = 0;
        if (high - low > kRefineWindow) {
            windowLength_[0] = kRefineWindow / 2;
            windowStart_[1] = high - kRefineWindow / 2;
            windowLength_[1] = kRefineWindow / 2;
        }
        size_t total = static_cast<size_t>(windowLength_[0] + windowLength_[1]);
        oldBytes_.resize(total);
        for (int w = 0; w < 2; ++w) {
            if (!windowLength_[w]) continue;
            Status status = old_->content->read(windowStart_[w], oldBytes_.data() + (w ? windowLength_[0] : 0),
                                                static_cast<size_t>(windowLength_[w]));
            if (status != kOk) return status;
        }
        failed_ = kOk;
        encodeDelta(oldBytes_.data(), total, at(regionStart_), static_cast<size_t>(length), *this);
        regionStart_ = end;
        return failed_;
    }

    // What the matcher found in the windows, in old offsets.
    void copy(uint64_t offset, uint64_t length) override {
        if (offset < windowLength_[0]) {
            uint64_t take = std::min(length, windowLength_[0] - offset);
            copyOld(windowStart_[0] + offset, take);
            offset += take;
            length -= take;
        }
        if (length) copyOld(windowStart_[1] + (offset - windowLength_[0]), length);
    }
    void add(const uint8_t* literal, size_t length) override {
        if (failed_ == kOk) failed_ = out_.write(literal, length);
        ops_.add(length);
        oldCursor_ += length;
    }

    File& source_;
    uint64_t size_;
    ChunkSizes sizes_;
    const OldVersion* old_;
    BlockWriter& out_;
    EncodedVersion* result_;
    std::unique_ptr<SignatureIndex> index_;
    uint64_t oldSize_ = 0;

    Bytes buffer_;
    uint64_t bufferStart_ = 0;
    size_t bufferLength_ = 0;
    uint64_t pos_ = 0;
    size_t expect_ = SIZE_MAX;
    Hasher hasher_;

    OpsWriter ops_;
    bool regionOpen_ = false;
    uint64_t regionStart_ = 0;
    uint64_t oldCursor_ = 0;  // where the old content continues the new, as far as known
    Bytes oldBytes_;
    uint64_t windowStart_[2] = {0, 0}, windowLength_[2] = {0, 0};
    Status failed_ = kOk;
};

}  // namespace

size_t saveWindow(uint64_t contentSize) {
    return std::max(kSmallestWindow, 4 * chunkSizesFor(contentSize).max());
}

Status encodeVersion(File& source, uint64_t size, const Signature* hint, const OldVersion* old, BlockWriter& out,
                     EncodedVersion* result, bool* givenUp) {
    *result = EncodedVersion();
    Encoder encoder(source, size, hint, old, out, result);
    return encoder.run(givenUp);
}

Status buildSignature(VersionReader& reader, uint64_t contentHash, Signature* signature) {
    uint64_t size = reader.size();
    ChunkSizes sizes = chunkSizesFor(size);
    signature->shift = sizes.shift;
    signature->contentSize = size;
    signature->entries.clear();
    Bytes buffer(saveWindow(size));
    uint64_t start = 0, pos = 0;
    size_t length = 0;
    Hasher hasher;
    while (pos < size) {
        if (start + length < std::min<uint64_t>(size, pos + sizes.max())) {
            size_t kept = static_cast<size_t>(start + length - pos);
            std::memmove(buffer.data(), buffer.data() + (pos - start), kept);
            start = pos;
            size_t more = static_cast<size_t>(std::min<uint64_t>(buffer.size() - kept, size - (start + kept)));
            Status status = reader.read(start + kept, buffer.data() + kept, more);
            if (status != kOk) return status;
            length = kept + more;
        }
        const uint8_t* p = buffer.data() + (pos - start);
        size_t cut = nextCut(p, static_cast<size_t>(start + length - pos), start + length == size, sizes);
        hasher.update(p, cut);
        signature->entries.push_back(SignatureEntry{static_cast<uint32_t>(cut), hash64(p, cut)});
        pos += cut;
    }
    signature->contentHash = hasher.digest();
    return signature->contentHash == contentHash ? kOk : kCorrupt;
}

}  // namespace kseng
