// Reading the loader script: one line at a time, one section at a time.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

namespace kickoff {

// A script line holds at most this many characters; longer lines are cut.
constexpr std::size_t kMaxScriptLine = 251;

// Reads the next line (without its line feed) into `line`, cut to
// kMaxScriptLine characters; the rest of an over-long line is consumed and
// dropped so that it does not turn into a line of its own. Returns false
// only when the end of the file was reached before any character was read.
bool ReadScriptLine(std::FILE* script, std::string& line);

// Appends to `entries` the entries of the first section whose header line
// equals `header` exactly. Later sections with the same header are never read.
void ReadSection(std::FILE* script, const char* header, std::vector<std::string>& entries);

}  // namespace kickoff
