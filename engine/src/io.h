// The engine's only window on the platform: files read and written at
// offsets, flushes, the reservation lock and the renames that publish a new
// file. The POSIX and Win32 implementations live in io_posix.cpp and
// io_win32.cpp; tests add an in-memory one and a fault-injecting wrapper.
#ifndef KSENG_IO_H
#define KSENG_IO_H

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace kseng {

class File {
public:
    virtual ~File() = default;
    // Reads exactly len bytes; false on error or end of file.
    virtual bool readAt(uint64_t offset, void* data, size_t len) = 0;
    virtual bool writeAt(uint64_t offset, const void* data, size_t len) = 0;
    // Returns once everything written so far is on stable storage.
    virtual bool flush() = 0;
    virtual bool size(uint64_t* out) = 0;
    virtual bool truncate(uint64_t len) = 0;
    // Asks that ranges never written (past the end, then grown over) be kept
    // as holes that read as zeros; true when they will, so that writing
    // zeros may be skipped.
    virtual bool makeSparse() { return false; }
    // The reservation: an exclusive lock owned by this open file, never
    // waited for, released by unlock, by closing, or by the death of the
    // process.
    virtual bool tryLock() = 0;
    virtual void unlock() = 0;
};

enum class OpenMode { Read, ReadWrite, CreateNew };

enum class OpenError { None, NotFound, Exists, Other };

class FileSystem {
public:
    virtual ~FileSystem() = default;
    virtual std::unique_ptr<File> open(const std::string& path, OpenMode mode,
                                       OpenError* error = nullptr) = 0;
    // Gives temp the name final unless final already exists.
    virtual bool publish(const std::string& temp, const std::string& final) = 0;
    // Gives temp the name final, replacing what is there, in one step.
    virtual bool replace(const std::string& temp, const std::string& final) = 0;
    virtual bool remove(const std::string& path) = 0;
    // A name in the folder of path that no other writer uses.
    virtual std::string scratchNameBeside(const std::string& path) = 0;
};

// A short name in the folder of path, unique within this machine for the
// life of the process (short, so that it fits wherever path fits).
std::string scratchName(const std::string& path, unsigned processId);

// The path as the file system compares it: on Windows case-blind and with
// either slash, so two spellings of one file compare equal.
std::string comparablePath(const std::string& path);

// Identifies the calling thread to the operating system (the Win32 thread
// id): usable from any thread, including ones the C++ runtime never started.
uint64_t currentThreadKey();

// Seconds since 1970-01-01 UTC from the system clock, 64-bit on every target.
int64_t systemUnixTime();

// The operating system's files.
FileSystem& platformFileSystem();


}  // namespace kseng

#endif
