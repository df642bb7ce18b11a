// The operations on one file's archive, through the real engine DLL, with
// real files and real message boxes.
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "archive/archive_context.h"
#include "archive/paths.h"
#include "archive/refusals.h"
#include "archive/version_time.h"
#include "reservation_holder.h"
#include "test_helpers.h"
#include "ui_driver.h"

namespace {

int CountKsTempFiles() {
    char folder[MAX_PATH];
    GetTempPathA(sizeof folder, folder);
    WIN32_FIND_DATAA data;
    HANDLE search = FindFirstFileA((std::string(folder) + "KS*.tmp").c_str(), &data);
    if (search == INVALID_HANDLE_VALUE) return 0;
    int count = 0;
    do ++count;
    while (FindNextFileA(search, &data));
    FindClose(search);
    return count;
}

// The volume and file index of a file: equal for two names of one file, and
// kept by a rename.
std::string FileIdentity(const std::string& path) {
    HANDLE file = CreateFileA(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return "<missing>";
    BY_HANDLE_FILE_INFORMATION info{};
    GetFileInformationByHandle(file, &info);
    CloseHandle(file);
    return std::to_string(info.dwVolumeSerialNumber) + ":" + std::to_string(info.nFileIndexHigh) + ":" +
           std::to_string(info.nFileIndexLow);
}

struct Versions {
    std::vector<VersionEntry> entries;
    int count = -2;
};

Versions List(const ArchiveContext& context) {
    Versions result;
    VersionEntry* entries = nullptr;
    result.count = context.ListVersions(&entries);
    if (result.count > 0) result.entries.assign(entries, entries + result.count);
    delete[] entries;
    return result;
}

class Operations : public ::testing::Test {
protected:
    void SetUp() override {
        kstest::UseOwnResources();
        file = folder / "report.doc";
        ASSERT_TRUE(kstest::WriteFileText(file, "first content"));
    }

    // A file with `count` versions, contents "v1", "v2", ...
    ArchiveContext FileWithVersions(int count, int permanentFirst = 0) {
        ArchiveContext context;
        EXPECT_TRUE(context.Resolve(file.c_str(), false, nullptr));
        EXPECT_TRUE(kstest::WriteFileText(file, "v1"));
        EXPECT_EQ(context.SaveFirstVersion(permanentFirst, 10, 0, 1), 0);
        for (int i = 2; i <= count; ++i) {
            EXPECT_TRUE(kstest::WriteFileText(file, "v" + std::to_string(i)));
            EXPECT_EQ(context.SaveNextVersion(("comment " + std::to_string(i)).c_str(), 0), 1);
        }
        return context;
    }

    kstest::SettingsScope settings;
    kstest::TempFolder folder;
    std::string file;
};

// Puts "TMP" and "TEMP" back as the test found them.
class TempVariablesScope {
public:
    TempVariablesScope() {
        GetEnvironmentVariableA("TMP", tmp_, sizeof tmp_);
        GetEnvironmentVariableA("TEMP", temp_, sizeof temp_);
    }
    ~TempVariablesScope() {
        SetEnvironmentVariableA("TMP", tmp_[0] ? tmp_ : nullptr);
        SetEnvironmentVariableA("TEMP", temp_[0] ? temp_ : nullptr);
    }

private:
    char tmp_[MAX_PATH] = "", temp_[MAX_PATH] = "";
};

TEST_F(Operations, FirstAndNextSavesOfAReadOnlyFileRestoreTheEnvironment) {
    TempVariablesScope restore;
    kstest::TempFolder temporary;
    SetEnvironmentVariableA("TMP", temporary.path().c_str());
    SetEnvironmentVariableA("TEMP", nullptr);
    ASSERT_TRUE(SetFileAttributesA(file.c_str(), FILE_ATTRIBUTE_READONLY));
    int tempFilesBefore = CountKsTempFiles();

    ArchiveContext context;
    ASSERT_TRUE(context.Resolve(file.c_str(), false, nullptr));
    EXPECT_TRUE(context.WorkingFileIsNewer()) << "no archive yet";
    EXPECT_EQ(context.SaveFirstVersion(1, 5, 0, 1), 0);
    EXPECT_TRUE(context.ArchiveExists());
    EXPECT_FALSE(context.WorkingFileIsNewer()) << "unchanged since the save";
    EXPECT_EQ(GetFileAttributesA(file.c_str()) & FILE_ATTRIBUTE_READONLY, static_cast<DWORD>(FILE_ATTRIBUTE_READONLY));

    char value[MAX_PATH];
    EXPECT_EQ(GetEnvironmentVariableA("TMP", value, sizeof value), temporary.path().size());
    EXPECT_EQ(std::string(value), temporary.path());
    EXPECT_EQ(GetEnvironmentVariableA("TEMP", value, sizeof value), 0u) << "an unset variable stays unset";
    EXPECT_EQ(CountKsTempFiles(), tempFilesBefore) << "the temporary copy is gone";

    SetFileAttributesA(file.c_str(), FILE_ATTRIBUTE_NORMAL);
    ASSERT_TRUE(kstest::WriteFileText(file, "second content"));
    EXPECT_TRUE(context.WorkingFileIsNewer());
    EXPECT_EQ(context.SaveNextVersion(std::string(300, 'c').c_str(), 0), 1);
    EXPECT_EQ(CountKsTempFiles(), tempFilesBefore);

    EXPECT_EQ(context.VersionCount(), 2);
    EXPECT_EQ(context.TemporaryVersionCount(), 1);
    EXPECT_EQ(context.NextVersionNumber(), 3);
    EXPECT_EQ(context.MaxTemporaryVersions(), 5);
    EXPECT_EQ(context.IsCompressed(), 0);
    Versions versions = List(context);
    ASSERT_EQ(versions.count, 2);
    EXPECT_EQ(versions.entries[0].number, 1);
    EXPECT_EQ(versions.entries[0].permanent, 1);
    EXPECT_EQ(versions.entries[1].number, 2);
    EXPECT_EQ(strlen(versions.entries[1].comment), 128u) << "comments are cut at 128 characters";
    EXPECT_STREQ(versions.entries[1].updatedBy, context.userName);
    EXPECT_NE(versions.entries[1].dateTime[0], '\0');
}

TEST_F(Operations, QueriesWithoutAnArchive) {
    ArchiveContext context;
    ASSERT_TRUE(context.Resolve(file.c_str(), false, nullptr));
    EXPECT_EQ(context.VersionCount(), -1);
    EXPECT_EQ(context.TemporaryVersionCount(), -1);
    EXPECT_EQ(context.NextVersionNumber(), -1);
    EXPECT_EQ(context.IsCompressed(), 0);
    EXPECT_EQ(context.MaxTemporaryVersions(), 10);
    EXPECT_EQ(List(context).count, -1);
    EXPECT_EQ(context.SaveNextVersion("x", 0), 0) << "no archive to add to";
    char text[100] = "left over";
    EXPECT_EQ(context.FormatVersionTime(1, text), 0);
    EXPECT_STREQ(text, "");
    EXPECT_EQ(context.FormatVersionTime(0, text), 1) << "version 0 is the working file itself";
    EXPECT_NE(text[0], '\0');
}

TEST_F(Operations, CompressedArchiveBesideTheFileWhenSingleLocationIsOff) {
    settings.SetString("VersionsPath", folder / "central");
    ArchiveContext context;
    ASSERT_TRUE(context.Resolve(file.c_str(), false, nullptr));
    ASSERT_EQ(std::string(context.archiveFolder), folder / "central");
    EXPECT_EQ(context.SaveFirstVersion(0, 10, 1, 0), 0);
    EXPECT_STREQ(context.archiveFolder, folder.path().c_str());
    EXPECT_TRUE(kstest::PathPresent(folder / context.archiveName));
    EXPECT_EQ(context.IsCompressed(), 1);
}

TEST_F(Operations, RetrievalIsByteExact) {
    ArchiveContext context = FileWithVersions(3);
    std::string target = folder / "report(v2).doc";
    EXPECT_EQ(context.RetrieveVersion(target.c_str(), 2), 0);
    EXPECT_EQ(kstest::ReadFileText(target), "v2");
    EXPECT_NE(context.RetrieveVersion((folder / "none.doc").c_str(), 99), 0);
    EXPECT_FALSE(kstest::PathPresent(folder / "none.doc"));
}

TEST_F(Operations, PermanenceAndLimits) {
    ArchiveContext context = FileWithVersions(3);
    EXPECT_EQ(context.IsPermanent(2), 0);
    EXPECT_EQ(context.SetPermanent(2, 1), 1);
    EXPECT_EQ(context.IsPermanent(2), 1);
    EXPECT_EQ(context.TemporaryVersionCount(), 2);
    EXPECT_EQ(context.SetMaxTemporaryVersions(1), 1);
    EXPECT_EQ(context.MaxTemporaryVersions(), 1);
    // The oldest temporary versions go; the permanent one stays.
    Versions versions = List(context);
    ASSERT_EQ(versions.count, 2);
    EXPECT_EQ(versions.entries[0].number, 2);
    EXPECT_EQ(versions.entries[1].number, 3);
    // Nothing stays reserved after the updates: a further save works.
    ASSERT_TRUE(kstest::WriteFileText(file, "v4"));
    EXPECT_EQ(context.SaveNextVersion("after", 0), 1);
    EXPECT_EQ(context.SetPermanent(99, 1), 0) << "no such version";
    // With a limit of one, the save pruned version 3; version 4 is the one left.
    EXPECT_EQ(context.SetPermanent(4, 1), 1) << "a failed update gave the reservation back";
}

TEST_F(Operations, DeletingVersions) {
    ArchiveContext context = FileWithVersions(3);
    ASSERT_EQ(context.SetPermanent(2, 1), 1);

    {
        kstest::UiDriver ui;
        ui.OnMessageBox("Keepsake (TM)", [](kstest::Window& box) { box.Press(IDCANCEL); });
        EXPECT_EQ(context.DeleteVersion(2), 0);
        ASSERT_TRUE(ui.Finish());
        ASSERT_EQ(ui.Seen().size(), 1u);
        EXPECT_EQ(ui.Seen()[0].text,
                  "Version 2 of file report.doc is a permanent version!  Are you sure you really want to delete it?");
        EXPECT_EQ(ui.Seen()[0].icon, static_cast<UINT>(MB_ICONQUESTION));
        EXPECT_EQ(ui.Seen()[0].buttons, (std::vector<int>{IDYES, IDNO, IDCANCEL}));
    }
    {
        kstest::UiDriver ui;
        ui.OnMessageBox("Keepsake (TM)", [](kstest::Window& box) { box.Press(IDNO); });
        EXPECT_EQ(context.DeleteVersion(2), 1) << "No keeps the version and counts as done";
        ASSERT_TRUE(ui.Finish());
        EXPECT_EQ(context.VersionCount(), 3);
    }
    {
        kstest::UiDriver ui;
        ui.OnMessageBox("Keepsake (TM)", [](kstest::Window& box) { box.Press(IDYES); });
        EXPECT_EQ(context.DeleteVersion(2), 1);
        ASSERT_TRUE(ui.Finish());
    }
    Versions versions = List(context);
    ASSERT_EQ(versions.count, 2);
    EXPECT_EQ(versions.entries[0].number, 1);
    EXPECT_EQ(versions.entries[1].number, 3);
    EXPECT_EQ(context.NextVersionNumber(), 4) << "numbers are never reused";

    std::string target = folder / "v3.doc";
    EXPECT_EQ(context.RetrieveVersion(target.c_str(), 3), 0);
    EXPECT_EQ(kstest::ReadFileText(target), "v3") << "the other versions stay retrievable";

    EXPECT_EQ(context.DeleteVersion(1), 1);
    EXPECT_TRUE(context.ArchiveExists());
    EXPECT_EQ(context.DeleteVersion(3), 1) << "the last version goes with the archive";
    EXPECT_FALSE(context.ArchiveExists());
    EXPECT_EQ(context.DeleteArchive(), 1) << "nothing there is still done";
}

TEST_F(Operations, CopyTakesTheArchiveAlong) {
    ArchiveContext context = FileWithVersions(2);
    CreateDirectoryA((folder / "copies").c_str(), nullptr);
    std::string target = folder / "copies\\report.doc";
    EXPECT_EQ(context.CopyWithVersions(target.c_str(), true), 1);
    EXPECT_EQ(kstest::ReadFileText(target), "v2");
    EXPECT_TRUE(kstest::PathPresent(file));
    ArchiveContext copied;
    ASSERT_TRUE(copied.Resolve(target.c_str(), false, nullptr));
    EXPECT_TRUE(copied.ArchiveExists());
    EXPECT_EQ(copied.VersionCount(), 2);

    // Copying again: the file exists (2111), and without asking the archive does (2110).
    {
        kstest::UiDriver ui;
        ui.OnMessageBox("Keepsake (TM)", [](kstest::Window& box) { box.Press(IDNO); });
        EXPECT_EQ(context.CopyWithVersions(target.c_str(), true), 1) << "No skips the file";
        ASSERT_TRUE(ui.Finish());
        ASSERT_EQ(ui.Seen().size(), 1u);
        EXPECT_EQ(ui.Seen()[0].text,
                  target + "\nThis file already exists.\n\nReplace existing file and all associated versions?");
        EXPECT_EQ(ui.Seen()[0].icon, static_cast<UINT>(MB_ICONWARNING));
    }
    {
        kstest::UiDriver ui;
        ui.OnMessageBox("Keepsake (TM)", [](kstest::Window& box) { box.Press(IDCANCEL); });
        EXPECT_EQ(context.CopyWithVersions(target.c_str(), false), 0) << "Cancel";
        ASSERT_TRUE(ui.Finish());
        ASSERT_EQ(ui.Seen().size(), 1u);
        EXPECT_EQ(ui.Seen()[0].text, target + "\nAn archive for this file already exists in " + folder.path() +
                                         "\\copies.\n\nReplace existing archive?");
    }
}

TEST_F(Operations, FileWithoutArchiveIsCopiedAlone) {
    ArchiveContext context;
    ASSERT_TRUE(context.Resolve(file.c_str(), false, nullptr));
    std::string target = folder / "alone.doc";
    EXPECT_EQ(context.CopyWithVersions(target.c_str(), false), 1);
    EXPECT_EQ(kstest::ReadFileText(target), "first content");
}

TEST_F(Operations, MoveLeavesNothingBehindAndTheArchiveFollowsTheNewName) {
    ArchiveContext context = FileWithVersions(2);
    std::string oldArchive = context.archivePath;
    std::string target = folder / "renamed.doc";
    EXPECT_EQ(context.MoveWithVersions(target.c_str(), false), 1);
    EXPECT_FALSE(kstest::PathPresent(file));
    EXPECT_FALSE(kstest::PathPresent(oldArchive));
    ArchiveContext moved;
    ASSERT_TRUE(moved.Resolve(target.c_str(), false, nullptr));
    EXPECT_EQ(moved.VersionCount(), 2);
    EXPECT_EQ(kstest::ReadFileText(target), "v2");
}

TEST_F(Operations, MoveWhoseFileCopyFailsKeepsTheWorkingFileAndItsVersions) {
    ArchiveContext context = FileWithVersions(2);
    std::string target = folder / "locked.doc";
    ASSERT_TRUE(kstest::WriteFileText(target, "in the way"));
    // Held open without sharing: the file cannot be replaced.
    HANDLE blocker = CreateFileA(target.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(blocker, INVALID_HANDLE_VALUE);

    kstest::UiDriver ui;
    ui.OnMessageBox("Keepsake (TM)");
    EXPECT_EQ(context.MoveWithVersions(target.c_str(), false), 0);
    ASSERT_TRUE(ui.Finish());
    CloseHandle(blocker);
    ASSERT_EQ(ui.Seen().size(), 1u);
    EXPECT_EQ(ui.Seen()[0].text, "Error!  The file locked.doc could not be moved to " + folder.path() + "!");
    EXPECT_EQ(kstest::ReadFileText(file), "v2") << "the working file is never lost";
    EXPECT_EQ(context.VersionCount(), 2) << "nor parted from its versions";
}

TEST_F(Operations, CopyOrMoveOntoItselfLosesNothing) {
    ArchiveContext context = FileWithVersions(2);
    std::string upper = file;
    for (char& c : upper) c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
    std::string shortName = kstest::ShortPath(file);

    struct Case {
        std::string target;
        bool move;
        const char* verb;
    } cases[] = {{file, true, "moved"}, {upper, true, "moved"}, {shortName, true, "moved"}, {file, false, "copied"}};
    for (const Case& c : cases) {
        kstest::UiDriver ui;
        ui.OnMessageBox("Keepsake (TM)");
        int result = c.move ? context.MoveWithVersions(c.target.c_str(), true)
                            : context.CopyWithVersions(c.target.c_str(), true);
        EXPECT_EQ(result, 0) << c.target;
        ASSERT_TRUE(ui.Finish());
        ASSERT_EQ(ui.Seen().size(), 1u) << c.target;
        EXPECT_NE(ui.Seen()[0].text.find(std::string("could not be ") + c.verb), std::string::npos);
        EXPECT_EQ(kstest::ReadFileText(file), "v2");
        EXPECT_EQ(context.VersionCount(), 2);
    }
}

// A list that is no longer current (a second history window, a deletion
// elsewhere) asks for a number the archive does not hold: nothing goes,
// and since that version is not there, the deletion counts as done.
TEST_F(Operations, DeletingANumberThatIsNoLongerThereDeletesNothing) {
    ArchiveContext context = FileWithVersions(3);
    EXPECT_EQ(context.DeleteVersion(7), 1);
    EXPECT_EQ(context.VersionCount(), 3);
    ASSERT_EQ(context.DeleteVersion(1), 1);
    ASSERT_EQ(context.DeleteVersion(2), 1);
    ASSERT_EQ(context.VersionCount(), 1);

    // One version left: only its own number deletes the archive.
    EXPECT_EQ(context.DeleteVersion(2), 1);
    EXPECT_EQ(context.DeleteVersion(1), 1);
    EXPECT_TRUE(context.ArchiveExists());
    std::string target = folder / "kept.doc";
    EXPECT_EQ(context.RetrieveVersion(target.c_str(), 3), 0);
    EXPECT_EQ(kstest::ReadFileText(target), "v3");

    EXPECT_EQ(context.DeleteVersion(3), 1);
    EXPECT_FALSE(context.ArchiveExists());
}

// An archive that another writer has reserved is neither moved, nor
// replaced, nor deleted under it: the user is told, and files and archives
// stay as they were.
TEST_F(Operations, ReservedArchivesAreNotMovedReplacedOrDeleted) {
    ArchiveContext context = FileWithVersions(2);
    std::string archive = context.archivePath;
    std::string moved = folder / "moved.doc";
    {
        kstest::ReservationHolder other(context.archivePath);
        ASSERT_TRUE(other.held());
        kstest::UiDriver ui;
        ui.OnMessageBox("Keepsake (TM)");
        EXPECT_EQ(context.MoveWithVersions(moved.c_str(), true), 0);
        ASSERT_TRUE(ui.Finish());
        ASSERT_EQ(ui.Seen().size(), 1u);
        EXPECT_EQ(ui.Seen()[0].text, "report.doc was not moved: another program is saving a version of it or of the "
                                     "file it would replace.  Nothing was changed; try again in a moment.");
        EXPECT_EQ(ui.Seen()[0].icon, static_cast<UINT>(MB_ICONWARNING));
    }
    EXPECT_EQ(kstest::ReadFileText(file), "v2");
    EXPECT_FALSE(kstest::PathPresent(moved));
    EXPECT_EQ(context.VersionCount(), 2);

    // Copying another file over this one while its archive is reserved.
    std::string other = folder / "other.doc";
    ASSERT_TRUE(kstest::WriteFileText(other, "other"));
    ArchiveContext source;
    ASSERT_TRUE(source.Resolve(other.c_str(), false, nullptr));
    ASSERT_EQ(source.SaveFirstVersion(0, 10, 0, 1), 0);
    {
        kstest::ReservationHolder writer(context.archivePath);
        ASSERT_TRUE(writer.held());
        kstest::UiDriver ui;
        ui.OnMessageBox("Keepsake (TM)", [](kstest::Window& box) { box.Press(IDYES); });  // replace the file
        ui.OnMessageBox("Keepsake (TM)");
        EXPECT_EQ(source.CopyWithVersions(file.c_str(), true), 0);
        ASSERT_TRUE(ui.Finish());
        ASSERT_EQ(ui.Seen().size(), 2u);
        EXPECT_EQ(ui.Seen()[1].text, "other.doc was not copied: another program is saving a version of it or of the "
                                     "file it would replace.  Nothing was changed; try again in a moment.");
    }
    EXPECT_EQ(kstest::ReadFileText(file), "v2");
    EXPECT_EQ(context.VersionCount(), 2);
    EXPECT_EQ(kstest::ReadFileText(other), "other");
    EXPECT_EQ(source.VersionCount(), 1);
    EXPECT_TRUE(kstest::PathPresent(archive));
}

// Deleting a version, or the archive, while another writer holds it: the
// user hears why, and everything stays.
TEST_F(Operations, VersionsOfAReservedArchiveStay) {
    ArchiveContext context = FileWithVersions(2);
    kstest::ReservationHolder other(context.archivePath);
    ASSERT_TRUE(other.held());
    kstest::UiDriver ui;
    ui.OnMessageBox("Keepsake (TM)");
    EXPECT_EQ(context.DeleteVersion(1), 0);
    ASSERT_TRUE(ui.Finish());
    ASSERT_EQ(ui.Seen().size(), 1u);
    EXPECT_EQ(ui.Seen()[0].text, "Version 1 of report.doc was not deleted: another program is saving a version of it; "
                                 "try again in a moment.");
    EXPECT_EQ(context.DeleteArchive(), 0);
    other.Release();
    EXPECT_EQ(context.VersionCount(), 2);

    // Nor the last version, which would take the archive file with it.
    ASSERT_EQ(context.DeleteVersion(2), 1);
    kstest::ReservationHolder again(context.archivePath);
    ASSERT_TRUE(again.held());
    kstest::UiDriver last;
    last.OnMessageBox("Keepsake (TM)");
    EXPECT_EQ(context.DeleteVersion(1), 0);
    ASSERT_TRUE(last.Finish());
    again.Release();
    EXPECT_EQ(context.VersionCount(), 1);
}

// When the archive cannot follow the file (what holds the destination's
// archive will not let it go), the file comes back: a move is whole or
// not at all.
TEST_F(Operations, AMoveWhoseArchiveCannotFollowPutsTheFileBack) {
    ArchiveContext context = FileWithVersions(2);
    std::string target = folder / "taken.doc";
    ASSERT_TRUE(kstest::WriteFileText(target, "taken"));
    ArchiveContext taken;
    ASSERT_TRUE(taken.Resolve(target.c_str(), false, nullptr));
    ASSERT_EQ(taken.SaveFirstVersion(0, 10, 0, 1), 0);
    ASSERT_TRUE(DeleteFileA(target.c_str()));  // only its archive is left
    HANDLE holder = CreateFileA(taken.archivePath, GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(holder, INVALID_HANDLE_VALUE);

    kstest::UiDriver ui;
    ui.OnMessageBox("Keepsake (TM)", [](kstest::Window& box) { box.Press(IDYES); });  // replace the archive
    ui.OnMessageBox("Keepsake (TM)");
    int result = -1;
    EXPECT_TRUE(kstest::CallWithin(20000, [&] { result = context.MoveWithVersions(target.c_str(), false); }));
    ASSERT_TRUE(ui.Finish());
    CloseHandle(holder);
    EXPECT_EQ(result, 0);
    ASSERT_EQ(ui.Seen().size(), 2u);
    EXPECT_EQ(ui.Seen()[1].text, "Error!  The file taken.doc could not be moved to " + folder.path() + "!");
    EXPECT_EQ(kstest::ReadFileText(file), "v2");
    EXPECT_EQ(context.VersionCount(), 2);
    EXPECT_FALSE(kstest::PathPresent(target));
    EXPECT_EQ(taken.VersionCount(), 1);
}

// Copying over a file that has versions writes the new archive over the
// old one in place: the archive's name is never free meanwhile, so no
// other program can start a new archive under it, and whoever holds the
// archive open sees the new content.
TEST_F(Operations, CopyingOverAFileReplacesItsArchiveInPlace) {
    ArchiveContext context = FileWithVersions(3);
    std::string target = folder / "target.doc";
    ASSERT_TRUE(kstest::WriteFileText(target, "target"));
    ArchiveContext replaced;
    ASSERT_TRUE(replaced.Resolve(target.c_str(), false, nullptr));
    ASSERT_EQ(replaced.SaveFirstVersion(0, 10, 0, 1), 0);
    std::string identity = FileIdentity(replaced.archivePath);

    kstest::UiDriver ui;
    ui.OnMessageBox("Keepsake (TM)", [](kstest::Window& box) { box.Press(IDYES); });
    int result = -1;
    ASSERT_TRUE(kstest::CallWithin(20000, [&] { result = context.CopyWithVersions(target.c_str(), true); }));
    ASSERT_TRUE(ui.Finish());
    EXPECT_EQ(result, 1);
    EXPECT_EQ(FileIdentity(replaced.archivePath), identity);
    EXPECT_EQ(replaced.VersionCount(), 3);
    EXPECT_EQ(kstest::ReadFileText(target), "v3");
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((folder / "KS*.tmp").c_str(), &found);
    EXPECT_EQ(search, INVALID_HANDLE_VALUE) << "nothing left beside it";
    if (search != INVALID_HANDLE_VALUE) FindClose(search);
}

// A save that finds the archive reserved waits a little for the other
// writer before it gives up.
TEST_F(Operations, ASaveWaitsBrieflyForAnotherWriter) {
    ArchiveContext context = FileWithVersions(1);
    ASSERT_TRUE(kstest::WriteFileText(file, "v2"));
    kstest::ReservationHolder other(context.archivePath, 700);
    ASSERT_TRUE(other.held());
    EXPECT_EQ(context.SaveNextVersion("after the other writer", 0), 1);
    EXPECT_EQ(context.VersionCount(), 2);
}

// Within one volume a move is a rename: the file and its archive are the
// same files afterwards, so a power cut cannot leave a half-written copy
// in place of the only one.
TEST_F(Operations, AMoveWithinOneVolumeRenamesFileAndArchive) {
    ArchiveContext context = FileWithVersions(2);
    std::string fileBefore = FileIdentity(file);
    std::string archiveBefore = FileIdentity(context.archivePath);
    CreateDirectoryA((folder / "elsewhere").c_str(), nullptr);
    std::string target = folder / "elsewhere\\report.doc";
    int moved = -1;
    ASSERT_TRUE(kstest::CallWithin(20000, [&] { moved = context.MoveWithVersions(target.c_str(), false); }));
    ASSERT_EQ(moved, 1);

    ArchiveContext there;
    ASSERT_TRUE(there.Resolve(target.c_str(), false, nullptr));
    EXPECT_EQ(FileIdentity(target), fileBefore);
    EXPECT_EQ(FileIdentity(there.archivePath), archiveBefore);
    EXPECT_EQ(there.VersionCount(), 2);
    EXPECT_FALSE(kstest::PathPresent(file));
}

// A "TMP" of 260 characters or more is the user's and stays as it was;
// since it names no folder a save can use, the copy goes elsewhere.
TEST_F(Operations, ALongTmpValueSurvivesEverySave) {
    TempVariablesScope restore;
    const std::string longValue = "C:\\" + std::string(300, 't');
    SetEnvironmentVariableA("TMP", longValue.c_str());
    auto tmpNow = [] {
        char value[400] = "";
        DWORD length = GetEnvironmentVariableA("TMP", value, sizeof value);
        return length < sizeof value ? std::string(value, length) : std::string("<longer>");
    };
    ArchiveContext context;
    ASSERT_TRUE(context.Resolve(file.c_str(), false, nullptr));
    EXPECT_EQ(context.SaveFirstVersion(0, 10, 0, 1), 0);
    EXPECT_EQ(tmpNow(), longValue);
    ASSERT_TRUE(kstest::WriteFileText(file, "second"));
    EXPECT_EQ(context.SaveNextVersion("again", 0), 1);
    EXPECT_EQ(tmpNow(), longValue);
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((folder / "KS*.tmp").c_str(), &found);
    EXPECT_EQ(search, INVALID_HANDLE_VALUE) << "no copy left behind";
    if (search != INVALID_HANDLE_VALUE) FindClose(search);
}

// The size is read in all its 64 bits: a file of exactly 4 GiB is no
// empty file.
TEST_F(Operations, AFileOfFourGiBIsNotEmpty) {
    std::string big = folder / "big.bin";
    ASSERT_TRUE(kstest::WriteSparseFile(big, 4LL * 1024 * 1024 * 1024));
    EXPECT_FALSE(IsZeroLengthFile(big.c_str()));
    ASSERT_TRUE(kstest::WriteSparseFile(big, 0));
    EXPECT_TRUE(IsZeroLengthFile(big.c_str()));
}

// A further version into an archive that went away meanwhile is never
// reported as saved.
TEST_F(Operations, AnArchiveThatWentAwayTakesNoVersion) {
    ArchiveContext context = FileWithVersions(1);
    ASSERT_TRUE(kstest::WriteFileText(file, "v2"));
    ASSERT_TRUE(DeleteFileA(context.archivePath));
    EXPECT_EQ(context.AddNextVersion("lost?", 0), status::kArchiveGone);
    EXPECT_EQ(context.SaveNextVersion("lost?", 0), 0);

    // Gone while the save waited for another writer: never "no archive"
    // (1), which would read as a further version saved.
    ArchiveContext again = FileWithVersions(1);
    ASSERT_TRUE(kstest::WriteFileText(file, "v2"));
    kstest::ReservationHolder other(again.archivePath, 500, true);
    ASSERT_TRUE(other.held());
    EXPECT_EQ(again.AddNextVersion("lost?", 0), status::kArchiveGone);
}

// Every reason a save can be refused for has words of its own; only an
// unknown status falls back to naming the number.
TEST(Refusals, EveryReasonHasWordsOfItsOwn) {
    kstest::UseOwnResources();
    ArchiveContext context{};
    CopyText(context.archiveFolder, sizeof context.archiveFolder, "C:\\Archives");
    const int statuses[] = {status::kNoArchive,   status::kDamaged,      status::kReserved,      status::kIoFailed,
                            status::kTooLarge,    status::kUnreadable,   status::kOutOfMemory,   status::kNumbersUsedUp,
                            status::kNewerEngine, status::kPathTooLong,  status::kFileInUse,     status::kDiskFull,
                            status::kReadOnly,    status::kFileGone,     status::kIsArchive,     status::kFolderMissing,
                            status::kNoShortName, status::kCantCreateFolder, status::kExists};
    std::set<std::string> texts;
    for (int code : statuses) {
        char reason[400];
        FormatRefusalReason(context, code, reason, sizeof reason);
        EXPECT_EQ(std::string(reason).find("status"), std::string::npos) << code << ": " << reason;
        if (code != status::kNoArchive) {
            EXPECT_TRUE(texts.insert(reason).second) << code << ": " << reason;
        }
    }
    char reason[400];
    FormatRefusalReason(context, 99, reason, sizeof reason);
    EXPECT_STREQ(reason, "the version engine refused it (status 99)");
    FormatRefusalReason(context, status::kDiskFull, reason, sizeof reason);
    EXPECT_STREQ(reason, "the disk is full; make room on the drive of C:\\Archives and try again");
    // The engine's own limit, in the unit a user reads it in.
    FormatRefusalReason(context, status::kTooLarge, reason, sizeof reason);
    EXPECT_STREQ(reason, "it is larger than 16 TB, the largest file Keepsake keeps versions of");
}

TEST(VersionTime, RecordTimeIsShownInLocalTime) {
    // 2024-03-15 23:30:00 UTC in MS-DOS packing.
    uint32_t dosTime = (44u << 25) | (3u << 21) | (15u << 16) | (23u << 11) | (30u << 5);
    char text[100];
    ASSERT_TRUE(FormatRecordTime(dosTime, text));
    TIME_ZONE_INFORMATION zone;
    GetTimeZoneInformation(&zone);
    SYSTEMTIME expected{};
    expected.wYear = 2024;
    expected.wMonth = 3;
    expected.wDay = 15;
    expected.wHour = 23;
    expected.wMinute = 30;
    SYSTEMTIME local;
    ASSERT_TRUE(SystemTimeToTzSpecificLocalTime(nullptr, &expected, &local));
    char wanted[100];
    ASSERT_TRUE(FormatLocalTime(local, wanted));
    EXPECT_STREQ(text, wanted);
    char zoneName[64] = "";
    if (GetEnvironmentVariableA("TZ", zoneName, sizeof zoneName) && strcmp(zoneName, "Asia/Tokyo") == 0) {
        ASSERT_LT(zone.Bias, 0) << "the run east of UTC must really be east of UTC";
    }
    if (zone.Bias < 0) {
        // East of UTC: 23:30 UTC is already the next day.
        EXPECT_EQ(local.wDay, 16);
        EXPECT_NE(std::string(text).find("16"), std::string::npos) << text;
    }
    EXPECT_FALSE(FormatRecordTime(0, text)) << "month 0 is no date";
    EXPECT_STREQ(text, "");
}

}  // namespace
