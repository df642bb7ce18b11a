// The archive's promises, checked over in-memory files: every version comes
// back byte for byte after any sequence of saves, deletions and limit
// changes, numbers are never reused, and damage is reported, never believed.
#include "archive_helpers.h"
#include "reservations.h"
#include "test_data.h"

#include <chrono>
#include <thread>

using namespace kseng;
using namespace kseng::testing;

namespace {

std::vector<Bytes> chain(std::mt19937& rng, Bytes first, int count) {
    std::vector<Bytes> out{std::move(first)};
    while (static_cast<int>(out.size()) < count) out.push_back(edited(rng, out.back(), 5));
    return out;
}

class ArchiveTest : public ::testing::TestWithParam<bool> {
protected:
    bool compressed() const { return GetParam(); }
    MemoryFiles fs;
};

TEST_P(ArchiveTest, EveryVersionComesBackAfterEachDeletion) {
    std::mt19937 rng(1);
    std::vector<Bytes> versions = chain(rng, textLike(rng, 30000), 8);
    // Delete in an order that hits the base, the middle and the newest.
    const uint32_t order[] = {1, 4, 8, 2, 6, 3, 7};
    ASSERT_EQ(create(fs, versions[0], 100, compressed()), kOk);
    for (size_t i = 1; i < versions.size(); ++i) ASSERT_EQ(add(fs, versions[i]), kOk);
    Contents expected;
    for (size_t i = 0; i < versions.size(); ++i) expected[static_cast<uint32_t>(i + 1)] = versions[i];
    for (uint32_t number : order) {
        ASSERT_EQ(change(fs, [&](File& f) { return deleteVersion(f, number); }), kOk);
        expected.erase(number);
        Contents actual;
        ASSERT_EQ(readAll(fs, &actual), kOk);
        ASSERT_EQ(actual, expected) << "after deleting " << number;
    }
    // And saving goes on from what is left.
    ASSERT_EQ(add(fs, versions[2]), kOk);
    Contents actual;
    ArchiveState state;
    ASSERT_EQ(readAll(fs, &actual, &state), kOk);
    EXPECT_EQ(actual[9], versions[2]);
    EXPECT_EQ(state.versionCounter, 10u);
}

TEST_P(ArchiveTest, NumbersAreNeverReused) {
    std::mt19937 rng(2);
    ASSERT_EQ(create(fs, textLike(rng, 1000), 100, compressed()), kOk);
    ASSERT_EQ(add(fs, textLike(rng, 1000)), kOk);
    ASSERT_EQ(change(fs, [](File& f) { return deleteVersion(f, 2); }), kOk);
    ASSERT_EQ(add(fs, textLike(rng, 1000)), kOk);
    ArchiveState state;
    ASSERT_EQ(readState(fs, kArchive, &state), kOk);
    ASSERT_EQ(state.versions.size(), 2u);
    EXPECT_EQ(state.versions[1].number, 3);
    EXPECT_EQ(state.versionCounter, 4u);
    EXPECT_EQ(state.compressed, compressed());
}

TEST_P(ArchiveTest, OldestTemporaryVersionsGiveWayToTheLimit) {
    std::mt19937 rng(3);
    std::vector<Bytes> v = chain(rng, randomBytes(rng, 20000), 9);
    ASSERT_EQ(create(fs, v[0], 3, compressed(), /*permanent=*/true), kOk);
    for (int i = 1; i < 9; ++i) ASSERT_EQ(add(fs, v[i], /*permanent=*/i == 2), kOk);
    Contents actual;
    ArchiveState state;
    ASSERT_EQ(readAll(fs, &actual, &state), kOk);
    // Permanent 1 and 3 stay; of the temporary ones the newest three.
    EXPECT_EQ(actual, (Contents{{1, v[0]}, {3, v[2]}, {7, v[6]}, {8, v[7]}, {9, v[8]}}));

    // Lowering the limit deletes more; raising it deletes nothing.
    ASSERT_EQ(change(fs, [](File& f) { return setMaxTemporary(f, 1); }), kOk);
    ASSERT_EQ(change(fs, [](File& f) { return setMaxTemporary(f, 50); }), kOk);
    ASSERT_EQ(readAll(fs, &actual, &state), kOk);
    EXPECT_EQ(actual, (Contents{{1, v[0]}, {3, v[2]}, {9, v[8]}}));
    EXPECT_EQ(state.maxTemporary, 50u);
    EXPECT_EQ(change(fs, [](File& f) { return setMaxTemporary(f, 0); }), kBadArgument);
    EXPECT_EQ(change(fs, [](File& f) { return setMaxTemporary(f, 32768); }), kBadArgument);

    // Clearing a flag never prunes: a caller clears it right before deleting.
    ASSERT_EQ(change(fs, [](File& f) { return setMaxTemporary(f, 1); }), kOk);
    ASSERT_EQ(change(fs, [](File& f) { return setPermanent(f, 3, false); }), kOk);
    ASSERT_EQ(readAll(fs, &actual, &state), kOk);
    EXPECT_EQ(actual.size(), 3u);
    EXPECT_EQ(change(fs, [](File& f) { return setPermanent(f, 5, true); }), kNoVersion);
}

TEST_P(ArchiveTest, LongHistoriesStayCheapToRebuild) {
    std::mt19937 rng(4);
    Bytes content = textLike(rng, 40000);
    ASSERT_EQ(create(fs, content, 32767, compressed()), kOk);
    std::vector<Bytes> all{content};
    for (int i = 0; i < 150; ++i) {
        content = edited(rng, content, 1 + i % 7);
        all.push_back(content);
        ASSERT_EQ(add(fs, content), kOk);
    }
    ArchiveState state;
    Contents actual;
    ASSERT_EQ(readAll(fs, &actual, &state), kOk);
    for (size_t i = 0; i < all.size(); ++i) ASSERT_EQ(actual[static_cast<uint32_t>(i + 1)], all[i]) << i;
    // Deltas along any chain never outweigh their base by much.
    for (const VersionEntry& v : state.versions) {
        uint64_t deltas = 0;
        const ContentNode* n = state.findNode(v.node);
        while (n->kind == ContentNode::Delta) {
            deltas += n->storedLength;
            n = state.findNode(n->parent);
        }
        EXPECT_LE(deltas, std::max<uint64_t>(n->storedLength, 64 * 1024) + 4096);
    }
}

INSTANTIATE_TEST_SUITE_P(StoredAndCompressed, ArchiveTest, ::testing::Bool());

TEST(Archive, CreateNeverReplacesAnArchive) {
    MemoryFiles fs;
    ASSERT_EQ(create(fs, Bytes(100, 'a')), kOk);
    EXPECT_EQ(create(fs, Bytes(100, 'b')), kExists);
    Contents actual;
    ASSERT_EQ(readAll(fs, &actual), kOk);
    EXPECT_EQ(actual, (Contents{{1, Bytes(100, 'a')}}));
    EXPECT_EQ(fs.fileCount(), 2u) << "no scratch file left behind";
}

// Another process creates the archive while this one writes its own: the
// name is taken only if it is still free, never replaced.
TEST(Archive, ACreateRacingAnotherNeverReplacesIt) {
    class Racing final : public FileSystem {
    public:
        explicit Racing(MemoryFiles& inner) : inner_(inner) {}
        std::unique_ptr<File> open(const std::string& path, OpenMode mode, OpenError* error = nullptr) override {
            return inner_.open(path, mode, error);
        }
        bool publish(const std::string& temp, const std::string& final) override {
            inner_.put(final, Bytes(100, 'o'));  // the other process was quicker
            return inner_.publish(temp, final);
        }
        bool replace(const std::string& temp, const std::string& final) override { return inner_.replace(temp, final); }
        bool remove(const std::string& path) override { return inner_.remove(path); }
        std::string scratchNameBeside(const std::string& path) override { return inner_.scratchNameBeside(path); }

    private:
        MemoryFiles& inner_;
    };
    MemoryFiles fs;
    Racing racing(fs);
    fs.put(kCopy, Bytes(10, 'x'));
    EXPECT_EQ(createArchive(racing, kArchive, kCopy, meta(), 10, false), kExists);
    Bytes other;
    ASSERT_TRUE(fs.get(kArchive, &other));
    EXPECT_EQ(other, Bytes(100, 'o')) << "the other archive stays as it was";
    EXPECT_EQ(fs.fileCount(), 2u) << "no scratch file left behind";
}

TEST(Archive, TextsAreCutToTheirFields) {
    MemoryFiles fs;
    EXPECT_EQ(boundedText(std::string(300, 'c').c_str(), kMaxComment).size(), 128u);
    EXPECT_EQ(boundedText("short", kMaxComment), "short");
    EXPECT_EQ(boundedText(nullptr, kMaxUser), "");
    char unterminated[66];
    std::memset(unterminated, 'u', sizeof unterminated);
    EXPECT_EQ(boundedText(unterminated, sizeof unterminated).size(), 66u);
    fs.put(kCopy, Bytes(10, 'x'));
    VersionMeta m = meta(false, std::string(200, 'c'));
    m.user = std::string(100, 'u');
    ASSERT_EQ(createArchive(fs, kArchive, kCopy, m, 10, false), kOk);
    ArchiveState state;
    ASSERT_EQ(readState(fs, kArchive, &state), kOk);
    EXPECT_EQ(state.versions[0].comment.size(), 128u);
    EXPECT_EQ(state.versions[0].user.size(), 66u);
}

TEST(Archive, CompareWorkingTellsWhetherASaveIsDue) {
    MemoryFiles fs;
    Bytes content(5000, 'q');
    EXPECT_LT(compareWorking(fs, "work", kArchive), 0) << "no working file";
    fs.put("work", content);
    EXPECT_EQ(compareWorking(fs, "work", kArchive), -kNoArchive);
    ASSERT_EQ(create(fs, content), kOk);
    EXPECT_EQ(compareWorking(fs, "work", kArchive), 0);
    content[4999] = 'r';
    fs.put("work", content);
    EXPECT_GT(compareWorking(fs, "work", kArchive), 0);
    ASSERT_EQ(change(fs, [](File& f) { return deleteVersion(f, 1); }), kOk);
    EXPECT_GT(compareWorking(fs, "work", kArchive), 0) << "an archive without versions";
}

TEST(Archive, ExtractReplacesTheTargetOnlyWhenComplete) {
    MemoryFiles fs;
    ASSERT_EQ(create(fs, Bytes(3000, 'v')), kOk);
    fs.put("out", Bytes(5, 'o'));
    ASSERT_EQ(extractVersion(fs, kArchive, 1, "out"), kOk);
    Bytes out;
    ASSERT_TRUE(fs.get("out", &out));
    EXPECT_EQ(out, Bytes(3000, 'v'));
    EXPECT_EQ(extractVersion(fs, kArchive, 2, "out"), kNoVersion);
    EXPECT_EQ(extractVersion(fs, "dir/none.ks", 1, "out"), kNoArchive);
    // Every failing write leaves the old target and no scratch file.
    for (long n = 1; n <= 4; ++n) {
        fs.put("out", Bytes(5, 'o'));
        size_t files = fs.fileCount();
        fs.setFaults({n, 0, false, 0});
        Status status = extractVersion(fs, kArchive, 1, "out");
        fs.setFaults({});
        ASSERT_TRUE(fs.get("out", &out));
        if (status != kOk) {
            EXPECT_EQ(status, kTargetUnwritable);
            EXPECT_EQ(out, Bytes(5, 'o'));
            EXPECT_EQ(fs.fileCount(), files);
        }
    }
}

TEST(Archive, ReservationExcludesOtherHolders) {
    MemoryFiles fs;
    ASSERT_EQ(create(fs, Bytes(10, 'a')), kOk);
    auto first = fs.open(kArchive, OpenMode::ReadWrite);
    auto second = fs.open(kArchive, OpenMode::ReadWrite);
    ASSERT_TRUE(first->tryLock());
    EXPECT_FALSE(second->tryLock());
    first.reset();
    EXPECT_TRUE(second->tryLock()) << "closing gives the reservation back";
}

}  // namespace

