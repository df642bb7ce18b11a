// The "&Keepsake" submenu as the shell sees it: when it appears, which
// items are grayed, its identifiers, help texts and refused commands.
#include <gtest/gtest.h>

#include <shlobj.h>

#include <cstdio>

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

    // Where File and States work: the fixture's folder unless a test
    // points elsewhere.
    const kstest::TempFolder& Here() const { return folderOverride ? *folderOverride : folder; }

    std::string File(const std::string& name, bool archived = false) {
        std::string path = Here() / name;
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
        EXPECT_EQ(host.Select(Here().path(), names), S_OK);
        return Requery();
    }

    // The states of a new menu for the selection the object holds.
    std::string Requery() {
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
    const kstest::TempFolder* folderOverride = nullptr;
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
        {{"skipkept.tmp"}, "-H-"},                // excluded, archived: its history still shows
        {{"skipkept.tmp", "kept.txt"}, "S--"},    // one excluded entry grays "&File"
        {{"sub", "kept.txt"}, "S--"},             // a folder grays history and files
    };
    for (const Case& c : cases) {
        ASSERT_EQ(host.Create(), S_OK);  // a fresh object for each selection
        EXPECT_EQ(States(c.names), c.states) << c.names[0] << " +" << c.names.size() - 1;
    }
}

// Many files of one folder: the menu learns the facts from one listing of
// the folder, and must come to exactly the states the rules give for each
// file asked one by one.
class ContextMenuAtScale : public ContextMenu {
protected:
    // `count` long-named files (their short forms made up by the system);
    // the one at `archived` (if any) with an archive.
    std::vector<std::string> Files(int count, int archived = -1) {
        std::vector<std::string> names;
        for (int i = 0; i < count; ++i) {
            char name[64];
            snprintf(name, sizeof name, "Minutes of meeting %04d.text", i);
            names.push_back(File(name, i == archived));
        }
        return names;
    }
};

TEST_F(ContextMenuAtScale, AThousandFilesWithOneArchivedGiveTheRulesStates) {
    kstest::TempFolder central;
    struct Layout {
        const char* name;
        bool central;
    };
    for (Layout layout : {Layout{"beside", false}, Layout{"central", true}}) {
        kstest::TempFolder files;
        if (layout.central) settings.SetString("VersionsPath", central.path());
        folderOverride = &files;
        // The shell's first name is walked last: the archived file is
        // found only after every other one was looked at.
        std::vector<std::string> names = Files(1000, 0);
        ASSERT_EQ(host.Create(), S_OK);
        EXPECT_EQ(States(names), "S-F") << layout.name;

        // One excluded file among them grays "&File" wherever it stands.
        settings.SetString("VersionExclude", "tmp");
        names.insert(names.begin() + 500, File("scratch.tmp"));
        ASSERT_EQ(host.Create(), S_OK);
        EXPECT_EQ(States(names), "S--") << layout.name;
        settings.SetString("VersionExclude", "");

        // One folder among them grays history and files alike.
        ASSERT_TRUE(CreateDirectoryA((files / "sub").c_str(), nullptr));
        names[500] = "sub";
        ASSERT_EQ(host.Create(), S_OK);
        EXPECT_EQ(States(names), "S--") << layout.name;
        folderOverride = nullptr;
    }
}

TEST_F(ContextMenuAtScale, ASecondMenuSeesTheFolderAsItIsNow) {
    std::vector<std::string> names = Files(1000);
    ASSERT_EQ(States(names), "S--");

    // The same object, the same selection: an archive that appeared since
    // the first menu enables "&File" in the second, and is gone again in
    // the third.
    ArchiveContext context;
    ASSERT_TRUE(context.Resolve((folder / names[999]).c_str(), false, nullptr));
    ASSERT_TRUE(WriteFileText(context.archivePath, "archive"));
    EXPECT_EQ(Requery(), "S-F");
    ASSERT_TRUE(DeleteFileA(context.archivePath) != FALSE);
    EXPECT_EQ(Requery(), "S--");
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
