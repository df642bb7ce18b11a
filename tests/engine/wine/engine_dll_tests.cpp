// kseng32.dll as the shell extension meets it: bound by ordinal through the
// import library, called with its argument lists, shared by several
// processes, and killed in the middle of a save.
#include "kseng32.h"

#include <windows.h>
#include <psapi.h>
#include <winioctl.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace {

constexpr int kReserved = 3, kNoArchive = 1, kCorrupt = 2, kNoVersion = 6, kBadArgument = 10;

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void writeFile(const std::string& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
}

// A process of engine_worker.exe whose output goes to a file.
class Worker {
public:
    Worker(const std::string& args, const std::string& outputPath) : outputPath_(outputPath) {
        SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
        output_ = CreateFileA(outputPath.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
        STARTUPINFOA startup = {};
        startup.cb = sizeof startup;
        startup.dwFlags = STARTF_USESTDHANDLES;
        startup.hStdOutput = output_;
        startup.hStdError = output_;
        std::string command = "engine_worker.exe " + args;
        started_ = CreateProcessA(nullptr, &command[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup,
                                  &process_) != 0;
    }
    ~Worker() {
        if (started_) {
            TerminateProcess(process_.hProcess, 1);
            WaitForSingleObject(process_.hProcess, 10000);
            CloseHandle(process_.hProcess);
            CloseHandle(process_.hThread);
        }
        if (output_ != INVALID_HANDLE_VALUE) CloseHandle(output_);
    }
    bool started() const { return started_; }
    bool wait(DWORD ms) { return WaitForSingleObject(process_.hProcess, ms) == WAIT_OBJECT_0; }
    void kill() {
        TerminateProcess(process_.hProcess, 9);
        WaitForSingleObject(process_.hProcess, 10000);
    }
    std::string output() const { return readFile(outputPath_); }

private:
    std::string outputPath_;
    HANDLE output_ = INVALID_HANDLE_VALUE;
    PROCESS_INFORMATION process_ = {};
    bool started_ = false;
};

class EngineDll : public ::testing::Test {
protected:
    void SetUp() override {
        char temp[MAX_PATH];
        GetTempPathA(MAX_PATH, temp);
        dir_ = std::string(temp) + "kseng-" + std::to_string(GetCurrentProcessId()) + "-" +
               ::testing::UnitTest::GetInstance()->current_test_info()->name();
        CreateDirectoryA(dir_.c_str(), nullptr);
    }
    void TearDown() override {
        WIN32_FIND_DATAA found;
        HANDLE search = FindFirstFileA((dir_ + "\\*").c_str(), &found);
        if (search != INVALID_HANDLE_VALUE) {
            do DeleteFileA((dir_ + "\\" + found.cFileName).c_str());
            while (FindNextFileA(search, &found));
            FindClose(search);
        }
        RemoveDirectoryA(dir_.c_str());
    }
    std::string path(const char* name) const { return dir_ + "\\" + name; }
    const char* d() const { return dir_.c_str(); }

    int create(const std::string& text, int permanent = 0, int maxTemporary = 10, int compress = 0) {
        writeFile(path("KS1.tmp"), text);
        return EngineCreateArchive("KS1.tmp", "C$$WORK$DOC.ks", d(), d(), "alice", "", "", permanent, 0, 0,
                                   maxTemporary, maxTemporary, 0, compress, 0);
    }
    int save(const std::string& text, const char* comment = "", int permanent = 0) {
        writeFile(path("KS2.tmp"), text);
        int status = EngineLock("DOC.TXT", "C$$WORK$DOC.ks", d(), d(), "alice", 1, 0, &tag_);
        if (status != 0) return status;
        status = EngineAddVersion("KS2.tmp", "C$$WORK$DOC.ks", d(), d(), "alice", comment, "", permanent, 0, 0, 0,
                                  0, &tag_);
        if (status != 0) EngineLock("DOC.TXT", "C$$WORK$DOC.ks", d(), d(), "alice", 0, 0, &tag_);
        return status;
    }
    int readDirectory(ArchiveDirectory* directory) {
        std::memset(directory, 0, sizeof *directory);
        EngineDirHandle handle = nullptr;
        int status = EngineReadDirectory(path("C$$WORK$DOC.ks").c_str(), directory, &handle);
        if (status == 0) EngineCloseDirectory(handle);
        return status;
    }
    std::string extract(int number, int* status) {
        *status = EngineExtractVersion("out.txt", "C$$WORK$DOC.ks", d(), d(), "alice", "", number, 2, 0, 1, &tag_);
        return readFile(path("out.txt"));
    }

    std::string dir_;
    EngineTag tag_ = {};
};

TEST_F(EngineDll, ExportsAreBoundByOrdinalOnly) {
    HMODULE dll = GetModuleHandleA("kseng32.dll");
    ASSERT_NE(dll, nullptr) << "loaded at start through the import library";
    for (int ordinal : {3, 5, 8, 18, 21, 27, 29, 31, 33, 34, 36, 48, 50}) {
        EXPECT_NE(GetProcAddress(dll, MAKEINTRESOURCEA(ordinal)), nullptr) << ordinal;
    }
    EXPECT_EQ(GetProcAddress(dll, "EngineLock"), nullptr);
    // Ordinal 29 is the reservation call: mode 1 on no archive says so.
    auto lock = reinterpret_cast<decltype(&EngineLock)>(reinterpret_cast<void*>(GetProcAddress(dll, MAKEINTRESOURCEA(29))));
    EXPECT_EQ(lock("DOC.TXT", "none.ks", d(), d(), "alice", 1, 0, &tag_), kNoArchive);
}

TEST_F(EngineDll, EveryOrdinalThroughASavingDay) {
    ASSERT_EQ(create("first draft", 1, 2, 1), 0);
    ASSERT_EQ(save("second draft", "after review"), 0);
    ASSERT_EQ(save("third draft", "", 0), 0);

    ArchiveDirectory directory;
    ASSERT_EQ(readDirectory(&directory), 0);
    ASSERT_EQ(directory.versionCount, 3);
    EXPECT_EQ(directory.versionCounter, 4);
    EXPECT_EQ(directory.compressed, 1);
    EXPECT_EQ(directory.records[0].permanent, 1);
    EXPECT_STREQ(directory.records[1].comment, "after review");
    EXPECT_STREQ(directory.records[2].userName, "alice");
    EXPECT_EQ(directory.records[2].number, 3);

    // A fourth temporary version pushes the oldest temporary one (2) out.
    ASSERT_EQ(save("fourth draft"), 0);
    ASSERT_EQ(readDirectory(&directory), 0);
    ASSERT_EQ(directory.versionCount, 3);
    EXPECT_EQ(directory.records[1].number, 3);

    int status;
    EXPECT_EQ(extract(1, &status), "first draft");
    EXPECT_EQ(status, 0);
    extract(2, &status);
    EXPECT_EQ(status, kNoVersion);
    // Never over its own archive, however the name is spelt.
    EXPECT_EQ(EngineExtractVersion("c$$work$doc.KS", "C$$WORK$DOC.ks", d(), d(), "alice", "", 1, 2, 0, 1, &tag_),
              kBadArgument);

    writeFile(path("DOC.TXT"), "fourth draft");
    EXPECT_EQ(EngineCompareWorking("DOC.TXT", "C$$WORK$DOC.ks", d(), d()), 0);
    writeFile(path("DOC.TXT"), "fifth draft");
    EXPECT_GT(EngineCompareWorking("DOC.TXT", "C$$WORK$DOC.ks", d(), d()), 0);

    int32_t count = 0, flag = 0;
    ASSERT_EQ(EngineGetMaxTemporary("C$$WORK$DOC.ks", d(), &count, &tag_), 0);
    EXPECT_EQ(count, 2);
    ASSERT_EQ(EngineLock("DOC.TXT", "C$$WORK$DOC.ks", d(), d(), "alice", 1, 0, &tag_), 0);
    ASSERT_EQ(EngineSetMaxTemporary("C$$WORK$DOC.ks", d(), "alice", 1, &tag_), 0);
    ASSERT_EQ(readDirectory(&directory), 0);
    EXPECT_EQ(directory.versionCount, 2);

    ASSERT_EQ(EngineLock("DOC.TXT", "C$$WORK$DOC.ks", d(), d(), "alice", 1, 0, &tag_), 0);
    ASSERT_EQ(EngineSetPermanent("C$$WORK$DOC.ks", d(), "alice", "", 4, 1, &tag_), 0);
    ASSERT_EQ(EngineIsPermanent("C$$WORK$DOC.ks", d(), "", 4, &flag, &tag_), 0);
    EXPECT_EQ(flag, 1);

    // Deleting a permanent version: reserve twice, clear the flag, delete.
    ASSERT_EQ(EngineLock("DOC.TXT", "C$$WORK$DOC.ks", d(), d(), "alice", 1, 0, &tag_), 0);
    ASSERT_EQ(EngineLock("DOC.TXT", "C$$WORK$DOC.ks", d(), d(), "alice", 1, 0, &tag_), 0);
    ASSERT_EQ(EngineSetPermanent("C$$WORK$DOC.ks", d(), "alice", "", 1, 0, &tag_), 0);
    ASSERT_EQ(EngineDeleteVersion("C$$WORK$DOC.ks", d(), "alice", "", 1, 0, &tag_), 0);
    ASSERT_EQ(readDirectory(&directory), 0);
    ASSERT_EQ(directory.versionCount, 1);
    EXPECT_EQ(extract(4, &status), "fourth draft");
    EXPECT_EQ(directory.versionCounter, 5);

    EngineVerifyResult verified = {};
    verified.structSize = sizeof verified;
    EXPECT_EQ(EngineVerifyArchive("C$$WORK$DOC.ks", d(), &verified), 0);
    EXPECT_EQ(verified.versionCount, 1);
    EXPECT_EQ(verified.damagedCount, 0);
}

DWORD WINAPI readDirectoryAndEnd(LPVOID archivePath) {
    ArchiveDirectory directory = {};
    EngineDirHandle handle;
    if (EngineReadDirectory(static_cast<const char*>(archivePath), &directory, &handle) == 0)
        EngineCloseDirectory(handle);
    return directory.versionCount;
}

TEST_F(EngineDll, RecordsStayReadableWhileOtherThreadsComeAndGo) {
    ASSERT_EQ(create("one"), 0);
    ASSERT_EQ(save("two", "kept"), 0);
    ArchiveDirectory directory;
    ASSERT_EQ(readDirectory(&directory), 0);
    std::string archive = path("C$$WORK$DOC.ks");
    for (int i = 0; i < 20; ++i) {
        HANDLE thread = CreateThread(nullptr, 0, readDirectoryAndEnd, &archive[0], 0, nullptr);
        ASSERT_NE(thread, nullptr);
        WaitForSingleObject(thread, 10000);
        DWORD count = 0;
        GetExitCodeThread(thread, &count);
        CloseHandle(thread);
        EXPECT_EQ(count, 2u);
    }
    EXPECT_STREQ(directory.records[1].comment, "kept");
    EXPECT_EQ(directory.records[1].number, 2);
}

TEST_F(EngineDll, StatusesOfMissingReservedAndDamagedArchives) {
    ArchiveDirectory directory;
    EXPECT_EQ(readDirectory(&directory), kNoArchive);
    EXPECT_EQ(save("x"), kNoArchive);
    int status;
    extract(1, &status);
    EXPECT_EQ(status, kNoArchive);
    EXPECT_LT(EngineCompareWorking("DOC.TXT", "C$$WORK$DOC.ks", d(), d()), 0);

    ASSERT_EQ(create("one"), 0);
    // Held here, another process is refused at once, and served once released.
    ASSERT_EQ(EngineLock("DOC.TXT", "C$$WORK$DOC.ks", d(), d(), "alice", 1, 0, &tag_), 0);
    {
        Worker worker(std::string("add ") + d() + " C$$WORK$DOC.ks held 1", path("held.out"));
        ASSERT_TRUE(worker.started());
        ASSERT_TRUE(worker.wait(30000));
        EXPECT_EQ(worker.output(), "0 3\n");
    }
    ASSERT_EQ(EngineLock("DOC.TXT", "C$$WORK$DOC.ks", d(), d(), "alice", 0, 0, &tag_), 0);
    {
        Worker worker(std::string("add ") + d() + " C$$WORK$DOC.ks free 1", path("free.out"));
        ASSERT_TRUE(worker.wait(30000));
        EXPECT_EQ(worker.output(), "0 0\n");
    }

    writeFile(path("C$$WORK$DOC.ks"), std::string(10000, 'j'));
    EXPECT_EQ(readDirectory(&directory), kCorrupt);
    EXPECT_EQ(save("two"), kCorrupt);
    EXPECT_EQ(readFile(path("C$$WORK$DOC.ks")), std::string(10000, 'j'));
}

// A file of gigabytes (sparse: mostly never written) with a few pieces of
// data at given offsets.
bool writeSparse(const std::string& file, LONGLONG size, const std::vector<std::pair<LONGLONG, std::string>>& pieces) {
    HANDLE h = CreateFileA(file.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    DWORD returned;
    DeviceIoControl(h, FSCTL_SET_SPARSE, nullptr, 0, nullptr, 0, &returned, nullptr);
    bool ok = true;
    for (const auto& piece : pieces) {
        OVERLAPPED at = {};
        at.Offset = static_cast<DWORD>(piece.first);
        at.OffsetHigh = static_cast<DWORD>(piece.first >> 32);
        DWORD written = 0;
        ok = ok && WriteFile(h, piece.second.data(), static_cast<DWORD>(piece.second.size()), &written, &at) &&
             written == piece.second.size();
    }
    LARGE_INTEGER end;
    end.QuadPart = size;
    ok = ok && SetFilePointerEx(h, end, nullptr, FILE_BEGIN) && SetEndOfFile(h);
    CloseHandle(h);
    return ok;
}

// Whether two files hold the same bytes, read a few megabytes at a time.
bool sameContent(const std::string& a, const std::string& b) {
    HANDLE ha = CreateFileA(a.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    HANDLE hb = CreateFileA(b.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    bool same = ha != INVALID_HANDLE_VALUE && hb != INVALID_HANDLE_VALUE;
    std::vector<char> ba(4 << 20), bb(4 << 20);
    while (same) {
        DWORD na = 0, nb = 0;
        same = ReadFile(ha, ba.data(), DWORD(ba.size()), &na, nullptr) && ReadFile(hb, bb.data(), DWORD(bb.size()), &nb, nullptr) &&
               na == nb && std::memcmp(ba.data(), bb.data(), na) == 0;
        if (na == 0) break;
    }
    if (ha != INVALID_HANDLE_VALUE) CloseHandle(ha);
    if (hb != INVALID_HANDLE_VALUE) CloseHandle(hb);
    return same;
}

SIZE_T peakWorkingSet() {
    PROCESS_MEMORY_COUNTERS counters = {};
    counters.cb = sizeof counters;
    return GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters) ? counters.PeakWorkingSetSize : 0;
}

TEST_F(EngineDll, AThreeGiBFileSavedAndExtractedThroughTheDll) {
    const LONGLONG kSize = LONGLONG(3) << 30;
    std::string start(1 << 20, '\0'), middle(1 << 20, '\0');
    unsigned seed = 7;
    for (char& c : start) c = static_cast<char>((seed = seed * 1103515245 + 12345) >> 16);
    for (char& c : middle) c = "version history "[(seed = seed * 1103515245 + 12345) >> 28];
    ASSERT_TRUE(writeSparse(path("KS1.tmp"), kSize, {{0, start}, {LONGLONG(2) << 30, middle}}));
    middle[1000] ^= 1;
    ASSERT_TRUE(writeSparse(path("KS2.tmp"), kSize, {{0, start}, {LONGLONG(2) << 30, middle}, {kSize / 2, "an edit in a hole"}}));
    SIZE_T before = peakWorkingSet();
    ASSERT_EQ(EngineCreateArchive("KS1.tmp", "C$$WORK$DOC.ks", d(), d(), "alice", "", "", 0, 0, 0, 10, 10, 0, 1, 0), 0);
    ASSERT_EQ(EngineLock("DOC.TXT", "C$$WORK$DOC.ks", d(), d(), "alice", 1, 0, &tag_), 0);
    ASSERT_EQ(EngineAddVersion("KS2.tmp", "C$$WORK$DOC.ks", d(), d(), "alice", "", "", 0, 0, 0, 0, 0, &tag_), 0);
    for (int number : {1, 2}) {
        ASSERT_EQ(EngineExtractVersion("out.bin", "C$$WORK$DOC.ks", d(), d(), "alice", "", number, 2, 0, 1, &tag_), 0);
        EXPECT_TRUE(sameContent(path("out.bin"), path(number == 1 ? "KS1.tmp" : "KS2.tmp"))) << "version " << number;
        DeleteFileA(path("out.bin").c_str());
    }
    // The engine's own peak stays within 64 MiB and 1/256 of the file.
    SIZE_T grown = peakWorkingSet() - before;
    EXPECT_LE(grown, (SIZE_T(64) << 20) + SIZE_T(kSize / 256)) << (grown >> 20) << " MiB";
    std::printf("peak working set grew by %u MiB\n", unsigned(grown >> 20));
    WIN32_FILE_ATTRIBUTE_DATA archive;
    ASSERT_TRUE(GetFileAttributesExA(path("C$$WORK$DOC.ks").c_str(), GetFileExInfoStandard, &archive));
    EXPECT_EQ(archive.nFileSizeHigh, 0u) << "zeros take little room";
    ArchiveDirectory directory;
    ASSERT_EQ(readDirectory(&directory), 0);
    EXPECT_EQ(directory.versionCount, 2);
    DeleteFileA(path("KS1.tmp").c_str());
    DeleteFileA(path("KS2.tmp").c_str());
}

TEST_F(EngineDll, TwoProcessesSavingAHundredTimesEach) {
    ASSERT_EQ(create("start", 0, 32767), 0);
    Worker a(std::string("add ") + d() + " C$$WORK$DOC.ks A 100", path("a.out"));
    Worker b(std::string("add ") + d() + " C$$WORK$DOC.ks B 100", path("b.out"));
    ASSERT_TRUE(a.wait(240000));
    ASSERT_TRUE(b.wait(240000));

    std::multiset<std::string> saved{"start"};
    int refused = 0;
    for (auto worker : {std::make_pair(&a, "A"), std::make_pair(&b, "B")}) {
        std::istringstream lines(worker.first->output());
        int attempt, status, seen = 0;
        while (lines >> attempt >> status) {
            ++seen;
            ASSERT_TRUE(status == 0 || status == kReserved) << worker.second << attempt << ": " << status;
            if (status == 0) saved.insert(std::string("worker ") + worker.second + " attempt " + std::to_string(attempt));
            else ++refused;
        }
        EXPECT_EQ(seen, 100);
    }
    ArchiveDirectory directory;
    ASSERT_EQ(readDirectory(&directory), 0);
    ASSERT_EQ(directory.versionCount, saved.size());
    std::multiset<std::string> stored;
    std::vector<int> numbers;
    for (int i = 0; i < directory.versionCount; ++i) numbers.push_back(directory.records[i].number);
    for (int number : numbers) {
        int status;
        stored.insert(extract(number, &status));
        ASSERT_EQ(status, 0);
    }
    EXPECT_EQ(stored, saved);
    std::printf("saved %zu versions, %d saves refused as reserved\n", saved.size(), refused);
}

TEST_F(EngineDll, AProcessKilledInTheMiddleOfLargeSavesLosesNothingEarlier) {
    std::string first(8 << 20, 'k');
    ASSERT_EQ(create(first, 1, 32767), 0);
    for (DWORD delay : {700, 1500, 2600}) {
        ArchiveDirectory before;
        ASSERT_EQ(readDirectory(&before), 0);
        int countBefore = before.versionCount;
        {
            Worker worker(std::string("grow ") + d() + " C$$WORK$DOC.ks 8", path("grow.out"));
            ASSERT_TRUE(worker.started());
            Sleep(delay);
            worker.kill();
        }
        ArchiveDirectory after;
        ASSERT_EQ(readDirectory(&after), 0) << "after a kill at " << delay << " ms";
        EXPECT_GE(after.versionCount, countBefore);
        std::vector<int> numbers;
        for (int i = 0; i < after.versionCount; ++i) numbers.push_back(after.records[i].number);
        for (int number : numbers) {
            int status;
            std::string content = extract(number, &status);
            ASSERT_EQ(status, 0) << "version " << number;
            if (number == 1) {
                EXPECT_EQ(content, first);
            }
        }
        // Nothing stays reserved by the dead process.
        ASSERT_EQ(save("after the kill"), 0);
    }
}

}  // namespace
