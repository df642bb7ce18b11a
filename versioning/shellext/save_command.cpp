#include "save_command.h"

#include <cstring>
#include <vector>

#include "save_summary.h"
#include "../archive/archive_context.h"
#include "../dialogs/dialogs.h"
#include "../archive/messages.h"
#include "../archive/module.h"
#include "../archive/paths.h"
#include "../archive/refusals.h"
#include "../archive/save_check.h"
#include "../archive/settings.h"
#include "../archive/transfer.h"
#include "../resources/resource.h"

namespace {

constexpr size_t kReasonSize = 400;

bool IsExcludedFromVersioning(const SelectedFile* entry) { return IsExcluded(entry->path, IDS_VERSION_EXCLUDE); }

// One file with an archive: the comment offers the number its next version
// will carry.
void OfferNextVersionNumber(const ArchiveContext& context, SaveOptions& options) {
    char format[MAX_PATH];
    LoadText(IDS_VERSION_COMMENT, format, sizeof format);
    FormatText(options.comment, sizeof options.comment, format, context.NextVersionNumber());
}

// Saves with the dialog's choices: the next version into an existing
// archive, else a new archive with the first. 0 when saved, else why not
// (a status of refusals.h; the path-too-long refusal has been told).
int SaveWithOptions(ArchiveContext& context, const SaveOptions& options) {
    if (context.ArchiveExists()) return context.AddNextVersion(options.comment, options.permanent);
    int result = context.SaveFirstVersion(options.permanent, options.maxTemporary, options.useCompression,
                                          options.singleLocation);
    // Another program made the archive meanwhile: the version goes into it.
    if (result == status::kExists && context.ArchiveExists())
        result = context.AddNextVersion(options.comment, options.permanent);
    return result;
}

void FormatReason(const ArchiveContext& context, int why, char (&reason)[kReasonSize]) {
    FormatRefusalReason(context, why, reason, sizeof reason);
}

// "<file> was not saved: <reason>." for one file.
void TellRefused(HWND owner, const ArchiveContext& context, int why) {
    if (why == status::kPathTooLong) return;  // told where it was found
    char reason[kReasonSize];
    FormatReason(context, why, reason);
    ShowMessage(owner, IDS_SAVE_REFUSED, MB_OK | MB_ICONSTOP, context.workingName, reason);
}

// A damaged archive: the user may set it aside (kept, renamed beside
// itself) so the file starts a new archive. True when that was done.
bool OfferToSetAside(HWND owner, ArchiveContext& context) {
    char aside[MAX_PATH];
    DamagedArchivePath(context, 1, aside);
    if (ShowMessage(owner, IDS_ARCHIVE_DAMAGED_ASK, MB_YESNO | MB_ICONWARNING, context.workingName, aside) != IDYES)
        return false;
    char setAside[MAX_PATH];
    if (SetArchiveAside(context, setAside)) return true;
    ShowMessage(owner, IDS_ARCHIVE_SET_ASIDE_FAILED, MB_OK | MB_ICONSTOP, context.workingName, context.archivePath);
    return false;
}

// What the check of the selection found.
struct SaveFacts {
    bool anyArchived = false;
    bool anyUnarchived = false;
    std::vector<const SelectedFile*> ready;  // the entries to save, in list order
};

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
        // Its problems, if any, have been told by the check.
        ArchiveContext first;
        first.Locate(files.First()->path);
        OfferNextVersionNumber(first, options);
    } else {
        LoadText(IDS_ADD_COMMENT, options.comment, sizeof options.comment);
    }
}

