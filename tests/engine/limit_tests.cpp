// Every limit of the engine, tried at the limit and one past it: version
// numbers, node ids, the limit of temporary versions, texts and paths.
#include "archive_helpers.h"
#include "forge.h"
#include "kseng32.h"

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
