// The full paths one shell action works on. New entries always go to the
// front, so the list holds paths in the reverse order of their addition;
// every command walks it from the front.
#ifndef KEEPSHEL_SELECTED_FILE_LIST_H
#define KEEPSHEL_SELECTED_FILE_LIST_H

#include <windows.h>

struct SelectedFile {
    SelectedFile* next;
    SelectedFile* previous;
    char path[MAX_PATH];  // at most 259 characters and the terminator
};

class SelectedFileList {
public:
    SelectedFileList() = default;
    ~SelectedFileList() { Clear(); }
    SelectedFileList(const SelectedFileList&) = delete;
    SelectedFileList& operator=(const SelectedFileList&) = delete;

    SelectedFile* First() const { return first_; }
    int Count() const { return count_; }

    // Puts a copy of `path` in front. A path that does not fit an entry, or
    // an entry that cannot be allocated, is not added: answers false.
    bool Add(const char* path);
    void Remove(SelectedFile* entry);
    void Clear();

    // Directory bit set, or attributes unreadable (a vanished path).
    static bool IsFolder(const SelectedFile* entry);

    // Replaces every folder entry by the plain files directly inside it.
    void ExpandFolders();
    // Adds the plain (not hidden, not system) files directly inside `folder`.
    void AddFolderFiles(const char* folder);

private:
    SelectedFile* first_ = nullptr;
    int count_ = 0;
};

#endif
