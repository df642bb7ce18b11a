// What the two processes of the concurrency test share: one counter that
// orders what each of them does while it holds an archive's reservation
// (two holders of one archive never overlap, so their ticks order their
// steps), a stop flag, and the content of each save.
#ifndef KSTEST_SHARED_CLOCK_H
#define KSTEST_SHARED_CLOCK_H

#include <windows.h>

#include <string>

namespace kstest {

struct SharedClock {
    volatile LONG ticks;
    volatile LONG stop;
};

// The counter of the mapping `name`, made by the first process that asks.
// Null when it cannot be had; the handle is the caller's to close.
inline SharedClock* OpenSharedClock(const std::string& name, HANDLE* mapping) {
    *mapping = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, sizeof(SharedClock), name.c_str());
    if (!*mapping) return nullptr;
    return static_cast<SharedClock*>(MapViewOfFile(*mapping, FILE_MAP_ALL_ACCESS, 0, 0, sizeof(SharedClock)));
}

inline LONG Tick(SharedClock* clock) { return InterlockedIncrement(&clock->ticks); }

// The working file's content for save number `save`: unique, of varying
// length, so a version that went elsewhere cannot pass for another.
inline std::string SaveContent(int save) {
    std::string content = "save " + std::to_string(save) + "\n";
    content.append(static_cast<size_t>((save * 7919) % 3000), static_cast<char>('a' + save % 26));
    return content;
}

// The save number in a content made by SaveContent, or -1.
inline int SaveNumberOf(const std::string& content) {
    if (content.compare(0, 5, "save ") != 0) return -1;
    return atoi(content.c_str() + 5);
}

// One line of the saver's log, per save it tried:
//   <save> <first:1|next:0> <result> <written> <reserved> <before> <after> <reason>
struct SaveRecord {
    int save = 0;
    bool first = false;
    int result = -1;
    LONG written = 0;   // ticked once the content was in the working file
    LONG reserved = 0;  // ticked while the save held the reservation (further versions)
    LONG before = 0;    // ticked before the save began
    LONG after = 0;     // ticked after it ended
    std::string reason;
};

}  // namespace kstest

#endif
