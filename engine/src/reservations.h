// Reservations of archives for an update (EngineLock). A reservation is an
// open archive file holding the operating system's lock; it belongs to the
// thread that took it, lasts until that thread's next update or release, and
// dies with the process. A reservation left unused for kForgottenAfter (a
// caller that reserved and never updated) is given back at the next call, so
// a long-lived host process cannot keep an archive reserved for good.
#ifndef KSENG_RESERVATIONS_H
#define KSENG_RESERVATIONS_H

#include "io.h"
#include "status.h"

#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <utility>

namespace kseng {

class Reservations {
public:
    static constexpr std::chrono::milliseconds kForgottenAfter{30000};
    explicit Reservations(std::chrono::milliseconds forgottenAfter = kForgottenAfter)
        : forgottenAfter_(forgottenAfter) {}

    // Reserves path for the calling thread; again is fine, another holder is kReserved.
    Status reserve(FileSystem& fs, const std::string& path);
    // Gives the calling thread's reservation of path back, if it has one.
    void release(const std::string& path);
    // Runs one update on the archive: through the calling thread's reservation
    // when it has one, else under a lock taken for the update alone. Either
    // way the archive is no longer reserved afterwards.
    Status update(FileSystem& fs, const std::string& path, const std::function<Status(File&)>& change);

private:
    using Key = std::pair<std::string, uint64_t>;  // path and thread
    using Clock = std::chrono::steady_clock;
    struct Held {
        std::unique_ptr<File> file;
        Clock::time_point since;
    };
    static Key keyOf(const std::string& path);
    static Status openLocked(FileSystem& fs, const std::string& path, std::unique_ptr<File>* out);
    // Drops reservations nobody used for their update. Called with mutex_ held.
    void dropForgotten();

    const std::chrono::milliseconds forgottenAfter_;
    std::mutex mutex_;
    std::map<Key, Held> held_;
};

}  // namespace kseng

#endif
