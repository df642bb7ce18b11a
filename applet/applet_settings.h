// The settings the applet edits, as one record: read from the settings key
// with the defaults keepshel uses, checked, and written back.
#ifndef KEEPCPL_APPLET_SETTINGS_H
#define KEEPCPL_APPLET_SETTINGS_H

#include <windows.h>

#include <cstddef>

// Text values are registry strings of at most 259 characters.
constexpr size_t kSettingTextSize = MAX_PATH;
constexpr DWORD kFewestTemporaryVersions = 1;
constexpr DWORD kMostTemporaryVersions = 32767;

struct AppletSettings {
    DWORD versioning;       // "EnableVersionControl": the menu and history controls
    DWORD compression;      // "UseCompression": first choice for a new archive
    DWORD singleLocation;   // "SingleLocation": first choice for a new archive
    DWORD maxTemporary;     // "MaxTempVersions": first limit for a new archive
    char archiveFolder[kSettingTextSize];  // "VersionsPath": empty keeps archives beside their files
    char excluded[kSettingTextSize];       // "VersionExclude": extensions without dots, comma-separated
    char helpFolder[kSettingTextSize];     // "HelpPath": empty finds the help file by name
};

// Fills the record from the settings key; every value that is absent or
// does not fit takes keepshel's default.
void LoadAppletSettings(AppletSettings* settings);

// Turns a typed list of extensions into the stored form: entries split at
// commas, every dot and blank removed, empty entries dropped (" .tmp, bak"
// gives "tmp,bak"). keepshel compares entries exactly, so ".tmp" or " bak"
// would never match. Answers false when the result does not fit `size`.
bool NormalizeExtensionList(const char* typed, char* list, size_t size);

// Removes leading and trailing blanks in place.
void TrimBlanks(char* text);

// A drive path ("C:\...") or a network path ("\\server\share...").
bool IsFullPath(const char* path);

// Trims the folders and normalizes the extension list in place.
void TidyAppletSettings(AppletSettings* settings);

// What keeps a record from being stored; the message string says why.
enum class SettingsField { None, MaxTemporary, ArchiveFolder, Excluded, HelpFolder };
struct SettingsProblem {
    SettingsField field;
    UINT messageId;  // 0 when there is no problem
};
SettingsProblem ValidateAppletSettings(const AppletSettings& settings);

// Makes sure the central archive folder exists, creating it with its
// parents. True when it is there afterwards (or none is set).
bool EnsureArchiveFolder(const char* folder);

// Writes every value of the record; an empty text removes its value so
// keepshel falls back to its default. False when any write failed.
bool StoreAppletSettings(const AppletSettings& settings);

#endif
