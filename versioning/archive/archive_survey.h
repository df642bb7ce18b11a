// What the context menu asks about each file of a selection (is it a
// folder, is it kept out of versioning, has it an archive), answered for
// many files at once: settings are read once, and every folder involved,
// the central archive folder included, is searched once per survey.
// Nothing is kept between surveys, so each menu sees the folders as they
// are now.
#ifndef KEEPSHEL_ARCHIVE_SURVEY_H
#define KEEPSHEL_ARCHIVE_SURVEY_H

#include <windows.h>

#include <memory>
#include <string>
#include <unordered_map>

#include "archive_context.h"
#include "folder_listing.h"
#include "settings.h"

class ArchiveSurvey {
public:
    ArchiveSurvey();
    ArchiveSurvey(const ArchiveSurvey&) = delete;
    ArchiveSurvey& operator=(const ArchiveSurvey&) = delete;

    // The directory bit is set, or the path cannot be found (a vanished
    // path counts as a folder).
    bool IsFolder(const char* path);
    // Kept out by "VersionExclude", or never versioned (an archive, or a
    // file of the central archive folder).
    bool IsExcluded(const char* path);
    // The file's archive is there, beside it or in the central folder:
    // what ArchiveContext::Locate and ArchiveExists would answer, without
    // creating any folder.
    bool HasArchive(const char* path);

private:
    // A working folder's entries and its short form, read on first use.
    struct Folder {
        FolderListing listing;
        std::string shortForm;  // empty when the folder has none
    };
    Folder& FolderOf(const char* folder);
    // The entry `path` names, when its folder can be searched and holds it;
    // `folder` gets the path's folder.
    const FolderListing::Item* ItemOf(const char* path, Folder** folder);
    const FolderListing& Central();

    ExclusionList exclusions_;
    NeverVersioned never_;
    char centralFolder_[MAX_PATH];  // "VersionsPath" without trailing backslash; empty when unset
    std::unique_ptr<FolderListing> central_;
    std::unordered_map<std::string, std::unique_ptr<Folder>> folders_;  // by folded folder path
};

#endif
