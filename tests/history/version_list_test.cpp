// The version list inside a real history page: order and selection after a
// fill, the column-click rules, check boxes by mouse and keyboard, deletion
// with its questions, the retrieve proposal, and the drawing of rows.
#include <gtest/gtest.h>

#include <windows.h>
#include <commctrl.h>

#include <string>
#include <vector>

#include "archive/module.h"
#include "archive/settings.h"
#include "dialog_test_support.h"
#include "history_test_support.h"
#include "many_versions.h"

namespace {

using kstest::Pump;
using kstest::PumpUntil;
using kstest::SheetHost;
using kstest::VersionedFile;
using kstest::Window;

using Numbers = std::vector<int>;

TEST(VersionList, FreshListShowsTheLastEntryFirstSelectedAndFocused) {
    VersionedFile file;
    file.Save(3);
    SheetHost host(&file.context);

    EXPECT_EQ(host.Numbers(), (Numbers{3, 2, 1}));
    EXPECT_TRUE(host.Selected(0));
    EXPECT_TRUE(host.Focused(0));
    EXPECT_EQ(host.Text(IDC_HISTORY_COMMENT), "comment 3");
    EXPECT_TRUE(IsWindowEnabled(host.list()));

    // Columns: titles from the string table, widths that do not collapse
    // on a fresh installation, "#" centred.
    char title[64];
    LVCOLUMNA column{};
    column.mask = LVCF_TEXT | LVCF_FMT | LVCF_WIDTH;
    column.pszText = title;
    column.cchTextMax = sizeof title;
    const char* titles[] = {"Permanent", "#", "Date & Time", "Updated By"};
    for (int i = 0; i < 4; ++i) {
        ASSERT_TRUE(SendMessageA(host.list(), LVM_GETCOLUMNA, i, reinterpret_cast<LPARAM>(&column)));
        EXPECT_STREQ(title, titles[i]);
        EXPECT_GT(column.cx, 0) << "column " << i;
        EXPECT_EQ((column.fmt & LVCFMT_JUSTIFYMASK) == LVCFMT_CENTER, i == 1) << "column " << i;
    }
}

TEST(VersionList, StoredColumnWidthsWinAndAreSavedBack) {
    VersionedFile file;
    file.Save(1);
    file.settings.SetNumber("HistoryField_3", 77);
    SheetHost host(&file.context);
    EXPECT_EQ(ListView_GetColumnWidth(host.list(), 2), 77);
    EXPECT_EQ(ListView_GetColumnWidth(host.list(), 0), DefaultColumnWidth(0));

    ListView_SetColumnWidth(host.list(), 1, 44);
    host.page.list.SaveColumnWidths();
    DWORD width = 0;
    EXPECT_TRUE(ReadSettingNumber(IDS_HISTORY_FIELD_2, &width));
    EXPECT_EQ(width, 44u);
}

TEST(VersionList, ColumnClicksFollowTheSortRules) {
    VersionedFile file;
    file.Save(5, {}, {"bob", "Alice", "bob", "carl", "alice"});
    SheetHost host(&file.context);
    ASSERT_EQ(host.Numbers(), (Numbers{5, 4, 3, 2, 1}));

    host.ColumnClick(1);  // "#" again: ascending
    EXPECT_EQ(host.Numbers(), (Numbers{1, 2, 3, 4, 5}));
    host.ColumnClick(1);
    EXPECT_EQ(host.Numbers(), (Numbers{5, 4, 3, 2, 1}));
    host.ColumnClick(2);  // "Date & Time" after "#" keeps the direction
    EXPECT_EQ(host.Numbers(), (Numbers{5, 4, 3, 2, 1}));
    host.ColumnClick(2);
    EXPECT_EQ(host.Numbers(), (Numbers{1, 2, 3, 4, 5}));
    host.ColumnClick(2);

    // Names ascending without regard to case, equal names by position.
    host.ColumnClick(3);
    EXPECT_EQ(host.Numbers(), (Numbers{2, 5, 1, 3, 4}));
    host.ColumnClick(3);
    EXPECT_EQ(host.Numbers(), (Numbers{2, 5, 1, 3, 4})) << "a second click changes nothing";
    EXPECT_FALSE(host.page.list.descending());

    // After the names, "#" starts ascending, then descending.
    host.ColumnClick(0);  // the check-box column sorts like "#"
    EXPECT_EQ(host.Numbers(), (Numbers{1, 2, 3, 4, 5}));
    host.ColumnClick(1);
    EXPECT_EQ(host.Numbers(), (Numbers{5, 4, 3, 2, 1}));
}

TEST(VersionList, CheckBoxClicksToggleWithoutSelectingAndSpaceNeedsOneRow) {
    VersionedFile file;
    file.Save(3);
    SheetHost host(&file.context);
    ASSERT_EQ(host.RowCount(), 3);
    ASSERT_FALSE(host.ApplyEnabled());

    // The check box of row 2: toggled, its comment shown, not selected.
    host.Click(host.CheckBoxCentre(2));
    EXPECT_EQ(host.page.list.RowImage(2), 1);
    EXPECT_FALSE(host.Selected(2));
    EXPECT_TRUE(host.Selected(0));
    EXPECT_EQ(host.Text(IDC_HISTORY_COMMENT), "");  // version 1 has no comment
    EXPECT_TRUE(host.ApplyEnabled()) << "a toggled flag is a change of the page";
    EXPECT_EQ(file.context.IsPermanent(1), 0) << "the archive changes only when the page is applied";

    // Elsewhere in the row: the row is selected as usual, nothing toggles.
    host.Click(host.TextPoint(1));
    EXPECT_TRUE(host.Selected(1));
    EXPECT_EQ(host.page.list.RowImage(1), 0);
    EXPECT_EQ(host.Text(IDC_HISTORY_COMMENT), "comment 2");

    // Space with exactly one row selected toggles that row.
    host.SelectOnly({1});
    SendMessageA(host.list(), WM_KEYUP, VK_SPACE, 0);
    EXPECT_EQ(host.page.list.RowImage(1), 1);
    // With two rows selected it goes to the list and toggles nothing.
    host.SelectOnly({0, 1});
    SendMessageA(host.list(), WM_KEYUP, VK_SPACE, 0);
    EXPECT_EQ(host.page.list.RowImage(0), 0);
    EXPECT_EQ(host.page.list.RowImage(1), 1);

    // Applying writes every row's flag.
    EXPECT_FALSE(ApplyPage(&host.page));
    EXPECT_EQ(file.context.IsPermanent(1), 1);
    EXPECT_EQ(file.context.IsPermanent(2), 1);
    EXPECT_EQ(file.context.IsPermanent(3), 0);
}

TEST(VersionList, DeletingStopsAtCancelOnAPermanentVersion) {
    VersionedFile file;
    file.Save(4, {2});
    SheetHost host(&file.context);
    ASSERT_EQ(host.Numbers(), (Numbers{4, 3, 2, 1}));
    host.SelectOnly({0, 2, 3});  // versions 4, 2 and 1

    kstest::UiDriver ui;
    ui.OnMessageBox(kstest::kProductCaption, [](Window& box) { box.Press(IDYES); });
    ui.OnMessageBox(kstest::kProductCaption, [](Window& box) { box.Press(IDCANCEL); });
    host.Command(IDC_TOOL_DELETE);
    ASSERT_TRUE(ui.Finish());
    ASSERT_EQ(ui.Seen().size(), 2u);
    EXPECT_EQ(ui.Seen()[0].text,
              "A deleted version cannot be restored.  Are you sure you want to delete the selected item(s)?");
    EXPECT_EQ(ui.Seen()[0].icon, static_cast<UINT>(MB_ICONQUESTION));
    EXPECT_NE(ui.Seen()[1].text.find("Version 2 of file report.doc is a permanent version!"), std::string::npos);

    // Version 4 went before the question; 2 and the rows after it stay.
    EXPECT_EQ(file.ArchiveNumbers(), (Numbers{1, 2, 3}));
    EXPECT_TRUE(PumpUntil([&] { return host.RowCount() == 3; }, 2000)) << "the page reloads by itself";
}

// While the question about a permanent version is open a version is
// already gone, yet the list keeps showing what the user chose: no reload
// moves the rows under the question, and the versions chosen before are
// the ones deleted.
TEST(VersionList, NoReloadDuringTheQuestionChangesWhatIsDeleted) {
    VersionedFile file;
    file.Save(4, {2});
    SheetHost host(&file.context);
    host.SelectOnly({0, 2, 3});  // versions 4, 2 and 1

    std::vector<int> shownDuringQuestion;
    kstest::UiDriver ui;
    ui.OnMessageBox(kstest::kProductCaption, [](Window& box) { box.Press(IDYES); });
    ui.OnMessageBox(kstest::kProductCaption, [&](Window& box) {
        Sleep(1200);  // the page's ticks go on in the question's message loop
        shownDuringQuestion = host.Numbers();
        box.Press(IDYES);
    });
    host.Command(IDC_TOOL_DELETE);
    ASSERT_TRUE(ui.Finish());
    EXPECT_EQ(shownDuringQuestion, (Numbers{4, 3, 2, 1}));
    EXPECT_EQ(file.ArchiveNumbers(), (Numbers{3}));
}

TEST(VersionList, DeletingTheOnlyVersionEmptiesAndDisablesTheList) {
    VersionedFile file;
    file.Save(1);
    SheetHost host(&file.context);
    ASSERT_EQ(host.RowCount(), 1);

    kstest::UiDriver ui;
    ui.OnMessageBox(kstest::kProductCaption, [](Window& box) { box.Press(IDYES); });
    host.Command(IDC_TOOL_DELETE);
    ASSERT_TRUE(ui.Finish());

    EXPECT_FALSE(file.context.ArchiveExists());
    EXPECT_EQ(host.RowCount(), 0);
    EXPECT_FALSE(IsWindowEnabled(host.list()));
    EXPECT_EQ(host.Text(IDC_HISTORY_COMMENT), "") << "no comment of a version that is gone";
}

TEST(VersionList, NoAtTheDeleteQuestionKeepsEverything) {
    VersionedFile file;
    file.Save(2);
    SheetHost host(&file.context);
    kstest::UiDriver ui;
    ui.OnMessageBox(kstest::kProductCaption, [](Window& box) { box.Press(IDNO); });
    host.Command(IDC_TOOL_DELETE);
    ASSERT_TRUE(ui.Finish());
    EXPECT_EQ(file.ArchiveNumbers(), (Numbers{1, 2}));
    EXPECT_TRUE(host.ButtonEnabled(IDC_TOOL_DELETE));
}

TEST(VersionList, RetrieveProposesTheVersionBesideTheFile) {
    ArchiveContext context{};
    CopyText(context.workingFolder, sizeof context.workingFolder, "C:\\Docs");
    CopyText(context.workingName, sizeof context.workingName, "plan.txt");
    char proposal[MAX_PATH];
    EXPECT_TRUE(FormatRetrieveProposal(context, 12, proposal));
    EXPECT_STREQ(proposal, "C:\\Docs\\plan(v12).txt");

    CopyText(context.workingName, sizeof context.workingName, "Makefile");
    EXPECT_TRUE(FormatRetrieveProposal(context, 3, proposal));
    EXPECT_STREQ(proposal, "C:\\Docs\\Makefile(v3)");

    // A proposal that would not fit is not cut into another name.
    std::string folder = "C:\\" + std::string(240, 'd');
    CopyText(context.workingFolder, sizeof context.workingFolder, folder.c_str());
    CopyText(context.workingName, sizeof context.workingName, "plan0123456.txt");
    EXPECT_FALSE(FormatRetrieveProposal(context, 12, proposal));
    EXPECT_STREQ(proposal, "");
}

TEST(VersionList, SaveAsRetrievesTheSelectedVersionUnderTheChosenName) {
    VersionedFile file("plan.txt");
    file.Save(3);
    SheetHost host(&file.context);
    host.SelectOnly({1});  // version 2
    std::string chosen = file.folder / "old plan.txt";

    kstest::UiDriver ui;
    ui.OnDialog("Save As", [&](Window& dialog) {
        EXPECT_EQ(dialog.Text(IDC_RETRIEVE_PATH), file.folder / "plan(v2).txt");
        dialog.SetText(IDC_RETRIEVE_PATH, chosen);
        dialog.Press(IDOK);
    });
    host.Command(IDC_TOOL_SAVE_AS);
    ASSERT_TRUE(ui.Finish());

    HANDLE retrieved = CreateFileA(chosen.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(retrieved, INVALID_HANDLE_VALUE);
    char content[8] = "";
    DWORD read = 0;
    ReadFile(retrieved, content, sizeof content - 1, &read, nullptr);
    CloseHandle(retrieved);
    EXPECT_STREQ(content, "v2");
}

// A list on a plain window, outside any page, drawn into a bitmap.
class DrawnList : public ::testing::Test {
protected:
    void SetUp() override {
        file_.Save(2, {1, 2}, {"Bartholomew Longname-Smithers", "x"});
        INITCOMMONCONTROLSEX classes{sizeof classes, ICC_LISTVIEW_CLASSES};
        InitCommonControlsEx(&classes);
        owner_ = CreateWindowExA(0, "STATIC", "", WS_POPUP, 0, 0, 400, 300, nullptr, nullptr, nullptr, nullptr);
        CreateWindowExA(0, "STATIC", "", WS_CHILD, 0, 0, 10, 10, owner_, reinterpret_cast<HMENU>(IDC_READONLY_COMMENT),
                        nullptr, nullptr);
    }
    void TearDown() override { DestroyWindow(owner_); }

    HWND MakeList(VersionListView* view, bool readOnly) {
        HWND list = CreateWindowExA(0, WC_LISTVIEWA, "", WS_CHILD | LVS_REPORT | LVS_OWNERDRAWFIXED, 0, 0, 380, 200,
                                    owner_, nullptr, nullptr, nullptr);
        view->Attach(owner_, list, &file_.context, readOnly);
        view->Refresh();
        return list;
    }

    // Row `row` drawn by the view into a white bitmap; the pixels, row by row.
    std::vector<COLORREF> Draw(const VersionListView& view, int row, RECT* bounds) {
        ListView_GetItemRect(view.listWindow(), row, bounds, LVIR_BOUNDS);
        HDC screen = GetDC(nullptr);
        HDC dc = CreateCompatibleDC(screen);
        HBITMAP bitmap = CreateCompatibleBitmap(screen, bounds->right, bounds->bottom);
        ReleaseDC(nullptr, screen);
        HGDIOBJ old = SelectObject(dc, bitmap);
        SelectObject(dc, reinterpret_cast<HFONT>(SendMessageA(view.listWindow(), WM_GETFONT, 0, 0)));
        DRAWITEMSTRUCT item{};
        item.CtlType = ODT_LISTVIEW;
        item.itemID = row;
        item.itemAction = ODA_DRAWENTIRE;
        item.hwndItem = view.listWindow();
        item.hDC = dc;
        item.rcItem = *bounds;
        EXPECT_TRUE(view.DrawItem(&item));
        std::vector<COLORREF> pixels;
        for (int y = bounds->top; y < bounds->bottom; ++y)
            for (int x = 0; x < bounds->right; ++x) pixels.push_back(GetPixel(dc, x, y));
        SelectObject(dc, old);
        DeleteObject(bitmap);
        DeleteDC(dc);
        return pixels;
    }

    VersionedFile file_;
    HWND owner_ = nullptr;
};

TEST_F(DrawnList, ReadOnlyListsBlendTheirCheckBoxesAndNeverChangeAFlag) {
    VersionListView normal, readOnly;
    HWND normalList = MakeList(&normal, false);
    MakeList(&readOnly, true);
    ListView_SetItemState(normalList, -1, 0, LVIS_SELECTED | LVIS_FOCUSED);
    ListView_SetItemState(readOnly.listWindow(), -1, 0, LVIS_SELECTED | LVIS_FOCUSED);

    RECT bounds{};
    std::vector<COLORREF> plain = Draw(normal, 0, &bounds);
    std::vector<COLORREF> blended = Draw(readOnly, 0, &bounds);
    int width = bounds.right;
    RECT box{};
    ASSERT_TRUE(normal.CheckBoxRect(0, &box));
    int differing = 0;
    for (int y = box.top; y < box.bottom; ++y)
        for (int x = box.left; x < box.right; ++x)
            differing += plain[(y - bounds.top) * width + x] != blended[(y - bounds.top) * width + x];
    EXPECT_GT(differing, 0) << "the read-only check box is drawn blended";
    int textStart = ListView_GetColumnWidth(normalList, 0);
    int textDiffering = 0;
    for (size_t i = 0; i < plain.size(); ++i) textDiffering += (static_cast<int>(i) % width >= textStart) && plain[i] != blended[i];
    EXPECT_EQ(textDiffering, 0) << "texts look the same in both modes";

    // Neither a click on the check box nor Space changes a read-only flag;
    // the comment still follows the click.
    HWND list = readOnly.listWindow();
    RECT readOnlyBox{};
    readOnly.CheckBoxRect(0, &readOnlyBox);
    LPARAM point = MAKELPARAM(readOnlyBox.left + 2, readOnlyBox.top + 2);
    SendMessageA(list, WM_LBUTTONDOWN, MK_LBUTTON, point);
    SendMessageA(list, WM_LBUTTONUP, 0, point);
    EXPECT_EQ(readOnly.RowImage(0), 1);
    char comment[64] = "";
    GetDlgItemTextA(owner_, IDC_READONLY_COMMENT, comment, sizeof comment);
    EXPECT_STREQ(comment, "comment 2");

    ListView_SetItemState(list, -1, 0, LVIS_SELECTED);
    ListView_SetItemState(list, 0, LVIS_SELECTED, LVIS_SELECTED);
    SendMessageA(list, WM_KEYUP, VK_SPACE, 0);
    EXPECT_EQ(readOnly.RowImage(0), 1);
    EXPECT_EQ(readOnly.RowImage(1), 1);
    normal.Detach();
    readOnly.Detach();
}

TEST_F(DrawnList, LongTextsAreCutWithDotsKeepingTheFirstCharacter) {
    HDC dc = CreateCompatibleDC(nullptr);
    SelectObject(dc, GetStockObject(DEFAULT_GUI_FONT));
    SIZE dots{};
    GetTextExtentPoint32A(dc, "...", 3, &dots);
    const char* name = "Bartholomew Longname-Smithers";
    char cut[64];

    CutTextToWidth(dc, name, 60, dots.cx, cut, sizeof cut);
    std::string shown = cut;
    ASSERT_GE(shown.size(), 4u);
    EXPECT_EQ(shown.substr(shown.size() - 3), "...");
    EXPECT_EQ(std::string(name).compare(0, shown.size() - 3, shown, 0, shown.size() - 3), 0) << shown;
    SIZE prefix{};
    GetTextExtentPoint32A(dc, cut, static_cast<int>(shown.size() - 3), &prefix);
    EXPECT_LE(prefix.cx, 60 - dots.cx);

    CutTextToWidth(dc, name, 1, dots.cx, cut, sizeof cut);
    EXPECT_STREQ(cut, "B...") << "at least one character stays";

    char tiny[6];
    CutTextToWidth(dc, name, 1000, dots.cx, tiny, sizeof tiny);
    EXPECT_STREQ(tiny, "Ba...") << "the output buffer bounds the cut";
    DeleteDC(dc);
}

}  // namespace

namespace {

using kstest::PumpUntil;
using kstest::SheetHost;
using kstest::VersionedFile;

int RowHeight(HWND list) {
    RECT bounds{};
    ListView_GetItemRect(list, 0, &bounds, LVIR_BOUNDS);
    return bounds.bottom - bounds.top;
}

TEST(VersionListAtScale, TenThousandVersionsNewestFirstAndAReloadKeepsSelectionFocusAndScrollByVersion) {
    VersionedFile file;
    ASSERT_TRUE(kstest::MakeManyVersions(file.context.archivePath, 10000));
    SheetHost host(&file.context);
    HWND list = host.list();
    ASSERT_EQ(host.RowCount(), 10000);
    EXPECT_EQ(host.page.list.RowVersionNumber(0), 10000);
    EXPECT_EQ(host.page.list.RowVersionNumber(9999), 1);
    EXPECT_TRUE(host.Selected(0));
    EXPECT_TRUE(host.Focused(0));

    // Scrolled far down, two versions selected, the second one focused.
    ListView_Scroll(list, 0, 6000 * RowHeight(list));
    kstest::Pump(20);
    int top = ListView_GetTopIndex(list);
    ASSERT_GT(top, 1000);
    int topVersion = host.page.list.RowVersionNumber(top);
    host.SelectOnly({});
    ListView_SetItemState(list, top + 2, LVIS_SELECTED, LVIS_SELECTED);
    ListView_SetItemState(list, top + 4, LVIS_SELECTED | LVIS_FOCUSED, LVIS_SELECTED | LVIS_FOCUSED);
    ListView_SetSelectionMark(list, top + 2);
    int first = host.page.list.RowVersionNumber(top + 2), second = host.page.list.RowVersionNumber(top + 4);

    // A version saved elsewhere puts a row above every other one.
    ASSERT_TRUE(kstest::SaveAsAnotherProgram(file.path, "one more", "saved elsewhere"));
    ASSERT_TRUE(PumpUntil([&] { return host.RowCount() == 10001; }));
    EXPECT_EQ(host.page.list.RowVersionNumber(0), 10001);
    EXPECT_EQ(host.page.list.RowVersionNumber(10000), 1);

    // The same versions are selected and focused, and the same version is
    // the first one visible.
    EXPECT_EQ(host.page.list.SelectedVersionNumbers(), (std::vector<int>{first, second}));
    int focused = ListView_GetNextItem(list, -1, LVNI_FOCUSED);
    EXPECT_EQ(host.page.list.RowVersionNumber(focused), second);
    EXPECT_EQ(host.page.list.RowVersionNumber(ListView_GetSelectionMark(list)), first);
    EXPECT_EQ(host.page.list.RowVersionNumber(ListView_GetTopIndex(list)), topVersion);
    EXPECT_EQ(host.Text(IDC_HISTORY_COMMENT), "comment " + std::to_string(first));
}

}  // namespace
