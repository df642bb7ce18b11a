// Long random sequences of every kind of update, checked against a model
// after each step: every version byte for byte, the numbers and flags, and
// no two live blocks sharing a byte.
#include "archive_helpers.h"
#include "forge.h"
#include "test_data.h"

#include <algorithm>

using namespace kseng;
using namespace kseng::testing;

namespace {

struct Model {
    std::map<uint32_t, Bytes> contents;
    std::map<uint32_t, bool> permanent;
    uint32_t counter = 1;
    uint32_t limit;

    void prune() {
        size_t temporary = std::count_if(permanent.begin(), permanent.end(), [](const auto& p) { return !p.second; });
        for (auto it = permanent.begin(); temporary > limit && it != permanent.end();) {
            if (it->second) {
                ++it;
                continue;
            }
            contents.erase(it->first);
            it = permanent.erase(it);
            --temporary;
        }
    }
    void add(const Bytes& content, bool isPermanent) {
        contents[counter] = content;
        permanent[counter] = isPermanent;
        ++counter;
        prune();
    }
};

// Live extents of the archive's state: blocks, directory, signature.
void expectNoOverlap(const Bytes& archive, const std::string& where) {
    ArchiveState state = decodeNewest(archive);
    std::vector<Extent> live;
    collectExtents(state, &live);
    live.erase(std::remove_if(live.begin(), live.end(), [](const Extent& e) { return e.length == 0; }), live.end());
    std::sort(live.begin(), live.end());
    for (size_t i = 1; i < live.size(); ++i)
        ASSERT_LE(live[i - 1].offset + live[i - 1].length, live[i].offset) << where << ": live blocks overlap";
    for (const Extent& e : live) ASSERT_LE(e.offset + e.length, archive.size()) << where;
}

void expectMatches(MemoryFiles& fs, const Model& model, const std::string& where) {
    Contents actual;
    ArchiveState state;
    ASSERT_EQ(readAll(fs, &actual, &state), kOk) << where;
    ASSERT_EQ(actual.size(), model.contents.size()) << where;
    for (const auto& entry : model.contents) ASSERT_TRUE(actual[entry.first] == entry.second) << where << ": version " << entry.first;
    for (const VersionEntry& v : state.versions) ASSERT_EQ(v.permanent, model.permanent.at(v.number)) << where;
    ASSERT_EQ(state.versionCounter, model.counter) << where;
    ASSERT_EQ(state.maxTemporary, model.limit) << where;
    Bytes archive;
    fs.get(kArchive, &archive);
    expectNoOverlap(archive, where);
}

// Content for the next version: mostly small edits of the newest, sometimes
// a large change, an unrelated file, a truncation or an empty file.
Bytes nextContent(std::mt19937& rng, const Bytes& newest) {
    switch (rng() % 12) {
    case 0: return randomBytes(rng, 1000 + rng() % 60000);
    case 1: return Bytes();
    case 2: return Bytes(newest.begin(), newest.begin() + static_cast<std::ptrdiff_t>(newest.size() / 2));
    case 3: {
        Bytes grown = newest;
        Bytes more = textLike(rng, 50000 + rng() % 100000);
        grown.insert(grown.begin() + static_cast<std::ptrdiff_t>(rng() % (grown.size() + 1)), more.begin(), more.end());
        return grown;
    }
    default: return edited(rng, newest.empty() ? textLike(rng, 20000) : newest, 1 + static_cast<int>(rng() % 6));
    }
}

void runSequence(unsigned seed, bool compress, int steps) {
    std::mt19937 rng(seed);
    MemoryFiles fs;
    Model model;
    model.limit = 3 + rng() % 8;
    Bytes content = textLike(rng, 30000 + rng() % 200000);
    ASSERT_EQ(create(fs, content, model.limit, compress), kOk);
    model.add(content, false);
    for (int step = 0; step < steps; ++step) {
        std::string where = "seed " + std::to_string(seed) + " step " + std::to_string(step);
        Bytes newest = model.contents.empty() ? Bytes() : model.contents.rbegin()->second;
        uint32_t op = rng() % 10;
        if (op < 5 || model.contents.empty()) {
            bool isPermanent = rng() % 5 == 0;
            Bytes next = nextContent(rng, newest);
            // Comments of every length make directory entries of every size.
            std::string comment(rng() % 129, static_cast<char>('a' + rng() % 26));
            fs.put(kCopy, next);
            auto file = fs.open(kArchive, OpenMode::ReadWrite);
            VersionMeta m = meta(isPermanent, comment);
            ASSERT_EQ(addVersion(*file, kCopy, fs, m), kOk) << where;
            model.add(next, isPermanent);
        } else if (op < 7) {
            auto it = model.contents.begin();
            std::advance(it, rng() % model.contents.size());
            uint32_t number = it->first;
            ASSERT_EQ(change(fs, [number](File& f) { return deleteVersion(f, number); }), kOk) << where;
            model.contents.erase(number);
            model.permanent.erase(number);
        } else if (op < 9) {
            auto it = model.permanent.begin();
            std::advance(it, rng() % model.permanent.size());
            uint32_t number = it->first;
            bool flag = !it->second;
            ASSERT_EQ(change(fs, [number, flag](File& f) { return setPermanent(f, number, flag); }), kOk) << where;
            it->second = flag;
        } else {
            uint32_t limit = 1 + rng() % 10;
            ASSERT_EQ(change(fs, [limit](File& f) { return setMaxTemporary(f, limit); }), kOk) << where;
            model.limit = limit;
            model.prune();
        }
        expectMatches(fs, model, where);
        if (::testing::Test::HasFatalFailure()) return;
    }
    VerifyReport report;
    EXPECT_EQ(verifyArchive(fs, kArchive, &report), kOk);
}

class SequenceTest : public ::testing::TestWithParam<bool> {};

TEST_P(SequenceTest, LongRandomHistoriesStayExact) {
    for (unsigned seed : {1u, 2u, 3u}) {
        runSequence(seed, GetParam(), 120);
        if (::testing::Test::HasFatalFailure()) return;
    }
}

INSTANTIATE_TEST_SUITE_P(StoredAndCompressed, SequenceTest, ::testing::Bool());

}  // namespace
