// The progress window: caption percentages, status text, pumping with
// Escape detection and the remembered position.
#include <gtest/gtest.h>

#include <windows.h>
#include <commctrl.h>

#include <string>

#include "loader_test_support.h"
#include "progress_window.h"

using namespace kickoff;

namespace {

const char kTitle[] = "Zemla Setup Wizard";
const char kProfile[] = "kickoff_progress_test.INI";

std::string WindowText(HWND window) {
    char text[1024] = {};
    ::GetWindowTextA(window, text, sizeof text);
    return text;
}

class ProgressWindow : public ::testing::Test {
protected:
    void SetUp() override { RemoveProfile(); }
    void TearDown() override { RemoveProfile(); }

    static std::string ProfilePath() {
        char windows[MAX_PATH] = {};
        ::GetWindowsDirectoryA(windows, MAX_PATH);
        return std::string(windows) + "\\" + kProfile;
    }
    static void RemoveProfile() { ::DeleteFileA(ProfilePath().c_str()); }
    static void SavePosition(int x, int y) {
        ::WritePrivateProfileStringA("Settings", "X", std::to_string(x).c_str(), kProfile);
        ::WritePrivateProfileStringA("Settings", "Y", std::to_string(y).c_str(), kProfile);
    }
    static int Saved(const char* key) {
        return static_cast<int>(::GetPrivateProfileIntA("Settings", key, -1, kProfile));
    }
    static RECT Frame(const CSetupProgressWnd& window) {
        RECT frame = {};
        ::GetWindowRect(window.Handle(), &frame);
        return frame;
    }
    static bool MessageWaiting(UINT message) {
        MSG waiting;
        return ::PeekMessageA(&waiting, nullptr, message, message, PM_NOREMOVE) != FALSE;
    }
};

}  // namespace

TEST_F(ProgressWindow, CaptionShowsWholePercentagesOnlyOnceTheyChange) {
    CSetupProgressWnd progress(kProfile);
    ASSERT_TRUE(progress.Create(nullptr, kTitle, false));
    EXPECT_EQ(WindowText(progress.Handle()), kTitle);

    progress.SetRange(0, 0, 1);
    progress.StepIt();
    EXPECT_EQ(WindowText(progress.Handle()), kTitle);  // 0..0 never shows a percentage

    progress.SetRange(0, 3, 1);
    progress.SetPos(0);
    const char* expected[] = {"Zemla Setup Wizard [33%]", "Zemla Setup Wizard [66%]", "Zemla Setup Wizard [100%]"};
    for (const char* caption : expected) {
        progress.StepIt();
        EXPECT_EQ(WindowText(progress.Handle()), caption);
    }
    EXPECT_EQ(progress.Position(), 3);
    EXPECT_EQ(::SendDlgItemMessageA(progress.Handle(), kProgressBarId, PBM_GETPOS, 0, 0), 3);

    progress.Reset();
    EXPECT_EQ(WindowText(progress.Handle()), "Zemla Setup Wizard [0%]");
    EXPECT_EQ(progress.Position(), 0);
    EXPECT_EQ(WindowText(::GetDlgItem(progress.Handle(), kStatusTextId)), "");

    // Large positions must not overflow into a wrong percentage.
    progress.SetRange(0, 2000000000, 1);
    progress.SetPos(1000000000);
    EXPECT_EQ(WindowText(progress.Handle()), "Zemla Setup Wizard [50%]");
}

TEST_F(ProgressWindow, StatusTextIsFormattedAndBounded) {
    CSetupProgressWnd progress(kProfile);
    ASSERT_TRUE(progress.Create(nullptr, kTitle, false));
    HWND status = ::GetDlgItem(progress.Handle(), kStatusTextId);
    progress.SetStatus("Removing File %s", "C:\\TEMP\\a.tmp");
    EXPECT_EQ(WindowText(status), "Removing File C:\\TEMP\\a.tmp");
    progress.SetStatus("%s", std::string(900, 'y').c_str());
    EXPECT_EQ(WindowText(status), std::string(kStatusTextLimit - 1, 'y'));
}

