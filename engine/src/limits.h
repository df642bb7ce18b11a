// What the engine allows itself: the largest file it saves, and the memory a
// save or an extraction may take, at most 64 MiB plus 1/256 of the file's
// size on every build (FORMAT.md, "Sizes and memory"). The parts that grow
// with the file are bounded here, so that the arithmetic can be checked for
// the 32-bit build too, which this machine cannot run.
#ifndef KSENG_LIMITS_H
#define KSENG_LIMITS_H

#include <cstddef>
#include <cstdint>
#include <climits>

namespace kseng {

// The 32-bit build, or a native build made to check its arithmetic.
#if defined(KSENG_TARGET_32) || SIZE_MAX <= UINT32_MAX
constexpr bool k32BitBuild = true;
#else
constexpr bool k32BitBuild = false;
#endif

// The largest version saved or extracted: 16 TiB, and 1 TiB in the 32-bit
// build, whose address space must hold the index of a version's frames. A
// larger version in an archive is listed like any other; only saving or
// extracting it is refused.
constexpr uint64_t kMaxContentSize = uint64_t(1) << (k32BitBuild ? 40 : 44);

// The memory a save or an extraction of contentSize bytes may take.
constexpr uint64_t memoryCeiling(uint64_t contentSize) { return (uint64_t(64) << 20) + contentSize / 256; }

// Pieces a version's plan may have: the deltas of a chain are kept within
// half of this when saved, so a reader never meets more in a sound archive.
constexpr uint64_t kMostPlanPieces = uint64_t(4) << 20;
constexpr uint64_t maxPlanPieces(uint64_t contentSize) {
    uint64_t pieces = (uint64_t(128) << 10) + contentSize / 65536;
    return pieces < kMostPlanPieces ? pieces : kMostPlanPieces;
}

// A new version starts a new base instead of extending the newest one's
// chain when the chain has kMaxChainDepth deltas already, when its deltas
// would take more room than their base (at least kMinChainAllowance), or
// when their operations would make a plan of more than half the pieces a
// reader allows itself.
constexpr size_t kMaxChainDepth = 1000;
// Every delta of a chain is a block read when a version of it is read; for
// a small file a new base costs less than reading a long chain, so its
// chains are shorter: a delta per 4 KiB of content, 16 at least.
constexpr size_t maxChainDepth(uint64_t contentSize) {
    uint64_t depth = contentSize / 4096;
    return depth < 16 ? 16 : depth > kMaxChainDepth ? kMaxChainDepth : static_cast<size_t>(depth);
}
constexpr uint64_t kMinChainAllowance = 64 * 1024;

// Bytes of memory per item, as laid out on the larger (64-bit) build.
constexpr uint64_t kPlanPieceBytes = 32;
constexpr uint64_t kSignatureBytesPerChunk = 16 + 8 + 8 + 16;  // old entry, offset, index slots, new entry
constexpr uint64_t kFrameIndexBytes = 36;                       // per frame of a block, while it is opened

// The parts of a save's or an extraction's peak that do not grow with the
// file: the frames being written and read (about 12 MiB), the threads' zlib
// state, the refinement of changed regions, the program itself, and the
// directory of an archive of some 40,000 versions (about 20 MiB; the
// directory grows with the versions, not with the file).
constexpr uint64_t kFixedMemory = (uint64_t(40) << 20);

// The most a save or extraction of contentSize bytes can take by design,
// when every bound above is reached at once: smallestChunk is the smallest
// chunk the signature cuts, windowBytes the window over the new file (see
// chunkSizesFor and saveWindow).
constexpr uint64_t plannedPeak(uint64_t contentSize, uint64_t smallestChunk, uint64_t windowBytes) {
    return kFixedMemory + windowBytes + 2 * maxPlanPieces(contentSize) * kPlanPieceBytes +
           (contentSize / smallestChunk + 1) * kSignatureBytesPerChunk + (contentSize >> 20) * kFrameIndexBytes;
}

}  // namespace kseng

#endif
