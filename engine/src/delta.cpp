#include "delta.h"

#include <algorithm>
#include <cstring>

namespace kseng {
namespace {

constexpr size_t kSeed = 16;          // bytes hashed to find a match
constexpr size_t kFarMatch = 48;      // the shortest match taken from the whole source's index
constexpr size_t kMaxTableBits = 24;  // 64 MiB of table at most
// After an insert or delete the new alignment is near the old one: every
// source position within this distance of it is indexed, nearest first.
constexpr size_t kLocalRadius = 4096;
constexpr unsigned kLocalBits = 14;
// Literal bytes in a row after which the whole source is indexed after all.
constexpr size_t kLiteralsBeforeIndex = 512;

void putVarint(Bytes& out, uint64_t v) {
    while (v >= 0x80) {
        out.push_back(static_cast<uint8_t>(v | 0x80));
        v >>= 7;
    }
    out.push_back(static_cast<uint8_t>(v));
}

bool getVarint(const uint8_t*& p, const uint8_t* end, uint64_t* v) {
    uint64_t result = 0;
    for (int shift = 0; shift < 64 && p < end; shift += 7) {
        uint8_t b = *p++;
        result |= static_cast<uint64_t>(b & 0x7f) << shift;
        if (!(b & 0x80)) {
            *v = result;
            return true;
        }
    }
    return false;
}

inline uint64_t load64(const uint8_t* p) {
    uint64_t v;
    std::memcpy(&v, p, 8);
    return v;
}

inline uint32_t seedHash(const uint8_t* p, unsigned bits) {
    uint64_t h = load64(p) * 0x9E3779B185EBCA87ull ^ load64(p + 8) * 0xC2B2AE3D27D4EB4Full;
    return static_cast<uint32_t>((h ^ (h >> 29)) * 0x165667B19E3779F9ull >> (64 - bits));
}

// Length of the common run of a and b, at most limit bytes.
inline size_t matchForward(const uint8_t* a, const uint8_t* b, size_t limit) {
    size_t n = 0;
    while (n + 8 <= limit) {
        uint64_t diff = load64(a + n) ^ load64(b + n);
        if (diff) return n + static_cast<size_t>(__builtin_ctzll(diff) >> 3);
        n += 8;
    }
    while (n < limit && a[n] == b[n]) ++n;
    return n;
}

}  // namespace

// Greedy matching against a sampled index of the source. The common case is
// a few small edits, so before any lookup the encoder tries the source byte
// on the last match's diagonal (same shift between source and target): after
// a replacement the match resumes there at once, even in repetitive text
// where the index holds other places with the same bytes. After an insert or
// delete the index finds the new alignment within one sampling step and the
// match is grown back over the bytes before it. In repetitive content the
// sampled index mostly holds some other copy of the same bytes, so a second,
// small index of every source position near the broken diagonal is asked
// first: it finds the nearest copy, which is the one the edit moved.
void encodeDelta(const uint8_t* source, size_t sourceSize, const uint8_t* target, size_t targetSize,
                 DeltaSink& sink) {
    auto add = [&sink](const uint8_t* p, size_t n) {
        if (n) sink.add(p, n);
    };
    if (sourceSize < kSeed || targetSize < kSeed) {
        add(target, targetSize);
        return;
    }

    // The sampled index of the whole source is built only when the local
    // search has failed for a while: small edits never need it.
    unsigned bits = 10;
    std::vector<uint32_t> table;
    auto buildIndex = [&] {
        size_t stride = kSeed;
        while (bits < kMaxTableBits && (size_t(1) << bits) < sourceSize / stride) ++bits;
        while ((sourceSize / stride) > (size_t(1) << bits) * 2) stride *= 2;
        table.assign(size_t(1) << bits, 0);
        // Later positions overwrite earlier ones; entries hold position + 1.
        for (size_t at = 0; at + kSeed <= sourceSize; at += stride)
            table[seedHash(source + at, bits)] = static_cast<uint32_t>(at + 1);
    };

    std::vector<uint32_t> localEntry(size_t(1) << kLocalBits), localStamp(size_t(1) << kLocalBits, 0);
    uint32_t localGeneration = 0;
    bool localStale = true;
    // Building the local index is paid from a budget, so content that changes
    // every few bytes costs a bounded multiple of its size.
    uint64_t localBudget = 4 * static_cast<uint64_t>(targetSize) + 8 * kLocalRadius;

    size_t pos = 0, literalStart = 0;
    uint64_t shift = 0;  // source offset minus target offset of the last match, modulo 2^64
    while (pos + kSeed <= targetSize) {
        size_t candidate = SIZE_MAX;
        size_t onDiagonal = static_cast<size_t>(pos + shift);
        if (onDiagonal < sourceSize && sourceSize - onDiagonal >= kSeed &&
            load64(source + onDiagonal) == load64(target + pos) &&
            load64(source + onDiagonal + 8) == load64(target + pos + 8)) {
            candidate = onDiagonal;
        } else {
            if (localStale && localBudget >= 2 * kLocalRadius && onDiagonal < sourceSize) {
                localBudget -= 2 * kLocalRadius;
                localStale = false;
                ++localGeneration;
                for (size_t d = 0; d <= kLocalRadius; ++d) {
                    for (size_t at : {onDiagonal + d, onDiagonal - d}) {
                        if (at > onDiagonal + d || at + kSeed > sourceSize) continue;  // wrapped or past the end
                        uint32_t h = seedHash(source + at, kLocalBits);
                        if (localStamp[h] != localGeneration) {
                            localStamp[h] = localGeneration;
                            localEntry[h] = static_cast<uint32_t>(at);
                        }
                    }
                }
            }
            uint32_t h = seedHash(target + pos, kLocalBits);
            if (!localStale && localStamp[h] == localGeneration &&
                std::memcmp(source + localEntry[h], target + pos, kSeed) == 0)
                candidate = localEntry[h];
        }
        if (candidate == SIZE_MAX && table.empty() && (localStale || pos - literalStart >= kLiteralsBeforeIndex))
            buildIndex();
        bool fromIndex = false;
        if (candidate == SIZE_MAX && !table.empty()) {
            uint32_t entry = table[seedHash(target + pos, bits)];
            if (entry && std::memcmp(source + entry - 1, target + pos, kSeed) == 0) {
                candidate = entry - 1;
                fromIndex = true;
            }
        }
        if (candidate == SIZE_MAX) {
            ++pos;
            continue;
        }
        size_t back = 0;
        while (pos - back > literalStart && candidate > back &&
               source[candidate - back - 1] == target[pos - back - 1])
            ++back;
        size_t forward = matchForward(source + candidate, target + pos,
                                      std::min(sourceSize - candidate, targetSize - pos));
        // A short match found anywhere in the source, away from where the
        // edit left the content, is more often chance than a moved piece:
        // its copy would cost about what it saves, and a piece of every plan
        // that reads this delta. It stays literal.
        if (fromIndex && back + forward < kFarMatch) {
            ++pos;
            continue;
        }
        add(target + literalStart, pos - back - literalStart);
        sink.copy(candidate - back, back + forward);
        shift = static_cast<uint64_t>(candidate) - pos;
        localStale = true;
        pos += forward;
        literalStart = pos;
    }
    add(target + literalStart, targetSize - literalStart);
}

void OpsWriter::flush() {
    if (!pendingLength_) return;
    if (pendingCopy_) {
        putVarint(body_, pendingLength_ << 1 | 1);
        // Zigzag: small steps either way take one byte.
        uint64_t step = pendingOffset_ - copyEnd_;
        putVarint(body_, step << 1 ^ (static_cast<int64_t>(step) < 0 ? ~uint64_t(0) : 0));
        copyEnd_ = pendingOffset_ + pendingLength_;
    } else {
        putVarint(body_, pendingLength_ << 1);
    }
    pendingLength_ = 0;
}

void OpsWriter::copy(uint64_t sourceOffset, uint64_t length) {
    if (!length) return;
    if (!(pendingCopy_ && pendingOffset_ + pendingLength_ == sourceOffset)) {
        flush();
        pendingCopy_ = true;
        pendingOffset_ = sourceOffset;
    }
    pendingLength_ += length;
    target_ += length;
}

void OpsWriter::add(uint64_t length) {
    if (!length) return;
    if (pendingCopy_) {
        flush();
        pendingCopy_ = false;
    }
    pendingLength_ += length;
    target_ += length;
    literals_ += length;
}

Bytes OpsWriter::finish(uint64_t sourceSize) {
    flush();
    Bytes out;
    out.reserve(body_.size() + 20);
    putVarint(out, sourceSize);
    putVarint(out, target_);
    out.insert(out.end(), body_.begin(), body_.end());
    return out;
}

bool parseOps(const uint8_t* data, size_t size, uint64_t sourceSize, uint64_t targetSize, uint64_t literalLength,
              std::vector<DeltaOp>* ops) {
    const uint8_t* p = data;
    const uint8_t* end = data + size;
    uint64_t declaredSource, declaredTarget;
    if (!getVarint(p, end, &declaredSource) || !getVarint(p, end, &declaredTarget)) return false;
    if (declaredSource != sourceSize || declaredTarget != targetSize) return false;
    ops->clear();
    uint64_t made = 0, literal = 0, copyEnd = 0;
    while (p < end) {
        uint64_t word;
        if (!getVarint(p, end, &word)) return false;
        uint64_t length = word >> 1;
        if (length == 0 || length > targetSize - made) return false;
        if (word & 1) {
            uint64_t zigzag;
            if (!getVarint(p, end, &zigzag)) return false;
            uint64_t offset = copyEnd + ((zigzag >> 1) ^ (~(zigzag & 1) + 1));
            if (offset > sourceSize || length > sourceSize - offset) return false;
            ops->push_back(DeltaOp{length, offset, true});
            copyEnd = offset + length;
        } else {
            if (length > literalLength - literal) return false;
            ops->push_back(DeltaOp{length, literal, false});
            literal += length;
        }
        made += length;
    }
    return made == targetSize && literal == literalLength;
}

bool parseFirstFormatOps(const RawReader& readRaw, uint64_t rawLength, uint64_t sourceSize, uint64_t targetSize,
                         std::vector<DeltaOp>* ops) {
    // The operations are read through a window; the literals between them
    // are skipped, never read.
    constexpr size_t kWindow = 64 * 1024;
    Bytes window;
    uint64_t windowStart = 0, at = 0;
    auto varint = [&](uint64_t* v) {
        if (at < windowStart || at + 10 > windowStart + window.size()) {
            if (at >= rawLength) return false;
            window.resize(static_cast<size_t>(std::min<uint64_t>(kWindow, rawLength - at)));
            if (!readRaw(at, window.data(), window.size())) return false;
            windowStart = at;
        }
        const uint8_t* p = window.data() + (at - windowStart);
        const uint8_t* start = p;
        if (!getVarint(p, window.data() + window.size(), v)) return false;
        at += static_cast<uint64_t>(p - start);
        return true;
    };
    uint64_t declaredSource, declaredTarget;
    if (!varint(&declaredSource) || !varint(&declaredTarget)) return false;
    if (declaredSource != sourceSize || declaredTarget != targetSize) return false;
    ops->clear();
    uint64_t made = 0;
    while (at < rawLength) {
        uint64_t word;
        if (!varint(&word)) return false;
        uint64_t length = word >> 1;
        if (length == 0 || length > targetSize - made) return false;
        if (word & 1) {
            uint64_t offset;
            if (!varint(&offset) || offset > sourceSize || length > sourceSize - offset) return false;
            ops->push_back(DeltaOp{length, offset, true});
        } else {
            if (length > rawLength - at) return false;
            ops->push_back(DeltaOp{length, at, false});
            at += length;
        }
        made += length;
    }
    return made == targetSize;
}

Plan Plan::identity(uint64_t size) {
    Plan plan;
    plan.push(size, 0, 0);
    return plan;
}

void Plan::push(uint64_t length, uint32_t source, uint64_t offset) {
    if (!length) return;
    if (!pieces_.empty()) {
        Piece& last = pieces_.back();
        if (last.source == source && last.offset + last.length == offset) {
            last.length += length;
            size_ += length;
            return;
        }
    }
    pieces_.push_back(Piece{size_, length, offset, source});
    size_ += length;
}

size_t Plan::pieceAt(uint64_t offset) const {
    auto it = std::upper_bound(pieces_.begin(), pieces_.end(), offset,
                               [](uint64_t at, const Piece& piece) { return at < piece.start; });
    return static_cast<size_t>(it - pieces_.begin()) - 1;
}

bool Plan::apply(const std::vector<DeltaOp>& ops, uint64_t targetSize, uint32_t literalSource, size_t maxPieces,
                 Plan* out) const {
    Plan next;
    for (const DeltaOp& op : ops) {
        if (!op.copy) {
            next.push(op.length, literalSource, op.offset);
        } else {
            if (op.offset > size_ || op.length > size_ - op.offset) return false;
            // The piece holding the offset, then as many after it as the copy spans.
            uint64_t offset = op.offset, length = op.length;
            for (size_t index = pieceAt(offset); length > 0; ++index) {
                const Piece& piece = pieces_[index];
                uint64_t within = offset - piece.start;
                uint64_t take = std::min(length, piece.length - within);
                next.push(take, piece.source, piece.offset + within);
                offset += take;
                length -= take;
            }
        }
        if (next.pieces_.size() > maxPieces) return false;
    }
    if (next.size_ != targetSize) return false;
    *out = std::move(next);
    return true;
}

}  // namespace kseng
