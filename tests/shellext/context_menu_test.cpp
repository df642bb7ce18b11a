// The "&Keepsake" submenu as the shell sees it: when it appears, which
// items are grayed, its identifiers, help texts and refused commands.
#include <gtest/gtest.h>

#include <shlobj.h>

#include "shell_host.h"
#include "test_helpers.h"
#include "trace_capture.h"
#include "archive/archive_context.h"

namespace {

using kstest::MenuItem;
using kstest::ShellHost;
using kstest::WriteFileText;

class ContextMenu : public ::testing::Test {
protected:
    void SetUp() override {
        kstest::UseOwnResources();
        ASSERT_TRUE(registration.ok()) << registration.error();
        settings.SetNumber("EnableVersionControl", 1);
        ASSERT_EQ(host.Create(), S_OK);
    }

    std::string File(const std::string& name, bool archived = false) {
        std::string path = folder / name;
        EXPECT_TRUE(WriteFileText(path, "content of " + name));
        if (archived) {
            // The menu only asks whether the archive file is there.
            ArchiveContext context;
            EXPECT_TRUE(context.Resolve(path.c_str(), false, nullptr));
            EXPECT_TRUE(WriteFileText(context.archivePath, "archive"));
        }
        return name;
    }

    // The three items' states as "S H F", a dash for each grayed one;
    // "none" without a submenu.
    std::string States(const std::vector<std::string>& names) {
        EXPECT_EQ(host.Select(folder.path(), names), S_OK);
        HRESULT result = E_FAIL;
        host.QueryMenu(CMF_NORMAL, &result);
        EXPECT_EQ(result, MAKE_HRESULT(SEVERITY_SUCCESS, 0, 5));
        const MenuItem* keepsake = host.Keepsake();
        if (!keepsake) return "none";
        const MenuItem* save = keepsake->Find("&Save...");
        const MenuItem* history = keepsake->Find("&History...");
        const MenuItem* file = keepsake->Find("&File");
        if (!save || !history || !file) return "incomplete";
        return std::string(save->grayed ? "-" : "S") + (history->grayed ? "-" : "H") + (file->grayed ? "-" : "F");
    }

