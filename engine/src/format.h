// The archive's layout: where the header copies lie, and the header slots and
// the directories as bytes. FORMAT.md describes every field.
#ifndef KSENG_FORMAT_H
#define KSENG_FORMAT_H

#include "archive.h"

#include <cstdint>

namespace kseng {

inline constexpr uint8_t kMagic[8] = {'K', 'S', 'A', 'R', 'C', 0x1A, '\r', '\n'};
constexpr uint16_t kFirstFormat = 1;   // read, and upgraded by the next update
constexpr uint16_t kFormatVersion = 2; // written
// Each header slot is kept twice, the two copies in different sectors, so
// that damage to one sector leaves a copy of each slot.
constexpr uint64_t kSlotOffset[2] = {0, 4096};
constexpr uint64_t kMirrorOffset[2] = {4096 + 2048, 2048};
constexpr uint64_t kDataStart = 8192;
constexpr size_t kHeaderSize = 64;
constexpr uint32_t kFlagCompressed = 1;
// A directory of at least this size is kept as records of changes after it,
// at most kMostChangeRecords of them, together at most half its size.
constexpr uint64_t kSmallestDirectoryKeptInChanges = 8192;
constexpr size_t kMostChangeRecords = 64;
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

// The first generation's directory, read only. Fills versions, nodes and the
// counters; references are checked by checkState.
bool decodeFirstDirectory(const Bytes& bytes, ArchiveState* s);

// A directory record of this generation: self-describing (magic, kind,
// sequence, length and a hash of its own), so that it can be recognised
// without its slot. It is a whole directory, or the changes one commit made
// to the directory before it, which it names with that record's place and
// hash; a reader follows the names back to a whole directory.
Bytes encodeDirectory(const ArchiveState& s, uint64_t sequence);

struct DirectoryChanges {
    Extent previous{0, 0};       // the record these changes apply to
    uint64_t previousHash = 0;
    uint32_t depth = 0;          // records of changes since the whole directory, this one included
    ArchiveState scalars;        // counters, limit, flags and signature: the entries are below
    std::vector<uint32_t> removedVersions, removedNodes;
    std::vector<VersionEntry> versions;  // added or changed, ascending
    std::vector<ContentNode> nodes;      // added or changed, ascending
};
Bytes encodeChanges(const ArchiveState& before, const ArchiveState& after, uint64_t sequence,
                    const DirectoryChanges& link);

struct DirectoryRecord {
    bool changes = false;
    uint64_t sequence = 0;
};
// Decodes one record: a whole directory into whole, changes into changes.
bool decodeDirectory(const Bytes& bytes, DirectoryRecord* record, ArchiveState* whole, DirectoryChanges* changes);
// Applies records of changes, oldest first, to the whole directory before them.
bool applyChanges(ArchiveState* s, const std::vector<DirectoryChanges>& records);

// Every reference of a decoded state checked against a file of fileSize
// bytes, so that later code may trust it: ids, chains, blocks, numbers.
bool checkState(ArchiveState& s, uint64_t fileSize);

}  // namespace kseng

#endif
