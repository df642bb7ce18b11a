// The new-version dialog in both forms: what it shows from SaveOptions,
// what it stores back, and the corrections of the temporary-version limit.
#include <gtest/gtest.h>

#include <windows.h>
#include <commctrl.h>

#include <cstring>
#include <string>

#include "dialog_test_support.h"
#include "resource.h"
#include "test_helpers.h"

namespace {

using kstest::RunDialog;
using kstest::Window;

const char kProductCaption[] = "Keepsake (TM)";
const char kNewVersionTitle[] = "New Version - REPORT.DOC";
const char kPropertiesTitle[] = "Version Properties - REPORT.DOC";

class NewVersionDialogTest : public ::testing::Test {
protected:
    void SetUp() override {
        kstest::UseOwnResources();
        InitSaveOptions(&options_);
        options_.title = "REPORT.DOC";
    }

    int Show() {
        return RunDialog([&] { return ShowNewVersionDialog(nullptr, &options_); });
    }

    kstest::SettingsScope settings_;
    SaveOptions options_;
};

TEST_F(NewVersionDialogTest, InitialOptionsComeFromTheSettings) {
    SaveOptions options;
    memset(&options, 0x5A, sizeof options);
    InitSaveOptions(&options);
    EXPECT_EQ(options.permanent, 0);
    EXPECT_STREQ(options.comment, "");
    EXPECT_EQ(options.useCompression, 0);
    EXPECT_EQ(options.singleLocation, 1);
    EXPECT_EQ(options.maxTemporary, 10);
    EXPECT_EQ(options.firstVersion, 0);
    EXPECT_EQ(options.title, nullptr);
    EXPECT_EQ(options.window, nullptr);

    settings_.SetNumber("UseCompression", 1);
    settings_.SetNumber("SingleLocation", 0);
    settings_.SetNumber("MaxTempVersions", 0);  // the dialog checks the range, not the reader
    InitSaveOptions(&options);
    EXPECT_EQ(options.useCompression, 1);
    EXPECT_EQ(options.singleLocation, 0);
    EXPECT_EQ(options.maxTemporary, 0);
}

TEST_F(NewVersionDialogTest, FirstVersionFormShowsAndStoresTheArchiveChoices) {
    options_.firstVersion = 1;
    options_.permanent = 1;
    options_.useCompression = 0;
    options_.singleLocation = 1;
    options_.maxTemporary = 25;

    kstest::UiDriver ui;
    HWND seenWindow = nullptr;
    HWND windowWhileOpen = nullptr;
    ui.OnDialog(kNewVersionTitle, [&](Window& dialog) {
        seenWindow = dialog.handle();
        windowWhileOpen = options_.window;
        EXPECT_TRUE(dialog.IsChecked(IDC_FIRST_PERMANENT));
        EXPECT_FALSE(dialog.IsChecked(IDC_USE_COMPRESSION));
        EXPECT_TRUE(dialog.IsChecked(IDC_SINGLE_LOCATION));
        EXPECT_EQ(dialog.Text(IDC_MAX_TEMPORARY), "25");
        EXPECT_TRUE(GetWindowLongPtrA(dialog.Control(IDC_MAX_TEMPORARY), GWL_STYLE) & ES_NUMBER);
        EXPECT_TRUE(GetWindowLongPtrA(dialog.handle(), GWL_EXSTYLE) & WS_EX_CONTEXTHELP);

        HWND spin = dialog.Control(IDC_MAX_TEMPORARY_SPIN);
        int lowest = 0, highest = 0;
        SendMessageA(spin, UDM_GETRANGE32, reinterpret_cast<WPARAM>(&lowest), reinterpret_cast<LPARAM>(&highest));
        EXPECT_EQ(lowest, 1);
        EXPECT_EQ(highest, 32767);
        UDACCEL acceleration[8] = {};
        LRESULT steps = SendMessageA(spin, UDM_GETACCEL, 8, reinterpret_cast<LPARAM>(acceleration));
        ASSERT_EQ(steps, 4);
        const UDACCEL expected[] = {{1, 1}, {3, 5}, {5, 100}, {7, 1000}};
        for (int i = 0; i < 4; ++i) {
            EXPECT_EQ(acceleration[i].nSec, expected[i].nSec) << "entry " << i;
            EXPECT_EQ(acceleration[i].nInc, expected[i].nInc) << "entry " << i;
        }
        EXPECT_EQ(reinterpret_cast<HWND>(SendMessageA(spin, UDM_GETBUDDY, 0, 0)), dialog.Control(IDC_MAX_TEMPORARY));

        dialog.SetChecked(IDC_FIRST_PERMANENT, false);
        dialog.SetChecked(IDC_USE_COMPRESSION, true);
        dialog.SetChecked(IDC_SINGLE_LOCATION, false);
        dialog.SetText(IDC_MAX_TEMPORARY, "32767");
        dialog.Press(IDOK);
    });
    EXPECT_EQ(Show(), IDOK);
    EXPECT_TRUE(ui.Finish());
    EXPECT_EQ(windowWhileOpen, seenWindow);
    EXPECT_EQ(options_.window, nullptr);
    EXPECT_EQ(options_.permanent, 0);
    EXPECT_EQ(options_.useCompression, 1);
    EXPECT_EQ(options_.singleLocation, 0);
    EXPECT_EQ(options_.maxTemporary, 32767);
}

// A limit out of range is explained by message 2200 over the dialog,
// replaced by the nearer bound and focused; the dialog stays open.
TEST_F(NewVersionDialogTest, LimitOutOfRangeIsCorrectedAndTheDialogStays) {
    struct Case {
        const char* typed;
        const char* corrected;
    };
    const Case cases[] = {{"0", "1"}, {"40000", "32767"}, {"", "32767"}, {"32768", "32767"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string("typed \"") + c.typed + "\"");
        options_.firstVersion = 1;
        options_.maxTemporary = 10;
        kstest::UiDriver ui;
        ui.OnDialog(kNewVersionTitle, [&](Window& dialog) {
            dialog.SetText(IDC_MAX_TEMPORARY, c.typed);
            dialog.Press(IDOK);
            Window box = kstest::WaitForWindow("#32770", kProductCaption);
            ASSERT_TRUE(box);
            kstest::MessageBoxInfo info = box.ReadMessageBox();
            EXPECT_EQ(info.text, "Maximum number of temporary versions must be between 1 and 32767.");
            EXPECT_EQ(info.icon, static_cast<UINT>(MB_ICONSTOP));
            EXPECT_EQ(info.buttons, std::vector<int>{IDOK});
            EXPECT_EQ(GetWindow(box.handle(), GW_OWNER), dialog.handle());
            box.Press(IDOK);
            EXPECT_TRUE(kstest::WaitUntilGone(box.handle()));

            EXPECT_TRUE(kstest::WaitFor([&] { return dialog.Text(IDC_MAX_TEMPORARY) == c.corrected; }))
                << "field holds \"" << dialog.Text(IDC_MAX_TEMPORARY) << "\"";
            EXPECT_TRUE(kstest::WaitFor(
                [&] { return kstest::FocusOf(dialog.handle()) == dialog.Control(IDC_MAX_TEMPORARY); }));
            EXPECT_TRUE(IsWindowVisible(dialog.handle()));
            dialog.Cancel();
        });
        EXPECT_EQ(Show(), IDCANCEL);
        EXPECT_TRUE(ui.Finish());
        EXPECT_EQ(options_.maxTemporary, 10);
    }
}

TEST_F(NewVersionDialogTest, CorrectedLimitIsAcceptedOnTheSecondOk) {
    options_.firstVersion = 1;
    kstest::UiDriver ui;
    ui.OnDialog(kNewVersionTitle, [&](Window& dialog) {
        dialog.SetText(IDC_MAX_TEMPORARY, "0");
        dialog.Press(IDOK);
        Window box = kstest::WaitForWindow("#32770", kProductCaption);
        ASSERT_TRUE(box);
        box.Press(IDOK);
        EXPECT_TRUE(kstest::WaitUntilGone(box.handle()));
        EXPECT_TRUE(kstest::WaitFor([&] { return dialog.Text(IDC_MAX_TEMPORARY) == "1"; }));
        dialog.Press(IDOK);
    });
    EXPECT_EQ(Show(), IDOK);
    EXPECT_TRUE(ui.Finish());
    EXPECT_EQ(options_.maxTemporary, 1);
}

TEST_F(NewVersionDialogTest, PropertiesFormShowsAndStoresPermanenceAndComment) {
    options_.permanent = 1;
    CopyText(options_.comment, sizeof options_.comment, "Draft for review");
    kstest::UiDriver ui;
    ui.OnDialog(kPropertiesTitle, [&](Window& dialog) {
        EXPECT_TRUE(dialog.IsChecked(IDC_PERMANENT));
        EXPECT_EQ(dialog.Text(IDC_COMMENT), "Draft for review");
        EXPECT_FALSE(dialog.HasControl(IDC_MAX_TEMPORARY));
        dialog.SetChecked(IDC_PERMANENT, false);
        dialog.SetText(IDC_COMMENT, "Final");
        dialog.Press(IDOK);
    });
    EXPECT_EQ(Show(), IDOK);
    EXPECT_TRUE(ui.Finish());
    EXPECT_EQ(options_.permanent, 0);
    EXPECT_STREQ(options_.comment, "Final");
    EXPECT_EQ(options_.window, nullptr);
}

TEST_F(NewVersionDialogTest, TypingInTheCommentStopsAt128Characters) {
    kstest::UiDriver ui;
    ui.OnDialog(kPropertiesTitle, [&](Window& dialog) {
        HWND comment = dialog.Control(IDC_COMMENT);
        for (int i = 0; i < 200; ++i) SendMessageA(comment, WM_CHAR, 'a' + i % 26, 1);
        EXPECT_EQ(dialog.Text(IDC_COMMENT).size(), 128u);
        dialog.Press(IDOK);
    });
    EXPECT_EQ(Show(), IDOK);
    EXPECT_TRUE(ui.Finish());
    EXPECT_EQ(strlen(options_.comment), 128u);
    EXPECT_EQ(options_.comment[0], 'a');
}

TEST_F(NewVersionDialogTest, CancelKeepsTheOptionsAsTheyWere) {
    CopyText(options_.comment, sizeof options_.comment, "Unchanged");
    kstest::UiDriver ui;
    ui.OnDialog(kPropertiesTitle, [&](Window& dialog) {
        dialog.SetChecked(IDC_PERMANENT, true);
        dialog.SetText(IDC_COMMENT, "Thrown away");
        dialog.Cancel();
    });
    EXPECT_EQ(Show(), IDCANCEL);
    EXPECT_TRUE(ui.Finish());
    EXPECT_EQ(options_.permanent, 0);
    EXPECT_STREQ(options_.comment, "Unchanged");
}

TEST_F(NewVersionDialogTest, UnterminatedCommentAndMissingTitleAreShownSafely) {
    memset(options_.comment, 'z', sizeof options_.comment);
    options_.title = nullptr;
    kstest::UiDriver ui;
    ui.OnDialog("Version Properties - ", [&](Window& dialog) {
        EXPECT_EQ(dialog.Text(IDC_COMMENT), std::string(128, 'z'));
        dialog.Press(IDOK);
    });
    EXPECT_EQ(Show(), IDOK);
    EXPECT_TRUE(ui.Finish());
    EXPECT_EQ(std::string(options_.comment), std::string(128, 'z'));
}

}  // namespace
