// The memory a save or an extraction may take, by arithmetic: for every
// size of file the engine takes, the parts that grow with it stay within
// 64 MiB plus 1/256 of its size, and in the 32-bit build (this test is also
// built with the 32-bit build's limits, as engine_target32_tests) within what
// a 32-bit process can hold.
#include "codec.h"
#include "limits.h"
#include "save.h"
#include "signature.h"

#include <gtest/gtest.h>

using namespace kseng;

namespace {

std::vector<uint64_t> sizesToTry() {
    std::vector<uint64_t> sizes{0, 1, 4095, 4096, 65536};
    for (uint64_t size = 1 << 20; size <= kMaxContentSize; size *= 2) {
        sizes.push_back(size - 1);
        sizes.push_back(size);
        sizes.push_back(size + size / 3);
    }
    sizes.push_back(kMaxContentSize);
    return sizes;
}

TEST(Memory, EveryPartOfThePeakIsBoundedByTheFileSize) {
    for (uint64_t size : sizesToTry()) {
        if (size > kMaxContentSize) continue;
        ChunkSizes sizes = chunkSizesFor(size);
        uint64_t peak = plannedPeak(size, sizes.min(), saveWindow(size));
        EXPECT_LE(peak, memoryCeiling(size)) << size;
        // Signatures have about 2^21 chunks at most; the window holds the
        // largest chunk four times over.
        EXPECT_LE(size / sizes.min(), uint64_t(4) << 20) << size;
        EXPECT_GE(saveWindow(size), 4 * sizes.max()) << size;
        if (k32BitBuild) {
            // A 32-bit process has 2 GiB of address space, shared with the
            // program that loaded the engine.
            EXPECT_LE(peak, uint64_t(1) << 30) << size;
            EXPECT_LE(saveWindow(size), uint64_t(1) << 28) << size;
        }
    }
}

TEST(Memory, PlansAreBoundedTheSameOnEveryBuild) {
    // A chain saved by one build is read by the other: the bound on a plan's
    // pieces depends on the content's size alone.
    EXPECT_EQ(maxPlanPieces(0), uint64_t(128) << 10);
    EXPECT_EQ(maxPlanPieces(uint64_t(1) << 30), (uint64_t(128) << 10) + (uint64_t(1) << 14));
    EXPECT_EQ(maxPlanPieces(uint64_t(1) << 44), kMostPlanPieces);
    EXPECT_LE(sizeof(Plan::Piece), kPlanPieceBytes);
    EXPECT_EQ(kFrameSize, size_t(1) << 20);
}

TEST(Memory, TheLargestFileThisBuildTakes) {
    EXPECT_EQ(kMaxContentSize, k32BitBuild ? uint64_t(1) << 40 : uint64_t(1) << 44);
    EXPECT_GE(kMaxContentSize, uint64_t(1) << 40) << "at least 1 TiB on every build";
}

}  // namespace
