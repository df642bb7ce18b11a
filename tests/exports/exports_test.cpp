// keepshel's plain exports called the way another program calls them:
// keepshel.dll loaded with LoadLibrary, each function looked up by its
// undecorated name, real dialogs driven by the UI driver.
#include <gtest/gtest.h>

#include <windows.h>

#include <cstdint>
#include <string>

#include "reservation_holder.h"
#include "test_helpers.h"
#include "ui_driver.h"

namespace {

using kstest::UiDriver;
using kstest::Window;

using ArchiveExport = int(WINAPI*)(HWND owner, const char* path);
using InfoExport = int(WINAPI*)(const char* path, int32_t* facts);
using RetrieveExport = int(WINAPI*)(HWND owner, const char* path);
using RetrieveExExport = int(WINAPI*)(HWND owner, const char* path, const char* target);

constexpr char kCaption[] = "Keepsake (TM)";
constexpr DWORD kDialogCallTimeoutMs = 20000;
constexpr int kCommentBox = 1004;  // the comment of the Version Properties dialog
constexpr int kVersionList = 1038;  // the Retrieve Version dialog's list and button
constexpr int kRetrieveButton = 1041;
constexpr int kNumberColumn = 1;  // the list's "#" column

struct Info {
    int result;
    int32_t exists;
    int32_t count;
};

class Exports : public ::testing::Test {
protected:
    static void SetUpTestSuite() { library_ = LoadLibraryA("keepshel.dll"); }
    static void TearDownTestSuite() {
        if (library_) FreeLibrary(library_);
        library_ = nullptr;
    }

    void SetUp() override {
        ASSERT_TRUE(library_) << "keepshel.dll did not load: " << GetLastError();
        archive_ = Find<ArchiveExport>("KSArchive");
        info_ = Find<InfoExport>("KSInfo");
        retrieve_ = Find<RetrieveExport>("KSRetrieve");
        retrieveEx_ = Find<RetrieveExExport>("KSRetrieveEx");
        ASSERT_TRUE(archive_ && info_ && retrieve_ && retrieveEx_);
        ASSERT_TRUE(GetProcAddress(library_, "KSControlPanel"));
    }

    // An export by its plain name, through the generic function type.
    template <typename Function>
    static Function Find(const char* name) {
        return reinterpret_cast<Function>(reinterpret_cast<void (*)()>(GetProcAddress(library_, name)));
    }

    std::string Write(const std::string& name, const std::string& content) {
        std::string path = folder / name;
        EXPECT_TRUE(kstest::WriteFileText(path, content));
        return path;
    }

    // KSArchive on a thread of its own, so a window it opens cannot hang
    // the test; -99 when it did not return in time.
    int Archive(const std::string& path) {
        int result = -99;
        EXPECT_TRUE(kstest::CallWithin(kDialogCallTimeoutMs, [&] { result = archive_(nullptr, path.c_str()); }));
        return result;
    }

    // Saves each content in turn as the file's next version, through the
    // export and its dialogs.
    std::string SavedVersions(const std::string& name, std::initializer_list<const char*> contents) {
        std::string path;
        bool first = true;
        for (const char* content : contents) {
            path = Write(name, content);
            UiDriver ui;
            ui.OnDialog(((first ? "New Version - " : "Version Properties - ") + name).c_str(),
                        [](Window& dialog) { dialog.Press(IDOK); });
            EXPECT_EQ(Archive(path), first ? 0 : 1);
            EXPECT_TRUE(ui.Finish());
            first = false;
        }
        return path;
    }

    Info QueryInfo(const std::string& path) {
        Info info{-99, -99, -99};
        int32_t facts[2] = {-99, -99};
        info.result = info_(path.c_str(), facts);
        info.exists = facts[0];
        info.count = facts[1];
        return info;
    }

    // The path's archive file: the only *.ks file of the test folder.
    std::string ArchivePath() {
        WIN32_FIND_DATAA found;
        HANDLE search = FindFirstFileA((folder / "*.ks").c_str(), &found);
        if (search == INVALID_HANDLE_VALUE) return "";
        FindClose(search);
        return folder / found.cFileName;
    }

