// Compression of blocks. Small blocks are one zlib stream; large full blocks
// are cut into chunks compressed and decompressed on several threads, each
// chunk kept raw when zlib cannot shrink it.
//
// Chunked block: u32 chunk count, then per chunk a u32 stored length (high
// bit set: the chunk is kept raw), then the chunks. Every chunk but the last
// holds kChunkSize raw bytes.
#ifndef KSENG_CODEC_H
#define KSENG_CODEC_H

#include "delta.h"

#include <cstddef>
#include <cstdint>

namespace kseng {

constexpr size_t kChunkSize = size_t(4) << 20;

// One zlib stream of the bytes; throws std::bad_alloc when zlib has no memory.
Bytes deflateRange(const uint8_t* data, size_t size, int level);
// Inflates exactly outSize bytes from exactly inSize; false on any mismatch.
bool inflateRange(const uint8_t* in, size_t inSize, uint8_t* out, size_t outSize);

Bytes packChunks(const Bytes& raw, int level);
bool unpackChunks(const Bytes& packed, uint8_t* out, size_t outSize);

}  // namespace kseng

#endif
