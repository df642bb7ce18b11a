#include "perf_data.h"

#include <winperf.h>

#include <algorithm>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "file_names.h"
#include "framework/win_handles.h"
#include "perf_block_walk.h"

namespace kickoff {
namespace {

// The walk reads the fields where the system's headers put them.
static_assert(sizeof(PERF_DATA_BLOCK) == perf_layout::kBlockSize, "data block size");
static_assert(offsetof(PERF_DATA_BLOCK, HeaderLength) == perf_layout::kBlockHeaderLength, "block header length");
static_assert(offsetof(PERF_DATA_BLOCK, NumObjectTypes) == perf_layout::kBlockObjectCount, "object count");
static_assert(sizeof(PERF_OBJECT_TYPE) == perf_layout::kObjectSize, "object size");
static_assert(offsetof(PERF_OBJECT_TYPE, DefinitionLength) == perf_layout::kObjectDefinitionLength, "definition");
static_assert(offsetof(PERF_OBJECT_TYPE, HeaderLength) == perf_layout::kObjectHeaderLength, "object header");
static_assert(offsetof(PERF_OBJECT_TYPE, NumCounters) == perf_layout::kObjectCounterCount, "counter count");
static_assert(offsetof(PERF_OBJECT_TYPE, NumInstances) == perf_layout::kObjectInstanceCount, "instance count");
static_assert(sizeof(PERF_COUNTER_DEFINITION) == perf_layout::kCounterSize, "counter definitions are 40 bytes");
static_assert(offsetof(PERF_COUNTER_DEFINITION, CounterNameTitleIndex) == perf_layout::kCounterNameIndex, "name");
static_assert(offsetof(PERF_COUNTER_DEFINITION, CounterOffset) == perf_layout::kCounterOffset, "counter offset");
static_assert(sizeof(PERF_INSTANCE_DEFINITION) == perf_layout::kInstanceSize, "instance size");
static_assert(offsetof(PERF_INSTANCE_DEFINITION, ByteLength) == perf_layout::kInstanceByteLength, "length");
static_assert(offsetof(PERF_INSTANCE_DEFINITION, NameOffset) == perf_layout::kInstanceNameOffset, "name offset");
static_assert(offsetof(PERF_INSTANCE_DEFINITION, NameLength) == perf_layout::kInstanceNameLength, "name length");
static_assert(sizeof(PERF_COUNTER_BLOCK) == perf_layout::kCounterBlockSize, "counter block size");

bool EqualsIgnoringCase(const char* a, const char* b) { return ::lstrcmpiA(a, b) == 0; }

DWORD DigitsToNumber(const std::string& text) {
    DWORD value = 0;
    for (char ch : text) {
        if (ch >= '0' && ch <= '9') value = value * 10 + static_cast<DWORD>(ch - '0');
    }
    return value;
}

std::wstring InstanceName(const PerfInstanceView& instance) {
    std::wstring name(instance.nameBytes / 2, L'\0');
    for (std::size_t i = 0; i < name.size(); ++i) {
        name[i] = static_cast<wchar_t>(instance.name[2 * i] | instance.name[2 * i + 1] << 8);
    }
    return name;
}

}  // namespace

bool FindProcessCounterNames(const char* counters, std::size_t size, ProcessCounterNames& names) {
    names = ProcessCounterNames();
    bool haveObject = false;
    bool haveCounter = false;
    std::string previous;
    std::size_t pos = 0;
    while (pos < size) {
        const void* end = std::memchr(counters + pos, '\0', size - pos);
        // An unterminated last string is taken up to the end of the buffer.
        const std::size_t length = end != nullptr
            ? static_cast<std::size_t>(static_cast<const char*>(end) - (counters + pos))
            : size - pos;
        if (length == 0) break;  // the empty string that ends the list
        const std::string current(counters + pos, length);
        if (EqualsIgnoringCase(current.c_str(), "process")) {
            names.objectIndexText = previous;
            haveObject = true;
        } else if (EqualsIgnoringCase(current.c_str(), "id process")) {
            names.idCounterIndex = DigitsToNumber(previous);
            haveCounter = true;
        }
        previous = current;
        pos += length + 1;
    }
    return haveObject && haveCounter && !names.objectIndexText.empty();
}

bool InstanceNameMatches(const std::wstring& instanceName, const std::wstring& fileName) {
    if (instanceName.empty()) return false;
    if (SameFileName(instanceName, fileName)) return true;
    const std::wstring exe = L".exe";
    if (fileName.size() > exe.size() && SameFileName(fileName.substr(fileName.size() - exe.size()), exe) &&
        SameFileName(instanceName, fileName.substr(0, fileName.size() - exe.size()))) {
        return true;
    }
    // Only a name of the length the system cuts to may stand for a longer
    // one: "notepad" is another program than NOTEPAD2.EXE.
    return instanceName.size() == kCutInstanceNameLength && fileName.size() > instanceName.size() &&
           FileNameStartsWith(fileName, instanceName);
}

DWORD FindProcessInPerfBlock(const BYTE* block, std::size_t size, DWORD idCounterIndex,
                             const std::wstring& fileName) {
    const PerfBlockWalk<std::size_t> walk(block, size);
    return walk.FindInstance(idCounterIndex, [&fileName](const PerfInstanceView& instance) {
        return instance.processId != 0 && InstanceNameMatches(InstanceName(instance), fileName);
    });
}

std::wstring PerfLookupName(const std::string& fileName) { return FileNamePart(WideFromAnsi(fileName)); }

DWORD FindProcessIdByPerfData(const std::string& fileName) {
    const std::wstring baseName = PerfLookupName(fileName);
    if (baseName.empty()) return 0;

    char counterKeyPath[MAX_PATH];
    std::snprintf(counterKeyPath, sizeof counterKeyPath, "%s\\%03x",
                  "software\\microsoft\\windows nt\\currentversion\\perflib", 9);
    RegKey perflib;
    if (perflib.Open(HKEY_LOCAL_MACHINE, counterKeyPath, KEY_READ) != ERROR_SUCCESS) return 0;

    ProcessCounterNames names;
    {
        DWORD countersSize = 0;
        if (::RegQueryValueExA(perflib.Get(), "Counters", nullptr, nullptr, nullptr, &countersSize) != ERROR_SUCCESS ||
            countersSize == 0) {
            return 0;
        }
        std::vector<char> counters(countersSize, '\0');
        if (::RegQueryValueExA(perflib.Get(), "Counters", nullptr, nullptr,
                               reinterpret_cast<BYTE*>(counters.data()), &countersSize) != ERROR_SUCCESS) {
            return 0;
        }
        if (!FindProcessCounterNames(counters.data(), std::min<std::size_t>(countersSize, counters.size()), names)) {
            return 0;
        }
    }

    // The provider must be released by closing the performance-data root.
    RegKey performanceData;
    performanceData.Adopt(HKEY_PERFORMANCE_DATA);
    constexpr std::size_t kInitialSize = 51200;
    constexpr std::size_t kGrowth = 25600;
    constexpr std::size_t kLargestAccepted = 64u * 1024 * 1024;  // stop growing somewhere
    std::vector<BYTE> data(kInitialSize, 0);
    DWORD returned = 0;
    LONG status;
    for (;;) {
        returned = static_cast<DWORD>(data.size());
        status = ::RegQueryValueExA(HKEY_PERFORMANCE_DATA, names.objectIndexText.c_str(), nullptr, nullptr,
                                    data.data(), &returned);
        if (status != ERROR_MORE_DATA || data.size() + kGrowth > kLargestAccepted) break;
        data.assign(data.size() + kGrowth, 0);
    }
    if (status != ERROR_SUCCESS || returned == 0) return 0;
    return FindProcessInPerfBlock(data.data(), std::min<std::size_t>(returned, data.size()),
                                  names.idCounterIndex, baseName);
}

}  // namespace kickoff
