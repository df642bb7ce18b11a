// Another writer of an archive, as a test sees it: a thread of its own that
// reserves the archive through the engine (a reservation belongs to the
// thread that took it, so this thread's operations find it taken) and
// gives it back when told, or by itself after a while.
#ifndef KEEPSHEL_RESERVATION_HOLDER_H
#define KEEPSHEL_RESERVATION_HOLDER_H

#include <windows.h>

#include <cstring>
#include <string>

#include "kseng32.h"

namespace kstest {

class ReservationHolder {
public:
    // Holds the reservation of the archive at `archivePath` until Release,
    // or for `holdMs` when that is not INFINITE. With `deleteArchive`, the
    // other writer deletes the archive before it lets it go.
    explicit ReservationHolder(const std::string& archivePath, DWORD holdMs = INFINITE, bool deleteArchive = false)
        : path_(archivePath), holdMs_(holdMs), deleteArchive_(deleteArchive) {
        size_t slash = archivePath.rfind('\\');
        folder_ = archivePath.substr(0, slash == std::string::npos ? 0 : slash);
        name_ = archivePath.substr(slash == std::string::npos ? 0 : slash + 1);
        memset(&tag_, 0, sizeof tag_);
        taken_ = CreateEventA(nullptr, TRUE, FALSE, nullptr);
        release_ = CreateEventA(nullptr, TRUE, FALSE, nullptr);
        thread_ = CreateThread(nullptr, 0, &Run, this, 0, nullptr);
        WaitForSingleObject(taken_, 10000);
    }
    ~ReservationHolder() {
        Release();
        CloseHandle(thread_);
        CloseHandle(taken_);
        CloseHandle(release_);
    }
    ReservationHolder(const ReservationHolder&) = delete;
    ReservationHolder& operator=(const ReservationHolder&) = delete;

    bool held() const { return status_ == 0; }
    // Gives the reservation back and waits until it is.
    void Release() {
        SetEvent(release_);
        WaitForSingleObject(thread_, 10000);
    }

private:
    static DWORD WINAPI Run(void* self) {
        auto* holder = static_cast<ReservationHolder*>(self);
        holder->status_ = holder->Lock(1);
        SetEvent(holder->taken_);
        WaitForSingleObject(holder->release_, holder->holdMs_);
        if (holder->status_ == 0 && holder->deleteArchive_) DeleteFileA(holder->path_.c_str());
        if (holder->status_ == 0) holder->Lock(0);
        return 0;
    }

    int Lock(int mode) {
        return EngineLock("other", name_.c_str(), folder_.c_str(), folder_.c_str(), "other writer", mode, 0, &tag_);
    }

    std::string path_, folder_, name_;
    EngineTag tag_;
    DWORD holdMs_;
    bool deleteArchive_;
    volatile int status_ = -1;
    HANDLE taken_ = nullptr;
    HANDLE release_ = nullptr;
    HANDLE thread_ = nullptr;
};

}  // namespace kstest

#endif
