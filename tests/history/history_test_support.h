// What the history tests share: a working file with an archive of several
// versions made through the real engine, and the history page hosted in a
// real modeless property sheet on the test's own thread.
#ifndef KEEPSHEL_HISTORY_TEST_SUPPORT_H
#define KEEPSHEL_HISTORY_TEST_SUPPORT_H

#include <gtest/gtest.h>

#include <windows.h>
#include <commctrl.h>
#include <prsht.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "archive/archive_context.h"
#include "history/history_page.h"
#include "resource.h"
#include "test_helpers.h"
#include "ui_driver.h"

namespace kstest {

constexpr char kProductCaption[] = "Keepsake (TM)";
constexpr int kApplyButtonId = 0x3021;

// Dispatches this thread's messages for `ms`, also when they never run
// out (a page that reloads more often than it can draw).
inline void Pump(DWORD ms = 30) {
    DWORD start = GetTickCount();
    do {
        MSG message;
        while (GetTickCount() - start < ms && PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&message);
            DispatchMessageA(&message);
        }
        Sleep(5);
    } while (GetTickCount() - start < ms);
}

// Dispatches messages until `condition` holds; false after `timeoutMs`.
inline bool PumpUntil(const std::function<bool()>& condition, DWORD timeoutMs = 3000) {
    DWORD start = GetTickCount();
    while (!condition()) {
        if (GetTickCount() - start >= timeoutMs) return false;
        Pump(10);
    }
    return true;
}

// One working file with an archive: versions "v1", "v2"... saved through
// the engine, each by the user and with the permanence the test asks for.
class VersionedFile {
public:
    explicit VersionedFile(const std::string& name = "report.doc") {
        UseOwnResources();
        settings.SetNumber("EnableVersionControl", 1);
        path = folder / name;
        WriteFileText(path, "v0");
        context.Resolve(path.c_str(), false, nullptr);
    }

    // Saves versions until the archive holds `count`; `permanent` lists
    // the numbers saved permanent, `users` the user of each (by index).
    void Save(int count, const std::vector<int>& permanent = {}, const std::vector<std::string>& users = {}) {
        for (int number = saved_ + 1; number <= count; ++number) {
            bool isPermanent = false;
            for (int p : permanent) isPermanent = isPermanent || p == number;
            if (static_cast<size_t>(number - 1) < users.size())
                CopyText(context.userName, sizeof context.userName, users[number - 1].c_str());
            WriteFileText(path, "v" + std::to_string(number));
            if (number == 1) {
                ASSERT_EQ(context.SaveFirstVersion(isPermanent, 100, 0, 0), 0);
            } else {
                ASSERT_EQ(context.SaveNextVersion(("comment " + std::to_string(number)).c_str(), isPermanent), 1);
            }
            saved_ = number;
        }
    }

    std::vector<int> ArchiveNumbers() const {
        std::vector<int> numbers;
        VersionEntry* entries = nullptr;
        int count = context.ListVersions(&entries);
        for (int i = 0; i < count; ++i) numbers.push_back(entries[i].number);
        delete[] entries;
        return numbers;
    }

    SettingsScope settings;
    TempFolder folder;
    std::string path;
    ArchiveContext context{};

private:
    int saved_ = 0;
};

// Saves `content` as the next version of the file at `path` the way
// another program would: a context of its own, on the calling thread.
// True when the version was saved.
inline bool SaveAsAnotherProgram(const std::string& path, const std::string& content, const char* comment) {
    ArchiveContext other{};
    if (!other.Resolve(path.c_str(), false, nullptr)) return false;
    WriteFileText(path, content);
    return other.SaveNextVersion(comment, 0) == 1;
}

