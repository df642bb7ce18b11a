// The history page: one property page (dialog 102) that shows a file's
// versions with a toolbar, the archive's limit of temporary versions and
// the comment of the chosen version. It is shown in the shell's Properties
// sheet and in the stand-alone "Version History" sheet alike.
#ifndef KEEPSHEL_HISTORY_PAGE_H
#define KEEPSHEL_HISTORY_PAGE_H

#include <windows.h>
#include <commctrl.h>
#include <prsht.h>

#include "archive/archive_context.h"
#include "version_list_view.h"

class CShellExt;

// One per page shown. Its maker keeps it alive until the page is released.
struct HistoryPage {
    explicit HistoryPage(ArchiveContext* archive, CShellExt* owningObject = nullptr)
        : owner(owningObject), context(archive) {}
    HistoryPage(const HistoryPage&) = delete;
    HistoryPage& operator=(const HistoryPage&) = delete;

    HWND window = nullptr;       // the page's dialog, once initialised
    CShellExt* owner = nullptr;  // the object that added the page to a Properties sheet, if any
    VersionListView list;
    ArchiveContext* context = nullptr;
    UINT_PTR timerId = 0;
    ULONGLONG lastArchiveTime = 0;  // last-write time of the archive when the list was last loaded
    bool refreshEnabled = true;     // false while a question about the limit is open
    HWND toolbar = nullptr;
    bool settingLimit = false;  // the page itself is writing the limit field: not the user's change
    char tooltip[64] = "";      // outlives the tooltip request that shows it
    WCHAR tooltipWide[64] = L"";
};

// Page flags of the two hosts: a Properties-sheet page is also released
// through a callback.
constexpr DWORD kHistoryWindowPageFlags = PSP_HASHELP | PSP_USEREFPARENT;
constexpr DWORD kPropertiesPageFlags = PSP_HASHELP | PSP_USEREFPARENT | PSP_USECALLBACK;

// The description of the page for CreatePropertySheetPageA or a sheet
// header: template 102, the page procedure, `page` as its parameter.
// Registers the common controls the page is built from.
PROPSHEETPAGEA MakeHistoryPageDescription(HistoryPage* page, DWORD flags, LPFNPSPCALLBACKA callback,
                                          UINT* refCounter);

INT_PTR CALLBACK HistoryPageProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

// Keeps the page from reloading its list while the user answers a
// question about what it shows (deleting, retrieving, printing, the
// limit): a reload would move the rows under the question.
class ReloadPause {
public:
    explicit ReloadPause(HistoryPage* page) : page_(page), was_(page->refreshEnabled) { page->refreshEnabled = false; }
    ~ReloadPause() { page_->refreshEnabled = was_; }
    ReloadPause(const ReloadPause&) = delete;
    ReloadPause& operator=(const ReloadPause&) = delete;

private:
    HistoryPage* page_;
    bool was_;
};

// Steps of the page, also run by its messages.
void UpdateToolbar(HistoryPage* page);
bool ApplyPage(HistoryPage* page);  // true: the page stays active
void CheckArchiveChanged(HistoryPage* page);

#endif
