#include "save_command.h"

#include <cstring>

#include "../archive/archive_context.h"
#include "../archive/dialogs.h"
#include "../archive/messages.h"
#include "../archive/module.h"
#include "../archive/paths.h"
#include "../archive/settings.h"
#include "../resources/resource.h"

namespace {

bool IsExcludedFromVersioning(const SelectedFile* entry) { return IsExcluded(entry->path, IDS_VERSION_EXCLUDE); }

// What the check of the selection found.
struct SaveFacts {
    bool anyNonEmpty = false;
    bool anyNewer = false;
    bool anyArchived = false;
    bool anyUnarchived = false;
};

enum class CheckResult { Checked, Cancelled };

// One file with an archive: the comment offers the number its next version
// will carry.
void OfferNextVersionNumber(const ArchiveContext& context, SaveOptions& options) {
    char format[MAX_PATH];
    LoadText(IDS_VERSION_COMMENT, format, sizeof format);
    FormatText(options.comment, sizeof options.comment, format, context.NextVersionNumber());
}

// The next version into an existing archive (1 saved, 0 not), else a new
// archive with the first (the engine's status, 0 for success).
int SaveWithOptions(ArchiveContext& context, const SaveOptions& options) {
    if (context.ArchiveExists()) return context.SaveNextVersion(options.comment, options.permanent);
    return context.SaveFirstVersion(options.permanent, options.maxTemporary, options.useCompression,
                                    options.singleLocation);
}

// Tells the user why one file is not saved. With several entries the user
// may end the whole command: answers false then.
bool Refuse(HWND owner, WaitCursor& cursor, bool several, UINT messageId, const char* value) {
    cursor.Restore();
    UINT buttons = several ? MB_OKCANCEL : MB_OK;
    int answer = ShowMessage(owner, messageId, buttons | MB_ICONSTOP, value);
    cursor.Show();
    return answer != IDCANCEL;
}

CheckResult CheckFiles(const SelectedFileList& files, HWND owner, WaitCursor& cursor, char (&title)[MAX_PATH],
                       SaveFacts& facts) {
    const bool several = files.Count() > 1;
    for (const SelectedFile* entry = files.First(); entry; entry = entry->next) {
        if (IsExcludedFromVersioning(entry)) continue;
        ArchiveContext context;
        // An archive that cannot be placed has been reported; its file
        // cannot be saved.
        if (!context.Resolve(entry->path, true, nullptr)) continue;
        if (files.Count() == 1) CopyText(title, sizeof title, context.workingName);

        if (IsZeroLengthFile(entry->path)) {
            if (!Refuse(owner, cursor, several, IDS_ZERO_LENGTH, context.workingName)) return CheckResult::Cancelled;
        } else {
            facts.anyNonEmpty = true;
        }
        if (context.WorkingFileIsNewer()) {
            facts.anyNewer = true;
        } else if (!Refuse(owner, cursor, several, IDS_NOT_NEWER, entry->path)) {
            return CheckResult::Cancelled;
        }
        if (context.ArchiveExists())
            facts.anyArchived = true;
        else
            facts.anyUnarchived = true;
    }
    return CheckResult::Checked;
}

// The dialog's starting values: the settings, then what the check found.
void PrepareOptions(const SelectedFileList& files, const SaveFacts& facts, const char* title, SaveOptions& options) {
    InitSaveOptions(&options);
    options.title = title;
    if (!facts.anyArchived) {
        options.firstVersion = 1;  // only new archives: the New Version dialog
        options.comment[0] = '\0';
        return;
    }
    options.firstVersion = 0;
    char multiple[MAX_PATH];
    LoadText(IDS_MULTIPLE_FILES, multiple, sizeof multiple);
    if (strcmp(title, multiple) != 0) {
        ArchiveContext first;
        first.Resolve(files.First()->path, true, nullptr);
        OfferNextVersionNumber(first, options);
    } else {
        LoadText(IDS_ADD_COMMENT, options.comment, sizeof options.comment);
    }
}

void SaveOne(const SelectedFile* entry, const SaveOptions& options) {
    ArchiveContext context;
    if (!context.Resolve(entry->path, true, nullptr)) return;
    if (IsZeroLengthFile(entry->path) || !context.WorkingFileIsNewer()) return;
    // Each operation reports its own failures.
    SaveWithOptions(context, options);
}

void SaveFiles(const SelectedFileList& files, HWND owner, const SaveOptions& options) {
    char lineFormat[MAX_PATH];
    char windowTitle[MAX_PATH];
    LoadText(IDS_VERSIONING_FILE, lineFormat, sizeof lineFormat);
    LoadText(IDS_VERSIONING, windowTitle, sizeof windowTitle);

    // One file needs no progress window.
    ProgressDialog progress;
    const bool showProgress = files.Count() > 1 && progress.Open(owner, files.Count(), windowTitle);

    for (const SelectedFile* entry = files.First(); entry; entry = entry->next) {
        if (!IsExcludedFromVersioning(entry)) {
            if (showProgress) {
                char line[2 * MAX_PATH];
                FormatText(line, sizeof line, lineFormat, entry->path);
                progress.SetText(line);
            }
            SaveOne(entry, options);
            // Versions saved so far stay; the rest are skipped.
            if (showProgress && progress.IsCancelled()) break;
        }
        if (showProgress) progress.Step();  // excluded entries count as steps too
    }
    progress.Close();
}

}  // namespace

void SaveVersions(SelectedFileList& files, HWND owner) {
    WaitCursor cursor;
    files.ExpandFolders();
    if (!files.First()) {
        cursor.Restore();
        ShowMessage(owner, IDS_NO_FILES_TO_SAVE, MB_OK | MB_ICONSTOP);
        return;
    }

    char title[MAX_PATH];
    LoadText(IDS_MULTIPLE_FILES, title, sizeof title);
    SaveFacts facts;
    if (CheckFiles(files, owner, cursor, title, facts) == CheckResult::Cancelled) return;
    cursor.Restore();
    if (!facts.anyNonEmpty || !facts.anyNewer) return;  // nothing to save

    SaveOptions options;
    PrepareOptions(files, facts, title, options);
    if (ShowNewVersionDialog(owner, &options) != IDOK) return;
    SaveFiles(files, owner, options);
}

int SaveOneFileVersion(HWND owner, const char* path) {
    ArchiveContext context;
    // Resolve has told the user why the file has no place for an archive;
    // like the refusals below, the answer is that message's OK.
    if (!context.Resolve(path ? path : "", true, owner)) return IDOK;
    if (IsZeroLengthFile(context.workingPath))
        return ShowMessage(owner, IDS_ZERO_LENGTH, MB_OK | MB_ICONSTOP, context.workingName);
    if (!context.WorkingFileIsNewer())
        return ShowMessage(owner, IDS_NOT_NEWER, MB_OK | MB_ICONSTOP, context.workingName);

    SaveOptions options;
    InitSaveOptions(&options);
    options.title = context.workingName;
    options.firstVersion = context.ArchiveExists() ? 0 : 1;
    if (options.firstVersion)
        options.comment[0] = '\0';
    else
        OfferNextVersionNumber(context, options);
    int answer = ShowNewVersionDialog(owner, &options);
    if (answer != IDOK) return answer;
    return SaveWithOptions(context, options);
}
