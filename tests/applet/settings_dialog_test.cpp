// The settings dialog as a user meets it: what it shows, what OK, Apply and
// Cancel store, and its refusals with their messages.
#include <gtest/gtest.h>

#include <windows.h>
#include <commctrl.h>

#include <cstring>
#include <functional>
#include <string>

#include "applet_resource.h"
#include "applet_settings.h"
#include "settings_dialog.h"
#include "test_helpers.h"
#include "ui_driver.h"

namespace {

using kstest::UiDriver;
using kstest::Window;

const char kTitle[] = "Keepsake Settings";
const char kCaption[] = "Keepsake (TM)";
constexpr DWORD kDialogTimeoutMs = 20000;
// The folder browser builds its tree before it shows, with an icon for each
// folder from the Desktop down to the start folder: seconds on a loaded
// machine, the most on the first run in a new Wine prefix. Its waits only
// bound a browser that never comes; they are no estimate of its speed.
constexpr DWORD kBrowserTimeoutMs = 30000;

bool WaitFor(const std::function<bool()>& condition, DWORD timeoutMs = 5000) {
    DWORD start = GetTickCount();
    while (!condition()) {
        if (GetTickCount() - start >= timeoutMs) return false;
        Sleep(10);
    }
    return true;
}

// The dialog again after a message box over it was answered: waits until
// the box is gone and the dialog has the focus back.
bool BackInDialog(Window& dialog) {
    return WaitFor([&] { return !kstest::FindTopLevel("#32770", kCaption) && IsWindowEnabled(dialog.handle()); });
}

// Values in the settings key (reading the settings makes the key itself).
DWORD StoredValueCount() {
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kstest::kSettingsKey, 0, KEY_READ, &key) != ERROR_SUCCESS) return 0;
    DWORD values = 0;
    RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &values, nullptr, nullptr, nullptr,
                     nullptr);
    RegCloseKey(key);
    return values;
}

class SettingsDialogTest : public ::testing::Test {
protected:
    void SetUp() override { kstest::UseOwnResources(); }

    int Show(DWORD timeoutMs = kDialogTimeoutMs) {
        int result = -100;
        bool inTime = kstest::CallWithin(timeoutMs, [&] { result = ShowSettingsDialog(nullptr); });
        return inTime ? result : -100;
    }

    static AppletSettings Stored() {
        AppletSettings settings;
        LoadAppletSettings(&settings);
        return settings;
    }

    kstest::SettingsScope settings_;
    kstest::TempFolder temp_;
};

TEST_F(SettingsDialogTest, ShowsTheStoredValuesAndTheDefaults) {
    UiDriver ui;
    ui.OnDialog(kTitle, [](Window& dialog) {
        EXPECT_FALSE(dialog.IsChecked(IDC_ENABLE_VERSIONING));
        EXPECT_FALSE(dialog.IsChecked(IDC_USE_COMPRESSION_NEW));
        EXPECT_TRUE(dialog.IsChecked(IDC_SINGLE_LOCATION_NEW));
        EXPECT_EQ(dialog.Text(IDC_MAX_TEMP), "10");
        EXPECT_EQ(dialog.Text(IDC_ARCHIVE_FOLDER), "");
        EXPECT_EQ(dialog.Text(IDC_EXCLUDED), "");
        EXPECT_EQ(dialog.Text(IDC_HELP_FOLDER), "");
        EXPECT_FALSE(dialog.IsEnabled(IDC_APPLY)) << "nothing changed yet";
        dialog.Cancel();
    });
    EXPECT_EQ(Show(), IDCANCEL);
    ASSERT_TRUE(ui.Finish());

    settings_.SetNumber("EnableVersionControl", 1);
    settings_.SetNumber("UseCompression", 1);
    settings_.SetNumber("SingleLocation", 0);
    settings_.SetNumber("MaxTempVersions", 250);
    settings_.SetString("VersionsPath", "C:\\Versions");
    settings_.SetString("VersionExclude", "tmp,bak");
    settings_.SetString("HelpPath", "C:\\Help");
    UiDriver again;
    again.OnDialog(kTitle, [](Window& dialog) {
        EXPECT_TRUE(dialog.IsChecked(IDC_ENABLE_VERSIONING));
        EXPECT_TRUE(dialog.IsChecked(IDC_USE_COMPRESSION_NEW));
        EXPECT_FALSE(dialog.IsChecked(IDC_SINGLE_LOCATION_NEW));
        EXPECT_EQ(dialog.Text(IDC_MAX_TEMP), "250");
        EXPECT_EQ(dialog.Text(IDC_ARCHIVE_FOLDER), "C:\\Versions");
        EXPECT_EQ(dialog.Text(IDC_EXCLUDED), "tmp,bak");
        EXPECT_EQ(dialog.Text(IDC_HELP_FOLDER), "C:\\Help");
        dialog.Cancel();
    });
    EXPECT_EQ(Show(), IDCANCEL);
    ASSERT_TRUE(again.Finish());
    EXPECT_EQ(Stored().maxTemporary, 250u) << "Cancel stores nothing";
}

