// kickoff.exe end to end: scripts written here, helper processes to find,
// the dialog and message boxes driven from a second thread.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>
#include <vector>

#include "loader_test_support.h"
#include "resources/resource_ids.h"
#include "ui_driver.h"

using loadertest::ChildProcess;
using loadertest::FileExists;
using loadertest::ScratchKey;
using loadertest::TempFolder;

namespace {

const char kWizardTitle[] = "Zemla Setup Wizard";
const char kRunningAppsNotice[] =
    "The following Application(s) are currently running. You should close them before continuing. Press OK to "
    "close them and continue, or Cancel to quit. Note: Any unsaved files will be lost when the applications are "
    "closed.";
const DWORD kRunTimeoutMs = 20000;

// Keeps kickoff.INI of the Windows folder as it was before the test.
class ProfileGuard {
public:
    ProfileGuard() : path_(WindowsFile("kickoff.INI")), existed_(FileExists(path_)) {
        if (existed_) content_ = loadertest::ReadTextFile(path_);
    }
    ~ProfileGuard() {
        if (existed_) {
            loadertest::WriteTextFile(path_, content_);
        } else {
            ::DeleteFileA(path_.c_str());
        }
    }
    static std::string WindowsFile(const char* name) {
        char windows[MAX_PATH] = {};
        ::GetWindowsDirectoryA(windows, MAX_PATH);
        return std::string(windows) + "\\" + name;
    }

private:
    std::string path_;
    bool existed_;
    std::string content_;
};

class KickoffRun : public ::testing::Test {
protected:
    KickoffRun() : key_("Run") {}

    std::string WriteScript(const std::string& content, const std::string& name = "setupbld.qnf") {
        const std::string path = folder_.File(name);
        loadertest::WriteTextFile(path, content);
        return path;
    }
    // An entry that lists `processFile` when it runs (mode 0) or always (mode 1).
    std::string Detect(char mode, const std::string& processFile, const std::string& displayName) const {
        return std::string(1, mode) + " HKEY_CURRENT_USER\\" + key_.Path() + "," + processFile + "," + displayName +
               "\r\n";
    }
    static std::string Standin() { return loadertest::BinPath("kickoff_setup_standin.exe"); }
    static void StartApp(ChildProcess& app, const char* name) {
        ASSERT_TRUE(app.Start("\"" + loadertest::BinPath(name) + "\""));
    }
    // Runs kickoff to its end; false when it had to be stopped.
    static bool Run(const std::string& tail, const std::string& folder = std::string()) {
        ChildProcess kickoff;
        if (!loadertest::StartKickoff(kickoff, tail, folder)) return false;
        if (!kickoff.WaitForExit(kRunTimeoutMs)) return false;
        EXPECT_EQ(kickoff.ExitCode(), 0u);
        return true;
    }

    // Every run stores the progress window's position in kickoff.INI.
    ProfileGuard profile_;
    TempFolder folder_;
    ScratchKey key_;
};

// The list box items of a window in another process. Wine hands the text of
// a cross-process LB_GETTEXT back in UTF-16 even to the "A" call, so ask for
// UTF-16 and convert here.
std::vector<std::string> ListBoxItemsOf(HWND list) {
    std::vector<std::string> items;
    DWORD_PTR count = 0;
    if (!::SendMessageTimeoutW(list, LB_GETCOUNT, 0, 0, SMTO_ABORTIFHUNG, 2000, &count)) return items;
    for (DWORD_PTR i = 0; i < count && static_cast<LONG_PTR>(count) > 0; ++i) {
        DWORD_PTR length = 0;
        ::SendMessageTimeoutW(list, LB_GETTEXTLEN, i, 0, SMTO_ABORTIFHUNG, 2000, &length);
        std::wstring wide(length + 1, L'\0');
        DWORD_PTR copied = 0;
        ::SendMessageTimeoutW(list, LB_GETTEXT, i, reinterpret_cast<LPARAM>(&wide[0]), SMTO_ABORTIFHUNG, 2000,
                              &copied);
        char text[512] = {};
        ::WideCharToMultiByte(CP_ACP, 0, wide.c_str(), static_cast<int>(copied), text, sizeof text - 1, nullptr,
                              nullptr);
        items.push_back(text);
    }
    return items;
}

int SavedPosition(const char* key) {
    return static_cast<int>(::GetPrivateProfileIntA("Settings", key, -1, "kickoff.INI"));
}

}  // namespace

