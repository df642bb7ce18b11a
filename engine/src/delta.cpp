#include "delta.h"

#include <algorithm>
#include <cstring>

namespace kseng {
namespace {

constexpr size_t kSeed = 16;          // bytes hashed to find a match
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

struct DeltaWriter {
    Bytes out;
    void add(const uint8_t* p, size_t len) {
        if (!len) return;
        putVarint(out, static_cast<uint64_t>(len) << 1);
        out.insert(out.end(), p, p + len);
    }
    void copy(uint64_t offset, uint64_t len) {
        putVarint(out, len << 1 | 1);
        putVarint(out, offset);
    }
};

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
Bytes encodeDelta(const uint8_t* source, size_t sourceSize, const uint8_t* target, size_t targetSize) {
    DeltaWriter w;
    putVarint(w.out, sourceSize);
    putVarint(w.out, targetSize);
    if (sourceSize < kSeed || targetSize < kSeed) {
        w.add(target, targetSize);
        return std::move(w.out);
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
        if (candidate == SIZE_MAX && !table.empty()) {
            uint32_t entry = table[seedHash(target + pos, bits)];
            if (entry && std::memcmp(source + entry - 1, target + pos, kSeed) == 0) candidate = entry - 1;
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
        w.add(target + literalStart, pos - back - literalStart);
        w.copy(candidate - back, back + forward);
        shift = static_cast<uint64_t>(candidate) - pos;
        localStale = true;
        pos += forward;
        literalStart = pos;
    }
    w.add(target + literalStart, targetSize - literalStart);
    return std::move(w.out);
}

uint64_t deltaLiteralBytes(const Bytes& delta) {
    const uint8_t* p = delta.data();
    const uint8_t* end = p + delta.size();
    uint64_t sourceSize, targetSize, word, offset, literal = 0;
    if (!getVarint(p, end, &sourceSize) || !getVarint(p, end, &targetSize)) return UINT64_MAX;
    while (p < end) {
        if (!getVarint(p, end, &word)) return UINT64_MAX;
        uint64_t len = word >> 1;
        if (word & 1) {
            if (!getVarint(p, end, &offset)) return UINT64_MAX;
        } else {
            if (len > static_cast<uint64_t>(end - p)) return UINT64_MAX;
            p += len;
            literal += len;
        }
    }
    return literal;
}

Plan Plan::identity(uint64_t size) {
    Plan plan;
    plan.push(size, nullptr, 0);
    return plan;
}

void Plan::push(uint64_t length, const uint8_t* literal, uint64_t baseOffset) {
    if (!length) return;
    if (!pieces_.empty()) {
        Piece& last = pieces_.back();
        bool joins = literal ? last.literal && last.literal + last.length == literal
                             : !last.literal && last.baseOffset + last.length == baseOffset;
        if (joins) {
            last.length += length;
            size_ += length;
            return;
        }
    }
    pieces_.push_back(Piece{size_, length, literal, baseOffset});
    size_ += length;
}

bool Plan::apply(std::shared_ptr<const Bytes> delta, uint64_t sizeLimit, Plan* out) const {
    const uint8_t* p = delta->data();
    const uint8_t* end = p + delta->size();
    uint64_t sourceSize, targetSize;
    if (!getVarint(p, end, &sourceSize) || !getVarint(p, end, &targetSize)) return false;
    if (sourceSize != size_ || targetSize > sizeLimit) return false;

    Plan next;
    next.keep_ = keep_;
    next.keep_.push_back(delta);
    while (p < end) {
        uint64_t word;
        if (!getVarint(p, end, &word)) return false;
        uint64_t len = word >> 1;
        if (len == 0 || len > targetSize - next.size_) return false;
        if (!(word & 1)) {
            if (len > static_cast<uint64_t>(end - p)) return false;
            next.push(len, p, 0);
            p += len;
            continue;
        }
        uint64_t offset;
        if (!getVarint(p, end, &offset) || offset > size_ || len > size_ - offset) return false;
        // The piece holding offset, then as many following pieces as the copy spans.
        auto it = std::upper_bound(pieces_.begin(), pieces_.end(), offset,
                                   [](uint64_t at, const Piece& piece) { return at < piece.start; });
        size_t index = static_cast<size_t>(it - pieces_.begin()) - 1;
        while (len > 0) {
            const Piece& piece = pieces_[index++];
            uint64_t within = offset - piece.start;
            uint64_t take = std::min(len, piece.length - within);
            next.push(take, piece.literal ? piece.literal + within : nullptr, piece.baseOffset + within);
            offset += take;
            len -= take;
        }
    }
    if (next.size_ != targetSize) return false;
    *out = std::move(next);
    return true;
}

void Plan::materialize(const uint8_t* base, uint8_t* out) const {
    for (const Piece& piece : pieces_)
        std::memcpy(out + piece.start, piece.literal ? piece.literal : base + piece.baseOffset,
                    static_cast<size_t>(piece.length));
}

Bytes Plan::toDelta(uint64_t baseSize) const {
    DeltaWriter w;
    putVarint(w.out, baseSize);
    putVarint(w.out, size_);
    for (const Piece& piece : pieces_) {
        if (piece.literal)
            w.add(piece.literal, static_cast<size_t>(piece.length));
        else
            w.copy(piece.baseOffset, piece.length);
    }
    return std::move(w.out);
}

}  // namespace kseng
