// VersionListView: filling, sorting, drawing and the input rules of the
// version list, and the operations on the selected versions.
#include "version_list_view.h"

#include <commctrl.h>
#include <prsht.h>
#include <windowsx.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <unordered_map>

#include "dialogs/dialogs.h"
#include "archive/handles.h"
#include "archive/module.h"
#include "archive/settings.h"
#include "resources/resource.h"

namespace {

constexpr int kMaxColumns = 4;        // titles 1101.. and widths HistoryField_1..4
constexpr int kCellTextLength = 500;  // longest cell text read for drawing
constexpr int kTextMargin = 6;        // left inset of a cell's text, in pixels

// How many columns the list has: string 1100, bounded by the titles and
// width names there are.
int ColumnCount() {
    char text[16];
    LoadText(IDS_COLUMN_COUNT, text, sizeof text);
    int count = atoi(text);
    if (count < 0) return 0;
    return count > kMaxColumns ? kMaxColumns : count;
}

// Check boxes are drawn at the small icon size in ordinary rows, at the
// large one in rows tall enough for it.
SIZE CheckBoxSize(int rowHeight) {
    if (rowHeight < 32) return {GetSystemMetrics(SM_CXSMICON), GetSystemMetrics(SM_CYSMICON)};
    return {GetSystemMetrics(SM_CXICON), GetSystemMetrics(SM_CYICON)};
}

SIZE MeasureText(HDC dc, const char* text) {
    SIZE size{0, 0};
    GetTextExtentPoint32A(dc, text, static_cast<int>(strlen(text)), &size);
    return size;
}

}  // namespace

int DefaultColumnWidth(int column) {
    static const int kWidths[kMaxColumns] = {60, 30, 110, 90};
    return column >= 0 && column < kMaxColumns ? kWidths[column] : 60;
}

bool FormatRetrieveProposal(const ArchiveContext& context, int number, char* proposal) {
    char name[MAX_PATH];
    CopyText(name, sizeof name, context.workingName);
    char* dot = strrchr(name, '.');
    const char* extension = "";
    char extensionText[MAX_PATH] = "";
    if (dot) {
        CopyText(extensionText, sizeof extensionText, dot);
        extension = extensionText;
        *dot = '\0';
    }
    // A proposal cut to fit would name some other file; better to propose
    // nothing and let the user choose.
    if (FormatText(proposal, MAX_PATH, "%s\\%s(v%d)%s", context.workingFolder, name, number, extension) >=
        MAX_PATH) {
        proposal[0] = '\0';
        return false;
    }
    return true;
}

void CutTextToWidth(HDC dc, const char* text, int available, int ellipsisWidth, char* out, size_t outSize) {
    if (outSize < 4) {
        if (outSize > 0) out[0] = '\0';
        return;
    }
    // The first character always stays; each further one (double-byte
    // aware) only while the text up to it still leaves room for "...".
    const char* keep = *text ? CharNextA(text) : text;
    while (*keep) {
        const char* next = CharNextA(keep);
        SIZE size{0, 0};
        GetTextExtentPoint32A(dc, text, static_cast<int>(next - text), &size);
        if (size.cx > available - ellipsisWidth) break;
        keep = next;
    }
    size_t bytes = static_cast<size_t>(keep - text);
    if (bytes > outSize - 4) bytes = outSize - 4;
    memcpy(out, text, bytes);
    memcpy(out + bytes, "...", 4);
}

void VersionListView::Attach(HWND owner, HWND list, ArchiveContext* context, bool readOnly) {
    owner_ = owner;
    list_ = list;
    context_ = context;
    readOnly_ = readOnly;
    SetWindowLongPtrA(list_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    previousProc_ = reinterpret_cast<WNDPROC>(
        SetWindowLongPtrA(list_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&VersionListView::SubclassProc)));
    AddColumns();
    AddImages();
}

void VersionListView::Detach() {
    if (!list_ || !previousProc_) return;
    SetWindowLongPtrA(list_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(previousProc_));
    SetWindowLongPtrA(list_, GWLP_USERDATA, 0);
    previousProc_ = nullptr;
}

