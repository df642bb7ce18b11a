#include "script_reader.h"

namespace kickoff {

bool ReadScriptLine(std::FILE* script, std::string& line) {
    line.clear();
    int ch = std::fgetc(script);
    if (ch == EOF) return false;
    for (; ch != EOF && ch != '\n'; ch = std::fgetc(script)) {
        if (line.size() < kMaxScriptLine) line.push_back(static_cast<char>(ch));
    }
    return true;
}

void ReadSection(std::FILE* script, const char* header, std::vector<std::string>& entries) {
    // Every section is looked for from the start, so the order of the
    // sections in the file does not matter.
    std::clearerr(script);
    if (std::fseek(script, 0, SEEK_SET) != 0) return;

    std::string line;
    bool inSection = false;
    while (ReadScriptLine(script, line)) {
        if (!inSection) {
            inSection = (line == header);
            continue;
        }
        if (line.empty() || line[0] == ';') continue;
        if (line[0] == '[') return;  // any other bracket line closes the section
        entries.push_back(line);
    }
}

}  // namespace kickoff
