// Small fixtures shared by keepshel's tests: temporary folders that remove
// themselves, the settings key put back as it was, files with content.
#ifndef KEEPSHEL_TEST_HELPERS_H
#define KEEPSHEL_TEST_HELPERS_H

#include <windows.h>
#include <shlwapi.h>
#include <winioctl.h>

#include <string>

#include "archive/module.h"
#include "file_helpers.h"

namespace kstest {

inline const char* kSettingsKey = "Software\\Zemla\\Keepsake\\Settings";

// Removes a folder and everything below it.
inline void RemoveTree(const std::string& folder) {
    WIN32_FIND_DATAA data;
    HANDLE search = FindFirstFileA((folder + "\\*").c_str(), &data);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            std::string name = data.cFileName;
            if (name == "." || name == "..") continue;
            std::string path = folder + "\\" + name;
            SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
            if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                RemoveTree(path);
            else
                DeleteFileA(path.c_str());
        } while (FindNextFileA(search, &data));
        FindClose(search);
    }
    RemoveDirectoryA(folder.c_str());
}

// A fresh folder below `parent` (the system temporary folder by default),
// removed with its content at the end of the test.
class TempFolder {
public:
    explicit TempFolder(const std::string& parent = "") {
        std::string base = parent;
        if (base.empty()) {
            char temp[MAX_PATH];
            GetTempPathA(sizeof temp, temp);
            base = temp;
        }
        if (!base.empty() && base.back() == '\\') base.pop_back();
        static LONG counter = 0;
        for (;;) {
            path_ = base + "\\kst" + std::to_string(GetCurrentProcessId() % 10000) + "_" +
                    std::to_string(InterlockedIncrement(&counter));
            if (CreateDirectoryA(path_.c_str(), nullptr)) break;
            if (GetLastError() != ERROR_ALREADY_EXISTS) break;
        }
    }
    ~TempFolder() { RemoveTree(path_); }
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    const std::string& path() const { return path_; }
    std::string operator/(const std::string& name) const { return path_ + "\\" + name; }

private:
    std::string path_;
};

inline bool PathPresent(const std::string& path) { return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

inline std::string ShortPath(const std::string& path) {
    char buffer[MAX_PATH];
    DWORD length = GetShortPathNameA(path.c_str(), buffer, sizeof buffer);
    return length > 0 && length < sizeof buffer ? std::string(buffer) : std::string();
}

// The settings key starts absent and is removed again at the end, so every
// test sees the defaults unless it writes values itself.
class SettingsScope {
public:
    SettingsScope() { Remove(); }
    ~SettingsScope() { Remove(); }
    SettingsScope(const SettingsScope&) = delete;
    SettingsScope& operator=(const SettingsScope&) = delete;

    void SetNumber(const char* name, DWORD value) const {
        HKEY key = Create();
        RegSetValueExA(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof value);
        RegCloseKey(key);
    }
    void SetString(const char* name, const std::string& value) const {
        HKEY key = Create();
        RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                       static_cast<DWORD>(value.size() + 1));
        RegCloseKey(key);
    }
    static bool KeyExists() {
        HKEY key = nullptr;
        if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kSettingsKey, 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
        RegCloseKey(key);
        return true;
    }

private:
    static HKEY Create() {
        HKEY key = nullptr;
        RegCreateKeyExA(HKEY_LOCAL_MACHINE, kSettingsKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr);
        return key;
    }
    static void Remove() {
        // Only what the tests made: the product's key and its two parents
        // when they hold nothing else.
        SHDeleteKeyA(HKEY_LOCAL_MACHINE, kSettingsKey);
        SHDeleteEmptyKeyA(HKEY_LOCAL_MACHINE, "Software\\Zemla\\Keepsake");
        SHDeleteEmptyKeyA(HKEY_LOCAL_MACHINE, "Software\\Zemla");
    }
};

// A file of `size` bytes that takes no room: its content is never read.
inline bool WriteSparseFile(const std::string& path, LONGLONG size) {
    HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    DWORD ignored = 0;
    DeviceIoControl(file, FSCTL_SET_SPARSE, nullptr, 0, nullptr, 0, &ignored, nullptr);
    LARGE_INTEGER end;
    end.QuadPart = size;
    bool ok = SetFilePointerEx(file, end, nullptr, FILE_BEGIN) && SetEndOfFile(file);
    CloseHandle(file);
    return ok;
}

// The test program carries keepshel's resources itself.
inline void UseOwnResources() { SetModuleInstance(GetModuleHandleA(nullptr)); }

}  // namespace kstest

#endif
