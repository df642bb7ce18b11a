#include "codec.h"

#include <zlib.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <functional>
#include <new>
#include <thread>
#include <vector>

namespace kseng {
namespace {

constexpr unsigned kMaxThreads = 4;
constexpr size_t kProbeSize = 64 * 1024;

}  // namespace

bool parallelFor(size_t count, const std::function<bool(size_t)>& work) {
    std::atomic<size_t> next{0};
    std::atomic<bool> ok{true};
    auto worker = [&] {
        for (size_t i; ok && (i = next++) < count;) {
            try {
                if (!work(i)) ok = false;
            } catch (...) {
                ok = false;
            }
        }
    };
    unsigned threads = std::min<unsigned>({kMaxThreads, std::max(1u, std::thread::hardware_concurrency()),
                                           static_cast<unsigned>(std::min<size_t>(count, kMaxThreads))});
    std::vector<std::thread> helpers;
    try {
        for (unsigned t = 1; t < threads; ++t) helpers.emplace_back(worker);
    } catch (...) {
        // No thread to be had: this one does the rest alone.
    }
    worker();
    for (std::thread& t : helpers) t.join();
    return ok;
}

Bytes deflateRange(const uint8_t* data, size_t size, int level) {
    Bytes out;
    z_stream z = {};
    if (deflateInit(&z, level) != Z_OK) throw std::bad_alloc();
    out.resize(static_cast<size_t>(deflateBound(&z, static_cast<uLong>(std::min<size_t>(size, 1u << 30)))) +
               (size >> 30) * ((1u << 30) + (1u << 20)) + 64);
    const uint8_t* in = data;
    size_t inLeft = size;
    int rc = Z_OK;
    // In pieces: zlib counts lengths in 32 bits.
    while (rc == Z_OK) {
        uInt inChunk = static_cast<uInt>(std::min<size_t>(inLeft, 1u << 30));
        z.next_in = const_cast<Bytef*>(in);
        z.avail_in = inChunk;
        z.next_out = out.data() + z.total_out;
        z.avail_out = static_cast<uInt>(std::min<size_t>(out.size() - z.total_out, 1u << 30));
        rc = deflate(&z, inChunk == inLeft ? Z_FINISH : Z_NO_FLUSH);
        in += inChunk - z.avail_in;
        inLeft -= inChunk - z.avail_in;
    }
    out.resize(z.total_out);
    deflateEnd(&z);
    if (rc != Z_STREAM_END) throw std::bad_alloc();
    return out;
}

bool inflateRange(const uint8_t* in, size_t inLeft, uint8_t* out, size_t outLeft) {
    z_stream z = {};
    if (inflateInit(&z) != Z_OK) throw std::bad_alloc();
    int rc = Z_OK;
    while (rc == Z_OK) {
        uInt inChunk = static_cast<uInt>(std::min<size_t>(inLeft, 1u << 30));
        uInt outChunk = static_cast<uInt>(std::min<size_t>(outLeft, 1u << 30));
        z.next_in = const_cast<Bytef*>(in);
        z.avail_in = inChunk;
        z.next_out = out;
        z.avail_out = outChunk;
        rc = inflate(&z, Z_NO_FLUSH);
        in += inChunk - z.avail_in;
        inLeft -= inChunk - z.avail_in;
        out += outChunk - z.avail_out;
        outLeft -= outChunk - z.avail_out;
        if (rc == Z_OK && inChunk == z.avail_in && outChunk == z.avail_out) rc = Z_BUF_ERROR;
    }
    inflateEnd(&z);
    return rc == Z_STREAM_END && outLeft == 0 && inLeft == 0;
}

namespace {

constexpr size_t kMinMatch = 4;
// Matches shorter than this are left as literals: the decoder copies
// literals sixteen at a time, and a short match costs it more than it saves
// (and takes the place of a longer one that starts a little later).
constexpr size_t kShortestTaken = 8;
constexpr size_t kLastLiterals = 5;    // a frame ends in literals, so the decoder's last copy is literal
constexpr size_t kMaxDistance = 65535;
constexpr unsigned kHashBits = 16;

inline uint32_t load32(const uint8_t* p) {
    uint32_t v;
    std::memcpy(&v, p, 4);
    return v;
}
inline uint32_t hashOf(uint32_t v) { return (v * 2654435761u) >> (32 - kHashBits); }

void putLength(Bytes& out, size_t length) {
    for (; length >= 255; length -= 255) out.push_back(255);
    out.push_back(static_cast<uint8_t>(length));
}

void putSequence(Bytes& out, const uint8_t* literals, size_t literalCount, size_t distance, size_t matchLength) {
    size_t extra = matchLength >= kMinMatch ? matchLength - kMinMatch : 0;
    out.push_back(static_cast<uint8_t>((literalCount < 15 ? literalCount : 15) << 4 | (extra < 15 ? extra : 15)));
    if (literalCount >= 15) putLength(out, literalCount - 15);
    out.insert(out.end(), literals, literals + literalCount);
    if (!matchLength) return;
    out.push_back(static_cast<uint8_t>(distance));
    out.push_back(static_cast<uint8_t>(distance >> 8));
    if (extra >= 15) putLength(out, extra - 15);
}

// Copies a match kChunk bytes at a time, running up to kChunk - 1 bytes past
// its end (the caller leaves that room in the frame; what follows writes over
// them); with a distance of at least kChunk every read lies wholly in bytes
// already written.
template <size_t kChunk>
inline uint8_t* copyAhead(uint8_t* op, const uint8_t* from, uint8_t* end) {
    for (uint8_t* at = op; at < end; at += kChunk, from += kChunk) std::memcpy(at, from, kChunk);
    return end;
}

// A length continued in bytes; false when the input ends first.
inline bool getLength(const uint8_t*& ip, const uint8_t* end, size_t* length) {
    uint8_t b;
    do {
        if (ip == end) return false;
        b = *ip++;
        *length += b;
    } while (b == 255);
    return true;
}

}  // namespace

// Greedy matching: each 4-byte string's hash keeps the last four positions
// where it occurred, and the longest match among them is taken when it is
// at least kShortestTaken long. In
// stretches that do not match the search steps further and further, so
// incompressible data costs little.
Bytes lzPack(const uint8_t* data, size_t size) {
    constexpr size_t kWays = 4;
    Bytes out;
    out.reserve(size / 2 + 64);
    size_t anchor = 0;
    if (size > kMinMatch + kLastLiterals) {
        std::vector<uint32_t> table(kWays << (kHashBits - 2), 0);  // positions + 1, newest first
        size_t limit = size - kLastLiterals - kMinMatch, pos = 0;
        auto insert = [&](size_t at) {
            uint32_t* ways = &table[kWays * (hashOf(load32(data + at)) >> 2)];
            std::memmove(ways + 1, ways, (kWays - 1) * sizeof *ways);
            ways[0] = static_cast<uint32_t>(at + 1);
        };
        auto matchLength = [&](size_t from, size_t at) {
            size_t length = 0, most = size - kLastLiterals - at;
            while (length + 8 <= most) {
                uint64_t a, b;
                std::memcpy(&a, data + from + length, 8);
                std::memcpy(&b, data + at + length, 8);
                if (a != b) return length + static_cast<size_t>(__builtin_ctzll(a ^ b) >> 3);
                length += 8;
            }
            while (length < most && data[from + length] == data[at + length]) ++length;
            return length;
        };
        while (pos < limit) {
            const uint32_t* ways = &table[kWays * (hashOf(load32(data + pos)) >> 2)];
            size_t best = 0, bestFrom = 0;
            for (size_t w = 0; w < kWays && ways[w]; ++w) {
                size_t from = ways[w] - 1;
                if (pos - from > kMaxDistance) break;
                size_t length = matchLength(from, pos);
                if (length > best) {
                    best = length;
                    bestFrom = from;
                }
            }
            insert(pos);
            if (best < kShortestTaken) {
                pos += 1 + ((pos - anchor) >> 6);
                continue;
            }
            size_t from = bestFrom;
            while (pos > anchor && from > 0 && data[pos - 1] == data[from - 1]) {
                --pos;
                --from;
                ++best;
            }
            putSequence(out, data + anchor, pos - anchor, pos - from, best);
            pos += best;
            anchor = pos;
            if (pos - 2 < limit) insert(pos - 2);
        }
    }
    putSequence(out, data + anchor, size - anchor, 0, 0);
    return out;
}

bool lzUnpack(const uint8_t* in, size_t inSize, uint8_t* out, size_t outSize) {
    const uint8_t *ip = in, *inEnd = in + inSize;
    uint8_t *op = out, *outEnd = out + outSize;
    while (ip < inEnd) {
        uint8_t token = *ip++;
        size_t literals = token >> 4;
        // Short runs copy sixteen bytes at once where both sides have room.
        if (literals < 15 && inEnd - ip >= 16 && outEnd - op >= 16) {
            std::memcpy(op, ip, 16);
        } else {
            if (literals == 15 && !getLength(ip, inEnd, &literals)) return false;
            if (literals > static_cast<size_t>(inEnd - ip) || literals > static_cast<size_t>(outEnd - op)) return false;
            if (literals) std::memcpy(op, ip, literals);
        }
        ip += literals;
        op += literals;
        if (ip == inEnd) break;  // the last sequence has no match
        if (inEnd - ip < 2) return false;
        size_t distance = ip[0] | size_t(ip[1]) << 8;
        ip += 2;
        size_t length = (token & 15);
        if (length == 15 && !getLength(ip, inEnd, &length)) return false;
        length += kMinMatch;
        if (distance == 0 || distance > static_cast<size_t>(op - out) || length > static_cast<size_t>(outEnd - op))
            return false;
        const uint8_t* from = op - distance;
        uint8_t* end = op + length;
        size_t room = static_cast<size_t>(outEnd - op);
        if (distance >= 16 && room >= length + 16) {
            op = copyAhead<16>(op, from, end);
            continue;
        }
        if (distance >= 8 && room >= length + 8) {
            op = copyAhead<8>(op, from, end);
            continue;
        }
        if (distance < 8) {
            // A short repeating pattern: once its first bytes are out, a copy
            // from a multiple of the distance at least 8 back moves 8 at a time.
            size_t step = distance * ((8 + distance - 1) / distance);
            for (size_t i = 0; i < step && op < end; ++i) *op++ = from[i];
            from = op - step;
        }
        // Eight bytes at a time while they stay within the match; each read
        // lies wholly in bytes already written.
        for (; end - op >= 8; op += 8, from += 8) std::memcpy(op, from, 8);
        while (op < end) *op++ = *from++;
    }
    return ip == inEnd && op == outEnd;
}

FrameCodec packFrame(const uint8_t* raw, size_t size, FrameCodec method, int level, Bytes* out) {
    out->clear();
    if (size == 0 || method == FrameCodec::Raw) return FrameCodec::Raw;
    if (method == FrameCodec::Lz) {
        *out = lzPack(raw, size);
    } else {
        // Deflating incompressible data is slow and gains nothing.
        if (size > 4 * kProbeSize && deflateRange(raw, kProbeSize, 1).size() > kProbeSize - kProbeSize / 64)
            return FrameCodec::Raw;
        *out = deflateRange(raw, size, level);
    }
    if (out->size() < size) return method;
    Bytes().swap(*out);
    return FrameCodec::Raw;
}

bool unpackFrame(FrameCodec codec, const uint8_t* in, size_t inSize, uint8_t* out, size_t outSize) {
    switch (codec) {
    case FrameCodec::Raw:
        if (inSize != outSize) return false;
        if (inSize) std::memcpy(out, in, inSize);
        return true;
    case FrameCodec::Zlib: return inflateRange(in, inSize, out, outSize);
    case FrameCodec::Lz: return lzUnpack(in, inSize, out, outSize);
    }
    return false;
}

}  // namespace kseng
