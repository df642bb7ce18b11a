// Compression of blocks, frame by frame: each frame is one zlib stream, one
// run of the engine's LZ77 form, or kept raw when neither shrinks it. Frames
// are compressed on several threads at once when a block has many.
#ifndef KSENG_CODEC_H
#define KSENG_CODEC_H

#include "delta.h"

#include <cstddef>
#include <cstdint>
#include <functional>

namespace kseng {

// Raw bytes per frame of a framed block (FORMAT.md, "Blocks").
constexpr size_t kFrameSize = size_t(1) << 20;

// One zlib stream of the bytes; throws std::bad_alloc when zlib has no memory.
Bytes deflateRange(const uint8_t* data, size_t size, int level);
// Inflates exactly outSize bytes from exactly inSize; false on any mismatch.
bool inflateRange(const uint8_t* in, size_t inSize, uint8_t* out, size_t outSize);

// How a frame is kept: raw, deflated, or in the engine's own LZ77 form,
// which decodes several times faster than zlib at a lower ratio (the bases
// of compressed archives use it, so that any version reads back at close to
// the speed of a copy; deltas are small and deflated).
//
// LZ form: sequences to the end, each a token byte (literal count in the high
// four bits, match length minus 4 in the low four; 15 in either means more
// follows in bytes of up to 255, ending at one below 255), the literals,
// then, unless the frame ends there, a 2-byte little-endian distance back
// (1 … 65535) and the match is copied from there.
enum class FrameCodec : uint8_t { Raw, Zlib, Lz };

// Packs a frame with method (Zlib at level, or Lz): the codec used, Raw (and
// out empty) when that would not make it smaller.
FrameCodec packFrame(const uint8_t* raw, size_t size, FrameCodec method, int level, Bytes* out);
// Unpacks exactly outSize bytes from exactly inSize; false on any mismatch.
bool unpackFrame(FrameCodec codec, const uint8_t* in, size_t inSize, uint8_t* out, size_t outSize);

// The LZ form alone.
Bytes lzPack(const uint8_t* data, size_t size);
bool lzUnpack(const uint8_t* in, size_t inSize, uint8_t* out, size_t outSize);

// Runs work(0) … work(count - 1) on up to four threads; false when any call
// failed or threw.
bool parallelFor(size_t count, const std::function<bool(size_t)>& work);

}  // namespace kseng

#endif
