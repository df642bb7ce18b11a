// The list of one file's versions: a report-style list control that this
// component fills from the archive, sorts, draws itself (a check box for
// "permanent" in the first column) and subclasses for mouse and keyboard
// input. It also carries the operations on the selected versions.
#ifndef KEEPSHEL_VERSION_LIST_VIEW_H
#define KEEPSHEL_VERSION_LIST_VIEW_H

#include <windows.h>

#include <cstddef>
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
    bool Refresh();  // refills, keeping selection and focus by position
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
