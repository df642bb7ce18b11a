// Deltas and plans: whatever the edit, the operations found rebuild the
// target byte for byte, alone or composed through a chain; malformed deltas
// of either format are refused.
#include "delta.h"
#include "hash.h"
#include "signature.h"
#include "test_data.h"

#include <gtest/gtest.h>

using namespace kseng;
using namespace kseng::testing;

namespace {

// A delta as the engine keeps it: operations, and the literals beside them.
struct Delta : DeltaSink {
    OpsWriter ops;
    Bytes literals;
    void copy(uint64_t offset, uint64_t length) override { ops.copy(offset, length); }
    void add(const uint8_t* p, size_t n) override {
        ops.add(n);
        literals.insert(literals.end(), p, p + n);
    }
};

Delta deltaOf(const Bytes& source, const Bytes& target) {
    Delta d;
    encodeDelta(source.data(), source.size(), target.data(), target.size(), d);
    return d;
}

// The content a plan stands for: source 0 is base, source s > 0 the
// literals of literals[s - 1].
Bytes materialize(const Plan& plan, const Bytes& base, const std::vector<Bytes>& literals) {
    Bytes out;
    for (const Plan::Piece& piece : plan.pieces()) {
        const Bytes& from = piece.source == 0 ? base : literals[piece.source - 1];
        out.insert(out.end(), from.begin() + static_cast<std::ptrdiff_t>(piece.offset),
                   from.begin() + static_cast<std::ptrdiff_t>(piece.offset + piece.length));
    }
    return out;
}

Bytes applyOne(const Bytes& source, Delta d, size_t* pieces = nullptr) {
    Bytes encoded = d.ops.finish(source.size());
    std::vector<DeltaOp> ops;
    EXPECT_TRUE(parseOps(encoded.data(), encoded.size(), source.size(), d.ops.targetSize(), d.literals.size(), &ops));
    Plan plan;
    EXPECT_TRUE(Plan::identity(source.size()).apply(ops, d.ops.targetSize(), 1, SIZE_MAX, &plan));
    if (pieces) *pieces = plan.pieces().size();
    return materialize(plan, source, {d.literals});
}

TEST(Delta, RebuildsTargetForEveryKindOfPair) {
    std::mt19937 rng(7);
    Bytes text = textLike(rng, 200000), noise = randomBytes(rng, 100000);
    Bytes oneByte = text;
    oneByte[1000] ^= 1;
    struct Pair { Bytes source, target; } pairs[] = {
        {text, edited(rng, text, 5)},
        {noise, edited(rng, noise, 5)},
        {text, text},
        {text, {}},
        {{}, text},
        {Bytes(10, 'a'), Bytes(12, 'a')},
        {text, noise},
        {Bytes(100000, 0), Bytes(150000, 0)},
        {text, oneByte},
    };
    for (const Pair& pair : pairs) EXPECT_EQ(applyOne(pair.source, deltaOf(pair.source, pair.target)), pair.target);
}

TEST(Delta, SmallEditsGiveSmallDeltas) {
    std::mt19937 rng(11);
    for (Bytes base : {textLike(rng, 1 << 20), randomBytes(rng, 1 << 20)}) {
        Bytes next = edited(rng, base, 5);
        Delta d = deltaOf(base, next);
        EXPECT_LE(d.literals.size(), 5u * 100 + 64);
        EXPECT_LT(d.ops.finish(base.size()).size(), 80u);
    }
    // A single changed byte costs that byte: the copies on both sides are
    // not joined over it.
    Bytes base = textLike(rng, 50000), next = base;
    next[20000] ^= 0x55;
    Delta d = deltaOf(base, next);
    EXPECT_EQ(d.literals.size(), 1u);
    size_t pieces;
    EXPECT_EQ(applyOne(base, d, &pieces), next);
    EXPECT_EQ(pieces, 3u);
}

TEST(Delta, OperationsJoinAndStepBothWays) {
    OpsWriter w;
    w.copy(1000, 10);
    w.copy(1010, 5);  // continues the copy before
    w.add(3);
    w.add(4);
    w.copy(10, 20);   // a step back
    Bytes encoded = w.finish(2000);
    std::vector<DeltaOp> ops;
    ASSERT_TRUE(parseOps(encoded.data(), encoded.size(), 2000, 42, 7, &ops));
    ASSERT_EQ(ops.size(), 3u);
    EXPECT_TRUE(ops[0].copy);
    EXPECT_EQ(ops[0].offset, 1000u);
    EXPECT_EQ(ops[0].length, 15u);
    EXPECT_FALSE(ops[1].copy);
    EXPECT_EQ(ops[1].length, 7u);
    EXPECT_EQ(ops[2].offset, 10u);
    EXPECT_EQ(w.literalBytes(), 7u);
}

TEST(Delta, ChainComposesIntoOnePlanOverTheBase) {
    std::mt19937 rng(3);
    std::vector<Bytes> versions{textLike(rng, 50000)};
    for (int i = 0; i < 30; ++i) versions.push_back(edited(rng, versions.back(), 4));
    Plan plan = Plan::identity(versions[0].size());
    std::vector<Bytes> literals;
    for (size_t i = 1; i < versions.size(); ++i) {
        Delta d = deltaOf(versions[i - 1], versions[i]);
        Bytes encoded = d.ops.finish(versions[i - 1].size());
        std::vector<DeltaOp> ops;
        ASSERT_TRUE(parseOps(encoded.data(), encoded.size(), plan.size(), versions[i].size(), d.literals.size(), &ops));
        literals.push_back(d.literals);
        ASSERT_TRUE(plan.apply(ops, versions[i].size(), static_cast<uint32_t>(i), SIZE_MAX, &plan));
        ASSERT_EQ(materialize(plan, versions[0], literals), versions[i]) << "version " << i;
    }
    // A plan beyond its allowance of pieces is refused, not grown.
    Delta d = deltaOf(versions[0], versions[1]);
    Bytes encoded = d.ops.finish(versions[0].size());
    std::vector<DeltaOp> ops;
    ASSERT_TRUE(parseOps(encoded.data(), encoded.size(), versions[0].size(), versions[1].size(), d.literals.size(), &ops));
    Plan out;
    EXPECT_FALSE(plan.apply(ops, versions[1].size(), 99, 2, &out));
}

TEST(Delta, MalformedDeltasAreRefused) {
    std::vector<DeltaOp> ops;
    const struct {
        Bytes encoded;
        uint64_t literals;
        const char* what;
    } bad[] = {
        {{}, 0, "no sizes"},
        {{100}, 0, "no target size"},
        {{99, 10, 21, 0}, 0, "wrong source size"},
        {{100, 11, 21, 0}, 0, "wrong target size"},
        {{100, 10, 21, 190, 1}, 0, "copy beyond the source"},
        {{100, 10, 20}, 5, "adds more than the literals"},
        {{100, 10, 10, 11, 0}, 6, "adds fewer than the literals"},
        {{100, 10, 6}, 3, "target shorter than promised"},
        {{100, 10, 0}, 0, "an operation of no length"},
        {{100, 0x80}, 0, "unterminated varint"},
    };
    for (const auto& b : bad) EXPECT_FALSE(parseOps(b.encoded.data(), b.encoded.size(), 100, 10, b.literals, &ops)) << b.what;
    Bytes good{100, 10, 10, 11, 0};  // ADD 5, COPY 5 from 0
    EXPECT_TRUE(parseOps(good.data(), good.size(), 100, 10, 5, &ops));

    // The first format: literals inline, absolute copy offsets.
    auto first = [&](const Bytes& raw, uint64_t target) {
        return parseFirstFormatOps(
            [&](uint64_t offset, uint8_t* out, size_t length) {
                if (offset > raw.size() || length > raw.size() - offset) return false;
                std::copy(raw.begin() + static_cast<std::ptrdiff_t>(offset),
                          raw.begin() + static_cast<std::ptrdiff_t>(offset + length), out);
                return true;
            },
            raw.size(), 100, target, &ops);
    };
    EXPECT_TRUE(first({100, 5, 6, 'a', 'b', 'c', 5, 0}, 5));  // ADD "abc", COPY 2 from 0
    EXPECT_EQ(ops[0].offset, 3u) << "where the literal starts";
    EXPECT_FALSE(first({100, 5, 6, 'a', 'b'}, 5)) << "literal longer than what follows";
    EXPECT_FALSE(first({100, 5, 5, 99}, 5)) << "copy beyond the source";
    EXPECT_FALSE(first({100, 5, 6, 'a', 'b', 'c'}, 5)) << "target shorter than promised";
}

TEST(Signature, CutsFollowTheContentNotItsPosition) {
    std::mt19937 rng(5);
    Bytes content = randomBytes(rng, 2 << 20);
    ChunkSizes sizes = chunkSizesFor(content.size());
    auto cuts = [&](const Bytes& b, size_t from) {
        std::vector<size_t> out;
        for (size_t at = from; at < b.size();) {
            size_t cut = nextCut(b.data() + at, b.size() - at, true, sizes);
            EXPECT_GE(cut, std::min(sizes.min(), b.size() - at));
            EXPECT_LE(cut, sizes.max());
            at += cut;
            out.push_back(at);
        }
        return out;
    };
    std::vector<size_t> original = cuts(content, 0);
    EXPECT_GT(original.size(), content.size() / sizes.max());
    // 70 bytes inserted near the start: after the next cut or two, every cut
    // is the old one moved by 70.
    Bytes shifted = content;
    shifted.insert(shifted.begin() + 1000, 70, 'x');
    std::vector<size_t> moved = cuts(shifted, 0);
    size_t same = 0;
    for (size_t cut : original)
        if (std::binary_search(moved.begin(), moved.end(), cut + 70)) ++same;
    EXPECT_GE(same + 3, original.size());
    // A signature comes back as written, and a damaged one is refused.
    Signature s;
    s.shift = sizes.shift;
    s.node = 7;
    s.contentSize = content.size();
    s.contentHash = hash64(content.data(), content.size());
    size_t at = 0;
    for (size_t cut : original) {
        s.entries.push_back(SignatureEntry{static_cast<uint32_t>(cut - at), hash64(content.data() + at, cut - at)});
        at = cut;
    }
    Bytes encoded = encodeSignature(s);
    EXPECT_EQ(encoded.size(), encodedSignatureSize(s.entries.size()));
    Signature back;
    ASSERT_TRUE(decodeSignature(encoded, &back));
    EXPECT_EQ(back.entries.size(), s.entries.size());
    SignatureIndex index(back);
    EXPECT_EQ(index.find(s.entries[3].hash, s.entries[3].length), 3u);
    EXPECT_EQ(index.offset(3), original[2]);
    EXPECT_EQ(index.find(s.entries[3].hash, s.entries[3].length + 1), SIZE_MAX);
    encoded[40] ^= 1;
    EXPECT_FALSE(decodeSignature(encoded, &back));
}

TEST(Hash, StreamingEqualsOneShotAndKnownValues) {
    EXPECT_EQ(hash64("", 0), 0xEF46DB3751D8E999ull);
    std::mt19937 rng(1);
    Bytes data = randomBytes(rng, 5000);
    for (size_t length : {0u, 1u, 31u, 32u, 33u, 100u, 4999u, 5000u}) {
        for (size_t piece : {1u, 7u, 32u, 1000u}) {
            Hasher h;
            for (size_t at = 0; at < length; at += piece) h.update(data.data() + at, std::min(piece, length - at));
            EXPECT_EQ(h.digest(), hash64(data.data(), length)) << length << " in pieces of " << piece;
        }
    }
}

}  // namespace
