// Resource identifiers of keepshel. String ids are fixed: other tools and
// the help file refer to them.
#ifndef KEEPSHEL_RESOURCE_H
#define KEEPSHEL_RESOURCE_H

// Context menu
#define IDS_MENU_KEEPSAKE           1000
#define IDS_MENU_SAVE               1001
#define IDS_MENU_HISTORY            1002
#define IDS_MENU_FILE               1003
#define IDS_MENU_MOVE               1004
#define IDS_MENU_COPY               1005
#define IDS_MENU_DELETE             1006
#define IDS_HELP_SAVE               1009
#define IDS_HELP_HISTORY            1010
#define IDS_HELP_MOVE               1011
#define IDS_HELP_COPY               1012
#define IDS_HELP_DELETE             1013

// History page toolbar tooltips (the ids are the button commands)
#define IDS_TIP_SAVE_AS             1061
#define IDS_TIP_DELETE              1062
#define IDS_TIP_PRINT_HISTORY       1063
#define IDS_TIP_SETTINGS            1064
#define IDS_TIP_ABOUT               1065

// Version list
#define IDS_COLUMN_COUNT            1100
#define IDS_COLUMN_PERMANENT        1101
#define IDS_COLUMN_NUMBER           1102
#define IDS_COLUMN_DATE_TIME        1103
#define IDS_COLUMN_UPDATED_BY       1104
#define IDS_CONFIRM_DELETE_VERSIONS 1120
#define IDS_COMPRESSED              1121
#define IDS_PRINT_HEADING           1160
#define IDS_PRINT_TITLE             1161

// Product texts
#define IDS_PRODUCT_NAME            1200
#define IDS_HELP_FILE               1201
#define IDS_DEFAULT_USER            1202
#define IDS_APPLET_FILE             1203

// Save and retrieve flows
#define IDS_CANT_CREATE_FOLDER      1300
#define IDS_RETRIEVE_EXISTS         1302
#define IDS_VERSION_COMMENT         1305
#define IDS_CONFIRM_DELETE_PERMANENT 1309
#define IDS_MULTIPLE_FILES          1310
#define IDS_NO_FILES_TO_SAVE        1311
#define IDS_HISTORY_TITLE           1350
#define IDS_RETRIEVE_AS             1351
#define IDS_RETRIEVE_FILTER         1352
#define IDS_PATH_TOO_LONG           1404
#define IDS_VERSION_PROPERTIES_TITLE 1405
#define IDS_NOT_NEWER               1408
#define IDS_ZERO_LENGTH             1409
#define IDS_ADD_COMMENT             1410
#define IDS_NEW_VERSION_TITLE       1411

// Settings store: key path and value names
#define IDS_SETTINGS_KEY            2000
#define IDS_ENABLE_VERSION_CONTROL  2001
#define IDS_USE_COMPRESSION         2002
#define IDS_MAX_TEMP_VERSIONS       2004
#define IDS_SINGLE_LOCATION         2005
#define IDS_VERSIONS_PATH           2006
#define IDS_VERSION_EXCLUDE         2007
#define IDS_ENABLE_GLANCE           2008
#define IDS_HELP_PATH               2009
#define IDS_GLANCE_EXCLUDE          2010
#define IDS_HISTORY_FIELD_1         2011
#define IDS_HISTORY_FIELD_2         2012
#define IDS_HISTORY_FIELD_3         2013
#define IDS_HISTORY_FIELD_4         2014

// Printing
#define IDS_PRINT_YES               2050
#define IDS_PRINT_NO                2051
#define IDS_PRINTING                2052
#define IDS_PRINTING_HISTORY        2053
#define IDS_PRINT_DOCUMENT          2054
#define IDS_CANT_PRINT              2055

// Move, copy and delete with versions
#define IDS_CONFIRM_DELETE_ONE      2100
#define IDS_CONFIRM_DELETE_MANY     2101
#define IDS_ARCHIVE_EXISTS          2110
#define IDS_FILE_EXISTS             2111
#define IDS_COPY_FAILED             2112
#define IDS_MOVE_FAILED             2113
#define IDS_MOVE_ONE_TITLE          2170
#define IDS_COPY_ONE_TITLE          2171
#define IDS_MOVE_MANY_TITLE         2172
#define IDS_COPY_MANY_TITLE         2173
#define IDS_COPYING                 2174
#define IDS_MOVING                  2175
#define IDS_MOVE_COPY_PROGRESS      2176
#define IDS_DELETING                2177
#define IDS_DELETING_FILE           2178
// Template of the Open dialog as folder chooser (several files)
#define IDD_FOLDER_CHOOSER          19000

// Limits and progress
#define IDS_MAX_TEMP_RANGE          2200
#define IDS_VERSIONING_FILE         2300
#define IDS_VERSIONING              2301
#define IDS_TOO_MANY_TEMPORARY      2302
#define IDS_HELP_BUTTON             2304

// About box
#define IDS_ABOUT_PRODUCT           20000
#define IDS_ABOUT_VERSION           20001
#define IDS_ABOUT_LINE_3            20003
#define IDS_ABOUT_RIGHTS            20004
#define IDS_ABOUT_LINE_5            20005

