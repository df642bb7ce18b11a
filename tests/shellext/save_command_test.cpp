// The "&Save..." command run from the context menu the way the shell runs
// it, with real dialogs driven by the UI driver and real archives made by
// the engine.
#include <gtest/gtest.h>

#include <shlobj.h>

#include <string>
#include <vector>

#include "resource.h"
#include "shell_host.h"
#include "test_helpers.h"
#include "ui_driver.h"
#include "archive/archive_context.h"
#include "archive/paths.h"
#include "shellext/save_command.h"
#include "shellext/selected_file_list.h"

namespace {

using kstest::ShellHost;
using kstest::UiDriver;
using kstest::Window;
using kstest::WriteFileText;

constexpr DWORD kCommandTimeoutMs = 60000;
constexpr UINT kSaveOffset = 0;

class SaveCommand : public ::testing::Test {
protected:
    void SetUp() override {
        kstest::UseOwnResources();
        ASSERT_TRUE(registration.ok()) << registration.error();
        settings.SetNumber("EnableVersionControl", 1);
    }

    std::string Write(const std::string& name, const std::string& content) {
        std::string path = folder / name;
        EXPECT_TRUE(WriteFileText(path, content));
        return path;
    }

    // Versions in the file's archive; 0 without one.
    int Versions(const std::string& name) {
        ArchiveContext context;
        if (!context.Resolve((folder / name).c_str(), false, nullptr) || !context.ArchiveExists()) return 0;
        return context.VersionCount();
    }

    int NextVersionNumber(const std::string& name) {
        ArchiveContext context;
        context.Resolve((folder / name).c_str(), false, nullptr);
        return context.NextVersionNumber();
    }

    // Gives the file a first version, then new content.
    void Archive(const std::string& name, bool changeAfterwards = true) {
        Write(name, "first content of " + name);
        ArchiveContext context;
        ASSERT_TRUE(context.Resolve((folder / name).c_str(), false, nullptr));
        ASSERT_EQ(context.SaveFirstVersion(0, 10, 0, 1), 0);
        ASSERT_EQ(Versions(name), 1);
        if (changeAfterwards) Write(name, "second content of " + name + ", somewhat longer");
    }

    // Selects `names` in the folder and chooses "&Save..." from a fresh object.
    bool Save(const std::vector<std::string>& names) {
        ShellHost host;
        EXPECT_EQ(host.Create(), S_OK);
        EXPECT_EQ(host.Select(folder.path(), names), S_OK);
        HRESULT result = E_FAIL;
        bool inTime = kstest::CallWithin(kCommandTimeoutMs, [&] { result = host.Invoke(kSaveOffset); });
        EXPECT_EQ(result, S_OK);
        return inTime;
    }

