#include "archive_survey.h"

#include <cstring>

#include "module.h"
#include "paths.h"
#include "../resources/resource.h"

ArchiveSurvey::ArchiveSurvey() : exclusions_(IDS_VERSION_EXCLUDE) {
    DWORD size = sizeof centralFolder_;
    if (!ReadSettingString(IDS_VERSIONS_PATH, centralFolder_, &size)) centralFolder_[0] = '\0';
    size_t length = strlen(centralFolder_);
    if (length > 0 && centralFolder_[length - 1] == '\\') centralFolder_[length - 1] = '\0';
}

ArchiveSurvey::Folder& ArchiveSurvey::FolderOf(const char* folder) {
    std::unique_ptr<Folder>& slot = folders_[FoldCase(folder)];
    if (slot) return *slot;
    slot.reset(new Folder);
    slot->listing.Load(folder);

    // A bare drive names its root here, as it does in archive paths.
    char query[MAX_PATH + 1];
    if (!CopyText(query, MAX_PATH, folder)) return *slot;
    size_t length = strlen(query);
    if (length == 2 && query[1] == ':') strcat(query, "\\");
    char shortForm[MAX_PATH];
    DWORD shortLength = GetShortPathNameA(query, shortForm, sizeof shortForm);
    if (shortLength == 0 || shortLength >= sizeof shortForm) return *slot;
    if (shortForm[shortLength - 1] == '\\') shortForm[shortLength - 1] = '\0';
    slot->shortForm = shortForm;
    return *slot;
}

const FolderListing::Item* ArchiveSurvey::ItemOf(const char* path, Folder** folder) {
    *folder = nullptr;
    char folderText[MAX_PATH], name[MAX_PATH];
    SplitPath(path, folderText, name);
    if (!name[0]) return nullptr;
    *folder = &FolderOf(folderText);
    return (*folder)->listing.loaded() ? (*folder)->listing.Find(name) : nullptr;
}

const FolderListing& ArchiveSurvey::Central() {
    if (!central_) {
        central_.reset(new FolderListing);
        central_->Load(centralFolder_);
    }
    return *central_;
}

bool ArchiveSurvey::IsFolder(const char* path) {
    Folder* folder;
    if (const FolderListing::Item* item = ItemOf(path, &folder))
        return (item->attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    // Not in its folder's listing: ask the file system, which also knows
    // names a listing does not spell the same way. INVALID_FILE_ATTRIBUTES
    // has every bit set, the directory bit included.
    return (GetFileAttributesA(path) & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool ArchiveSurvey::IsExcluded(const char* path) {
    if (never_.Covers(path)) return true;
    if (!exclusions_.present()) return false;
    Folder* folder;
    if (const FolderListing::Item* item = ItemOf(path, &folder))
        return exclusions_.Matches(path, item->shortName.c_str());
    char shortPath[MAX_PATH];
    DWORD shortLength = GetShortPathNameA(path, shortPath, sizeof shortPath);
    return exclusions_.Matches(path, shortLength > 0 && shortLength < sizeof shortPath ? shortPath : nullptr);
}

bool ArchiveSurvey::HasArchive(const char* path) {
    Folder* folder;
    const FolderListing::Item* item = ItemOf(path, &folder);
    if (!item || folder->shortForm.empty()) {
        // Whatever the listings cannot settle is asked the long way.
        ArchiveContext context;
        context.Locate(path);
        return context.ArchiveExists();
    }

    char shortPath[MAX_PATH], archiveName[MAX_PATH], workingFolder[MAX_PATH];
    if (FormatText(shortPath, sizeof shortPath, "%s\\%s", folder->shortForm.c_str(), item->shortName.c_str()) >=
        static_cast<int>(sizeof shortPath))
        return false;
    if (ArchiveNameFromShortPath(shortPath, archiveName) != ArchiveNameResult::Made) return false;
    // The archive's path must fit its buffer beside the file and in the
    // central folder alike, as Locate demands.
    SplitPath(path, workingFolder, nullptr);
    size_t nameLength = strlen(archiveName);
    if (strlen(workingFolder) + 1 + nameLength >= MAX_PATH) return false;
    if (folder->listing.HasFile(archiveName)) return true;
    if (!centralFolder_[0] || strlen(centralFolder_) + 1 + nameLength >= MAX_PATH) return false;
    return Central().HasFile(archiveName);
}
