#include "hash.h"

#include <cstring>

namespace kseng {
namespace {

constexpr uint64_t kP1 = 0x9E3779B185EBCA87ull;
constexpr uint64_t kP2 = 0xC2B2AE3D27D4EB4Full;
constexpr uint64_t kP3 = 0x165667B19E3779F9ull;
constexpr uint64_t kP4 = 0x85EBCA77C2B2AE63ull;
constexpr uint64_t kP5 = 0x27D4EB2F165667C5ull;

inline uint64_t rotl(uint64_t x, int r) { return (x << r) | (x >> (64 - r)); }
// Little-endian loads: both targets and every Linux host we build on are
// little-endian, and stored hashes must not depend on the machine.
inline uint64_t load64(const uint8_t* p) { uint64_t v; std::memcpy(&v, p, 8); return v; }
inline uint32_t load32(const uint8_t* p) { uint32_t v; std::memcpy(&v, p, 4); return v; }
inline uint64_t round(uint64_t acc, uint64_t input) { return rotl(acc + input * kP2, 31) * kP1; }
inline uint64_t merge(uint64_t acc, uint64_t lane) { return (acc ^ round(0, lane)) * kP1 + kP4; }

void initLanes(uint64_t* v, uint64_t seed) {
    v[0] = seed + kP1 + kP2;
    v[1] = seed + kP2;
    v[2] = seed;
    v[3] = seed - kP1;
}

// Whole 32-byte stripes; returns the bytes consumed.
size_t stripes(uint64_t* v, const uint8_t* p, size_t len) {
    size_t done = 0;
    for (; len - done >= 32; done += 32) {
        v[0] = round(v[0], load64(p + done));
        v[1] = round(v[1], load64(p + done + 8));
        v[2] = round(v[2], load64(p + done + 16));
        v[3] = round(v[3], load64(p + done + 24));
    }
    return done;
}

uint64_t converge(const uint64_t* v) {
    uint64_t h = rotl(v[0], 1) + rotl(v[1], 7) + rotl(v[2], 12) + rotl(v[3], 18);
    for (int i = 0; i < 4; ++i) h = merge(h, v[i]);
    return h;
}

// The last bytes (fewer than 32) and the final mix.
uint64_t finish(uint64_t h, const uint8_t* p, size_t len) {
    for (; len >= 8; p += 8, len -= 8) {
        h ^= round(0, load64(p));
        h = rotl(h, 27) * kP1 + kP4;
    }
    if (len >= 4) {
        h ^= static_cast<uint64_t>(load32(p)) * kP1;
        h = rotl(h, 23) * kP2 + kP3;
        p += 4;
        len -= 4;
    }
    for (; len > 0; ++p, --len) {
        h ^= (*p) * kP5;
        h = rotl(h, 11) * kP1;
    }
    h ^= h >> 33;
    h *= kP2;
    h ^= h >> 29;
    h *= kP3;
    h ^= h >> 32;
    return h;
}

}  // namespace

uint64_t hash64(const void* data, size_t len, uint64_t seed) {
    const uint8_t* p = static_cast<const uint8_t*>(data);
    uint64_t h = seed + kP5;
    size_t done = 0;
    if (len >= 32) {
        uint64_t v[4];
        initLanes(v, seed);
        done = stripes(v, p, len);
        h = converge(v);
    }
    return finish(h + static_cast<uint64_t>(len), p + done, len - done);
}

Hasher::Hasher(uint64_t seed) : seed_(seed) { initLanes(lanes_, seed); }

void Hasher::update(const void* data, size_t len) {
    const uint8_t* p = static_cast<const uint8_t*>(data);
    total_ += len;
    if (buffered_) {
        size_t take = len < 32 - buffered_ ? len : 32 - buffered_;
        std::memcpy(buffer_ + buffered_, p, take);
        buffered_ += take;
        p += take;
        len -= take;
        if (buffered_ < 32) return;
        stripes(lanes_, buffer_, 32);
        buffered_ = 0;
    }
    size_t done = stripes(lanes_, p, len);
    if (len > done) std::memcpy(buffer_, p + done, len - done);
    buffered_ = len - done;
}

uint64_t Hasher::digest() const {
    uint64_t h = total_ >= 32 ? converge(lanes_) : seed_ + kP5;
    return finish(h + total_, buffer_, buffered_);
}

}  // namespace kseng