TEST_F(ProgressWindow, LayoutKeepsTenPixelMarginsAroundTextAndBar) {
    CSetupProgressWnd progress(kProfile);
    ASSERT_TRUE(progress.Create(nullptr, kTitle, false));
    RECT client = {};
    ::GetClientRect(progress.Handle(), &client);
    EXPECT_EQ(client.right, 370);

    auto childRect = [&](int id) {
        RECT rect = {};
        ::GetWindowRect(::GetDlgItem(progress.Handle(), id), &rect);
        ::MapWindowPoints(nullptr, progress.Handle(), reinterpret_cast<POINT*>(&rect), 2);
        return rect;
    };
    const RECT text = childRect(kStatusTextId);
    const RECT bar = childRect(kProgressBarId);
    EXPECT_EQ(text.left, 10);
    EXPECT_EQ(text.top, 10);
    EXPECT_EQ(text.right, 360);
    EXPECT_GT(text.bottom, text.top);
    EXPECT_EQ(bar.left, 10);
    EXPECT_GT(bar.top, text.bottom + 10);   // below the text, inside the slot's edge
    EXPECT_LT(bar.right, text.right - 10);  // the empty slot stays to its right
    EXPECT_LT(bar.bottom, client.bottom - 10);
}

TEST_F(ProgressWindow, EscapeStopsPumpingUntilReset) {
    CSetupProgressWnd progress(kProfile);
    ASSERT_TRUE(progress.Create(nullptr, kTitle, false));
    const UINT kLater = WM_APP + 7;

    // Without Escape detection the key is only a message.
    ::PostMessageA(progress.Handle(), WM_CHAR, VK_ESCAPE, 0);
    ::PostMessageA(progress.Handle(), kLater, 0, 0);
    progress.PumpMessages(false);
    EXPECT_FALSE(progress.IsCancelled());
    EXPECT_FALSE(MessageWaiting(kLater));

    ::PostMessageA(progress.Handle(), WM_CHAR, VK_ESCAPE, 0);
    ::PostMessageA(progress.Handle(), kLater, 0, 0);
    progress.PumpMessages(true);
    EXPECT_TRUE(progress.IsCancelled());
    EXPECT_TRUE(MessageWaiting(kLater));  // pumping stopped right after Escape
    progress.PumpMessages(true);
    EXPECT_TRUE(MessageWaiting(kLater));

    progress.Reset();
    EXPECT_FALSE(progress.IsCancelled());
    progress.PumpMessages(true);
    EXPECT_FALSE(MessageWaiting(kLater));
}

TEST_F(ProgressWindow, ASavedPositionIsUsedAndStoredAgainOnDestroy) {
    SavePosition(37, 41);
    CSetupProgressWnd progress(kProfile);
    ASSERT_TRUE(progress.Create(nullptr, kTitle, false));
    EXPECT_EQ(Frame(progress).left, 37);
    EXPECT_EQ(Frame(progress).top, 41);
    EXPECT_TRUE(::IsWindowVisible(progress.Handle()));

    ::SetWindowPos(progress.Handle(), nullptr, 52, 63, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    progress.Destroy();
    EXPECT_FALSE(progress.Exists());
    EXPECT_EQ(Saved("X"), 52);
    EXPECT_EQ(Saved("Y"), 63);
}

TEST_F(ProgressWindow, NoOrOffScreenPositionCentresTheWindow) {
    const int screenWidth = ::GetSystemMetrics(SM_CXSCREEN);
    const int screenHeight = ::GetSystemMetrics(SM_CYSCREEN);
    for (const bool offScreen : {false, true}) {
        if (offScreen) SavePosition(screenWidth, 10);
        CSetupProgressWnd progress(kProfile);
        ASSERT_TRUE(progress.Create(nullptr, kTitle, false));
        const RECT frame = Frame(progress);
        EXPECT_EQ(frame.left, (screenWidth - (frame.right - frame.left)) / 2) << offScreen;
        EXPECT_EQ(frame.top, (screenHeight - (frame.bottom - frame.top)) / 2) << offScreen;
    }
}

TEST_F(ProgressWindow, AfterTheUserClosedItEveryOperationIsANoOp) {
    CSetupProgressWnd progress(kProfile);
    ASSERT_TRUE(progress.Create(nullptr, kTitle, false));
    progress.SetRange(0, 4, 1);
    progress.StepIt();
    ::SendMessageA(progress.Handle(), WM_CLOSE, 0, 0);
    EXPECT_FALSE(progress.Exists());

    progress.StepIt();
    progress.SetStatus("%s", "ignored");
    progress.Reset();
    progress.PumpMessages(true);
    progress.Destroy();
    EXPECT_EQ(progress.Position(), 1);
    // Closing through the system menu stores no position.
    EXPECT_EQ(Saved("X"), -1);
}
