// Every write, flush, truncate and rename of an update fails in turn, or the
// machine stops there and the power goes, keeping any subset of what was not
// yet flushed and half of the write it stopped in. After each, the archive
// must hold exactly the old or the new versions, byte for byte, and take the
// next save; after a successful update, a power cut must keep it.
#include "archive_helpers.h"
#include "test_data.h"

#include <functional>

using namespace kseng;
using namespace kseng::testing;

namespace {

struct Scenario {
    const char* name;
    uint32_t maxTemporary;
    int versions;
    std::function<Status(MemoryFiles&, Contents*)> run;  // applies the change, updates the expectation
};

Contents history(MemoryFiles& fs) {
    Contents all;
    EXPECT_EQ(readAll(fs, &all), kOk);
    return all;
}

// The keep-masks tried for a power cut that finds count changes unflushed:
// every subset when there are few, else the extremes, each one alone and a
// spread of others.
std::vector<uint64_t> keepMasks(size_t count, std::mt19937& rng) {
    std::vector<uint64_t> masks;
    if (count <= 6) {
        for (uint64_t m = 0; m < (uint64_t(1) << count); ++m) masks.push_back(m);
        return masks;
    }
    masks = {0, ~uint64_t(0)};
    for (size_t i = 0; i < count && i < 64; ++i) {
        masks.push_back(uint64_t(1) << i);
        masks.push_back(~(uint64_t(1) << i));
    }
    for (int i = 0; i < 16; ++i) masks.push_back(uint64_t(rng()) << 32 | rng());
    return masks;
}

void checkEveryFault(const Scenario& scenario, bool compress) {
    std::mt19937 rng(99);
    MemoryFiles fresh;
    Bytes content = textLike(rng, 20000);
    ASSERT_EQ(create(fresh, content, scenario.maxTemporary, compress), kOk);
    for (int i = 1; i < scenario.versions; ++i) {
        content = edited(rng, content, 5);
        ASSERT_EQ(add(fresh, content, i == 1), kOk);
    }
    const Contents before = history(fresh);

    MemoryFiles dry = fresh;
    Contents after = before;
    dry.setFaults({});
    ASSERT_EQ(scenario.run(dry, &after), kOk) << scenario.name;
    ASSERT_EQ(history(dry), after) << scenario.name << ": the change itself";
    if (std::string(scenario.name).find("long history") != std::string::npos) {
        ArchiveState state;
        ASSERT_EQ(readState(dry, kArchive, &state), kOk);
        ASSERT_GT(state.directoryChain.size(), 1u) << scenario.name << ": written as a record of changes";
    }
    const long events = dry.events();
    ASSERT_GT(events, 0);
    // Done means on disk: a power cut right after a successful update keeps it.
    for (uint64_t mask : keepMasks(dry.unflushedChanges(kArchive), rng)) {
        MemoryFiles cut = dry;
        cut.powerCut(mask);
        ASSERT_EQ(history(cut), after) << scenario.name << ": power cut after success, mask " << mask;
    }

    // Whatever happened, every version the archive lists is exact, and the
    // archive takes the next version.
    auto expectSound = [&](MemoryFiles& fs, const Contents& actual, const std::string& where) {
        Bytes next = edited(rng, content, 2);
        ASSERT_EQ(add(fs, next), kOk) << where;
        Contents later;
        ASSERT_EQ(readAll(fs, &later), kOk) << where;
        for (const auto& entry : actual)
            if (later.count(entry.first)) {
                EXPECT_EQ(later[entry.first], entry.second) << where;
            }
    };
    for (long n = 1; n <= events; ++n) {
        std::string at = std::string(scenario.name) + " event " + std::to_string(n);
        {
            MemoryFiles fs = fresh;
            fs.setFaults({n, 0, false, 0});
            Contents expected = before;
            Status status = scenario.run(fs, &expected);
            fs.setFaults({});
            Contents actual = history(fs);
            if (status != kOk) {
                EXPECT_EQ(actual, before) << at << " fails: a failed update changes nothing";
            } else {
                EXPECT_EQ(actual, after) << at << " fails";
            }
            expectSound(fs, actual, at + " fails");
        }
        // The machine stops at event n; then the power goes, and of the
        // changes not yet flushed any subset reaches the disk.
        MemoryFiles stopped = fresh;
        stopped.setFaults({0, n, false, 0});
        Contents expected = before;
        scenario.run(stopped, &expected);
        stopped.setFaults({});
        std::vector<uint64_t> masks = keepMasks(stopped.unflushedChanges(kArchive), rng);
        masks.push_back(~uint64_t(0));  // no power cut at all: everything written stays
        for (uint64_t mask : masks) {
            MemoryFiles fs = stopped;
            fs.powerCut(mask);
            std::string where = at + " stops, mask " + std::to_string(mask);
            Contents actual = history(fs);
            EXPECT_TRUE(actual == before || actual == after) << where;
            expectSound(fs, actual, where);
        }
    }
}

const Scenario kScenarios[] = {
    {"add", 100, 5,
     [](MemoryFiles& fs, Contents* c) {
         Bytes next = (*c)[5];
         next.insert(next.begin() + 100, 70, 'n');
         (*c)[6] = next;
         return add(fs, next);
     }},
    {"add that prunes", 3, 5,
     [](MemoryFiles& fs, Contents* c) {
         Bytes next((*c)[5].begin(), (*c)[5].end() - 90);
         (*c)[6] = next;
         c->erase(3);  // 1 went earlier, 2 is permanent
         return add(fs, next);
     }},
    {"delete in the middle", 100, 5,
     [](MemoryFiles& fs, Contents* c) {
         c->erase(3);
         return change(fs, [](File& f) { return deleteVersion(f, 3); });
     }},
    {"delete the base", 100, 5,
     [](MemoryFiles& fs, Contents* c) {
         c->erase(1);
         return change(fs, [](File& f) { return deleteVersion(f, 1); });
     }},
    {"lower the limit", 100, 6,
     [](MemoryFiles& fs, Contents* c) {
         c->erase(1);
         c->erase(3);
         c->erase(4);
         return change(fs, [](File& f) { return setMaxTemporary(f, 2); });
     }},
    {"mark permanent", 100, 3,
     [](MemoryFiles& fs, Contents*) { return change(fs, [](File& f) { return setPermanent(f, 3, true); }); }},
    // A large version: frames streamed at the end as they fill, given up as
    // a delta and written again as a base.
    {"add a large version", 100, 5,
     [](MemoryFiles& fs, Contents* c) {
         std::mt19937 rng(6);
         Bytes next = textLike(rng, (2 << 20) + 5000);
         (*c)[6] = next;
         return add(fs, next);
     }},
    // A long history: its directory is written as a record of changes.
    {"add to a long history", 300, 220,
     [](MemoryFiles& fs, Contents* c) {
         Bytes next = c->rbegin()->second;
         next[7] ^= 1;
         (*c)[221] = next;
         return add(fs, next);
     }},
    {"delete in a long history", 300, 220,
     [](MemoryFiles& fs, Contents* c) {
         c->erase(75);
         return change(fs, [](File& f) { return deleteVersion(f, 75); });
     }},
};

class FaultTest : public ::testing::TestWithParam<bool> {};

TEST_P(FaultTest, EveryUpdateSurvivesAFaultAtEveryStep) {
    for (const Scenario& scenario : kScenarios) checkEveryFault(scenario, GetParam());
}

TEST_P(FaultTest, CreationLeavesNothingOrAWholeArchive) {
    Bytes content(30000, 'c');
    MemoryFiles dry;
    dry.setFaults({});
    ASSERT_EQ(create(dry, content, 10, GetParam()), kOk);
    std::mt19937 rng(7);
    for (long n = 1; n <= dry.events(); ++n) {
        for (int mode = 0; mode < 2; ++mode) {
            MemoryFiles stopped;
            stopped.put(kCopy, content);
            stopped.setFaults({mode == 0 ? n : 0, mode == 1 ? n : 0, false, 0});
            Status status = createArchive(stopped, kArchive, kCopy, meta(), 10, GetParam());
            stopped.setFaults({});
            for (uint64_t mask : keepMasks(4, rng)) {
                MemoryFiles fs = stopped;
                fs.powerCut(mask);
                Contents actual;
                if (fs.exists(kArchive)) {
                    ASSERT_EQ(readAll(fs, &actual), kOk) << n << " " << mode << " " << mask;
                    EXPECT_EQ(actual, (Contents{{1, content}}));
                } else {
                    EXPECT_NE(status, kOk);
                }
                if (mode == 0) {
                    EXPECT_EQ(fs.fileCount(), status == kOk ? 2u : 1u) << "no scratch file left behind";
                }
            }
        }
    }
}

INSTANTIATE_TEST_SUITE_P(StoredAndCompressed, FaultTest, ::testing::Bool());

}  // namespace
