// POSIX files for the native build (tests, fuzzing, benchmarks).
#include "io.h"

#include <cerrno>
#include <fcntl.h>
#include <pthread.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

namespace kseng {
namespace {

// Far beyond any byte the engine writes, so the lock never gets in the way
// of reading or writing the archive itself.
constexpr off_t kLockOffset = off_t(1) << 62;

class PosixFile final : public File {
public:
    explicit PosixFile(int fd) : fd_(fd) {}
    ~PosixFile() override { ::close(fd_); }

    bool readAt(uint64_t offset, void* data, size_t len) override {
        auto* p = static_cast<char*>(data);
        while (len > 0) {
            ssize_t n = ::pread(fd_, p, len, static_cast<off_t>(offset));
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) return false;
            p += n;
            len -= static_cast<size_t>(n);
            offset += static_cast<uint64_t>(n);
        }
        return true;
    }
    bool writeAt(uint64_t offset, const void* data, size_t len) override {
        auto* p = static_cast<const char*>(data);
        while (len > 0) {
            ssize_t n = ::pwrite(fd_, p, len, static_cast<off_t>(offset));
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) return false;
            p += n;
            len -= static_cast<size_t>(n);
            offset += static_cast<uint64_t>(n);
        }
        return true;
    }
    bool flush() override { return ::fsync(fd_) == 0; }
    bool size(uint64_t* out) override {
        struct stat st;
        if (::fstat(fd_, &st) != 0) return false;
        *out = static_cast<uint64_t>(st.st_size);
        return true;
    }
    bool truncate(uint64_t len) override { return ::ftruncate(fd_, static_cast<off_t>(len)) == 0; }
    bool makeSparse() override { return true; }
    // Open-file-description locks belong to this descriptor, not to the
    // process, so two handles in one process exclude each other as on Windows.
    bool tryLock() override { return setLock(F_WRLCK); }
    void unlock() override { setLock(F_UNLCK); }

private:
    bool setLock(short type) {
        struct flock fl = {};
        fl.l_type = type;
        fl.l_whence = SEEK_SET;
        fl.l_start = kLockOffset;
        fl.l_len = 1;
        return ::fcntl(fd_, F_OFD_SETLK, &fl) == 0;
    }
    int fd_;
};

class PosixFileSystem final : public FileSystem {
public:
    std::unique_ptr<File> open(const std::string& path, OpenMode mode, OpenError* error) override {
        int flags = O_CLOEXEC;
        switch (mode) {
        case OpenMode::Read: flags |= O_RDONLY; break;
        case OpenMode::ReadWrite: flags |= O_RDWR; break;
        case OpenMode::CreateNew: flags |= O_RDWR | O_CREAT | O_EXCL; break;
        }
        int fd = ::open(path.c_str(), flags, 0666);
        if (fd < 0) {
            if (error) *error = errno == ENOENT ? OpenError::NotFound
                              : errno == EEXIST ? OpenError::Exists : OpenError::Other;
            return nullptr;
        }
        if (error) *error = OpenError::None;
        return std::make_unique<PosixFile>(fd);
    }
    bool publish(const std::string& temp, const std::string& final) override {
        // link() refuses an existing name, which rename() would replace.
        if (::link(temp.c_str(), final.c_str()) != 0) return false;
        ::unlink(temp.c_str());
        syncFolderOf(final);
        return true;
    }
    bool replace(const std::string& temp, const std::string& final) override {
        if (::rename(temp.c_str(), final.c_str()) != 0) return false;
        syncFolderOf(final);
        return true;
    }
    bool remove(const std::string& path) override { return ::unlink(path.c_str()) == 0; }
    std::string scratchNameBeside(const std::string& path) override {
        return scratchName(path, static_cast<unsigned>(::getpid()));
    }

private:
    static void syncFolderOf(const std::string& path) {
        size_t slash = path.find_last_of('/');
        std::string folder = slash == std::string::npos ? "." : path.substr(0, slash ? slash : 1);
        int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (fd >= 0) {
            ::fsync(fd);
            ::close(fd);
        }
    }
};

}  // namespace

uint64_t currentThreadKey() { return static_cast<uint64_t>(pthread_self()); }

int64_t systemUnixTime() {
    struct timespec now;
    clock_gettime(CLOCK_REALTIME, &now);
    return static_cast<int64_t>(now.tv_sec);
}

FileSystem& platformFileSystem() {
    static PosixFileSystem fs;
    return fs;
}

}  // namespace kseng
