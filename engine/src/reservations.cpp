#include "reservations.h"

namespace kseng {

Reservations::Key Reservations::keyOf(const std::string& path) {
    return Key(comparablePath(path), currentThreadKey());
}

Status Reservations::openLocked(FileSystem& fs, const std::string& path, std::unique_ptr<File>* out) {
    OpenError error;
    std::unique_ptr<File> file = fs.open(path, OpenMode::ReadWrite, &error);
    if (!file) return error == OpenError::NotFound ? kNoArchive : kIoError;
    if (!file->tryLock()) return kReserved;
    *out = std::move(file);
    return kOk;
}

void Reservations::dropForgotten() {
    Clock::time_point now = Clock::now();
    for (auto it = held_.begin(); it != held_.end();) {
        if (now - it->second.since > forgottenAfter_) {
            it->second.file->unlock();
            it = held_.erase(it);
        } else {
            ++it;
        }
    }
}

Status Reservations::reserve(FileSystem& fs, const std::string& path) {
    Key key = keyOf(path);
    {
        std::lock_guard<std::mutex> guard(mutex_);
        dropForgotten();
        auto it = held_.find(key);
        if (it != held_.end()) {
            it->second.since = Clock::now();
            return kOk;
        }
    }
    std::unique_ptr<File> file;
    Status status = openLocked(fs, path, &file);
    if (status != kOk) return status;
    std::lock_guard<std::mutex> guard(mutex_);
    held_[key] = Held{std::move(file), Clock::now()};
    return kOk;
}

void Reservations::release(const std::string& path) {
    std::unique_ptr<File> file;
    {
        std::lock_guard<std::mutex> guard(mutex_);
        auto it = held_.find(keyOf(path));
        if (it == held_.end()) return;
        file = std::move(it->second.file);
        held_.erase(it);
    }
    file->unlock();
}

Status Reservations::update(FileSystem& fs, const std::string& path, const std::function<Status(File&)>& change) {
    std::unique_ptr<File> file;
    {
        std::lock_guard<std::mutex> guard(mutex_);
        dropForgotten();
        auto it = held_.find(keyOf(path));
        if (it != held_.end()) {
            file = std::move(it->second.file);
            held_.erase(it);
        }
    }
    if (!file) {
        Status status = openLocked(fs, path, &file);
        if (status != kOk) return status;
    }
    Status status = change(*file);
    file->unlock();
    return status;
}

}  // namespace kseng
