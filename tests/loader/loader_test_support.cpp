#include "loader_test_support.h"

#include <cstdio>

namespace loadertest {

std::string BinFolder() {
    char path[MAX_PATH] = {};
    ::GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string folder(path);
    return folder.substr(0, folder.find_last_of('\\'));
}

std::string BinPath(const std::string& fileName) { return BinFolder() + "\\" + fileName; }

TempFolder::TempFolder() {
    char base[MAX_PATH] = {};
    ::GetTempPathA(MAX_PATH, base);
    static LONG counter = 0;
    char name[64];
    std::snprintf(name, sizeof name, "kickoff_test_%lu_%ld", ::GetCurrentProcessId(),
                  ::InterlockedIncrement(&counter));
    path_ = std::string(base) + name;
    ::CreateDirectoryA(path_.c_str(), nullptr);
}

TempFolder::~TempFolder() {
    WIN32_FIND_DATAA found;
    HANDLE search = ::FindFirstFileA((path_ + "\\*").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            const std::string name = found.cFileName;
            if (name == "." || name == "..") continue;
            ::SetFileAttributesA(File(name).c_str(), FILE_ATTRIBUTE_NORMAL);
            ::DeleteFileA(File(name).c_str());
        } while (::FindNextFileA(search, &found));
        ::FindClose(search);
    }
    ::RemoveDirectoryA(path_.c_str());
}

void WriteTextFile(const std::string& path, const std::string& content) {
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) return;
    std::fwrite(content.data(), 1, content.size(), file);
    std::fclose(file);
}

std::string ReadTextFile(const std::string& path) {
    std::string content;
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) return content;
    char buffer[4096];
    std::size_t got;
    while ((got = std::fread(buffer, 1, sizeof buffer, file)) > 0) content.append(buffer, got);
    std::fclose(file);
    return content;
}

bool FileExists(const std::string& path) { return ::GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

bool WaitForFile(const std::string& path, DWORD timeoutMs) {
    const DWORD start = ::GetTickCount();
    while (!FileExists(path)) {
        if (::GetTickCount() - start > timeoutMs) return false;
        ::Sleep(20);
    }
    return true;
}

ScratchKey::ScratchKey(const std::string& leaf) {
    char name[64];
    std::snprintf(name, sizeof name, "_%lu", ::GetCurrentProcessId());
    path_ = "Software\\KickoffTests\\" + leaf + name;
    HKEY key = nullptr;
    if (::RegCreateKeyExA(HKEY_CURRENT_USER, path_.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                          nullptr) == ERROR_SUCCESS) {
        ::RegCloseKey(key);
    }
}

ScratchKey::~ScratchKey() {
    ::RegDeleteKeyA(HKEY_CURRENT_USER, path_.c_str());
    // Succeeds only once no other test's key is left under it.
    ::RegDeleteKeyA(HKEY_CURRENT_USER, "Software\\KickoffTests");
}

ChildProcess::~ChildProcess() {
    if (process_ == nullptr) return;
    if (Running()) {
        ::TerminateProcess(process_, 1);
        ::WaitForSingleObject(process_, 5000);
    }
    ::CloseHandle(process_);
}

bool ChildProcess::Start(const std::string& commandLine, const std::string& folder) {
    std::vector<char> writable(commandLine.begin(), commandLine.end());
    writable.push_back('\0');
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION started = {};
    if (!::CreateProcessA(nullptr, writable.data(), nullptr, nullptr, FALSE, 0, nullptr,
                          folder.empty() ? nullptr : folder.c_str(), &startup, &started)) {
        return false;
    }
    ::CloseHandle(started.hThread);
    process_ = started.hProcess;
    id_ = started.dwProcessId;
    return true;
}

bool ChildProcess::WaitForExit(DWORD timeoutMs) {
    return process_ != nullptr && ::WaitForSingleObject(process_, timeoutMs) == WAIT_OBJECT_0;
}

bool ChildProcess::Running() const {
    return process_ != nullptr && ::WaitForSingleObject(process_, 0) == WAIT_TIMEOUT;
}

DWORD ChildProcess::ExitCode() const {
    DWORD code = 0;
    ::GetExitCodeProcess(process_, &code);
    return code;
}

ULONGLONG ChildProcess::ExitTime() const {
    FILETIME created, exited, kernel, user;
    if (!::GetProcessTimes(process_, &created, &exited, &kernel, &user)) return 0;
    return (static_cast<ULONGLONG>(exited.dwHighDateTime) << 32) | exited.dwLowDateTime;
}

bool StartKickoff(ChildProcess& kickoff, const std::string& tail, const std::string& folder) {
    return kickoff.Start("\"" + BinPath("kickoff.exe") + "\" " + tail, folder);
}

}  // namespace loadertest
