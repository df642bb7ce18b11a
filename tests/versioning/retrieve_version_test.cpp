// The Retrieve Version dialog: pick one version from a read-only list and
// write it to the caller's path or to one the user picks.
#include <gtest/gtest.h>

#include <windows.h>
#include <commctrl.h>

#include <string>

#include "archive/archive_context.h"
#include "history/retrieve_version_dialog.h"
#include "test_helpers.h"
#include "ui_driver.h"

namespace {

class RetrieveVersion : public ::testing::Test {
protected:
    void SetUp() override {
        kstest::UseOwnResources();
        file = folder / "plan.txt";
        ASSERT_TRUE(context.Resolve(file.c_str(), false, nullptr));
        for (int i = 1; i <= 3; ++i) {
            ASSERT_TRUE(kstest::WriteFileText(file, "v" + std::to_string(i)));
            if (i == 1)
                ASSERT_EQ(context.SaveFirstVersion(0, 10, 0, 1), 0);
            else
                ASSERT_EQ(context.SaveNextVersion(("comment " + std::to_string(i)).c_str(), 0), 1);
        }
    }

    int Run(const char* target) {
        int result = -1;
        EXPECT_TRUE(kstest::CallWithin(20000, [&] { result = ShowRetrieveVersionDialog(nullptr, &context, target); }));
        return result;
    }

    kstest::SettingsScope settings;
    kstest::TempFolder folder;
    std::string file;
    ArchiveContext context;
};

TEST_F(RetrieveVersion, GivenTargetIsWrittenWithoutAsking) {
    std::string target = folder / "out.txt";
    bool enabledBefore = true, enabledAfter = false;
    kstest::UiDriver ui;
    ui.OnDialog("Retrieve Version", [&](kstest::Window& dialog) {
        enabledBefore = dialog.IsEnabled(1041);
        kstest::SelectListViewRows(dialog.Control(1038), 1, {"2"});
        enabledAfter = dialog.IsEnabled(1041);
        dialog.Press(1041);
    });
    EXPECT_EQ(Run(target.c_str()), 1);
    EXPECT_TRUE(ui.Finish());
    EXPECT_FALSE(enabledBefore) << "nothing is selected when the dialog opens";
    EXPECT_TRUE(enabledAfter);
    EXPECT_EQ(kstest::ReadFileText(target), "v2");
}

TEST_F(RetrieveVersion, TwoSelectedVersionsCannotBeRetrieved) {
    bool enabled = true;
    std::string comment = "not read";
    kstest::UiDriver ui;
    ui.OnDialog("Retrieve Version", [&](kstest::Window& dialog) {
        kstest::SelectListViewRows(dialog.Control(1038), 1, {"2", "3"});
        enabled = dialog.IsEnabled(1041);
        comment = dialog.Text(1063);
        dialog.Press(IDCANCEL);
    });
    EXPECT_EQ(Run(nullptr), 2);
    EXPECT_TRUE(ui.Finish());
    EXPECT_FALSE(enabled);
    EXPECT_EQ(comment, "");
}

TEST_F(RetrieveVersion, WithoutTargetTheUserPicksOneAndCancellingStillCloses) {
    std::string proposal;
    kstest::UiDriver ui;
    ui.OnDialog("Retrieve Version", [&](kstest::Window& dialog) {
        kstest::SelectListViewRows(dialog.Control(1038), 1, {"3"});
        dialog.Press(1041);
    });
    ui.OnDialog("Save As", [&](kstest::Window& retrieveAs) {
        proposal = retrieveAs.Text(1004);
        retrieveAs.Press(IDCANCEL);
    });
    EXPECT_EQ(Run(nullptr), 1) << "the dialog closes with 1 even when no path was picked";
    EXPECT_TRUE(ui.Finish());
    EXPECT_EQ(proposal, folder / "plan(v3).txt");
    EXPECT_FALSE(kstest::PathPresent(folder / "plan(v3).txt"));
}

}  // namespace
