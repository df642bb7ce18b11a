// The most memory this process has held resident since it started: the
// kernel's high-water mark of this program alone (the resource usage a
// parent reads counts the parent's own memory from before the exec too).
#ifndef KSENG_TESTS_PEAK_MEMORY_H
#define KSENG_TESTS_PEAK_MEMORY_H

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace kseng {
namespace testing {

inline unsigned long long peakMemoryBytes() {
    FILE* status = std::fopen("/proc/self/status", "r");
    unsigned long long kib = 0;
    char line[256];
    while (status && std::fgets(line, sizeof line, status))
        if (std::strncmp(line, "VmHWM:", 6) == 0) kib = std::strtoull(line + 6, nullptr, 10);
    if (status) std::fclose(status);
    return kib * 1024;
}

}  // namespace testing
}  // namespace kseng

#endif