void VersionListView::AddColumns() const {
    int count = ColumnCount();
    for (int i = 0; i < count; ++i) {
        char title[100];
        LoadText(IDS_COLUMN_PERMANENT + i, title, sizeof title);
        // A fresh installation has no widths yet: a column must not start
        // collapsed, so it gets a default; a stored width always wins.
        DWORD width = static_cast<DWORD>(DefaultColumnWidth(i));
        ReadSettingNumber(IDS_HISTORY_FIELD_1 + i, &width);

        LVCOLUMNA column{};
        column.mask = LVCF_FMT | LVCF_WIDTH | LVCF_TEXT | LVCF_SUBITEM;
        column.fmt = i == 1 ? LVCFMT_CENTER : LVCFMT_LEFT;
        column.cx = static_cast<int>(width);
        column.pszText = title;
        column.iSubItem = i;
        SendMessageA(list_, LVM_INSERTCOLUMNA, i, reinterpret_cast<LPARAM>(&column));
    }
}

void VersionListView::AddImages() const {
    int cx = GetSystemMetrics(SM_CXSMICON), cy = GetSystemMetrics(SM_CYSMICON);
    HIMAGELIST images = ImageList_Create(cx, cy, ILC_MASK | ILC_COLOR24, 1, 1);
    if (!images) return;
    for (int id : {IDI_CHECK_EMPTY, IDI_CHECK_TICKED}) {
        HICON icon = static_cast<HICON>(LoadImageA(ModuleInstance(), MAKEINTRESOURCEA(id), IMAGE_ICON, cx, cy, 0));
        if (!icon) continue;
        ImageList_AddIcon(images, icon);
        DestroyIcon(icon);
    }
    // The list owns its image list and destroys it with itself.
    ListView_SetImageList(list_, images, LVSIL_SMALL);
}

namespace {

// Keeps the list from drawing while its rows change one by one, and has it
// drawn once when done: drawn after every row, 10,000 rows took seconds.
class RedrawPause {
public:
    explicit RedrawPause(HWND list) : list_(list) { SendMessageA(list_, WM_SETREDRAW, FALSE, 0); }
    ~RedrawPause() {
        SendMessageA(list_, WM_SETREDRAW, TRUE, 0);
        InvalidateRect(list_, nullptr, TRUE);
    }
    RedrawPause(const RedrawPause&) = delete;
    RedrawPause& operator=(const RedrawPause&) = delete;

private:
    HWND list_;
};

}  // namespace

bool VersionListView::Fill() {
    RedrawPause pause(list_);
    return FillRows(nullptr);
}

bool VersionListView::FillRows(VersionsRead* read) {
    rowPositions_.clear();
    bool exists = context_->ArchiveExists();
    EnableWindow(list_, exists);
    if (!exists) return true;

    VersionEntry* entries = nullptr;
    int count = context_->ListVersions(&entries);
    std::unique_ptr<VersionEntry[]> owned(entries);
    if (count < 0) return false;
    if (read) {
        read->entries = std::move(owned);
        read->count = count;
    }

    users_.assign(static_cast<size_t>(count), std::string());
    numbers_.assign(static_cast<size_t>(count), 0);
    for (int i = 0; i < count; ++i) {
        users_[i] = entries[i].updatedBy;
        numbers_[i] = entries[i].number;
    }

    // The rows go in already in the order of the current sort, which is
    // what sorting them after inserting would give: the comparison is a
    // total order (ties fall back to the position).
    if (sortKey_ == kSortByUser) descending_ = false;
    rowPositions_.resize(static_cast<size_t>(count));
    for (int i = 0; i < count; ++i) rowPositions_[i] = i;
    std::sort(rowPositions_.begin(), rowPositions_.end(),
              [this](int a, int b) { return CompareEntries(a, b) < 0; });

    ListView_SetItemCount(list_, count);
    for (int row = 0; row < count; ++row) {
        int position = rowPositions_[row];
        const VersionEntry& entry = entries[position];

        LVITEMA item{};
        item.mask = LVIF_IMAGE | LVIF_PARAM;
        item.iItem = row;
        item.iImage = entry.permanent ? 1 : 0;
        item.lParam = position;
        int index = static_cast<int>(SendMessageA(list_, LVM_INSERTITEMA, 0, reinterpret_cast<LPARAM>(&item)));
        if (index < 0) continue;

        char number[16];
        FormatText(number, sizeof number, "%d", entry.number);
        const char* texts[3] = {number, entry.dateTime, entry.updatedBy};
        for (int sub = 1; sub <= 3; ++sub) {
            LVITEMA cell{};
            cell.iSubItem = sub;
            cell.pszText = const_cast<char*>(texts[sub - 1]);
            SendMessageA(list_, LVM_SETITEMTEXTA, index, reinterpret_cast<LPARAM>(&cell));
        }
    }
    return true;
}

