#include "perf_data.h"

#include <winperf.h>

#include <algorithm>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "framework/win_handles.h"

namespace kickoff {
namespace {

// Reads a 32-bit field at `offset` only when all four bytes are inside the block.
bool ReadField(const BYTE* block, std::size_t size, std::size_t offset, DWORD& value) {
    if (offset > size || size - offset < sizeof(DWORD)) return false;
    std::memcpy(&value, block + offset, sizeof(DWORD));
    return true;
}

bool Inside(std::size_t size, std::size_t offset, std::size_t length) {
    return offset <= size && size - offset >= length;
}

bool EqualsIgnoringCase(const char* a, const char* b) { return ::lstrcmpiA(a, b) == 0; }

DWORD DigitsToNumber(const std::string& text) {
    DWORD value = 0;
    for (char ch : text) {
        if (ch >= '0' && ch <= '9') value = value * 10 + static_cast<DWORD>(ch - '0');
    }
    return value;
}

// Converts an instance name to the ANSI code page; false when it does not
// fit a path-sized buffer or cannot be converted.
bool InstanceNameToAnsi(const BYTE* block, std::size_t size, std::size_t nameOffset,
                        DWORD nameBytes, std::string& name) {
    if (!Inside(size, nameOffset, nameBytes)) return false;
    std::vector<wchar_t> wide(nameBytes / sizeof(wchar_t));
    if (!wide.empty()) std::memcpy(wide.data(), block + nameOffset, wide.size() * sizeof(wchar_t));
    std::size_t length = 0;
    while (length < wide.size() && wide[length] != L'\0') ++length;
    if (length == 0) return false;

    char ansi[MAX_PATH];
    const int written = ::WideCharToMultiByte(CP_ACP, 0, wide.data(), static_cast<int>(length),
                                              ansi, MAX_PATH - 1, nullptr, nullptr);
    if (written <= 0) return false;
    name.assign(ansi, static_cast<std::size_t>(written));
    return true;
}

std::string UpperCase(std::string text) {
    if (!text.empty()) ::CharUpperBuffA(&text[0], static_cast<DWORD>(text.size()));
    return text;
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

DWORD FindProcessInPerfBlock(const BYTE* block, std::size_t size, DWORD idCounterIndex,
                             const std::string& upperBaseName) {
    if (block == nullptr || !Inside(size, 0, sizeof(PERF_DATA_BLOCK))) return 0;
    if (std::memcmp(block, L"PERF", 4 * sizeof(wchar_t)) != 0) return 0;

    DWORD blockHeader = 0;
    DWORD objectCount = 0;
    if (!ReadField(block, size, offsetof(PERF_DATA_BLOCK, HeaderLength), blockHeader)) return 0;
    if (!ReadField(block, size, offsetof(PERF_DATA_BLOCK, NumObjectTypes), objectCount)) return 0;
    if (objectCount == 0) return 0;

    const std::size_t object = blockHeader;
    if (!Inside(size, object, sizeof(PERF_OBJECT_TYPE))) return 0;
    DWORD objectDefinition = 0, objectHeader = 0, counterCount = 0, instanceCount = 0;
    ReadField(block, size, object + offsetof(PERF_OBJECT_TYPE, DefinitionLength), objectDefinition);
    ReadField(block, size, object + offsetof(PERF_OBJECT_TYPE, HeaderLength), objectHeader);
    ReadField(block, size, object + offsetof(PERF_OBJECT_TYPE, NumCounters), counterCount);
    ReadField(block, size, object + offsetof(PERF_OBJECT_TYPE, NumInstances), instanceCount);

    // Find where the process id sits in each instance's counter block.
    constexpr std::size_t kCounterDefinitionSize = sizeof(PERF_COUNTER_DEFINITION);
    static_assert(kCounterDefinitionSize == 40, "counter definitions are 40 bytes");
    bool counterFound = false;
    DWORD counterOffset = 0;
    std::size_t definition = object + objectHeader;
    for (DWORD i = 0; i < counterCount; ++i, definition += kCounterDefinitionSize) {
        if (!Inside(size, definition, kCounterDefinitionSize)) return 0;
        DWORD nameIndex = 0;
        ReadField(block, size, definition + offsetof(PERF_COUNTER_DEFINITION, CounterNameTitleIndex), nameIndex);
        if (nameIndex == idCounterIndex) {
            ReadField(block, size, definition + offsetof(PERF_COUNTER_DEFINITION, CounterOffset), counterOffset);
            counterFound = true;
            break;
        }
    }
    if (!counterFound) return 0;
    if (static_cast<LONG>(instanceCount) <= 0) return 0;  // includes PERF_NO_INSTANCES

    std::size_t instance = object + objectDefinition;
    for (DWORD i = 0; i < instanceCount; ++i) {
        if (!Inside(size, instance, sizeof(PERF_INSTANCE_DEFINITION))) return 0;
        DWORD instanceLength = 0, nameOffset = 0, nameBytes = 0;
        ReadField(block, size, instance + offsetof(PERF_INSTANCE_DEFINITION, ByteLength), instanceLength);
        ReadField(block, size, instance + offsetof(PERF_INSTANCE_DEFINITION, NameOffset), nameOffset);
        ReadField(block, size, instance + offsetof(PERF_INSTANCE_DEFINITION, NameLength), nameBytes);
        // Lengths that do not move forward would walk the same bytes again.
        if (instanceLength < sizeof(PERF_INSTANCE_DEFINITION)) return 0;

        const std::size_t counters = instance + instanceLength;
        DWORD countersLength = 0;
        if (!ReadField(block, size, counters, countersLength)) return 0;
        if (countersLength < sizeof(PERF_COUNTER_BLOCK) || !Inside(size, counters, countersLength)) return 0;

        DWORD processId = 0;
        const bool idInside = Inside(countersLength, counterOffset, sizeof(DWORD)) &&
                              ReadField(block, size, counters + counterOffset, processId);
        std::string name;
        if (idInside && processId != 0 &&
            InstanceNameToAnsi(block, size, instance + nameOffset, nameBytes, name) &&
            name.size() <= upperBaseName.size() &&
            UpperCase(name).compare(0, name.size(), upperBaseName, 0, name.size()) == 0) {
            return processId;
        }
        instance = counters + countersLength;
    }
    return 0;
}

std::string PerfLookupName(const std::string& fileName) {
    const std::size_t slash = fileName.rfind('\\');
    return UpperCase(slash == std::string::npos ? fileName : fileName.substr(slash + 1));
}

DWORD FindProcessIdByPerfData(const std::string& fileName) {
    const std::string baseName = PerfLookupName(fileName);

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