TEST_F(KickoffRun, AScriptThatCannotBeOpenedIsReportedAndNothingElseHappens) {
    loadertest::WriteTextFile(folder_.File("keep.tmp"), "x");
    const std::string script = WriteScript("[DeleteFiles]\r\n" + folder_.File("keep.tmp") + "\r\n");

    kstest::UiDriver ui;
    ui.OnMessageBox(kWizardTitle, [](kstest::Window& box) { box.Press(IDOK); });
    // Quotes are part of the file name, so this names no file.
    EXPECT_TRUE(Run("\"" + script + "\""));
    ASSERT_TRUE(ui.Finish());
    ASSERT_EQ(ui.Seen().size(), 1u);
    EXPECT_EQ(ui.Seen()[0].text, "Could not open setup file");
    EXPECT_EQ(ui.Seen()[0].buttons, std::vector<int>{IDOK});
    EXPECT_EQ(ui.Seen()[0].icon, 0u);
    EXPECT_TRUE(FileExists(folder_.File("keep.tmp")));
}

TEST_F(KickoffRun, DeleteFilesRemovesTheFirstSectionsFilesAndSkipsMissingOnes) {
    for (const char* name : {"a.tmp", "b.tmp", "c.tmp", "relative.tmp"}) {
        loadertest::WriteTextFile(folder_.File(name), "x");
    }
    const std::string script = WriteScript(
        "[DeleteFiles]\r\n" + folder_.File("a.tmp") + "\r\n" + folder_.File("missing.tmp") + "\r\n" +
        "relative.tmp\r\n; " + folder_.File("c.tmp") + "\r\n" + folder_.File("b.tmp") + "\r\n" +
        "[DeleteFiles]\r\n" + folder_.File("c.tmp") + "\r\n");

    // An empty command line takes setupbld.qnf from the current folder.
    EXPECT_TRUE(Run("", folder_.Path()));
    EXPECT_FALSE(FileExists(folder_.File("a.tmp")));
    EXPECT_FALSE(FileExists(folder_.File("b.tmp")));
    EXPECT_FALSE(FileExists(folder_.File("relative.tmp")));
    EXPECT_TRUE(FileExists(folder_.File("c.tmp")));
    EXPECT_TRUE(FileExists(script));  // nothing was detected, so the script stays
}

TEST_F(KickoffRun, NothingDetectedMeansNoDialogAndNothingLaunched) {
    const std::string record = folder_.File("launched.txt");
    const std::string script = WriteScript(
        "[PrevAppDetect]\r\n" + Detect('0', "kickoff_app_alpha.exe", "Not Running") +
        "1 HKEY_CURRENT_USER\\" + key_.Path() + "\\Missing,kickoff_app_alpha.exe,No Key\r\n" +
        "[Launch]\r\n\"" + Standin() + "\" " + record + " 0 \r\n");

    EXPECT_TRUE(Run(script));
    ::Sleep(300);
    EXPECT_FALSE(FileExists(record));
    EXPECT_TRUE(FileExists(script));
}

