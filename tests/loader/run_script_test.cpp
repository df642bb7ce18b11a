// One run of a script inside this process, watched through its progress
// window: every text its status line is given, in order.
#include <gtest/gtest.h>

#include <windows.h>
#include <commctrl.h>

#include <string>
#include <vector>

#include "loader_test_support.h"
#include "progress_window.h"
#include "run_script.h"

using namespace kickoff;
using loadertest::TempFolder;

namespace {

const char kProfile[] = "kickoff_run_script_test.INI";

// What the status line was given, with the bar's position at that moment
// and whether the watched file was still there.
struct StatusShown {
    std::string text;
    LRESULT barPosition;
    bool watchedFileThere;
};

struct StatusWatch {
    WNDPROC original = nullptr;
    std::string watchedFile;
    std::vector<StatusShown> shown;
};
StatusWatch* g_watch = nullptr;

LRESULT CALLBACK WatchStatusText(HWND status, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_SETTEXT) {
        const char* text = reinterpret_cast<const char*>(lParam);
        const LRESULT position =
            ::SendDlgItemMessageA(::GetParent(status), kProgressBarId, PBM_GETPOS, 0, 0);
        g_watch->shown.push_back({text != nullptr ? text : "", position, loadertest::FileExists(g_watch->watchedFile)});
    }
    return ::CallWindowProcA(g_watch->original, status, message, wParam, lParam);
}

class RunScriptStatus : public ::testing::Test {
protected:
    RunScriptStatus() { g_watch = &watch_; }
    ~RunScriptStatus() override {
        g_watch = nullptr;
        char windows[MAX_PATH] = {};
        ::GetWindowsDirectoryA(windows, MAX_PATH);
        ::DeleteFileA((std::string(windows) + "\\" + kProfile).c_str());
    }

    // Runs the script with a progress window whose status line is watched.
    void Run(const std::string& scriptPath) {
        CSetupProgressWnd progress(kProfile);
        ASSERT_TRUE(progress.Create(nullptr, "Zemla Setup Wizard", false));
        HWND status = ::GetDlgItem(progress.Handle(), kStatusTextId);
        watch_.original = reinterpret_cast<WNDPROC>(
            ::SetWindowLongPtrA(status, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&WatchStatusText)));
        RunScript(progress, scriptPath);
        EXPECT_FALSE(progress.Exists());
    }

    StatusWatch watch_;
    TempFolder folder_;
};

}  // namespace

// First the removal notice, then one line per [DeleteFiles] entry (shown
// after the bar moved on and before the file goes, missing files too), then
// the emptied line of the reset and the notice of the detection phase.
TEST_F(RunScriptStatus, RemovalNoticeThenEachEntryThenTheDetectionNotice) {
    const std::string present = folder_.File("present.tmp");
    const std::string missing = folder_.File("missing.tmp");
    loadertest::WriteTextFile(present, "x");
    const std::string script = folder_.File("setup.qnf");
    loadertest::WriteTextFile(
        script, "[PrevAppDetect]\r\n1 HKEY_CURRENT_USER\\Software\\KickoffTests\\NoSuchKey,none.exe,None\r\n"
                "[DeleteFiles]\r\n" + present + "\r\n" + missing + "\r\n");
    watch_.watchedFile = present;
    Run(script);

    std::vector<std::string> texts;
    for (const StatusShown& each : watch_.shown) texts.push_back(each.text);
    const std::vector<std::string> expected = {
        "Removing Temp Files, please wait...",
        "Removing File " + present,
        "Removing File " + missing,
        "",
        "Initializing setup, Please wait...",
    };
    ASSERT_EQ(texts, expected);
    EXPECT_EQ(watch_.shown[1].barPosition, 1);
    EXPECT_TRUE(watch_.shown[1].watchedFileThere);
    EXPECT_EQ(watch_.shown[2].barPosition, 2);
    EXPECT_FALSE(watch_.shown[2].watchedFileThere);
    EXPECT_EQ(watch_.shown[4].barPosition, 0);
    EXPECT_TRUE(loadertest::FileExists(script));  // nothing detected: the script stays
}
