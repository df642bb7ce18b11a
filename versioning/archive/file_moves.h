// Moving and copying single files so that a power cut or a failure never
// leaves a half-written file in place of the only one: within a volume a
// rename written through; across volumes a copy that is on disk before the
// source goes. Each step can be undone until the whole transfer is done.
#ifndef KEEPSHEL_FILE_MOVES_H
#define KEEPSHEL_FILE_MOVES_H

#include <windows.h>

// Takes a file out of the way under a fresh name in its own folder, so its
// name is free; it can be put back, or removed for good.
class FileSetAside {
public:
    FileSetAside() = default;
    ~FileSetAside() = default;  // what is set aside stays set aside: the caller decides
    FileSetAside(const FileSetAside&) = delete;
    FileSetAside& operator=(const FileSetAside&) = delete;

    // False when the file could not be renamed (it is in use, or the
    // folder cannot be written).
    bool Take(const char* path);
    void PutBack();
    // Deletes the set-aside file.
    void Remove();
    bool taken() const { return taken_; }

private:
    char path_[MAX_PATH] = "";
    char aside_[MAX_PATH] = "";
    bool taken_ = false;
};

// One file carried to a new name that must be free.
class FileRelocation {
public:
    FileRelocation() = default;
    FileRelocation(const FileRelocation&) = delete;
    FileRelocation& operator=(const FileRelocation&) = delete;

    // Renamed within one volume; across volumes copied and flushed, the
    // source staying until Finish.
    bool Move(const char* from, const char* to);
    // Copied under a scratch name beside `to`, flushed, then given its name.
    bool Copy(const char* from, const char* to);
    // Puts things back as they were before Move or Copy.
    void Undo();
    // Removes the source of a move across volumes. False when it cannot be
    // removed; the copy can then still be undone.
    bool Finish();

private:
    enum class State { None, Renamed, CopiedForMove, Copied };
    char from_[MAX_PATH] = "";
    char to_[MAX_PATH] = "";
    State state_ = State::None;
};

// Replaces the content of a file in place: its name is never free, so no
// one can make a new file under it meanwhile, and those who hold it open
// see the new content. The old content is kept beside it until Finish, so
// Undo can bring it back.
class FileOverwrite {
public:
    FileOverwrite() = default;
    FileOverwrite(const FileOverwrite&) = delete;
    FileOverwrite& operator=(const FileOverwrite&) = delete;

    // Writes `from`'s content over `to` and flushes it. False (and `to` as
    // it was) when that cannot be done.
    bool Take(const char* from, const char* to);
    void Undo();
    // Removes the kept old content.
    void Finish();

private:
    char to_[MAX_PATH] = "";
    char backup_[MAX_PATH] = "";
    bool taken_ = false;
};

#endif