VersionListView::Snapshot VersionListView::TakeSnapshot() const {
    Snapshot before;
    before.mark = ListView_GetSelectionMark(list_);
    if (before.mark >= 0) {
        before.markState = ListView_GetItemState(list_, before.mark, LVIS_FOCUSED | LVIS_SELECTED);
        before.markVersion = RowVersionNumber(before.mark);
    }
    before.selected = SelectedVersionNumbers();
    int focused = ListView_GetNextItem(list_, -1, LVNI_FOCUSED);
    if (focused >= 0) before.focusedVersion = RowVersionNumber(focused);
    before.top = ListView_GetTopIndex(list_);
    if (before.top > 0) before.topVersion = RowVersionNumber(before.top);
    return before;
}

int VersionListView::Restore(const Snapshot& before) {
    if (before.mark == -1) {
        // Nothing was marked: the first row gets the selection and focus.
        ListView_SetSelectionMark(list_, 0);
        ListView_SetItemState(list_, 0, LVIS_FOCUSED | LVIS_SELECTED, LVIS_FOCUSED | LVIS_SELECTED);
        return 0;
    }

    // A list looked at from its head, with at most its first row chosen,
    // follows the head: what comes in is shown and chosen, as the first row
    // was before.
    bool atHead = before.mark == 0 && before.top == 0 && before.selected.size() <= 1 &&
                  (before.selected.empty() || before.selected[0] == before.markVersion);
    if (atHead) {
        ListView_SetSelectionMark(list_, 0);
        if (before.markState) ListView_SetItemState(list_, 0, before.markState, before.markState);
        return 0;
    }

    // Elsewhere versions keep their selection wherever a reload puts their
    // rows (a version saved elsewhere moves every row of a newest-first
    // list).
    std::unordered_map<int, int> rowOf;
    rowOf.reserve(rowPositions_.size());
    for (size_t row = 0; row < rowPositions_.size(); ++row)
        rowOf.emplace(numbers_[rowPositions_[row]], static_cast<int>(row));
    auto find = [&](int number) {
        auto hit = number >= 0 ? rowOf.find(number) : rowOf.end();
        return hit == rowOf.end() ? -1 : hit->second;
    };

    int mark = find(before.markVersion);
    bool anySelected = false;
    for (int number : before.selected) {
        int row = find(number);
        if (row < 0) continue;
        ListView_SetItemState(list_, row, LVIS_SELECTED, LVIS_SELECTED);
        if (mark < 0) mark = row;
        anySelected = true;
    }
    int focus = find(before.focusedVersion);
    if (focus >= 0) ListView_SetItemState(list_, focus, LVIS_FOCUSED, LVIS_FOCUSED);

    if (mark < 0 && !anySelected) {
        // The marked version is gone (deleted): the row now at its place
        // takes over what it had, as after deleting from this list.
        mark = before.mark;
        if (before.markState) ListView_SetItemState(list_, mark, before.markState, before.markState);
    }
    ListView_SetSelectionMark(list_, mark);

    // A list scrolled down keeps its first visible version at the top; one
    // at the top stays there and shows what came in.
    if (before.top > 0 && !rowPositions_.empty()) {
        int top = find(before.topVersion);
        if (top < 0) top = std::min(before.top, static_cast<int>(rowPositions_.size()) - 1);
        RECT bounds{};
        if (ListView_GetItemRect(list_, 0, &bounds, LVIR_BOUNDS)) {
            int lines = top - ListView_GetTopIndex(list_);
            ListView_Scroll(list_, 0, lines * (bounds.bottom - bounds.top));
        }
    }
    return mark;
}

