// Context help: the Help button's topic, F1 and "What's This?" through the
// dialog's help table, the help file's path, and dialogs without a table.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>
#include <vector>

#include "dialog_test_support.h"
#include "resource.h"
#include "test_helpers.h"

namespace {

using kstest::HelpRequests;
using kstest::Window;

std::vector<DWORD> PairsOf(const DWORD* table) {
    std::vector<DWORD> pairs;
    for (; table && table[0] != 0; table += 2) {
        pairs.push_back(table[0]);
        pairs.push_back(table[1]);
    }
    return pairs;
}

TEST(HelpTables, EveryDialogHasItsPairsAfterTheHeader) {
    kstest::UseOwnResources();
    EXPECT_EQ(PairsOf(LoadHelpTable(IDD_ABOUT)),
              (std::vector<DWORD>{1047, 2, 1048, 3, 1051, 4, 1052, 5, 1050, 6, 1049, 7, 1046, 8}));
    EXPECT_EQ(PairsOf(LoadHelpTable(IDD_NEW_VERSION)), (std::vector<DWORD>{1000, 37, 1001, 38, 1033, 39, 1032, 40, 1031, 41}));
    EXPECT_EQ(PairsOf(LoadHelpTable(IDD_SAVE_PROPERTIES)), (std::vector<DWORD>{1004, 10, 1003, 11}));
    EXPECT_EQ(PairsOf(LoadHelpTable(IDD_RETRIEVE_AS)), (std::vector<DWORD>{1000, 43, 1004, 44}));
    EXPECT_EQ(PairsOf(LoadHelpTable(IDD_PROGRESS)), (std::vector<DWORD>{1043, 46, 1042, 47}));
    // The header holds the dialog's own topic.
    EXPECT_EQ(LoadHelpTable(IDD_NEW_VERSION)[-1], 36u);
    EXPECT_EQ(LoadHelpTable(IDD_NEW_VERSION)[-2], 0u);
    EXPECT_EQ(LoadHelpTable(999), nullptr);
}

TEST(HelpFile, PathFollowsHelpPathAndNeverOverflows) {
    kstest::UseOwnResources();
    kstest::SettingsScope settings;
    char path[MAX_PATH];
    GetHelpFilePath(path);
    EXPECT_STREQ(path, "keepshel.hlp");

    settings.SetString("HelpPath", "C:\\Program Files\\Keepsake");
    GetHelpFilePath(path);
    EXPECT_STREQ(path, "C:\\Program Files\\Keepsake\\keepshel.hlp");

    settings.SetString("HelpPath", "");
    GetHelpFilePath(path);
    EXPECT_STREQ(path, "keepshel.hlp");

    // A folder that fills the buffer leaves no room for the name behind it.
    settings.SetString("HelpPath", "C:\\" + std::string(250, 'h'));
    memset(path, 'x', sizeof path);
    GetHelpFilePath(path);
    EXPECT_STREQ(path, "keepshel.hlp");
}

class DialogHelpTest : public ::testing::Test {
protected:
    void SetUp() override { kstest::UseOwnResources(); }
    kstest::SettingsScope settings_;
    HelpRequests help_;
};

// The Help button opens the dialog's topic: 131072 plus the dialog's id.
TEST_F(DialogHelpTest, HelpButtonOpensTheDialogsTopic) {
    settings_.SetString("HelpPath", "C:\\Help");
    struct Case {
        int firstVersion;
        const char* title;
        ULONG_PTR topic;
    };
    const Case cases[] = {{1, "New Version - A.TXT", 131185}, {0, "Version Properties - A.TXT", 131177}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.title);
        SaveOptions options;
        InitSaveOptions(&options);
        options.firstVersion = c.firstVersion;
        options.title = "A.TXT";
        size_t before = help_.Seen().size();
        HWND dialogSeen = nullptr;
        kstest::UiDriver ui;
        ui.OnDialog(c.title, [&](Window& dialog) {
            dialogSeen = dialog.handle();
            dialog.Press(IDHELP);
            EXPECT_TRUE(help_.WaitForCount(before + 1));
            EXPECT_TRUE(IsWindowVisible(dialog.handle()));
            dialog.Cancel();
        });
        EXPECT_EQ(kstest::RunDialog([&] { return ShowNewVersionDialog(nullptr, &options); }), IDCANCEL);
        EXPECT_TRUE(ui.Finish());
        std::vector<kstest::HelpRequest> seen = help_.Seen();
        ASSERT_EQ(seen.size(), before + 1);
        EXPECT_EQ(seen.back().command, static_cast<UINT>(HELP_CONTEXT));
        EXPECT_EQ(seen.back().data, c.topic);
        EXPECT_EQ(seen.back().window, dialogSeen);
        EXPECT_EQ(seen.back().helpFile, "C:\\Help\\keepshel.hlp");
    }

    RetrieveAsRequest request{};
    kstest::UiDriver ui;
    ui.OnDialog("Save As", [&](Window& dialog) {
        dialog.Press(IDHELP);
        EXPECT_TRUE(help_.WaitForCount(3));
        dialog.Cancel();
    });
    EXPECT_EQ(kstest::RunDialog([&] { return ShowRetrieveAsDialog(nullptr, &request); }), IDCANCEL);
    EXPECT_TRUE(ui.Finish());
    ASSERT_EQ(help_.Seen().size(), 3u);
    EXPECT_EQ(help_.Seen().back().data, 131184u);
}

