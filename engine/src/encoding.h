// Little-endian integers in and out of byte strings, the way every structure
// of the archive is written.
#ifndef KSENG_ENCODING_H
#define KSENG_ENCODING_H

#include "delta.h"

#include <cstring>
#include <string>

namespace kseng {

class Writer {
public:
    Bytes out;
    void u8(uint8_t v) { out.push_back(v); }
    void u16(uint16_t v) { raw(&v, 2); }
    void u32(uint32_t v) { raw(&v, 4); }
    void u64(uint64_t v) { raw(&v, 8); }
    // 7 bits a byte, low bits first, high bit set on all but the last.
    void varint(uint64_t v) {
        while (v >= 0x80) {
            out.push_back(static_cast<uint8_t>(v | 0x80));
            v >>= 7;
        }
        out.push_back(static_cast<uint8_t>(v));
    }
    void raw(const void* p, size_t n) {
        const auto* b = static_cast<const uint8_t*>(p);
        out.insert(out.end(), b, b + n);
    }
};

// Reads with bounds checks; once anything is out of bounds every further
// read yields zero and ok() stays false.
class Reader {
public:
    Reader(const uint8_t* p, size_t n) : p_(p), end_(p + n) {}
    bool ok() const { return ok_; }
    size_t left() const { return static_cast<size_t>(end_ - p_); }
    uint8_t u8() { uint8_t v = 0; raw(&v, 1); return v; }
    uint16_t u16() { uint16_t v = 0; raw(&v, 2); return v; }
    uint32_t u32() { uint32_t v = 0; raw(&v, 4); return v; }
    uint64_t u64() { uint64_t v = 0; raw(&v, 8); return v; }
    uint64_t varint() {
        uint64_t v = 0;
        for (int shift = 0; ok_ && shift < 64; shift += 7) {
            if (p_ == end_) break;
            uint8_t b = *p_++;
            v |= static_cast<uint64_t>(b & 0x7f) << shift;
            if (!(b & 0x80)) return v;
        }
        ok_ = false;
        return 0;
    }
    // A varint that must fit 32 bits.
    uint32_t varint32() {
        uint64_t v = varint();
        if (v > UINT32_MAX) ok_ = false;
        return ok_ ? static_cast<uint32_t>(v) : 0;
    }
    const uint8_t* position() const { return p_; }
    std::string text(size_t n) {
        std::string s;
        if (n > left()) { ok_ = false; return s; }
        s.assign(reinterpret_cast<const char*>(p_), n);
        p_ += n;
        return s;
    }
    void raw(void* out, size_t n) {
        if (!ok_ || n > left()) { ok_ = false; return; }
        std::memcpy(out, p_, n);
        p_ += n;
    }

private:
    const uint8_t* p_;
    const uint8_t* end_;
    bool ok_ = true;
};

}  // namespace kseng

#endif