bool VersionListView::Refresh() {
    RedrawPause pause(list_);
    Snapshot before = TakeSnapshot();
    ListView_DeleteAllItems(list_);
    VersionsRead read;
    bool filled = FillRows(&read);
    int mark = Restore(before);
    // The archive was read just now: its comment is the current one.
    ShowComment(mark, read.entries.get(), read.count);
    return filled;
}

int CALLBACK VersionListView::CompareCallback(LPARAM first, LPARAM second, LPARAM self) {
    return reinterpret_cast<const VersionListView*>(self)->CompareEntries(first, second);
}

void VersionListView::SortBy(int key) {
    if (key == kSortByUser) {
        // Names are sorted over rows in ascending position, so equal names
        // keep that order.
        descending_ = false;
        sortKey_ = kSortByNumber;
        ListView_SortItems(list_, &VersionListView::CompareCallback, reinterpret_cast<LPARAM>(this));
    }
    sortKey_ = key;
    ListView_SortItems(list_, &VersionListView::CompareCallback, reinterpret_cast<LPARAM>(this));
}

int VersionListView::CompareEntries(LPARAM first, LPARAM second) const {
    int byPosition = first < second ? -1 : (first > second ? 1 : 0);
    switch (sortKey_) {
    case kSortByNumber:
    case kSortByDateTime:
        return descending_ ? -byPosition : byPosition;
    case kSortByUser: {
        auto user = [&](LPARAM position) -> const char* {
            return position >= 0 && static_cast<size_t>(position) < users_.size() ? users_[position].c_str() : "";
        };
        int byName = _stricoll(user(first), user(second));
        // Equal names in ascending position even if the list's sort were
        // not stable.
        return byName != 0 ? byName : byPosition;
    }
    default:
        return 0;
    }
}

void VersionListView::OnColumnClick(int column) {
    int key = column == 2 ? kSortByDateTime : (column == 3 ? kSortByUser : kSortByNumber);
    if (key == sortKey_ && key != kSortByUser) descending_ = !descending_;
    SortBy(key);
}

int VersionListView::RowVersionNumber(int row) const {
    char text[21] = "";
    ListView_GetItemText(list_, row, 1, text, sizeof text);
    return atoi(text);
}

int VersionListView::RowImage(int row) const {
    LVITEMA item{};
    item.mask = LVIF_IMAGE;
    item.iItem = row;
    if (!SendMessageA(list_, LVM_GETITEMA, 0, reinterpret_cast<LPARAM>(&item))) return 0;
    return item.iImage;
}

bool VersionListView::CheckBoxRect(int row, RECT* rect) const {
    RECT bounds{};
    if (!ListView_GetItemRect(list_, row, &bounds, LVIR_BOUNDS)) return false;
    int width = ListView_GetColumnWidth(list_, 0);
    SIZE box = CheckBoxSize(bounds.bottom - bounds.top);
    rect->left = bounds.left + (width - box.cx) / 2;
    rect->top = bounds.top + (bounds.bottom - bounds.top - box.cy) / 2;
    rect->right = rect->left + box.cx;
    rect->bottom = rect->top + box.cy;
    return true;
}

BOOL VersionListView::DrawItem(const DRAWITEMSTRUCT* item) const {
    HDC dc = item->hDC;
    const RECT& row = item->rcItem;
    // The focus rectangle leaves out the check-box column.
    RECT focus = row;
    focus.left += ListView_GetColumnWidth(list_, 0);
    if (item->itemAction == ODA_FOCUS) {
        DrawFocusRect(dc, &focus);  // inverts: drawn twice, it is gone
        return TRUE;
    }

    LVITEMA state{};
    state.mask = LVIF_IMAGE | LVIF_STATE;
    state.iItem = static_cast<int>(item->itemID);
    state.stateMask = LVIS_FOCUSED | LVIS_SELECTED;
    SendMessageA(list_, LVM_GETITEMA, 0, reinterpret_cast<LPARAM>(&state));
    bool selected = (state.state & LVIS_SELECTED) != 0;

    COLORREF background = GetSysColor(selected ? COLOR_HIGHLIGHT : COLOR_WINDOW);
    SetBkColor(dc, background);
    SetTextColor(dc, GetSysColor(selected ? COLOR_HIGHLIGHTTEXT : COLOR_WINDOWTEXT));
    {
        GdiObject brush(CreateSolidBrush(background));
        FillRect(dc, &row, static_cast<HBRUSH>(brush.get()));
    }

    int x = 0;
    LVCOLUMNA column{};
    column.mask = LVCF_WIDTH | LVCF_FMT | LVCF_SUBITEM;
    for (int i = 0; SendMessageA(list_, LVM_GETCOLUMNA, i, reinterpret_cast<LPARAM>(&column)); ++i) {
        if (i == 0)
            DrawCheckBox(dc, row, x, column.cx, state.iImage);
        else
            DrawCellText(dc, row, x, column.cx, state.iItem, column.iSubItem,
                         (column.fmt & LVCFMT_JUSTIFYMASK) == LVCFMT_CENTER);
        x += column.cx;
    }

    if (state.state & LVIS_FOCUSED) DrawFocusRect(dc, &focus);
    return TRUE;
}

