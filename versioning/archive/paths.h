// Path and file helpers shared by every part of keepshel. Paths are
// single-byte and fit 260-character buffers (259 characters and the NUL).
#ifndef KEEPSHEL_PATHS_H
#define KEEPSHEL_PATHS_H

#include <windows.h>

// Drive and directory (one trailing backslash removed: C:\a.txt gives "C:")
// and name with extension. Either output may be null; each holds MAX_PATH.
void SplitPath(const char* path, char* folder, char* name);

// True when a directory search finds an entry and the first one found is
// not a folder.
bool FileExists(const char* path);

// True exactly when the file opens for reading and its size is 0.
bool IsZeroLengthFile(const char* path);

// True when the process can change into the folder (a bare drive "C:" is
// taken as its root). The current directory is put back.
bool FolderExists(const char* path);

// Creates the folder and every missing parent. True when the last folder
// was created now, or when the path names no folder to create.
bool CreateFolderPath(const char* path);

enum class ArchiveNameResult {
    Made,
    NoShortForm,  // the folder is missing or cannot hold a probe file
    TooLong,      // the name does not fit a 260-character buffer
};

// The archive name of a working file: its short path with ".", ":" and "\"
// turned into "$", and ".ks" behind. A path that does not exist yet is
// created for a moment to learn its short form, and removed again.
ArchiveNameResult MakeArchiveName(const char* path, char* name);

// The archive name for a known short path (at most MAX_PATH - 1 characters).
ArchiveNameResult ArchiveNameFromShortPath(const char* shortPath, char* name);

// Shows the hourglass and answers the cursor shown before.
HCURSOR ShowWaitCursor();

// Shows the hourglass for its lifetime and puts the earlier cursor back on
// every path out.
class WaitCursor {
public:
    WaitCursor() : previous_(ShowWaitCursor()) {}
    ~WaitCursor() { SetCursor(previous_); }
    WaitCursor(const WaitCursor&) = delete;
    WaitCursor& operator=(const WaitCursor&) = delete;
    void Restore() { SetCursor(previous_); }
    void Show() { ShowWaitCursor(); }

private:
    HCURSOR previous_;
};

#endif