// The check of a selection of several files: nothing is told yet, every
// refusal goes into the summary.
void CheckSeveral(const SelectedFileList& files, SaveFacts& facts, SaveSummary& summary) {
    for (const SelectedFile* entry = files.First(); entry; entry = entry->next) {
        if (IsExcludedFromVersioning(entry)) {
            summary.Excluded();
            continue;
        }
        ArchiveContext context;
        int problem = context.Locate(entry->path);
        FileCheck check = problem ? FileCheck{FileState::Refused, problem} : CheckWorkingFile(context);
        switch (check.state) {
        case FileState::Empty:
            summary.Empty();
            break;
        case FileState::Unchanged:
            summary.Unchanged();
            break;
        case FileState::Refused: {
            char reason[kReasonSize];
            FormatReason(context, check.status, reason);
            char name[MAX_PATH];
            SplitPath(entry->path, nullptr, name);
            summary.Failed(name[0] ? name : entry->path, reason);
            break;
        }
        case FileState::Ready:
            facts.ready.push_back(entry);
            break;
        }
        if (problem) continue;
        if (context.ArchiveExists())
            facts.anyArchived = true;
        else
            facts.anyUnarchived = true;
    }
}

enum class CheckResult { Ready, Nothing };

// The check of a single file: a refusal is told at once, with the
// message of its own; a damaged archive may be set aside.
CheckResult CheckOne(HWND owner, const SelectedFile* entry, char (&title)[MAX_PATH], SaveFacts& facts) {
    if (IsExcludedFromVersioning(entry)) return CheckResult::Nothing;
    ArchiveContext context;
    if (!context.Resolve(entry->path, true, nullptr)) return CheckResult::Nothing;
    CopyText(title, sizeof title, context.workingName);

    FileCheck check = CheckWorkingFile(context);
    if (check.state == FileState::Refused && check.status == status::kDamaged) {
        if (!OfferToSetAside(owner, context)) return CheckResult::Nothing;
        check = CheckWorkingFile(context);
    }
    switch (check.state) {
    case FileState::Empty:
        ShowMessage(owner, IDS_ZERO_LENGTH, MB_OK | MB_ICONSTOP, context.workingName);
        return CheckResult::Nothing;
    case FileState::Unchanged:
        ShowMessage(owner, IDS_NOT_NEWER, MB_OK | MB_ICONSTOP, entry->path);
        return CheckResult::Nothing;
    case FileState::Refused:
        TellRefused(owner, context, check.status);
        return CheckResult::Nothing;
    case FileState::Ready:
        break;
    }
    facts.ready.push_back(entry);
    if (context.ArchiveExists())
        facts.anyArchived = true;
    else
        facts.anyUnarchived = true;
    return CheckResult::Ready;
}

// Saves one file checked before; 0 when saved, else why not.
int SaveOne(const SelectedFile* entry, const SaveOptions& options, ArchiveContext& context, bool* unchanged) {
    *unchanged = false;
    int problem = context.Locate(entry->path);
    if (problem) return problem;
    // The file may have changed since the check.
    FileCheck check = CheckWorkingFile(context);
    if (check.state == FileState::Refused) return check.status;
    if (check.state != FileState::Ready) {
        *unchanged = true;
        return status::kOk;
    }
    return SaveWithOptions(context, options);
}

void SaveFiles(const SelectedFileList& files, const SaveFacts& facts, HWND owner, const SaveOptions& options,
               SaveSummary& summary) {
    char lineFormat[MAX_PATH];
    char windowTitle[MAX_PATH];
    LoadText(IDS_VERSIONING_FILE, lineFormat, sizeof lineFormat);
    LoadText(IDS_VERSIONING, windowTitle, sizeof windowTitle);

    // One file needs no progress window.
    const bool several = files.Count() > 1;
    ProgressDialog progress;
    const bool showProgress = several && progress.Open(owner, files.Count(), windowTitle);
    // Entries the check set aside count as steps too.
    const int skipped = files.Count() - static_cast<int>(facts.ready.size());
    for (int i = 0; showProgress && i < skipped; ++i) progress.Step();

    for (size_t i = 0; i < facts.ready.size(); ++i) {
        const SelectedFile* entry = facts.ready[i];
        if (showProgress) {
            char line[2 * MAX_PATH];
            FormatText(line, sizeof line, lineFormat, entry->path);
            progress.SetText(line);
        }
        ArchiveContext context;
        bool unchanged = false;
        int result = SaveOne(entry, options, context, &unchanged);
        if (!several && result == status::kDamaged && OfferToSetAside(owner, context)) {
            // The damage showed only now: the version starts a new archive.
            result = context.SaveFirstVersion(options.permanent, options.maxTemporary, options.useCompression,
                                              options.singleLocation);
        }
        if (unchanged) {
            summary.Unchanged();
        } else if (result == status::kOk) {
            summary.Saved();
        } else if (several) {
            char reason[kReasonSize];
            FormatReason(context, result, reason);
            summary.Failed(context.workingName[0] ? context.workingName : entry->path, reason);
        } else if (result != status::kDamaged) {
            TellRefused(owner, context, result);
        }
        if (showProgress) progress.Step();
        // Versions saved so far stay; the rest are skipped, and told so.
        if (showProgress && progress.IsCancelled()) {
            summary.NotReached(static_cast<int>(facts.ready.size() - i - 1));
            break;
        }
    }
    progress.Close();
}

}  // namespace

