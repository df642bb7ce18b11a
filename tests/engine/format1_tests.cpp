// Archives of the first format, as the first-generation engine wrote them:
// every version reads back byte for byte, and the next update turns the
// archive into the current format without losing one.
#include "archive_helpers.h"
#include "forge.h"
#include "format1_fixtures.h"

#include <fstream>
#include <iterator>

using namespace kseng;
using namespace kseng::testing;

namespace {

Bytes fixture(const char* name) {
    std::ifstream in(std::string(KSENG_TEST_DATA) + "/" + name, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

struct FirstFormatArchive {
    const char* file;
    Contents expected;
    uint32_t counter;
    uint32_t maxTemporary;
    bool compressed;
};

std::vector<FirstFormatArchive> archives() {
    auto stored = format1StoredVersions();
    auto compressed = format1CompressedVersions();
    return {
        {"format1-stored.ks", {{3, stored[2]}, {4, stored[3]}, {5, stored[4]}, {6, stored[5]}}, 7, 50, false},
        {"format1-compressed.ks", {{1, compressed[0]}, {3, compressed[2]}, {4, compressed[3]}}, 5, 10, true},
    };
}

TEST(FirstFormat, EveryVersionReadsAsItWasSaved) {
    for (const FirstFormatArchive& a : archives()) {
        MemoryFiles fs;
        Bytes bytes = fixture(a.file);
        ASSERT_FALSE(bytes.empty()) << a.file;
        fs.put(kArchive, bytes);
        Contents actual;
        ArchiveState state;
        ASSERT_EQ(readAll(fs, &actual, &state), kOk) << a.file;
        EXPECT_EQ(actual, a.expected) << a.file;
        EXPECT_EQ(state.versionCounter, a.counter) << a.file;
        EXPECT_EQ(state.maxTemporary, a.maxTemporary) << a.file;
        EXPECT_EQ(state.compressed, a.compressed) << a.file;
        EXPECT_EQ(state.formatVersion, kFirstFormat) << a.file;
        VerifyReport report;
        EXPECT_EQ(verifyArchive(fs, kArchive, &report), kOk) << a.file;
    }
    // What the records say: user, comment, flag and time as saved.
    MemoryFiles fs;
    fs.put(kArchive, fixture("format1-stored.ks"));
    ArchiveState state;
    ASSERT_EQ(readState(fs, kArchive, &state), kOk);
    const VersionEntry& third = state.versions[0];
    EXPECT_EQ(third.number, 3);
    EXPECT_TRUE(third.permanent);
    EXPECT_EQ(third.user, "fixture");
    EXPECT_EQ(third.comment, "v3");
    EXPECT_EQ(third.dosTime, 0x5A210002u);
    EXPECT_FALSE(state.versions[1].permanent);
}

// Each kind of update upgrades the archive; all versions stay, and the
// archive goes on taking versions and numbers where it left off.
TEST(FirstFormat, TheNextUpdateUpgradesWithoutLosingAVersion) {
    std::mt19937 rng(9);
    const std::function<Status(MemoryFiles&, Contents*)> updates[] = {
        [](MemoryFiles& fs, Contents* c) {
            Bytes next = c->rbegin()->second;
            next.insert(next.begin(), 40, 'u');
            uint32_t number = c->rbegin()->first + 1;
            (*c)[number] = next;
            return add(fs, next);
        },
        [](MemoryFiles& fs, Contents* c) {
            uint32_t number = c->begin()->first;
            c->erase(number);
            return change(fs, [number](File& f) { return deleteVersion(f, number); });
        },
        [](MemoryFiles& fs, Contents* c) {
            uint32_t number = c->rbegin()->first;
            return change(fs, [number](File& f) { return setPermanent(f, number, true); });
        },
        [](MemoryFiles& fs, Contents*) { return change(fs, [](File& f) { return setMaxTemporary(f, 7); }); },
    };
    for (const FirstFormatArchive& a : archives()) {
        for (size_t u = 0; u < sizeof updates / sizeof *updates; ++u) {
            std::string what = std::string(a.file) + " update " + std::to_string(u);
            MemoryFiles fs;
            fs.put(kArchive, fixture(a.file));
            Contents expected = a.expected;
            ASSERT_EQ(updates[u](fs, &expected), kOk) << what;
            Contents actual;
            ArchiveState state;
            ASSERT_EQ(readAll(fs, &actual, &state), kOk) << what;
            EXPECT_EQ(actual, expected) << what;
            EXPECT_EQ(state.formatVersion, kFormatVersion) << what;
            // A second update writes the other slot: no first-format header is left.
            Bytes next = edited(rng, expected.rbegin()->second, 2);
            ASSERT_EQ(add(fs, next), kOk) << what;
            expected[state.versionCounter] = next;
            ASSERT_EQ(readAll(fs, &actual, &state), kOk) << what;
            EXPECT_EQ(actual, expected) << what;
            Bytes bytes;
            fs.get(kArchive, &bytes);
            for (uint64_t at : {kSlotOffset[0], kSlotOffset[1], kMirrorOffset[0], kMirrorOffset[1]}) {
                Header h;
                EXPECT_EQ(decodeHeader(bytes.data() + at, &h), SlotRead::Valid) << what << " copy at " << at;
                EXPECT_EQ(h.formatVersion, kFormatVersion) << what << " copy at " << at;
            }
            VerifyReport report;
            EXPECT_EQ(verifyArchive(fs, kArchive, &report), kOk) << what;
        }
    }
}

TEST(FirstFormat, ADamagedNewestDirectoryIsDamageNotTheStateBefore) {
    Bytes bytes = fixture("format1-stored.ks");
    Header h = newestHeader(bytes);
    ASSERT_EQ(h.formatVersion, kFirstFormat);
    bytes[h.directoryOffset + 9] ^= 0x10;
    MemoryFiles fs;
    fs.put(kArchive, bytes);
    ArchiveState state;
    EXPECT_EQ(readState(fs, kArchive, &state), kCorrupt);
    EXPECT_EQ(add(fs, Bytes(10, 'x')), kCorrupt);
}

}  // namespace
