// 64-bit content hash (the XXH64 construction): fast enough to run over every
// byte of every save, strong enough to catch any accidental damage.
#ifndef KSENG_HASH_H
#define KSENG_HASH_H

#include <cstddef>
#include <cstdint>

namespace kseng {

uint64_t hash64(const void* data, size_t len, uint64_t seed = 0);

}  // namespace kseng

#endif
