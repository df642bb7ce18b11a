#include "prev_app_rule.h"

#include <cstring>

namespace kickoff {

HKEY RootKeyFromName(const std::string& name) {
    static const struct {
        const char* name;
        HKEY key;
    } kRoots[] = {
        {"HKEY_CLASSES_ROOT", HKEY_CLASSES_ROOT},
        {"HKEY_LOCAL_MACHINE", HKEY_LOCAL_MACHINE},
        {"HKEY_CURRENT_USER", HKEY_CURRENT_USER},
        {"HKEY_USERS", HKEY_USERS},
    };
    for (const auto& root : kRoots) {
        if (name == root.name) return root.key;
    }
    return nullptr;
}

bool ParsePrevAppRule(const std::string& entry, PrevAppRule& rule) {
    rule = PrevAppRule();
    if (entry.size() < 3) return false;
    rule.mode = entry[0];
    // The second character is a separator of any kind and carries nothing.
    const std::string rest = entry.substr(2);

    const std::size_t backslash = rest.find('\\');
    if (backslash == std::string::npos) return false;
    rule.root = RootKeyFromName(rest.substr(0, backslash));
    if (rule.root == nullptr) return false;

    const std::size_t keyStart = backslash + 1;
    const std::size_t firstComma = rest.find(',', keyStart);
    if (firstComma == std::string::npos || firstComma == keyStart) return false;
    rule.keyPath = rest.substr(keyStart, firstComma - keyStart);

    // The names are the last two fields; anything between the key path and
    // them is ignored.
    const std::size_t lastComma = rest.rfind(',');
    if (lastComma == firstComma) return false;  // no process file name field
    const std::size_t previousComma = rest.rfind(',', lastComma - 1);
    rule.processFileName = rest.substr(previousComma + 1, lastComma - previousComma - 1);
    rule.displayName = rest.substr(lastComma + 1);
    return true;
}

}  // namespace kickoff
