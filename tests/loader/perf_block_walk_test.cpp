// The walk over performance data blocks, with positions computed in 32 and
// in 64 bits. Blocks are built here byte by byte; lengths near 4 GiB are
// where 32-bit sums wrap round, so every such length is tried against both
// widths, which must agree.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "perf_block_walk.h"

using namespace kickoff;
namespace layout = kickoff::perf_layout;

namespace {

constexpr std::uint32_t kIdCounter = 784;
constexpr std::uint32_t kOtherCounter = 6;

struct TestInstance {
    std::string name;  // ASCII, stored as UTF-16
    std::uint32_t processId;
};

void Put(std::vector<unsigned char>& block, std::size_t at, std::uint32_t value) {
    if (block.size() < at + 4) block.resize(at + 4, 0);
    for (int i = 0; i < 4; ++i) block[at + i] = static_cast<unsigned char>(value >> (8 * i));
}

// A block with one object of two counters (another one first, then the
// process id at offset 8 of each counter block) and the given instances.
// `instanceAt` receives where each instance definition starts.
std::vector<unsigned char> BuildBlock(const std::vector<TestInstance>& instances,
                                      std::vector<std::size_t>* instanceAt = nullptr) {
    std::vector<unsigned char> block(layout::kBlockSize, 0);
    const unsigned char signature[8] = {'P', 0, 'E', 0, 'R', 0, 'F', 0};
    std::copy(signature, signature + 8, block.begin());
    Put(block, layout::kBlockHeaderLength, layout::kBlockSize);
    Put(block, layout::kBlockObjectCount, 1);

    const std::size_t object = block.size();
    block.resize(object + layout::kObjectSize + 2 * layout::kCounterSize, 0);
    Put(block, object + layout::kObjectHeaderLength, layout::kObjectSize);
    Put(block, object + layout::kObjectDefinitionLength, layout::kObjectSize + 2 * layout::kCounterSize);
    Put(block, object + layout::kObjectCounterCount, 2);
    Put(block, object + layout::kObjectInstanceCount, static_cast<std::uint32_t>(instances.size()));
    const std::size_t counters = object + layout::kObjectSize;
    Put(block, counters + layout::kCounterNameIndex, kOtherCounter);
    Put(block, counters + layout::kCounterOffset, 4);
    Put(block, counters + layout::kCounterSize + layout::kCounterNameIndex, kIdCounter);
    Put(block, counters + layout::kCounterSize + layout::kCounterOffset, 8);

    for (const TestInstance& each : instances) {
        const std::size_t at = block.size();
        if (instanceAt != nullptr) instanceAt->push_back(at);
        const std::uint32_t nameBytes = static_cast<std::uint32_t>(2 * (each.name.size() + 1));
        const std::uint32_t length = (layout::kInstanceSize + nameBytes + 7) & ~7u;
        block.resize(at + length, 0);
        Put(block, at + layout::kInstanceByteLength, length);
        Put(block, at + layout::kInstanceNameOffset, layout::kInstanceSize);
        Put(block, at + layout::kInstanceNameLength, nameBytes);
        for (std::size_t i = 0; i < each.name.size(); ++i) {
            block[at + layout::kInstanceSize + 2 * i] = static_cast<unsigned char>(each.name[i]);
        }
        const std::size_t counterBlock = block.size();
        Put(block, counterBlock, 12);
        Put(block, counterBlock + 4, 0xEEEE);
        Put(block, counterBlock + 8, each.processId);
    }
    return block;
}

std::string NameOf(const PerfInstanceView& view) {
    std::string name;
    for (std::size_t i = 0; i + 1 < view.nameBytes; i += 2) name += static_cast<char>(view.name[i]);
    return name;
}

// What one walk saw: the instances handed over, in order, and its answer.
struct Walked {
    std::vector<std::pair<std::string, std::uint32_t>> seen;
    std::uint32_t result = 0;
    bool runaway = false;  // stopped by us after far more steps than the block holds
};

template <typename Offset>
Walked Walk(const std::vector<unsigned char>& block, const std::string& wanted, std::uint32_t idCounter = kIdCounter) {
    Walked walked;
    const PerfBlockWalk<Offset> walk(block.empty() ? nullptr : block.data(), static_cast<Offset>(block.size()));
    walked.result = walk.FindInstance(idCounter, [&](const PerfInstanceView& view) {
        walked.seen.emplace_back(NameOf(view), view.processId);
        if (walked.seen.size() > 1000) {
            walked.runaway = true;
            return true;
        }
        return view.processId != 0 && NameOf(view) == wanted;
    });
    return walked;
}

template <typename Offset>
class PerfWalk : public ::testing::Test {};
using OffsetWidths = ::testing::Types<std::uint32_t, std::uint64_t>;
TYPED_TEST_SUITE(PerfWalk, OffsetWidths);

}  // namespace

