// The exported functions, called natively the way the shell extension calls
// them: argument lists, the reservation sequences of its operations, and the
// statuses it meets.
#include "clock.h"
#include "kseng32.h"
#include "status.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <thread>
#include <unistd.h>

using namespace kseng;

namespace {

class ApiTest : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/kseng-api-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir_ = pattern;
    }
    void TearDown() override { std::system(("rm -rf " + dir_).c_str()); }

    void write(const char* name, const std::string& text) {
        std::ofstream(dir_ + "/" + name, std::ios::binary) << text;
    }
    std::string read(const char* name) {
        std::ifstream in(dir_ + "/" + name, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    int createWith(const char* text, int permanent = 0, int maxTemporary = 10) {
        write("copy", text);
        return EngineCreateArchive("copy", "a.ks", d(), d(), "user", "", "", permanent, 0, 0, maxTemporary,
                                   maxTemporary, 0, 1, 0);
    }
    int save(const char* text, const char* comment = "c", int permanent = 0) {
        write("copy", text);
        int status = EngineLock("work", "a.ks", d(), d(), "user", 1, 0, &tag_);
        if (status != 0) return status;
        status = EngineAddVersion("copy", "a.ks", d(), d(), "user", comment, "", permanent, 0, 0, 0, 0, &tag_);
        if (status != 0) EngineLock("work", "a.ks", d(), d(), "user", 0, 0, &tag_);
        return status;
    }
    ArchiveDirectory directory() {
        ArchiveDirectory dir;
        std::memset(&dir, 0, sizeof dir);
        EngineDirHandle handle = nullptr;
        EXPECT_EQ(EngineReadDirectory((dir_ + "/a.ks").c_str(), &dir, &handle), 0);
        EngineCloseDirectory(handle);
        return dir;
    }
    const char* d() const { return dir_.c_str(); }

    std::string dir_;
    EngineTag tag_ = {};
};

TEST_F(ApiTest, SaveListRetrieveAndCompare) {
    ASSERT_EQ(createWith("first", 1), 0);
    ASSERT_EQ(save("second", "a comment"), 0);
    ArchiveDirectory dir = directory();
    ASSERT_EQ(dir.versionCount, 2);
    EXPECT_EQ(dir.versionCounter, 3);
    EXPECT_EQ(dir.compressed, 1);
    EXPECT_EQ(dir.records[0].number, 1);
    EXPECT_EQ(dir.records[0].permanent, 1);
    EXPECT_STREQ(dir.records[1].comment, "a comment");
    EXPECT_STREQ(dir.records[1].userName, "user");
    EXPECT_GE(dir.records[1].dosTime >> 25, 46u) << "a year after 2025";

    ASSERT_EQ(EngineExtractVersion("out", "a.ks", d(), d(), "user", "", 1, 2, 0, 1, &tag_), 0);
    EXPECT_EQ(read("out"), "first");
    write("work", "second");
    EXPECT_EQ(EngineCompareWorking("work", "a.ks", d(), d()), 0);
    write("work", "third");
    EXPECT_GT(EngineCompareWorking("work", "a.ks", d(), d()), 0);
    EXPECT_LT(EngineCompareWorking("none", "a.ks", d(), d()), 0);

    int32_t flag = -1;
    ASSERT_EQ(EngineIsPermanent("a.ks", d(), "", 1, &flag, &tag_), 0);
    EXPECT_EQ(flag, 1);
    int32_t count = 0;
    ASSERT_EQ(EngineGetMaxTemporary("a.ks", d(), &count, &tag_), 0);
    EXPECT_EQ(count, 10);
}

TEST_F(ApiTest, RecordsOutliveCloseUntilTheThreadReadsAgain) {
    ASSERT_EQ(createWith("one"), 0);
    ArchiveDirectory first = directory();
    EngineVersionRecord* records = first.records;
    EXPECT_EQ(records[0].number, 1);
    ASSERT_EQ(save("two"), 0);
    ArchiveDirectory second = directory();
    EXPECT_EQ(second.versionCount, 2);
    EXPECT_EQ(second.records[1].number, 2);
    // Another thread's read leaves this thread's records alone.
    std::thread([&] { directory(); }).join();
    EXPECT_EQ(second.records[1].number, 2);
}

TEST_F(ApiTest, ReservationSequencesOfTheShellExtension) {
    ASSERT_EQ(createWith("one", 1), 0);
    ASSERT_EQ(save("two"), 0);
    // Deleting a permanent version: reserve, reserve again inside the flag
    // change, clear the flag (which gives the reservation back), delete.
    ASSERT_EQ(EngineLock("work", "a.ks", d(), d(), "user", 1, 0, &tag_), 0);
    ASSERT_EQ(EngineLock("work", "a.ks", d(), d(), "user", 1, 0, &tag_), 0);
    ASSERT_EQ(EngineSetPermanent("a.ks", d(), "user", "", 1, 0, &tag_), 0);
    ASSERT_EQ(EngineDeleteVersion("a.ks", d(), "user", "", 1, 0, &tag_), 0);
    EXPECT_EQ(directory().versionCount, 1);

    // The limit: reserve, set; nothing stays reserved, also after a refusal.
    ASSERT_EQ(EngineLock("work", "a.ks", d(), d(), "user", 1, 0, &tag_), 0);
    EXPECT_EQ(EngineSetMaxTemporary("a.ks", d(), "user", 0, &tag_), kBadArgument);
    ASSERT_EQ(EngineLock("work", "a.ks", d(), d(), "user", 1, 0, &tag_), 0);
    EXPECT_EQ(EngineSetPermanent("a.ks", d(), "user", "", 99, 1, &tag_), kNoVersion);
    std::thread([&] { EXPECT_EQ(save("three"), 0) << "nothing left reserved"; }).join();
}

TEST_F(ApiTest, AnotherHolderIsRefusedAtOnce) {
    ASSERT_EQ(createWith("one"), 0);
    ASSERT_EQ(EngineLock("work", "a.ks", d(), d(), "user", 1, 0, &tag_), 0);
    std::thread([&] {
        EXPECT_EQ(EngineLock("work", "a.ks", d(), d(), "other", 1, 0, &tag_), kReserved);
        EXPECT_EQ(EngineDeleteVersion("a.ks", d(), "other", "", 1, 0, &tag_), kReserved);
        // Reading needs no reservation.
        EXPECT_EQ(directory().versionCount, 1);
    }).join();
    ASSERT_EQ(EngineLock("work", "a.ks", d(), d(), "user", 0, 0, &tag_), 0);
    std::thread([&] { EXPECT_EQ(save("two"), 0); }).join();
}

TEST_F(ApiTest, StatusesOfMissingDamagedAndBadInput) {
    EngineDirHandle handle;
    ArchiveDirectory dir;
    EXPECT_EQ(EngineReadDirectory((dir_ + "/a.ks").c_str(), &dir, &handle), kNoArchive);
    EXPECT_EQ(EngineLock("work", "a.ks", d(), d(), "user", 1, 0, &tag_), kNoArchive);
    EXPECT_EQ(EngineExtractVersion("out", "a.ks", d(), d(), "user", "", 1, 2, 0, 1, &tag_), kNoArchive);
    write("a.ks", std::string(9000, 'x'));
    EXPECT_EQ(EngineReadDirectory((dir_ + "/a.ks").c_str(), &dir, &handle), kCorrupt);
    EXPECT_EQ(save("two"), kCorrupt);
    EXPECT_EQ(EngineCompareWorking("a.ks", "a.ks", d(), d()), -kCorrupt);
    EXPECT_EQ(createWith("again"), kExists);
    EXPECT_EQ(read("a.ks"), std::string(9000, 'x'));

    EXPECT_EQ(EngineExtractVersion("a.ks", "a.ks", d(), d(), "user", "", 1, 2, 0, 1, &tag_), kBadArgument)
        << "never over its own archive";
    std::string longName(300, 'n');
    EXPECT_EQ(EngineLock("work", longName.c_str(), d(), d(), "user", 1, 0, &tag_), kBadArgument);
    EXPECT_EQ(EngineLock("work", nullptr, d(), d(), "user", 1, 0, &tag_), kBadArgument);
    EXPECT_EQ(EngineLock("work", "a.ks", d(), d(), "user", 7, 0, &tag_), kBadArgument);
    EXPECT_EQ(EngineReadDirectory(nullptr, &dir, &handle), kBadArgument);
    EXPECT_EQ(EngineGetMaxTemporary("a.ks", d(), nullptr, &tag_), kBadArgument);
}

constexpr uint32_t dos(int year, int month, int day, int hour, int minute, int second) {
    return uint32_t(year - 1980) << 25 | uint32_t(month) << 21 | uint32_t(day) << 16 | uint32_t(hour) << 11 |
           uint32_t(minute) << 5 | uint32_t(second / 2);
}

int64_t in2040() { return 2214131696; }  // 2040-02-29 12:34:56 UTC

TEST(Clock, DatesArePackedRightPast2038) {
    EXPECT_EQ(dosTimeFromUnix(951782400), dos(2000, 2, 29, 0, 0, 0));
    EXPECT_EQ(dosTimeFromUnix(2147483647), dos(2038, 1, 19, 3, 14, 7));
    EXPECT_EQ(dosTimeFromUnix(2147483648), dos(2038, 1, 19, 3, 14, 8));
    EXPECT_EQ(dosTimeFromUnix(in2040()), dos(2040, 2, 29, 12, 34, 56));
    EXPECT_EQ(dosTimeFromUnix(4354819199), dos(2107, 12, 31, 23, 59, 58)) << "the last time the packing holds";
    EXPECT_EQ(dosTimeFromUnix(4354819200), dos(2107, 12, 31, 23, 59, 58)) << "and after it";
    EXPECT_EQ(dosTimeFromUnix(315532800), dos(1980, 1, 1, 0, 0, 0));
    EXPECT_EQ(dosTimeFromUnix(315532799), dos(1980, 1, 1, 0, 0, 0)) << "before 1980";
    EXPECT_EQ(dosTimeFromUnix(-1), dos(1980, 1, 1, 0, 0, 0));
}

TEST_F(ApiTest, VersionsSavedAfter2038CarryTheirDate) {
    setClockSource(in2040);
    ASSERT_EQ(createWith("first"), 0);
    ASSERT_EQ(save("second"), 0);
    setClockSource(nullptr);
    ArchiveDirectory dir = directory();
    ASSERT_EQ(dir.versionCount, 2);
    EXPECT_EQ(dir.records[0].dosTime, dos(2040, 2, 29, 12, 34, 56));
    EXPECT_EQ(dir.records[1].dosTime, dos(2040, 2, 29, 12, 34, 56));
    ASSERT_EQ(save("third"), 0);
    EXPECT_LT(directory().records[2].dosTime, dos(2040, 1, 1, 0, 0, 0)) << "the system clock again";
}

TEST_F(ApiTest, VerificationThroughTheExport) {
    ASSERT_EQ(createWith("first"), 0);
    ASSERT_EQ(save("second"), 0);
    EngineVerifyResult result;
    std::memset(&result, 0xCC, sizeof result);
    result.structSize = sizeof result;
    ASSERT_EQ(EngineVerifyArchive("a.ks", d(), &result), 0);
    EXPECT_EQ(result.versionCount, 2);
    EXPECT_EQ(result.damagedCount, 0);
    EXPECT_EQ(result.damagedHeaderCopies, 0);
    EXPECT_EQ(result.damaged[0], 0);

    write("b.ks", std::string(9000, 'x'));
    result.structSize = sizeof result;
    EXPECT_EQ(EngineVerifyArchive("b.ks", d(), &result), kCorrupt);
    EXPECT_EQ(result.versionCount, -1) << "no directory to read";
    result.structSize = sizeof result;
    EXPECT_EQ(EngineVerifyArchive("none.ks", d(), &result), kNoArchive);
    result.structSize = sizeof result - 1;
    EXPECT_EQ(EngineVerifyArchive("a.ks", d(), &result), kBadArgument) << "a smaller record than ours";
    EXPECT_EQ(EngineVerifyArchive("a.ks", d(), nullptr), kBadArgument);
}

}  // namespace
