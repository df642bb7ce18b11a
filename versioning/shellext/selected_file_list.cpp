#include "selected_file_list.h"

#include <cstring>
#include <new>

#include "../archive/handles.h"
#include "../archive/module.h"

bool SelectedFileList::Add(const char* path) {
    auto* entry = new (std::nothrow) SelectedFile;
    if (!entry) return false;
    if (!CopyText(entry->path, sizeof entry->path, path)) {
        delete entry;
        return false;
    }
    entry->previous = nullptr;
    entry->next = first_;
    if (first_) first_->previous = entry;
    first_ = entry;
    ++count_;
    return true;
}

void SelectedFileList::Remove(SelectedFile* entry) {
    if (entry->previous)
        entry->previous->next = entry->next;
    else
        first_ = entry->next;
    if (entry->next) entry->next->previous = entry->previous;
    delete entry;
    --count_;
}

void SelectedFileList::Clear() {
    while (first_) {
        SelectedFile* next = first_->next;
        delete first_;
        first_ = next;
    }
    count_ = 0;
}

bool SelectedFileList::IsFolder(const SelectedFile* entry) {
    // INVALID_FILE_ATTRIBUTES has every bit set, the directory bit included.
    return (GetFileAttributesA(entry->path) & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

void SelectedFileList::ExpandFolders() {
    // Files of a folder go to the front, behind the walk, so they are not
    // visited again: expansion reaches one level only.
    SelectedFile* entry = first_;
    while (entry) {
        SelectedFile* next = entry->next;
        if (IsFolder(entry)) {
            AddFolderFiles(entry->path);
            Remove(entry);
        }
        entry = next;
    }
}

void SelectedFileList::AddFolderFiles(const char* folder) {
    char base[MAX_PATH];
    if (!CopyText(base, sizeof base, folder)) return;
    size_t length = strlen(base);
    if (length > 0 && base[length - 1] == '\\') base[length - 1] = '\0';

    char pattern[MAX_PATH];
    if (FormatText(pattern, sizeof pattern, "%s\\*.*", base) >= static_cast<int>(sizeof pattern)) return;

    WIN32_FIND_DATAA item;
    FindHandle search(FindFirstFileA(pattern, &item));
    if (!search) return;
    const DWORD skipped = FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;
    do {
        if (item.dwFileAttributes & skipped) continue;
        char path[MAX_PATH];
        // A composed path that does not fit an entry is left out.
        if (FormatText(path, sizeof path, "%s\\%s", base, item.cFileName) >= static_cast<int>(sizeof path)) continue;
        Add(path);
    } while (FindNextFileA(search.get(), &item));
}
