#include "loader_app.h"

#include "framework/resource_text.h"
#include "progress_window.h"
#include "resources/resource_ids.h"
#include "run_script.h"

namespace kickoff {

bool CLoaderApp::InitInstance() {
    // Dialogs take the system's 3D look by themselves on every Windows we
    // run on, so there is nothing to switch on for it.
    const std::string title = LoadResString(IDS_WIZARD_TITLE);
    {
        CSetupProgressWnd progress;
        progress.Create(nullptr, title.c_str(), false);
        RunScript(progress, CommandLineTail());
    }
    return false;
}

}  // namespace kickoff
