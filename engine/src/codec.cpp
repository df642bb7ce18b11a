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

constexpr uint32_t kRawChunk = 0x80000000u;
constexpr unsigned kMaxThreads = 4;
constexpr size_t kProbeSize = 64 * 1024;

// Runs work(0) … work(count - 1) on up to kMaxThreads threads; false when any
// call failed or threw.
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

}  // namespace

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

Bytes packChunks(const Bytes& raw, int level) {
    size_t count = (raw.size() + kChunkSize - 1) / kChunkSize;
    std::vector<Bytes> chunks(count);
    auto rawChunk = [&](size_t i) { return std::min(kChunkSize, raw.size() - i * kChunkSize); };
    if (!parallelFor(count, [&](size_t i) {
            const uint8_t* chunk = raw.data() + i * kChunkSize;
            // Deflating incompressible data is slow and gains nothing: a chunk
            // whose start does not shrink is kept raw without trying the rest.
            if (rawChunk(i) > 4 * kProbeSize &&
                deflateRange(chunk, kProbeSize, 1).size() > kProbeSize - kProbeSize / 64)
                return true;
            chunks[i] = deflateRange(chunk, rawChunk(i), level);
            if (chunks[i].size() >= rawChunk(i)) Bytes().swap(chunks[i]);  // kept raw
            return true;
        }))
        throw std::bad_alloc();
    size_t total = 4 + 4 * count;
    for (size_t i = 0; i < count; ++i) total += chunks[i].empty() ? rawChunk(i) : chunks[i].size();
    Bytes packed;
    packed.reserve(total);
    auto put32 = [&](uint32_t v) { packed.insert(packed.end(), reinterpret_cast<uint8_t*>(&v), reinterpret_cast<uint8_t*>(&v) + 4); };
    put32(static_cast<uint32_t>(count));
    for (size_t i = 0; i < count; ++i)
        put32(chunks[i].empty() ? static_cast<uint32_t>(rawChunk(i)) | kRawChunk : static_cast<uint32_t>(chunks[i].size()));
    for (size_t i = 0; i < count; ++i) {
        if (chunks[i].empty())
            packed.insert(packed.end(), raw.begin() + static_cast<std::ptrdiff_t>(i * kChunkSize),
                          raw.begin() + static_cast<std::ptrdiff_t>(i * kChunkSize + rawChunk(i)));
        else
            packed.insert(packed.end(), chunks[i].begin(), chunks[i].end());
        Bytes().swap(chunks[i]);
    }
    return packed;
}

bool unpackChunks(const Bytes& packed, uint8_t* out, size_t outSize) {
    if (packed.size() < 4) return false;
    uint32_t count;
    std::memcpy(&count, packed.data(), 4);
    if (count != (outSize + kChunkSize - 1) / kChunkSize || count > (packed.size() - 4) / 4) return false;
    // Where each chunk starts, checked before any is touched.
    std::vector<size_t> start(count + 1);
    std::vector<bool> kept(count);
    start[0] = 4 + 4 * size_t(count);
    for (uint32_t i = 0; i < count; ++i) {
        uint32_t word;
        std::memcpy(&word, packed.data() + 4 + 4 * size_t(i), 4);
        kept[i] = (word & kRawChunk) != 0;
        size_t length = word & ~kRawChunk;
        size_t rawLength = std::min(kChunkSize, outSize - size_t(i) * kChunkSize);
        if ((kept[i] && length != rawLength) || length > packed.size() - start[i]) return false;
        start[i + 1] = start[i] + length;
    }
    if (start[count] != packed.size()) return false;
    return parallelFor(count, [&](size_t i) {
        uint8_t* to = out + i * kChunkSize;
        size_t rawLength = std::min(kChunkSize, outSize - i * kChunkSize);
        if (kept[i]) {
            std::memcpy(to, packed.data() + start[i], rawLength);
            return true;
        }
        return inflateRange(packed.data() + start[i], start[i + 1] - start[i], to, rawLength);
    });
}

}  // namespace kseng
