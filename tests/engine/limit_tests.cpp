// Every limit of the engine, tried at the limit and one past it: version
// numbers, node ids, the limit of temporary versions, texts and paths.
#include "archive_helpers.h"
#include "content.h"
#include "forge.h"
#include "kseng32.h"
#include "test_data.h"

#include <cstdlib>
#include <fstream>
#include <unistd.h>

using namespace kseng;
using namespace kseng::testing;

namespace {

// An archive whose counters were moved on to the given values, as if that
// many versions had been saved and deleted.
void createWithCounters(MemoryFiles& fs, uint32_t versionCounter, uint32_t nextNode) {
    ASSERT_EQ(create(fs, Bytes(100, 'a')), kOk);
    Bytes archive;
    fs.get(kArchive, &archive);
    fs.put(kArchive, forgeState(archive, [&](ArchiveState& s) {
        s.versionCounter = versionCounter;
        s.nextNode = nextNode;
    }));
    ArchiveState state;
    ASSERT_EQ(readState(fs, kArchive, &state), kOk);
}

TEST(Limits, VersionNumbersEndAt65535) {
    MemoryFiles fs;
    createWithCounters(fs, 65535, 2);
    ASSERT_EQ(add(fs, Bytes(100, 'b')), kOk) << "the last number is given";
    ArchiveState state;
    ASSERT_EQ(readState(fs, kArchive, &state), kOk);
    EXPECT_EQ(state.versions.back().number, 65535);
    EXPECT_EQ(state.versionCounter, 65536u);
    EXPECT_EQ(add(fs, Bytes(100, 'c')), kNumbersExhausted) << "and none after it";
    // Everything else still works on an archive whose numbers are used up.
    EXPECT_EQ(change(fs, [](File& f) { return setPermanent(f, 65535, true); }), kOk);
    EXPECT_EQ(change(fs, [](File& f) { return deleteVersion(f, 1); }), kOk);
    Contents actual;
    ASSERT_EQ(readAll(fs, &actual), kOk);
    EXPECT_EQ(actual, (Contents{{65535, Bytes(100, 'b')}}));
}

TEST(Limits, NodeIdsEndBeforeTheyCouldWrap) {
    MemoryFiles fs;
    createWithCounters(fs, 2, kNodeIdLimit - 1);
    ASSERT_EQ(add(fs, Bytes(100, 'b')), kOk);
    EXPECT_EQ(add(fs, Bytes(100, 'c')), kNumbersExhausted);
    Contents actual;
    ASSERT_EQ(readAll(fs, &actual), kOk);
    EXPECT_EQ(actual.size(), 2u);
}

TEST(Limits, ChainsEndAtTheirDepth) {
    // A delta per 4 KiB of content, 16 at least, 1,000 at most.
    EXPECT_EQ(maxChainDepth(0), 16u);
    EXPECT_EQ(maxChainDepth(4096 * 16), 16u);
    EXPECT_EQ(maxChainDepth(4096 * 17), 17u);
    EXPECT_EQ(maxChainDepth(4096 * kMaxChainDepth), kMaxChainDepth);
    EXPECT_EQ(maxChainDepth(4096 * (kMaxChainDepth + 1)), kMaxChainDepth);
    EXPECT_EQ(maxChainDepth(uint64_t(1) << 40), kMaxChainDepth);
    MemoryFiles fs;
    std::mt19937 rng(3);
    Bytes content = textLike(rng, 3000);
    ASSERT_EQ(create(fs, content, 32767), kOk);
    const size_t depth = maxChainDepth(content.size());
    for (size_t v = 2; v <= depth + 2; ++v) {
        content[rng() % content.size()] ^= 0x20;
        ASSERT_EQ(add(fs, content), kOk) << v;
    }
    ArchiveState state;
    ASSERT_EQ(readState(fs, kArchive, &state), kOk);
    auto depthOf = [&](size_t number) { return measureChain(state, state.findVersion(uint32_t(number))->node).depth; };
    EXPECT_EQ(depthOf(depth + 1), depth) << "the last delta the chain takes";
    EXPECT_EQ(depthOf(depth + 2), 0u) << "the next version starts a new base";
}

// Deltas may take as much room as their base (64 KiB at least) before the
// next version starts a new base.
TEST(Limits, ChainsEndWhenTheirDeltasOutweighTheirBase) {
    MemoryFiles fs;
    std::mt19937 rng(5);
    Bytes content = randomBytes(rng, 100000);
    ASSERT_EQ(create(fs, content), kOk);  // stored: the base takes 100,000 bytes
    std::vector<size_t> depths;
    for (int v = 2; v <= 6; ++v) {
        Bytes more = randomBytes(rng, 30000);
        content.insert(content.begin() + static_cast<std::ptrdiff_t>(content.size() / 2), more.begin(), more.end());
        ASSERT_EQ(add(fs, content), kOk);
        ArchiveState state;
        ASSERT_EQ(readState(fs, kArchive, &state), kOk);
        depths.push_back(measureChain(state, state.versions.back().node).depth);
    }
    // 30,000, 60,000 and 90,000 bytes of deltas fit beside the base; 120,000 do not.
    EXPECT_EQ(depths, (std::vector<size_t>{1, 2, 3, 0, 1}));
}

TEST(Limits, TheLimitOfTemporaryVersionsIsOneTo32767) {
    MemoryFiles fs;
    ASSERT_EQ(create(fs, Bytes(10, 'a')), kOk);
    for (uint32_t count : {kMinTemporaryLimit, kMaxTemporaryLimit}) {
        ASSERT_EQ(change(fs, [count](File& f) { return setMaxTemporary(f, count); }), kOk) << count;
        ArchiveState state;
        ASSERT_EQ(readState(fs, kArchive, &state), kOk);
        EXPECT_EQ(state.maxTemporary, count);
    }
    EXPECT_EQ(change(fs, [](File& f) { return setMaxTemporary(f, kMinTemporaryLimit - 1); }), kBadArgument);
    EXPECT_EQ(change(fs, [](File& f) { return setMaxTemporary(f, kMaxTemporaryLimit + 1); }), kBadArgument);
    // Creation takes the nearest allowed limit instead.
    for (uint32_t asked : {0u, 32768u}) {
        MemoryFiles other;
        ASSERT_EQ(create(other, Bytes(10, 'a'), asked), kOk);
        ArchiveState state;
        ASSERT_EQ(readState(other, kArchive, &state), kOk);
        EXPECT_EQ(state.maxTemporary, asked ? kMaxTemporaryLimit : kMinTemporaryLimit);
    }
}

TEST(Limits, CommentsKeep128BytesAndUserNames66) {
    for (size_t extra : {0u, 1u}) {
        MemoryFiles fs;
        fs.put(kCopy, Bytes(10, 'x'));
        VersionMeta m = meta(false, std::string(kMaxComment + extra, 'c'));
        m.user = std::string(kMaxUser + extra, 'u');
        ASSERT_EQ(createArchive(fs, kArchive, kCopy, m, 10, false), kOk);
        ArchiveState state;
        ASSERT_EQ(readState(fs, kArchive, &state), kOk);
        EXPECT_EQ(state.versions[0].comment, std::string(kMaxComment, 'c'));
        EXPECT_EQ(state.versions[0].user, std::string(kMaxUser, 'u'));
    }
    EXPECT_EQ(boundedText(std::string(kMaxComment + 1, 'c').c_str(), kMaxComment).size(), kMaxComment);
}

// MemoryFiles, but for one file that claims a size it cannot back: its
// reads fail.
class ClaimedSize final : public FileSystem {
public:
    ClaimedSize(MemoryFiles& inner, std::string path, uint64_t size) : inner_(inner), path_(std::move(path)), size_(size) {}
    std::unique_ptr<File> open(const std::string& path, OpenMode mode, OpenError* error = nullptr) override {
        if (path != path_) return inner_.open(path, mode, error);
        if (error) *error = OpenError::None;
        return std::make_unique<Claimed>(size_);
    }
    bool publish(const std::string& temp, const std::string& final) override { return inner_.publish(temp, final); }
    bool replace(const std::string& temp, const std::string& final) override { return inner_.replace(temp, final); }
    bool remove(const std::string& path) override { return inner_.remove(path); }
    std::string scratchNameBeside(const std::string& path) override { return inner_.scratchNameBeside(path); }

private:
    struct Claimed final : File {
        explicit Claimed(uint64_t size) : size_(size) {}
        bool readAt(uint64_t, void*, size_t) override { return false; }
        bool writeAt(uint64_t, const void*, size_t) override { return false; }
        bool flush() override { return false; }
        bool size(uint64_t* out) override { *out = size_; return true; }
        bool truncate(uint64_t) override { return false; }
        bool tryLock() override { return false; }
        void unlock() override {}
        uint64_t size_;
    };
    MemoryFiles& inner_;
    std::string path_;
    uint64_t size_;
};

TEST(Limits, FilesUpToTheLargestThisBuildTakes) {
    for (uint64_t size : {kMaxContentSize, kMaxContentSize + 1}) {
        bool over = size > kMaxContentSize;
        MemoryFiles memory;
        ASSERT_EQ(create(memory, Bytes(10, 'a')), kOk);
        Bytes before;
        memory.get(kArchive, &before);
        ClaimedSize fs(memory, "huge", size);
        // Past the limit the file is refused before anything is read; at the
        // limit it is taken, and here its first read fails.
        std::unique_ptr<File> archive = fs.open(kArchive, OpenMode::ReadWrite);
        EXPECT_EQ(addVersion(*archive, "huge", fs, meta()), over ? kTooLarge : kSourceUnreadable) << size;
        archive.reset();
        EXPECT_EQ(createArchive(fs, "dir/other.ks", "huge", meta(), 10, true), over ? kTooLarge : kSourceUnreadable);
        EXPECT_EQ(compareWorking(fs, "huge", kArchive), over ? -kTooLarge : 1) << "differs from the 10-byte version";
        Bytes after;
        memory.get(kArchive, &after);
        Contents contents;
        ASSERT_EQ(readAll(memory, &contents), kOk);
        EXPECT_EQ(contents, (Contents{{1, Bytes(10, 'a')}}));
        EXPECT_FALSE(memory.exists("dir/other.ks"));
        EXPECT_EQ(memory.fileCount(), 2u) << "no scratch file left behind";
    }
}

// A version saved by a build that takes larger files than this one: this
// build lists it with the others and reads every other; only that version is
// refused, as too large, never the archive as damaged.
TEST(Limits, AVersionLargerThanThisBuildTakesLeavesTheOthersReadable) {
    MemoryFiles fs;
    std::mt19937 rng(8);
    Bytes first = textLike(rng, 20000), third = randomBytes(rng, 5000);
    ASSERT_EQ(create(fs, first, 100, true), kOk);
    ASSERT_EQ(add(fs, edited(rng, first, 2)), kOk);  // a delta on the first
    ASSERT_EQ(add(fs, third), kOk);                  // a base of its own
    Bytes archive;
    fs.get(kArchive, &archive);
    fs.put(kArchive, forgeState(archive, [](ArchiveState& s) {
        uint32_t node = s.versions[1].node;
        s.versions[1].size = kMaxContentSize + 1;
        for (ContentNode& n : s.nodes)
            if (n.id == node) n.contentSize = kMaxContentSize + 1;
    }));
    ArchiveState state;
    ASSERT_EQ(readState(fs, kArchive, &state), kOk);
    ASSERT_EQ(state.versions.size(), 3u);
    EXPECT_EQ(state.versions[1].size, kMaxContentSize + 1);
    Bytes content;
    EXPECT_EQ(readVersion(fs, kArchive, 1, &content), kOk);
    EXPECT_EQ(content, first);
    EXPECT_EQ(readVersion(fs, kArchive, 3, &content), kOk);
    EXPECT_EQ(content, third);
    EXPECT_EQ(readVersion(fs, kArchive, 2, &content), kTooLarge);
    EXPECT_EQ(extractVersion(fs, kArchive, 2, "out"), kTooLarge);
    EXPECT_FALSE(fs.exists("out"));
    fs.put("work", third);
    EXPECT_EQ(compareWorking(fs, "work", kArchive), 0);
    // The archive takes more versions and deletes as before.
    ASSERT_EQ(add(fs, edited(rng, third, 1)), kOk);
    ASSERT_EQ(change(fs, [](File& f) { return deleteVersion(f, 1); }), kOk);
    ASSERT_EQ(readState(fs, kArchive, &state), kOk);
    EXPECT_EQ(state.versions.size(), 3u);
}

TEST(Limits, PathsUpTo259Characters) {
    char pattern[] = "/tmp/kseng-limit-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    std::string folder = pattern;
    EngineTag tag = {};
    for (size_t total : {size_t(259), size_t(260)}) {
        std::string name(total - folder.size() - 1, 'n');
        int status = EngineLock("work", name.c_str(), folder.c_str(), folder.c_str(), "user", 1, 0, &tag);
        EXPECT_EQ(status, total < 260 ? kNoArchive : kBadArgument) << total;
        ArchiveDirectory directory;
        EngineDirHandle handle;
        status = EngineReadDirectory((folder + "/" + name).c_str(), &directory, &handle);
        EXPECT_EQ(status, total < 260 ? kNoArchive : kBadArgument) << total;
    }
    std::system(("rm -rf " + folder).c_str());
}

}  // namespace
