// The performance-data walks on blocks built here, well formed and not.
#include <gtest/gtest.h>

#include <windows.h>
#include <winperf.h>

#include <cstring>
#include <string>
#include <vector>

#include "perf_data.h"

using namespace kickoff;

namespace {

constexpr DWORD kIdProcessIndex = 784;
constexpr DWORD kOtherCounterIndex = 6;

struct Instance {
    std::wstring name;
    DWORD processId;
};

// A data block with one "Process" object of two counters (an unrelated one,
// then "ID Process") and the given instances.
class BlockBuilder {
public:
    explicit BlockBuilder(std::vector<Instance> instances) : instances_(std::move(instances)) {}

    std::vector<BYTE> Build() const {
        std::vector<BYTE> block;
        PERF_DATA_BLOCK header = {};
        std::memcpy(header.Signature, L"PERF", sizeof header.Signature);
        header.HeaderLength = sizeof header;
        header.NumObjectTypes = 1;
        Append(block, header);

        const std::size_t objectAt = block.size();
        PERF_OBJECT_TYPE object = {};
        object.HeaderLength = sizeof object;
        object.DefinitionLength = sizeof object + 2 * sizeof(PERF_COUNTER_DEFINITION);
        object.NumCounters = 2;
        object.NumInstances = static_cast<LONG>(instances_.size());
        Append(block, object);

        PERF_COUNTER_DEFINITION counter = {};
        counter.ByteLength = sizeof counter;
        counter.CounterNameTitleIndex = kOtherCounterIndex;
        counter.CounterSize = 4;
        counter.CounterOffset = 4;
        Append(block, counter);
        counter.CounterNameTitleIndex = kIdProcessIndex;
        counter.CounterOffset = 8;
        Append(block, counter);

        for (const Instance& each : instances_) {
            const std::size_t nameBytes = (each.name.size() + 1) * sizeof(wchar_t);
            PERF_INSTANCE_DEFINITION instance = {};
            instance.NameOffset = sizeof instance;
            instance.NameLength = static_cast<DWORD>(nameBytes);
            instance.ByteLength = static_cast<DWORD>((sizeof instance + nameBytes + 7) & ~std::size_t{7});
            const std::size_t instanceAt = block.size();
            block.resize(instanceAt + instance.ByteLength, 0);
            std::memcpy(&block[instanceAt], &instance, sizeof instance);
            std::memcpy(&block[instanceAt + sizeof instance], each.name.c_str(), nameBytes);

            const DWORD counters[3] = {12, 0xEEEE, each.processId};  // length, other, id
            Append(block, counters);
        }
        auto* finished = reinterpret_cast<PERF_OBJECT_TYPE*>(&block[objectAt]);
        finished->TotalByteLength = static_cast<DWORD>(block.size() - objectAt);
        reinterpret_cast<PERF_DATA_BLOCK*>(block.data())->TotalByteLength = static_cast<DWORD>(block.size());
        return block;
    }

private:
    template <typename T>
    static void Append(std::vector<BYTE>& block, const T& value) {
        const auto* bytes = reinterpret_cast<const BYTE*>(&value);
        block.insert(block.end(), bytes, bytes + sizeof value);
    }
    std::vector<Instance> instances_;
};

DWORD Find(const std::vector<BYTE>& block, const std::string& fileName) {
    return FindProcessInPerfBlock(block.data(), block.size(), kIdProcessIndex, PerfLookupName(fileName));
}

// Offsets into a block from BlockBuilder with at least one instance.
constexpr std::size_t kObjectAt = sizeof(PERF_DATA_BLOCK);
constexpr std::size_t kFirstInstanceAt = kObjectAt + sizeof(PERF_OBJECT_TYPE) + 2 * sizeof(PERF_COUNTER_DEFINITION);

void Poke(std::vector<BYTE>& block, std::size_t offset, DWORD value) {
    std::memcpy(&block[offset], &value, sizeof value);
}

}  // namespace

TEST(PerfCounterNames, FindsTheProcessObjectAndItsIdCounter) {
    const char names[] = "1\0" "1847\0" "2\0System\0" "230\0Process\0" "784\0ID Process\0" "\0";
    ProcessCounterNames found;
    ASSERT_TRUE(FindProcessCounterNames(names, sizeof names, found));
    EXPECT_EQ(found.objectIndexText, "230");
    EXPECT_EQ(found.idCounterIndex, 784u);

    // Case is ignored and later matches replace earlier ones.
    const char twice[] = "230\0process\0" "231\0PROCESS\0" "784\0id process\0" "\0";
    ASSERT_TRUE(FindProcessCounterNames(twice, sizeof twice, found));
    EXPECT_EQ(found.objectIndexText, "231");
}