TYPED_TEST(PerfWalk, HandsOverInstancesInOrderUntilOneIsAccepted) {
    const auto block = BuildBlock({{"System", 4}, {"IDLE", 0}, {"EDITOR", 120}, {"EDITOR", 130}});
    const Walked found = Walk<TypeParam>(block, "EDITOR");
    EXPECT_EQ(found.result, 120u);
    const std::vector<std::pair<std::string, std::uint32_t>> expected = {{"System", 4}, {"IDLE", 0}, {"EDITOR", 120}};
    EXPECT_EQ(found.seen, expected);

    const Walked missing = Walk<TypeParam>(block, "VIEWER");
    EXPECT_EQ(missing.result, 0u);
    EXPECT_EQ(missing.seen.size(), 4u);

    // Without the id counter there is nothing to hand over.
    EXPECT_TRUE(Walk<TypeParam>(block, "EDITOR", 9999).seen.empty());
    EXPECT_EQ(Walk<TypeParam>({}, "EDITOR").result, 0u);
}

TYPED_TEST(PerfWalk, ACutBlockIsWalkedOnlyAsFarAsItIsWhole) {
    const auto block = BuildBlock({{"OTHER", 5}, {"EDITOR", 120}});
    for (std::size_t size = 0; size < block.size(); ++size) {
        const std::vector<unsigned char> cut(block.begin(), block.begin() + static_cast<std::ptrdiff_t>(size));
        const Walked walked = Walk<TypeParam>(cut, "EDITOR");
        EXPECT_EQ(walked.result, 0u) << "size " << size;
        // The first instance is handed over only once its counter block is whole.
        EXPECT_LE(walked.seen.size(), 1u) << "size " << size;
    }
}

TYPED_TEST(PerfWalk, LengthsThatDoNotHoldTheirOwnFieldsEndTheWalk) {
    std::vector<std::size_t> at;
    const auto good = BuildBlock({{"OTHER", 5}, {"EDITOR", 120}}, &at);
    for (const std::uint32_t length : {0u, 4u, layout::kInstanceSize - 1}) {
        auto block = good;
        Put(block, at[0] + layout::kInstanceByteLength, length);
        const Walked walked = Walk<TypeParam>(block, "EDITOR");
        EXPECT_EQ(walked.result, 0u) << length;
        EXPECT_TRUE(walked.seen.empty()) << length;
    }
    // A definition of 8 bytes would put its counter block over its own
    // fields, and the name offset (24) would be taken for the process id.
    auto overlapping = good;
    Put(overlapping, at[1] + layout::kInstanceByteLength, 8);
    Put(overlapping, at[1] + 8, 16);
    EXPECT_EQ(Walk<TypeParam>(overlapping, "EDITOR").result, 0u);

    // A counter block shorter than its own length field: the instance is
    // not handed over, and the walk does not go on from inside it.
    for (const std::uint32_t length : {0u, 1u, 3u}) {
        auto block = good;
        Put(block, at[1] - 12, length);
        const Walked walked = Walk<TypeParam>(block, "EDITOR");
        EXPECT_EQ(walked.result, 0u) << length;
        EXPECT_TRUE(walked.seen.empty()) << length;
    }

    // Far more instances announced than there are: the walk ends at the end.
    auto overcounted = good;
    Put(overcounted, layout::kBlockSize + layout::kObjectInstanceCount, 0x7FFFFFFF);
    const Walked walked = Walk<TypeParam>(overcounted, "VIEWER");
    EXPECT_EQ(walked.result, 0u);
    EXPECT_EQ(walked.seen.size(), 2u);
}

