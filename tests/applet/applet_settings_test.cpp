// The applet's settings record: what it reads (keepshel's defaults), how it
// tidies and checks what the user typed, and that what it stores is what
// keepshel reads back.
#include <gtest/gtest.h>

#include <windows.h>

#include <cstring>
#include <string>

#include "applet_resource.h"
#include "applet_settings.h"
#include "archive/settings.h"
#include "resource.h"
#include "test_helpers.h"

namespace {

using kstest::SettingsScope;

class AppletSettingsTest : public ::testing::Test {
protected:
    void SetUp() override { kstest::UseOwnResources(); }

    static bool ValuePresent(const char* name) {
        HKEY key = nullptr;
        if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kstest::kSettingsKey, 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
        bool present = RegQueryValueExA(key, name, nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
        RegCloseKey(key);
        return present;
    }

    SettingsScope settings_;
};

AppletSettings Filled(const char* folder, const char* excluded, const char* help) {
    AppletSettings settings{};
    settings.versioning = 1;
    settings.compression = 1;
    settings.singleLocation = 0;
    settings.maxTemporary = 25;
    strcpy(settings.archiveFolder, folder);
    strcpy(settings.excluded, excluded);
    strcpy(settings.helpFolder, help);
    return settings;
}

TEST_F(AppletSettingsTest, ReadsKeepshelsDefaultsAndEveryStoredValue) {
    AppletSettings settings;
    memset(&settings, 0x5A, sizeof settings);
    LoadAppletSettings(&settings);
    EXPECT_EQ(settings.versioning, 0u);
    EXPECT_EQ(settings.compression, 0u);
    EXPECT_EQ(settings.singleLocation, 1u);
    EXPECT_EQ(settings.maxTemporary, 10u);
    EXPECT_STREQ(settings.archiveFolder, "");
    EXPECT_STREQ(settings.excluded, "");
    EXPECT_STREQ(settings.helpFolder, "");

    settings_.SetNumber("EnableVersionControl", 1);
    settings_.SetNumber("UseCompression", 1);
    settings_.SetNumber("SingleLocation", 0);
    settings_.SetNumber("MaxTempVersions", 0);  // shown as stored; the dialog checks the range
    settings_.SetString("VersionsPath", "C:\\Versions\\");
    settings_.SetString("VersionExclude", "tmp,bak");
    settings_.SetString("HelpPath", "C:\\Help");
    LoadAppletSettings(&settings);
    EXPECT_EQ(settings.versioning, 1u);
    EXPECT_EQ(settings.compression, 1u);
    EXPECT_EQ(settings.singleLocation, 0u);
    EXPECT_EQ(settings.maxTemporary, 0u);
    EXPECT_STREQ(settings.archiveFolder, "C:\\Versions\\");
    EXPECT_STREQ(settings.excluded, "tmp,bak");
    EXPECT_STREQ(settings.helpFolder, "C:\\Help");

    // A text longer than a value may be is the default, as keepshel takes it.
    settings_.SetString("VersionsPath", "C:\\" + std::string(300, 'v'));
    LoadAppletSettings(&settings);
    EXPECT_STREQ(settings.archiveFolder, "");
}

TEST_F(AppletSettingsTest, StoresWhatKeepshelReadsBack) {
    AppletSettings typed = Filled("  C:\\Versions ", " .TMP, bak ,,", "\tC:\\Help  ");
    TidyAppletSettings(&typed);
    ASSERT_TRUE(StoreAppletSettings(typed));

    DWORD number = 99;
    ASSERT_TRUE(ReadSettingNumber(IDS_ENABLE_VERSION_CONTROL, &number));
    EXPECT_EQ(number, 1u);
    ASSERT_TRUE(ReadSettingNumber(IDS_USE_COMPRESSION, &number));
    EXPECT_EQ(number, 1u);
    ASSERT_TRUE(ReadSettingNumber(IDS_SINGLE_LOCATION, &number));
    EXPECT_EQ(number, 0u);
    ASSERT_TRUE(ReadSettingNumber(IDS_MAX_TEMP_VERSIONS, &number));
    EXPECT_EQ(number, 25u);
    char text[MAX_PATH];
    DWORD size = sizeof text;
    ASSERT_TRUE(ReadSettingString(IDS_VERSIONS_PATH, text, &size));
    EXPECT_STREQ(text, "C:\\Versions");
    size = sizeof text;
    ASSERT_TRUE(ReadSettingString(IDS_VERSION_EXCLUDE, text, &size));
    EXPECT_STREQ(text, "TMP,bak");
    size = sizeof text;
    ASSERT_TRUE(ReadSettingString(IDS_HELP_PATH, text, &size));
    EXPECT_STREQ(text, "C:\\Help");

    // The tidied list excludes what the user meant, by keepshel's own rule.
    EXPECT_TRUE(IsExcluded("C:\\Docs\\report.tmp", IDS_VERSION_EXCLUDE));
    EXPECT_TRUE(IsExcluded("C:\\Docs\\REPORT.BAK", IDS_VERSION_EXCLUDE));
    EXPECT_FALSE(IsExcluded("C:\\Docs\\report.doc", IDS_VERSION_EXCLUDE));

    // Switches are stored as 0 or 1; empty texts remove their values, so
    // keepshel falls back to its defaults.
    AppletSettings cleared = Filled("", "", "");
    cleared.versioning = 7;
    ASSERT_TRUE(StoreAppletSettings(cleared));
    ASSERT_TRUE(ReadSettingNumber(IDS_ENABLE_VERSION_CONTROL, &number));
    EXPECT_EQ(number, 1u);
    EXPECT_FALSE(ValuePresent("VersionsPath"));
    EXPECT_FALSE(ValuePresent("VersionExclude"));
    EXPECT_FALSE(ValuePresent("HelpPath"));
    ASSERT_TRUE(StoreAppletSettings(cleared)) << "removing an absent value is no failure";

    AppletSettings reread;
    LoadAppletSettings(&reread);
    EXPECT_EQ(reread.maxTemporary, 25u);
    EXPECT_STREQ(reread.archiveFolder, "");
}

TEST(ExtensionList, KeepsOnlyTheExtensionsWithoutDotsBlanksOrEmptyEntries) {
    struct Case {
        const char* typed;
        const char* stored;
    } cases[] = {
        {"tmp,bak", "tmp,bak"},
        {" .tmp, .bak ,doc", "tmp,bak,doc"},
        {",,tmp,,", "tmp"},
        {"t mp;x", "tmp;x"},  // only commas separate
        {". , .", ""},
        {"", ""},
        {"\t.Log\t", "Log"},
    };
    for (const Case& c : cases) {
        char list[MAX_PATH];
        EXPECT_TRUE(NormalizeExtensionList(c.typed, list, sizeof list)) << c.typed;
        EXPECT_STREQ(list, c.stored) << "typed: \"" << c.typed << "\"";
    }

    char small[6];
    EXPECT_TRUE(NormalizeExtensionList("ab,cd", small, sizeof small));
    EXPECT_STREQ(small, "ab,cd");
    EXPECT_FALSE(NormalizeExtensionList("ab,cd,e", small, sizeof small));
    EXPECT_LT(strlen(small), sizeof small);
}

TEST(SettingsChecks, RangeOfTemporaryVersionsAndAFullArchiveFolder) {
    AppletSettings settings = Filled("", "", "");
    struct Limit {
        DWORD value;
        bool ok;
    } limits[] = {{0, false}, {1, true}, {32767, true}, {32768, false}, {0xFFFFFFFF, false}};
    for (const Limit& limit : limits) {
        settings.maxTemporary = limit.value;
        SettingsProblem problem = ValidateAppletSettings(settings);
        if (limit.ok) {
            EXPECT_EQ(problem.messageId, 0u) << limit.value;
        } else {
            EXPECT_EQ(problem.messageId, static_cast<UINT>(IDS_MAX_TEMP_RANGE)) << limit.value;
            EXPECT_EQ(problem.field, SettingsField::MaxTemporary);
        }
    }

    settings.maxTemporary = 10;
    struct Folder {
        const char* path;
        bool full;
    } folders[] = {{"", true},          {"C:\\Versions", true}, {"d:\\", true},   {"\\\\server\\share", true},
                   {"Versions", false}, {"C:Versions", false},  {"\\Versions", false}, {"\\\\", false}};
    for (const Folder& folder : folders) {
        strcpy(settings.archiveFolder, folder.path);
        SettingsProblem problem = ValidateAppletSettings(settings);
        EXPECT_EQ(problem.messageId, folder.full ? 0u : static_cast<UINT>(IDS_FOLDER_NOT_FULL)) << folder.path;
    }

    char text[32] = "  \t a b \t ";
    TrimBlanks(text);
    EXPECT_STREQ(text, "a b");
}

TEST(ArchiveFolder, IsCreatedWithItsParentsOrRefused) {
    kstest::TempFolder temp;
    std::string nested = temp / "one\\two\\three";
    EXPECT_TRUE(EnsureArchiveFolder(nested.c_str()));
    EXPECT_TRUE(kstest::PathPresent(nested));
    EXPECT_TRUE(EnsureArchiveFolder(nested.c_str())) << "an existing folder is fine";
    std::string trailing = temp / "four\\five\\";
    EXPECT_TRUE(EnsureArchiveFolder(trailing.c_str()));
    EXPECT_TRUE(kstest::PathPresent(temp / "four\\five"));
    EXPECT_TRUE(EnsureArchiveFolder(""));

    // A file stands where a folder would have to be.
    ASSERT_TRUE(kstest::WriteFileText(temp / "file.txt", "x"));
    EXPECT_FALSE(EnsureArchiveFolder((temp / "file.txt").c_str()));
    EXPECT_FALSE(EnsureArchiveFolder((temp / "file.txt\\below").c_str()));
}

}  // namespace
