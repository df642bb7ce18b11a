// Settings are read afresh from the machine-wide key on every call, with
// the caller's default whenever a value is missing or does not fit.
#include <gtest/gtest.h>


#include <string>

#include "archive/settings.h"
#include "resource.h"
#include "test_helpers.h"

namespace {

class Settings : public ::testing::Test {
protected:
    void SetUp() override { kstest::UseOwnResources(); }
    kstest::SettingsScope settings;
};

TEST_F(Settings, NoKeyAtAllLeavesEveryDefault) {
    ASSERT_FALSE(kstest::SettingsScope::KeyExists());
    for (UINT id : {IDS_ENABLE_VERSION_CONTROL, IDS_USE_COMPRESSION, IDS_MAX_TEMP_VERSIONS, IDS_SINGLE_LOCATION,
                    IDS_HISTORY_FIELD_1}) {
        DWORD value = 4242;
        EXPECT_FALSE(ReadSettingNumber(id, &value)) << id;
        EXPECT_EQ(value, 4242u) << "a failed read must leave the caller's default";
    }
    char text[MAX_PATH] = "default";
    DWORD size = sizeof text;
    EXPECT_FALSE(ReadSettingString(IDS_VERSIONS_PATH, text, &size));
    EXPECT_FALSE(ReadSettingString(IDS_HELP_PATH, text, &size));
    EXPECT_FALSE(IsExcluded("C:\\report.tmp", IDS_VERSION_EXCLUDE));
}

TEST_F(Settings, ValuesWrittenElsewhereAreSeenAtOnce) {
    DWORD value = 10;
    settings.SetNumber("MaxTempVersions", 0);
    ASSERT_TRUE(ReadSettingNumber(IDS_MAX_TEMP_VERSIONS, &value));
    EXPECT_EQ(value, 0u) << "0 is taken as stored; the dialogs check the range";
    settings.SetNumber("MaxTempVersions", 25);
    ASSERT_TRUE(ReadSettingNumber(IDS_MAX_TEMP_VERSIONS, &value));
    EXPECT_EQ(value, 25u);

    settings.SetString("VersionsPath", "E:\\ARCHIVE\\");
    char text[MAX_PATH];
    DWORD size = sizeof text;
    ASSERT_TRUE(ReadSettingString(IDS_VERSIONS_PATH, text, &size));
    EXPECT_STREQ(text, "E:\\ARCHIVE\\");
}

TEST_F(Settings, TextLongerThanTheBufferFailsWithoutOverrun) {
    settings.SetString("HelpPath", std::string(300, 'h'));
    char text[MAX_PATH + 8];
    memset(text, '#', sizeof text);
    DWORD size = MAX_PATH;
    EXPECT_FALSE(ReadSettingString(IDS_HELP_PATH, text, &size));
    for (size_t i = MAX_PATH; i < sizeof text; ++i) ASSERT_EQ(text[i], '#') << "byte " << i << " was overwritten";

    // 259 characters and the terminator fit exactly.
    settings.SetString("HelpPath", std::string(259, 'h'));
    size = MAX_PATH;
    ASSERT_TRUE(ReadSettingString(IDS_HELP_PATH, text, &size));
    EXPECT_EQ(strlen(text), 259u);
}

TEST_F(Settings, ExclusionListRules) {
    kstest::TempFolder folder;
    settings.SetString("VersionExclude", "tmp,bak");
    EXPECT_TRUE(IsExcluded("C:\\DOCS\\REPORT.TMP", IDS_VERSION_EXCLUDE));
    EXPECT_TRUE(IsExcluded("C:\\DOCS\\Report.Bak", IDS_VERSION_EXCLUDE));
    EXPECT_FALSE(IsExcluded("C:\\DOCS\\REPORT.TMPX", IDS_VERSION_EXCLUDE));
    EXPECT_FALSE(IsExcluded("C:\\DOCS\\REPORT", IDS_VERSION_EXCLUDE)) << "no extension excludes nothing";

    settings.SetString("VersionExclude", "tmp, bak");
    EXPECT_TRUE(IsExcluded("C:\\DOCS\\REPORT.TMP", IDS_VERSION_EXCLUDE));
    EXPECT_FALSE(IsExcluded("C:\\DOCS\\REPORT.BAK", IDS_VERSION_EXCLUDE)) << "blanks are not trimmed";

    settings.SetString("VersionExclude", ".tmp");
    EXPECT_FALSE(IsExcluded("C:\\DOCS\\REPORT.TMP", IDS_VERSION_EXCLUDE)) << "an entry with a dot never matches";

    settings.SetString("VersionExclude", "");
    EXPECT_FALSE(IsExcluded("C:\\DOCS\\REPORT.TMP", IDS_VERSION_EXCLUDE));

    // The short form's extension counts too, whatever short form the system gives.
    std::string longName = folder / "notes.longextension";
    ASSERT_TRUE(kstest::WriteFileText(longName, "x"));
    std::string shortName = kstest::ShortPath(longName);
    std::string shortExt = shortName.substr(shortName.rfind('.') + 1);
    ASSERT_FALSE(shortExt.empty());
    ASSERT_NE(shortExt, "longextension");
    settings.SetString("VersionExclude", "doc," + shortExt);
    EXPECT_TRUE(IsExcluded(longName.c_str(), IDS_VERSION_EXCLUDE));
    settings.SetString("VersionExclude", "LongExtension");
    EXPECT_TRUE(IsExcluded(longName.c_str(), IDS_VERSION_EXCLUDE));
}

TEST_F(Settings, ColumnWidthsAreTheValuesWritten) {
    const int widths[4] = {60, 30, 110, 90};
    WriteHistoryColumnWidths(widths, 4);
    for (int i = 0; i < 4; ++i) {
        DWORD value = 0;
        ASSERT_TRUE(ReadSettingNumber(IDS_HISTORY_FIELD_1 + i, &value));
        EXPECT_EQ(value, static_cast<DWORD>(widths[i]));
    }
    HKEY key = OpenSettingsKey();
    ASSERT_NE(key, nullptr);
    DWORD type = 0;
    ASSERT_EQ(RegQueryValueExA(key, "HistoryField_3", nullptr, &type, nullptr, nullptr), ERROR_SUCCESS);
    EXPECT_EQ(type, static_cast<DWORD>(REG_DWORD));
    RegCloseKey(key);
}

TEST(ControlPanel, ExportStartsTheRunnerFromTheSystemFolder) {
    // keepshel.dll is loaded the way other programs load it. The runner
    // exists only in the system folder here, so this takes the second try.
    HMODULE library = LoadLibraryA("keepshel.dll");
    ASSERT_NE(library, nullptr);
    using ControlPanelFn = int(WINAPI*)();
    auto controlPanel = reinterpret_cast<ControlPanelFn>(reinterpret_cast<void*>(GetProcAddress(library, "KSControlPanel")));
    ASSERT_NE(controlPanel, nullptr);
    char windows[MAX_PATH];
    GetWindowsDirectoryA(windows, sizeof windows);
    ASSERT_FALSE(kstest::PathPresent(std::string(windows) + "\\RunDLL32.exe"));
    EXPECT_GT(controlPanel(), 31);
    FreeLibrary(library);
}

}  // namespace
