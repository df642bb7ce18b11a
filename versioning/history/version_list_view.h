// The list of one file's versions: a report-style list control that this
// component fills from the archive, sorts, draws itself (a check box for
// "permanent" in the first column) and subclasses for mouse and keyboard
// input. It also carries the operations on the selected versions.
#ifndef KEEPSHEL_VERSION_LIST_VIEW_H
#define KEEPSHEL_VERSION_LIST_VIEW_H

#include <windows.h>

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

#include "archive/archive_context.h"

// Sort keys: both position keys order by the place in the archive's list,
// they differ only in the column the user clicked.
enum VersionSortKey {
    kSortByNumber = 1,
    kSortByDateTime = 2,
    kSortByUser = 3,
};

class VersionListView {
public:
    VersionListView() = default;
    VersionListView(const VersionListView&) = delete;
    VersionListView& operator=(const VersionListView&) = delete;

    // Records the windows and the context, subclasses the list control and
    // builds its columns and check-box images.
    void Attach(HWND owner, HWND list, ArchiveContext* context, bool readOnly);
    // Gives the list control its own window procedure back.
    void Detach();

    bool Fill();     // true also without an archive (the list stays empty)
    // Refills, keeping the selected and focused versions (by number, not by
    // row) and the first visible version; when no selected version is left,
    // the row at the marked position takes over its selection and focus. A
    // list at its head with at most its first row chosen stays at the head.
    bool Refresh();
    void SortBy(int key);
    int CompareEntries(LPARAM first, LPARAM second) const;
    // The column-click rule: "#" and "Date & Time" flip the direction when
    // clicked again, "Updated By" always sorts names ascending.
    void OnColumnClick(int column);

    BOOL DrawItem(const DRAWITEMSTRUCT* item) const;

    void ShowComment(int row) const;
    void TogglePermanent(int row);
    int SelectedCount() const;
    // The version numbers of the selected rows, top to bottom.
    std::vector<int> SelectedVersionNumbers() const;
    void DeleteSelected();
    // Deletes these versions (numbers taken when the user asked, so no
    // reload since can change which), then reloads the list.
    void DeleteVersions(const std::vector<int>& numbers);
    void RetrieveSelected(const char* targetPath);
    void ApplyPermanence();
    void SaveColumnWidths() const;
    void Focus() const;
    void PrintHistory() const;  // history_printing.cpp

    HWND listWindow() const { return list_; }
    HWND ownerWindow() const { return owner_; }
    ArchiveContext* context() const { return context_; }
    int sortKey() const { return sortKey_; }
    bool descending() const { return descending_; }
    bool readOnly() const { return readOnly_; }

    // Where the check box of a row is drawn, and where a click toggles it.
    bool CheckBoxRect(int row, RECT* rect) const;
    // The version number shown in a row's "#" column; -1 when unreadable.
    int RowVersionNumber(int row) const;
    int RowImage(int row) const;

private:
    // What a reload must give back: selection, focus and scroll position.
    struct Snapshot {
        int mark = -1;
        UINT markState = 0;
        int markVersion = -1;
        std::vector<int> selected;
        int focusedVersion = -1;
        int top = 0;
        int topVersion = -1;
    };
    // The version list as one reload read it.
    struct VersionsRead {
        std::unique_ptr<VersionEntry[]> entries;
        int count = 0;
    };
    // Fill without pausing the drawing; hands what it read to `read`.
    bool FillRows(VersionsRead* read);
    void ShowComment(int row, const VersionEntry* entries, int count) const;
    Snapshot TakeSnapshot() const;
    int Restore(const Snapshot& before);  // answers the new selection mark

    static LRESULT CALLBACK SubclassProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    static int CALLBACK CompareCallback(LPARAM first, LPARAM second, LPARAM self);
    LRESULT OnMessage(UINT message, WPARAM wParam, LPARAM lParam);
    bool OnLeftButtonDown(LPARAM position);
    bool OnKeyUp(WPARAM key);
    void AddColumns() const;
    void AddImages() const;
    void DrawCheckBox(HDC dc, const RECT& row, int x, int width, int image) const;
    void DrawCellText(HDC dc, const RECT& row, int x, int width, int rowIndex, int subItem, bool centred) const;
    int CommentFieldId() const;

    HWND list_ = nullptr;
    HWND owner_ = nullptr;
    ArchiveContext* context_ = nullptr;
    int sortKey_ = kSortByNumber;
    bool descending_ = true;
    WNDPROC previousProc_ = nullptr;
    bool readOnly_ = false;
    // The "Updated By" text of each archive position, kept from the last
    // Fill: the comparison may not ask the list for texts while it sorts.
    std::vector<std::string> users_;
    std::vector<int> numbers_;       // version number of each archive position, from the last Fill
    std::vector<int> rowPositions_;  // archive position of each row as Fill put them in
};

// The name proposed for retrieving version `number`: "name(vN).ext" in the
// working file's folder. False (and `proposal` empty) when it would not fit
// MAX_PATH characters.
bool FormatRetrieveProposal(const ArchiveContext& context, int number, char* proposal);

// Cuts `text` so that it fits `available` pixels when drawn in `dc`,
// ending in "..." and keeping at least its first character. `ellipsisWidth`
// is the width of "..." as the list measures it. `out` holds `outSize`.
void CutTextToWidth(HDC dc, const char* text, int available, int ellipsisWidth, char* out, size_t outSize);

// Column widths used when the settings hold none.
int DefaultColumnWidth(int column);

#endif
