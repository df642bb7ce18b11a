// Frames packed and unpacked: the LZ form and zlib give back every kind of
// content exactly, never expand a frame, and refuse any damaged stream
// without reading or writing outside their buffers.
#include "codec.h"
#include "test_data.h"

#include <gtest/gtest.h>

using namespace kseng;
using namespace kseng::testing;

namespace {

std::vector<Bytes> samples() {
    std::mt19937 rng(13);
    std::vector<Bytes> out = {{}, Bytes(1, 'a'), Bytes(12, 'b'), Bytes(kFrameSize, 0), textLike(rng, kFrameSize),
                              randomBytes(rng, 100000), textLike(rng, 777)};
    // Repeats at every short distance, where copies overlap what they write.
    for (size_t distance = 1; distance <= 20; ++distance) {
        Bytes pattern = randomBytes(rng, distance), repeated;
        while (repeated.size() < 5000 + distance) repeated.insert(repeated.end(), pattern.begin(), pattern.end());
        out.push_back(repeated);
    }
    // Text with noise in it: literal runs of every length between matches.
    Bytes mixed = textLike(rng, 300000);
    for (size_t at = 0; at + 300 < mixed.size(); at += 1000 + rng() % 3000) {
        Bytes noise = randomBytes(rng, rng() % 300);
        std::copy(noise.begin(), noise.end(), mixed.begin() + static_cast<std::ptrdiff_t>(at));
    }
    out.push_back(mixed);
    return out;
}

TEST(Codec, EveryFrameComesBackExactly) {
    for (const Bytes& sample : samples()) {
        for (FrameCodec method : {FrameCodec::Lz, FrameCodec::Zlib}) {
            Bytes packed;
            FrameCodec used = packFrame(sample.data(), sample.size(), method, 9, &packed);
            if (used == FrameCodec::Raw) {
                EXPECT_TRUE(packed.empty());
                continue;
            }
            EXPECT_EQ(used, method);
            EXPECT_LT(packed.size(), sample.size()) << "packed only when smaller";
            Bytes back(sample.size());
            ASSERT_TRUE(unpackFrame(used, packed.data(), packed.size(), back.data(), back.size())) << sample.size();
            EXPECT_EQ(back, sample);
        }
        // The LZ form alone, also where it does not shrink.
        Bytes lz = lzPack(sample.data(), sample.size());
        Bytes back(sample.size());
        ASSERT_TRUE(lzUnpack(lz.data(), lz.size(), back.data(), back.size()));
        EXPECT_EQ(back, sample);
    }
    std::mt19937 rng(1);
    Bytes text = textLike(rng, kFrameSize), packed;
    ASSERT_EQ(packFrame(text.data(), text.size(), FrameCodec::Lz, 0, &packed), FrameCodec::Lz);
    EXPECT_LT(packed.size(), text.size() / 2) << "text shrinks";
}

TEST(Codec, DamagedLzStreamsAreRefused) {
    std::mt19937 rng(2);
    Bytes text = textLike(rng, 20000);
    Bytes packed = lzPack(text.data(), text.size());
    Bytes out(text.size());
    // Every cut, and every single changed byte, fails or gives other bytes —
    // never a read or write outside the buffers (the sanitizers watch).
    for (size_t cut = 0; cut < packed.size(); cut += 1 + cut / 8)
        EXPECT_FALSE(lzUnpack(packed.data(), cut, out.data(), out.size())) << "cut at " << cut;
    for (size_t at = 0; at < packed.size(); at += 1 + at / 16) {
        Bytes damaged = packed;
        damaged[at] ^= static_cast<uint8_t>(1 + rng() % 255);
        lzUnpack(damaged.data(), damaged.size(), out.data(), out.size());
    }
    const Bytes bad[] = {
        {0x14, 'a', 0, 0},         // distance 0
        {0x14, 'a', 2, 0},         // distance before the start
        {0xF0},                    // a literal count that never ends
        {0x30, 'a', 'b'},          // fewer literals than the token says
        {0x1F, 'a', 1, 0, 255},    // a match length that never ends
    };
    for (const Bytes& b : bad) EXPECT_FALSE(lzUnpack(b.data(), b.size(), out.data(), 100));
    Bytes one{0x10, 'a'};
    EXPECT_FALSE(lzUnpack(one.data(), one.size(), out.data(), 2)) << "less than promised";
    Bytes run{0x1F, 'a', 1, 0, 10, 0x00};  // 'a', then 29 more: 30 bytes
    EXPECT_TRUE(lzUnpack(run.data(), run.size(), out.data(), 30));
    EXPECT_EQ(Bytes(out.begin(), out.begin() + 30), Bytes(30, 'a'));
    EXPECT_FALSE(lzUnpack(run.data(), run.size(), out.data(), 29)) << "more than room";
}

}  // namespace
