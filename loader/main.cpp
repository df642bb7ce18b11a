#include <windows.h>

#include "loader_app.h"
#include "process_snapshot.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
    // Decided once, before anything looks for a process.
    kickoff::DetectSnapshotSupport();
    kickoff::CLoaderApp app;
    return app.Run(instance, kickoff::CommandLineTailOf(::GetCommandLineA()).c_str());
}
