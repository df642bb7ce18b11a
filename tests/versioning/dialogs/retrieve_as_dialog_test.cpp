// "Retrieve As": the proposed name, the question before replacing an
// existing file, and Browse through the system's Save As dialog.
#include <gtest/gtest.h>

#include <windows.h>

#include <cstring>
#include <string>

#include "dialog_test_support.h"
#include "resource.h"
#include "test_helpers.h"

namespace {

using kstest::RunDialog;
using kstest::Window;

const char kDialogTitle[] = "Save As";
const char kRetrieveAs[] = "Retrieve As";

class RetrieveAsDialogTest : public ::testing::Test {
protected:
    void SetUp() override {
        kstest::UseOwnResources();
        Propose(folder_ / "REPORT(v3).DOC");
    }

    void Propose(const std::string& path) {
        request_ = RetrieveAsRequest{};
        CopyText(request_.path, sizeof request_.path, path.c_str());
        CopyText(request_.initialFolder, sizeof request_.initialFolder, folder_.path().c_str());
    }

    int Show() {
        return RunDialog([&] { return ShowRetrieveAsDialog(nullptr, &request_); });
    }

    // The file-name field of the system's Save As dialog.
    static HWND FileNameField(const Window& saveAs) {
        HWND field = saveAs.Control(0x47C);
        if (!field) field = saveAs.Control(0x480);
        if (!field) field = FindWindowExA(saveAs.handle(), nullptr, "Edit", nullptr);
        return field;
    }

    struct DialogSearch {
        const char* title;
        HWND other;
        HWND found;
    };
    static BOOL CALLBACK MatchOtherDialog(HWND window, LPARAM param) {
        auto* search = reinterpret_cast<DialogSearch*>(param);
        DWORD process = 0;
        GetWindowThreadProcessId(window, &process);
        if (window == search->other || process != GetCurrentProcessId() || !IsWindowVisible(window)) return TRUE;
        char name[64] = "";
        GetClassNameA(window, name, sizeof name);
        if (std::string(name) != "#32770" || kstest::TextOfWindow(window) != search->title) return TRUE;
        search->found = window;
        return FALSE;
    }
    // A visible dialog of this process titled `title` other than `other`.
    static Window OtherDialog(const char* title, HWND other) {
        DialogSearch search{title, other, nullptr};
        EnumWindows(MatchOtherDialog, reinterpret_cast<LPARAM>(&search));
        return Window(search.found);
    }

