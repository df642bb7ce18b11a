// The history page in the shell's Properties sheet and in a window of its
// own, as the shell and the "&History..." command put it on screen.
#include <gtest/gtest.h>

#include <windows.h>
#include <commctrl.h>
#include <prsht.h>
#include <shlobj.h>

#include <vector>

#include "archive/archive_context.h"
#include "history/history_page.h"
#include "shell_host.h"
#include "shellext/history_window.h"
#include "shellext/server.h"
#include "shellext/shell_ext.h"
#include "test_helpers.h"
#include "trace_capture.h"
#include "ui_driver.h"

namespace {

BOOL CALLBACK CollectPage(HPROPSHEETPAGE page, LPARAM pages) {
    reinterpret_cast<std::vector<HPROPSHEETPAGE>*>(pages)->push_back(page);
    return TRUE;
}

BOOL CALLBACK RefusePage(HPROPSHEETPAGE, LPARAM) { return FALSE; }

// A modeless Properties sheet of plan.txt holding the given pages, as
// the shell shows it.
HWND OpenSheet(std::vector<HPROPSHEETPAGE>& pages) {
    PROPSHEETHEADERA header{};
    header.dwSize = PROPSHEETHEADERA_V1_SIZE;
    header.dwFlags = PSH_MODELESS;
    header.pszCaption = "plan.txt Properties";
    header.nPages = static_cast<UINT>(pages.size());
    header.phpage = pages.data();
    return reinterpret_cast<HWND>(PropertySheetA(&header));
}

class HistoryHookup : public ::testing::Test {
protected:
    void SetUp() override {
        kstest::UseOwnResources();
        ASSERT_TRUE(registration.ok()) << registration.error();
        settings.SetNumber("EnableVersionControl", 1);
    }

    // A file with a real archive of one version.
    void Archived(const std::string& name) {
        std::string path = folder / name;
        ASSERT_TRUE(kstest::WriteFileText(path, "content of " + name));
        ArchiveContext context;
        ASSERT_TRUE(context.Resolve(path.c_str(), false, nullptr));
        ASSERT_EQ(context.SaveFirstVersion(0, 10, 0, 1), 0);
    }

    // The pages the extension adds for a selection, made the shell's way.
    std::vector<HPROPSHEETPAGE> Pages(const std::vector<std::string>& names,
                                      LPFNSVADDPROPSHEETPAGE add = CollectPage) {
        std::vector<HPROPSHEETPAGE> pages;
        kstest::ShellHost host;
        EXPECT_EQ(host.Create(), S_OK);
        EXPECT_EQ(host.Select(folder.path(), names), S_OK);
        IShellPropSheetExt* sheet = nullptr;
        EXPECT_EQ(host.init()->QueryInterface(IID_IShellPropSheetExt, reinterpret_cast<void**>(&sheet)), S_OK);
        if (sheet) {
            EXPECT_EQ(sheet->AddPages(add, reinterpret_cast<LPARAM>(&pages)), S_OK);
            sheet->Release();
        }
        return pages;
    }

    // The library's own unload test, from the copy that COM loaded.
    HRESULT CanUnloadNow() {
        using CanUnloadFn = HRESULT(WINAPI*)();
        HMODULE library = GetModuleHandleA("keepshel.dll");
        if (!library) return E_FAIL;
        auto canUnload = reinterpret_cast<CanUnloadFn>(reinterpret_cast<void*>(GetProcAddress(library, "DllCanUnloadNow")));
        return canUnload ? canUnload() : E_FAIL;
    }

