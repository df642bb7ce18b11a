#include "applet_settings.h"

#include <shlobj.h>

#include <cstring>

#include "archive/handles.h"
#include "archive/module.h"
#include "archive/settings.h"
#include "applet_resource.h"
#include "resource.h"

namespace {

// keepshel's defaults when a value is absent.
constexpr DWORD kDefaultVersioning = 0;
constexpr DWORD kDefaultCompression = 0;
constexpr DWORD kDefaultSingleLocation = 1;
constexpr DWORD kDefaultMaxTemporary = 10;

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

DWORD NumberOr(UINT valueId, DWORD fallback) {
    DWORD number = fallback;
    if (!ReadSettingNumber(valueId, &number)) number = fallback;
    return number;
}

// An absent value, or one longer than 259 characters, reads as empty:
// keepshel then uses its default too.
void TextOrEmpty(UINT valueId, char (&text)[kSettingTextSize]) {
    DWORD size = sizeof text;
    if (!ReadSettingString(valueId, text, &size)) text[0] = '\0';
}

bool LoadValueName(UINT valueId, char (&name)[256]) { return LoadText(valueId, name, sizeof name) > 0; }

bool WriteNumber(HKEY key, UINT valueId, DWORD number) {
    char name[256];
    if (!LoadValueName(valueId, name)) return false;
    return RegSetValueExA(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&number), sizeof number) ==
           ERROR_SUCCESS;
}

bool WriteText(HKEY key, UINT valueId, const char* text) {
    char name[256];
    if (!LoadValueName(valueId, name)) return false;
    if (!text[0]) {
        LONG removed = RegDeleteValueA(key, name);
        return removed == ERROR_SUCCESS || removed == ERROR_FILE_NOT_FOUND;
    }
    return RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text),
                          static_cast<DWORD>(strlen(text) + 1)) == ERROR_SUCCESS;
}

bool IsFolder(const char* path) {
    DWORD attributes = GetFileAttributesA(path);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

}  // namespace

void LoadAppletSettings(AppletSettings* settings) {
    settings->versioning = NumberOr(IDS_ENABLE_VERSION_CONTROL, kDefaultVersioning);
    settings->compression = NumberOr(IDS_USE_COMPRESSION, kDefaultCompression);
    settings->singleLocation = NumberOr(IDS_SINGLE_LOCATION, kDefaultSingleLocation);
    settings->maxTemporary = NumberOr(IDS_MAX_TEMP_VERSIONS, kDefaultMaxTemporary);
    TextOrEmpty(IDS_VERSIONS_PATH, settings->archiveFolder);
    TextOrEmpty(IDS_VERSION_EXCLUDE, settings->excluded);
    TextOrEmpty(IDS_HELP_PATH, settings->helpFolder);
}

bool NormalizeExtensionList(const char* typed, char* list, size_t size) {
    if (size == 0) return false;
    size_t length = 0;
    bool entryOpen = false;  // characters of the current entry were kept
    for (const char* c = typed; *c; ++c) {
        if (*c == '.' || IsBlank(*c)) continue;
        if (*c == ',') {
            entryOpen = false;
            continue;
        }
        // A separator goes in only before the first character of a
        // following entry, so empty entries leave no trace.
        size_t needed = (!entryOpen && length > 0) ? 2 : 1;
        if (length + needed >= size) {
            list[length] = '\0';
            return false;
        }
        if (!entryOpen && length > 0) list[length++] = ',';
        list[length++] = *c;
        entryOpen = true;
    }
    list[length] = '\0';
    return true;
}

void TrimBlanks(char* text) {
    char* start = text;
    while (IsBlank(*start)) ++start;
    size_t length = strlen(start);
    while (length > 0 && IsBlank(start[length - 1])) --length;
    memmove(text, start, length);
    text[length] = '\0';
}

bool IsFullPath(const char* path) {
    bool drive = ((path[0] >= 'A' && path[0] <= 'Z') || (path[0] >= 'a' && path[0] <= 'z')) && path[1] == ':' &&
                 path[2] == '\\';
    bool network = path[0] == '\\' && path[1] == '\\' && path[2] && path[2] != '\\';
    return drive || network;
}

void TidyAppletSettings(AppletSettings* settings) {
    TrimBlanks(settings->archiveFolder);
    TrimBlanks(settings->helpFolder);
    char list[kSettingTextSize];
    // Normalizing only removes characters, so the list always fits.
    if (NormalizeExtensionList(settings->excluded, list, sizeof list))
        CopyText(settings->excluded, sizeof settings->excluded, list);
}

SettingsProblem ValidateAppletSettings(const AppletSettings& settings) {
    if (settings.maxTemporary < kFewestTemporaryVersions || settings.maxTemporary > kMostTemporaryVersions)
        return {SettingsField::MaxTemporary, IDS_MAX_TEMP_RANGE};
    if (settings.archiveFolder[0] && !IsFullPath(settings.archiveFolder))
        return {SettingsField::ArchiveFolder, IDS_FOLDER_NOT_FULL};
    return {SettingsField::None, 0};
}

bool EnsureArchiveFolder(const char* folder) {
    if (!folder[0]) return true;
    // keepshel takes the folder with or without a trailing backslash; the
    // folder calls want it without (a drive's root keeps its own).
    char path[kSettingTextSize];
    if (!CopyText(path, sizeof path, folder)) return false;
    size_t length = strlen(path);
    if (length > 3 && path[length - 1] == '\\') path[length - 1] = '\0';
    if (IsFolder(path)) return true;
    // The shell's call creates every missing parent on the way.
    SHCreateDirectoryExA(nullptr, path, nullptr);
    return IsFolder(path);
}

bool StoreAppletSettings(const AppletSettings& settings) {
    RegKey key(OpenSettingsKey());
    if (!key) return false;
    // Each write is tried even after one failed, so as much as possible is kept.
    bool stored = WriteNumber(key.get(), IDS_ENABLE_VERSION_CONTROL, settings.versioning ? 1 : 0);
    stored &= WriteNumber(key.get(), IDS_USE_COMPRESSION, settings.compression ? 1 : 0);
    stored &= WriteNumber(key.get(), IDS_SINGLE_LOCATION, settings.singleLocation ? 1 : 0);
    stored &= WriteNumber(key.get(), IDS_MAX_TEMP_VERSIONS, settings.maxTemporary);
    stored &= WriteText(key.get(), IDS_VERSIONS_PATH, settings.archiveFolder);
    stored &= WriteText(key.get(), IDS_VERSION_EXCLUDE, settings.excluded);
    stored &= WriteText(key.get(), IDS_HELP_PATH, settings.helpFolder);
    return stored;
}