// F1 on a control asks for its pop-up with the dialog's whole table.
TEST_F(DialogHelpTest, F1OnAControlHandsTheTableToWinHelp) {
    SaveOptions options;
    InitSaveOptions(&options);
    options.firstVersion = 1;
    options.title = "A.TXT";
    HWND field = nullptr;
    kstest::UiDriver ui;
    ui.OnDialog("New Version - A.TXT", [&](Window& dialog) {
        field = dialog.Control(IDC_MAX_TEMPORARY);
        SendMessageA(dialog.handle(), WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(field), TRUE);
        SetForegroundWindow(dialog.handle());
        INPUT keys[2] = {};
        keys[0].type = keys[1].type = INPUT_KEYBOARD;
        keys[0].ki.wVk = keys[1].ki.wVk = VK_F1;
        keys[1].ki.dwFlags = KEYEVENTF_KEYUP;
        SendInput(2, keys, sizeof keys[0]);
        EXPECT_TRUE(help_.WaitForCount(1));
        dialog.Cancel();
    });
    EXPECT_EQ(kstest::RunDialog([&] { return ShowNewVersionDialog(nullptr, &options); }), IDCANCEL);
    EXPECT_TRUE(ui.Finish());
    std::vector<kstest::HelpRequest> seen = help_.Seen();
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].command, static_cast<UINT>(HELP_WM_HELP));
    EXPECT_EQ(seen[0].window, field);
    EXPECT_EQ(seen[0].helpFile, "keepshel.hlp");
    EXPECT_EQ(reinterpret_cast<const DWORD*>(seen[0].data), LoadHelpTable(IDD_NEW_VERSION));
}

// A right click shows the menu at the click; its one item asks for the
// pop-up of the control that was clicked. From the keyboard (Shift+F10)
// there is no point: the menu opens over the focused control instead.
TEST_F(DialogHelpTest, WhatsThisOnARightClickedControl) {
    for (bool fromKeyboard : {false, true}) {
        SCOPED_TRACE(fromKeyboard ? "from the keyboard" : "right click");
        size_t before = help_.Seen().size();
        RetrieveAsRequest request{};
        HWND control = nullptr;
        bool menuSeen = false;
        kstest::UiDriver ui;
        ui.OnDialog("Save As", [&](Window& dialog) {
            control = dialog.Control(IDC_BROWSE);
            RECT frame{};
            GetWindowRect(control, &frame);
            LPARAM where = fromKeyboard ? static_cast<LPARAM>(-1)
                                        : MAKELPARAM((frame.left + frame.right) / 2, (frame.top + frame.bottom) / 2);
            PostMessageA(dialog.handle(), WM_CONTEXTMENU, reinterpret_cast<WPARAM>(control), where);
            Window menu = kstest::WaitForWindow("#32768", nullptr, 5000);
            menuSeen = static_cast<bool>(menu);
            if (menu) {
                PostMessageA(menu.handle(), WM_KEYDOWN, VK_DOWN, 1);
                PostMessageA(menu.handle(), WM_KEYDOWN, VK_RETURN, 1);
            }
            EXPECT_TRUE(help_.WaitForCount(before + 1));
            dialog.Cancel();
        });
        EXPECT_EQ(kstest::RunDialog([&] { return ShowRetrieveAsDialog(nullptr, &request); }), IDCANCEL);
        EXPECT_TRUE(ui.Finish());
        EXPECT_TRUE(menuSeen);
        std::vector<kstest::HelpRequest> seen = help_.Seen();
        ASSERT_EQ(seen.size(), before + 1);
        EXPECT_EQ(seen.back().command, static_cast<UINT>(HELP_WM_HELP));
        EXPECT_EQ(seen.back().window, control);
        EXPECT_EQ(reinterpret_cast<const DWORD*>(seen.back().data), LoadHelpTable(IDD_RETRIEVE_AS));
    }
}

// A dialog without a table leaves the request to the system; other
// messages and commands are not help's business.
TEST_F(DialogHelpTest, WithoutATableTheRequestIsLeftAlone) {
    HWND window = CreateWindowExA(0, "STATIC", "plain", WS_POPUP, 0, 0, 50, 50, nullptr, nullptr, nullptr, nullptr);
    ASSERT_NE(window, nullptr);
    HELPINFO info{};
    info.cbSize = sizeof info;
    info.iContextType = HELPINFO_WINDOW;
    info.hItemHandle = window;
    EXPECT_FALSE(HandleContextHelp(window, 999, WM_HELP, 0, reinterpret_cast<LPARAM>(&info)));
    EXPECT_TRUE(HandleContextHelp(window, IDD_ABOUT, WM_HELP, 0, reinterpret_cast<LPARAM>(&info)));
    info.iContextType = HELPINFO_MENUITEM;
    EXPECT_FALSE(HandleContextHelp(window, IDD_ABOUT, WM_HELP, 0, reinterpret_cast<LPARAM>(&info)));
    EXPECT_FALSE(HandleContextHelp(window, IDD_ABOUT, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0));
    EXPECT_FALSE(HandleContextHelp(window, IDD_ABOUT, WM_COMMAND, MAKEWPARAM(IDHELP, EN_CHANGE), 0));
    EXPECT_FALSE(HandleContextHelp(window, IDD_ABOUT, WM_SIZE, 0, 0));
    DestroyWindow(window);
    EXPECT_EQ(help_.Seen().size(), 1u);
}

}  // namespace