// A length of 4 GiB less a little, added in 32 bits, lands before the place
// it was added to. Here the second instance's length would land on the first
// instance's counter block, so the name EDITOR would come with the id of
// OTHER and the walk would circle between the two for billions of steps.
TYPED_TEST(PerfWalk, AnInstanceLengthThatWouldWrapRoundIsRejected) {
    std::vector<std::size_t> at;
    auto block = BuildBlock({{"OTHER", 5}, {"EDITOR", 120}}, &at);
    const std::size_t firstCounterBlock = at[1] - 12;
    const std::uint32_t wrapping = static_cast<std::uint32_t>(0x100000000ull - (at[1] - firstCounterBlock));
    Put(block, at[1] + layout::kInstanceByteLength, wrapping);
    Put(block, layout::kBlockSize + layout::kObjectInstanceCount, 0x7FFFFFFF);

    const Walked found = Walk<TypeParam>(block, "EDITOR");
    EXPECT_EQ(found.result, 0u);
    EXPECT_FALSE(found.runaway);
    const Walked missing = Walk<TypeParam>(block, "VIEWER");
    EXPECT_FALSE(missing.runaway);
    EXPECT_LE(missing.seen.size(), 1u);
}

// Every length and offset field of the block, set to each value between
// 4 GiB less the block's size and 4 GiB less one: the 32-bit walk must see
// and answer exactly what the 64-bit walk, whose sums cannot wrap, does.
TEST(PerfWalkWidths, ThirtyTwoBitPositionsAgreeWithSixtyFourBitOnesNearTheTop) {
    std::vector<std::size_t> at;
    const auto good = BuildBlock({{"OTHER", 5}, {"VIEWER", 0}, {"EDITOR", 120}}, &at);
    const std::size_t object = layout::kBlockSize;
    const std::size_t idCounter = object + layout::kObjectSize + layout::kCounterSize;
    const struct {
        const char* what;
        std::size_t offset;
    } fields[] = {
        {"block header length", layout::kBlockHeaderLength},
        {"object header length", object + layout::kObjectHeaderLength},
        {"object definition length", object + layout::kObjectDefinitionLength},
        {"counter offset", idCounter + layout::kCounterOffset},
        {"first instance length", at[0] + layout::kInstanceByteLength},
        {"second instance length", at[1] + layout::kInstanceByteLength},
        {"second name offset", at[1] + layout::kInstanceNameOffset},
        {"second name length", at[1] + layout::kInstanceNameLength},
        {"first counter block length", at[1] - 12},
        {"second counter block length", at[2] - 12},
    };
    for (const auto& field : fields) {
        for (std::size_t back = 1; back <= good.size() + 8; ++back) {
            auto block = good;
            Put(block, field.offset, static_cast<std::uint32_t>(0x100000000ull - back));
            for (const char* wanted : {"EDITOR", "OTHER", "VIEWER", ""}) {
                const Walked narrow = Walk<std::uint32_t>(block, wanted);
                const Walked wide = Walk<std::uint64_t>(block, wanted);
                ASSERT_FALSE(narrow.runaway) << field.what << " back " << back;
                ASSERT_EQ(narrow.result, wide.result) << field.what << " back " << back << " " << wanted;
                ASSERT_EQ(narrow.seen, wide.seen) << field.what << " back " << back << " " << wanted;
            }
        }
    }
}
