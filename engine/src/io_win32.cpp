// Win32 files for kseng32.dll. Every handle is owned by one object, so no
// path out of the engine leaks one.
#include "io.h"

#include <windows.h>
#include <winioctl.h>


namespace kseng {
namespace {

// Far beyond any byte the engine writes: Windows locks are mandatory, and
// this way the reservation never blocks a reader of the archive.
constexpr uint64_t kLockOffset = uint64_t(1) << 62;

class Win32File final : public File {
public:
    explicit Win32File(HANDLE handle) : handle_(handle) {}
    ~Win32File() override {
        if (locked_) unlock();
        CloseHandle(handle_);
    }

    bool readAt(uint64_t offset, void* data, size_t len) override {
        auto* p = static_cast<char*>(data);
        while (len > 0) {
            DWORD chunk = len > 0x40000000u ? 0x40000000u : static_cast<DWORD>(len);
            OVERLAPPED at = overlappedAt(offset);
            DWORD done = 0;
            if (!ReadFile(handle_, p, chunk, &done, &at) || done == 0) return false;
            p += done;
            len -= done;
            offset += done;
        }
        return true;
    }
    bool writeAt(uint64_t offset, const void* data, size_t len) override {
        auto* p = static_cast<const char*>(data);
        while (len > 0) {
            DWORD chunk = len > 0x40000000u ? 0x40000000u : static_cast<DWORD>(len);
            OVERLAPPED at = overlappedAt(offset);
            DWORD done = 0;
            if (!WriteFile(handle_, p, chunk, &done, &at) || done == 0) return false;
            p += done;
            len -= done;
            offset += done;
        }
        return true;
    }
    bool flush() override { return FlushFileBuffers(handle_) != 0; }
    bool size(uint64_t* out) override {
        LARGE_INTEGER size;
        if (!GetFileSizeEx(handle_, &size)) return false;
        *out = static_cast<uint64_t>(size.QuadPart);
        return true;
    }
    bool truncate(uint64_t len) override {
        LARGE_INTEGER at;
        at.QuadPart = static_cast<LONGLONG>(len);
        return SetFilePointerEx(handle_, at, nullptr, FILE_BEGIN) && SetEndOfFile(handle_);
    }
    // A sparse file reads its unwritten ranges as zeros on every file system
    // that has them; elsewhere (FAT) the zeros are written.
    bool makeSparse() override {
        DWORD returned = 0;
        return DeviceIoControl(handle_, FSCTL_SET_SPARSE, nullptr, 0, nullptr, 0, &returned, nullptr) != 0;
    }
    bool tryLock() override {
        OVERLAPPED at = overlappedAt(kLockOffset);
        locked_ = LockFileEx(handle_, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &at) != 0;
        return locked_;
    }
    void unlock() override {
        OVERLAPPED at = overlappedAt(kLockOffset);
        UnlockFileEx(handle_, 0, 1, 0, &at);
        locked_ = false;
    }

private:
    static OVERLAPPED overlappedAt(uint64_t offset) {
        OVERLAPPED at = {};
        at.Offset = static_cast<DWORD>(offset);
        at.OffsetHigh = static_cast<DWORD>(offset >> 32);
        return at;
    }
    HANDLE handle_;
    bool locked_ = false;
};

class Win32FileSystem final : public FileSystem {
public:
    std::unique_ptr<File> open(const std::string& path, OpenMode mode, OpenError* error) override {
        DWORD access = GENERIC_READ;
        DWORD disposition = OPEN_EXISTING;
        if (mode != OpenMode::Read) access |= GENERIC_WRITE;
        if (mode == OpenMode::CreateNew) disposition = CREATE_NEW;
        // Others may read, write, rename and delete meanwhile: the shell moves
        // and deletes archives, and readers must never be shut out by a save.
        HANDLE handle = CreateFileA(path.c_str(), access,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                    disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (handle == INVALID_HANDLE_VALUE) {
            DWORD code = GetLastError();
            if (error) *error = (code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND) ? OpenError::NotFound
                              : (code == ERROR_FILE_EXISTS || code == ERROR_ALREADY_EXISTS) ? OpenError::Exists
                              : OpenError::Other;
            return nullptr;
        }
        if (error) *error = OpenError::None;
        return std::make_unique<Win32File>(handle);
    }
    bool publish(const std::string& temp, const std::string& final) override {
        return MoveFileExA(temp.c_str(), final.c_str(), MOVEFILE_WRITE_THROUGH) != 0;
    }
    bool replace(const std::string& temp, const std::string& final) override {
        return MoveFileExA(temp.c_str(), final.c_str(),
                           MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
    }
    bool remove(const std::string& path) override { return DeleteFileA(path.c_str()) != 0; }
    std::string scratchNameBeside(const std::string& path) override {
        return scratchName(path, static_cast<unsigned>(GetCurrentProcessId()));
    }
};

}  // namespace

uint64_t currentThreadKey() { return GetCurrentThreadId(); }

// FILETIME counts 100-nanosecond steps since 1601 in 64 bits, on both targets.
int64_t systemUnixTime() {
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    uint64_t ticks = uint64_t(now.dwHighDateTime) << 32 | now.dwLowDateTime;
    return static_cast<int64_t>(ticks / 10000000) - INT64_C(11644473600);
}

FileSystem& platformFileSystem() {
    static Win32FileSystem fs;
    return fs;
}

}  // namespace kseng