TEST_F(KickoffRun, OkEndsTheListedAppsInDetectionOrderThenLaunchesDetached) {
    ChildProcess alpha, zeta;
    StartApp(zeta, "kickoff_app_zeta.exe");
    StartApp(alpha, "kickoff_app_alpha.exe");
    const std::string record = folder_.File("record.txt");
    const std::string script = WriteScript(
        "[PrevAppDetect]\r\n" + Detect('0', "kickoff_app_zeta.exe", "Zeta Editor") +
        Detect('0', "KICKOFF_APP_ALPHA.EXE", "Alpha Viewer") + Detect('0', "kickoff_never_runs.exe", "Ghost") +
        Detect('1', "kickoff_never_runs.exe", "Mode One Tool") +
        // Working folder, a quoted program, arguments from the three parts.
        "[Launch]\r\ncd " + folder_.Path() + " ; \"" + Standin() + "\" record.txt 0,/s,/q \r\n");

    std::string notice;
    std::vector<std::string> listed;
    bool appsRanUntilOk = false;
    kstest::UiDriver ui;
    ui.OnDialog(kWizardTitle, [&](kstest::Window& dialog) {
        notice = dialog.Text(IDC_RUNNING_APPS_TEXT);
        listed = ListBoxItemsOf(dialog.Control(IDC_RUNNING_APPS_LIST));
        ::Sleep(200);
        appsRanUntilOk = alpha.Running() && zeta.Running();
        dialog.Press(IDOK);
    });
    EXPECT_TRUE(Run(script));
    ASSERT_TRUE(ui.Finish());

    EXPECT_EQ(notice, kRunningAppsNotice);
    EXPECT_EQ(listed, (std::vector<std::string>{"Alpha Viewer", "Mode One Tool", "Zeta Editor"}));
    EXPECT_TRUE(appsRanUntilOk);
    ASSERT_TRUE(alpha.WaitForExit(5000));
    ASSERT_TRUE(zeta.WaitForExit(5000));
    EXPECT_EQ(alpha.ExitCode(), alpha.Id());
    EXPECT_EQ(zeta.ExitCode(), zeta.Id());
    EXPECT_LE(zeta.ExitTime(), alpha.ExitTime());  // detection order, not the list's

    ASSERT_TRUE(loadertest::WaitForFile(record, 10000));
    EXPECT_EQ(loadertest::ReadTextFile(record), folder_.Path() + "\n0 /s /q\n0 0\n");
    EXPECT_TRUE(FileExists(script));
}

TEST_F(KickoffRun, CancelOrCloseDeletesTheScriptAndEndsNothing) {
    ChildProcess alpha;
    StartApp(alpha, "kickoff_app_alpha.exe");
    const std::string record = folder_.File("record.txt");
    const std::string content = "[PrevAppDetect]\r\n" + Detect('0', "kickoff_app_alpha.exe", "Alpha Viewer") +
                                "[Launch]\r\n\"" + Standin() + "\" " + record + " 0 \r\n";
    for (const bool close : {false, true}) {
        const std::string script = WriteScript(content);
        kstest::UiDriver ui;
        ui.OnDialog(kWizardTitle, [&](kstest::Window& dialog) {
            if (close) {
                dialog.Close();
            } else {
                dialog.Press(IDCANCEL);
            }
        });
        EXPECT_TRUE(Run(script)) << close;
        ASSERT_TRUE(ui.Finish()) << close;
        EXPECT_FALSE(FileExists(script)) << close;
        EXPECT_TRUE(alpha.Running()) << close;
    }
    ::Sleep(300);
    EXPECT_FALSE(FileExists(record));
}

TEST_F(KickoffRun, LaunchAndWaitKeepsTheLoaderUntilTheSetupEndsAndWinsOverLaunch) {
    ChildProcess alpha;
    StartApp(alpha, "kickoff_app_alpha.exe");
    const std::string waited = folder_.File("waited.txt");
    const std::string detached = folder_.File("detached.txt");
    const std::string script = WriteScript(
        "[Launch]\r\n\"" + Standin() + "\" " + detached + " 0 \r\n" +
        "[PrevAppDetect]\r\n" + Detect('0', "kickoff_app_alpha.exe", "Alpha Viewer") +
        "[LaunchAndWait]\r\n\"" + Standin() + "\" " + waited + " 1500 \r\n");

    kstest::UiDriver ui;
    ui.OnDialog(kWizardTitle, [](kstest::Window& dialog) { dialog.Press(IDOK); });
    ChildProcess kickoff;
    ASSERT_TRUE(loadertest::StartKickoff(kickoff, script));
    ASSERT_TRUE(ui.Finish());
    ASSERT_TRUE(kickoff.WaitForExit(kRunTimeoutMs));
    // The stand-in writes its record only after its wait, just before it ends.
    EXPECT_TRUE(FileExists(waited));
    ::Sleep(300);
    EXPECT_FALSE(FileExists(detached));
}

