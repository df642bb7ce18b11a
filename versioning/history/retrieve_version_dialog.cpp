#include "retrieve_version_dialog.h"

#include <commctrl.h>

#include "archive/archive_context.h"
#include "dialogs/dialog_support.h"
#include "dialogs/dialogs.h"
#include "archive/handles.h"
#include "version_list_view.h"
#include "../resources/resource.h"

namespace {

constexpr UINT_PTR kTimerId = 1;

struct RetrieveVersionRecord {
    ArchiveContext* context = nullptr;
    const char* targetPath = nullptr;  // null: the user picks one
    VersionListView list;
    ULONGLONG lastArchiveTime = 0;  // kept, though the list is not reloaded while open
};

ULONGLONG ArchiveWriteTime(const ArchiveContext& context) {
    FileHandle archive(CreateFileA(context.archivePath, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                   FILE_ATTRIBUTE_NORMAL, nullptr));
    FILETIME written;
    if (!archive || !GetFileTime(archive.get(), nullptr, nullptr, &written)) return 0;
    return (static_cast<ULONGLONG>(written.dwHighDateTime) << 32) | written.dwLowDateTime;
}

INT_PTR OnInit(HWND dialog, RetrieveVersionRecord* record) {
    dialog_support::KeepRecord(dialog, reinterpret_cast<LPARAM>(record));
    record->list.Attach(dialog, GetDlgItem(dialog, IDC_RETRIEVE_LIST), record->context, true);
    record->list.Fill();
    record->lastArchiveTime = ArchiveWriteTime(*record->context);
    // The list shows the archive as it was when the dialog opened: the
    // ticks are not acted upon.
    SetTimer(dialog, kTimerId, 500, nullptr);
    return TRUE;
}

INT_PTR OnNotify(HWND dialog, RetrieveVersionRecord* record, const NMHDR* header) {
    if (header->idFrom != IDC_RETRIEVE_LIST) return FALSE;
    if (header->code == LVN_COLUMNCLICK) {
        record->list.OnColumnClick(reinterpret_cast<const NMLISTVIEW*>(header)->iSubItem);
    } else if (header->code == LVN_ITEMCHANGED) {
        int selected = record->list.SelectedCount();
        EnableWindow(GetDlgItem(dialog, IDC_RETRIEVE_BUTTON), selected == 1);
        if (selected > 1) record->list.ShowComment(-1);
    }
    return TRUE;
}

INT_PTR OnCommand(HWND dialog, RetrieveVersionRecord* record, int id) {
    switch (id) {
    case IDC_RETRIEVE_BUTTON:
        record->list.Focus();
        record->list.RetrieveSelected(record->targetPath);
        record->list.SaveColumnWidths();
        EndDialog(dialog, IDOK);
        return TRUE;
    case IDCANCEL:
        EndDialog(dialog, IDCANCEL);  // the column widths are not kept
        return TRUE;
    default:
        return FALSE;
    }
}

INT_PTR HandleMessage(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_INITDIALOG) return OnInit(dialog, reinterpret_cast<RetrieveVersionRecord*>(lParam));
    auto* record = dialog_support::RecordOf<RetrieveVersionRecord>(dialog);
    if (!record) return FALSE;
    if (HandleContextHelp(dialog, IDD_RETRIEVE_VERSION, message, wParam, lParam)) return TRUE;
    switch (message) {
    case WM_DRAWITEM:
        if (wParam != IDC_RETRIEVE_LIST) return FALSE;
        return record->list.DrawItem(reinterpret_cast<const DRAWITEMSTRUCT*>(lParam));
    case WM_NOTIFY:
        return OnNotify(dialog, record, reinterpret_cast<const NMHDR*>(lParam));
    case WM_COMMAND:
        return OnCommand(dialog, record, LOWORD(wParam));
    case WM_DESTROY:
        record->list.Detach();
        return TRUE;
    default:
        return FALSE;
    }
}

}  // namespace

int ShowRetrieveVersionDialog(HWND owner, ArchiveContext* context, const char* targetPath) {
    RetrieveVersionRecord record;
    record.context = context;
    record.targetPath = targetPath;
    INITCOMMONCONTROLSEX classes{sizeof classes, ICC_LISTVIEW_CLASSES};
    InitCommonControlsEx(&classes);
    return dialog_support::RunModalDialog(owner, IDD_RETRIEVE_VERSION,
                                          dialog_support::GuardedDialogProc<HandleMessage>,
                                          reinterpret_cast<LPARAM>(&record));
}