TEST_F(SettingsDialogTest, OkStoresEveryValueTidiedAndCreatesTheArchiveFolder) {
    std::string folder = temp_ / "archives\\of\\all";
    UiDriver ui;
    ui.OnDialog(kTitle, [&](Window& dialog) {
        dialog.SetChecked(IDC_ENABLE_VERSIONING, true);
        dialog.SetChecked(IDC_USE_COMPRESSION_NEW, true);
        dialog.SetChecked(IDC_SINGLE_LOCATION_NEW, false);
        dialog.SetText(IDC_MAX_TEMP, "32767");
        dialog.SetText(IDC_ARCHIVE_FOLDER, "  " + folder + " ");
        dialog.SetText(IDC_EXCLUDED, ".tmp, .BAK, log");
        dialog.SetText(IDC_HELP_FOLDER, "C:\\Keepsake Help");
        dialog.Press(IDOK);
    });
    EXPECT_EQ(Show(), IDOK);
    ASSERT_TRUE(ui.Finish());

    AppletSettings stored = Stored();
    EXPECT_EQ(stored.versioning, 1u);
    EXPECT_EQ(stored.compression, 1u);
    EXPECT_EQ(stored.singleLocation, 0u);
    EXPECT_EQ(stored.maxTemporary, 32767u);
    EXPECT_EQ(std::string(stored.archiveFolder), folder);
    EXPECT_STREQ(stored.excluded, "tmp,BAK,log");
    EXPECT_STREQ(stored.helpFolder, "C:\\Keepsake Help");
    EXPECT_TRUE(kstest::PathPresent(folder));
}

TEST_F(SettingsDialogTest, ApplyStoresAndKeepsTheDialogOpen) {
    UiDriver ui;
    ui.OnDialog(kTitle, [&](Window& dialog) {
        dialog.SetChecked(IDC_ENABLE_VERSIONING, true);
        dialog.Press(IDC_ENABLE_VERSIONING);  // the click's notice, not the check mark, enables Apply
        EXPECT_TRUE(WaitFor([&] { return dialog.IsEnabled(IDC_APPLY); }));
        dialog.SetText(IDC_EXCLUDED, " .doc ");
        dialog.Press(IDC_APPLY);
        EXPECT_TRUE(WaitFor([&] { return !dialog.IsEnabled(IDC_APPLY); })) << "stored: nothing left to apply";
        EXPECT_EQ(dialog.Text(IDC_EXCLUDED), "doc") << "the list as stored";
        EXPECT_TRUE(IsWindowVisible(dialog.handle()));
        EXPECT_EQ(Stored().excluded, std::string("doc"));
        dialog.Cancel();
    });
    EXPECT_EQ(Show(), IDCANCEL);
    ASSERT_TRUE(ui.Finish());
    AppletSettings stored = Stored();
    EXPECT_EQ(stored.versioning, 1u);
    EXPECT_STREQ(stored.excluded, "doc") << "Cancel after Apply keeps what was applied";
}

