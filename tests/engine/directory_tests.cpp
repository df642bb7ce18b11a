// Long histories: a directory too long to write whole at every change is
// kept as records of changes after the last whole one. Readers follow the
// records back and trust none that does not fit its place: a broken link,
// a record out of order, a change to something that is not there.
#include "archive_helpers.h"
#include "forge.h"
#include "test_data.h"

using namespace kseng;
using namespace kseng::testing;

namespace {

// An archive whose whole directory is long enough to be kept in records of
// changes: versions with long comments.
void longHistory(MemoryFiles& fs, int versions, Contents* contents = nullptr) {
    std::mt19937 rng(23);
    Bytes content = textLike(rng, 3000);
    ASSERT_EQ(create(fs, content, 32767), kOk);
    if (contents) (*contents)[1] = content;
    for (int v = 2; v <= versions; ++v) {
        content[rng() % content.size()] ^= 0x20;
        fs.put(kCopy, content);
        auto file = fs.open(kArchive, OpenMode::ReadWrite);
        ASSERT_EQ(addVersion(*file, kCopy, fs, meta(v % 5 == 0, std::string(100, char('a' + v % 26)))), kOk);
        if (contents) (*contents)[v] = content;
    }
}

TEST(Directory, ALongHistoryIsWrittenAsChangesAndReadWhole) {
    MemoryFiles fs;
    Contents expected;
    longHistory(fs, 150, &expected);
    size_t longestChain = 0, wholeAgain = 0, previousChain = 0;
    std::mt19937 rng(4);
    for (int step = 0; step < 200; ++step) {
        uint32_t number = expected.begin()->first + static_cast<uint32_t>(rng() % 40);
        if (step % 3 == 0 && expected.count(number)) {
            ASSERT_EQ(change(fs, [number](File& f) { return deleteVersion(f, number); }), kOk);
            expected.erase(number);
        } else if (step % 3 == 1 && expected.count(number)) {
            ASSERT_EQ(change(fs, [number](File& f) { return setPermanent(f, number, true); }), kOk);
        } else {
            Bytes next = expected.rbegin()->second;
            next[step % next.size()] ^= 1;
            uint32_t newNumber = 0;
            ArchiveState before;
            ASSERT_EQ(readState(fs, kArchive, &before), kOk);
            newNumber = before.versionCounter;
            ASSERT_EQ(add(fs, next), kOk);
            expected[newNumber] = next;
        }
        ArchiveState state;
        ASSERT_EQ(readState(fs, kArchive, &state), kOk) << step;
        ASSERT_LE(state.directoryChain.size(), kMostChangeRecords + 1);
        longestChain = std::max(longestChain, state.directoryChain.size());
        if (state.directoryChain.size() < previousChain) ++wholeAgain;
        previousChain = state.directoryChain.size();
    }
    EXPECT_GT(longestChain, 10u) << "records of changes were written";
    EXPECT_GT(wholeAgain, 0u) << "and a whole directory again when they grew many";
    Contents actual;
    ASSERT_EQ(readAll(fs, &actual), kOk);
    EXPECT_EQ(actual, expected);
    VerifyReport report;
    EXPECT_EQ(verifyArchive(fs, kArchive, &report), kOk);
}

TEST(Directory, RecordsOfChangesThatDoNotFitTheirPlaceAreDamage) {
    MemoryFiles fs;
    longHistory(fs, 120);
    Bytes archive;
    fs.get(kArchive, &archive);
    {
        // The well-formed record reads, with its change.
        MemoryFiles forged;
        forged.put(kArchive, forgeChanges(archive, [](DirectoryChanges&, ArchiveState&, ArchiveState&) {}));
        ArchiveState state;
        ASSERT_EQ(readState(forged, kArchive, &state), kOk);
        EXPECT_EQ(state.versions.back().comment, "changed by a record");
    }
    using Edit = std::function<void(DirectoryChanges&, ArchiveState&, ArchiveState&)>;
    const struct {
        const char* what;
        Edit edit;
    } broken[] = {
        {"a wrong hash of the record before", [](DirectoryChanges& l, ArchiveState&, ArchiveState&) { l.previousHash ^= 1; }},
        {"the record before in the header", [](DirectoryChanges& l, ArchiveState&, ArchiveState&) { l.previous.offset = 100; }},
        {"the record before past the end", [](DirectoryChanges& l, ArchiveState&, ArchiveState&) { l.previous.offset += 1u << 30; }},
        {"a depth that does not count down", [](DirectoryChanges& l, ArchiveState&, ArchiveState&) { l.depth += 1; }},
        {"a depth of 0", [](DirectoryChanges& l, ArchiveState&, ArchiveState&) { l.depth = 0; }},
        {"a version removed that is not there", [](DirectoryChanges&, ArchiveState& before, ArchiveState&) {
             VersionEntry ghost = before.versions.back();
             ghost.number = 60000;
             before.versions.push_back(ghost);
         }},
        {"a node removed that is not there", [](DirectoryChanges&, ArchiveState& before, ArchiveState&) {
             ContentNode ghost = before.nodes.back();
             ghost.id = 900000;
             before.nodes.push_back(ghost);
         }},
        {"a change that breaks a reference", [](DirectoryChanges&, ArchiveState&, ArchiveState& after) {
             after.versions.back().node = 999999;
         }},
    };
    // The longest chain of records is read; one more is not.
    Bytes chained = archive;
    for (size_t depth = decodeNewest(chained).directoryChain.size(); depth <= kMostChangeRecords; ++depth)
        chained = forgeChanges(chained, [](DirectoryChanges&, ArchiveState&, ArchiveState&) {});
    Status status;
    EXPECT_EQ(decodeNewest(chained, &status).directoryChain.size(), kMostChangeRecords + 1);
    EXPECT_EQ(status, kOk);
    chained = forgeChanges(chained, [](DirectoryChanges&, ArchiveState&, ArchiveState&) {});
    decodeNewest(chained, &status);
    EXPECT_EQ(status, kCorrupt) << "one record more than allowed";
    // A record no newer than the one it follows.
    Bytes stale = forgeChanges(forgeChanges(archive, [](DirectoryChanges&, ArchiveState&, ArchiveState&) {}),
                               [](DirectoryChanges&, ArchiveState&, ArchiveState&) {}, 0);
    decodeNewest(stale, &status);
    EXPECT_EQ(status, kCorrupt) << "a record with the sequence of the one before";
    for (const auto& b : broken) {
        MemoryFiles forged;
        forged.put(kArchive, forgeChanges(archive, b.edit));
        ArchiveState state;
        EXPECT_EQ(readState(forged, kArchive, &state), kCorrupt) << b.what;
        EXPECT_EQ(add(forged, Bytes(10, 'x')), kCorrupt) << b.what;
    }
}

}  // namespace
