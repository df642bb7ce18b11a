// The archive's layout: where the header slots lie, and the header slots and
// the directory as bytes. FORMAT.md describes every field.
#ifndef KSENG_FORMAT_H
#define KSENG_FORMAT_H

#include "archive.h"

#include <cstdint>

namespace kseng {

inline constexpr uint8_t kMagic[8] = {'K', 'S', 'A', 'R', 'C', 0x1A, '\r', '\n'};
constexpr uint16_t kFormatVersion = 1;
constexpr uint64_t kSlotOffset[2] = {0, 4096};  // a sector apart, so a torn write hits one slot
constexpr uint64_t kDataStart = 8192;
constexpr size_t kHeaderSize = 64;
constexpr uint32_t kDirectoryMagic = 0x5244534B;  // "KSDR"
constexpr uint32_t kFlagCompressed = 1;
// A zlib stream never expands data more than about 1032 times.
constexpr uint64_t kZlibMaxRatio = 1032;

struct Header {
    uint16_t formatVersion = 0;
    uint32_t flags = 0;
    uint64_t sequence = 0;
    uint64_t directoryOffset = 0;
    uint64_t directoryLength = 0;
    uint64_t directoryHash = 0;
};

Bytes encodeHeader(const Header& h);

enum class SlotRead { Valid, Invalid, Newer };
SlotRead decodeHeader(const uint8_t* p, Header* h);

Bytes encodeDirectory(const ArchiveState& s);
// Every reference checked here, so that later code may trust the state.
bool decodeDirectory(const Bytes& bytes, uint64_t fileSize, ArchiveState* s);

}  // namespace kseng

#endif