    kstest::ShellRegistration registration;
    kstest::SettingsScope settings;
    kstest::TempFolder folder;
};

TEST_F(HistoryHookup, OneArchivedFileGetsTheTabAndKeepsTheLibraryLoaded) {
    Archived("plan.txt");
    std::vector<HPROPSHEETPAGE> pages = Pages({"plan.txt"});
    ASSERT_EQ(pages.size(), 1u);
    EXPECT_EQ(CanUnloadNow(), S_FALSE) << "the shell released the object, but the page lives";

    // The page in a real sheet: its tab takes the template's caption.
    HWND sheet = OpenSheet(pages);
    ASSERT_NE(sheet, nullptr);
    HWND tabs = PropSheet_GetTabControl(sheet);
    char text[64] = "";
    TCITEMA tab{};
    tab.mask = TCIF_TEXT;
    tab.pszText = text;
    tab.cchTextMax = sizeof text;
    SendMessageA(tabs, TCM_GETITEMA, 0, reinterpret_cast<LPARAM>(&tab));
    EXPECT_STREQ(text, "Keepsake (TM)");
    DestroyWindow(sheet);
    EXPECT_EQ(CanUnloadNow(), S_OK) << "the released page gave the object back";
}

TEST_F(HistoryHookup, NoTabWithoutArchiveForSeveralFilesOrForAShortcut) {
    Archived("a.txt");
    Archived("b.txt");
    Archived("link.lnk");
    ASSERT_TRUE(kstest::WriteFileText(folder / "plain.txt", "no archive"));
    EXPECT_TRUE(Pages({"plain.txt"}).empty());
    EXPECT_TRUE(Pages({"a.txt", "b.txt"}).empty());
    EXPECT_TRUE(Pages({"link.lnk"}).empty());
    EXPECT_EQ(CanUnloadNow(), S_OK);
}

TEST_F(HistoryHookup, RefusedPageGivesEverythingBack) {
    Archived("plan.txt");
    EXPECT_TRUE(Pages({"plan.txt"}, RefusePage).empty());
    EXPECT_EQ(CanUnloadNow(), S_OK) << "neither the page nor the object it held may stay alive";
}

TEST_F(HistoryHookup, OneHistoryWindowPerFileName) {
    Archived("plan.txt");
    ArchiveContext context;
    ASSERT_TRUE(context.Resolve((folder / "plan.txt").c_str(), false, nullptr));
    HistoryPage first(&context), second(&context);

    int again = -1;
    kstest::UiDriver ui;
    ui.OnDialog("Version History - plan.txt", [&](kstest::Window& sheet) {
        again = ShowHistoryWindow(nullptr, &second);
        sheet.Press(IDCANCEL);
    });
    bool closed = kstest::CallWithin(20000, [&] { ShowHistoryWindow(nullptr, &first); });
    EXPECT_TRUE(ui.Finish());
    EXPECT_TRUE(closed);
    EXPECT_EQ(again, 2) << "the open window is focused instead of a second one";
}

TEST_F(HistoryHookup, HistoryCommandOpensTheWindow) {
    Archived("plan.txt");
    kstest::ShellHost host;
    ASSERT_EQ(host.Create(), S_OK);
    ASSERT_EQ(host.Select(folder.path(), {"plan.txt"}), S_OK);
    host.QueryMenu();
    bool seen = false;
    kstest::UiDriver ui;
    ui.OnDialog("Version History - plan.txt", [&](kstest::Window& sheet) {
        seen = true;
        sheet.Press(IDCANCEL);
    });
    EXPECT_EQ(host.Invoke(1), S_OK);
    EXPECT_TRUE(ui.Finish());
    EXPECT_TRUE(seen);
}

// The extension object made in this process (not through COM), so the
// test can read the object count the pages keep.
class InProcessObject {
public:
    InProcessObject(const std::string& folder, const std::vector<std::string>& names) {
        ext_ = new CShellExt;
        ext_->AddRef();
        IDataObject* data = kstest::MakeShellDataObject(folder, names);
        if (data) {
            ext_->Initialize(nullptr, data, nullptr);
            data->Release();
        }
    }
    ~InProcessObject() { Release(); }
    std::vector<HPROPSHEETPAGE> AddPages() {
        std::vector<HPROPSHEETPAGE> pages;
        if (ext_) ext_->AddPages(CollectPage, reinterpret_cast<LPARAM>(&pages));
        return pages;
    }
    void Release() {
        if (ext_) ext_->Release();
        ext_ = nullptr;
    }
    CShellExt* get() const { return ext_; }

private:
    CShellExt* ext_ = nullptr;
};

// While a page it added lives, a second AddPages on the same object adds
// none: the living page keeps the context it was made with.
TEST_F(HistoryHookup, ASecondAddPagesWhileThePageLivesAddsNone) {
    Archived("plan.txt");
    InProcessObject object(folder.path(), {"plan.txt"});
    std::vector<HPROPSHEETPAGE> first = object.AddPages();
    ASSERT_EQ(first.size(), 1u);
    EXPECT_TRUE(object.AddPages().empty());
    DestroyPropertySheetPage(first[0]);
    std::vector<HPROPSHEETPAGE> again = object.AddPages();
    EXPECT_EQ(again.size(), 1u) << "once the page is gone, a new one may come";
    for (HPROPSHEETPAGE page : again) DestroyPropertySheetPage(page);
}

// The description a page was created from, as the system handed it to
// the page at its creation.
const PROPSHEETPAGEA* DescriptionOf(HWND page) {
    return reinterpret_cast<const PROPSHEETPAGEA*>(GetWindowLongPtrA(page, DWLP_USER));
}

// Each page is made with the library's object count as its reference
// counter, in the Properties sheet and in the history window alike, so the
// common controls keep the library loaded while the page exists.
TEST_F(HistoryHookup, PagesCarryTheObjectCountAsTheirReferenceCounter) {
    Archived("plan.txt");
    InProcessObject object(folder.path(), {"plan.txt"});
    std::vector<HPROPSHEETPAGE> pages = object.AddPages();
    ASSERT_EQ(pages.size(), 1u);
    object.Release();  // the shell lets go of the object; the page holds it
    HWND sheet = OpenSheet(pages);
    ASSERT_NE(sheet, nullptr);
    const PROPSHEETPAGEA* properties = DescriptionOf(PropSheet_GetCurrentPageHwnd(sheet));
    ASSERT_TRUE(properties);
    EXPECT_TRUE(properties->dwFlags & PSP_USEREFPARENT);
    EXPECT_EQ(properties->pcRefParent, reinterpret_cast<UINT*>(&g_objectCount));
    DestroyWindow(sheet);

    ArchiveContext context;
    ASSERT_TRUE(context.Resolve((folder / "plan.txt").c_str(), false, nullptr));
    HistoryPage page(&context);
    DWORD flags = 0;
    UINT* counter = nullptr;
    kstest::UiDriver ui;
    ui.OnDialog("Version History - plan.txt", [&](kstest::Window& window) {
        const PROPSHEETPAGEA* history = DescriptionOf(PropSheet_GetCurrentPageHwnd(window.handle()));
        if (history) {
            flags = history->dwFlags;
            counter = history->pcRefParent;
        }
        window.Press(IDCANCEL);
    });
    ASSERT_TRUE(kstest::CallWithin(20000, [&] { ShowHistoryWindow(nullptr, &page); }));
    ASSERT_TRUE(ui.Finish());
    EXPECT_TRUE(flags & PSP_USEREFPARENT);
    EXPECT_EQ(counter, reinterpret_cast<UINT*>(&g_objectCount));
}

TEST_F(HistoryHookup, ReplacePageReplacesNothing) {
    InProcessObject object(folder.path(), {});
    kstest::TraceCapture trace;
    EXPECT_EQ(object.get()->ReplacePage(0, CollectPage, 0), E_FAIL);
    EXPECT_TRUE(trace.Contains("CShellExt::ReplacePage()\r\n"));
}

// A file without a place for its archive: the command says why, once,
// and opens no window titled without a name.
TEST_F(HistoryHookup, HistoryCommandAfterARefusalOpensNoWindow) {
    Archived("plan.txt");
    ASSERT_TRUE(kstest::WriteFileText(folder / "blocker", "a file, not a folder"));
    settings.SetString("VersionsPath", folder / "blocker\\archives");
    ASSERT_TRUE(kstest::WriteFileText(folder / "other.txt", "no archive place"));
    kstest::ShellHost host;
    ASSERT_EQ(host.Create(), S_OK);
    ASSERT_EQ(host.Select(folder.path(), {"other.txt"}), S_OK);
    kstest::BoxRecorder boxes("Keepsake (TM)");
    HRESULT result = E_FAIL;
    ASSERT_TRUE(kstest::CallWithin(20000, [&] { result = host.Invoke(1); })) << "a window opened after the refusal";
    EXPECT_EQ(result, S_OK);
    Sleep(100);
    ASSERT_EQ(boxes.Count(), 1u);
    EXPECT_EQ(boxes.Seen()[0].text, "Can't create Keepsake directory!");
}

}  // namespace
