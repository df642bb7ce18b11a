// The application object: one per program, started by WinMain.
#pragma once

#include <windows.h>

#include <string>

namespace kickoff {

class CApplication {
public:
    CApplication();
    virtual ~CApplication();
    CApplication(const CApplication&) = delete;
    CApplication& operator=(const CApplication&) = delete;

    // Runs the program: InitInstance, then a message loop only when it
    // asked for one. Returns the process exit code.
    int Run(HINSTANCE instance, const char* commandLineTail);

    HINSTANCE Instance() const { return instance_; }
    const std::string& CommandLineTail() const { return commandLineTail_; }

    static CApplication* Current() { return current_; }

protected:
    // Returns true to enter the message loop, false to end at once.
    virtual bool InitInstance() = 0;

private:
    static CApplication* current_;
    HINSTANCE instance_ = nullptr;
    std::string commandLineTail_;
};

// The module that holds the program's resources.
HINSTANCE ResourceInstance();

// The program's file name without folder and extension ("kickoff").
std::string ApplicationName();

// The private profile file of the program: its name with ".INI", which the
// profile functions look for in the Windows folder.
std::string ProfileFileName();

// What follows the program name on a command line, leading blanks removed;
// the program name may be quoted.
std::string CommandLineTailOf(const char* commandLine);

}  // namespace kickoff
