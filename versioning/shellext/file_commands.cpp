// The "&File" commands: move, copy and delete files together with their
// archives. Each works on the whole selection, file by file, and tells the
// user about problems instead of returning them.
#include <windows.h>
#include <commdlg.h>

#include <cstddef>
#include <cstring>

#include "shell_ext.h"
#include "../archive/archive_context.h"
#include "../dialogs/dialogs.h"
#include "../archive/messages.h"
#include "../archive/module.h"
#include "../archive/paths.h"
#include "../archive/transfer.h"
#include "../resources/resource.h"

namespace {

// Command offsets of the "&File" submenu.
constexpr int kMoveOffset = 2;
constexpr int kDeleteOffset = 4;

// The file dialogs get the structure as the first 32-bit shells knew it:
// up to the template name, without the fields later versions added.
constexpr DWORD kFileDialogStructSize = offsetof(OPENFILENAMEA, lpTemplateName) + sizeof(LPCSTR);
#ifndef _WIN64
static_assert(kFileDialogStructSize == 76, "the dialog structure of the first 32-bit shells");
#endif

// One file type, "SAME TYPE", with an empty pattern, and the empty entry
// that ends the list (the literal's own terminator is the third NUL).
const char kSameTypeFilter[] = "SAME TYPE\0\0";

// Shows the hidden name so OK closes the folder chooser on any folder.
const char kDummyName[] = "DUMMY.BAK";

constexpr size_t kTitleSize = 200;      // dialog titles: 199 characters
constexpr size_t kShortTextSize = 100;  // progress titles and formats: 99

// The Open dialog in its folder-chooser form changes the process's current
// folder while the user walks the folders. The shell's process gets its own
// back, or a chosen folder would stay in use by it.
class CurrentFolderKeeper {
public:
    CurrentFolderKeeper() {
        DWORD length = GetCurrentDirectoryA(sizeof saved_, saved_);
        kept_ = length > 0 && length < sizeof saved_;
    }
    ~CurrentFolderKeeper() {
        if (kept_) SetCurrentDirectoryA(saved_);
    }
    CurrentFolderKeeper(const CurrentFolderKeeper&) = delete;
    CurrentFolderKeeper& operator=(const CurrentFolderKeeper&) = delete;

private:
    char saved_[MAX_PATH];
    bool kept_ = false;
};

// What both file dialogs share: owner, module, the name box's buffer, the
// starting folder and the title.
OPENFILENAMEA FileDialogRecord(HWND owner, const char* directory, const char* title, char (&file)[MAX_PATH]) {
    OPENFILENAMEA dialog = {};
    dialog.lStructSize = kFileDialogStructSize;
    dialog.hwndOwner = owner;
    dialog.hInstance = ModuleInstance();
    dialog.lpstrFile = file;
    dialog.nMaxFile = sizeof file;
    dialog.lpstrInitialDir = directory;
    dialog.lpstrTitle = title;
    return dialog;
}

// One file: the Save As dialog, starting with the file's own full path.
// True with the chosen path in `destination`.
bool ChooseDestinationPath(HWND owner, const char* directory, TransferKind kind, const char* path,
                           char (&destination)[MAX_PATH]) {
    char format[kShortTextSize];
    LoadText(kind == TransferKind::Move ? IDS_MOVE_ONE_TITLE : IDS_COPY_ONE_TITLE, format, sizeof format);
    char title[kTitleSize];
    FormatText(title, sizeof title, format, path);
    CopyText(destination, sizeof destination, path);

    OPENFILENAMEA dialog = FileDialogRecord(owner, directory, title, destination);
    dialog.lpstrFilter = kSameTypeFilter;
    // The dialog itself asks before an existing file is replaced.
    dialog.Flags = OFN_OVERWRITEPROMPT | OFN_HIDEREADONLY | OFN_NOCHANGEDIR;
    if (!GetSaveFileNameA(&dialog)) return false;
    destination[sizeof destination - 1] = '\0';
    return true;
}

// Several files: the Open dialog as a folder chooser (template 19000).
// True with the chosen folder, without trailing backslash, in `folder`; a
// drive root keeps its drive part ("E:").
bool ChooseDestinationFolder(HWND owner, const char* directory, TransferKind kind, char (&folder)[MAX_PATH]) {
    char title[kTitleSize];
    LoadText(kind == TransferKind::Move ? IDS_MOVE_MANY_TITLE : IDS_COPY_MANY_TITLE, title, sizeof title);
    CopyText(folder, sizeof folder, kDummyName);

    OPENFILENAMEA dialog = FileDialogRecord(owner, directory, title, folder);
    dialog.Flags = OFN_ENABLETEMPLATE | OFN_PATHMUSTEXIST;
    dialog.lpTemplateName = MAKEINTRESOURCEA(IDD_FOLDER_CHOOSER);
    CurrentFolderKeeper keeper;
    if (!GetOpenFileNameA(&dialog)) return false;
    folder[sizeof folder - 1] = '\0';

    // Cut at the start of the (dummy) file name.
    size_t offset = dialog.nFileOffset;
    size_t length = strlen(folder);
    if (offset > length) offset = length;
    if (offset > 0 && folder[offset - 1] == '\\')
        folder[offset - 1] = '\0';
    else
        folder[offset] = '\0';
    return true;
}

// Moves or copies one entry to `target` (a full path for one file, the
// destination folder for several).
TransferResult TransferOne(HWND owner, const char* path, const char* name, const char* target, bool several,
                           TransferKind kind) {
    // A file whose archive cannot be placed stays where it is: moved or
    // copied alone, it would part from its versions. Resolve has told the
    // user why.
    ArchiveContext context;
    if (!context.Resolve(path, true, nullptr)) return TransferResult::Failed;

    char destination[MAX_PATH];
    if (!several) {
        CopyText(destination, sizeof destination, target);
    } else if (FormatText(destination, sizeof destination, "%s\\%s", target, name) >=
               static_cast<int>(sizeof destination)) {
        // Cut short, the path would name another file.
        ShowMessage(owner, kind == TransferKind::Move ? IDS_MOVE_FAILED : IDS_COPY_FAILED, MB_OK, name, target);
        return TransferResult::Failed;
    }
    // With one file the Save As dialog has asked about an existing file.
    return TransferWithVersions(context, destination, several, kind);
}

void TransferFiles(const SelectedFileList& files, HWND owner, const char* directory, TransferKind kind) {
    const bool several = files.Count() > 1;
    char target[MAX_PATH];
    const bool chosen = several ? ChooseDestinationFolder(owner, directory, kind, target)
                                : ChooseDestinationPath(owner, directory, kind, files.First()->path, target);
    if (!chosen) return;

    ProgressDialog progress;
    char lineFormat[kShortTextSize] = "";
    if (several) {
        char windowTitle[kShortTextSize];
        LoadText(kind == TransferKind::Move ? IDS_MOVING : IDS_COPYING, windowTitle, sizeof windowTitle);
        LoadText(IDS_MOVE_COPY_PROGRESS, lineFormat, sizeof lineFormat);
        progress.Open(owner, files.Count(), windowTitle);
    }

    for (const SelectedFile* entry = files.First(); entry; entry = entry->next) {
        // Files done so far stay done.
        if (progress.IsCancelled()) break;
        char folder[MAX_PATH], name[MAX_PATH];
        SplitPath(entry->path, folder, name);
        if (progress.window()) {
            char line[3 * MAX_PATH + kShortTextSize];
            FormatText(line, sizeof line, lineFormat, name, folder, target);
            progress.SetText(line);
        }
        // Cancel at a question about the destination stops the remaining
        // files too; No skips only this one.
        if (TransferOne(owner, entry->path, name, target, several, kind) == TransferResult::Cancelled) break;
        progress.Step();
    }
    progress.Close();
}

// Deletes one file and its archive, both or neither, and tells the user
// when it stays.
void DeleteOne(HWND owner, const char* path) {
    // Without a place for its archive, the file would go and leave its
    // versions behind, to be taken up later by an unrelated file of the
    // same name. Resolve has told the user why.
    ArchiveContext context;
    if (!context.Resolve(path, true, nullptr)) return;
    switch (DeleteWithVersions(context)) {
    case DeleteResult::Busy:
        ShowMessage(owner, IDS_DELETE_BUSY, MB_OK | MB_ICONWARNING, context.workingName);
        break;
    case DeleteResult::Failed:
        ShowMessage(owner, IDS_DELETE_FAILED, MB_OK | MB_ICONWARNING, context.workingName);
        break;
    case DeleteResult::ArchiveKept:
        ShowMessage(owner, IDS_DELETE_ARCHIVE_KEPT, MB_OK | MB_ICONWARNING, context.workingName, context.archivePath);
        break;
    case DeleteResult::Done:
        break;
    }
}

void DeleteFiles(const SelectedFileList& files, HWND owner) {
    const bool several = files.Count() > 1;
    const UINT style = MB_YESNO | MB_ICONEXCLAMATION;
    int answer = several ? ShowMessage(owner, IDS_CONFIRM_DELETE_MANY, style, files.Count())
                         : ShowMessage(owner, IDS_CONFIRM_DELETE_ONE, style, files.First()->path);
    if (answer != IDYES) return;

    char windowTitle[kShortTextSize], lineFormat[kShortTextSize];
    LoadText(IDS_DELETING, windowTitle, sizeof windowTitle);
    LoadText(IDS_DELETING_FILE, lineFormat, sizeof lineFormat);
    ProgressDialog progress;
    if (several) progress.Open(owner, files.Count(), windowTitle);

    for (const SelectedFile* entry = files.First(); entry; entry = entry->next) {
        if (progress.IsCancelled()) break;
        if (progress.window()) {
            char line[MAX_PATH + kShortTextSize];
            FormatText(line, sizeof line, lineFormat, entry->path);
            progress.SetText(line);
        }
        DeleteOne(owner, entry->path);
        progress.Step();
    }
    progress.Close();
}

}  // namespace

HRESULT CShellExt::RunFileCommand(HWND owner, int offset, const char* directory) {
    // The menu offers these commands only for a selection; an empty one
    // has nothing to work on.
    if (!files_.First()) return S_OK;
    if (offset == kDeleteOffset)
        DeleteFiles(files_, owner);
    else
        TransferFiles(files_, owner, directory, offset == kMoveOffset ? TransferKind::Move : TransferKind::Copy);
    return S_OK;
}
