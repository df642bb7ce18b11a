#include "worker_thread.h"

#include <new>

namespace kickoff {
namespace {

struct ThreadStart {
    WorkerFunction function;
    void* parameter;
};

DWORD WINAPI ThreadEntry(LPVOID raw) {
    const ThreadStart start = *static_cast<ThreadStart*>(raw);
    delete static_cast<ThreadStart*>(raw);
    return start.function(start.parameter);
}

}  // namespace

UniqueHandle StartWorkerThread(WorkerFunction function, void* parameter) {
    auto* start = new (std::nothrow) ThreadStart{function, parameter};
    if (start == nullptr) return UniqueHandle();
    HANDLE thread = ::CreateThread(nullptr, 0, ThreadEntry, start, 0, nullptr);
    if (thread == nullptr) delete start;
    return UniqueHandle(thread);
}

}  // namespace kickoff