    kstest::TempFolder folder_;
    RetrieveAsRequest request_;
};

TEST_F(RetrieveAsDialogTest, ProposedNameIsShownAndANewNameClosesWithoutAQuestion) {
    std::string chosen = folder_ / "Copy of report.doc";
    kstest::UiDriver ui;
    ui.OnDialog(kDialogTitle, [&](Window& dialog) {
        EXPECT_EQ(dialog.Text(IDC_RETRIEVE_PATH), folder_ / "REPORT(v3).DOC");
        EXPECT_EQ(request_.window, dialog.handle());
        dialog.SetText(IDC_RETRIEVE_PATH, chosen);
        dialog.Press(IDOK);
    });
    EXPECT_EQ(Show(), IDOK);
    EXPECT_TRUE(ui.Finish());
    EXPECT_EQ(std::string(request_.path), chosen);
    EXPECT_EQ(request_.window, nullptr);
}

TEST_F(RetrieveAsDialogTest, ExistingNameAsksAndOnlyYesCloses) {
    std::string existing = folder_ / "REPORT.DOC";
    ASSERT_TRUE(kstest::WriteFileText(existing, "working copy"));
    kstest::UiDriver ui;
    ui.OnDialog(kDialogTitle, [&](Window& dialog) {
        dialog.SetText(IDC_RETRIEVE_PATH, existing);
        dialog.Press(IDOK);
        Window question = kstest::WaitForWindow("#32770", kRetrieveAs);
        ASSERT_TRUE(question);
        kstest::MessageBoxInfo info = question.ReadMessageBox();
        EXPECT_EQ(info.text, existing + "\nThis file already exists.\n\nReplace existing file?");
        EXPECT_EQ(info.icon, static_cast<UINT>(MB_ICONWARNING));
        EXPECT_EQ(info.buttons, (std::vector<int>{IDYES, IDNO}));
        EXPECT_EQ(GetWindow(question.handle(), GW_OWNER), dialog.handle());
        question.Press(IDNO);
        EXPECT_TRUE(kstest::WaitUntilGone(question.handle()));

        // No: the dialog stays with the name, and asks again on the next OK.
        Sleep(100);
        EXPECT_TRUE(IsWindowVisible(dialog.handle()));
        EXPECT_EQ(dialog.Text(IDC_RETRIEVE_PATH), existing);
        dialog.Press(IDOK);
        question = kstest::WaitForWindow("#32770", kRetrieveAs);
        ASSERT_TRUE(question);
        question.Press(IDYES);
    });
    EXPECT_EQ(Show(), IDOK);
    EXPECT_TRUE(ui.Finish());
    EXPECT_EQ(std::string(request_.path), existing);
}

TEST_F(RetrieveAsDialogTest, CancelAnswersCancel) {
    kstest::UiDriver ui;
    ui.OnDialog(kDialogTitle, [&](Window& dialog) { dialog.Cancel(); });
    EXPECT_EQ(Show(), IDCANCEL);
    EXPECT_TRUE(ui.Finish());
}

// What the user sees is the name that is used: the field takes no more
// than the path holds, and a caller's full buffer is cut, not overrun.
TEST_F(RetrieveAsDialogTest, FieldHoldsNoMoreThanThePathCan) {
    memset(request_.path, 'p', sizeof request_.path);
    memset(request_.initialFolder, 'f', sizeof request_.initialFolder);
    kstest::UiDriver ui;
    ui.OnDialog(kDialogTitle, [&](Window& dialog) {
        HWND field = dialog.Control(IDC_RETRIEVE_PATH);
        EXPECT_EQ(SendMessageA(field, EM_GETLIMITTEXT, 0, 0), MAX_PATH - 1);
        EXPECT_EQ(dialog.Text(IDC_RETRIEVE_PATH), std::string(MAX_PATH - 1, 'p'));
        dialog.Cancel();
    });
    EXPECT_EQ(Show(), IDCANCEL);
    EXPECT_TRUE(ui.Finish());
}

// A file picked with Browse closes the dialog at once: the Save As dialog
// has done the asking, so no second question comes.
TEST_F(RetrieveAsDialogTest, BrowsePickCloses) {
    std::string picked = folder_ / "picked.doc";
    bool sawFilterAndTitle = false;
    kstest::UiDriver ui;
    ui.OnDialog(kDialogTitle, [&](Window& dialog) { dialog.Press(IDC_BROWSE); });
    ui.OnDialog(kRetrieveAs, [&](Window& saveAs) {
        sawFilterAndTitle = true;
        HWND field = FileNameField(saveAs);
        ASSERT_NE(field, nullptr);
        SendMessageA(field, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(picked.c_str()));
        saveAs.Press(IDOK);
    });
    EXPECT_EQ(Show(), IDOK);
    EXPECT_TRUE(ui.Finish());
    EXPECT_TRUE(sawFilterAndTitle);
    EXPECT_EQ(std::string(request_.path), picked);
}

// An existing file picked with Browse: the Save As dialog asks about
// replacing it, and that one question is all.
TEST_F(RetrieveAsDialogTest, BrowsePickOfAnExistingFileAsksOnlyOnce) {
    std::string picked = folder_ / "existing.doc";
    ASSERT_TRUE(kstest::WriteFileText(picked, "old content"));
    int questions = 0;
    kstest::UiDriver ui;
    ui.OnDialog(kDialogTitle, [&](Window& dialog) { dialog.Press(IDC_BROWSE); });
    ui.OnDialog(kRetrieveAs, [&](Window& saveAs) {
        HWND field = FileNameField(saveAs);
        ASSERT_NE(field, nullptr);
        SendMessageA(field, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(picked.c_str()));
        saveAs.Press(IDOK);
        // The Save As dialog's own question, above it.
        Window prompt;
        ASSERT_TRUE(kstest::WaitFor([&] {
            prompt = OtherDialog(kRetrieveAs, saveAs.handle());
            return static_cast<bool>(prompt);
        }));
        ++questions;
        prompt.Press(IDYES);
    });
    EXPECT_EQ(Show(), IDOK);
    EXPECT_TRUE(ui.Finish());
    EXPECT_EQ(questions, 1);
    EXPECT_EQ(std::string(request_.path), picked);
}

TEST_F(RetrieveAsDialogTest, BrowseCancelledKeepsTheDialog) {
    kstest::UiDriver ui;
    ui.OnDialog(kDialogTitle, [&](Window& dialog) { dialog.Press(IDC_BROWSE); });
    ui.OnDialog(kRetrieveAs, [&](Window& saveAs) { saveAs.Cancel(); });
    ui.OnDialog(kDialogTitle, [&](Window& dialog) {
        EXPECT_EQ(dialog.Text(IDC_RETRIEVE_PATH), folder_ / "REPORT(v3).DOC");
        dialog.Cancel();
    });
    EXPECT_EQ(Show(), IDCANCEL);
    EXPECT_TRUE(ui.Finish());
}

}  // namespace
