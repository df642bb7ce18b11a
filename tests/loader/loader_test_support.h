// Shared pieces of the loader tests: temporary folders, scratch registry
// keys, helper processes and running kickoff.exe itself.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace loadertest {

// The folder of the running test program, where kickoff.exe and the helper
// programs are built too.
std::string BinFolder();
std::string BinPath(const std::string& fileName);

// A fresh folder under the temporary folder, removed with its files.
class TempFolder {
public:
    TempFolder();
    ~TempFolder();
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;
    const std::string& Path() const { return path_; }
    std::string File(const std::string& name) const { return path_ + "\\" + name; }

private:
    std::string path_;
};

void WriteTextFile(const std::string& path, const std::string& content);
std::string ReadTextFile(const std::string& path);
bool FileExists(const std::string& path);
// Waits (bounded) for a file to appear.
bool WaitForFile(const std::string& path, DWORD timeoutMs);

// A key under HKEY_CURRENT_USER\Software\KickoffTests, deleted afterwards.
class ScratchKey {
public:
    explicit ScratchKey(const std::string& leaf);
    ~ScratchKey();
    ScratchKey(const ScratchKey&) = delete;
    ScratchKey& operator=(const ScratchKey&) = delete;
    // The path below HKEY_CURRENT_USER.
    const std::string& Path() const { return path_; }

private:
    std::string path_;
};

// A started process, ended when the object goes if it still runs.
class ChildProcess {
public:
    ChildProcess() = default;
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    bool Start(const std::string& commandLine, const std::string& folder = std::string());
    // For programs whose names the ANSI code page cannot spell.
    bool Start(const std::wstring& commandLine, const std::wstring& folder = std::wstring());
    bool WaitForExit(DWORD timeoutMs);
    bool Running() const;
    DWORD Id() const { return id_; }
    HANDLE Handle() const { return process_; }
    DWORD ExitCode() const;
    // When the process ended, in 100-ns units.
    ULONGLONG ExitTime() const;

private:
    HANDLE process_ = nullptr;
    DWORD id_ = 0;
};

// The text in UTF-16, converted from the ANSI code page.
std::wstring Wide(const std::string& text);
// The text in the ANSI code page; false when the code page cannot spell it.
bool ToAnsi(const std::wstring& text, std::string& ansi);

// Starts kickoff.exe with the command-line tail as given.
bool StartKickoff(ChildProcess& kickoff, const std::string& tail, const std::string& folder = std::string());

}  // namespace loadertest
