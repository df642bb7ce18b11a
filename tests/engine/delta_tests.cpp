// Deltas and plans: whatever the edit, rebuilding gives the target back byte
// for byte, alone or folded through a chain.
#include "delta.h"
#include "test_data.h"

#include <gtest/gtest.h>

using namespace kseng;
using namespace kseng::testing;

namespace {

Bytes applyOne(const Bytes& source, const Bytes& delta) {
    Plan plan;
    EXPECT_TRUE(Plan::identity(source.size()).apply(std::make_shared<Bytes>(delta), UINT64_MAX, &plan));
    Bytes out(plan.size());
    plan.materialize(source.data(), out.data());
    return out;
}

TEST(Delta, RebuildsTargetForEveryKindOfPair) {
    std::mt19937 rng(7);
    Bytes text = textLike(rng, 200000), noise = randomBytes(rng, 100000);
    struct Pair { Bytes source, target; } pairs[] = {
        {text, edited(rng, text, 5)},
        {noise, edited(rng, noise, 5)},
        {text, text},
        {text, {}},
        {{}, text},
        {Bytes(10, 'a'), Bytes(12, 'a')},
        {text, noise},
        {Bytes(100000, 0), Bytes(150000, 0)},
    };
    for (const Pair& pair : pairs) {
        Bytes delta = encodeDelta(pair.source.data(), pair.source.size(), pair.target.data(), pair.target.size());
        EXPECT_EQ(applyOne(pair.source, delta), pair.target);
    }
}

TEST(Delta, SmallEditsGiveSmallDeltas) {
    std::mt19937 rng(11);
    for (Bytes base : {textLike(rng, 1 << 20), randomBytes(rng, 1 << 20)}) {
        Bytes next = edited(rng, base, 5);
        Bytes delta = encodeDelta(base.data(), base.size(), next.data(), next.size());
        EXPECT_LT(delta.size(), 1200u);
        EXPECT_LE(deltaLiteralBytes(delta), 5u * 100 + 64);
    }
}

TEST(Delta, ChainFoldsIntoOneDeltaAgainstTheBase) {
    std::mt19937 rng(3);
    std::vector<Bytes> versions{textLike(rng, 50000)};
    for (int i = 0; i < 30; ++i) versions.push_back(edited(rng, versions.back(), 4));
    Plan plan = Plan::identity(versions[0].size());
    for (size_t i = 1; i < versions.size(); ++i) {
        auto delta = std::make_shared<Bytes>(
            encodeDelta(versions[i - 1].data(), versions[i - 1].size(), versions[i].data(), versions[i].size()));
        ASSERT_TRUE(plan.apply(delta, UINT64_MAX, &plan));
        Bytes rebuilt(plan.size());
        plan.materialize(versions[0].data(), rebuilt.data());
        ASSERT_EQ(rebuilt, versions[i]) << "version " << i;
        // The plan written back as one delta rebuilds the same version.
        EXPECT_EQ(applyOne(versions[0], plan.toDelta(versions[0].size())), versions[i]);
    }
}

TEST(Delta, MalformedDeltasAreRefused) {
    Bytes source(100, 'x');
    Plan plan, out;
    plan = Plan::identity(source.size());
    const Bytes bad[] = {
        {},                          // no sizes
        {100},                       // no target size
        {99, 10, 21, 0},             // wrong source size
        {100, 10, 21, 95},           // copy beyond the source
        {100, 10, 40},               // literal longer than what follows
        {100, 10, 6, 'a', 'b', 'c'}, // target shorter than promised
        {100, 2, 6, 'a', 'b', 'c'},  // target longer than promised
        {100, 0x80},                 // unterminated varint
    };
    for (const Bytes& delta : bad) EXPECT_FALSE(plan.apply(std::make_shared<Bytes>(delta), UINT64_MAX, &out));
    EXPECT_FALSE(plan.apply(std::make_shared<Bytes>(Bytes{100, 100, 201, 0}), 50, &out)) << "size limit";
}

}  // namespace
