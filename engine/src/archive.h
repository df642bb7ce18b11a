// The archive: one file holding every version of one working file. Layout and
// rules are in engine/FORMAT.md. Everything here works on a FileSystem, so the
// same code runs on Windows, on Linux and over the in-memory files of tests.
#ifndef KSENG_ARCHIVE_H
#define KSENG_ARCHIVE_H

#include "clock.h"
#include "delta.h"
#include "io.h"
#include "limits.h"
#include "status.h"

#include <cstdint>
#include <string>
#include <vector>

namespace kseng {

// Longest comment and user name kept, in bytes (the record fields hold one
// more for the terminating NUL).
constexpr size_t kMaxComment = 128;
constexpr size_t kMaxUser = 66;
constexpr uint32_t kMinTemporaryLimit = 1;
constexpr uint32_t kMaxTemporaryLimit = 32767;
constexpr uint32_t kLastVersionNumber = 65535;
// Each add takes one node id, so an archive can never have used more than
// about 65536; the bound keeps a damaged counter from wrapping around.
constexpr uint32_t kNodeIdLimit = uint32_t(1) << 24;
struct VersionEntry {
    uint16_t number = 0;
    bool permanent = false;
    uint32_t dosTime = 0;
    uint64_t size = 0;
    uint64_t contentHash = 0;
    uint32_t node = 0;
    std::string user;
    std::string comment;
};

struct ContentNode {
    enum Kind : uint8_t { Full = 1, Delta = 2 };
    // How the block is laid out: the first generation's blocks and deltas, or
    // the framed blocks of the second (FORMAT.md, "Content").
    enum Layout : uint8_t { FirstLayout = 1, FramedLayout = 2 };
    // Stored, Zlib and Lz: the block is one frame, raw, deflated or in LZ
    // form. ZlibChunks: the first format's large compressed block. Indexed:
    // frames and an index.
    enum Codec : uint8_t { Stored = 0, Zlib = 1, ZlibChunks = 2, Indexed = 3, Lz = 4 };
    uint32_t id = 0;
    uint8_t kind = Full;
    uint8_t layout = FirstLayout;
    uint8_t codec = Stored;
    uint32_t parent = 0;        // Delta only: the node whose content it changes
    uint64_t offset = 0;        // block position in the file
    uint64_t storedLength = 0;  // bytes in the file
    uint64_t rawLength = 0;     // bytes after decompression
    uint64_t contentSize = 0;   // size of the content the node stands for
    uint64_t blockHash = 0;     // hash of the stored bytes
    uint64_t literalLength = 0; // framed deltas: the literals that precede the instructions
};

// A run of bytes in the archive file.
struct Extent {
    uint64_t offset;
    uint64_t length;
    bool operator<(const Extent& o) const { return offset < o.offset; }
    bool operator==(const Extent& o) const { return offset == o.offset && length == o.length; }
};

struct ArchiveState {
    uint64_t sequence = 0;
    int slot = -1;              // header slot the state was read from
    uint16_t formatVersion = 0; // of the directory it was read from
    bool compressed = false;
    uint32_t versionCounter = 1;  // number of the next version
    uint32_t maxTemporary = 10;
    uint32_t nextNode = 1;
    uint64_t directoryOffset = 0;   // the newest directory record, the one the slot names
    uint64_t directoryLength = 0;
    // Every record the directory is read from: the last whole directory and
    // the records of changes written after it, oldest first.
    std::vector<Extent> directoryChain;
    uint64_t wholeLength = 0;       // of the whole directory the chain starts from
    uint64_t changesLength = 0;     // of the records of changes after it
    uint64_t signatureOffset = 0;   // the newest version's signature, when kept
    uint64_t signatureCapacity = 0;
    uint32_t signatureNode = 0;     // the node it was written for
    std::vector<VersionEntry> versions;  // ascending numbers
    std::vector<ContentNode> nodes;      // ascending ids

    const VersionEntry* findVersion(uint32_t number) const;
    const ContentNode* findNode(uint32_t id) const;
    size_t temporaryCount() const;
};

// What a new version carries besides its content.
struct VersionMeta {
    std::string user;
    std::string comment;
    bool permanent = false;
    uint32_t dosTime = 0;
};

// Text cut to at most max bytes, never reading past a NUL or beyond max.
std::string boundedText(const char* text, size_t max);

// Reading. All readers retry a few times when they meet a state that a
// concurrent writer is replacing.
Status readState(FileSystem& fs, const std::string& archivePath, ArchiveState* state);
Status readVersion(FileSystem& fs, const std::string& archivePath, uint32_t number, Bytes* content);
// Above 0 when the file differs from the newest version or there is none, 0
// when identical, below 0 (the negated status) when either cannot be read.
int compareWorking(FileSystem& fs, const std::string& workingPath, const std::string& archivePath);
// Writes the version to target through a scratch file, so that a failure
// leaves the target as it was.
Status extractVersion(FileSystem& fs, const std::string& archivePath, uint32_t number,
                      const std::string& targetPath);

// What a verification found: how many header copies were unreadable (the
// archive still works while each slot has one), and which versions do not
// rebuild to the content they were saved with.
struct VerifyReport {
    int damagedHeaderCopies = 0;
    bool directoryRead = false;    // false: nothing else could be checked
    size_t versionCount = 0;
    std::vector<uint16_t> damaged;  // ascending
};
// Rebuilds every version and checks its hash. kOk when every version is
// intact, kCorrupt when any is not or the directory cannot be read.
Status verifyArchive(FileSystem& fs, const std::string& archivePath, VerifyReport* report);

// Creating: a new archive whose first version is the file at sourcePath.
// Never replaces an existing archive.
Status createArchive(FileSystem& fs, const std::string& archivePath, const std::string& sourcePath,
                     const VersionMeta& meta, uint32_t maxTemporary, bool compress);

// Updating. Each takes an open file that holds the reservation (see
// Reservations); each is atomic: on any failure the archive is unchanged.
Status addVersion(File& file, const std::string& sourcePath, FileSystem& fs, const VersionMeta& meta);
Status deleteVersion(File& file, uint32_t number);
Status setPermanent(File& file, uint32_t number, bool permanent);
Status setMaxTemporary(File& file, uint32_t count);

// Lower level, for tests and tools: the state and content of an open archive.
Status loadState(File& file, ArchiveState* state);

}  // namespace kseng

#endif