TEST_F(SettingsDialogTest, OutOfRangeTemporaryVersionsAreRefusedAndCorrected) {
    UiDriver ui;
    std::string corrected[2];
    ui.OnDialog(kTitle, [](Window& dialog) {
        dialog.SetText(IDC_MAX_TEMP, "0");
        dialog.Press(IDOK);
    });
    ui.OnMessageBox(kCaption, [](Window& box) { box.Press(IDOK); });
    ui.OnDialog(kTitle, [&](Window& dialog) {
        EXPECT_TRUE(BackInDialog(dialog));
        EXPECT_TRUE(WaitFor([&] { return dialog.Text(IDC_MAX_TEMP) == "1"; }));
        corrected[0] = dialog.Text(IDC_MAX_TEMP);
        dialog.SetText(IDC_MAX_TEMP, "40000");
        dialog.Press(IDC_APPLY);
    });
    ui.OnMessageBox(kCaption, [](Window& box) { box.Press(IDOK); });
    ui.OnDialog(kTitle, [&](Window& dialog) {
        EXPECT_TRUE(BackInDialog(dialog));
        EXPECT_TRUE(WaitFor([&] { return dialog.Text(IDC_MAX_TEMP) == "32767"; }));
        corrected[1] = dialog.Text(IDC_MAX_TEMP);
        dialog.Cancel();
    });
    EXPECT_EQ(Show(), IDCANCEL);
    ASSERT_TRUE(ui.Finish());

    ASSERT_EQ(ui.Seen().size(), 2u);
    for (const kstest::MessageBoxInfo& box : ui.Seen()) {
        EXPECT_EQ(box.text, "Maximum number of temporary versions must be between 1 and 32767.");
        EXPECT_EQ(box.icon, static_cast<UINT>(MB_ICONSTOP));
    }
    EXPECT_EQ(corrected[0], "1");
    EXPECT_EQ(corrected[1], "32767");
    EXPECT_EQ(StoredValueCount(), 0u) << "nothing stored while a value is refused";
}

TEST_F(SettingsDialogTest, TextsTooLongAreRefusedNeverCut) {
    std::string longFolder = "C:\\" + std::string(257, 'f');  // 260 characters
    std::string longList = std::string(130, 'a') + "," + std::string(129, 'b');  // 260 characters
    UiDriver ui;
    ui.OnDialog(kTitle, [&](Window& dialog) {
        dialog.SetText(IDC_ARCHIVE_FOLDER, longFolder);
        dialog.Press(IDOK);
    });
    ui.OnMessageBox(kCaption, [](Window& box) { box.Press(IDOK); });
    ui.OnDialog(kTitle, [&](Window& dialog) {
        EXPECT_TRUE(BackInDialog(dialog));
        EXPECT_EQ(dialog.Text(IDC_ARCHIVE_FOLDER), longFolder) << "the text stays for the user to shorten";
        dialog.SetText(IDC_ARCHIVE_FOLDER, "");
        dialog.SetText(IDC_EXCLUDED, longList);
        dialog.Press(IDOK);
    });
    ui.OnMessageBox(kCaption, [](Window& box) { box.Press(IDOK); });
    ui.OnDialog(kTitle, [&](Window& dialog) {
        EXPECT_TRUE(BackInDialog(dialog));
        // 259 characters fit.
        dialog.SetText(IDC_EXCLUDED, longList.substr(1));
        dialog.Press(IDOK);
    });
    EXPECT_EQ(Show(), IDOK);
    ASSERT_TRUE(ui.Finish());

    ASSERT_EQ(ui.Seen().size(), 2u);
    EXPECT_EQ(ui.Seen()[0].text,
              "The archive folder may be at most 259 characters long; it is 260 characters long now.\n\n"
              "Please shorten it.");
    EXPECT_EQ(ui.Seen()[0].icon, static_cast<UINT>(MB_ICONSTOP));
    EXPECT_NE(ui.Seen()[1].text.find("list of extensions never versioned"), std::string::npos) << ui.Seen()[1].text;
    EXPECT_EQ(std::string(Stored().excluded), longList.substr(1));
}

TEST_F(SettingsDialogTest, AnArchiveFolderThatIsNotFullOrCannotBeMadeIsRefused) {
    ASSERT_TRUE(kstest::WriteFileText(temp_ / "file.txt", "x"));
    std::string impossible = temp_ / "file.txt\\archives";
    UiDriver ui;
    ui.OnDialog(kTitle, [&](Window& dialog) {
        dialog.SetText(IDC_ARCHIVE_FOLDER, "Versions");
        dialog.Press(IDOK);
    });
    ui.OnMessageBox(kCaption, [](Window& box) { box.Press(IDOK); });
    ui.OnDialog(kTitle, [&](Window& dialog) {
        EXPECT_TRUE(BackInDialog(dialog));
        dialog.SetText(IDC_ARCHIVE_FOLDER, impossible);
        dialog.Press(IDOK);
    });
    ui.OnMessageBox(kCaption, [](Window& box) { box.Press(IDOK); });
    ui.OnDialog(kTitle, [&](Window& dialog) {
        EXPECT_TRUE(BackInDialog(dialog));
        dialog.Cancel();
    });
    EXPECT_EQ(Show(), IDCANCEL);
    ASSERT_TRUE(ui.Finish());

    ASSERT_EQ(ui.Seen().size(), 2u);
    EXPECT_EQ(ui.Seen()[0].text.rfind("Versions\nThe archive folder must be a full path", 0), 0u) << ui.Seen()[0].text;
    EXPECT_EQ(ui.Seen()[1].text.rfind(impossible + "\nThe archive folder does not exist and cannot be created.", 0),
              0u)
        << ui.Seen()[1].text;
    for (const kstest::MessageBoxInfo& box : ui.Seen()) EXPECT_EQ(box.icon, static_cast<UINT>(MB_ICONSTOP));
    EXPECT_EQ(StoredValueCount(), 0u);
}

