// Starting the setup program named by the script.
#pragma once

#include <string>

namespace kickoff {

// Starts the command line as it is and returns when the started process has
// ended, or at once when it could not start (silently). False only when the
// start could not even be handed to the worker thread.
bool LaunchAndWait(const std::string& commandLine);

// Parses "[cd <dir> ;] <program> [arguments]" and starts the program through
// its file association without waiting; failures are shown to the user.
bool LaunchDetached(const std::string& command);

}  // namespace kickoff
