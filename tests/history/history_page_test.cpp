// The history page in a real property sheet: its initial state, the limit
// of temporary versions and the Apply button, the toolbar, the reload when
// the archive changes elsewhere, and help.
#include <gtest/gtest.h>

#include <windows.h>
#include <commctrl.h>

#include <atomic>
#include <string>
#include <vector>

#include "dialogs/dialogs.h"
#include "archive/module.h"
#include "dialog_test_support.h"
#include "history_test_support.h"

namespace {

using kstest::Pump;
using kstest::PumpUntil;
using kstest::SheetHost;
using kstest::VersionedFile;
using kstest::Window;

// Closes and counts every product message box shown during its life, so a
// question that should not come cannot leave the test waiting.
class UnexpectedBoxes {
public:
    UnexpectedBoxes() { thread_ = CreateThread(nullptr, 0, &Watch, this, 0, nullptr); }
    ~UnexpectedBoxes() {
        stop_ = true;
        WaitForSingleObject(thread_, 5000);
        CloseHandle(thread_);
    }
    int count() const { return count_; }

private:
    static DWORD WINAPI Watch(void* self) {
        auto* watch = static_cast<UnexpectedBoxes*>(self);
        while (!watch->stop_) {
            Window box = kstest::FindTopLevel("#32770", kstest::kProductCaption);
            if (box) {
                ++watch->count_;
                box.Close();
                kstest::WaitUntilGone(box.handle(), 1000);
            }
            Sleep(20);
        }
        return 0;
    }

    std::atomic<bool> stop_{false};
    std::atomic<int> count_{0};
    HANDLE thread_ = nullptr;
};

class HistoryPageTest : public ::testing::Test {
protected:
    // Types `text` into the limit field and applies the page while a
    // driver answers one message box with `button`; the box it saw.
    kstest::MessageBoxInfo ApplyAnswering(SheetHost& host, const std::string& text, int button, bool* stays) {
        SetDlgItemTextA(host.window(), IDC_HISTORY_LIMIT, text.c_str());
        kstest::UiDriver ui;
        ui.OnMessageBox(kstest::kProductCaption, [button](Window& box) { box.Press(button); });
        *stays = ApplyPage(&host.page);
        EXPECT_TRUE(ui.Finish()) << "for " << text;
        return ui.Seen().empty() ? kstest::MessageBoxInfo{} : ui.Seen().front();
    }

