// keepcpl.cpl as the Control Panel uses it: the built file loaded and asked
// through CPlApplet, and started by the control-panel runner with the
// command line keepshel uses.
#include <gtest/gtest.h>

#include <windows.h>
#include <cpl.h>

#include <string>

#include "applet_resource.h"
#include "applet_settings.h"
#include "test_helpers.h"
#include "ui_driver.h"

namespace {

using kstest::UiDriver;
using kstest::Window;

const char kTitle[] = "Keepsake Settings";

std::string BuiltApplet() {
    char program[MAX_PATH];
    DWORD length = GetModuleFileNameA(nullptr, program, sizeof program);
    std::string path(program, length);
    return path.substr(0, path.find_last_of('\\') + 1) + "keepcpl.cpl";
}

class AppletFile {
public:
    AppletFile() : module_(LoadLibraryA(BuiltApplet().c_str())) {
        if (module_) applet_ = reinterpret_cast<APPLET_PROC>(reinterpret_cast<void*>(GetProcAddress(module_, "CPlApplet")));
    }
    ~AppletFile() {
        if (module_) FreeLibrary(module_);
    }
    AppletFile(const AppletFile&) = delete;
    AppletFile& operator=(const AppletFile&) = delete;

    HMODULE module() const { return module_; }
    APPLET_PROC applet() const { return applet_; }

private:
    HMODULE module_;
    APPLET_PROC applet_ = nullptr;
};

TEST(ControlPanelApplet, AnswersTheRunnersQuestionsAndOpensTheDialog) {
    kstest::UseOwnResources();
    kstest::SettingsScope settings;
    AppletFile file;
    ASSERT_TRUE(file.module()) << BuiltApplet();
    APPLET_PROC applet = file.applet();
    ASSERT_NE(applet, nullptr) << "CPlApplet is exported undecorated";

    EXPECT_NE(applet(nullptr, CPL_INIT, 0, 0), 0);
    EXPECT_EQ(applet(nullptr, CPL_GETCOUNT, 0, 0), 1);

    CPLINFO info{};
    EXPECT_EQ(applet(nullptr, CPL_INQUIRE, 0, reinterpret_cast<LPARAM>(&info)), 0);
    EXPECT_EQ(info.idIcon, IDI_APPLET);
    EXPECT_EQ(info.idName, IDS_APPLET_NAME);
    EXPECT_EQ(info.idInfo, IDS_APPLET_INFO);
    char text[128];
    EXPECT_GT(LoadStringA(file.module(), info.idName, text, sizeof text), 0) << "names come from the applet's own file";
    EXPECT_STREQ(text, "Keepsake");
    EXPECT_NE(LoadIconA(file.module(), MAKEINTRESOURCEA(info.idIcon)), nullptr);

    NEWCPLINFOA fresh;
    memset(&fresh, 0x5A, sizeof fresh);
    EXPECT_EQ(applet(nullptr, CPL_NEWINQUIRE, 0, reinterpret_cast<LPARAM>(&fresh)), 0);
    EXPECT_EQ(fresh.dwSize, sizeof fresh);
    EXPECT_NE(fresh.hIcon, nullptr);
    EXPECT_STREQ(fresh.szName, "Keepsake");
    EXPECT_STREQ(fresh.szInfo, "Choose how Keepsake keeps the versions of your files.");
    EXPECT_STREQ(fresh.szHelpFile, "");

    EXPECT_EQ(applet(nullptr, CPL_STARTWPARMSA, 0, reinterpret_cast<LPARAM>("")), 0)
        << "left to CPL_DBLCLK, which the runner sends next";

    UiDriver ui;
    ui.OnDialog(kTitle, [](Window& dialog) {
        EXPECT_EQ(dialog.Text(IDC_MAX_TEMP), "10");
        dialog.Cancel();
    });
    LONG opened = -1;
    ASSERT_TRUE(kstest::CallWithin(20000, [&] { opened = applet(nullptr, CPL_DBLCLK, 0, 0); }));
    EXPECT_EQ(opened, 0);
    ASSERT_TRUE(ui.Finish());

    EXPECT_EQ(applet(nullptr, CPL_STOP, 0, 0), 0);
    EXPECT_EQ(applet(nullptr, CPL_EXIT, 0, 0), 0);
}

TEST(ControlPanelApplet, StartsFromTheRunnerAndStoresOnOk) {
    kstest::UseOwnResources();
    kstest::SettingsScope settings;
    // keepshel's command line, with the applet where this build put it.
    std::string command = "rundll32.exe shell32.dll,Control_RunDLL " + BuiltApplet();
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    ASSERT_TRUE(CreateProcessA(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process))
        << command;

    Window dialog = kstest::WaitForWindow("#32770", kTitle, 30000);
    EXPECT_TRUE(dialog) << "no settings dialog from " << command;
    if (dialog) {
        DWORD owner = 0;
        GetWindowThreadProcessId(dialog.handle(), &owner);
        EXPECT_EQ(owner, process.dwProcessId) << "shown by the runner's process";
        dialog.SetChecked(IDC_ENABLE_VERSIONING, true);
        dialog.SetText(IDC_EXCLUDED, "tmp, .bak");
        dialog.Press(IDOK);
    }
    bool ended = WaitForSingleObject(process.hProcess, 30000) == WAIT_OBJECT_0;
    if (!ended) TerminateProcess(process.hProcess, 1);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    EXPECT_TRUE(ended) << "the runner ends with the dialog";

    AppletSettings stored;
    LoadAppletSettings(&stored);
    EXPECT_EQ(stored.versioning, 1u);
    EXPECT_STREQ(stored.excluded, "tmp,bak");
}

}  // namespace
