#include "run_script.h"

#include <windows.h>

#include <cstdio>
#include <memory>
#include <vector>

#include "framework/resource_text.h"
#include "launch.h"
#include "launch_command.h"
#include "prev_app_rule.h"
#include "process_control.h"
#include "progress_window.h"
#include "resources/resource_ids.h"
#include "running_apps_dlg.h"
#include "script_reader.h"

namespace kickoff {
namespace {

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};
using ScriptFile = std::unique_ptr<std::FILE, FileCloser>;

void DeleteListedFiles(std::FILE* script, CSetupProgressWnd& progress, const std::string& removingFile) {
    std::vector<std::string> entries;
    ReadSection(script, "[DeleteFiles]", entries);
    progress.SetRange(0, static_cast<int>(entries.size()), 1);
    progress.SetStep(1);
    for (const std::string& path : entries) {
        progress.StepIt();
        progress.SetStatus(removingFile.c_str(), path.c_str());
        std::remove(path.c_str());  // a missing or locked file is skipped
    }
}

void DetectRunningApplications(std::FILE* script, CSetupProgressWnd& progress, const std::string& initializing,
                               CRunningAppsDlg& dialog) {
    std::vector<std::string> entries;
    ReadSection(script, "[PrevAppDetect]", entries);
    progress.Reset();
    progress.SetStatus("%s", initializing.c_str());
    progress.SetRange(0, static_cast<int>(entries.size()), 1);
    for (const std::string& entry : entries) {
        progress.StepIt();
        progress.PumpMessages(true);
        PrevAppRule rule;
        if (ParsePrevAppRule(entry, rule) && RuleDetectsApplication(rule)) {
            dialog.Add(AppEntry{rule.displayName, rule.processFileName});
        }
    }
}

// Returns the command of the first launch entry, "[LaunchAndWait]" before
// "[Launch]", or an empty string when neither has one.
std::string ReadLaunchCommand(std::FILE* script, bool& wait) {
    std::vector<std::string> entries;
    ReadSection(script, "[LaunchAndWait]", entries);
    wait = !entries.empty();
    if (!wait) ReadSection(script, "[Launch]", entries);
    return entries.empty() ? std::string() : ComposeLaunchCommand(entries.front());
}

}  // namespace

std::string ScriptPathFromCommandLine(const std::string& commandLineTail) {
    return commandLineTail.empty() ? std::string("setupbld.qnf") : commandLineTail;
}

void RunScript(CSetupProgressWnd& progress, const std::string& commandLineTail) {
    const std::string cannotOpen = LoadResString(IDS_CANNOT_OPEN_SCRIPT);
    const std::string removingTemp = LoadResString(IDS_REMOVING_TEMP_FILES);
    const std::string removingFile = LoadResString(IDS_REMOVING_FILE);
    const std::string initializing = LoadResString(IDS_INITIALIZING_SETUP);
    const std::string title = LoadResString(IDS_WIZARD_TITLE);

    const std::string scriptPath = ScriptPathFromCommandLine(commandLineTail);
    ScriptFile script(std::fopen(scriptPath.c_str(), "rt"));
    if (!script) {
        ::MessageBoxA(nullptr, cannotOpen.c_str(), title.c_str(), MB_OK);
        return;
    }

    progress.PumpMessages(true);

    progress.SetStatus("%s", removingTemp.c_str());
    DeleteListedFiles(script.get(), progress, removingFile);

    CRunningAppsDlg dialog;
    DetectRunningApplications(script.get(), progress, initializing, dialog);

    bool wait = false;
    const std::string launchCommand = ReadLaunchCommand(script.get(), wait);

    script.reset();
    progress.Destroy();

    // Nothing is started unless a running application was found and the
    // user agreed to close it.
    if (dialog.Empty()) return;
    const INT_PTR answer = dialog.DoModal();
    if (answer == IDOK) {
        if (wait) {
            LaunchAndWait(launchCommand);
        } else {
            LaunchDetached(launchCommand);
        }
    } else if (answer == IDCANCEL) {
        // Only the user's Cancel removes the script; a dialog that could not
        // be shown at all leaves it for another try.
        std::remove(scriptPath.c_str());
    }
}

}  // namespace kickoff
