#include "launch_command.h"

namespace kickoff {

std::string ComposeLaunchCommand(const std::string& entry) {
    std::string text = entry;
    if (!text.empty()) text.pop_back();

    std::string first = text;
    std::string rest;
    const std::size_t firstComma = text.find(',');
    if (firstComma != std::string::npos) {
        first = text.substr(0, firstComma);
        rest = text.substr(firstComma + 1);
    }
    // Only blanks are trimmed; tabs are kept as written.
    const std::size_t lastNonBlank = rest.find_last_not_of(' ');
    rest.erase(lastNonBlank == std::string::npos ? 0 : lastNonBlank + 1);

    std::string second;
    std::string third = rest;
    const std::size_t secondComma = rest.find(',');
    if (secondComma != std::string::npos) {
        second = rest.substr(0, secondComma);
        third = rest.substr(secondComma + 1);
    }
    return first + ' ' + second + ' ' + third;
}

}  // namespace kickoff
