// Reservations of archives for an update (EngineLock). A reservation is an
// open archive file holding the operating system's lock; it belongs to the
// thread that took it, lasts until that thread's next update or release, and
// dies with the process.
#ifndef KSENG_RESERVATIONS_H
#define KSENG_RESERVATIONS_H

#include "io.h"
#include "status.h"

#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <utility>

namespace kseng {

class Reservations {
public:
    // Reserves path for the calling thread; again is fine, another holder is kReserved.
    Status reserve(FileSystem& fs, const std::string& path);
    // Gives the calling thread's reservation of path back, if it has one.
    void release(const std::string& path);
    // Runs one update on the archive: through the calling thread's reservation
    // when it has one, else under a lock taken for the update alone. Either
    // way the archive is no longer reserved afterwards.
    Status update(FileSystem& fs, const std::string& path, const std::function<Status(File&)>& change);

private:
    using Key = std::pair<std::string, std::thread::id>;
    static Key keyOf(const std::string& path);
    static Status openLocked(FileSystem& fs, const std::string& path, std::unique_ptr<File>* out);

    std::mutex mutex_;
    std::map<Key, std::unique_ptr<File>> held_;
};

}  // namespace kseng

#endif
