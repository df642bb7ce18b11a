// The string table is read by id by every part of keepshel: the texts must
// arrive exactly, escapes turned into real characters.
#include <gtest/gtest.h>

#include <string>

#include "archive/module.h"
#include "resource.h"
#include "test_helpers.h"

namespace {

std::string Load(UINT id) {
    char buffer[1000];
    LoadText(id, buffer, sizeof buffer);
    return buffer;
}

TEST(StringTable, EscapesBecomeRealCharacters) {
    kstest::UseOwnResources();
    EXPECT_EQ(Load(IDS_SETTINGS_KEY), "Software\\Zemla\\Keepsake\\Settings");
    EXPECT_EQ(Load(IDS_RETRIEVE_EXISTS), "%s\nThis file already exists.\n\nReplace existing file?");
    EXPECT_EQ(Load(IDS_PRINT_HEADING), "Permanent\t#\tDate & Time\tUpdated By\tComment");
    EXPECT_EQ(Load(IDS_MOVE_COPY_PROGRESS), "%s\nFrom '%s' to '%s'");
    EXPECT_EQ(Load(IDS_CANT_CREATE_FOLDER), "Can't create Keepsake directory!");
}

TEST(StringTable, TextsThatOthersDependOn) {
    kstest::UseOwnResources();
    EXPECT_EQ(Load(IDS_PRODUCT_NAME), "Keepsake (TM)");
    EXPECT_EQ(Load(IDS_MENU_KEEPSAKE), "&Keepsake");
    EXPECT_EQ(Load(IDS_COLUMN_COUNT), "4");
    EXPECT_EQ(Load(IDS_RETRIEVE_FILTER), "All Files@*.*@");
    EXPECT_EQ(Load(IDS_HISTORY_FIELD_4), "HistoryField_4");
    EXPECT_EQ(Load(IDS_PATH_TOO_LONG).size(), 230u);
    // Two lines of the About box have no text at all.
    EXPECT_EQ(Load(IDS_ABOUT_LINE_3), "");
    EXPECT_EQ(Load(IDS_ABOUT_LINE_5), "");
}

TEST(StringTable, EveryIdInUseHasText) {
    kstest::UseOwnResources();
    const UINT ids[] = {1000, 1001, 1002, 1003, 1004, 1005, 1006, 1009, 1010, 1011, 1012, 1013, 1061, 1062,
                        1063, 1064, 1065, 1100, 1101, 1102, 1103, 1104, 1120, 1121, 1160, 1161, 1200, 1201,
                        1202, 1203, 1300, 1302, 1305, 1309, 1310, 1311, 1350, 1351, 1352, 1404, 1405, 1408,
                        1409, 1410, 1411, 2000, 2001, 2002, 2004, 2005, 2006, 2007, 2008, 2009, 2010, 2011,
                        2012, 2013, 2014, 2050, 2051, 2052, 2053, 2054, 2055, 2100, 2101, 2110, 2111, 2112,
                        2113, 2170, 2171, 2172, 2173, 2174, 2175, 2176, 2177, 2178, 2200, 2300, 2301, 2302,
                        2304, 20000, 20001, 20004};
    for (UINT id : ids) EXPECT_FALSE(Load(id).empty()) << "string " << id;
}

TEST(FormatText, NeverOverrunsItsBuffer) {
    char buffer[8];
    memset(buffer, 'x', sizeof buffer);
    int wanted = FormatText(buffer, 5, "%s", "abcdefgh");
    EXPECT_EQ(wanted, 8);
    EXPECT_STREQ(buffer, "abcd");
    EXPECT_EQ(buffer[5], 'x');
    char target[4];
    EXPECT_FALSE(CopyText(target, sizeof target, "abcd"));
    EXPECT_STREQ(target, "abc");
    EXPECT_TRUE(CopyText(target, sizeof target, "abc"));
}

}  // namespace
