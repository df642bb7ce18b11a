// The plain exports through which other programs reach keepshel: the same
// actions as the shell menu, for one file given by its full path. No
// exception leaves them.
#include <windows.h>

#include <cstdint>

#include "history_window.h"
#include "save_command.h"
#include "../archive/archive_context.h"
#include "../history/retrieve_version_dialog.h"
#include "../archive/settings.h"
#include "../history/history_page.h"

namespace {

// A version count that could not be read.
constexpr int kUnreadable = -1;
// No window was shown: the path was refused, and the user told why (as
// PropertySheet and DialogBox answer when they show nothing).
constexpr int kNoWindow = -1;
// The engine's status for "not enough memory": what a failed allocation
// answers, since 0 would read as a first version saved.
constexpr int kStatusOutOfMemory = 11;

}  // namespace

extern "C" int WINAPI KSArchive(HWND owner, const char* path) {
    try {
        return SaveOneFileVersion(owner, path);
    } catch (...) {
        return kStatusOutOfMemory;
    }
}

// The history window of the file; 2 without a new window when one for the
// same file name is open already.
extern "C" int WINAPI KSRetrieve(HWND owner, const char* path) {
    try {
        ArchiveContext context;
        // After a refusal no window: one titled without a name would be
        // shared by every refused path.
        if (!context.Resolve(path ? path : "", true, owner)) return kNoWindow;
        HistoryPage page(&context);
        return ShowHistoryWindow(owner, &page);
    } catch (...) {
        return 0;
    }
}

// The Retrieve Version dialog of the file; the chosen version goes to
// `target`, or with none to a path the user picks. An empty target names
// no file: the user picks one rather than see a retrieval write nothing.
extern "C" int WINAPI KSRetrieveEx(HWND owner, const char* path, const char* target) {
    try {
        ArchiveContext context;
        if (!context.Resolve(path ? path : "", true, owner)) return kNoWindow;
        return ShowRetrieveVersionDialog(owner, &context, target && target[0] ? target : nullptr);
    } catch (...) {
        return 0;
    }
}

// facts[0]: 1 when the file has an archive, else 0; facts[1]: its number
// of versions, 0 without an archive, -1 for an archive that cannot be read.
// Answers the same count. Never shows anything.
extern "C" int WINAPI KSInfo(const char* path, int32_t* facts) {
    try {
        ArchiveContext context;
        int exists = 0;
        int count = 0;
        if (path && context.Resolve(path, false, nullptr)) {
            exists = context.ArchiveExists() ? 1 : 0;
            if (exists) count = context.VersionCount();
        }
        if (facts) {
            facts[0] = exists;
            facts[1] = count;
        }
        return count;
    } catch (...) {
        if (facts) {
            facts[0] = 0;
            facts[1] = kUnreadable;
        }
        return kUnreadable;
    }
}

extern "C" int WINAPI KSControlPanel() {
    try {
        return StartSettingsApplet();
    } catch (...) {
        return 0;
    }
}
