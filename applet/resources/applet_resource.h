// Resource identifiers of keepcpl.cpl. Its string table extends keepshel's
// (the value names and the shared messages) with ids from 3000 on, which
// keepshel does not use.
#ifndef KEEPCPL_APPLET_RESOURCE_H
#define KEEPCPL_APPLET_RESOURCE_H

#define IDI_APPLET                  100
#define IDD_SETTINGS                101

// Applet texts
#define IDS_APPLET_NAME             3000
#define IDS_APPLET_INFO             3001
#define IDS_BROWSE_TITLE            3002

// Refusals of the settings dialog
#define IDS_TEXT_TOO_LONG           3010
#define IDS_FOLDER_NOT_FULL         3011
#define IDS_FOLDER_NOT_CREATED      3012
#define IDS_SETTINGS_NOT_SAVED      3013

// Names of the text fields, for the refusal of a text too long
#define IDS_FIELD_ARCHIVE_FOLDER    3020
#define IDS_FIELD_EXCLUDED          3021
#define IDS_FIELD_HELP_FOLDER       3022

// Settings dialog (101)
#define IDC_ENABLE_VERSIONING       1100
#define IDC_USE_COMPRESSION_NEW     1101
#define IDC_SINGLE_LOCATION_NEW     1102
#define IDC_MAX_TEMP                1103
#define IDC_MAX_TEMP_SPIN           1104
#define IDC_ARCHIVE_FOLDER          1105
#define IDC_BROWSE_FOLDER           1106
#define IDC_EXCLUDED                1107
#define IDC_HELP_FOLDER             1108
#define IDC_APPLY                   1109

#endif
