// CProcessTool: the per-operation helper for shortcuts, process lookup,
// command parsing and starting programs. It holds COM initialised for the
// calling thread for as long as it lives, so make one on the stack for each
// operation.
#pragma once

#include <windows.h>

#include <string>

namespace kickoff {

enum TokenKind {
    kTokenCd = 0,       // the word "cd", case ignored
    kTokenWord = 1,     // any other word
    kTokenSemicolon = 2,
    kTokenEnd = 3,      // nothing left
};

class CProcessTool {
public:
    CProcessTool();
    virtual ~CProcessTool();
    CProcessTool(const CProcessTool&) = delete;
    CProcessTool& operator=(const CProcessTool&) = delete;

    // True, with the target path (short form, environment variables
    // expanded), when `name` is a shell shortcut that resolves.
    bool ResolveShortcut(const std::string& name, std::string& target);

    // The id of the first running process with that file name (a shortcut
    // is followed to its target first), or 0. `lookedFor`, when given,
    // receives the name that was looked for.
    DWORD FindProcessId(const std::string& name, std::string* lookedFor = nullptr);

    // Tokenizer over a command: blanks and tabs separate words, double
    // quotes group, ";" is a token of its own.
    void StartTokens(const std::string& text);
    TokenKind NextToken(std::string& token);

    // Splits "[cd <dir> ;] <program> [arguments...]". False when no program
    // was given or the working-directory syntax was broken.
    bool ParseCommand(const std::string& command, std::string& program, std::string& workingDir,
                      std::string& arguments);

    // Starts the program through its file association and returns the
    // process handle (the caller owns it), or null after reporting why.
    HANDLE LaunchProgram(const std::string& program, const std::string& arguments,
                         const std::string& workingDir);

    // Tells the user that `subject` could not be started and why.
    virtual void ReportError(DWORD errorCode, const std::string& subject);

    // The system's text for an error code without its line end, or
    // "Unknown error." when the system has none.
    static std::string SystemErrorText(DWORD errorCode);

private:
    bool comInitialized_ = false;
    std::string tokenText_;
    std::size_t tokenPos_ = 0;
};

}  // namespace kickoff