namespace {

TEST(Reservations, AForgottenReservationIsGivenBack) {
    MemoryFiles fs;
    ASSERT_EQ(create(fs, Bytes(10, 'a')), kOk);
    Reservations reservations(std::chrono::milliseconds(50));
    // A thread reserves and goes away without updating or giving it back.
    std::thread([&] { EXPECT_EQ(reservations.reserve(fs, kArchive), kOk); }).join();
    auto other = fs.open(kArchive, OpenMode::ReadWrite);
    EXPECT_FALSE(other->tryLock());
    EXPECT_EQ(reservations.update(fs, kArchive, [](File&) { return kOk; }), kReserved);
    std::this_thread::sleep_for(std::chrono::milliseconds(80));
    EXPECT_EQ(reservations.update(fs, kArchive, [](File&) { return kOk; }), kOk);
    EXPECT_TRUE(other->tryLock());
}

}  // namespace

namespace {

TEST(Archive, LargeCompressedVersionsTravelInFrames) {
    MemoryFiles fs;
    std::mt19937 rng(12);
    // Text and noise, so some chunks shrink and some are kept raw.
    Bytes first = textLike(rng, 9 << 20);
    Bytes noise = randomBytes(rng, 5 << 20);
    std::copy(noise.begin(), noise.end(), first.begin() + (2 << 20));
    Bytes second = edited(rng, first, 5);
    ASSERT_EQ(create(fs, first, 100, true), kOk);
    ASSERT_EQ(add(fs, second), kOk);
    ArchiveState state;
    Contents actual;
    ASSERT_EQ(readAll(fs, &actual, &state), kOk);
    EXPECT_EQ(actual, (Contents{{1, first}, {2, second}}));
    EXPECT_EQ(state.findNode(state.versions[0].node)->codec, ContentNode::Indexed);
    // Deleting the base keeps it hidden for the delta that needs it.
    ASSERT_EQ(change(fs, [](File& f) { return deleteVersion(f, 1); }), kOk);
    ASSERT_EQ(readAll(fs, &actual), kOk);
    EXPECT_EQ(actual, (Contents{{2, second}}));
}

}  // namespace

namespace {

TEST(Archive, LoweringTheLimitOfALongHistoryPrunesInOneGo) {
    MemoryFiles fs;
    std::mt19937 rng(21);
    Bytes content = textLike(rng, 2000);
    ASSERT_EQ(create(fs, content, 32767, true), kOk);
    Contents expected;
    for (uint32_t v = 2; v <= 1200; ++v) {
        content[rng() % content.size()] ^= 0x20;
        bool permanent = v % 400 == 0;
        ASSERT_EQ(add(fs, content, permanent), kOk);
        if (permanent || v == 1199) expected[v] = content;  // 1199 is the newest temporary one
    }
    auto start = std::chrono::steady_clock::now();
    ASSERT_EQ(change(fs, [](File& f) { return setMaxTemporary(f, 1); }), kOk);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
    Contents actual;
    ArchiveState state;
    ASSERT_EQ(readAll(fs, &actual, &state), kOk);
    EXPECT_EQ(actual, expected);
    // Only the nodes the remaining versions need are left.
    EXPECT_LE(state.nodes.size(), 2 * state.versions.size());
}

}  // namespace
