// keepshel's settings: values of one machine-wide registry key, each named
// by a string resource. Nothing is cached: every call opens the key anew.
#ifndef KEEPSHEL_SETTINGS_H
#define KEEPSHEL_SETTINGS_H

#include <windows.h>

// Opens the settings key with full access, creating missing components.
// Null when a component can be neither opened nor created. Caller closes.
HKEY OpenSettingsKey();

// Reads the text value named by string `valueId`. `size` is the buffer size
// in, the bytes read out. False (buffer untouched beyond a terminator) when
// the value is missing or does not fit with its terminator.
bool ReadSettingString(UINT valueId, char* buffer, DWORD* size);

// Reads the 4-byte value named by string `valueId`; `number` is left as it
// was on failure, so callers put their default in first.
bool ReadSettingNumber(UINT valueId, DWORD* number);

// True when the path's extension (or its short form's) is an entry of the
// comma-separated list in the value named by string `listId`.
bool IsExcluded(const char* path, UINT listId);

// The same list read once, for asking about many paths.
class ExclusionList {
public:
    explicit ExclusionList(UINT listId);
    bool present() const { return present_; }
    // `shortPath` is the short form of `path` (or just its short name), or
    // null when there is none.
    bool Matches(const char* path, const char* shortPath) const;

private:
    char list_[MAX_PATH];
    bool present_ = false;
};

// Stores the widths of the history list's columns (the only values keepshel
// writes). `count` is at most 4.
void WriteHistoryColumnWidths(const int* widths, int count);

// Starts the settings applet through the control-panel runner; answers the
// last WinExec result (above 31 means started).
int StartSettingsApplet();

#endif