TEST_F(KickoffRun, AWaitingStartThatFailsEndsTheLoaderSilently) {
    ChildProcess alpha;
    StartApp(alpha, "kickoff_app_alpha.exe");
    const std::string script = WriteScript(
        "[PrevAppDetect]\r\n" + Detect('0', "kickoff_app_alpha.exe", "Alpha Viewer") +
        "[LaunchAndWait]\r\n" + folder_.File("no_such_setup.exe") + " /s \r\n");

    kstest::UiDriver ui;
    ui.OnDialog(kWizardTitle, [](kstest::Window& dialog) { dialog.Press(IDOK); });
    // A message box would keep kickoff alive past the time-out.
    EXPECT_TRUE(Run(script));
    EXPECT_TRUE(ui.Finish());
}

TEST_F(KickoffRun, AProgramThatCannotBeFoundIsReportedInAStopBox) {
    ChildProcess alpha;
    StartApp(alpha, "kickoff_app_alpha.exe");
    const std::string program = folder_.File("no_such_setup.exe");
    const std::string script = WriteScript(
        "[PrevAppDetect]\r\n" + Detect('0', "kickoff_app_alpha.exe", "Alpha Viewer") +
        "[Launch]\r\n" + program + " /s \r\n");

    kstest::UiDriver ui;
    ui.OnDialog(kWizardTitle, [](kstest::Window& dialog) { dialog.Press(IDOK); });
    ui.OnMessageBox("kickoff", [](kstest::Window& box) { box.Press(IDOK); });
    EXPECT_TRUE(Run(script));
    ASSERT_TRUE(ui.Finish());
    ASSERT_EQ(ui.Seen().size(), 1u);
    const kstest::MessageBoxInfo& box = ui.Seen()[0];
    const std::string subject = program + "\r\n";
    ASSERT_EQ(box.text.compare(0, subject.size(), subject), 0) << box.text;
    const std::string reason = box.text.substr(subject.size());
    EXPECT_FALSE(reason.empty());
    EXPECT_EQ(reason.find("successfully"), std::string::npos) << reason;
    // The icon of a box in another process cannot be told apart here; the
    // core tests check it on a box of their own process.
    EXPECT_EQ(box.buttons, std::vector<int>{IDOK});
}

TEST_F(KickoffRun, TheProgressWindowPositionIsRememberedInKickoffIni) {
    const std::string script = WriteScript("; no sections at all\r\n");

    ::WritePrivateProfileStringA("Settings", "X", "37", "kickoff.INI");
    ::WritePrivateProfileStringA("Settings", "Y", "41", "kickoff.INI");
    EXPECT_TRUE(Run(script));
    EXPECT_EQ(SavedPosition("X"), 37);
    EXPECT_EQ(SavedPosition("Y"), 41);

    // Off the screen: centred, and the centred place is what is stored.
    const int screenWidth = ::GetSystemMetrics(SM_CXSCREEN);
    ::WritePrivateProfileStringA("Settings", "X", std::to_string(screenWidth).c_str(), "kickoff.INI");
    EXPECT_TRUE(Run(script));
    EXPECT_GT(SavedPosition("X"), 0);
    EXPECT_LT(SavedPosition("X"), screenWidth / 2);
    EXPECT_GT(SavedPosition("Y"), 0);
    EXPECT_TRUE(FileExists(script));
}