void VersionListView::DrawCheckBox(HDC dc, const RECT& row, int x, int width, int image) const {
    int height = row.bottom - row.top;
    SIZE box = CheckBoxSize(height);
    // Read-only lists show the flags blended: they cannot be changed there.
    ImageList_DrawEx(ListView_GetImageList(list_, LVSIL_SMALL), image, dc, row.left + x + (width - box.cx) / 2,
                     row.top + (height - box.cy) / 2, 0, 0, CLR_NONE, RGB(0, 0, 0),
                     readOnly_ ? ILD_BLEND25 : ILD_NORMAL);
}

void VersionListView::DrawCellText(HDC dc, const RECT& row, int x, int width, int rowIndex, int subItem,
                                   bool centred) const {
    char text[kCellTextLength + 1] = "";
    ListView_GetItemText(list_, rowIndex, subItem, text, sizeof text);
    SIZE size = MeasureText(dc, text);

    RECT cell{row.left + x, row.top, row.left + x + width - 1, row.bottom};
    int start = kTextMargin;
    char cut[kCellTextLength + 4];
    const char* shown = text;
    if (centred && size.cx + kTextMargin <= width) {
        start = (width - size.cx) / 2;
    } else if (size.cx + kTextMargin > width) {
        int ellipsis = ListView_GetStringWidth(list_, "...");
        CutTextToWidth(dc, text, width - kTextMargin, ellipsis, cut, sizeof cut);
        shown = cut;
        size = MeasureText(dc, cut);
    }
    int top = row.top + (row.bottom - row.top - size.cy) / 2;
    ExtTextOutA(dc, cell.left + start, top, ETO_CLIPPED | ETO_OPAQUE, &cell, shown,
                static_cast<UINT>(strlen(shown)), nullptr);
}

int VersionListView::CommentFieldId() const { return readOnly_ ? IDC_READONLY_COMMENT : IDC_HISTORY_COMMENT; }

void VersionListView::ShowComment(int row) const { ShowComment(row, nullptr, 0); }

void VersionListView::ShowComment(int row, const VersionEntry* entries, int count) const {
    int field = CommentFieldId();
    LVITEMA item{};
    item.mask = LVIF_PARAM;
    item.iItem = row;
    // No row (also a row that is gone after a reload): no comment, rather
    // than the comment of a version that is no longer listed.
    if (row < 0 || !SendMessageA(list_, LVM_GETITEMA, 0, reinterpret_cast<LPARAM>(&item))) {
        SetDlgItemTextA(owner_, field, "");
        return;
    }
    // Otherwise the archive is read again: the comment shown is always its
    // current one.
    std::unique_ptr<VersionEntry[]> owned;
    if (!entries) {
        VersionEntry* read = nullptr;
        count = context_->ListVersions(&read);
        owned.reset(read);
        entries = read;
    }
    if (count > 0 && item.lParam >= 0 && item.lParam < count) SetDlgItemTextA(owner_, field, entries[item.lParam].comment);
}

void VersionListView::TogglePermanent(int row) {
    if (readOnly_) return;
    LVITEMA item{};
    item.mask = LVIF_IMAGE;
    item.iItem = row;
    if (!SendMessageA(list_, LVM_GETITEMA, 0, reinterpret_cast<LPARAM>(&item))) return;
    item.iImage = item.iImage ? 0 : 1;
    SendMessageA(list_, LVM_SETITEMA, 0, reinterpret_cast<LPARAM>(&item));
    ListView_RedrawItems(list_, row, row);
    // The archive changes only when the page is applied.
    SendMessageA(GetParent(owner_), PSM_CHANGED, reinterpret_cast<WPARAM>(owner_), 0);
}

