// Two processes at one file: another program saves it again and again
// while this one, in turns, moves it away and back, copies another file
// over it, deletes it, and deletes versions through the history page. No
// save reported as done may be missing from the archive afterwards (unless
// this process destroyed it on purpose, after it was saved), no save that
// did not happen may go untold, and no archive may be lost or damaged.
//
// Order across the processes comes from the shared clock: each process
// ticks it while it holds the archive's reservation, and two holders of
// one archive never overlap, so a save ticked before a deletion was made
// before it, and one ticked after it came after.
#include <gtest/gtest.h>

#include <windows.h>

#include <cstdio>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "archive/archive_context.h"
#include "archive/reservation.h"
#include "archive/transfer.h"
#include "history_test_support.h"
#include "resource.h"
#include "shared_clock.h"
#include "test_helpers.h"
#include "ui_driver.h"

namespace {

constexpr int kTurns = 100;
constexpr DWORD kSaverExitMs = 20000;

kstest::SharedClock* g_clock = nullptr;
char g_watchedArchive[MAX_PATH] = "";
volatile LONG g_lastTick = 0;

// This process ticks the clock whenever it takes the watched archive.
void OnReserved(const char* archivePath) {
    if (_stricmp(archivePath, g_watchedArchive) == 0) g_lastTick = kstest::Tick(g_clock);
}

enum class TurnKind { MoveAwayAndBack, CopyOver, Delete, DeleteVersionInPage };

struct Turn {
    TurnKind kind;
    bool destroys = false;      // the archive as it was is gone afterwards
    LONG held = 0;              // ticked while this process held the archive
    LONG writeBegin = 0;        // the working file was written over (or made anew)
    LONG writeEnd = 0;          //   between these ticks
    LONG snapshot = 0;          // ticked before the archive was read after the turn
    std::set<int> present;      // saves found in the archive then
    int deletedSave = -1;       // the save whose version the page deleted
};

std::vector<kstest::SaveRecord> ReadSaverLog(const std::string& path) {
    std::vector<kstest::SaveRecord> records;
    std::ifstream log(path);
    std::string line;
    while (std::getline(log, line)) {
        std::istringstream fields(line);
        kstest::SaveRecord record;
        int first = 0;
        fields >> record.save >> first >> record.result >> record.written >> record.reserved >> record.before >>
            record.after;
        record.first = first != 0;
        std::getline(fields, record.reason);
        if (!record.reason.empty() && record.reason[0] == ' ') record.reason.erase(0, 1);
        records.push_back(record);
    }
    return records;
}

class Concurrency : public ::testing::Test {
protected:
    void SetUp() override {
        kstest::UseOwnResources();
        settings.SetNumber("EnableVersionControl", 1);
        shared = folder / "shared.txt";
        moved = folder / "moved.txt";
        other = folder / "other.txt";
        clockName = "Local\\kstest_clock_" + std::to_string(GetCurrentProcessId());
        g_clock = kstest::OpenSharedClock(clockName, &mapping);
        ASSERT_TRUE(g_clock);
        SetReservationObserver(&OnReserved);
    }
    void TearDown() override {
        SetReservationObserver(nullptr);
        StopSaver();
        if (g_clock) UnmapViewOfFile(g_clock);
        g_clock = nullptr;
        if (mapping) CloseHandle(mapping);
    }

    bool StartSaver() {
        char program[MAX_PATH];
        GetModuleFileNameA(nullptr, program, sizeof program);
        std::string folderOfProgram = program;
        folderOfProgram.erase(folderOfProgram.rfind('\\'));
        std::string command = "\"" + folderOfProgram + "\\keepshel_test_saver.exe\" " + clockName + " \"" + shared +
                              "\" \"" + logPath() + "\"";
        STARTUPINFOA startup{};
        startup.cb = sizeof startup;
        PROCESS_INFORMATION process{};
        if (!CreateProcessA(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process))
            return false;
        CloseHandle(process.hThread);
        saver = process.hProcess;
        return true;
    }
    void StopSaver() {
        if (!saver) return;
        if (g_clock) g_clock->stop = 1;
        if (WaitForSingleObject(saver, kSaverExitMs) != WAIT_OBJECT_0) TerminateProcess(saver, 1);
        CloseHandle(saver);
        saver = nullptr;
    }
    std::string logPath() const { return folder / "saver.log"; }

    ArchiveContext Context(const std::string& path) {
        ArchiveContext context;
        EXPECT_EQ(context.Locate(path.c_str()), 0) << path;
        return context;
    }

