// The About box: its texts from the string table and its place over the
// window it was opened from.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>

#include "dialog_test_support.h"
#include "resource.h"
#include "test_helpers.h"

namespace {

const char kTitle[] = "About Keepsake";

// Runs the box over a window of the same thread (an owner on another thread
// would have to answer while that thread waits).
int ShowOver(const RECT& ownerFrame, RECT* ownerSeen = nullptr) {
    return kstest::RunDialog([&] {
        HWND owner = CreateWindowExA(0, "STATIC", "owner", WS_POPUP | WS_VISIBLE, ownerFrame.left, ownerFrame.top,
                                     ownerFrame.right - ownerFrame.left, ownerFrame.bottom - ownerFrame.top, nullptr,
                                     nullptr, nullptr, nullptr);
        if (ownerSeen) GetWindowRect(owner, ownerSeen);
        int result = ShowAboutBox(owner);
        DestroyWindow(owner);
        return result;
    });
}

TEST(AboutBox, ShowsTheProductTextsCentredOnItsOwner) {
    kstest::UseOwnResources();
    const RECT ownerFrame{100, 80, 700, 520};
    RECT ownerSeen{};
    RECT box{};
    kstest::UiDriver ui;
    ui.OnDialog(kTitle, [&](kstest::Window& about) {
        EXPECT_EQ(about.Text(IDC_ABOUT_PRODUCT), "Keepsake (TM)");
        EXPECT_EQ(about.Text(IDC_ABOUT_VERSION), "9.0.0.588");
        EXPECT_EQ(about.Text(IDC_ABOUT_RIGHTS), "Copyright (C) Zemla.  All rights reserved.");
        EXPECT_EQ(about.Text(IDC_ABOUT_LINE_5), "");
        EXPECT_EQ(about.Text(IDC_ABOUT_LINE_3), "");
        GetWindowRect(about.handle(), &box);
        about.Press(IDOK);
    });
    EXPECT_EQ(ShowOver(ownerFrame, &ownerSeen), IDOK);
    EXPECT_TRUE(ui.Finish());

    int width = box.right - box.left;
    int height = box.bottom - box.top;
    EXPECT_GT(width, 0);
    EXPECT_EQ(box.left, ownerSeen.left + (ownerSeen.right - ownerSeen.left - width) / 2);
    EXPECT_EQ(box.top, ownerSeen.top + (ownerSeen.bottom - ownerSeen.top - height) / 2);
}

TEST(AboutBox, CancelAnswersCancel) {
    kstest::UseOwnResources();
    kstest::UiDriver ui;
    ui.OnDialog(kTitle, [](kstest::Window& about) { about.Cancel(); });
    EXPECT_EQ(ShowOver(RECT{0, 0, 300, 200}), IDCANCEL);
    EXPECT_TRUE(ui.Finish());
}

// A box that cannot be made (no template in the module) is no choice of
// the user's: the answer is Cancel, never OK.
TEST(AboutBox, MissingTemplateCountsAsCancel) {
    SetModuleInstance(GetModuleHandleA("kernel32.dll"));
    EXPECT_EQ(kstest::RunDialog([] { return ShowAboutBox(nullptr); }), IDCANCEL);
    kstest::UseOwnResources();
}

}  // namespace
