// Damaged archives: whatever is cut off or flipped, readers answer with a
// status or with the exact bytes of a version, never with wrong content, and
// never crash or ask for memory the file cannot justify.
#include "archive_helpers.h"
#include "hash.h"
#include "test_data.h"

using namespace kseng;
using namespace kseng::testing;

namespace {

Bytes sampleArchive(Contents* contents, bool compress) {
    std::mt19937 rng(5);
    MemoryFiles fs;
    Bytes content = textLike(rng, 6000);
    EXPECT_EQ(create(fs, content, 100, compress), kOk);
    for (int i = 0; i < 4; ++i) {
        content = edited(rng, content, 3);
        EXPECT_EQ(add(fs, content), kOk);
    }
    EXPECT_EQ(readAll(fs, contents), kOk);
    EXPECT_EQ(change(fs, [](File& f) { return deleteVersion(f, 2); }), kOk);
    Bytes archive;
    fs.get(kArchive, &archive);
    return archive;
}

// Reads everything back; every version that reads must be exactly right.
// truth holds every version ever saved: a fallback to the older slot may
// bring back one that was deleted last.
void expectHonest(const Bytes& archive, const Contents& truth, const std::string& what) {
    MemoryFiles fs;
    fs.put(kArchive, archive);
    ArchiveState state;
    Status status = readState(fs, kArchive, &state);
    if (status != kOk) {
        EXPECT_TRUE(status == kCorrupt || status == kNewerFormat) << what << ": status " << status;
        return;
    }
    for (const VersionEntry& v : state.versions) {
        Bytes content;
        Status read = readVersion(fs, kArchive, v.number, &content);
        if (read == kOk) {
            auto it = truth.find(v.number);
            ASSERT_NE(it, truth.end()) << what;
            EXPECT_EQ(content, it->second) << what << ": version " << v.number;
        }
    }
    fs.put("work", truth.rbegin()->second);
    int compared = compareWorking(fs, "work", kArchive);
    EXPECT_TRUE(compared >= 0 || compared == -kCorrupt) << what;
}

class DamageTest : public ::testing::TestWithParam<bool> {};

TEST_P(DamageTest, TruncationAtAnyLength) {
    Contents truth;
    Bytes archive = sampleArchive(&truth, GetParam());
    for (size_t length = 0; length < archive.size(); length += 1 + length / 64)
        expectHonest(Bytes(archive.begin(), archive.begin() + static_cast<std::ptrdiff_t>(length)), truth,
                     "cut at " + std::to_string(length));
}

TEST_P(DamageTest, BitFlipsAnywhere) {
    Contents truth;
    Bytes archive = sampleArchive(&truth, GetParam());
    std::mt19937 rng(8);
    for (int i = 0; i < 600; ++i) {
        Bytes damaged = archive;
        size_t at = i < 128 ? static_cast<size_t>(i) : rng() % damaged.size();
        damaged[at] ^= static_cast<uint8_t>(1u << (rng() % 8));
        expectHonest(damaged, truth, "flip at " + std::to_string(at));
    }
}

INSTANTIATE_TEST_SUITE_P(StoredAndCompressed, DamageTest, ::testing::Bool());

TEST(Damage, ADamagedNewestSlotFallsBackToThePreviousState) {
    MemoryFiles fs;
    ASSERT_EQ(create(fs, Bytes(500, 'a')), kOk);
    ASSERT_EQ(add(fs, Bytes(600, 'b')), kOk);
    ASSERT_EQ(add(fs, Bytes(700, 'c')), kOk);
    Bytes archive;
    fs.get(kArchive, &archive);
    // The newest state was written into slot 1 (the first into 0, then 1, 0, ...).
    ArchiveState state;
    ASSERT_EQ(readState(fs, kArchive, &state), kOk);
    archive[state.slot == 0 ? 20 : 4096 + 20] ^= 0xFF;
    fs.put(kArchive, archive);
    Contents actual;
    ASSERT_EQ(readAll(fs, &actual), kOk);
    EXPECT_EQ(actual, (Contents{{1, Bytes(500, 'a')}, {2, Bytes(600, 'b')}}));
    // The next save goes on from there.
    ASSERT_EQ(add(fs, Bytes(800, 'd')), kOk);
    ASSERT_EQ(readAll(fs, &actual, &state), kOk);
    EXPECT_EQ(actual.size(), 3u);
    EXPECT_EQ(state.versions.back().number, 3);
}

TEST(Damage, ThingsThatAreNoArchive) {
    std::mt19937 rng(1);
    const Bytes inputs[] = {{}, Bytes(100, 'x'), Bytes(20000, 0), randomBytes(rng, 20000)};
    for (const Bytes& input : inputs) {
        MemoryFiles fs;
        fs.put(kArchive, input);
        ArchiveState state;
        EXPECT_EQ(readState(fs, kArchive, &state), kCorrupt);
        EXPECT_EQ(add(fs, Bytes(10, 'a')), kCorrupt);
        Bytes unchanged;
        fs.get(kArchive, &unchanged);
        EXPECT_EQ(unchanged, input) << "a failed save never touches the file";
    }
}

// A header with a correct checksum that claims what the file cannot hold.
void forgeHeader(Bytes& archive, size_t slotOffset, size_t field, uint64_t value) {
    std::memcpy(archive.data() + slotOffset + field, &value, 8);
    uint64_t sum = hash64(archive.data() + slotOffset, 56);
    std::memcpy(archive.data() + slotOffset + 56, &sum, 8);
}

TEST(Damage, ForgedSizesAreRefusedBeforeAnyAllocation) {
    MemoryFiles fs;
    ASSERT_EQ(create(fs, Bytes(500, 'a')), kOk);
    Bytes archive;
    fs.get(kArchive, &archive);
    for (uint64_t huge : {uint64_t(1) << 40, ~uint64_t(0), uint64_t(archive.size())}) {
        Bytes forged = archive;
        forgeHeader(forged, 0, 32, huge);  // directory length
        fs.put(kArchive, forged);
        ArchiveState state;
        EXPECT_EQ(readState(fs, kArchive, &state), kCorrupt);
    }
    // A newer format is told apart from damage.
    Bytes newer = archive;
    uint16_t version = 2;
    std::memcpy(newer.data() + 8, &version, 2);
    forgeHeader(newer, 0, 16, 1);
    fs.put(kArchive, newer);
    ArchiveState state;
    EXPECT_EQ(readState(fs, kArchive, &state), kNewerFormat);
}

}  // namespace
