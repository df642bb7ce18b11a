#include "archive_context.h"

#include <cstring>

#include <winnetwk.h>

#include "messages.h"
#include "module.h"
#include "paths.h"
#include "settings.h"
#include "../resources/resource.h"

namespace {

bool ArchiveIn(const char* folder, const char* archiveName) {
    if (!archiveName[0]) return false;
    char path[MAX_PATH];
    if (FormatText(path, sizeof path, "%s\\%s", folder, archiveName) >= static_cast<int>(sizeof path)) return false;
    return FileExists(path);
}

bool Refuse(bool reportErrors, HWND owner, UINT messageId) {
    if (reportErrors) ShowMessage(owner ? owner : GetActiveWindow(), messageId, MB_OK | MB_ICONSTOP);
    return false;
}

}  // namespace

bool ArchiveContext::Resolve(const char* path, bool reportErrors, HWND owner) {
    // A refusal must leave empty texts and zero tags, never leftovers.
    memset(this, 0, sizeof *this);

    if (!CopyText(workingPath, sizeof workingPath, path)) {
        workingPath[0] = '\0';
        return Refuse(reportErrors, owner, IDS_PATH_TOO_LONG);
    }
    ArchiveNameResult named = MakeArchiveName(workingPath, archiveName);
    SplitPath(workingPath, workingFolder, workingName);
    if (named != ArchiveNameResult::Made ||
        strlen(workingFolder) + 1 + strlen(archiveName) >= MAX_PATH) {
        archiveName[0] = '\0';
        return Refuse(reportErrors, owner, IDS_PATH_TOO_LONG);
    }

    if (ArchiveBesideFileExists()) {
        // An archive beside the file always wins over the central folder.
        CopyText(archiveFolder, sizeof archiveFolder, workingFolder);
    } else {
        DWORD size = sizeof archiveFolder;
        if (!ReadSettingString(IDS_VERSIONS_PATH, archiveFolder, &size) || !archiveFolder[0])
            CopyText(archiveFolder, sizeof archiveFolder, workingFolder);
        if (!FolderExists(archiveFolder) && !CreateFolderPath(archiveFolder))
            return Refuse(reportErrors, owner, IDS_CANT_CREATE_FOLDER);
    }

    size_t folderLength = strlen(archiveFolder);
    if (folderLength > 0 && archiveFolder[folderLength - 1] == '\\') archiveFolder[--folderLength] = '\0';

    // The central folder may be longer than the working folder: the whole
    // archive path must still fit its buffer.
    if (folderLength + 1 + strlen(archiveName) >= MAX_PATH) {
        archiveFolder[0] = '\0';
        archiveName[0] = '\0';
        return Refuse(reportErrors, owner, IDS_PATH_TOO_LONG);
    }
    FormatText(archivePath, sizeof archivePath, "%s\\%s", archiveFolder, archiveName);

    DWORD userLength = sizeof userName;
    if (WNetGetUserA(nullptr, userName, &userLength) != NO_ERROR || !userName[0])
        LoadText(IDS_DEFAULT_USER, userName, sizeof userName);

    plainTag.code = 2;
    LoadText(IDS_PRODUCT_NAME, productTag.text, sizeof productTag.text);
    productTag.code = 0;
    return true;
}

bool ArchiveContext::ArchiveExists() const { return ArchiveIn(archiveFolder, archiveName); }

bool ArchiveContext::ArchiveBesideFileExists() const { return ArchiveIn(workingFolder, archiveName); }