void SaveVersions(SelectedFileList& files, HWND owner) {
    WaitCursor cursor;
    files.ExpandFolders();
    // Archives and the central archive folder are never versioned: a save
    // of a folder that holds them would add an archive of each archive.
    NeverVersioned never;
    for (SelectedFile* entry = files.First(); entry;) {
        SelectedFile* next = entry->next;
        if (never.Covers(entry->path)) files.Remove(entry);
        entry = next;
    }
    if (!files.First()) {
        cursor.Restore();
        ShowMessage(owner, IDS_NO_FILES_TO_SAVE, MB_OK | MB_ICONSTOP);
        return;
    }

    char title[MAX_PATH];
    LoadText(IDS_MULTIPLE_FILES, title, sizeof title);
    const bool several = files.Count() > 1;
    SaveFacts facts;
    SaveSummary summary;
    if (several) {
        CheckSeveral(files, facts, summary);
    } else {
        cursor.Restore();
        if (CheckOne(owner, files.First(), title, facts) != CheckResult::Ready) return;
    }
    cursor.Restore();
    if (facts.ready.empty()) {
        // Nothing to save: the summary says why.
        if (summary.HasNews()) summary.Show(owner);
        return;
    }

    SaveOptions options;
    PrepareOptions(files, facts, title, options);
    if (ShowNewVersionDialog(owner, &options) != IDOK) return;
    SaveFiles(files, facts, owner, options, summary);
    if (several && summary.HasNews()) summary.Show(owner);
}

int SaveOneFileVersion(HWND owner, const char* path) {
    ArchiveContext context;
    // Resolve has told the user why the file has no place for an archive;
    // like the refusals below, the answer is that message's OK.
    if (!context.Resolve(path ? path : "", true, owner)) return IDOK;

    FileCheck check = CheckWorkingFile(context);
    if (check.state == FileState::Refused && check.status == status::kDamaged) {
        if (!OfferToSetAside(owner, context)) return status::kDamaged;
        check = CheckWorkingFile(context);
    }
    switch (check.state) {
    case FileState::Empty:
        return ShowMessage(owner, IDS_ZERO_LENGTH, MB_OK | MB_ICONSTOP, context.workingName);
    case FileState::Unchanged:
        return ShowMessage(owner, IDS_NOT_NEWER, MB_OK | MB_ICONSTOP, context.workingName);
    case FileState::Refused:
        TellRefused(owner, context, check.status);
        return check.status;
    case FileState::Ready:
        break;
    }

    SaveOptions options;
    InitSaveOptions(&options);
    options.title = context.workingName;
    const bool next = context.ArchiveExists();
    options.firstVersion = next ? 0 : 1;
    if (options.firstVersion)
        options.comment[0] = '\0';
    else
        OfferNextVersionNumber(context, options);
    int answer = ShowNewVersionDialog(owner, &options);
    if (answer != IDOK) return answer;
    int result = SaveWithOptions(context, options);
    if (result == status::kDamaged && OfferToSetAside(owner, context)) {
        result = context.SaveFirstVersion(options.permanent, options.maxTemporary, options.useCompression,
                                          options.singleLocation);
        if (result == status::kOk) return 0;  // a first version
    } else if (result != status::kOk) {
        TellRefused(owner, context, result);
    }
    if (result != status::kOk) return result;
    // A further version answers 1, a first one 0 (the engine's success).
    return next ? 1 : 0;
}
