#include "settings.h"

#include <cstdlib>
#include <cstring>

#include "handles.h"
#include "module.h"
#include "../resources/resource.h"

namespace {

// Value names are at most 255 characters.
bool LoadValueName(UINT id, char (&name)[256]) { return LoadText(id, name, sizeof name) > 0; }

// A standard user may read the machine-wide key but not open it for
// writing; reads then still see the settings instead of the defaults.
HKEY OpenSettingsKeyForReading() {
    HKEY key = OpenSettingsKey();
    if (key) return key;
    char path[256];
    if (!LoadValueName(IDS_SETTINGS_KEY, path)) return nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, path, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS) return nullptr;
    return key;
}

}  // namespace

HKEY OpenSettingsKey() {
    char path[256];
    if (!LoadValueName(IDS_SETTINGS_KEY, path)) return nullptr;

    // Each component in turn, so a missing parent is made on the way down.
    RegKey current;
    HKEY parent = HKEY_LOCAL_MACHINE;
    for (char* component = path; *component;) {
        char* end = strchr(component, '\\');
        if (end) *end = '\0';
        RegKey next;
        DWORD disposition = 0;
        if (RegCreateKeyExA(parent, component, 0, const_cast<char*>(""), REG_OPTION_NON_VOLATILE,
                            KEY_ALL_ACCESS, nullptr, next.out(), &disposition) != ERROR_SUCCESS)
            return nullptr;
        current = static_cast<RegKey&&>(next);
        parent = current.get();
        if (!end) break;
        component = end + 1;
    }
    return current.release();
}

bool ReadSettingString(UINT valueId, char* buffer, DWORD* size) {
    if (!buffer || !size || *size == 0) return false;
    char name[256];
    if (!LoadValueName(valueId, name)) return false;
    RegKey key(OpenSettingsKeyForReading());
    if (!key) return false;

    DWORD capacity = *size;
    DWORD length = capacity;
    if (RegQueryValueExA(key.get(), name, nullptr, nullptr, reinterpret_cast<BYTE*>(buffer), &length) !=
        ERROR_SUCCESS) {
        return false;
    }
    // The registry does not promise a terminator: a value that fills the
    // buffer without one does not fit.
    if (length >= capacity && buffer[capacity - 1] != '\0') {
        buffer[capacity - 1] = '\0';
        return false;
    }
    if (length < capacity) buffer[length] = '\0';
    *size = length;
    return true;
}

bool ReadSettingNumber(UINT valueId, DWORD* number) {
    char name[256];
    if (!number || !LoadValueName(valueId, name)) return false;
    RegKey key(OpenSettingsKeyForReading());
    if (!key) return false;
    DWORD value = 0;
    DWORD length = sizeof value;
    if (RegQueryValueExA(key.get(), name, nullptr, nullptr, reinterpret_cast<BYTE*>(&value), &length) !=
        ERROR_SUCCESS) {
        return false;
    }
    *number = value;
    return true;
}

namespace {

// The extension of `path` without its dot, into `ext` (MAX_PATH).
void ExtensionOf(const char* path, char* ext) {
    char drive[_MAX_DRIVE], dir[MAX_PATH], name[MAX_PATH], dotted[MAX_PATH];
    ext[0] = '\0';
    if (strlen(path) >= MAX_PATH) return;
    if (_splitpath_s(path, drive, sizeof drive, dir, sizeof dir, name, sizeof name, dotted, sizeof dotted) != 0)
        return;
    CopyText(ext, MAX_PATH, dotted[0] == '.' ? dotted + 1 : dotted);
}

}  // namespace

ExclusionList::ExclusionList(UINT listId) {
    DWORD size = sizeof list_;
    present_ = ReadSettingString(listId, list_, &size);
    if (!present_) list_[0] = '\0';
}

bool ExclusionList::Matches(const char* path, const char* shortPath) const {
    if (!present_) return false;
    char longExt[MAX_PATH], shortExt[MAX_PATH];
    ExtensionOf(path, longExt);
    shortExt[0] = '\0';
    if (shortPath) ExtensionOf(shortPath, shortExt);
    if (!longExt[0] && !shortExt[0]) return false;

    // Entries are taken as written: no blanks are trimmed, so " bak" never
    // matches and neither does ".tmp".
    for (const char* entry = list_; *entry;) {
        const char* comma = strchr(entry, ',');
        size_t length = comma ? static_cast<size_t>(comma - entry) : strlen(entry);
        auto same = [&](const char* ext) {
            return ext[0] && strlen(ext) == length && _strnicmp(entry, ext, length) == 0;
        };
        if (length > 0 && (same(longExt) || same(shortExt))) return true;
        if (!comma) break;
        entry = comma + 1;
    }
    return false;
}

bool IsExcluded(const char* path, UINT listId) {
    ExclusionList list(listId);
    if (!list.present()) return false;
    char shortPath[MAX_PATH];
    DWORD shortLength = GetShortPathNameA(path, shortPath, sizeof shortPath);
    bool haveShort = shortLength > 0 && shortLength < sizeof shortPath;
    return list.Matches(path, haveShort ? shortPath : nullptr);
}

void WriteHistoryColumnWidths(const int* widths, int count) {
    RegKey key(OpenSettingsKey());
    if (!key) return;  // no rights on the machine-wide key: widths are not kept
    for (int i = 0; i < count && i < 4; ++i) {
        char name[256];
        if (!LoadValueName(IDS_HISTORY_FIELD_1 + i, name)) continue;
        DWORD value = static_cast<DWORD>(widths[i]);
        RegSetValueExA(key.get(), name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof value);
    }
}

int StartSettingsApplet() {
    char systemFolder[MAX_PATH] = "", windowsFolder[MAX_PATH] = "", applet[MAX_PATH];
    UINT length = GetSystemDirectoryA(systemFolder, sizeof systemFolder);
    if (length >= sizeof systemFolder) systemFolder[0] = '\0';
    length = GetWindowsDirectoryA(windowsFolder, sizeof windowsFolder);
    if (length >= sizeof windowsFolder) windowsFolder[0] = '\0';
    LoadText(IDS_APPLET_FILE, applet, sizeof applet);

    // The runner lies in the Windows folder on older systems and in the
    // system folder on newer ones: try the first, then the second.
    static const char kCommand[] = "%s\\RunDLL32 shell32.dll,Control_RunDLL %s\\%s";
    char command[3 * MAX_PATH + sizeof kCommand];
    FormatText(command, sizeof command, kCommand, windowsFolder, systemFolder, applet);
    UINT result = WinExec(command, SW_SHOW);
    if (result == ERROR_FILE_NOT_FOUND) {
        FormatText(command, sizeof command, kCommand, systemFolder, systemFolder, applet);
        result = WinExec(command, SW_SHOW);
    }
    return static_cast<int>(result);
}