int VersionListView::SelectedCount() const { return static_cast<int>(ListView_GetSelectedCount(list_)); }

std::vector<int> VersionListView::SelectedVersionNumbers() const {
    std::vector<int> numbers;
    for (int row = ListView_GetNextItem(list_, -1, LVNI_SELECTED); row >= 0;
         row = ListView_GetNextItem(list_, row, LVNI_SELECTED))
        numbers.push_back(RowVersionNumber(row));
    return numbers;
}

void VersionListView::DeleteSelected() { DeleteVersions(SelectedVersionNumbers()); }

void VersionListView::DeleteVersions(const std::vector<int>& numbers) {
    for (int number : numbers) {
        // Declined or failed: stop here; the host's periodic check shows
        // whatever was deleted so far.
        if (!context_->DeleteVersion(number)) return;
    }
    Refresh();
}

void VersionListView::RetrieveSelected(const char* targetPath) {
    int row = ListView_GetNextItem(list_, -1, LVNI_SELECTED);
    if (row < 0) return;
    int number = RowVersionNumber(row);
    if (targetPath) {
        context_->RetrieveVersion(targetPath, number);
        return;
    }
    RetrieveAsRequest request{};
    FormatRetrieveProposal(*context_, number, request.path);
    CopyText(request.initialFolder, sizeof request.initialFolder, context_->workingFolder);
    if (ShowRetrieveAsDialog(list_, &request) == IDOK) context_->RetrieveVersion(request.path, number);
}

void VersionListView::ApplyPermanence() {
    SaveColumnWidths();
    int rows = ListView_GetItemCount(list_);
    for (int row = 0; row < rows; ++row) context_->SetPermanent(RowVersionNumber(row), RowImage(row));
}

void VersionListView::SaveColumnWidths() const {
    int widths[kMaxColumns];
    int count = ColumnCount();
    for (int i = 0; i < count; ++i) widths[i] = ListView_GetColumnWidth(list_, i);
    WriteHistoryColumnWidths(widths, count);
}

void VersionListView::Focus() const { SetFocus(list_); }

bool VersionListView::OnLeftButtonDown(LPARAM position) {
    LVHITTESTINFO hit{};
    hit.pt = {GET_X_LPARAM(position), GET_Y_LPARAM(position)};
    int row = ListView_HitTest(list_, &hit);
    if (row < 0) return false;
    ShowComment(row);
    if (readOnly_) return false;
    RECT box;
    if (!CheckBoxRect(row, &box) || !PtInRect(&box, hit.pt)) return false;
    // A click on the check box toggles it and leaves the selection alone.
    TogglePermanent(row);
    return true;
}

bool VersionListView::OnKeyUp(WPARAM key) {
    if (SelectedCount() != 1) return false;
    int row = ListView_GetNextItem(list_, -1, LVNI_SELECTED);
    switch (key) {
    case VK_SPACE:
        TogglePermanent(row);  // read-only: nothing changes, the key is still taken
        return true;
    case VK_UP:
    case VK_DOWN:
        ShowComment(row);
        return false;
    default:
        return false;
    }
}

LRESULT VersionListView::OnMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_LBUTTONDOWN:
        if (OnLeftButtonDown(lParam)) return 0;
        break;
    case WM_KEYUP:
        if (OnKeyUp(wParam)) return 0;
        break;
    default:
        break;
    }
    return CallWindowProcA(previousProc_, list_, message, wParam, lParam);
}

LRESULT CALLBACK VersionListView::SubclassProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* self = reinterpret_cast<VersionListView*>(GetWindowLongPtrA(window, GWLP_USERDATA));
    if (!self || !self->previousProc_) return DefWindowProcA(window, message, wParam, lParam);
    try {
        return self->OnMessage(message, wParam, lParam);
    } catch (...) {
        // Nothing may unwind into the system's message dispatch.
        return CallWindowProcA(self->previousProc_, window, message, wParam, lParam);
    }
}