    kstest::ShellRegistration registration;
    kstest::SettingsScope settings;
    kstest::TempFolder folder;
    ShellHost host;
};

TEST_F(ContextMenu, SubmenuLayoutIdentifiersAndTexts) {
    File("a.txt", true);
    ASSERT_EQ(host.Select(folder.path(), {"a.txt"}), S_OK);
    kstest::TraceCapture trace;
    std::vector<MenuItem> items = host.QueryMenu();
    EXPECT_TRUE(trace.Contains("CShellExt::QueryContextMenu()\r\n"));

    // Inserted at the given position, before the shell's own item.
    ASSERT_EQ(items.size(), 2u);
    EXPECT_EQ(items[0].text, "&Keepsake");
    EXPECT_TRUE(items[0].popup);
    EXPECT_EQ(items[1].text, "&Open");

    const std::vector<MenuItem>& submenu = items[0].submenu;
    ASSERT_EQ(submenu.size(), 3u);
    EXPECT_EQ(submenu[0].text, "&Save...");
    EXPECT_EQ(submenu[0].id, ShellHost::kFirstId + 0);
    EXPECT_EQ(submenu[1].text, "&History...");
    EXPECT_EQ(submenu[1].id, ShellHost::kFirstId + 1);
    EXPECT_EQ(submenu[2].text, "&File");
    ASSERT_EQ(submenu[2].submenu.size(), 3u);
    const char* fileItems[] = {"&Move...", "&Copy...", "&Delete..."};
    for (UINT i = 0; i < 3; ++i) {
        EXPECT_EQ(submenu[2].submenu[i].text, fileItems[i]);
        EXPECT_EQ(submenu[2].submenu[i].id, ShellHost::kFirstId + 2 + i);
        EXPECT_FALSE(submenu[2].submenu[i].grayed);
    }
}

TEST_F(ContextMenu, NothingWithoutVersioningYetFiveIdsReserved) {
    File("a.txt", true);
    settings.SetNumber("EnableVersionControl", 0);
    EXPECT_EQ(States({"a.txt"}), "none");

    kstest::SettingsScope absent;  // no key at all
    EXPECT_EQ(States({"a.txt"}), "none");
}

TEST_F(ContextMenu, EnableRulesFollowTheSelection) {
    File("plain.txt");
    File("kept.txt", true);
    File("other.txt", true);
    File("skip.tmp");
    File("skipkept.tmp", true);
    ASSERT_TRUE(CreateDirectoryA((folder / "sub").c_str(), nullptr));
    settings.SetString("VersionExclude", "tmp,bak");

    struct Case {
        std::vector<std::string> names;
        const char* states;
    };
    const Case cases[] = {
        {{"plain.txt"}, "S--"},                   // no archive: save only
        {{"kept.txt"}, "SHF"},                    // archived: everything
        {{"kept.txt", "other.txt"}, "S-F"},       // history is for one file
        {{"sub"}, "S--"},                         // a folder saves its files
        {{"skip.tmp"}, "none"},                   // excluded, no archive: nothing at all
        {{"skipkept.tmp", "kept.txt"}, "S--"},    // one excluded entry grays "&File"
        {{"sub", "kept.txt"}, "S--"},             // a folder grays history and files
    };
    for (const Case& c : cases) {
        ASSERT_EQ(host.Create(), S_OK);  // a fresh object for each selection
        EXPECT_EQ(States(c.names), c.states) << c.names[0] << " +" << c.names.size() - 1;
    }
}

TEST_F(ContextMenu, DefaultOnlyAndVerbsOnlyAddNothing) {
    File("a.txt", true);
    ASSERT_EQ(host.Select(folder.path(), {"a.txt"}), S_OK);
    for (UINT flags : {CMF_DEFAULTONLY, CMF_VERBSONLY}) {
        HRESULT result = E_FAIL;
        std::vector<MenuItem> items = host.QueryMenu(flags, &result);
        EXPECT_EQ(result, S_OK) << flags;
        EXPECT_EQ(items.size(), 1u) << flags;
    }
}

TEST_F(ContextMenu, HelpTextsOnlyForTheFiveOffsets) {
    kstest::TraceCapture trace;
    const char* texts[] = {"Save a version of this file", "Retrieve the version history of this file",
                           "Move this file and its version(s)", "Copy this file and its version(s)",
                           "Delete this file and its version(s)"};
    for (UINT offset = 0; offset < 5; ++offset) EXPECT_EQ(host.CommandString(offset, GCS_HELPTEXTA), texts[offset]);
    EXPECT_TRUE(trace.Contains("CShellExt::GetCommandString()\r\n"));

    // Verbs, validation, the wide kind and unknown offsets leave the buffer alone.
    EXPECT_EQ(host.CommandString(0, GCS_VERBA, "untouched"), "untouched");
    EXPECT_EQ(host.CommandString(0, GCS_VALIDATEA, "untouched"), "untouched");
    EXPECT_EQ(host.CommandString(5, GCS_HELPTEXTA, "untouched"), "untouched");

    // A short buffer gets what fits.
    char small[8] = "xxxxxxx";
    EXPECT_EQ(host.menu()->GetCommandString(0, GCS_HELPTEXTA, nullptr, small, sizeof small), S_OK);
    EXPECT_STREQ(small, "Save a ");
}

TEST_F(ContextMenu, RefusesVerbsGivenAsTextAndUnknownOffsets) {
    File("a.txt", true);
    ASSERT_EQ(host.Select(folder.path(), {"a.txt"}), S_OK);
    kstest::TraceCapture trace;
    EXPECT_EQ(host.InvokeVerb("save"), E_INVALIDARG);
    EXPECT_EQ(host.Invoke(5), E_INVALIDARG);
    EXPECT_EQ(host.Invoke(0xFFFF), E_INVALIDARG);
    EXPECT_EQ(trace.Count("CShellExt::InvokeCommand()\r\n"), 3u);
}

}  // namespace
