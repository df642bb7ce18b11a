// Where a file's archive lives and what it is called, against the real
// file system and registry of the test prefix. E: is a second drive.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "archive/archive_context.h"
#include "archive/paths.h"
#include "resource.h"
#include "test_helpers.h"
#include "ui_driver.h"

namespace {

std::string ArchiveNameFor(const std::string& shortPath) {
    std::string name = shortPath;
    std::replace(name.begin(), name.end(), '.', '$');
    std::replace(name.begin(), name.end(), ':', '$');
    std::replace(name.begin(), name.end(), '\\', '$');
    return name + ".ks";
}

bool IsAllZero(const void* data, size_t size) {
    const unsigned char* bytes = static_cast<const unsigned char*>(data);
    return std::all_of(bytes, bytes + size, [](unsigned char b) { return b == 0; });
}

class Context : public ::testing::Test {
protected:
    void SetUp() override { kstest::UseOwnResources(); }
    kstest::SettingsScope settings;
    kstest::TempFolder drive{"E:\\"};
};

TEST_F(Context, PlainPathKeepsTheArchiveBesideTheFile) {
    CreateDirectoryA((drive / "DOCS").c_str(), nullptr);
    std::string file = drive / "DOCS\\A.TXT";
    ASSERT_TRUE(kstest::WriteFileText(file, "hello"));
    std::string folder = drive / "DOCS";
    std::string name = ArchiveNameFor(kstest::ShortPath(file));

    ArchiveContext context;
    ASSERT_TRUE(context.Resolve(file.c_str(), true, nullptr));
    EXPECT_STREQ(context.workingPath, file.c_str());
    EXPECT_STREQ(context.workingFolder, folder.c_str());
    EXPECT_STREQ(context.workingName, "A.TXT");
    EXPECT_STREQ(context.archiveFolder, folder.c_str());
    EXPECT_STREQ(context.archiveName, name.c_str());
    EXPECT_EQ(std::string(context.archivePath), folder + "\\" + name);
    EXPECT_GT(strlen(context.userName), 0u);
    EXPECT_STREQ(context.productTag.text, "Keepsake (TM)");
    EXPECT_EQ(context.productTag.code, 0);
    EXPECT_EQ(context.plainTag.text[0], '\0');
    EXPECT_EQ(context.plainTag.code, 2);
    EXPECT_TRUE(IsAllZero(context.productTag.reserved, sizeof context.productTag.reserved));
    EXPECT_FALSE(context.ArchiveExists());

    ASSERT_TRUE(kstest::WriteFileText(context.archivePath, "archive"));
    EXPECT_TRUE(context.ArchiveExists());
    EXPECT_TRUE(context.ArchiveBesideFileExists());
}

TEST_F(Context, ArchiveNameOfAFixedShortPath) {
    // A drive root whose names are all 8.3 already: the name is predictable.
    CreateDirectoryA("E:\\KSDOCS", nullptr);
    ASSERT_TRUE(kstest::WriteFileText("E:\\KSDOCS\\A.TXT", "x"));
    ArchiveContext context;
    EXPECT_TRUE(context.Resolve("E:\\KSDOCS\\A.TXT", false, nullptr));
    EXPECT_STREQ(context.archiveName, "E$$KSDOCS$A$TXT.ks");
    EXPECT_STREQ(context.archivePath, "E:\\KSDOCS\\E$$KSDOCS$A$TXT.ks");
    kstest::RemoveTree("E:\\KSDOCS");
}

TEST_F(Context, MissingCentralFolderIsCreatedWithItsParents) {
    std::string file = drive / "work.doc";
    ASSERT_TRUE(kstest::WriteFileText(file, "x"));
    std::string central = drive / "ARCHIVE\\DEEP\\VERSIONS";
    settings.SetString("VersionsPath", central + "\\");

    ArchiveContext context;
    ASSERT_TRUE(context.Resolve(file.c_str(), true, nullptr));
    EXPECT_TRUE(FolderExists(central.c_str()));
    EXPECT_EQ(std::string(context.archiveFolder), central) << "one trailing backslash is removed";
    EXPECT_EQ(std::string(context.archivePath), central + "\\" + context.archiveName);
}

TEST_F(Context, ArchiveBesideTheFileWinsOverTheCentralFolder) {
    std::string file = drive / "plan.txt";
    ASSERT_TRUE(kstest::WriteFileText(file, "x"));
    ArchiveContext first;
    ASSERT_TRUE(first.Resolve(file.c_str(), false, nullptr));
    ASSERT_TRUE(kstest::WriteFileText(first.archivePath, "archive"));

    settings.SetString("VersionsPath", drive / "central");
    ArchiveContext second;
    ASSERT_TRUE(second.Resolve(file.c_str(), false, nullptr));
    EXPECT_STREQ(second.archiveFolder, drive.path().c_str());
    EXPECT_TRUE(second.ArchiveExists());
}

TEST_F(Context, EmptyCentralFolderValueCountsAsUnset) {
    std::string file = drive / "plan.txt";
    ASSERT_TRUE(kstest::WriteFileText(file, "x"));
    settings.SetString("VersionsPath", "");
    ArchiveContext context;
    ASSERT_TRUE(context.Resolve(file.c_str(), false, nullptr));
    EXPECT_STREQ(context.archiveFolder, drive.path().c_str());
}

TEST_F(Context, BareRootAsCentralFolderBecomesTheDriveAlone) {
    std::string file = drive / "plan.txt";
    ASSERT_TRUE(kstest::WriteFileText(file, "x"));
    settings.SetString("VersionsPath", "E:\\");
    ArchiveContext context;
    ASSERT_TRUE(context.Resolve(file.c_str(), false, nullptr));
    EXPECT_STREQ(context.archiveFolder, "E:");
    EXPECT_EQ(std::string(context.archivePath), std::string("E:\\") + context.archiveName);
}

TEST_F(Context, LongNameIsEncodedThroughItsShortForm) {
    CreateDirectoryA((drive / "My Files").c_str(), nullptr);
    std::string file = drive / "My Files\\Budget 1999.xls";
    ASSERT_TRUE(kstest::WriteFileText(file, "x"));
    std::string shortPath = kstest::ShortPath(file);
    ASSERT_NE(shortPath, file);

    ArchiveContext context;
    ASSERT_TRUE(context.Resolve(file.c_str(), false, nullptr));
    EXPECT_EQ(std::string(context.archiveName), ArchiveNameFor(shortPath));
    EXPECT_NE(std::string(context.archiveName), ArchiveNameFor(file));
    EXPECT_STREQ(context.workingName, "Budget 1999.xls");
}

TEST_F(Context, PathThatDoesNotExistYetGetsANameAndLeavesNoFile) {
    std::string target = drive / "Not Yet Written.document";
    ArchiveContext context;
    ASSERT_TRUE(context.Resolve(target.c_str(), false, nullptr));
    EXPECT_NE(context.archiveName[0], '\0');
    EXPECT_FALSE(kstest::PathPresent(target));
}

TEST_F(Context, WorkingFolderTooLongIsRefusedWithMessage1404) {
    // 8.3 folders deep enough that folder + "\" + archive name passes 259.
    std::string folder = drive.path();
    for (int i = 0; i < 14; ++i) {
        folder += "\\ABCDEFGH";
        ASSERT_TRUE(CreateDirectoryA(folder.c_str(), nullptr)) << folder;
    }
    std::string file = folder + "\\A.TXT";
    ASSERT_TRUE(kstest::WriteFileText(file, "x"));

    kstest::UiDriver ui;
    ui.OnMessageBox("Keepsake (TM)", [](kstest::Window& box) { box.Press(IDOK); });
    ArchiveContext context;
    EXPECT_FALSE(context.Resolve(file.c_str(), true, nullptr));
    ASSERT_TRUE(ui.Finish());
    ASSERT_EQ(ui.Seen().size(), 1u);
    const kstest::MessageBoxInfo& box = ui.Seen()[0];
    EXPECT_EQ(box.text.substr(0, 48), "Keepsake can't create an archive because the com");
    EXPECT_EQ(box.icon, static_cast<UINT>(MB_ICONSTOP));
    EXPECT_EQ(box.buttons, std::vector<int>{IDOK});

    EXPECT_STREQ(context.archiveName, "");
    EXPECT_STREQ(context.archiveFolder, "");
    EXPECT_STREQ(context.archivePath, "");
    EXPECT_STREQ(context.userName, "");
    EXPECT_TRUE(IsAllZero(&context.productTag, sizeof context.productTag));
    EXPECT_TRUE(IsAllZero(&context.plainTag, sizeof context.plainTag));
    EXPECT_FALSE(context.ArchiveExists());

    // Reporting off: the same refusal, no message box.
    bool resolved = true;
    EXPECT_TRUE(kstest::CallWithin(5000, [&] { resolved = context.Resolve(file.c_str(), false, nullptr); }))
        << "a message box appeared with reporting off";
    EXPECT_FALSE(resolved);
}

TEST_F(Context, CentralFolderThatCannotBeMadeIsRefusedWithMessage1300) {
    std::string file = drive / "plan.txt";
    ASSERT_TRUE(kstest::WriteFileText(file, "x"));
    ASSERT_TRUE(kstest::WriteFileText(drive / "blocker", "a file where a folder should be"));
    settings.SetString("VersionsPath", drive / "blocker\\versions");

    kstest::UiDriver ui;
    ui.OnMessageBox("Keepsake (TM)");
    ArchiveContext context;
    EXPECT_FALSE(context.Resolve(file.c_str(), true, nullptr));
    ASSERT_TRUE(ui.Finish());
    ASSERT_EQ(ui.Seen().size(), 1u);
    EXPECT_EQ(ui.Seen()[0].text, "Can't create Keepsake directory!");
    EXPECT_EQ(ui.Seen()[0].icon, static_cast<UINT>(MB_ICONSTOP));
    EXPECT_STREQ(context.archivePath, "");
    EXPECT_STREQ(context.userName, "");
    EXPECT_EQ(context.plainTag.code, 0);

    bool resolved = true;
    EXPECT_TRUE(kstest::CallWithin(5000, [&] { resolved = context.Resolve(file.c_str(), false, nullptr); }));
    EXPECT_FALSE(resolved);
}

TEST_F(Context, CentralFolderTooLongForTheArchivePathIsRefusedLikeALongWorkingFolder) {
    std::string file = drive / "plan.txt";
    ASSERT_TRUE(kstest::WriteFileText(file, "x"));
    std::string central = drive.path();
    while (central.size() < 240) central += "\\CENTRAL1";
    settings.SetString("VersionsPath", central);

    kstest::UiDriver ui;
    ui.OnMessageBox("Keepsake (TM)");
    ArchiveContext context;
    EXPECT_FALSE(context.Resolve(file.c_str(), true, nullptr));
    ASSERT_TRUE(ui.Finish());
    ASSERT_EQ(ui.Seen().size(), 1u);
    EXPECT_EQ(ui.Seen()[0].text.substr(0, 20), "Keepsake can't creat");
    EXPECT_STREQ(context.archiveName, "");
    EXPECT_STREQ(context.archivePath, "");
}

TEST(Paths, SplitCreateAndInspect) {
    char folder[MAX_PATH], name[MAX_PATH];
    SplitPath("C:\\a.txt", folder, name);
    EXPECT_STREQ(folder, "C:");
    EXPECT_STREQ(name, "a.txt");
    SplitPath("C:\\DOCS\\REPORT.DOC", folder, nullptr);
    EXPECT_STREQ(folder, "C:\\DOCS");
    SplitPath("C:\\DOCS\\REPORT.DOC", nullptr, name);
    EXPECT_STREQ(name, "REPORT.DOC");

    EXPECT_TRUE(FolderExists("C:"));
    EXPECT_TRUE(FolderExists("C:\\"));

    kstest::TempFolder temp;
    std::string deep = temp / "one\\two\\three";
    EXPECT_TRUE(CreateFolderPath(deep.c_str()));
    EXPECT_TRUE(FolderExists(deep.c_str()));
    EXPECT_FALSE(CreateFolderPath(deep.c_str())) << "the last folder existed already";
    EXPECT_TRUE(CreateFolderPath("E:\\")) << "a bare root names no folder to create";

    std::string empty = temp / "empty.txt", full = temp / "full.txt";
    ASSERT_TRUE(kstest::WriteFileText(empty, ""));
    ASSERT_TRUE(kstest::WriteFileText(full, "content"));
    EXPECT_TRUE(IsZeroLengthFile(empty.c_str()));
    EXPECT_FALSE(IsZeroLengthFile(full.c_str()));
    EXPECT_FALSE(IsZeroLengthFile((temp / "missing.txt").c_str()));
    EXPECT_TRUE(FileExists(full.c_str()));
    EXPECT_FALSE(FileExists(temp.path().c_str())) << "a folder is not a file";
    EXPECT_FALSE(FileExists((temp / "missing.txt").c_str()));
}

TEST(Paths, WaitCursorIsPutBack) {
    HCURSOR arrow = LoadCursor(nullptr, IDC_ARROW);
    SetCursor(arrow);
    {
        WaitCursor wait;
        EXPECT_EQ(GetCursor(), LoadCursor(nullptr, IDC_WAIT));
    }
    EXPECT_EQ(GetCursor(), arrow);
}

}  // namespace
