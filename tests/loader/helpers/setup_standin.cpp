// Stands in for a setup program: writes where and how it was started.
//   kickoff_setup_standin <record file> [<milliseconds to wait first>] [more arguments...]
// The record holds the current folder on the first line, the arguments
// after the record file's name, joined by blanks, on the second, and the
// start-up information's flags and show state (decimal) on the third. It is
// written only after the wait, so its presence proves the wait is over.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>

int main(int argc, char** argv) {
    if (argc < 2) return 2;
    if (argc >= 3) ::Sleep(static_cast<DWORD>(std::strtoul(argv[2], nullptr, 10)));

    char folder[MAX_PATH] = {};
    ::GetCurrentDirectoryA(MAX_PATH, folder);
    std::string arguments;
    for (int i = 2; i < argc; ++i) {
        if (i > 2) arguments += ' ';
        arguments += argv[i];
    }
    const std::string partial = std::string(argv[1]) + ".partial";
    std::FILE* record = std::fopen(partial.c_str(), "wb");
    if (record == nullptr) return 3;
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    ::GetStartupInfoA(&startup);
    std::fprintf(record, "%s\n%s\n%lu %u\n", folder, arguments.c_str(), static_cast<unsigned long>(startup.dwFlags),
                 static_cast<unsigned>(startup.wShowWindow));
    std::fclose(record);
    // Appears complete or not at all.
    return ::MoveFileA(partial.c_str(), argv[1]) ? 0 : 4;
}
