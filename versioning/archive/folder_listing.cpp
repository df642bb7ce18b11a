#include "folder_listing.h"

#include <cstring>

#include "handles.h"
#include "module.h"

std::string FoldCase(const char* text) {
    std::string folded(text);
    if (!folded.empty()) CharUpperBuffA(&folded[0], static_cast<DWORD>(folded.size()));
    return folded;
}

bool FolderListing::Load(const char* folder) {
    items_.clear();
    byName_.clear();
    byShort_.clear();
    loaded_ = false;

    char pattern[MAX_PATH];
    size_t length = strlen(folder);
    const char* separator = length > 0 && folder[length - 1] == '\\' ? "" : "\\";
    if (FormatText(pattern, sizeof pattern, "%s%s*", folder, separator) >= static_cast<int>(sizeof pattern))
        return false;

    WIN32_FIND_DATAA found;
    FindHandle search(FindFirstFileA(pattern, &found));
    if (!search) return false;
    do {
        if (strcmp(found.cFileName, ".") == 0 || strcmp(found.cFileName, "..") == 0) continue;
        Item item{found.dwFileAttributes, found.cFileName,
                  found.cAlternateFileName[0] ? found.cAlternateFileName : found.cFileName};
        byName_.emplace(FoldCase(item.name.c_str()), items_.size());
        // Short forms need not be unique in a folder: the first one found
        // answers, as a search by that name would.
        byShort_.emplace(FoldCase(item.shortName.c_str()), items_.size());
        items_.push_back(std::move(item));
    } while (FindNextFileA(search.get(), &found));
    loaded_ = true;
    return true;
}

const FolderListing::Item* FolderListing::Find(const char* name) const {
    std::string key = FoldCase(name);
    auto hit = byName_.find(key);
    if (hit == byName_.end()) {
        hit = byShort_.find(key);
        if (hit == byShort_.end()) return nullptr;
    }
    return &items_[hit->second];
}

bool FolderListing::HasFile(const char* name) const {
    const Item* item = Find(name);
    return item && !(item->attributes & FILE_ATTRIBUTE_DIRECTORY);
}