    kstest::SettingsScope settings;
    kstest::TempFolder folder;
    ArchiveExport archive_ = nullptr;
    InfoExport info_ = nullptr;
    RetrieveExport retrieve_ = nullptr;
    RetrieveExExport retrieveEx_ = nullptr;

private:
    static HMODULE library_;
};
HMODULE Exports::library_ = nullptr;

TEST_F(Exports, ArchiveSavesAFirstAndThenAFurtherVersion) {
    std::string path = Write("report.txt", "first");
    EXPECT_EQ(QueryInfo(path).exists, 0);
    {
        UiDriver ui;
        ui.OnDialog("New Version - report.txt", [](Window& dialog) { dialog.Press(IDOK); });
        EXPECT_EQ(Archive(path), 0);  // the engine's status: success
        ASSERT_TRUE(ui.Finish());
    }
    Info info = QueryInfo(path);
    EXPECT_EQ(info.exists, 1);
    EXPECT_EQ(info.count, 1);
    EXPECT_EQ(info.result, 1);

    Write("report.txt", "second, and longer than the first");
    std::string comment;
    UiDriver ui;
    ui.OnDialog("Version Properties - report.txt", [&](Window& dialog) {
        comment = dialog.Text(kCommentBox);
        dialog.Press(IDOK);
    });
    EXPECT_EQ(Archive(path), 1);  // saved
    ASSERT_TRUE(ui.Finish());
    EXPECT_EQ(comment, "Version 2");
    EXPECT_EQ(QueryInfo(path).count, 2);
}

TEST_F(Exports, ArchiveAnswersOkAfterARefusalWithoutADialog) {
    std::string empty = Write("empty.txt", "");
    std::string same = SavedVersions("same.txt", {"unchanged"});
    struct Case {
        std::string path;
        std::string text;
    };
    // Both name the file without its folder.
    const Case cases[] = {
        {empty, "empty.txt is a zero length file."},
        {same, "same.txt\nWorking file is not newer than latest version."},
    };
    for (const Case& c : cases) {
        UiDriver ui;
        ui.OnMessageBox(kCaption);
        EXPECT_EQ(Archive(c.path), IDOK) << c.path;  // returns without waiting for a dialog
        ASSERT_TRUE(ui.Finish());
        ASSERT_EQ(ui.Seen().size(), 1u);
        EXPECT_EQ(ui.Seen()[0].text, c.text);
        EXPECT_EQ(ui.Seen()[0].icon, static_cast<UINT>(MB_ICONSTOP));
        EXPECT_EQ(ui.Seen()[0].buttons, std::vector<int>{IDOK});
    }
    EXPECT_EQ(QueryInfo(empty).exists, 0);
    EXPECT_EQ(QueryInfo(same).count, 1);

    // No place for an archive (the central folder would lie below a file):
    // the message of the refusal, its OK, and no dialog either.
    Write("blocker", "a file, not a folder");
    settings.SetString("VersionsPath", folder / "blocker\\archives");
    UiDriver ui;
    ui.OnMessageBox(kCaption);
    EXPECT_EQ(Archive(Write("new.txt", "new")), IDOK);
    ASSERT_TRUE(ui.Finish());
    ASSERT_EQ(ui.Seen().size(), 1u);
    EXPECT_EQ(ui.Seen()[0].text, "Can't create Keepsake directory!");
}

TEST_F(Exports, ArchiveCancelledInTheDialogAnswersCancel) {
    std::string path = Write("draft.txt", "draft");
    UiDriver ui;
    ui.OnDialog("New Version - draft.txt", [](Window& dialog) { dialog.Cancel(); });
    EXPECT_EQ(Archive(path), IDCANCEL);
    ASSERT_TRUE(ui.Finish());
    EXPECT_EQ(QueryInfo(path).exists, 0);
}

TEST_F(Exports, InfoTellsArchiveAndCountWithoutShowingAnything) {
    std::string plain = Write("plain.txt", "no archive");
    Info info = QueryInfo(plain);
    EXPECT_EQ(info.exists, 0);
    EXPECT_EQ(info.count, 0);
    EXPECT_EQ(info.result, 0);

    std::string damaged = SavedVersions("damaged.txt", {"content"});
    std::string archivePath = ArchivePath();
    ASSERT_FALSE(archivePath.empty());
    ASSERT_TRUE(kstest::WriteFileText(archivePath, std::string(600, 'x')));
    info = QueryInfo(damaged);
    EXPECT_EQ(info.exists, 1);
    EXPECT_EQ(info.count, -1);
    EXPECT_EQ(info.result, -1);

    // A path too long for any archive, and no place for the facts.
    std::string tooLong = folder / std::string(300, 'l');
    info = QueryInfo(tooLong);
    EXPECT_EQ(info.exists, 0);
    EXPECT_EQ(info.result, 0);
    EXPECT_EQ(info_(plain.c_str(), nullptr), 0);
}

TEST_F(Exports, RetrieveOpensOneHistoryWindowPerFileName) {
    std::string path = SavedVersions("plan.txt", {"v1"});
    int second = -99;
    UiDriver ui;
    ui.OnDialog("Version History - plan.txt", [&](Window& sheet) {
        second = retrieve_(nullptr, path.c_str());  // answers at once: the window is open
        sheet.Cancel();
    });
    int first = -99;
    ASSERT_TRUE(kstest::CallWithin(kDialogCallTimeoutMs, [&] { first = retrieve_(nullptr, path.c_str()); }));
    ASSERT_TRUE(ui.Finish());
    EXPECT_EQ(second, 2);
    EXPECT_NE(first, 2);
}

TEST_F(Exports, RetrieveExWritesTheSelectedVersionToTheGivenPathWithoutAsking) {
    std::string path = SavedVersions("plan.txt", {"version one", "version two, longer"});
    std::string target = folder / "out.txt";
    UiDriver ui;
    ui.OnDialog("Retrieve Version", [](Window& dialog) {
        kstest::SelectListViewRows(dialog.Control(kVersionList), kNumberColumn, {"1"});
        dialog.Press(kRetrieveButton);
    });
    int result = -99;
    // A Retrieve As question would keep the call from returning in time.
    ASSERT_TRUE(kstest::CallWithin(20000, [&] { result = retrieveEx_(nullptr, path.c_str(), target.c_str()); }));
    ASSERT_TRUE(ui.Finish());
    EXPECT_EQ(result, IDOK);
    EXPECT_EQ(kstest::ReadFileText(target), "version one");

    // An empty target names no file: the user is asked for one.
    bool asked = false;
    UiDriver again;
    again.OnDialog("Retrieve Version", [](Window& dialog) {
        kstest::SelectListViewRows(dialog.Control(kVersionList), kNumberColumn, {"2"});
        dialog.Press(kRetrieveButton);
    });
    again.OnDialog("Save As", [&](Window& retrieveAs) {
        asked = true;
        retrieveAs.Cancel();
    });
    ASSERT_TRUE(kstest::CallWithin(20000, [&] { result = retrieveEx_(nullptr, path.c_str(), ""); }));
    ASSERT_TRUE(again.Finish());
    EXPECT_TRUE(asked);
}

// A save that does not happen is told, with the file's name and a reason
// the user can act on, and never answers 0 (a first version saved) or 1
// (a further one).
TEST_F(Exports, ArchiveTellsWhyASaveDidNotHappen) {
    // Another program saves into the archive for longer than a save waits.
    std::string busy = SavedVersions("busy.txt", {"one"});
    Write("busy.txt", "two, held up");
    {
        kstest::ReservationHolder other(ArchivePath());
        ASSERT_TRUE(other.held());
        UiDriver ui;
        ui.OnDialog("Version Properties - busy.txt", [](Window& dialog) { dialog.Press(IDOK); });
        ui.OnMessageBox(kCaption);
        EXPECT_EQ(Archive(busy), 3);
        ASSERT_TRUE(ui.Finish());
        ASSERT_EQ(ui.Seen().size(), 1u);
        EXPECT_EQ(ui.Seen()[0].text,
                  "busy.txt was not saved: another program is saving a version of it; try again in a moment.");
        EXPECT_EQ(ui.Seen()[0].icon, static_cast<UINT>(MB_ICONSTOP));
    }
    EXPECT_EQ(QueryInfo(busy).count, 1);

    // Held open by another program that lets no one read it: not "not
    // newer", and told before any dialog.
    HANDLE holder = CreateFileA(busy.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(holder, INVALID_HANDLE_VALUE);
    UiDriver ui;
    ui.OnMessageBox(kCaption);
    EXPECT_EQ(Archive(busy), 104);
    ASSERT_TRUE(ui.Finish());
    CloseHandle(holder);
    ASSERT_EQ(ui.Seen().size(), 1u);
    EXPECT_EQ(ui.Seen()[0].text, "busy.txt was not saved: another program has it open and lets no one read it; close "
                                 "it there and try again.");

    // An archive handed over as the file to save is no working file.
    std::string archive = ArchivePath();
    std::string archiveName = archive.substr(archive.rfind('\\') + 1);
    UiDriver refused;
    refused.OnMessageBox(kCaption);
    int answer = Archive(archive);
    EXPECT_NE(answer, 0);
    EXPECT_NE(answer, 1);
    ASSERT_TRUE(refused.Finish());
    ASSERT_EQ(refused.Seen().size(), 1u);
    EXPECT_EQ(refused.Seen()[0].text, archiveName + " was not saved: it is a Keepsake archive.");
    EXPECT_EQ(QueryInfo(busy).count, 1);
}

// Files far above what fits in memory are offered a version: the engine
// streams them. A file of exactly 4 GiB is no empty file either.
TEST_F(Exports, ArchiveOffersAVersionOfAFileOfGigabytes) {
    const LONGLONG kGiB = 1024LL * 1024 * 1024;
    for (LONGLONG size : {5 * kGiB / 2, 4 * kGiB}) {
        std::string path = folder / "big.bin";
        ASSERT_TRUE(kstest::WriteSparseFile(path, size));
        UiDriver ui;
        ui.OnDialog("New Version - big.bin", [](Window& dialog) { dialog.Cancel(); });
        EXPECT_EQ(Archive(path), IDCANCEL) << size;
        ASSERT_TRUE(ui.Finish()) << "the dialog, not a refusal: " << size;
        EXPECT_EQ(QueryInfo(path).exists, 0);
        DeleteFileA(path.c_str());
    }
}

// A damaged archive is named, and may be set aside (renamed beside
// itself, never deleted) so the file starts a new one.
TEST_F(Exports, ADamagedArchiveIsToldAndCanBeSetAside) {
    std::string path = SavedVersions("notes.txt", {"first"});
    std::string archive = ArchivePath();
    std::string damaged = archive.substr(0, archive.size() - 3) + ".damaged.ks";
    ASSERT_TRUE(kstest::WriteFileText(archive, std::string(600, 'x')));
    Write("notes.txt", "second");

    for (int answer : {IDNO, IDYES}) {
        UiDriver ui;
        ui.OnMessageBox(kCaption, [answer](Window& box) { box.Press(answer); });
        if (answer == IDYES) ui.OnDialog("New Version - notes.txt", [](Window& dialog) { dialog.Press(IDOK); });
        int result = Archive(path);
        ASSERT_TRUE(ui.Finish());
        ASSERT_EQ(ui.Seen().size(), 1u);
        EXPECT_EQ(ui.Seen()[0].text, "The archive of notes.txt is damaged, so no version can be added to it.\n\nSet "
                                     "the damaged archive aside (it is kept as " + damaged +
                                     ") and start a new archive with this version?");
        EXPECT_EQ(ui.Seen()[0].buttons, (std::vector<int>{IDYES, IDNO}));
        if (answer == IDNO) {
            EXPECT_EQ(result, 2);
            EXPECT_EQ(kstest::ReadFileText(archive), std::string(600, 'x')) << "left as it was";
        } else {
            EXPECT_EQ(result, 0) << "a first version of a new archive";
        }
    }
    EXPECT_EQ(kstest::ReadFileText(damaged), std::string(600, 'x')) << "kept, under its new name";
    Info info = QueryInfo(path);
    EXPECT_EQ(info.exists, 1);
    EXPECT_EQ(info.count, 1);
}

// A path the system cannot give an archive is refused with the real
// reason, once; the history windows then stay shut instead of opening
// one titled without a name.
TEST_F(Exports, RefusedPathsTellTheRealReasonAndOpenNoWindow) {
    std::string missing = folder / "no such folder\\a.txt";
    const std::string text = missing + "\nThe folder of this file does not exist.";
    {
        UiDriver ui;
        ui.OnMessageBox(kCaption);
        EXPECT_EQ(Archive(missing), IDOK);
        ASSERT_TRUE(ui.Finish());
        ASSERT_EQ(ui.Seen().size(), 1u);
        EXPECT_EQ(ui.Seen()[0].text, text);
    }
    for (bool ex : {false, true}) {
        UiDriver ui;
        ui.OnMessageBox(kCaption);
        int result = -99;
        ASSERT_TRUE(kstest::CallWithin(kDialogCallTimeoutMs, [&] {
            result = ex ? retrieveEx_(nullptr, missing.c_str(), nullptr) : retrieve_(nullptr, missing.c_str());
        })) << "a window opened after the refusal";
        ASSERT_TRUE(ui.Finish());
        EXPECT_EQ(result, -1) << ex;
        ASSERT_EQ(ui.Seen().size(), 1u) << ex;
        EXPECT_EQ(ui.Seen()[0].text, text);
    }
}

}  // namespace
