// The modeless progress window: its bar and text, Cancel noticed through
// the pump while the window stays, and a pump that leaves other windows'
// messages alone.
#include <gtest/gtest.h>

#include <windows.h>
#include <commctrl.h>

#include <string>

#include "dialog_test_support.h"
#include "resource.h"
#include "test_helpers.h"

namespace {

const char kTitle[] = "Saving 3 files";

class ProgressDialogTest : public ::testing::Test {
protected:
    void SetUp() override { kstest::UseOwnResources(); }

    static int BarPosition(const ProgressDialog& progress) {
        return static_cast<int>(SendDlgItemMessageA(progress.window(), IDC_PROGRESS_BAR, PBM_GETPOS, 0, 0));
    }
    static int BarHighest(const ProgressDialog& progress) {
        return static_cast<int>(SendDlgItemMessageA(progress.window(), IDC_PROGRESS_BAR, PBM_GETRANGE, FALSE, 0));
    }

    // Pumps through IsCancelled until the flag is set or time is up.
    static bool WaitForCancel(ProgressDialog& progress) {
        return kstest::WaitFor([&] { return progress.IsCancelled(); });
    }
};

TEST_F(ProgressDialogTest, ShowsTitleTextAndSteps) {
    ProgressDialog progress;
    EXPECT_EQ(progress.window(), nullptr);
    ASSERT_TRUE(progress.Open(nullptr, 3, kTitle));
    HWND window = progress.window();
    ASSERT_NE(window, nullptr);
    EXPECT_TRUE(IsWindowVisible(window));
    EXPECT_EQ(kstest::TextOfWindow(window), kTitle);
    EXPECT_EQ(BarHighest(progress), 3);
    EXPECT_EQ(BarPosition(progress), 0);

    progress.SetText("Versioning C:\\DOCS\\REPORT.DOC");
    EXPECT_EQ(kstest::TextOfWindow(GetDlgItem(window, IDC_PROGRESS_TEXT)), "Versioning C:\\DOCS\\REPORT.DOC");
    progress.Step();
    progress.Step();
    EXPECT_EQ(BarPosition(progress), 2);
    EXPECT_FALSE(progress.IsCancelled());

    progress.Close();
    EXPECT_EQ(progress.window(), nullptr);
    EXPECT_FALSE(IsWindow(window));
    progress.Close();  // a second Close is harmless
}

TEST_F(ProgressDialogTest, OnlyTheLow16BitsOfTheStepsReachTheBar) {
    ProgressDialog progress;
    ASSERT_TRUE(progress.Open(nullptr, 65536 + 5, kTitle));
    EXPECT_EQ(BarHighest(progress), 5);
}

TEST_F(ProgressDialogTest, CancelSetsTheFlagAndTheWindowStays) {
    ProgressDialog progress;
    ASSERT_TRUE(progress.Open(nullptr, 3, kTitle));
    kstest::UiDriver ui;
    ui.OnDialog(kTitle, [](kstest::Window& window) { window.Press(IDCANCEL); });
    EXPECT_TRUE(WaitForCancel(progress));
    EXPECT_TRUE(ui.Finish());
    EXPECT_TRUE(IsWindow(progress.window()));
    EXPECT_TRUE(IsWindowVisible(progress.window()));
    progress.Step();  // the action may still finish its current file
    EXPECT_TRUE(progress.IsCancelled());
    EXPECT_TRUE(IsWindowVisible(progress.window()));
}

// A click lands on the Cancel button itself and Escape on the focused
// control: the pump must take its controls' messages too, and let dialog
// navigation see the keys.
TEST_F(ProgressDialogTest, ClickOnCancelAndEscapeReachThePump) {
    {
        ProgressDialog progress;
        ASSERT_TRUE(progress.Open(nullptr, 3, kTitle));
        HWND cancel = GetDlgItem(progress.window(), IDCANCEL);
        PostMessageA(cancel, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(5, 5));
        PostMessageA(cancel, WM_LBUTTONUP, 0, MAKELPARAM(5, 5));
        EXPECT_TRUE(WaitForCancel(progress));
    }
    {
        ProgressDialog progress;
        ASSERT_TRUE(progress.Open(nullptr, 3, kTitle));
        HWND cancel = GetDlgItem(progress.window(), IDCANCEL);
        PostMessageA(cancel, WM_KEYDOWN, VK_ESCAPE, 1);
        EXPECT_TRUE(WaitForCancel(progress));
        EXPECT_TRUE(IsWindowVisible(progress.window()));
    }
}

TEST_F(ProgressDialogTest, PumpLeavesOtherWindowsMessagesAlone) {
    HWND other = CreateWindowExA(0, "STATIC", "other", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr);
    ASSERT_NE(other, nullptr);
    ProgressDialog progress;
    ASSERT_TRUE(progress.Open(nullptr, 3, kTitle));
    PostMessageA(other, WM_APP + 7, 0, 0);
    progress.Step();
    EXPECT_FALSE(progress.IsCancelled());
    MSG waiting;
    EXPECT_TRUE(PeekMessageA(&waiting, other, WM_APP + 7, WM_APP + 7, PM_REMOVE));
    DestroyWindow(other);
}

TEST_F(ProgressDialogTest, DestructorAndOwnerCloseTheWindow) {
    HWND window = nullptr;
    {
        ProgressDialog progress;
        ASSERT_TRUE(progress.Open(nullptr, 1, kTitle));
        window = progress.window();
    }
    EXPECT_FALSE(IsWindow(window));

    // An owner that goes first takes the window with it; the record lets
    // go of the handle instead of keeping a dead one.
    HWND owner = CreateWindowExA(0, "STATIC", "owner", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr);
    ASSERT_NE(owner, nullptr);
    ProgressDialog progress;
    ASSERT_TRUE(progress.Open(owner, 2, kTitle));
    DestroyWindow(owner);
    EXPECT_EQ(progress.window(), nullptr);
    progress.Step();
    progress.SetText("after");
    EXPECT_FALSE(progress.IsCancelled());
}

TEST_F(ProgressDialogTest, OpenAgainReplacesTheWindowAndResetsCancel) {
    ProgressDialog progress;
    ASSERT_TRUE(progress.Open(nullptr, 3, kTitle));
    HWND first = progress.window();
    PostMessageA(first, WM_COMMAND, IDCANCEL, 0);
    EXPECT_TRUE(WaitForCancel(progress));
    ASSERT_TRUE(progress.Open(nullptr, 4, "Second"));
    EXPECT_FALSE(IsWindow(first));
    EXPECT_FALSE(progress.IsCancelled());
    EXPECT_EQ(BarHighest(progress), 4);
}

}  // namespace