TEST(PerfCounterNames, IncompleteOrUnterminatedListsFindNothingAndStayInside) {
    ProcessCounterNames found;
    const char noCounter[] = "230\0Process\0" "\0";
    EXPECT_FALSE(FindProcessCounterNames(noCounter, sizeof noCounter, found));
    const char noObject[] = "784\0ID Process\0" "\0";
    EXPECT_FALSE(FindProcessCounterNames(noObject, sizeof noObject, found));
    // No terminator at all: the walk must end at the buffer's end.
    const std::vector<char> unterminated(64, 'x');
    EXPECT_FALSE(FindProcessCounterNames(unterminated.data(), unterminated.size(), found));
    EXPECT_FALSE(FindProcessCounterNames(nullptr, 0, found));
}

TEST(PerfBlocks, AnInstanceIsTheFileNameWithoutFolderAndExe) {
    const std::vector<BYTE> block = BlockBuilder({{L"System", 4}, {L"EDITOR", 120}}).Build();
    EXPECT_EQ(Find(block, "EDITOR.EXE"), 120u);
    EXPECT_EQ(Find(block, "editor.exe"), 120u);
    EXPECT_EQ(Find(block, "C:\\APPS\\EDITOR.EXE"), 120u);
    EXPECT_EQ(Find(block, "EDITOR"), 120u);  // a file without extension
    EXPECT_EQ(Find(block, "VIEWER.EXE"), 0u);
    EXPECT_EQ(Find(block, "EDIT.EXE"), 0u);
    EXPECT_EQ(Find(block, "EDITOR.COM"), 0u);  // only ".exe" is left out of instance names
    EXPECT_EQ(Find(block, "EDITOR.EXE.EXE"), 0u);

    const std::vector<BYTE> lowerCase = BlockBuilder({{L"editor", 78}}).Build();
    EXPECT_EQ(Find(lowerCase, "EDITOR.EXE"), 78u);
}

// Instance names of other, shorter programs must not stand for the one in
// the script: the user would be told the wrong program runs, and OK ends it.
TEST(PerfBlocks, AShorterInstanceNameIsAnotherProgram) {
    const struct {
        const wchar_t* instance;
        const char* fileName;
    } others[] = {
        {L"EDIT", "EDITOR.EXE"},
        {L"notepad", "NOTEPAD2.EXE"},
        {L"services", "SERVICESMGR.EXE"},
        {L"e", "EDITOR.EXE"},
        {L"VERYLONGPROGRA", "VeryLongProgramName.exe"},  // 14 characters: not cut
        {L"VERYLONGPROGRAMN", "VeryLongProgramName.exe"},  // 16: not a cut name either
    };
    for (const auto& other : others) {
        const std::vector<BYTE> block = BlockBuilder({{other.instance, 66}}).Build();
        EXPECT_EQ(Find(block, other.fileName), 0u) << other.fileName;
    }
}

// The system keeps the first 15 characters of a program's file name, then
// leaves out ".exe" if it is among them; so a name of exactly 15 characters
// may be the start of a longer one, extension and all.
TEST(PerfBlocks, AFifteenCharacterInstanceMayBeACutName) {
    const struct {
        const wchar_t* instance;
        const char* fileName;
    } cut[] = {
        {L"VERYLONGPROGRAM", "VeryLongProgramName.exe"},
        {L"aspnet_admin.ex", "ASPNET_ADMIN.EXE"},
        {L"abcdefghijklm.e", "abcdefghijklm.exe"},
        {L"abcdefghijklmn.", "C:\\APPS\\abcdefghijklmn.exe"},
        {L"ABCDEFGHIJKLMNO", "abcdefghijklmno.exe"},  // whole name, not cut
    };
    for (const auto& each : cut) {
        const std::vector<BYTE> block = BlockBuilder({{each.instance, 91}}).Build();
        EXPECT_EQ(Find(block, each.fileName), 91u) << each.fileName;
    }
    // A cut name still has to be the start of the file name.
    const std::vector<BYTE> block = BlockBuilder({{L"VERYLONGPROGRAM", 92}}).Build();
    EXPECT_EQ(Find(block, "VeryLongProgrbmName.exe"), 0u);
    EXPECT_EQ(Find(block, "VERYLONGPROGRAM.EXE"), 92u);
}

TEST(PerfBlocks, TheFirstInstanceWithANonZeroIdWins) {
    const std::vector<BYTE> block = BlockBuilder({{L"EDITOR", 0}, {L"EDITOR", 200}, {L"EDITOR", 300}}).Build();
    EXPECT_EQ(Find(block, "EDITOR.EXE"), 200u);
}

TEST(PerfBlocks, EmptyInstanceNamesMatchNothing) {
    const std::vector<BYTE> block = BlockBuilder({{L"", 55}, {L"EDITOR", 66}}).Build();
    EXPECT_EQ(Find(block, "EDITOR.EXE"), 66u);
}

