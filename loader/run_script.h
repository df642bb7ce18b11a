// The loader's one run: delete files, detect running applications, ask,
// close them and start the setup program.
#pragma once

#include <string>

namespace kickoff {

class CSetupProgressWnd;

// The script named by the command-line tail (used as it is), or
// "setupbld.qnf" in the current folder when the tail is empty.
std::string ScriptPathFromCommandLine(const std::string& commandLineTail);

void RunScript(CSetupProgressWnd& progress, const std::string& commandLineTail);

}  // namespace kickoff