    kstest::ShellRegistration registration;
    kstest::SettingsScope settings;
    kstest::TempFolder folder;
};

// Presses OK in a dialog after noting its comment field.
UiDriver::Action PressOk(std::string* comment = nullptr) {
    return [comment](Window& dialog) {
        if (comment) *comment = dialog.Text(IDC_COMMENT);
        dialog.Press(IDOK);
    };
}

TEST_F(SaveCommand, OneFileGetsItsFirstThenItsNextVersion) {
    Write("a.txt", "first");
    {
        UiDriver ui;
        Window seen;
        ui.OnDialog("New Version - a.txt", [&](Window& dialog) {
            seen = dialog;
            EXPECT_TRUE(dialog.HasControl(IDC_MAX_TEMPORARY));
            EXPECT_EQ(dialog.Text(IDC_MAX_TEMPORARY), "10");
            dialog.Press(IDOK);
        });
        ASSERT_TRUE(Save({"a.txt"}));
        ASSERT_TRUE(ui.Finish());
        ASSERT_TRUE(seen);
    }
    EXPECT_EQ(Versions("a.txt"), 1);
    // One file: no progress window was left behind either.
    EXPECT_FALSE(kstest::FindTopLevel("#32770", "Versioning..."));

    Write("a.txt", "second, and longer than the first");
    int next = NextVersionNumber("a.txt");
    std::string comment;
    UiDriver ui;
    ui.OnDialog("Version Properties - a.txt", PressOk(&comment));
    ASSERT_TRUE(Save({"a.txt"}));
    ASSERT_TRUE(ui.Finish());
    EXPECT_EQ(comment, "Version " + std::to_string(next));
    EXPECT_EQ(Versions("a.txt"), 2);
}

TEST_F(SaveCommand, SeveralArchivedFilesShareOneDialogAndAProgressWindow) {
    Archive("a.txt");
    Archive("b.txt");
    std::string comment;
    UiDriver ui;
    ui.OnDialog("Version Properties - Multiple Files", [&](Window& dialog) {
        comment = dialog.Text(IDC_COMMENT);
        dialog.SetText(IDC_COMMENT, "both at once");
        dialog.Press(IDOK);
    });
    ASSERT_TRUE(Save({"a.txt", "b.txt"}));
    ASSERT_TRUE(ui.Finish());
    EXPECT_EQ(comment, "Add Your Comment.");
    EXPECT_EQ(Versions("a.txt"), 2);
    EXPECT_EQ(Versions("b.txt"), 2);
    EXPECT_FALSE(kstest::FindTopLevel("#32770", "Versioning..."));  // closed at the end
}

TEST_F(SaveCommand, AnArchivedFileAmongNewOnesAsksForVersionProperties) {
    Archive("kept.txt");
    Write("new.txt", "new file");
    settings.SetNumber("MaxTempVersions", 7);
    UiDriver ui;
    ui.OnDialog("Version Properties - Multiple Files", [](Window& dialog) {
        dialog.SetChecked(IDC_PERMANENT, true);
        dialog.Press(IDOK);
    });
    ASSERT_TRUE(Save({"new.txt", "kept.txt"}));
    ASSERT_TRUE(ui.Finish());
    EXPECT_EQ(Versions("kept.txt"), 2);
    ASSERT_EQ(Versions("new.txt"), 1);
    // The new archive took the dialog's permanent flag and the settings' limit.
    ArchiveContext context;
    ASSERT_TRUE(context.Resolve((folder / "new.txt").c_str(), false, nullptr));
    VersionEntry* entries = nullptr;
    ASSERT_EQ(context.ListVersions(&entries), 1);
    EXPECT_EQ(entries[0].permanent, 1);
    delete[] entries;
    EXPECT_EQ(context.MaxTemporaryVersions(), 7);
}

TEST_F(SaveCommand, AFolderSavesItsPlainFilesOnly) {
    std::string docs = folder / "docs";
    ASSERT_TRUE(CreateDirectoryA(docs.c_str(), nullptr));
    Write("docs\\one.txt", "one");
    Write("docs\\two.txt", "two");
    Write("docs\\hidden.txt", "hidden");
    SetFileAttributesA((docs + "\\hidden.txt").c_str(), FILE_ATTRIBUTE_HIDDEN);
    ASSERT_TRUE(CreateDirectoryA((docs + "\\sub").c_str(), nullptr));
    Write("docs\\sub\\deep.txt", "deep");

    UiDriver ui;
    ui.OnDialog("New Version - Multiple Files", PressOk());
    ASSERT_TRUE(Save({"docs"}));
    ASSERT_TRUE(ui.Finish());
    EXPECT_EQ(Versions("docs\\one.txt"), 1);
    EXPECT_EQ(Versions("docs\\two.txt"), 1);
    EXPECT_EQ(Versions("docs\\hidden.txt"), 0);
    EXPECT_EQ(Versions("docs\\sub\\deep.txt"), 0);
}

TEST_F(SaveCommand, RefusalsForOneFileOfferOnlyOk) {
    Write("empty.txt", "");
    Archive("same.txt", false);
    Write("skip.tmp", "excluded");
    ASSERT_TRUE(CreateDirectoryA((folder / "nothing").c_str(), nullptr));
    settings.SetString("VersionExclude", "tmp");

    struct Case {
        std::string name;
        std::string text;
    };
    const Case cases[] = {
        {"empty.txt", "empty.txt is a zero length file."},
        {"same.txt", folder / "same.txt" + "\nWorking file is not newer than latest version."},
        {"nothing", "Error!  There are no files to Save!"},
    };
    for (const Case& c : cases) {
        UiDriver ui;
        ui.OnMessageBox("Keepsake (TM)");
        ASSERT_TRUE(Save({c.name})) << c.name;  // no dialog follows the message
        ASSERT_TRUE(ui.Finish()) << c.name;
        ASSERT_EQ(ui.Seen().size(), 1u);
        EXPECT_EQ(ui.Seen()[0].text, c.text);
        EXPECT_EQ(ui.Seen()[0].icon, static_cast<UINT>(MB_ICONSTOP));
        EXPECT_EQ(ui.Seen()[0].buttons, std::vector<int>{IDOK}) << c.name;
    }
    EXPECT_EQ(Versions("empty.txt"), 0);
    EXPECT_EQ(Versions("same.txt"), 1);

    // An excluded file: nothing shown, nothing saved.
    ASSERT_TRUE(Save({"skip.tmp"}));
    EXPECT_EQ(Versions("skip.tmp"), 0);
}

// A save of several files asks nothing file by file: what was not saved,
// and why, is told once at the end, with the name of each failure.
TEST_F(SaveCommand, SeveralFilesAreToldOnceAtTheEnd) {
    for (int i = 0; i < 10; ++i) Archive("same" + std::to_string(i) + ".txt", false);
    Archive("changed.txt");
    Write("new.txt", "new");
    Write("empty.txt", "");
    Write("skip.tmp", "excluded");
    std::string locked = Write("locked.txt", "held by another program");
    settings.SetString("VersionExclude", "tmp");
    // Held open without sharing, as an editor may hold it.
    HANDLE holder = CreateFileA(locked.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(holder, INVALID_HANDLE_VALUE);

    std::vector<std::string> names = {"changed.txt", "new.txt", "empty.txt", "skip.tmp", "locked.txt"};
    for (int i = 0; i < 10; ++i) names.push_back("same" + std::to_string(i) + ".txt");
    UiDriver ui;
    ui.OnDialog("Version Properties - Multiple Files", PressOk());
    ui.OnMessageBox("Keepsake (TM)");
    ASSERT_TRUE(Save(names));
    ASSERT_TRUE(ui.Finish());
    CloseHandle(holder);

    ASSERT_EQ(ui.Seen().size(), 1u) << "one summary, no message per file";
    EXPECT_EQ(ui.Seen()[0].text,
              "2 saved, 10 unchanged, 1 empty, 1 excluded, 1 failed:\nlocked.txt: another program has it open and lets "
              "no one read it; close it there and try again.");
    EXPECT_EQ(ui.Seen()[0].icon, static_cast<UINT>(MB_ICONWARNING));
    EXPECT_EQ(ui.Seen()[0].buttons, std::vector<int>{IDOK});
    EXPECT_EQ(Versions("changed.txt"), 2);
    EXPECT_EQ(Versions("new.txt"), 1);
    EXPECT_EQ(Versions("locked.txt"), 0);
    EXPECT_EQ(Versions("same0.txt"), 1);

    // Nothing left to save: no dialog, the summary alone.
    UiDriver again;
    again.OnMessageBox("Keepsake (TM)");
    ASSERT_TRUE(Save({"same0.txt", "same1.txt", "empty.txt"}));
    ASSERT_TRUE(again.Finish());
    ASSERT_EQ(again.Seen().size(), 1u);
    EXPECT_EQ(again.Seen()[0].text, "0 saved, 2 unchanged, 1 empty.");
    EXPECT_EQ(again.Seen()[0].icon, static_cast<UINT>(MB_ICONINFORMATION));
}

TEST_F(SaveCommand, CancelInTheProgressWindowSkipsTheRest) {
    // Enough work that the press on Cancel arrives while files remain.
    const int kFiles = 80;
    std::vector<std::string> names;
    std::string content(128 * 1024, 'x');
    for (int i = 0; i < kFiles; ++i) {
        names.push_back("f" + std::to_string(i) + ".txt");
        Write(names.back(), content + std::to_string(i));
    }
    std::string progressText;
    UiDriver ui;
    ui.OnDialog("New Version - Multiple Files", PressOk());
    ui.OnDialog("Versioning...", [&](Window& progress) {
        progressText = progress.Text(IDC_PROGRESS_TEXT);
        progress.Press(IDCANCEL);
    });
    ui.OnMessageBox("Keepsake (TM)");
    ASSERT_TRUE(Save(names));
    ASSERT_TRUE(ui.Finish());

    int saved = 0;
    for (const std::string& name : names) saved += Versions(name);
    EXPECT_GE(saved, 1);
    EXPECT_LT(saved, kFiles);
    // The summary says how many the Cancel left unsaved.
    ASSERT_EQ(ui.Seen().size(), 1u);
    EXPECT_EQ(ui.Seen()[0].text, std::to_string(saved) + " saved, " + std::to_string(kFiles - saved) +
                                     " not saved because you cancelled.");
    EXPECT_EQ(progressText.rfind("Versioning " + folder.path() + "\\f", 0), 0u) << progressText;
    EXPECT_FALSE(kstest::FindTopLevel("#32770", "Versioning..."));
}

TEST_F(SaveCommand, AFileWhoseArchiveCannotBePlacedIsNotSaved) {
    // The central folder would have to be made below a file.
    Write("blocker", "a file, not a folder");
    settings.SetString("VersionsPath", folder / "blocker\\archives");
    Write("a.txt", "content");
    UiDriver ui;
    ui.OnMessageBox("Keepsake (TM)");
    ASSERT_TRUE(Save({"a.txt"}));  // no dialog after the message
    ASSERT_TRUE(ui.Finish());
    ASSERT_EQ(ui.Seen().size(), 1u);
    EXPECT_EQ(ui.Seen()[0].text, "Can't create Keepsake directory!");

    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((folder / "*.ks").c_str(), &found);
    EXPECT_EQ(search, INVALID_HANDLE_VALUE) << found.cFileName;
    if (search != INVALID_HANDLE_VALUE) FindClose(search);
}

// Every way out of the command puts back the cursor that was there before.
TEST_F(SaveCommand, PutsThePreviousCursorBackOnEveryPathOut) {
    HCURSOR cross = LoadCursor(nullptr, IDC_CROSS);
    SetCursor(cross);
    ShowWaitCursor();
    ASSERT_NE(GetCursor(), cross) << "the thread's cursor cannot be observed";
    Write("empty.txt", "");
    Archive("same.txt", false);
    Write("new.txt", "new");

    struct Case {
        const char* what;
        std::vector<std::string> names;
        int messageButton;     // 0: no message expected
        bool dialogCancelled;  // the dialog appears and is cancelled
    };
    const Case cases[] = {
        {"no files", {}, IDOK, false},
        {"empty file", {"empty.txt"}, IDOK, false},
        {"nothing to save among several", {"empty.txt", "same.txt"}, IDOK, false},
        {"cancel in the dialog", {"new.txt"}, 0, true},
    };
    for (const Case& c : cases) {
        SelectedFileList files;
        if (c.names.empty()) files.Add((folder / "vanished").c_str());
        for (const std::string& name : c.names) files.Add((folder / name).c_str());
        UiDriver ui;
        if (c.messageButton)
            ui.OnMessageBox("Keepsake (TM)", [&c](Window& box) { box.Press(c.messageButton); });
        if (c.dialogCancelled) ui.OnDialog("New Version - new.txt", [](Window& dialog) { dialog.Cancel(); });
        SetCursor(cross);
        SaveVersions(files, nullptr);
        EXPECT_TRUE(ui.Finish()) << c.what;
        EXPECT_EQ(GetCursor(), cross) << c.what;
    }
    EXPECT_EQ(Versions("new.txt"), 0);
}

// Archives kept beside their files are never versioned themselves, nor is
// the central archive folder, whatever the exclusion list says: each save
// of the folder would otherwise add an archive of every archive.
TEST_F(SaveCommand, AFolderSaveLeavesArchivesAlone) {
    std::string docs = folder / "docs";
    ASSERT_TRUE(CreateDirectoryA(docs.c_str(), nullptr));
    Archive("docs\\a.txt");
    Write("docs\\b.txt", "b");
    UiDriver ui;
    ui.OnDialog("Version Properties - Multiple Files", PressOk());
    ASSERT_TRUE(Save({"docs"}));
    ASSERT_TRUE(ui.Finish());
    EXPECT_EQ(Versions("docs\\a.txt"), 2);
    EXPECT_EQ(Versions("docs\\b.txt"), 1);
    int archives = 0;
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((docs + "\\*.ks").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
        do ++archives;
        while (FindNextFileA(search, &found));
        FindClose(search);
    }
    EXPECT_EQ(archives, 2) << "one archive per working file, none of an archive";

    // The central folder holds only archives: saving it saves nothing.
    std::string central = folder / "central";
    settings.SetString("VersionsPath", central);
    Write("c.txt", "c");
    UiDriver first;
    first.OnDialog("New Version - c.txt", PressOk());
    ASSERT_TRUE(Save({"c.txt"}));
    ASSERT_TRUE(first.Finish());
    ASSERT_EQ(Versions("c.txt"), 1);
    UiDriver again;
    again.OnMessageBox("Keepsake (TM)");
    ASSERT_TRUE(Save({"central"}));
    ASSERT_TRUE(again.Finish());
    ASSERT_EQ(again.Seen().size(), 1u);
    EXPECT_EQ(again.Seen()[0].text, "Error!  There are no files to Save!");
    search = FindFirstFileA((central + "\\*").c_str(), &found);
    int files = 0;
    if (search != INVALID_HANDLE_VALUE) {
        do files += (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) ? 0 : 1;
        while (FindNextFileA(search, &found));
        FindClose(search);
    }
    EXPECT_EQ(files, 1) << "the archive of c.txt and nothing else";
}

// A file without a place for its archive: building the menu shows no
// message at all, and the command the user then chooses tells it once.
TEST_F(SaveCommand, AResolveProblemIsToldOnceByTheCommandNotByTheMenu) {
    Write("blocker", "a file, not a folder");
    settings.SetString("VersionsPath", folder / "blocker\\archives");
    Write("a.txt", "content");
    ShellHost host;
    ASSERT_EQ(host.Create(), S_OK);
    ASSERT_EQ(host.Select(folder.path(), {"a.txt"}), S_OK);
    kstest::BoxRecorder boxes("Keepsake (TM)");
    const kstest::MenuItem* keepsake = nullptr;
    ASSERT_TRUE(kstest::CallWithin(kCommandTimeoutMs, [&] {
        host.QueryMenu();
        keepsake = host.Keepsake();
    }));
    EXPECT_EQ(boxes.Count(), 0u) << "the menu shows no box while it is built";
    ASSERT_TRUE(keepsake);
    const kstest::MenuItem* save = keepsake->Find("&Save...");
    ASSERT_TRUE(save);
    EXPECT_FALSE(save->grayed);

    HRESULT result = E_FAIL;
    ASSERT_TRUE(kstest::CallWithin(kCommandTimeoutMs, [&] { result = host.Invoke(kSaveOffset); }));
    EXPECT_EQ(result, S_OK);
    Sleep(100);
    std::vector<kstest::MessageBoxInfo> seen = boxes.Seen();
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].text, "Can't create Keepsake directory!");
}

}  // namespace
