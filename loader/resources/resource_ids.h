// Identifiers of kickoff's resources, shared by the code and kickoff.rc.
#pragma once

#define IDS_CANNOT_OPEN_SCRIPT   1
#define IDS_APPLICATION_NAME     2
#define IDS_APPLICATION_FILE     3
#define IDS_REMOVING_TEMP_FILES  4
#define IDS_REMOVING_FILE        5
#define IDS_INITIALIZING_SETUP   6
#define IDS_WIZARD_TITLE         7
#define IDS_RUNNING_APPS_NOTICE  8
#define IDS_ERROR_CREATING       9
#define IDS_ERROR_CAPTION        10
#define IDS_UNKNOWN_ERROR        11

#define IDI_KICKOFF              128

#define IDD_RUNNING_APPS         137
#define IDC_RUNNING_APPS_TEXT    1006
#define IDC_RUNNING_APPS_LIST    1007