// Dialogs of the save and retrieve flows, the "What's This?" menu and the
// help tables (custom resources of type RT_HELP_TABLE, named by dialog id)
#define RT_HELP_TABLE               4096
#define IDD_SAVE_PROPERTIES         105
#define IDD_RETRIEVE_AS             112
#define IDD_NEW_VERSION             113
#define IDD_PROGRESS                126
#define IDD_ABOUT                   130
#define IDM_WHATS_THIS_MENU         131
#define IDM_WHATS_THIS              40020

// Save Properties (105)
#define IDC_PERMANENT               1003
#define IDC_COMMENT                 1004
// New Version (113)
#define IDC_MAX_TEMPORARY_SPIN      1000
#define IDC_MAX_TEMPORARY           1001
#define IDC_USE_COMPRESSION         1031
#define IDC_SINGLE_LOCATION         1032
#define IDC_FIRST_PERMANENT         1033
// Retrieve As (112)
#define IDC_BROWSE                  1000
#define IDC_RETRIEVE_PATH           1004
// Progress (126)
#define IDC_PROGRESS_BAR            1042
#define IDC_PROGRESS_TEXT           1043
// About (130)
#define IDC_ABOUT_VERSION           1046
#define IDC_ABOUT_RIGHTS            1047
#define IDC_ABOUT_LINE_5            1048
#define IDC_ABOUT_LINE_3            1049
#define IDC_ABOUT_PRODUCT           1050

// History page (102), its toolbar and the version list
#define IDD_HISTORY_PAGE            102
#define IDI_CHECK_EMPTY             110
#define IDI_CHECK_TICKED            111
#define IDB_HISTORY_TOOLBAR         136
#define IDC_HISTORY_SPIN            1003
#define IDC_HISTORY_COMPRESSED      1044
#define IDC_HISTORY_LIMIT_LABEL     1034
#define IDC_HISTORY_LIMIT           1035
#define IDC_HISTORY_LIST            1026
#define IDC_HISTORY_COMMENT         1058
#define IDC_HISTORY_TOOLBAR_PLACE   1060
#define IDC_READONLY_COMMENT        1063
#define IDC_HISTORY_TOOLBAR         11060
#define IDC_TOOL_SAVE_AS            1061
#define IDC_TOOL_DELETE             1062
#define IDC_TOOL_PRINT_HISTORY      1063
#define IDC_TOOL_SETTINGS           1064
#define IDC_TOOL_ABOUT              1065

// Retrieve Version dialog
#define IDD_RETRIEVE_VERSION        124
#define IDC_RETRIEVE_LIST           1038
#define IDC_RETRIEVE_BUTTON         1041
#define IDC_RETRIEVE_COMMENT        1063

// Outcomes of saves, moves, copies and deletions that the user must hear
// of: why a file was not saved, the summary of a save of several files,
// and the refusals of the file commands. Outside every range above.
#define IDS_SAVE_REFUSED            3000
#define IDS_SAVE_SUMMARY_SAVED      3001
#define IDS_SAVE_SUMMARY_UNCHANGED  3002
#define IDS_SAVE_SUMMARY_EMPTY      3003
#define IDS_SAVE_SUMMARY_EXCLUDED   3004
#define IDS_SAVE_SUMMARY_FAILED     3005
#define IDS_SAVE_SUMMARY_CANCELLED  3006
#define IDS_SAVE_SUMMARY_JOIN       3007
#define IDS_SAVE_SUMMARY_FAILURE    3008
#define IDS_SAVE_SUMMARY_MORE       3009
#define IDS_SAVE_SUMMARY_END        3010
#define IDS_ARCHIVE_DAMAGED_ASK     3011
#define IDS_ARCHIVE_SET_ASIDE_FAILED 3012
#define IDS_VERSION_NOT_DELETED     3013
#define IDS_SAVE_SUMMARY_LIST       3014
#define IDS_MOVE_BUSY               3020
#define IDS_COPY_BUSY               3021
#define IDS_DELETE_BUSY             3022
#define IDS_DELETE_FAILED           3023
#define IDS_DELETE_ARCHIVE_KEPT     3024
#define IDS_FOLDER_MISSING          3030
#define IDS_NO_SHORT_NAME           3031
#define IDS_SIZE_GB                 3032
#define IDS_SIZE_MB                 3033
#define IDS_SIZE_TB                 3034

// Reasons, each a clause that completes "<file> was not saved: ..."
#define IDS_REASON_BUSY             3100
#define IDS_REASON_DAMAGED          3101
#define IDS_REASON_NEWER_ENGINE     3102
#define IDS_REASON_READ_ONLY        3103
#define IDS_REASON_UNREACHABLE      3104
#define IDS_REASON_DISK_FULL        3105
#define IDS_REASON_TOO_LARGE        3106
#define IDS_REASON_IN_USE           3107
#define IDS_REASON_UNREADABLE       3108
#define IDS_REASON_FILE_GONE        3109
#define IDS_REASON_NUMBERS_USED_UP  3110
#define IDS_REASON_ARCHIVE_GONE     3111
#define IDS_REASON_PATH_TOO_LONG    3112
#define IDS_REASON_FOLDER_MISSING   3113
#define IDS_REASON_NO_SHORT_NAME    3114
#define IDS_REASON_CANT_CREATE_FOLDER 3115
#define IDS_REASON_OUT_OF_MEMORY    3116
#define IDS_REASON_OTHER            3117
#define IDS_REASON_IS_ARCHIVE       3118
#define IDS_REASON_ARCHIVE_APPEARED 3119

#endif