    // The saves whose versions the archive of `path` holds now; false when
    // the archive is there but cannot be read (damaged).
    bool Snapshot(const std::string& path, std::set<int>* present) {
        ArchiveContext context = Context(path);
        if (!context.ArchiveExists()) return true;
        VersionEntry* entries = nullptr;
        int count = context.ListVersions(&entries);
        if (count < 0) return !context.ArchiveExists();  // gone meanwhile is no damage
        std::string target = folder / "snapshot.out";
        for (int i = 0; i < count; ++i) {
            auto known = saveOfNumber.find({generation, entries[i].number});
            if (known == saveOfNumber.end()) {
                if (context.RetrieveVersion(target.c_str(), entries[i].number) != 0) continue;  // pruned meanwhile
                known = saveOfNumber.emplace(std::make_pair(generation, entries[i].number),
                                             kstest::SaveNumberOf(kstest::ReadFileText(target))).first;
            }
            if (known->second > 0) present->insert(known->second);
        }
        delete[] entries;
        DeleteFileA(target.c_str());
        return true;
    }

    // Retries a step that the other program may hold up for a moment: a
    // file it is copying cannot be deleted or renamed meanwhile.
    template <typename Step>
    bool Repeat(Step step) {
        for (int attempt = 0; attempt < 40; ++attempt) {
            if (step()) return true;
            Sleep(25);
        }
        return false;
    }

    bool MoveAwayAndBack() {
        return Repeat([&] {
                   ArchiveContext from = Context(shared);
                   return TransferWithVersions(from, moved.c_str(), false, TransferKind::Move) == TransferResult::Done;
               }) &&
               Repeat([&] {
                   ArchiveContext back = Context(moved);
                   return TransferWithVersions(back, shared.c_str(), false, TransferKind::Move) == TransferResult::Done;
               });
    }

    bool CopyOver(int turn) {
        // The other file gets a version of its own first.
        if (!kstest::WriteFileText(other, "other " + std::to_string(turn))) return false;
        ArchiveContext source = Context(other);
        if (source.SaveNextVersion("other", 0) != 1) return false;
        return Repeat([&] {
            ArchiveContext from = Context(other);
            return TransferWithVersions(from, shared.c_str(), true, TransferKind::Copy) == TransferResult::Done;
        });
    }

    bool Delete(int turn) {
        bool deleted = Repeat([&] {
            ArchiveContext context = Context(shared);
            return DeleteWithVersions(context) == DeleteResult::Done;
        });
        // The file comes back without versions: the next save starts anew
        // (once the other program has let go of the deleted one).
        return deleted && Repeat([&] { return kstest::WriteFileText(shared, "fresh " + std::to_string(turn)); });
    }

    // Deletes one of the saver's versions through the history page; the
    // question is answered only after a while, as a person would, while
    // the page's reload and the saver go on.
    int DeleteVersionInPage() {
        ArchiveContext context = Context(shared);
        kstest::SheetHost host(&context);
        if (!kstest::PumpUntil([&] { return host.RowCount() > 1; }, 3000)) return -1;
        std::vector<int> numbers = host.Numbers();
        for (size_t row = 1; row < numbers.size(); ++row) {
            auto known = saveOfNumber.find({generation, numbers[row]});
            if (known == saveOfNumber.end() || known->second <= 0) continue;
            host.SelectOnly({static_cast<int>(row)});
            host.Command(IDC_TOOL_DELETE);
            return known->second;
        }
        return -1;
    }

