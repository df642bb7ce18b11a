#include "paths.h"

#include <cstdlib>
#include <cstring>

#include "handles.h"
#include "module.h"

void SplitPath(const char* path, char* folder, char* name) {
    char drive[_MAX_DRIVE] = "", dir[MAX_PATH] = "", base[MAX_PATH] = "", ext[MAX_PATH] = "";
    if (folder) folder[0] = '\0';
    if (name) name[0] = '\0';
    if (strlen(path) >= MAX_PATH) return;
    if (_splitpath_s(path, drive, sizeof drive, dir, sizeof dir, base, sizeof base, ext, sizeof ext) != 0) return;
    if (folder) {
        FormatText(folder, MAX_PATH, "%s%s", drive, dir);
        size_t length = strlen(folder);
        if (length > 0 && folder[length - 1] == '\\') folder[length - 1] = '\0';
    }
    if (name) FormatText(name, MAX_PATH, "%s%s", base, ext);
}

bool FileExists(const char* path) {
    WIN32_FIND_DATAA data;
    FindHandle search(FindFirstFileA(path, &data));
    return search && !(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool IsZeroLengthFile(const char* path) {
    FileHandle file(CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!file) return false;
    // All 64 bits: a file of exactly 4 GiB is not empty.
    LARGE_INTEGER size{};
    return GetFileSizeEx(file.get(), &size) && size.QuadPart == 0;
}

bool FolderExists(const char* path) {
    char folder[MAX_PATH + 1];
    if (!CopyText(folder, MAX_PATH, path)) return false;
    if (strlen(folder) == 2 && folder[1] == ':') strcat(folder, "\\");

    char current[MAX_PATH];
    DWORD length = GetCurrentDirectoryA(sizeof current, current);
    if (length == 0 || length >= sizeof current) {
        // The current directory cannot be put back: ask without moving.
        DWORD attributes = GetFileAttributesA(folder);
        return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
    }
    if (!SetCurrentDirectoryA(folder)) return false;
    SetCurrentDirectoryA(current);
    return true;
}

bool CreateFolderPath(const char* path) {
    char copy[MAX_PATH + 1];
    if (!CopyText(copy, MAX_PATH, path)) return false;
    size_t length = strlen(copy);
    if (length == 0 || copy[length - 1] != '\\') strcat(copy, "\\");

    char drive[_MAX_DRIVE], dir[MAX_PATH + 1], base[MAX_PATH], ext[MAX_PATH];
    if (_splitpath_s(copy, drive, sizeof drive, dir, sizeof dir, base, sizeof base, ext, sizeof ext) != 0)
        return false;

    // Every backslash of the directory part but a leading one ends a folder
    // to create; parents that exist already are no failure, the last one is.
    bool created = true;
    for (size_t i = 1; dir[i]; ++i) {
        if (dir[i] != '\\') continue;
        char folder[MAX_PATH + _MAX_DRIVE];
        FormatText(folder, sizeof folder, "%s%.*s", drive, static_cast<int>(i), dir);
        created = CreateDirectoryA(folder, nullptr) != FALSE;
    }
    return created;
}

ArchiveNameResult MakeArchiveName(const char* path, char* name) {
    name[0] = '\0';
    char shortPath[MAX_PATH];
    DWORD length = 0;
    if (FileExists(path)) {
        length = GetShortPathNameA(path, shortPath, sizeof shortPath);
    } else {
        // Only an existing file has a short form: make one for a moment.
        FileHandle probe(CreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
        length = GetShortPathNameA(path, shortPath, sizeof shortPath);
        if (probe) {
            probe.reset();
            DeleteFileA(path);
        }
    }
    if (length == 0) return ArchiveNameResult::NoShortForm;
    if (length >= sizeof shortPath) return ArchiveNameResult::TooLong;
    return ArchiveNameFromShortPath(shortPath, name);
}

ArchiveNameResult ArchiveNameFromShortPath(const char* shortPath, char* name) {
    name[0] = '\0';
    if (FormatText(name, MAX_PATH, "%s.ks", shortPath) >= MAX_PATH) {
        name[0] = '\0';
        return ArchiveNameResult::TooLong;
    }
    for (char* c = name; *c; ++c) {
        if (*c == '.' || *c == ':' || *c == '\\') *c = '$';
    }
    // The suffix keeps its dot.
    name[strlen(name) - 3] = '.';
    return ArchiveNameResult::Made;
}

HCURSOR ShowWaitCursor() { return SetCursor(LoadCursor(nullptr, IDC_WAIT)); }
