#include "signature.h"

#include "encoding.h"
#include "hash.h"

#include <array>

namespace kseng {
namespace {

constexpr uint32_t kSignatureMagic = 0x4753534B;  // "KSSG"
constexpr unsigned kSmallestShift = 15;           // 32 KiB on average
constexpr unsigned kLargestShift = 30;
constexpr unsigned kMostChunksShift = 21;         // about 2^21 chunks at most

// One random 64-bit value per byte value, the same on every machine.
const std::array<uint64_t, 256>& gear() {
    static const std::array<uint64_t, 256> table = [] {
        std::array<uint64_t, 256> t{};
        uint64_t state = 0x6B6565707361UL;  // splitmix64 from a fixed seed
        for (uint64_t& v : t) {
            uint64_t z = (state += 0x9E3779B97F4A7C15ull);
            z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
            z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
            v = z ^ (z >> 31);
        }
        return t;
    }();
    return table;
}

}  // namespace

ChunkSizes chunkSizesFor(uint64_t contentSize) {
    unsigned shift = kSmallestShift;
    while (shift < kLargestShift && (contentSize >> shift) > (uint64_t(1) << kMostChunksShift)) ++shift;
    return ChunkSizes{shift};
}

size_t nextCut(const uint8_t* p, size_t available, bool contentEnds, ChunkSizes sizes) {
    size_t min = sizes.min(), max = sizes.max();
    if (available <= min) return contentEnds ? available : 0;
    size_t limit = available < max ? available : max;
    // The hash's top bits depend on the last 64 bytes only: a cut is where
    // they are all zero, about once in 1 << shift bytes past the minimum.
    const uint64_t mask = ~uint64_t(0) << (64 - sizes.shift);
    const std::array<uint64_t, 256>& g = gear();
    uint64_t h = 0;
    size_t i = min >= 64 ? min - 64 : 0;
    for (; i < min; ++i) h = (h << 1) + g[p[i]];
    for (; i < limit; ++i) {
        h = (h << 1) + g[p[i]];
        if (!(h & mask)) return i + 1;
    }
    if (limit == max) return max;
    return contentEnds ? available : 0;
}

uint64_t encodedSignatureSize(uint64_t entries) { return kSignatureHeaderSize + entries * 12 + 8; }

Bytes encodeSignature(const Signature& s) {
    Writer w;
    w.out.reserve(static_cast<size_t>(encodedSignatureSize(s.entries.size())));
    w.u32(kSignatureMagic);
    w.u8(static_cast<uint8_t>(s.shift));
    w.raw("\0\0\0", 3);
    w.u32(s.node);
    w.u64(s.contentSize);
    w.u64(s.contentHash);
    w.u32(static_cast<uint32_t>(s.entries.size()));
    for (const SignatureEntry& e : s.entries) {
        w.u32(e.length);
        w.u64(e.hash);
    }
    w.u64(hash64(w.out.data(), w.out.size()));
    return std::move(w.out);
}

bool decodeSignature(const Bytes& bytes, Signature* s) {
    if (bytes.size() < kSignatureHeaderSize + 8) return false;
    Reader r(bytes.data(), bytes.size() - 8);
    if (r.u32() != kSignatureMagic) return false;
    s->shift = r.u8();
    r.text(3);
    s->node = r.u32();
    s->contentSize = r.u64();
    s->contentHash = r.u64();
    uint32_t count = r.u32();
    if (!r.ok() || s->shift < kSmallestShift || s->shift > kLargestShift || r.left() != uint64_t(count) * 12)
        return false;
    uint64_t stored;
    std::memcpy(&stored, bytes.data() + bytes.size() - 8, 8);
    if (hash64(bytes.data(), bytes.size() - 8) != stored) return false;
    ChunkSizes sizes{s->shift};
    s->entries.resize(count);
    uint64_t total = 0;
    for (uint32_t i = 0; i < count; ++i) {
        SignatureEntry& e = s->entries[i];
        e.length = r.u32();
        e.hash = r.u64();
        if (e.length == 0 || e.length > sizes.max()) return false;
        total += e.length;
    }
    return r.ok() && total == s->contentSize;
}

SignatureIndex::SignatureIndex(const Signature& s) : entries_(s.entries) {
    offsets_.resize(entries_.size());
    uint64_t at = 0;
    for (size_t i = 0; i < entries_.size(); ++i) {
        offsets_[i] = at;
        at += entries_[i].length;
    }
    size_t slots = 16;
    while (slots < 2 * entries_.size()) slots *= 2;
    slots_.assign(slots, 0);
    mask_ = slots - 1;
    // The first of equal chunks wins: a repeated chunk is found where it
    // first occurs, which keeps copies ascending through repetitive content.
    for (size_t i = entries_.size(); i-- > 0;) {
        size_t at = static_cast<size_t>(entries_[i].hash) & mask_;
        while (slots_[at] && entries_[slots_[at] - 1].hash != entries_[i].hash) at = (at + 1) & mask_;
        slots_[at] = static_cast<uint32_t>(i + 1);
    }
}

size_t SignatureIndex::find(uint64_t hash, uint32_t length) const {
    for (size_t at = static_cast<size_t>(hash) & mask_; slots_[at]; at = (at + 1) & mask_) {
        const SignatureEntry& e = entries_[slots_[at] - 1];
        if (e.hash == hash) return e.length == length ? slots_[at] - 1 : SIZE_MAX;
    }
    return SIZE_MAX;
}

}  // namespace kseng