    kstest::SettingsScope settings;
    kstest::TempFolder folder;
    std::string shared, moved, other, clockName;
    HANDLE mapping = nullptr;
    HANDLE saver = nullptr;
    int generation = 0;
    std::map<std::pair<int, int>, int> saveOfNumber;  // (generation, version number) -> save
};

TEST_F(Concurrency, NoSaveReportedDoneIsLostAndNoRefusalIsSilent) {
    ASSERT_TRUE(kstest::WriteFileText(shared, "start"));
    ASSERT_TRUE(kstest::WriteFileText(other, "other"));
    ASSERT_EQ(Context(shared).SaveFirstVersion(0, 32767, 0, 1), 0);
    ASSERT_EQ(Context(other).SaveFirstVersion(0, 32767, 0, 1), 0);
    CopyText(g_watchedArchive, sizeof g_watchedArchive, Context(shared).archivePath);
    ASSERT_TRUE(StartSaver());

    // Replace questions are answered Yes; the history page's question only
    // after a while.
    kstest::BoxRecorder boxes("Keepsake (TM)", IDYES, 200);
    std::vector<Turn> turns;
    const DWORD start = GetTickCount();
    DWORD spent[4] = {0, 0, 0, 0};  // per kind of turn, its step and the look at the archive after it
    for (int index = 0; index < kTurns; ++index) {
        const DWORD turnStart = GetTickCount();
        Turn turn;
        turn.kind = static_cast<TurnKind>(index % 4);
        g_lastTick = 0;
        const LONG began = kstest::Tick(g_clock);
        switch (turn.kind) {
        case TurnKind::MoveAwayAndBack:
            ASSERT_TRUE(MoveAwayAndBack()) << "turn " << index;
            break;
        case TurnKind::CopyOver:
            ASSERT_TRUE(CopyOver(index)) << "turn " << index;
            turn.destroys = true;
            break;
        case TurnKind::Delete:
            ASSERT_TRUE(Delete(index)) << "turn " << index;
            turn.destroys = true;
            break;
        case TurnKind::DeleteVersionInPage:
            turn.deletedSave = DeleteVersionInPage();
            break;
        }
        turn.held = g_lastTick ? g_lastTick : began;
        if (turn.destroys) {
            // The working file is written over (or made anew) only once
            // this process holds its archive.
            turn.writeBegin = turn.held;
            turn.writeEnd = kstest::Tick(g_clock);
            ++generation;
        }
        turn.snapshot = kstest::Tick(g_clock);
        ASSERT_TRUE(kstest::PathPresent(shared)) << "turn " << index;
        ASSERT_TRUE(Snapshot(shared, &turn.present)) << "damaged archive after turn " << index;
        ASSERT_FALSE(kstest::PathPresent(moved)) << "turn " << index;
        turns.push_back(turn);
        spent[index % 4] += GetTickCount() - turnStart;
    }
    const DWORD elapsed = GetTickCount() - start;
    StopSaver();
    Turn last;
    last.kind = TurnKind::MoveAwayAndBack;
    last.snapshot = kstest::Tick(g_clock);
    ASSERT_TRUE(Snapshot(shared, &last.present));
    turns.push_back(last);

    std::vector<kstest::SaveRecord> records = ReadSaverLog(logPath());
    int done = 0, refused = 0, unclear = 0, checked = 0;
    for (const kstest::SaveRecord& record : records) {
        if (record.result != 0) {
            ++refused;
            // Told in words, never by a bare number.
            EXPECT_FALSE(record.reason.empty()) << "save " << record.save << " answered " << record.result;
            EXPECT_EQ(record.reason.find("(status"), std::string::npos) << "save " << record.save << ": " << record.reason;
            continue;
        }
        ++done;
        // A further version is ordered by its hold on the archive, taken
        // after its copy of the working file; a first one (no hold) only by
        // the ticks around it.
        const LONG from = record.first ? record.before : record.reserved;
        const LONG to = record.first ? record.after : record.reserved;
        if (!record.first && record.reserved == 0) {
            ADD_FAILURE() << "save " << record.save << " was done without holding the archive";
            continue;
        }
        bool destroyed = false, ambiguous = false;
        int index = -1;
        for (const Turn& turn : turns) {
            ++index;
            if (turn.destroys && turn.held > from && turn.held < to) ambiguous = true;
            // This process wrote the working file between the saver's
            // write and its copy: the version holds what was there then.
            if (turn.writeEnd && turn.writeBegin < to && turn.writeEnd > record.written) ambiguous = true;
            if (turn.destroys && turn.held > to) destroyed = true;
            if (turn.deletedSave == record.save) destroyed = true;
            if (ambiguous) break;
            if (!destroyed && record.after < turn.snapshot) {
                ++checked;
                EXPECT_TRUE(turn.present.count(record.save))
                    << "save " << record.save << " was reported done, but its version is missing after turn " << index
                    << " (ticks: saved " << record.written << "/" << record.reserved << "/" << record.after
                    << ", turn held " << turn.held << ")";
                if (!turn.present.count(record.save)) break;
            }
            if (destroyed) break;
        }
        if (ambiguous) ++unclear;
    }
    EXPECT_GE(done, 20) << "the saver hardly got a save in";
    EXPECT_GT(checked, 0);
    std::cout << kTurns << " turns in " << elapsed << " ms; " << done << " saves done, " << refused << " refused, "
              << unclear << " not ordered against this process's steps, " << checked << " presence checks; "
              << boxes.Count() << " questions and messages; ms per kind of turn (move, copy over, delete, page): "
              << spent[0] << ", " << spent[1] << ", " << spent[2] << ", " << spent[3] << std::endl;
}

}  // namespace