struct OwnedDialogSearch {
    HWND owner;
    HWND found;
};

// A named callback, not a lambda: on i686 it must be __stdcall.
BOOL CALLBACK MatchOwnedDialog(HWND window, LPARAM param) {
    auto* search = reinterpret_cast<OwnedDialogSearch*>(param);
    char name[64] = "";
    GetClassNameA(window, name, sizeof name);
    if (IsWindowVisible(window) && strcmp(name, "#32770") == 0 && GetWindow(window, GW_OWNER) == search->owner) {
        search->found = window;
        return FALSE;
    }
    return TRUE;
}

// The folder browser: a dialog of its own, owned by ours; null when none.
HWND BrowserOwnedBy(HWND owner) {
    OwnedDialogSearch search{owner, nullptr};
    EnumWindows(MatchOwnedDialog, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

// The text of the item selected in the browser's folder tree (a window of
// this process, so the tree can be asked directly).
std::string SelectedFolderName(HWND browser) {
    HWND tree = FindWindowExA(browser, nullptr, WC_TREEVIEWA, nullptr);
    if (!tree) return {};
    HTREEITEM selected = TreeView_GetSelection(tree);
    if (!selected) return {};
    char text[MAX_PATH] = "";
    TVITEMA item{};
    item.mask = TVIF_TEXT;
    item.hItem = selected;
    item.pszText = text;
    item.cchTextMax = sizeof text;
    if (!SendMessageA(tree, TVM_GETITEMA, 0, reinterpret_cast<LPARAM>(&item))) return {};
    return text;
}

TEST_F(SettingsDialogTest, BrowseStartsAtTheTypedFolderAndGivesTheChoiceBack) {
    std::string start = temp_.path();
    std::string startName = start.substr(start.find_last_of('\\') + 1);
    bool browserSeen = false;
    bool atStart = false;
    std::string chosen;
    UiDriver ui;
    ui.OnDialog(kTitle, [&](Window& dialog) {
        dialog.SetText(IDC_ARCHIVE_FOLDER, start);
        dialog.Press(IDC_BROWSE_FOLDER);
        HWND browser = nullptr;
        browserSeen = WaitFor([&] { return (browser = BrowserOwnedBy(dialog.handle())) != nullptr; }, kBrowserTimeoutMs);
        if (!browserSeen) return;
        atStart = WaitFor([&] { return _stricmp(SelectedFolderName(browser).c_str(), startName.c_str()) == 0; },
                          kBrowserTimeoutMs);
        EXPECT_TRUE(atStart) << "selected: " << SelectedFolderName(browser);
        // OK only on the start folder: on any other it would hand back a
        // folder the test never chose.
        Window(browser).Press(atStart ? IDOK : IDCANCEL);
        EXPECT_TRUE(kstest::WaitUntilGone(browser, kBrowserTimeoutMs));
        // The browser started at the typed folder, so OK gives that back.
        WaitFor([&] { return _stricmp(dialog.Text(IDC_ARCHIVE_FOLDER).c_str(), start.c_str()) == 0; });
        chosen = dialog.Text(IDC_ARCHIVE_FOLDER);
        dialog.Cancel();
    });
    EXPECT_EQ(Show(4 * kBrowserTimeoutMs), IDCANCEL);
    ASSERT_TRUE(ui.Finish());
    EXPECT_TRUE(browserSeen);
    EXPECT_EQ(_stricmp(chosen.c_str(), start.c_str()), 0) << chosen;
}

}  // namespace
