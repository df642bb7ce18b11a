// 64-bit content hash (the XXH64 construction): fast enough to run over every
// byte of every save, strong enough to catch any accidental damage.
#ifndef KSENG_HASH_H
#define KSENG_HASH_H

#include <cstddef>
#include <cstdint>

namespace kseng {

uint64_t hash64(const void* data, size_t len, uint64_t seed = 0);

// The same hash over bytes that come in pieces: digest() after any sequence
// of update() calls equals hash64 of their concatenation.
class Hasher {
public:
    explicit Hasher(uint64_t seed = 0);
    void update(const void* data, size_t len);
    uint64_t digest() const;

private:
    uint64_t lanes_[4];
    uint8_t buffer_[32];
    size_t buffered_ = 0;
    uint64_t total_ = 0;
    uint64_t seed_;
};

}  // namespace kseng

#endif
