#include "archive_context.h"

#include <cstring>

#include <winnetwk.h>

#include "messages.h"
#include "module.h"
#include "paths.h"
#include "refusals.h"
#include "settings.h"
#include "../resources/resource.h"

namespace {

bool ArchiveIn(const char* folder, const char* archiveName) {
    if (!archiveName[0]) return false;
    char path[MAX_PATH];
    if (FormatText(path, sizeof path, "%s\\%s", folder, archiveName) >= static_cast<int>(sizeof path)) return false;
    return FileExists(path);
}

bool IsDirectory(const char* path) {
    DWORD attributes = GetFileAttributesA(path);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

// "C:\a\" and "c:\A" name one folder.
void TrimTrailingBackslash(char* folder) {
    size_t length = strlen(folder);
    if (length > 0 && folder[length - 1] == '\\') folder[length - 1] = '\0';
}

}  // namespace

int ArchiveContext::Locate(const char* path) {
    // A refusal must leave empty texts and zero tags, never leftovers.
    memset(this, 0, sizeof *this);

    if (!CopyText(workingPath, sizeof workingPath, path)) {
        workingPath[0] = '\0';
        return status::kPathTooLong;
    }
    ArchiveNameResult named = MakeArchiveName(workingPath, archiveName);
    SplitPath(workingPath, workingFolder, workingName);
    if (named == ArchiveNameResult::NoShortForm) {
        archiveName[0] = '\0';
        // Without a short form there is no archive name: say whether the
        // folder is missing or the name itself is the problem.
        return IsDirectory(workingFolder[0] ? workingFolder : ".") ? status::kNoShortName : status::kFolderMissing;
    }
    if (named != ArchiveNameResult::Made || strlen(workingFolder) + 1 + strlen(archiveName) >= MAX_PATH) {
        archiveName[0] = '\0';
        return status::kPathTooLong;
    }

    if (ArchiveBesideFileExists()) {
        // An archive beside the file always wins over the central folder.
        CopyText(archiveFolder, sizeof archiveFolder, workingFolder);
    } else {
        DWORD size = sizeof archiveFolder;
        if (!ReadSettingString(IDS_VERSIONS_PATH, archiveFolder, &size) || !archiveFolder[0])
            CopyText(archiveFolder, sizeof archiveFolder, workingFolder);
        if (!FolderExists(archiveFolder) && !CreateFolderPath(archiveFolder)) return status::kCantCreateFolder;
    }

    size_t folderLength = strlen(archiveFolder);
    if (folderLength > 0 && archiveFolder[folderLength - 1] == '\\') archiveFolder[--folderLength] = '\0';

    // The central folder may be longer than the working folder: the whole
    // archive path must still fit its buffer.
    if (folderLength + 1 + strlen(archiveName) >= MAX_PATH) {
        archiveFolder[0] = '\0';
        archiveName[0] = '\0';
        return status::kPathTooLong;
    }
    FormatText(archivePath, sizeof archivePath, "%s\\%s", archiveFolder, archiveName);

    DWORD userLength = sizeof userName;
    if (WNetGetUserA(nullptr, userName, &userLength) != NO_ERROR || !userName[0])
        LoadText(IDS_DEFAULT_USER, userName, sizeof userName);

    plainTag.code = 2;
    LoadText(IDS_PRODUCT_NAME, productTag.text, sizeof productTag.text);
    productTag.code = 0;
    return status::kOk;
}

bool ArchiveContext::Resolve(const char* path, bool reportErrors, HWND owner) {
    int problem = Locate(path);
    if (problem != status::kOk && reportErrors) ReportResolveProblem(owner ? owner : GetActiveWindow(), *this, problem);
    return problem == status::kOk;
}

void ReportResolveProblem(HWND owner, const ArchiveContext& context, int problem) {
    const UINT style = MB_OK | MB_ICONSTOP;
    switch (problem) {
    case status::kCantCreateFolder:
        ShowMessage(owner, IDS_CANT_CREATE_FOLDER, style);
        break;
    case status::kFolderMissing:
        ShowMessage(owner, IDS_FOLDER_MISSING, style, context.workingPath);
        break;
    case status::kNoShortName:
        ShowMessage(owner, IDS_NO_SHORT_NAME, style, context.workingPath);
        break;
    default:
        ShowMessage(owner, IDS_PATH_TOO_LONG, style);
        break;
    }
}

bool ArchiveContext::ArchiveExists() const { return ArchiveIn(archiveFolder, archiveName); }

bool ArchiveContext::ArchiveBesideFileExists() const { return ArchiveIn(workingFolder, archiveName); }

bool IsArchiveFileName(const char* path) {
    const char* name = strrchr(path, '\\');
    name = name ? name + 1 : path;
    const char* dot = strrchr(name, '.');
    return dot && _stricmp(dot, ".ks") == 0;
}

NeverVersioned::NeverVersioned() {
    DWORD size = sizeof centralFolder_;
    if (!ReadSettingString(IDS_VERSIONS_PATH, centralFolder_, &size)) centralFolder_[0] = '\0';
    TrimTrailingBackslash(centralFolder_);
}

bool NeverVersioned::Covers(const char* path) const {
    if (IsArchiveFileName(path)) return true;
    size_t length = strlen(centralFolder_);
    if (length == 0) return false;
    // The folder itself, or a file directly in it: archives lie there side
    // by side, never in folders of their own.
    if (_stricmp(path, centralFolder_) == 0) return true;
    const char* name = strrchr(path, '\\');
    return name && static_cast<size_t>(name - path) == length && _strnicmp(path, centralFolder_, length) == 0;
}
