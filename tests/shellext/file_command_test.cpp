// The "&File" commands (move, copy, delete) run from the context menu the
// way the shell runs them, with the real common file dialogs and message
// boxes driven by the UI driver, and real archives made by the engine.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>
#include <vector>

#include "reservation_holder.h"
#include "resource.h"
#include "shell_host.h"
#include "test_helpers.h"
#include "dialog_test_support.h"
#include "ui_driver.h"
#include "archive/archive_context.h"

namespace {

using kstest::PathPresent;
using kstest::ReadFileText;
using kstest::ShellHost;
using kstest::UiDriver;
using kstest::Window;

constexpr DWORD kCommandTimeoutMs = 20000;
constexpr UINT kMoveOffset = 2;
constexpr UINT kCopyOffset = 3;
constexpr UINT kDeleteOffset = 4;
constexpr char kCaption[] = "Keepsake (TM)";

// Controls of the folder chooser (template 19000): the hidden name box and
// the folder list.
constexpr int kNameBox = 1152;
constexpr int kFolderList = 1121;

// Controls of Wine's Save As dialog: the "Save in" box, the name box and
// the file types.
constexpr int kSaveInBox = 1137;
constexpr int kSaveAsNameBox = 1148;
constexpr int kFileTypeBox = 1136;
// The folder chooser's line that names its current folder.
constexpr int kCurrentFolder = 1088;

struct OwnedSearch {
    HWND owner;
    HWND found;
};

BOOL CALLBACK MatchOwned(HWND window, LPARAM param) {
    auto* search = reinterpret_cast<OwnedSearch*>(param);
    if (!IsWindowVisible(window) || GetWindow(window, GW_OWNER) != search->owner) return TRUE;
    search->found = window;
    return FALSE;
}

// A visible window that `owner` owns (a question it asks), or null.
HWND FindOwnedWindow(HWND owner) {
    OwnedSearch search{owner, nullptr};
    EnumWindows(MatchOwned, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

// The edit inside the Save As dialog's name box (a combo box in a
// ComboBoxEx).
HWND SaveAsNameEdit(const Window& dialog) {
    HWND combo = FindWindowExA(dialog.Control(kSaveAsNameBox), nullptr, "ComboBox", nullptr);
    return combo ? FindWindowExA(combo, nullptr, "Edit", nullptr) : nullptr;
}

// Every progress text set in the windows of one thread, seen by a hook on
// that thread: the command runs too fast for a second thread to read them.
class ProgressTextRecorder {
public:
    // With `cancelAtFirstText`, the progress window's Cancel is pressed as
    // soon as it shows its first text: the file it names is the last one.
    explicit ProgressTextRecorder(bool cancelAtFirstText = false) : cancel_(cancelAtFirstText) {
        instance_ = this;
        hook_ = SetWindowsHookExA(WH_CALLWNDPROC, OnCall, nullptr, GetCurrentThreadId());
    }
    ~ProgressTextRecorder() {
        if (hook_) UnhookWindowsHookEx(hook_);
        instance_ = nullptr;
    }
    ProgressTextRecorder(const ProgressTextRecorder&) = delete;
    ProgressTextRecorder& operator=(const ProgressTextRecorder&) = delete;

    struct Line {
        std::string windowTitle;
        std::string text;
    };
    std::vector<Line> lines;

private:
    static LRESULT CALLBACK OnCall(int code, WPARAM wParam, LPARAM lParam) {
        const auto* call = reinterpret_cast<const CWPSTRUCT*>(lParam);
        if (code == HC_ACTION && instance_ && call->message == WM_SETTEXT && call->lParam &&
            GetDlgCtrlID(call->hwnd) == IDC_PROGRESS_TEXT) {
            char title[100] = "";
            GetWindowTextA(GetParent(call->hwnd), title, sizeof title);
            instance_->lines.push_back({title, reinterpret_cast<const char*>(call->lParam)});
            if (instance_->cancel_ && instance_->lines.size() == 1)
                PostMessageA(GetParent(call->hwnd), WM_COMMAND, IDCANCEL, 0);
        }
        return CallNextHookEx(nullptr, code, wParam, lParam);
    }

    static ProgressTextRecorder* instance_;
    HHOOK hook_ = nullptr;
    bool cancel_ = false;
};
ProgressTextRecorder* ProgressTextRecorder::instance_ = nullptr;

class FileCommand : public ::testing::Test {
protected:
    void SetUp() override {
        kstest::UseOwnResources();
        ASSERT_TRUE(registration.ok()) << registration.error();
        settings.SetNumber("EnableVersionControl", 1);
    }

    std::string Write(const std::string& name, const std::string& content) {
        std::string path = folder / name;
        EXPECT_TRUE(kstest::WriteFileText(path, content));
        return path;
    }

    // A file with one version in its archive beside it.
    std::string Archived(const std::string& name) {
        std::string path = Write(name, "content of " + name);
        ArchiveContext context;
        EXPECT_TRUE(context.Resolve(path.c_str(), false, nullptr));
        EXPECT_EQ(context.SaveFirstVersion(0, 10, 0, 1), 0);
        return path;
    }

    // Versions in the archive of the file at `path` (which need not exist);
    // 0 without an archive.
    static int Versions(const std::string& path) {
        ArchiveContext context;
        if (!context.Resolve(path.c_str(), false, nullptr) || !context.ArchiveExists()) return 0;
        return context.VersionCount();
    }

    // Archive files (*.ks) in `where`.
    static int ArchiveFiles(const std::string& where) {
        int count = 0;
        WIN32_FIND_DATAA found;
        HANDLE search = FindFirstFileA((where + "\\*.ks").c_str(), &found);
        if (search == INVALID_HANDLE_VALUE) return 0;
        do ++count;
        while (FindNextFileA(search, &found));
        FindClose(search);
        return count;
    }

    // Selects `names` in the test folder and runs command `offset` from a
    // fresh object, invoked from the test folder, on a thread of its own;
    // the progress texts it sets land in progressLines.
    // With `cancelAtFirstFile`, Cancel is pressed in the progress window
    // as soon as it names the first file; `directory` is where the
    // command was invoked (the test folder by default).
    bool Run(UINT offset, const std::vector<std::string>& names, bool cancelAtFirstFile = false,
             const std::string& directory = "") {
        ShellHost host;
        EXPECT_EQ(host.Create(), S_OK);
        EXPECT_EQ(host.Select(folder.path(), names), S_OK);
        HRESULT result = E_FAIL;
        std::vector<ProgressTextRecorder::Line> lines;
        const std::string invokedIn = directory.empty() ? folder.path() : directory;
        bool inTime = kstest::CallWithin(kCommandTimeoutMs, [&] {
            ProgressTextRecorder texts(cancelAtFirstFile);
            result = host.Invoke(offset, nullptr, invokedIn.c_str());
            lines = texts.lines;
        });
        progressLines = lines;
        EXPECT_EQ(result, S_OK);
        return inTime;
    }

    // The folder chooser goes to `where` as a user gets there by typing:
    // the folder with a backslash into the name box and OK (the dialog
    // changes into it and stays open), then the dummy name back and OK.
    // The name box is out of sight but still the dialog's name box. Typing
    // "folder\DUMMY.BAK" at once would do for a folder, not for a drive
    // root: "C:\DUMMY.BAK" reads as the current folder of drive C:.
    static UiDriver::Action ChooseFolder(const std::string& where, std::string* nameBox = nullptr) {
        return [where, nameBox](Window& dialog) {
            if (nameBox) *nameBox = dialog.Text(kNameBox);
            EXPECT_TRUE(dialog.HasControl(kFolderList));
            dialog.SetText(kNameBox, where + "\\");
            SendMessageA(dialog.handle(), WM_COMMAND, IDOK, 0);  // sent: done before the next step
            dialog.SetText(kNameBox, "DUMMY.BAK");
            dialog.Press(IDOK);
        };
    }

    kstest::ShellRegistration registration;
    kstest::SettingsScope settings;
    kstest::TempFolder folder;
    std::vector<ProgressTextRecorder::Line> progressLines;
};

TEST_F(FileCommand, MovesOneFileUnderANewNameWithItsArchive) {
    std::string from = Archived("report.txt");
    std::string to = folder / "renamed.txt";
    // Wine's Save As dialog splits the full path it is given: it opens in
    // the file's folder with the bare name in its name box (a combo box
    // whose edit takes a typed path).
    std::string nameBox, savedIn;
    UiDriver ui;
    ui.OnDialog(("Move " + from + " To").c_str(), [&](Window& dialog) {
        savedIn = dialog.Text(kSaveInBox);
        HWND edit = SaveAsNameEdit(dialog);
        ASSERT_TRUE(edit);
        char name[MAX_PATH] = "";
        GetWindowTextA(edit, name, sizeof name);
        nameBox = name;
        SendMessageA(edit, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(to.c_str()));
        dialog.Press(IDOK);
    });
    ASSERT_TRUE(Run(kMoveOffset, {"report.txt"}));
    ASSERT_TRUE(ui.Finish());

    EXPECT_EQ(nameBox, "report.txt");
    EXPECT_EQ(savedIn, folder.path().substr(folder.path().rfind('\\') + 1));
    EXPECT_FALSE(PathPresent(from));
    EXPECT_EQ(ReadFileText(to), "content of report.txt");
    EXPECT_EQ(Versions(to), 1);
    EXPECT_EQ(ArchiveFiles(folder.path()), 1);  // the old archive went with it
    EXPECT_TRUE(progressLines.empty());         // one file: no progress window
}

TEST_F(FileCommand, CancelledFileDialogsChangeNothing) {
    std::string one = Archived("one.txt");
    std::string two = Write("two.txt", "two");
    for (UINT offset : {kMoveOffset, kCopyOffset}) {
        UiDriver ui;
        ui.OnDialog((std::string(offset == kMoveOffset ? "Move " : "Copy ") + one + " To").c_str(),
                    [](Window& dialog) { dialog.Cancel(); });
        ui.OnDialog(offset == kMoveOffset ? "Move Files To" : "Copy Files To", [](Window& dialog) { dialog.Cancel(); });
        ASSERT_TRUE(Run(offset, {"one.txt"}));
        ASSERT_TRUE(Run(offset, {"one.txt", "two.txt"}));
        ASSERT_TRUE(ui.Finish());
    }
    EXPECT_TRUE(PathPresent(one));
    EXPECT_TRUE(PathPresent(two));
    EXPECT_EQ(Versions(one), 1);
}

TEST_F(FileCommand, CopiesThreeFilesIntoAFolderWithProgressPerFile) {
    Archived("a.txt");
    Archived("b.txt");
    Write("c.txt", "no archive");
    std::string target = folder / "target";
    ASSERT_TRUE(CreateDirectoryA(target.c_str(), nullptr));

    char before[MAX_PATH], after[MAX_PATH];
    GetCurrentDirectoryA(sizeof before, before);
    std::string nameBox;
    UiDriver ui;
    ui.OnDialog("Copy Files To", ChooseFolder(target, &nameBox));
    ASSERT_TRUE(Run(kCopyOffset, {"a.txt", "b.txt", "c.txt"}));
    ASSERT_TRUE(ui.Finish());
    GetCurrentDirectoryA(sizeof after, after);
    EXPECT_STREQ(after, before);  // the chooser's walk left the process where it was

    EXPECT_EQ(nameBox, "DUMMY.BAK");
    for (const char* name : {"a.txt", "b.txt", "c.txt"}) {
        EXPECT_TRUE(PathPresent(folder / name)) << name;  // copies leave the sources
        EXPECT_EQ(ReadFileText(target + "\\" + name), ReadFileText(folder / name)) << name;
    }
    EXPECT_EQ(Versions(target + "\\a.txt"), 1);
    EXPECT_EQ(Versions(target + "\\b.txt"), 1);
    EXPECT_EQ(ArchiveFiles(target), 2);
    EXPECT_FALSE(PathPresent(target + "\\DUMMY.BAK"));

    // The selection is walked in reverse order of the shell's list.
    std::vector<std::string> expected;
    for (const char* name : {"c.txt", "b.txt", "a.txt"})
        expected.push_back(std::string(name) + "\nFrom '" + folder.path() + "' to '" + target + "'");
    std::vector<std::string> seen;
    for (const auto& line : progressLines) {
        EXPECT_EQ(line.windowTitle, "Copying...");
        seen.push_back(line.text);
    }
    EXPECT_EQ(seen, expected);
    EXPECT_FALSE(kstest::FindTopLevel("#32770", "Copying..."));
}

TEST_F(FileCommand, CopiesIntoADriveRootBehindOneBackslash) {
    // The root of the test folder's own drive (the test prefix's C: under
    // Wine, which cannot map a drive letter of a test's own); the copies
    // carry names of this process and are removed at the end.
    const std::string drive = folder.path().substr(0, 2);
    const std::string unique = "kst" + std::to_string(GetCurrentProcessId());
    const std::string r = unique + "r.txt", s = unique + "s.txt";
    struct RootCleanup {
        std::vector<std::string> paths;
        ~RootCleanup() {
            for (const std::string& path : paths) DeleteFileA(path.c_str());
        }
    } cleanup{{drive + "\\" + r, drive + "\\" + s}};
    Write(r, "r");
    Write(s, "s");

    UiDriver ui;
    ui.OnDialog("Copy Files To", ChooseFolder(drive));
    ASSERT_TRUE(Run(kCopyOffset, {r, s}));
    ASSERT_TRUE(ui.Finish());

    EXPECT_EQ(ReadFileText(drive + "\\" + r), "r");
    EXPECT_EQ(ReadFileText(drive + "\\" + s), "s");
    ASSERT_FALSE(progressLines.empty());
    EXPECT_EQ(progressLines.back().text, r + "\nFrom '" + folder.path() + "' to '" + drive + "'");
}

TEST_F(FileCommand, ADestinationTooLongForAPathIsRefusedNotCut) {
    // A target folder so deep that only the short name fits behind it.
    std::string target = folder.path();
    while (target.size() < 220) {
        target += "\\deep_folder_level";
        ASSERT_TRUE(CreateDirectoryA(target.c_str(), nullptr)) << target;
    }
    const std::string longName(MAX_PATH - target.size(), 'n');
    Write(longName, "long");
    Write("b.txt", "b");
    UiDriver ui;
    ui.OnDialog("Copy Files To", ChooseFolder(target));
    ui.OnMessageBox(kCaption);
    ASSERT_TRUE(Run(kCopyOffset, {"b.txt", longName}));
    ASSERT_TRUE(ui.Finish());
    ASSERT_EQ(ui.Seen().size(), 1u);
    EXPECT_EQ(ui.Seen()[0].text, "Error!  The file " + longName + " could not be copied to " + target + "!");
    EXPECT_EQ(ReadFileText(target + "\\b.txt"), "b");  // the next file goes on
    EXPECT_EQ(ArchiveFiles(target), 0);
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((target + "\\n*").c_str(), &found);
    EXPECT_EQ(search, INVALID_HANDLE_VALUE) << found.cFileName;  // no file under a cut name
    if (search != INVALID_HANDLE_VALUE) FindClose(search);
}

TEST_F(FileCommand, AFileWhoseArchiveCannotBeFoundStaysWhereItIs) {
    // The central folder cannot be made (it would lie below a file), as
    // when it sits on a drive that is gone: moved, the file would leave
    // whatever versions it has there behind.
    Write("blocker", "a file, not a folder");
    settings.SetString("VersionsPath", folder / "blocker\\archives");
    std::string path = Write("a.txt", "a");
    UiDriver ui;
    ui.OnDialog(("Move " + path + " To").c_str(), [&](Window& dialog) {
        SendMessageA(SaveAsNameEdit(dialog), WM_SETTEXT, 0, reinterpret_cast<LPARAM>((folder / "b.txt").c_str()));
        dialog.Press(IDOK);
    });
    ui.OnMessageBox(kCaption);
    ASSERT_TRUE(Run(kMoveOffset, {"a.txt"}));
    ASSERT_TRUE(ui.Finish());
    ASSERT_EQ(ui.Seen().size(), 1u);
    EXPECT_EQ(ui.Seen()[0].text, "Can't create Keepsake directory!");
    EXPECT_TRUE(PathPresent(path));
    EXPECT_FALSE(PathPresent(folder / "b.txt"));
}

TEST_F(FileCommand, MovingIntoAFolderThatHoldsAFileAsksBeforeReplacingIt) {
    std::string target = folder / "target";
    ASSERT_TRUE(CreateDirectoryA(target.c_str(), nullptr));
    ASSERT_TRUE(kstest::WriteFileText(target + "\\p.txt", "already there"));
    Archived("p.txt");
    Archived("q.txt");

    // No skips the file that is there; the other one moves.
    UiDriver ui;
    ui.OnDialog("Move Files To", ChooseFolder(target));
    ui.OnMessageBox(kCaption, [](Window& box) { box.Press(IDNO); });
    ASSERT_TRUE(Run(kMoveOffset, {"p.txt", "q.txt"}));
    ASSERT_TRUE(ui.Finish());
    ASSERT_EQ(ui.Seen().size(), 1u);
    EXPECT_EQ(ui.Seen()[0].text,
              target + "\\p.txt\nThis file already exists.\n\nReplace existing file and all associated versions?");
    EXPECT_EQ(ui.Seen()[0].buttons, (std::vector<int>{IDYES, IDNO, IDCANCEL}));
    EXPECT_EQ(ReadFileText(target + "\\p.txt"), "already there");
    EXPECT_EQ(Versions(folder / "p.txt"), 1);
    EXPECT_FALSE(PathPresent(folder / "q.txt"));
    EXPECT_EQ(Versions(target + "\\q.txt"), 1);
}

TEST_F(FileCommand, CancelAtAReplaceQuestionStopsTheRemainingFiles) {
    std::string target = folder / "target";
    ASSERT_TRUE(CreateDirectoryA(target.c_str(), nullptr));
    for (const char* name : {"p.txt", "q.txt"}) {
        ASSERT_TRUE(kstest::WriteFileText(target + "\\" + name, "already there"));
        Archived(name);
    }
    UiDriver ui;
    ui.OnDialog("Copy Files To", ChooseFolder(target));
    ui.OnMessageBox(kCaption, [](Window& box) { box.Press(IDCANCEL); });
    ASSERT_TRUE(Run(kCopyOffset, {"p.txt", "q.txt"}));
    ASSERT_TRUE(ui.Finish());
    EXPECT_EQ(ui.Seen().size(), 1u);  // no question about the second file
    EXPECT_EQ(ReadFileText(target + "\\p.txt"), "already there");
    EXPECT_EQ(ReadFileText(target + "\\q.txt"), "already there");
    EXPECT_EQ(ArchiveFiles(target), 0);
}

TEST_F(FileCommand, DeletesOneFileWithItsArchiveOnlyAfterYes) {
    std::string path = Archived("gone.txt");
    for (int answer : {IDNO, IDYES}) {
        UiDriver ui;
        ui.OnMessageBox(kCaption, [answer](Window& box) { box.Press(answer); });
        ASSERT_TRUE(Run(kDeleteOffset, {"gone.txt"}));
        ASSERT_TRUE(ui.Finish());
        ASSERT_EQ(ui.Seen().size(), 1u);
        EXPECT_EQ(ui.Seen()[0].text, "Are you sure you want to delete " + path + " and all its associated versions?");
        EXPECT_EQ(ui.Seen()[0].icon, static_cast<UINT>(MB_ICONEXCLAMATION));
        EXPECT_EQ(ui.Seen()[0].buttons, (std::vector<int>{IDYES, IDNO}));
        EXPECT_EQ(PathPresent(path), answer == IDNO);
        EXPECT_EQ(ArchiveFiles(folder.path()), answer == IDNO ? 1 : 0);
    }
    EXPECT_TRUE(progressLines.empty());
}

TEST_F(FileCommand, DeletesFourFilesAndTheirArchivesWithProgress) {
    const std::vector<std::string> names = {"w.txt", "x.txt", "y.txt", "z.txt"};
    Archived("w.txt");
    Archived("x.txt");
    Archived("y.txt");
    Write("z.txt", "never versioned");
    UiDriver ui;
    ui.OnMessageBox(kCaption, [](Window& box) { box.Press(IDYES); });
    ASSERT_TRUE(Run(kDeleteOffset, names));
    ASSERT_TRUE(ui.Finish());
    ASSERT_EQ(ui.Seen().size(), 1u);
    EXPECT_EQ(ui.Seen()[0].text, "Are you sure you want to delete these 4 files and all their associated versions?");
    for (const std::string& name : names) EXPECT_FALSE(PathPresent(folder / name)) << name;
    EXPECT_EQ(ArchiveFiles(folder.path()), 0);
    ASSERT_EQ(progressLines.size(), 4u);
    EXPECT_EQ(progressLines[0].windowTitle, "Deleting...");
    EXPECT_EQ(progressLines[0].text, "Deleting " + (folder / "z.txt"));
}

// The common dialog's question before an existing file is replaced is the
// only one a single move or copy asks about the destination file.
TEST_F(FileCommand, OneFileCopyAsksBeforeReplacingAnExistingFile) {
    std::string from = Archived("source.txt");
    std::string existing = Write("existing.txt", "keep me");
    std::string question;
    UiDriver ui;
    ui.OnDialog(("Copy " + from + " To").c_str(), [&](Window& dialog) {
        SendMessageA(SaveAsNameEdit(dialog), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(existing.c_str()));
        dialog.Press(IDOK);
        // The question is a message box the dialog owns.
        HWND box = nullptr;
        kstest::WaitFor([&] {
            box = FindOwnedWindow(dialog.handle());
            return box != nullptr;
        }, 5000);
        ASSERT_TRUE(box) << "no question before replacing " << existing;
        question = Window(box).MessageText();
        Window(box).Press(IDNO);
        kstest::WaitUntilGone(box);
        dialog.Cancel();
    });
    ASSERT_TRUE(Run(kCopyOffset, {"source.txt"}));
    ASSERT_TRUE(ui.Finish());
    EXPECT_NE(question.find("already exists"), std::string::npos) << question;
    EXPECT_EQ(ReadFileText(existing), "keep me");
    EXPECT_EQ(Versions(existing), 0);
}

// The one-file dialog offers a single file type, "SAME TYPE": its list
// of types ends where it should, with nothing read beyond it.
TEST_F(FileCommand, TheSaveAsDialogOffersOneFileType) {
    std::string from = Archived("source.txt");
    std::vector<std::string> types;
    UiDriver ui;
    ui.OnDialog(("Move " + from + " To").c_str(), [&](Window& dialog) {
        HWND combo = dialog.Control(kFileTypeBox);
        int count = static_cast<int>(SendMessageA(combo, CB_GETCOUNT, 0, 0));
        for (int i = 0; i < count; ++i) {
            char text[MAX_PATH] = "";
            SendMessageA(combo, CB_GETLBTEXT, i, reinterpret_cast<LPARAM>(text));
            types.push_back(text);
        }
        dialog.Cancel();
    });
    ASSERT_TRUE(Run(kMoveOffset, {"source.txt"}));
    ASSERT_TRUE(ui.Finish());
    EXPECT_EQ(types, std::vector<std::string>{"SAME TYPE"});
}

// The file dialogs start in the folder the command was invoked from.
TEST_F(FileCommand, TheFolderChooserStartsWhereTheCommandWasInvoked) {
    Archived("a.txt");
    Archived("b.txt");
    std::string start = folder / "start here";
    ASSERT_TRUE(CreateDirectoryA(start.c_str(), nullptr));
    std::string shown;
    UiDriver ui;
    ui.OnDialog("Copy Files To", [&](Window& dialog) {
        shown = dialog.Text(kCurrentFolder);
        dialog.Cancel();
    });
    ASSERT_TRUE(Run(kCopyOffset, {"a.txt", "b.txt"}, false, start));
    ASSERT_TRUE(ui.Finish());
    EXPECT_EQ(_stricmp(shown.c_str(), start.c_str()), 0) << shown;
}

// Cancel in the progress window stops move, copy and delete before the
// next file; what was done stays done.
TEST_F(FileCommand, CancelInTheProgressWindowStopsBeforeTheNextFile) {
    const std::vector<std::string> names = {"p.txt", "q.txt", "r.txt"};
    for (UINT offset : {kMoveOffset, kCopyOffset, kDeleteOffset}) {
        kstest::TempFolder target(folder.path());
        for (const std::string& name : names) Archived(name);
        UiDriver ui;
        if (offset == kDeleteOffset)
            ui.OnMessageBox(kCaption, [](Window& box) { box.Press(IDYES); });
        else
            ui.OnDialog(offset == kMoveOffset ? "Move Files To" : "Copy Files To", ChooseFolder(target.path()));
        ASSERT_TRUE(Run(offset, names, true));
        ASSERT_TRUE(ui.Finish());
        ASSERT_EQ(progressLines.size(), 1u) << "offset " << offset;

        // The list runs in reverse: r.txt is the one file handled.
        EXPECT_EQ(PathPresent(folder / "r.txt"), offset == kCopyOffset) << "offset " << offset;
        EXPECT_EQ(PathPresent(target / "r.txt"), offset != kDeleteOffset) << "offset " << offset;
        for (const char* name : {"p.txt", "q.txt"}) {
            EXPECT_TRUE(PathPresent(folder / name)) << name << " offset " << offset;
            EXPECT_EQ(Versions(folder / name), 1) << name << " offset " << offset;
            EXPECT_FALSE(PathPresent(target / name)) << name << " offset " << offset;
        }
        for (const std::string& name : names) DeleteFileA((folder / name).c_str());
        for (int i = 0; i < 2; ++i) {
            WIN32_FIND_DATAA found;
            HANDLE search = FindFirstFileA((folder / "*.ks").c_str(), &found);
            if (search == INVALID_HANDLE_VALUE) break;
            do DeleteFileA((folder / found.cFileName).c_str());
            while (FindNextFileA(search, &found));
            FindClose(search);
        }
    }
}

// Deleting a file whose archive has no reachable place would leave its
// versions behind, to be taken up later by an unrelated file of the same
// name: the file stays, and the user hears why once.
TEST_F(FileCommand, DeleteKeepsAFileWhoseArchiveCannotBeFound) {
    Write("blocker", "a file, not a folder");
    settings.SetString("VersionsPath", folder / "blocker\\archives");
    std::string path = Write("a.txt", "a");
    UiDriver ui;
    ui.OnMessageBox(kCaption, [](Window& box) { box.Press(IDYES); });
    ui.OnMessageBox(kCaption);
    ASSERT_TRUE(Run(kDeleteOffset, {"a.txt"}));
    ASSERT_TRUE(ui.Finish());
    ASSERT_EQ(ui.Seen().size(), 2u);
    EXPECT_EQ(ui.Seen()[1].text, "Can't create Keepsake directory!");
    EXPECT_EQ(ReadFileText(path), "a");
}

// While another program saves into the archive, Delete neither removes
// the archive under it nor the file without its archive.
TEST_F(FileCommand, DeleteLeavesAFileWhoseArchiveIsBeingWritten) {
    std::string path = Archived("busy.txt");
    ArchiveContext context;
    ASSERT_TRUE(context.Resolve(path.c_str(), false, nullptr));
    kstest::ReservationHolder writer(context.archivePath);
    ASSERT_TRUE(writer.held());
    UiDriver ui;
    ui.OnMessageBox(kCaption, [](Window& box) { box.Press(IDYES); });
    ui.OnMessageBox(kCaption);
    ASSERT_TRUE(Run(kDeleteOffset, {"busy.txt"}));
    ASSERT_TRUE(ui.Finish());
    ASSERT_EQ(ui.Seen().size(), 2u);
    EXPECT_EQ(ui.Seen()[1].text, "busy.txt was not deleted: another program is saving a version of it.  Nothing was "
                                 "changed; try again in a moment.");
    writer.Release();
    EXPECT_EQ(ReadFileText(path), "content of busy.txt");
    EXPECT_EQ(Versions(path), 1);
}

// A file that another program holds open cannot be deleted: its archive
// stays with it, and the user hears so.
TEST_F(FileCommand, DeleteKeepsTheArchiveOfAFileThatCannotGo) {
    std::string path = Archived("open.txt");
    HANDLE holder = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(holder, INVALID_HANDLE_VALUE);
    UiDriver ui;
    ui.OnMessageBox(kCaption, [](Window& box) { box.Press(IDYES); });
    ui.OnMessageBox(kCaption);
    ASSERT_TRUE(Run(kDeleteOffset, {"open.txt"}));
    ASSERT_TRUE(ui.Finish());
    CloseHandle(holder);
    ASSERT_EQ(ui.Seen().size(), 2u);
    EXPECT_EQ(ui.Seen()[1].text, "open.txt could not be deleted (another program may have it open, or it is "
                                 "read-only).  It and its versions were left as they were.");
    EXPECT_EQ(ReadFileText(path), "content of open.txt");
    EXPECT_EQ(Versions(path), 1);
}

}  // namespace
