// The survey answers, from one listing per folder, what a context made for
// each file answers one look-up at a time: it must never disagree.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "archive/archive_context.h"
#include "archive/archive_survey.h"
#include "archive/settings.h"
#include "resource.h"
#include "test_helpers.h"

namespace {

using kstest::TempFolder;
using kstest::WriteFileText;

// Names whose short forms come about in every way there is: already short
// (in either case), made up for long names, spaces and several dots.
const std::vector<std::string> kNames = {
    "a.txt",         "B.TXT",           "report for the board.document", "no extension",
    "two.dots.here", "LONGNAMEXY.TXT",  "lower8ch.doc",                  "x y.z",
};

// Writes the files and an archive for every second one, where a context
// made now puts it.
void MakeFiles(const TempFolder& folder) {
    for (size_t i = 0; i < kNames.size(); ++i) {
        std::string path = folder / kNames[i];
        ASSERT_TRUE(WriteFileText(path, "content"));
        if (i % 2 != 0) continue;
        ArchiveContext context;
        ASSERT_TRUE(context.Resolve(path.c_str(), false, nullptr));
        ASSERT_TRUE(WriteFileText(context.archivePath, "archive"));
    }
}

void ExpectAgreement(const TempFolder& folder, const char* layout) {
    ArchiveSurvey survey;
    for (size_t i = 0; i < kNames.size(); ++i) {
        std::string path = folder / kNames[i];
        ArchiveContext context;
        context.Locate(path.c_str());
        EXPECT_EQ(survey.HasArchive(path.c_str()), context.ArchiveExists()) << layout << ": " << kNames[i];
        EXPECT_EQ(survey.HasArchive(path.c_str()), i % 2 == 0) << layout << ": " << kNames[i];
        EXPECT_FALSE(survey.IsFolder(path.c_str())) << kNames[i];
    }
}

TEST(ArchiveSurvey, FindsTheSameArchivesAsAContextBesideTheFilesAndInTheCentralFolder) {
    kstest::UseOwnResources();
    kstest::SettingsScope settings;
    {
        TempFolder folder;
        MakeFiles(folder);
        ExpectAgreement(folder, "beside");
    }
    TempFolder central, folder;
    settings.SetString("VersionsPath", central.path() + "\\");
    MakeFiles(folder);
    ExpectAgreement(folder, "central");

    // An archive beside the file wins over the central folder; a central
    // archive of a file elsewhere is no archive of this one.
    std::string path = folder / "late.txt";
    ASSERT_TRUE(WriteFileText(path, "content"));
    ArchiveContext context;
    ASSERT_TRUE(context.Resolve(path.c_str(), false, nullptr));
    ASSERT_TRUE(WriteFileText(folder / context.archiveName, "archive beside"));
    EXPECT_TRUE(ArchiveSurvey().HasArchive(path.c_str()));
    TempFolder elsewhere;
    std::string other = elsewhere / "late.txt";
    ASSERT_TRUE(WriteFileText(other, "content"));
    EXPECT_FALSE(ArchiveSurvey().HasArchive(other.c_str()));
}

TEST(ArchiveSurvey, FoldersVanishedPathsAndExclusionsAsTheFileSystemAndListSay) {
    kstest::UseOwnResources();
    kstest::SettingsScope settings;
    TempFolder central, folder;
    settings.SetString("VersionsPath", central.path());
    settings.SetString("VersionExclude", "tmp,doc");
    ASSERT_TRUE(CreateDirectoryA((folder / "sub").c_str(), nullptr));
    for (const char* name : {"keep.txt", "skip.tmp", "report for the board.document", "old.ks"})
        ASSERT_TRUE(WriteFileText(folder / name, "content"));
    ASSERT_TRUE(WriteFileText(central / "C$$X.ks", "archive"));

    ArchiveSurvey survey;
    EXPECT_TRUE(survey.IsFolder((folder / "sub").c_str()));
    EXPECT_TRUE(survey.IsFolder((folder / "gone.txt").c_str()));  // a vanished path counts as a folder
    EXPECT_FALSE(survey.IsFolder((folder / "keep.txt").c_str()));
    EXPECT_TRUE(survey.IsFolder(folder.path().c_str()));  // the folder itself, from its parent's listing

    // Excluded by the long extension, by the short form's ("DOC" for
    // ".document"), or never versioned at all: archives and the central
    // folder's files.
    for (const char* name : {"keep.txt", "skip.tmp", "report for the board.document", "old.ks"}) {
        std::string path = folder / name;
        bool expected = IsExcluded(path.c_str(), IDS_VERSION_EXCLUDE) || NeverVersioned().Covers(path.c_str());
        EXPECT_EQ(survey.IsExcluded(path.c_str()), expected) << name;
    }
    EXPECT_FALSE(survey.IsExcluded((folder / "keep.txt").c_str()));
    EXPECT_TRUE(survey.IsExcluded((folder / "report for the board.document").c_str()));
    EXPECT_TRUE(survey.IsExcluded((central / "C$$X.ks").c_str()));
}

}  // namespace
