// Turning the first launch entry of a script into the command to run.
#pragma once

#include <string>

namespace kickoff {

// The entry's last character is dropped, then the text is split at its first
// two commas (trailing blanks after the first comma removed) and the three
// parts are joined by single blanks. Without a second comma the middle part
// is empty, which leaves two blanks in a row.
std::string ComposeLaunchCommand(const std::string& entry);

}  // namespace kickoff