    VersionedFile file_;
};

TEST_F(HistoryPageTest, LimitsOutsideTheRangeAreCorrectedAndThePageStays) {
    file_.Save(2);
    SheetHost host(&file_.context);
    EXPECT_EQ(host.Text(IDC_HISTORY_LIMIT), "100");

    struct Case {
        const char* typed;
        const char* corrected;
    };
    const Case cases[] = {{"0", "1"}, {"40000", "32767"}, {"", "32767"}, {"2147483648", "1"}, {"99999999999", "32767"}};
    for (const Case& c : cases) {
        bool stays = false;
        kstest::MessageBoxInfo box = ApplyAnswering(host, c.typed, IDOK, &stays);
        EXPECT_TRUE(stays) << c.typed;
        EXPECT_EQ(box.text, "Maximum number of temporary versions must be between 1 and 32767.") << c.typed;
        EXPECT_EQ(box.icon, static_cast<UINT>(MB_ICONSTOP)) << c.typed;
        EXPECT_EQ(host.Text(IDC_HISTORY_LIMIT), c.corrected) << c.typed;
    }
    EXPECT_EQ(file_.context.MaxTemporaryVersions(), 100) << "nothing was applied";

    // Through the sheet's OK button: the sheet stays open on the page.
    SetDlgItemTextA(host.window(), IDC_HISTORY_LIMIT, "0");
    kstest::UiDriver ui;
    ui.OnMessageBox(kstest::kProductCaption, [](Window& box) { box.Press(IDOK); });
    SendMessageA(host.sheet, WM_COMMAND, IDOK, 0);
    EXPECT_TRUE(ui.Finish());
    Pump(30);
    EXPECT_TRUE(IsWindow(host.sheet));
    EXPECT_EQ(PropSheet_GetCurrentPageHwnd(host.sheet), host.window());
}

TEST_F(HistoryPageTest, ALimitBelowTheTemporaryCountAsksFirst) {
    file_.Save(3);
    SheetHost host(&file_.context);
    ASSERT_EQ(file_.context.TemporaryVersionCount(), 3);

    {
        UnexpectedBoxes boxes;
        SetDlgItemTextA(host.window(), IDC_HISTORY_LIMIT, "3");
        EXPECT_FALSE(ApplyPage(&host.page));
        EXPECT_EQ(boxes.count(), 0) << "equal to the count applies silently";
    }
    EXPECT_EQ(file_.context.MaxTemporaryVersions(), 3);

    bool stays = false;
    kstest::MessageBoxInfo box = ApplyAnswering(host, "2", IDCANCEL, &stays);
    EXPECT_TRUE(stays);
    EXPECT_EQ(box.text,
              "Warning!  The number of temporary versions exceeds the maximum you have chosen.  One or more versions "
              "will be deleted.");
    EXPECT_EQ(box.icon, static_cast<UINT>(MB_ICONWARNING));
    EXPECT_EQ(box.buttons, (std::vector<int>{IDOK, IDCANCEL}));
    EXPECT_EQ(file_.context.MaxTemporaryVersions(), 3) << "Cancel keeps the limit";
    EXPECT_TRUE(host.page.refreshEnabled);

    ApplyAnswering(host, "2", IDOK, &stays);
    EXPECT_FALSE(stays);
    EXPECT_EQ(file_.context.MaxTemporaryVersions(), 2);
    EXPECT_EQ(file_.context.TemporaryVersionCount(), 2);
    EXPECT_TRUE(host.page.refreshEnabled);
}

TEST_F(HistoryPageTest, ApplyButtonFollowsTypingAndApplying) {
    file_.Save(1);
    SheetHost host(&file_.context);
    EXPECT_FALSE(host.ApplyEnabled()) << "filling the page is not a change";

    SetDlgItemTextA(host.window(), IDC_HISTORY_LIMIT, "5");
    EXPECT_TRUE(host.ApplyEnabled());
    EXPECT_FALSE(ApplyPage(&host.page));
    EXPECT_FALSE(host.ApplyEnabled());
    EXPECT_EQ(file_.context.MaxTemporaryVersions(), 5);

    // The page's own reload after the archive changed is no change either.
    file_.Save(2);
    ASSERT_TRUE(PumpUntil([&] { return host.RowCount() == 2; }, 3000));
    EXPECT_FALSE(host.ApplyEnabled());
}

TEST_F(HistoryPageTest, AVersionSavedElsewhereAppearsWithinHalfASecond) {
    file_.Save(2);
    SheetHost host(&file_.context);
    ASSERT_EQ(host.RowCount(), 2);

    // Another thread saves through a context of its own, as another
    // program would.
    struct Saver {
        std::string path;
        bool saved = false;
        static DWORD WINAPI Run(void* self) {
            auto* saver = static_cast<Saver*>(self);
            saver->saved = kstest::SaveAsAnotherProgram(saver->path, "v3 from elsewhere", "saved elsewhere");
            return 0;
        }
    } saver{file_.path};
    HANDLE thread = CreateThread(nullptr, 0, &Saver::Run, &saver, 0, nullptr);
    ASSERT_TRUE(PumpUntil([&] { return WaitForSingleObject(thread, 0) == WAIT_OBJECT_0; }, 10000));
    CloseHandle(thread);
    ASSERT_TRUE(saver.saved);

    DWORD saved = GetTickCount();
    ASSERT_TRUE(PumpUntil([&] { return host.RowCount() == 3; }, 3000));
    EXPECT_LT(GetTickCount() - saved, 1000u) << "the page looks every half second";
    EXPECT_EQ(host.Numbers(), (std::vector<int>{3, 2, 1}));
    EXPECT_EQ(host.Text(IDC_HISTORY_COMMENT), "saved elsewhere");
}

// The delete question runs a message loop in which the page's half-second
// reload goes on. A version saved meanwhile moves every row down by one;
// Yes must still delete the version the user selected, not the one that
// now sits in its row.
TEST_F(HistoryPageTest, AVersionSavedWhileTheDeleteQuestionIsOpenDoesNotChangeWhatIsDeleted) {
    file_.Save(3);
    SheetHost host(&file_.context);
    ASSERT_EQ(host.Numbers(), (std::vector<int>{3, 2, 1}));
    host.SelectOnly({1});  // version 2

    bool savedMeanwhile = false;
    kstest::UiDriver ui;
    ui.OnMessageBox(kstest::kProductCaption, [&](Window& box) {
        savedMeanwhile = kstest::SaveAsAnotherProgram(file_.path, "v4", "saved while the question is open");
        Sleep(1500);  // several of the page's ticks
        box.Press(IDYES);
    });
    host.Command(IDC_TOOL_DELETE);
    ASSERT_TRUE(ui.Finish());
    ASSERT_TRUE(savedMeanwhile);
    EXPECT_EQ(file_.ArchiveNumbers(), (std::vector<int>{1, 3, 4}));
    EXPECT_TRUE(PumpUntil([&] { return host.Numbers() == std::vector<int>{4, 3, 1}; }, 3000));
}

TEST_F(HistoryPageTest, WithoutVersionControlTheLimitStartsDisabled) {
    file_.Save(1);
    file_.settings.SetNumber("EnableVersionControl", 0);
    SheetHost host(&file_.context);
    EXPECT_TRUE(IsWindowEnabled(host.list())) << "the first activation's reload enables the list";
    EXPECT_FALSE(IsWindowEnabled(host.control(IDC_HISTORY_LIMIT)));
    EXPECT_FALSE(IsWindowEnabled(host.control(IDC_HISTORY_LIMIT_LABEL)));
}

TEST_F(HistoryPageTest, WithoutAnArchiveThePageIsEmptyAndPrintIsOff) {
    SheetHost host(&file_.context);
    EXPECT_EQ(host.RowCount(), 0);
    EXPECT_FALSE(IsWindowEnabled(host.list()));
    EXPECT_FALSE(IsWindowEnabled(host.control(IDC_HISTORY_LIMIT)));
    EXPECT_FALSE(host.ButtonEnabled(IDC_TOOL_PRINT_HISTORY));
    EXPECT_EQ(host.Text(IDC_HISTORY_COMPRESSED), "");
    EXPECT_FALSE(ApplyPage(&host.page)) << "only the widths are saved";
    EXPECT_FALSE(file_.context.ArchiveExists());

    // The archive appears: the page takes it up at the next ticks.
    file_.Save(1);
    ASSERT_TRUE(PumpUntil([&] { return host.RowCount() == 1; }, 3000));
    EXPECT_TRUE(IsWindowEnabled(host.list()));
    EXPECT_TRUE(IsWindowEnabled(host.control(IDC_HISTORY_LIMIT)));
}

TEST_F(HistoryPageTest, ToolbarFollowsTheSelection) {
    file_.Save(3);
    SheetHost host(&file_.context);
    HWND toolbar = host.page.toolbar;
    ASSERT_NE(toolbar, nullptr);
    EXPECT_EQ(GetDlgCtrlID(toolbar), IDC_HISTORY_TOOLBAR);
    EXPECT_EQ(SendMessageA(toolbar, TB_BUTTONCOUNT, 0, 0), 5);
    EXPECT_EQ(GetWindowLongA(toolbar, GWL_STYLE) & 0x5000014C, 0x5000014C);
    EXPECT_FALSE(host.control(IDC_HISTORY_TOOLBAR_PLACE)) << "the placeholder is gone";

    // One row selected after the fill.
    EXPECT_TRUE(host.ButtonEnabled(IDC_TOOL_SAVE_AS));
    EXPECT_TRUE(host.ButtonEnabled(IDC_TOOL_DELETE));
    EXPECT_TRUE(host.ButtonEnabled(IDC_TOOL_PRINT_HISTORY));
    EXPECT_TRUE(host.ButtonEnabled(IDC_TOOL_SETTINGS));
    EXPECT_TRUE(host.ButtonEnabled(IDC_TOOL_ABOUT));

    host.SelectOnly({0, 1});
    EXPECT_FALSE(host.ButtonEnabled(IDC_TOOL_SAVE_AS));
    EXPECT_TRUE(host.ButtonEnabled(IDC_TOOL_DELETE));
    EXPECT_FALSE(host.ButtonEnabled(IDC_TOOL_PRINT_HISTORY));
    EXPECT_EQ(host.Text(IDC_HISTORY_COMMENT), "");

    host.SelectOnly({});
    EXPECT_FALSE(host.ButtonEnabled(IDC_TOOL_DELETE));

    // Tooltips are the strings named by the commands.
    const char* tips[] = {"Save As", "Delete", "Print History", "Settings", "About"};
    for (int i = 0; i < 5; ++i) {
        NMTTDISPINFOA request{};
        request.hdr.hwndFrom = toolbar;
        request.hdr.idFrom = IDC_TOOL_SAVE_AS + i;
        request.hdr.code = TTN_NEEDTEXTA;
        SendMessageA(host.window(), WM_NOTIFY, 0, reinterpret_cast<LPARAM>(&request));
        ASSERT_NE(request.lpszText, nullptr);
        EXPECT_STREQ(request.lpszText, tips[i]);
    }
}

TEST_F(HistoryPageTest, HelpButtonTopicAndWhatsThis) {
    file_.Save(1);
    file_.settings.SetString("HelpPath", "C:\\Help");
    kstest::HelpRequests help;
    SheetHost host(&file_.context);

    char text[32] = "";
    GetWindowTextA(GetDlgItem(host.sheet, IDHELP), text, sizeof text);
    EXPECT_STREQ(text, "&Help");

    // The sheet's Help button: the page's topic.
    NMHDR notice{host.sheet, 0, static_cast<UINT>(PSN_HELP)};
    SendMessageA(host.window(), WM_NOTIFY, 0, reinterpret_cast<LPARAM>(&notice));
    ASSERT_EQ(help.Seen().size(), 1u);
    EXPECT_EQ(help.Seen()[0].window, host.window());
    EXPECT_EQ(help.Seen()[0].helpFile, "C:\\Help\\keepshel.hlp");
    EXPECT_EQ(help.Seen()[0].command, static_cast<UINT>(HELP_CONTEXT));
    EXPECT_EQ(help.Seen()[0].data, 131174u);

    // "What's This?" over each toolbar button: its pop-up topic.
    const ULONG_PTR topics[] = {34, 28, 33, 53, 25};
    for (int i = 0; i < 5; ++i) {
        RECT button{};
        SendMessageA(host.page.toolbar, TB_GETITEMRECT, i, reinterpret_cast<LPARAM>(&button));
        POINT centre{(button.left + button.right) / 2, (button.top + button.bottom) / 2};
        ClientToScreen(host.page.toolbar, &centre);
        HELPINFO info{sizeof info, HELPINFO_WINDOW, IDC_HISTORY_TOOLBAR, host.page.toolbar, 0, centre};
        SendMessageA(host.window(), WM_HELP, 0, reinterpret_cast<LPARAM>(&info));
        auto seen = help.Seen();
        ASSERT_EQ(seen.size(), 2u + i);
        EXPECT_EQ(seen.back().command, static_cast<UINT>(HELP_CONTEXTPOPUP)) << i;
        EXPECT_EQ(seen.back().data, topics[i]) << i;
        EXPECT_EQ(seen.back().window, host.window());
    }

    // On the list: the table's entry for the control.
    RECT listFrame{};
    GetWindowRect(host.list(), &listFrame);
    HELPINFO info{sizeof info, HELPINFO_WINDOW, IDC_HISTORY_LIST, host.list(), 0, {listFrame.left + 5, listFrame.top + 5}};
    SendMessageA(host.window(), WM_HELP, 0, reinterpret_cast<LPARAM>(&info));
    auto seen = help.Seen();
    ASSERT_EQ(seen.size(), 7u);
    EXPECT_EQ(seen.back().command, static_cast<UINT>(HELP_WM_HELP));
    EXPECT_EQ(seen.back().window, host.list());
    const DWORD* table = reinterpret_cast<const DWORD*>(seen.back().data);
    bool found = false;
    for (; table[0] != 0; table += 2) found = found || (table[0] == IDC_HISTORY_LIST && table[1] == 29);
    EXPECT_TRUE(found);
}

// The page marks the Help button of whatever sheet holds it, once.
TEST(HistoryPageHelpButton, GetsItsAccessKeyOnlyWhenItHasNone) {
    VersionedFile file;
    struct Case {
        const char* before;
        const char* after;
    };
    const Case cases[] = {{"Help", "&Help"}, {"&Help", "&Help"}, {"Helper", "Helper"}};
    for (const Case& c : cases) {
        HWND sheet = CreateWindowExA(0, "STATIC", "", WS_POPUP, 0, 0, 400, 400, nullptr, nullptr, nullptr, nullptr);
        HWND button = CreateWindowExA(0, "BUTTON", c.before, WS_CHILD, 0, 0, 50, 14, sheet,
                                      reinterpret_cast<HMENU>(IDHELP), nullptr, nullptr);
        HistoryPage page(&file.context);
        PROPSHEETPAGEA description = MakeHistoryPageDescription(&page, kHistoryWindowPageFlags, nullptr, nullptr);
        HWND dialog = CreateDialogParamA(ModuleInstance(), MAKEINTRESOURCEA(IDD_HISTORY_PAGE), sheet, &HistoryPageProc,
                                         reinterpret_cast<LPARAM>(&description));
        ASSERT_NE(dialog, nullptr);
        EXPECT_EQ(kstest::TextOfWindow(button), c.after) << c.before;
        DestroyWindow(sheet);
    }
}

TEST(HistoryPageTable, HelpTableHoldsThePagesPairs) {
    kstest::UseOwnResources();
    std::vector<DWORD> pairs;
    for (const DWORD* table = LoadHelpTable(IDD_HISTORY_PAGE); table && table[0] != 0; table += 2) {
        pairs.push_back(table[0]);
        pairs.push_back(table[1]);
    }
    EXPECT_EQ(pairs, (std::vector<DWORD>{1065, 25, 1044, 27, 1062, 28, 1026, 29, 1034, 30, 1003, 31, 1035, 32, 1063,
                                         33, 1061, 34, 1064, 53, 1058, 54}));
}

}  // namespace