// The history page in a modeless property sheet, as the history window
// shows it.
class SheetHost {
public:
    explicit SheetHost(ArchiveContext* context) : page(context) {
        PROPSHEETPAGEA description = MakeHistoryPageDescription(&page, kHistoryWindowPageFlags, nullptr, &references);
        PROPSHEETHEADERA header{};
        header.dwSize = PROPSHEETHEADERA_V1_SIZE;
        header.dwFlags = PSH_PROPSHEETPAGE | PSH_MODELESS;
        header.hInstance = GetModuleHandleA(nullptr);
        header.pszCaption = "Version History - test";
        header.nPages = 1;
        header.ppsp = &description;
        sheet = reinterpret_cast<HWND>(PropertySheetA(&header));
        Pump(50);
    }
    ~SheetHost() {
        if (IsWindow(sheet)) DestroyWindow(sheet);
        Pump(20);
    }
    SheetHost(const SheetHost&) = delete;
    SheetHost& operator=(const SheetHost&) = delete;

    HWND window() const { return page.window; }
    HWND list() const { return GetDlgItem(page.window, IDC_HISTORY_LIST); }
    HWND control(int id) const { return GetDlgItem(page.window, id); }
    std::string Text(int id) const {
        char text[512] = "";
        GetDlgItemTextA(page.window, id, text, sizeof text);
        return text;
    }
    bool ApplyEnabled() const { return IsWindowEnabled(GetDlgItem(sheet, kApplyButtonId)) != FALSE; }
    bool ButtonEnabled(int command) const {
        return SendMessageA(page.toolbar, TB_ISBUTTONENABLED, command, 0) != 0;
    }
    void Command(int id) const { SendMessageA(page.window, WM_COMMAND, MAKEWPARAM(id, 0), 0); }

    int RowCount() const { return ListView_GetItemCount(list()); }
    // The "#" column, top to bottom.
    std::vector<int> Numbers() const {
        std::vector<int> numbers;
        for (int row = 0; row < RowCount(); ++row) numbers.push_back(page.list.RowVersionNumber(row));
        return numbers;
    }
    bool Selected(int row) const { return (ListView_GetItemState(list(), row, LVIS_SELECTED) & LVIS_SELECTED) != 0; }
    bool Focused(int row) const { return (ListView_GetItemState(list(), row, LVIS_FOCUSED) & LVIS_FOCUSED) != 0; }
    void SelectOnly(const std::vector<int>& rows) const {
        ListView_SetItemState(list(), -1, 0, LVIS_SELECTED | LVIS_FOCUSED);
        for (int row : rows) ListView_SetItemState(list(), row, LVIS_SELECTED | LVIS_FOCUSED, LVIS_SELECTED | LVIS_FOCUSED);
        Pump(10);
    }
    // A click at a point of the list, as the mouse makes it.
    void Click(POINT point) const {
        PostMessageA(list(), WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(point.x, point.y));
        PostMessageA(list(), WM_LBUTTONUP, 0, MAKELPARAM(point.x, point.y));
        Pump(30);
    }
    POINT CheckBoxCentre(int row) const {
        RECT box{};
        page.list.CheckBoxRect(row, &box);
        return {(box.left + box.right) / 2, (box.top + box.bottom) / 2};
    }
    // A point in the "Date & Time" column of the row.
    POINT TextPoint(int row) const {
        RECT bounds{};
        ListView_GetItemRect(list(), row, &bounds, LVIR_BOUNDS);
        int x = bounds.left + ListView_GetColumnWidth(list(), 0) + ListView_GetColumnWidth(list(), 1) + 5;
        return {x, (bounds.top + bounds.bottom) / 2};
    }
    void ColumnClick(int column) const {
        NMLISTVIEW click{};
        click.hdr.hwndFrom = list();
        click.hdr.idFrom = IDC_HISTORY_LIST;
        click.hdr.code = LVN_COLUMNCLICK;
        click.iItem = -1;
        click.iSubItem = column;
        SendMessageA(page.window, WM_NOTIFY, IDC_HISTORY_LIST, reinterpret_cast<LPARAM>(&click));
    }

    UINT references = 0;
    HistoryPage page;
    HWND sheet = nullptr;
};

}  // namespace kstest

#endif
