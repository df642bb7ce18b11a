// Every write, flush, truncate and rename of an update fails in turn, or the
// machine stops there (keeping or losing what was not yet flushed). After
// each, the archive must hold exactly the old or the new versions, byte for
// byte, and take the next save.
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
    const long events = dry.events();
    ASSERT_GT(events, 0);

    for (long n = 1; n <= events; ++n) {
        for (int mode = 0; mode < 3; ++mode) {
            MemoryFiles fs = fresh;
            MemoryFiles::Faults faults;
            if (mode == 0) faults.failAt = n;
            else faults.stopAt = n;
            faults.loseUnflushed = mode == 2;
            fs.setFaults(faults);
            Contents expected = before;
            Status status = scenario.run(fs, &expected);
            fs.setFaults({});
            Contents actual = history(fs);
            std::string where = std::string(scenario.name) + " event " + std::to_string(n) + " mode " +
                                std::to_string(mode);
            if (mode == 0 && status != kOk) {
                EXPECT_EQ(actual, before) << where << ": a failed update changes nothing";
            } else if (mode == 0) {
                EXPECT_EQ(actual, after) << where;
            } else {
                EXPECT_TRUE(actual == before || actual == after) << where;
            }
            // Whatever happened, the archive takes the next version.
            Bytes next = edited(rng, content, 2);
            ASSERT_EQ(add(fs, next), kOk) << where;
            Contents later;
            ASSERT_EQ(readAll(fs, &later), kOk) << where;
            for (const auto& entry : actual)
                if (later.count(entry.first)) {
                    EXPECT_EQ(later[entry.first], entry.second) << where;
                }
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
    for (long n = 1; n <= dry.events(); ++n) {
        for (int mode = 0; mode < 3; ++mode) {
            MemoryFiles fs;
            fs.put(kCopy, content);
            MemoryFiles::Faults faults;
            if (mode == 0) faults.failAt = n;
            else faults.stopAt = n;
            faults.loseUnflushed = mode == 2;
            fs.setFaults(faults);
            Status status = createArchive(fs, kArchive, kCopy, meta(), 10, GetParam());
            fs.setFaults({});
            Contents actual;
            if (fs.exists(kArchive)) {
                ASSERT_EQ(readAll(fs, &actual), kOk) << n << " " << mode;
                EXPECT_EQ(actual, (Contents{{1, content}}));
            } else {
                EXPECT_NE(status, kOk);
            }
        }
    }
}

INSTANTIATE_TEST_SUITE_P(StoredAndCompressed, FaultTest, ::testing::Bool());

}  // namespace
