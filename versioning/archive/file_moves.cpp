#include "file_moves.h"

#include <vector>

#include "handles.h"
#include "module.h"
#include "paths.h"

namespace {

// A fresh name in the folder of `path`: the system makes an empty file
// under it, which the caller replaces.
bool ScratchNameBeside(const char* path, char* scratch) {
    char folder[MAX_PATH];
    SplitPath(path, folder, nullptr);
    if (!folder[0]) return false;
    char root[MAX_PATH + 1];
    // A bare drive names its current folder, not its root.
    FormatText(root, sizeof root, folder[1] == ':' && !folder[2] ? "%s\\" : "%s", folder);
    if (!GetTempFileNameA(root, "KS", 0, scratch)) {
        scratch[0] = '\0';
        return false;
    }
    return true;
}

// The file's content reaches the disk before anything relies on it. A
// read-only copy is made writable for the flush only.
bool FlushToDisk(const char* path) {
    DWORD attributes = GetFileAttributesA(path);
    bool readOnly = attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY);
    if (readOnly) SetFileAttributesA(path, attributes & ~FILE_ATTRIBUTE_READONLY);
    bool flushed = false;
    {
        FileHandle file(CreateFileA(path, GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                                    nullptr));
        flushed = file && FlushFileBuffers(file.get());
    }
    if (readOnly) SetFileAttributesA(path, attributes);
    return flushed;
}

// Writes the whole content of `from` over `to`, which stays the same file
// (others may hold it open), and flushes it.
bool WriteOver(const char* from, const char* to) {
    FileHandle source(CreateFileA(from, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    FileHandle target(CreateFileA(to, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!source || !target) return false;
    if (!SetEndOfFile(target.get())) return false;
    // On the heap: the shell's threads may have small stacks.
    static constexpr DWORD kChunk = 1 << 16;
    std::vector<char> buffer(kChunk);
    for (;;) {
        DWORD read = 0;
        if (!ReadFile(source.get(), buffer.data(), kChunk, &read, nullptr)) return false;
        if (read == 0) break;
        DWORD written = 0;
        if (!WriteFile(target.get(), buffer.data(), read, &written, nullptr) || written != read) return false;
    }
    return FlushFileBuffers(target.get()) != FALSE;
}

bool RemoveFile(const char* path) {
    SetFileAttributesA(path, FILE_ATTRIBUTE_NORMAL);
    return DeleteFileA(path) || GetLastError() == ERROR_FILE_NOT_FOUND;
}

}  // namespace

bool FileSetAside::Take(const char* path) {
    taken_ = false;
    if (!CopyText(path_, sizeof path_, path) || !ScratchNameBeside(path, aside_)) return false;
    // The placeholder the system made is replaced; it is open to no one.
    if (!MoveFileExA(path, aside_, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        DeleteFileA(aside_);
        return false;
    }
    taken_ = true;
    return true;
}

void FileSetAside::PutBack() {
    if (!taken_) return;
    taken_ = !MoveFileExA(aside_, path_, MOVEFILE_WRITE_THROUGH);
}

void FileSetAside::Remove() {
    if (!taken_) return;
    RemoveFile(aside_);
    taken_ = false;
}

bool FileRelocation::Move(const char* from, const char* to) {
    state_ = State::None;
    if (!CopyText(from_, sizeof from_, from) || !CopyText(to_, sizeof to_, to)) return false;
    if (MoveFileExA(from, to, MOVEFILE_WRITE_THROUGH)) {
        state_ = State::Renamed;
        return true;
    }
    if (GetLastError() != ERROR_NOT_SAME_DEVICE) return false;
    if (!Copy(from, to)) return false;
    state_ = State::CopiedForMove;
    return true;
}

bool FileRelocation::Copy(const char* from, const char* to) {
    state_ = State::None;
    if (!CopyText(from_, sizeof from_, from) || !CopyText(to_, sizeof to_, to)) return false;
    char scratch[MAX_PATH];
    if (!ScratchNameBeside(to, scratch)) return false;
    // Only a complete copy, on disk, takes the name; and only a free one.
    if (!CopyFileA(from, scratch, FALSE) || !FlushToDisk(scratch) || !MoveFileExA(scratch, to, MOVEFILE_WRITE_THROUGH)) {
        RemoveFile(scratch);
        return false;
    }
    state_ = State::Copied;
    return true;
}

void FileRelocation::Undo() {
    switch (state_) {
    case State::Renamed:
        if (MoveFileExA(to_, from_, MOVEFILE_WRITE_THROUGH)) state_ = State::None;
        break;
    case State::CopiedForMove:
    case State::Copied:
        if (RemoveFile(to_)) state_ = State::None;
        break;
    case State::None:
        break;
    }
}

bool FileRelocation::Finish() {
    if (state_ != State::CopiedForMove) return true;
    // Out of the way first, so no one opens the source by its name while
    // it goes.
    FileSetAside source;
    if (!source.Take(from_)) return false;
    source.Remove();
    return true;
}

bool FileOverwrite::Take(const char* from, const char* to) {
    taken_ = false;
    if (!CopyText(to_, sizeof to_, to) || !ScratchNameBeside(to, backup_)) return false;
    if (!CopyFileA(to, backup_, FALSE) || !FlushToDisk(backup_)) {
        RemoveFile(backup_);
        return false;
    }
    if (!WriteOver(from, to)) {
        WriteOver(backup_, to);
        RemoveFile(backup_);
        return false;
    }
    taken_ = true;
    return true;
}

void FileOverwrite::Undo() {
    if (!taken_) return;
    if (WriteOver(backup_, to_)) Finish();
}

void FileOverwrite::Finish() {
    if (!taken_) return;
    RemoveFile(backup_);
    taken_ = false;
}
