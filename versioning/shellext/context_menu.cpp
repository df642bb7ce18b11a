// CShellExt as a context-menu handler: the "&Keepsake" submenu, its enable
// rules, the commands behind its items and their help texts.
#include "save_command.h"
#include "server.h"
#include "shell_ext.h"
#include "../archive/archive_survey.h"
#include "../archive/handles.h"
#include "../archive/module.h"
#include "../archive/settings.h"
#include "../resources/resource.h"

namespace {

// Offsets of the five commands from the first identifier the shell offers.
enum CommandOffset : UINT {
    kSave = 0,
    kHistory = 1,
    kMove = 2,
    kCopy = 3,
    kDelete = 4,
    kCommandCount = 5,
};

struct MenuTraits {
    using Handle = HMENU;
    static Handle invalid() { return nullptr; }
    static void close(Handle h) { DestroyMenu(h); }
};
using OwnedMenu = UniqueHandle<MenuTraits>;

// What the selection holds, gathered in list order without expanding folders.
struct SelectionFacts {
    bool versioningOn = false;
    bool anyArchived = false;
    bool anyFolder = false;
    bool anyExcluded = false;
    bool anyIncluded = false;
    bool single = false;

    bool SaveEnabled() const { return versioningOn && (anyIncluded || anyFolder); }
    bool HistoryEnabled() const { return versioningOn && single && anyArchived && !anyFolder; }
    bool FileEnabled() const { return versioningOn && !anyExcluded && anyArchived && !anyFolder; }
    bool Show() const { return SaveEnabled() || HistoryEnabled() || FileEnabled(); }
    // True once no further entry can change an enable flag.
    bool Settled() const {
        bool saveKnown = anyIncluded || anyFolder;
        bool historyKnown = !single || anyFolder;
        bool fileKnown = anyExcluded || anyFolder;
        return saveKnown && historyKnown && fileKnown;
    }
};

// The enable rules need only some facts, and each fact only until it is
// known: a folder settles every item, one included entry settles "&Save...",
// one excluded entry (or a second entry) settles what needs all entries
// plain and kept. The walk stops once every item is settled.
SelectionFacts GatherFacts(const SelectedFileList& files) {
    SelectionFacts facts;
    DWORD enabled = 0;
    facts.versioningOn = ReadSettingNumber(IDS_ENABLE_VERSION_CONTROL, &enabled) && enabled != 0;
    facts.single = files.Count() == 1;
    if (!facts.versioningOn) return facts;  // nothing shows, whatever the files are

    // The menu shows no message while the shell builds it: a file without
    // a place for its archive is reported by the command the user chooses.
    ArchiveSurvey survey;
    for (const SelectedFile* entry = files.First(); entry && !facts.Settled(); entry = entry->next) {
        if (survey.IsFolder(entry->path)) {
            facts.anyFolder = true;
            break;
        }
        if (!facts.anyIncluded || !facts.anyExcluded) {
            if (survey.IsExcluded(entry->path))
                facts.anyExcluded = true;
            else
                facts.anyIncluded = true;
        }
        // An archive counts for "&History..." (one entry) and for "&File"
        // (no entry excluded).
        if (!facts.anyArchived && (facts.single || !facts.anyExcluded) && survey.HasArchive(entry->path))
            facts.anyArchived = true;
    }
    return facts;
}

bool AppendItem(HMENU menu, UINT textId, UINT flags, UINT_PTR id) {
    char text[256];
    LoadText(textId, text, sizeof text);
    return AppendMenuA(menu, MF_STRING | flags, id, text) != FALSE;
}

UINT Grayed(bool enabled) { return enabled ? MF_ENABLED : MF_GRAYED; }

// "&Save...", "&History..." and the "&File" popup with "&Move...",
// "&Copy..." and "&Delete...", at the five identifiers from `firstId`.
OwnedMenu BuildKeepsakeMenu(const SelectionFacts& facts, UINT firstId) {
    OwnedMenu popup(CreatePopupMenu());
    OwnedMenu filePopup(CreatePopupMenu());
    if (!popup || !filePopup) return OwnedMenu();
    AppendItem(popup.get(), IDS_MENU_SAVE, Grayed(facts.SaveEnabled()), firstId + kSave);
    AppendItem(popup.get(), IDS_MENU_HISTORY, Grayed(facts.HistoryEnabled()), firstId + kHistory);
    AppendItem(filePopup.get(), IDS_MENU_MOVE, MF_ENABLED, firstId + kMove);
    AppendItem(filePopup.get(), IDS_MENU_COPY, MF_ENABLED, firstId + kCopy);
    AppendItem(filePopup.get(), IDS_MENU_DELETE, MF_ENABLED, firstId + kDelete);
    // The "&File" popup belongs to the first one from here on.
    if (AppendItem(popup.get(), IDS_MENU_FILE, MF_POPUP | Grayed(facts.FileEnabled()),
                   reinterpret_cast<UINT_PTR>(filePopup.get())))
        filePopup.release();
    return popup;
}

}  // namespace

STDMETHODIMP CShellExt::QueryContextMenu(HMENU menu, UINT position, UINT firstId, UINT, UINT flags) {
    Trace("CShellExt::QueryContextMenu()\r\n");
    if (flags & (CMF_DEFAULTONLY | CMF_VERBSONLY)) return MAKE_HRESULT(SEVERITY_SUCCESS, FACILITY_NULL, 0);
    try {
        SelectionFacts facts = GatherFacts(files_);
        OwnedMenu popup = BuildKeepsakeMenu(facts, firstId);
        char text[256];
        LoadText(IDS_MENU_KEEPSAKE, text, sizeof text);
        // Once in the shell's menu, the popup is the shell's to destroy.
        if (popup && facts.Show() &&
            InsertMenuA(menu, position, MF_BYPOSITION | MF_POPUP | MF_STRING, reinterpret_cast<UINT_PTR>(popup.get()),
                        text))
            popup.release();
        // Five identifiers are reserved whether or not the submenu went in.
        return MAKE_HRESULT(SEVERITY_SUCCESS, FACILITY_NULL, kCommandCount);
    } catch (...) {
        return E_FAIL;
    }
}

STDMETHODIMP CShellExt::GetCommandString(UINT_PTR offset, UINT kind, UINT*, CHAR* buffer, UINT size) {
    Trace("CShellExt::GetCommandString()\r\n");
    // Only the single-byte help texts are answered; verbs are not offered.
    if (kind == GCS_HELPTEXTA && offset < kCommandCount && buffer && size > 0)
        LoadText(IDS_HELP_SAVE + static_cast<UINT>(offset), buffer, static_cast<int>(size));
    return S_OK;
}

STDMETHODIMP CShellExt::InvokeCommand(CMINVOKECOMMANDINFO* info) {
    Trace("CShellExt::InvokeCommand()\r\n");
    if (!info) return E_INVALIDARG;
    // A verb given as text has a non-zero high word; only offsets are known.
    ULONG_PTR verb = reinterpret_cast<ULONG_PTR>(info->lpVerb);
    if (verb >> 16) return E_INVALIDARG;
    try {
        switch (verb) {
        case kSave:
            SaveVersions(files_, info->hwnd);
            return S_OK;
        case kHistory:
            return RunHistoryCommand(info->hwnd);
        case kMove:
        case kCopy:
        case kDelete:
            return RunFileCommand(info->hwnd, static_cast<int>(verb), info->lpDirectory);
        default:
            return E_INVALIDARG;
        }
    } catch (...) {
        return E_FAIL;
    }
}