TEST(PerfBlocks, NoIdCounterMeansNoProcess) {
    const std::vector<BYTE> block = BlockBuilder({{L"EDITOR", 120}}).Build();
    EXPECT_EQ(FindProcessInPerfBlock(block.data(), block.size(), 9999, L"EDITOR.EXE"), 0u);
}

TEST(PerfBlocks, EveryTruncationOfAGoodBlockIsNotRunning) {
    const std::vector<BYTE> block = BlockBuilder({{L"OTHER", 5}, {L"EDITOR", 120}}).Build();
    ASSERT_EQ(Find(block, "EDITOR.EXE"), 120u);
    for (std::size_t size = 0; size < block.size() - 12; ++size) {
        // A copy of exactly `size` bytes, so that reading past it is caught
        // by the heap checks of the system rather than passing silently.
        std::vector<BYTE> cut(block.begin(), block.begin() + static_cast<std::ptrdiff_t>(size));
        EXPECT_EQ(FindProcessInPerfBlock(cut.data(), cut.size(), kIdProcessIndex, L"EDITOR.EXE"), 0u)
            << "size " << size;
    }
}

TEST(PerfBlocks, CorruptFieldsAreNotRunningNeverACrash) {
    const std::vector<BYTE> good = BlockBuilder({{L"EDITOR", 120}}).Build();
    const std::size_t nameOffsetAt = kFirstInstanceAt + offsetof(PERF_INSTANCE_DEFINITION, NameOffset);
    const std::size_t nameLengthAt = kFirstInstanceAt + offsetof(PERF_INSTANCE_DEFINITION, NameLength);
    const std::size_t instanceLengthAt = kFirstInstanceAt + offsetof(PERF_INSTANCE_DEFINITION, ByteLength);
    const struct {
        const char* what;
        std::size_t offset;
        DWORD value;
        DWORD counterIndex;  // an index no counter has makes the walk go on
    } corruptions[] = {
        {"signature", 0, 0x00410042, kIdProcessIndex},
        {"block header length", offsetof(PERF_DATA_BLOCK, HeaderLength), 0xFFFFFFF0, kIdProcessIndex},
        {"no objects", offsetof(PERF_DATA_BLOCK, NumObjectTypes), 0, kIdProcessIndex},
        {"object header length", kObjectAt + offsetof(PERF_OBJECT_TYPE, HeaderLength), 0x7FFFFFFF, kIdProcessIndex},
        {"counter count", kObjectAt + offsetof(PERF_OBJECT_TYPE, NumCounters), 0xFFFFFFFF, 9999},
        {"definition length", kObjectAt + offsetof(PERF_OBJECT_TYPE, DefinitionLength), 0xFFFFFF00, kIdProcessIndex},
        {"no instances", kObjectAt + offsetof(PERF_OBJECT_TYPE, NumInstances), static_cast<DWORD>(PERF_NO_INSTANCES), kIdProcessIndex},
        {"instance length zero", instanceLengthAt, 0, kIdProcessIndex},
        {"instance length huge", instanceLengthAt, 0xFFFFFFF8, kIdProcessIndex},
        {"name offset", nameOffsetAt, 0xFFFFFFF0, kIdProcessIndex},
        {"name length", nameLengthAt, 0x7FFFFFFF, kIdProcessIndex},
        {"counter offset", kObjectAt + sizeof(PERF_OBJECT_TYPE) + sizeof(PERF_COUNTER_DEFINITION) +
                               offsetof(PERF_COUNTER_DEFINITION, CounterOffset), 0xFFFFFFFE, kIdProcessIndex},
    };
    for (const auto& corruption : corruptions) {
        std::vector<BYTE> block = good;
        Poke(block, corruption.offset, corruption.value);
        EXPECT_EQ(FindProcessInPerfBlock(block.data(), block.size(), corruption.counterIndex, L"EDITOR.EXE"), 0u)
            << corruption.what;
    }
    // More instances announced than the block holds: the walk ends at its end.
    std::vector<BYTE> overcounted = good;
    Poke(overcounted, kObjectAt + offsetof(PERF_OBJECT_TYPE, NumInstances), 0x7FFFFFFF);
    EXPECT_EQ(FindProcessInPerfBlock(overcounted.data(), overcounted.size(), kIdProcessIndex, L"VIEWER.EXE"), 0u);
    EXPECT_EQ(FindProcessInPerfBlock(overcounted.data(), overcounted.size(), kIdProcessIndex, L"EDITOR.EXE"), 120u);
    EXPECT_EQ(FindProcessInPerfBlock(nullptr, 0, kIdProcessIndex, L"EDITOR.EXE"), 0u);
}

TEST(PerfBlocks, TheLiveLookupAnswersWithoutCrashing) {
    // Wine's performance data has no process object: "not running".
    EXPECT_EQ(FindProcessIdByPerfData("C:\\APPS\\NO_SUCH_PROGRAM.EXE"), 0u);
}
