// One folder's entries, read by a single directory search and looked up by
// name many times: the facts a menu needs about many files of one folder
// cost one search instead of several look-ups per file.
#ifndef KEEPSHEL_FOLDER_LISTING_H
#define KEEPSHEL_FOLDER_LISTING_H

#include <windows.h>

#include <string>
#include <unordered_map>
#include <vector>

class FolderListing {
public:
    struct Item {
        DWORD attributes;
        std::string name;       // as the folder holds it
        std::string shortName;  // the short form; the name itself when that is short already
    };

    // Reads every entry of `folder` ("C:" stands for the root of C:).
    // False when the folder cannot be searched; the listing is then empty.
    bool Load(const char* folder);
    bool loaded() const { return loaded_; }

    // The entry that `name` names, by its name or its short form, case
    // ignored as the file system ignores it; null when there is none.
    const Item* Find(const char* name) const;
    // True when `name` names an entry that is not a folder.
    bool HasFile(const char* name) const;

private:
    std::vector<Item> items_;
    std::unordered_map<std::string, size_t> byName_;   // upper-cased name -> item
    std::unordered_map<std::string, size_t> byShort_;  // upper-cased short form -> first item with it
    bool loaded_ = false;
};

// `text` in upper case as the system folds it (beyond ASCII as well).
std::string FoldCase(const char* text);

#endif
