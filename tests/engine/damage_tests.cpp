// Damaged archives: whatever is cut off or flipped, readers answer with a
// status or with the exact bytes of a version, never with wrong content, and
// never crash or ask for memory the file cannot justify.
#include "archive_helpers.h"
#include "forge.h"
#include "hash.h"
#include "test_data.h"

#include <algorithm>
#include <stdexcept>

using namespace kseng;
using namespace kseng::testing;

namespace {

Bytes sampleArchive(Contents* contents, bool compress) {
    std::mt19937 rng(5);
    MemoryFiles fs;
    Bytes content = textLike(rng, 6000);
    EXPECT_EQ(create(fs, content, 100, compress), kOk);
    for (int i = 0; i < 4; ++i) {
        content = edited(rng, content, 3);
        EXPECT_EQ(add(fs, content), kOk);
    }
    EXPECT_EQ(readAll(fs, contents), kOk);
    EXPECT_EQ(change(fs, [](File& f) { return deleteVersion(f, 2); }), kOk);
    Bytes archive;
    fs.get(kArchive, &archive);
    return archive;
}

// Reads everything back; every version that reads must be exactly right.
// truth holds every version ever saved.
void expectHonest(const Bytes& archive, const Contents& truth, const std::string& what) {
    MemoryFiles fs;
    fs.put(kArchive, archive);
    ArchiveState state;
    Status status = readState(fs, kArchive, &state);
    if (status != kOk) {
        EXPECT_TRUE(status == kCorrupt || status == kNewerFormat) << what << ": status " << status;
        return;
    }
    for (const VersionEntry& v : state.versions) {
        Bytes content;
        Status read = readVersion(fs, kArchive, v.number, &content);
        if (read == kOk) {
            auto it = truth.find(v.number);
            ASSERT_NE(it, truth.end()) << what;
            EXPECT_EQ(content, it->second) << what << ": version " << v.number;
        }
    }
    fs.put("work", truth.rbegin()->second);
    int compared = compareWorking(fs, "work", kArchive);
    EXPECT_TRUE(compared >= 0 || compared == -kCorrupt) << what;
}

class DamageTest : public ::testing::TestWithParam<bool> {};

TEST_P(DamageTest, TruncationAtAnyLength) {
    Contents truth;
    Bytes archive = sampleArchive(&truth, GetParam());
    for (size_t length = 0; length < archive.size(); length += 1 + length / 64)
        expectHonest(Bytes(archive.begin(), archive.begin() + static_cast<std::ptrdiff_t>(length)), truth,
                     "cut at " + std::to_string(length));
}

TEST_P(DamageTest, BitFlipsAnywhere) {
    Contents truth;
    Bytes archive = sampleArchive(&truth, GetParam());
    std::mt19937 rng(8);
    for (int i = 0; i < 600; ++i) {
        Bytes damaged = archive;
        size_t at = i < 128 ? static_cast<size_t>(i) : rng() % damaged.size();
        damaged[at] ^= static_cast<uint8_t>(1u << (rng() % 8));
        expectHonest(damaged, truth, "flip at " + std::to_string(at));
    }
}

INSTANTIATE_TEST_SUITE_P(StoredAndCompressed, DamageTest, ::testing::Bool());

Bytes threeVersions(MemoryFiles& fs) {
    EXPECT_EQ(create(fs, Bytes(500, 'a')), kOk);
    EXPECT_EQ(add(fs, Bytes(600, 'b')), kOk);
    EXPECT_EQ(add(fs, Bytes(700, 'c')), kOk);
    Bytes archive;
    fs.get(kArchive, &archive);
    return archive;
}

const Contents kThree{{1, Bytes(500, 'a')}, {2, Bytes(600, 'b')}, {3, Bytes(700, 'c')}};

TEST(Damage, AnOverwrittenHeaderIsReadFromItsOtherCopy) {
    for (size_t overwritten : {size_t(100), size_t(4096), size_t(4096 + 100), size_t(2048 + 64)}) {
        for (size_t start : {size_t(0), size_t(4096 - 2048)}) {
            MemoryFiles fs;
            Bytes archive = threeVersions(fs);
            std::fill(archive.begin() + static_cast<std::ptrdiff_t>(start),
                      archive.begin() + static_cast<std::ptrdiff_t>(std::min(start + overwritten, size_t(8192))), 0xEE);
            fs.put(kArchive, archive);
            std::string what = std::to_string(overwritten) + " bytes from " + std::to_string(start);
            Contents actual;
            ArchiveState state;
            Status status = readAll(fs, &actual, &state);
            if (status == kCorrupt) {
                // Only when both copies of one slot are gone.
                EXPECT_GT(overwritten + start, size_t(4096)) << what;
                EXPECT_EQ(add(fs, Bytes(800, 'd')), kCorrupt) << what;
                continue;
            }
            ASSERT_EQ(status, kOk) << what;
            EXPECT_EQ(actual, kThree) << what << ": nothing rolled back";
            ASSERT_EQ(add(fs, Bytes(800, 'd')), kOk) << what;
            ASSERT_EQ(readAll(fs, &actual, &state), kOk);
            EXPECT_EQ(state.versions.back().number, 4) << what << ": no number taken twice";
        }
    }
}

TEST(Damage, ASlotWithNoCopyLeftIsDamageNotAnOlderState) {
    for (int slot = 0; slot < 2; ++slot) {
        MemoryFiles fs;
        Bytes archive = threeVersions(fs);
        for (uint64_t at : {kSlotOffset[slot], kMirrorOffset[slot]}) archive[at + 20] ^= 0x40;
        fs.put(kArchive, archive);
        ArchiveState state;
        EXPECT_EQ(readState(fs, kArchive, &state), kCorrupt) << "slot " << slot;
        EXPECT_EQ(add(fs, Bytes(800, 'd')), kCorrupt) << "slot " << slot;
        VerifyReport report;
        EXPECT_EQ(verifyArchive(fs, kArchive, &report), kCorrupt);
        EXPECT_EQ(report.damagedHeaderCopies, 2);
        EXPECT_FALSE(report.directoryRead);
    }
}

TEST(Damage, ADamagedNewestDirectoryIsReportedNeverRolledBack) {
    MemoryFiles fs;
    Bytes archive = threeVersions(fs);
    Header h = newestHeader(archive);
    archive[h.directoryOffset + h.directoryLength / 2] ^= 0x01;
    fs.put(kArchive, archive);
    ArchiveState state;
    EXPECT_EQ(readState(fs, kArchive, &state), kCorrupt);
    EXPECT_EQ(add(fs, Bytes(800, 'd')), kCorrupt);
    Bytes unchanged;
    fs.get(kArchive, &unchanged);
    EXPECT_EQ(unchanged, archive) << "a refused save never touches the file";
}

TEST(Damage, VerificationNamesTheDamagedVersions) {
    MemoryFiles fs;
    std::mt19937 rng(3);
    Bytes content = textLike(rng, 5000);
    ASSERT_EQ(create(fs, content), kOk);
    ASSERT_EQ(add(fs, randomBytes(rng, 3000)), kOk);  // a base of its own
    ASSERT_EQ(add(fs, edited(rng, content, 2)), kOk);
    VerifyReport report;
    ASSERT_EQ(verifyArchive(fs, kArchive, &report), kOk);
    EXPECT_EQ(report.versionCount, 3u);
    EXPECT_TRUE(report.damaged.empty());

    // A byte of version 2's block, its hash forged to match: only 2 is damaged.
    Bytes archive;
    fs.get(kArchive, &archive);
    ArchiveState state = decodeNewest(archive);
    uint32_t node = state.findVersion(2)->node;
    fs.put(kArchive, forgeBlock(archive, node, [](Bytes& stored) { stored[10] ^= 0x20; }));
    EXPECT_EQ(verifyArchive(fs, kArchive, &report), kCorrupt);
    EXPECT_EQ(report.damaged, std::vector<uint16_t>{2});
    Bytes read;
    EXPECT_EQ(readVersion(fs, kArchive, 2, &read), kCorrupt);
    EXPECT_EQ(readVersion(fs, kArchive, 3, &read), kOk);

    // One damaged header copy: everything still reads; verification says so.
    fs.put(kArchive, archive);
    archive[kSlotOffset[0] + 3] ^= 0x08;
    fs.put(kArchive, archive);
    EXPECT_EQ(verifyArchive(fs, kArchive, &report), kOk);
    EXPECT_EQ(report.damagedHeaderCopies, 1);
}

TEST(Damage, ThingsThatAreNoArchive) {
    std::mt19937 rng(1);
    const Bytes inputs[] = {{}, Bytes(100, 'x'), Bytes(20000, 0), randomBytes(rng, 20000)};
    for (const Bytes& input : inputs) {
        MemoryFiles fs;
        fs.put(kArchive, input);
        ArchiveState state;
        EXPECT_EQ(readState(fs, kArchive, &state), kCorrupt);
        EXPECT_EQ(add(fs, Bytes(10, 'a')), kCorrupt);
        Bytes unchanged;
        fs.get(kArchive, &unchanged);
        EXPECT_EQ(unchanged, input) << "a failed save never touches the file";
    }
}

// Four versions: a base, two deltas on it, and a second base.
Bytes forgeryBase(bool compress, uint64_t* fileSize) {
    MemoryFiles fs;
    std::mt19937 rng(17);
    Bytes text = textLike(rng, 8000);
    EXPECT_EQ(create(fs, text, 100, compress), kOk);
    text = edited(rng, text, 2);
    EXPECT_EQ(add(fs, text), kOk);
    EXPECT_EQ(add(fs, edited(rng, text, 2)), kOk);
    EXPECT_EQ(add(fs, randomBytes(rng, 3000)), kOk);
    Bytes archive;
    fs.get(kArchive, &archive);
    *fileSize = archive.size();
    return archive;
}

ContentNode& nodeOf(ArchiveState& s, uint32_t number) {
    uint32_t id = s.findVersion(number)->node;
    for (ContentNode& n : s.nodes)
        if (n.id == id) return n;
    throw std::logic_error("no node");
}

TEST(Damage, ForgedDirectoriesWithRightChecksumsAreRefused) {
    using Edit = std::function<void(ArchiveState&, uint64_t fileSize)>;
    struct Forgery {
        const char* what;
        bool compressed;
        Edit edit;
    };
    const Forgery forgeries[] = {
        {"version of a missing node", false, [](ArchiveState& s, uint64_t) { s.versions[1].node = s.nextNode - 1 + 100; s.nextNode += 200; }},
        {"version size not its node's", false, [](ArchiveState& s, uint64_t) { s.versions[2].size += 1; }},
        {"numbers not ascending", false, [](ArchiveState& s, uint64_t) { std::swap(s.versions[0].number, s.versions[1].number); }},
        {"number not below the counter", false, [](ArchiveState& s, uint64_t) { s.versionCounter = s.versions.back().number; }},
        {"counter past 65536", false, [](ArchiveState& s, uint64_t) { s.versionCounter = 65537; }},
        {"counter 0", false, [](ArchiveState& s, uint64_t) { s.versions.clear(); s.versionCounter = 0; }},
        {"limit 0", false, [](ArchiveState& s, uint64_t) { s.maxTemporary = 0; }},
        {"limit 32768", false, [](ArchiveState& s, uint64_t) { s.maxTemporary = 32768; }},
        {"node id not below the next", false, [](ArchiveState& s, uint64_t) { s.nextNode = s.nodes.back().id; }},
        {"next node id past the limit", false, [](ArchiveState& s, uint64_t) { s.nextNode = kNodeIdLimit + 1; }},
        {"two versions of one node", false, [](ArchiveState& s, uint64_t) {
             s.versions[1].node = s.versions[0].node;
             s.versions[1].size = s.versions[0].size;
         }},
        {"node id 0", false, [](ArchiveState& s, uint64_t) {
             s.versions.back().node = 0;
             s.nodes.back().id = 0;
         }},
        {"two nodes of one id", false, [](ArchiveState& s, uint64_t) {
             s.nodes.back().id = s.nodes[0].id;
             s.versions.back().node = s.nodes[0].id;
         }},
        {"block past the end", false, [](ArchiveState& s, uint64_t size) { nodeOf(s, 2).offset = size - 2; }},
        {"block in the header sectors", false, [](ArchiveState& s, uint64_t) { nodeOf(s, 2).offset = 100; }},
        {"stored block of another raw length", false, [](ArchiveState& s, uint64_t) { nodeOf(s, 2).rawLength += 1; }},
        {"zlib block beyond zlib's ratio", true, [](ArchiveState& s, uint64_t) {
             ContentNode& n = nodeOf(s, 1);
             n.rawLength = n.storedLength * 1032 + 65;
             n.contentSize = n.rawLength;
             s.versions[0].size = n.rawLength;
         }},
        {"unknown codec", false, [](ArchiveState& s, uint64_t) { nodeOf(s, 2).codec = 7; }},
        {"unknown kind", false, [](ArchiveState& s, uint64_t) { nodeOf(s, 2).kind = 3; }},
        {"unknown layout", false, [](ArchiveState& s, uint64_t) { nodeOf(s, 2).layout = 9; }},
        {"literals past the block's end", false, [](ArchiveState& s, uint64_t) {
             nodeOf(s, 2).literalLength = nodeOf(s, 2).rawLength + 1;
         }},
        {"literals in a full node", false, [](ArchiveState& s, uint64_t) { nodeOf(s, 4).literalLength = 1; }},
        {"a first-format node with literals", false, [](ArchiveState& s, uint64_t) {
             nodeOf(s, 2).layout = ContentNode::FirstLayout;
             nodeOf(s, 2).literalLength = 1;
         }},
        {"full node with a parent", false, [](ArchiveState& s, uint64_t) { nodeOf(s, 4).parent = nodeOf(s, 1).id; }},
        {"full node of another size", false, [](ArchiveState& s, uint64_t) {
             nodeOf(s, 4).contentSize += 1;
             s.versions[3].size += 1;
         }},
        {"delta on a missing node", false, [](ArchiveState& s, uint64_t) { nodeOf(s, 2).parent = s.nextNode + 3; }},
        {"delta on itself", false, [](ArchiveState& s, uint64_t) { nodeOf(s, 2).parent = nodeOf(s, 2).id; }},
        {"deltas on each other", false, [](ArchiveState& s, uint64_t) {
             ContentNode& second = nodeOf(s, 2);
             uint32_t secondId = second.id;
             second.parent = nodeOf(s, 3).id;
             nodeOf(s, 3).parent = secondId;
         }},
        {"overlapping blocks", false, [](ArchiveState& s, uint64_t) { nodeOf(s, 3).offset = nodeOf(s, 2).offset + 1; }},
        {"blocks sharing one byte", false, [](ArchiveState& s, uint64_t) {
             nodeOf(s, 3).offset = nodeOf(s, 2).offset + nodeOf(s, 2).storedLength - 1;
         }},
        {"signature past the end", false, [](ArchiveState& s, uint64_t size) {
             s.signatureOffset = size;
             s.signatureCapacity = 4096;
         }},
    };
    for (const Forgery& f : forgeries) {
        uint64_t fileSize;
        Bytes archive = forgeryBase(f.compressed, &fileSize);
        MemoryFiles fs;
        fs.put(kArchive, forgeState(archive, [&](ArchiveState& s) { f.edit(s, fileSize); }));
        ArchiveState state;
        EXPECT_EQ(readState(fs, kArchive, &state), kCorrupt) << f.what;
        EXPECT_EQ(add(fs, Bytes(10, 'n')), kCorrupt) << f.what;
        VerifyReport report;
        EXPECT_EQ(verifyArchive(fs, kArchive, &report), kCorrupt) << f.what;
    }
    // The forgery itself leaves a sound archive sound.
    for (bool compressed : {false, true}) {
        uint64_t fileSize;
        Bytes archive = forgeryBase(compressed, &fileSize);
        MemoryFiles fs, original;
        original.put(kArchive, archive);
        fs.put(kArchive, forgeState(archive, [](ArchiveState&) {}));
        Contents forged, expected;
        ASSERT_EQ(readAll(fs, &forged), kOk);
        ASSERT_EQ(readAll(original, &expected), kOk);
        EXPECT_EQ(forged, expected);
        EXPECT_EQ(add(fs, Bytes(10, 'n')), kOk);
    }
}

// The newest version's blocks read, but do not make the content its hash
// names: a save never builds on it without a word, and verification names it.
TEST(Damage, ASaveOnANewestVersionThatIsNotItsContentSaysDamaged) {
    uint64_t fileSize;
    Bytes archive = forgeState(forgeryBase(false, &fileSize), [](ArchiveState& s) { s.versions.back().contentHash ^= 1; });
    MemoryFiles fs;
    fs.put(kArchive, archive);
    EXPECT_EQ(add(fs, Bytes(3000, 'n')), kCorrupt);
    Bytes after;
    fs.get(kArchive, &after);
    EXPECT_EQ(after, archive) << "the refused save changed nothing";
    VerifyReport report;
    EXPECT_EQ(verifyArchive(fs, kArchive, &report), kCorrupt);
    ASSERT_EQ(report.damaged.size(), 1u);
    EXPECT_EQ(report.damaged[0], 4);
}

// Content that keeps every hash right but does not make the version it
// claims: whatever is wrong in a block, a reader says damaged.
TEST(Damage, ForgedBlocksWithRightChecksumsAreRefused) {
    for (bool compressed : {false, true}) {
        uint64_t fileSize;
        Bytes archive = forgeryBase(compressed, &fileSize);
        ArchiveState state = decodeNewest(archive);
        const std::function<void(Bytes&)> edits[] = {
            [](Bytes& b) { b[b.size() / 2] ^= 0x04; },
            [](Bytes& b) { b.resize(b.size() - 1); },
            [](Bytes& b) { b.push_back(0); },
            [](Bytes& b) { b.assign(b.size(), 0xFF); },
        };
        for (uint32_t number : {1u, 2u, 3u}) {
            for (size_t e = 0; e < sizeof edits / sizeof *edits; ++e) {
                std::string what = std::string(compressed ? "compressed" : "stored") + " version " +
                                   std::to_string(number) + " edit " + std::to_string(e);
                MemoryFiles fs;
                Bytes forged = forgeBlock(archive, state.findVersion(number)->node, edits[e]);
                fs.put(kArchive, forged);
                Status status;
                decodeNewest(forged, &status);
                if (status != kOk) continue;  // a changed length the directory check already refuses
                Bytes content;
                EXPECT_EQ(readVersion(fs, kArchive, number, &content), kCorrupt) << what;
                VerifyReport report;
                EXPECT_EQ(verifyArchive(fs, kArchive, &report), kCorrupt) << what;
                EXPECT_TRUE(std::count(report.damaged.begin(), report.damaged.end(), number)) << what;
                EXPECT_FALSE(std::count(report.damaged.begin(), report.damaged.end(), 4)) << what;
            }
        }
    }
}

TEST(Damage, ForgedHeadersAreRefusedBeforeAnyAllocation) {
    MemoryFiles fs;
    ASSERT_EQ(create(fs, Bytes(500, 'a')), kOk);
    Bytes archive;
    fs.get(kArchive, &archive);
    int slot;
    const Header real = newestHeader(archive, &slot);
    auto refused = [&](const Header& h, Status expected, const char* what) {
        Bytes forged = archive;
        forgeSlot(forged, slot, h);
        fs.put(kArchive, forged);
        ArchiveState state;
        EXPECT_EQ(readState(fs, kArchive, &state), expected) << what;
    };
    for (uint64_t huge : {uint64_t(1) << 40, ~uint64_t(0), uint64_t(archive.size())}) {
        Header h = real;
        h.directoryLength = huge;
        refused(h, kCorrupt, "directory length");
    }
    Header h = real;
    h.directoryOffset = 100;
    refused(h, kCorrupt, "directory inside the header sectors");
    h = real;
    h.sequence += 1;
    refused(h, kCorrupt, "a directory of another sequence");
    h = real;
    h.formatVersion = 0;
    refused(h, kCorrupt, "format 0");
    // A newer format is told apart from damage.
    h = real;
    h.formatVersion = kFormatVersion + 1;
    refused(h, kNewerFormat, "newer format");
    refused(real, kOk, "the real header, rewritten");
}

}  // namespace
