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
    // Wide calls, so that files whose names the code page cannot spell go too.
    const std::wstring folder = Wide(path_);
    WIN32_FIND_DATAW found;
    HANDLE search = ::FindFirstFileW((folder + L"\\*").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            const std::wstring name = found.cFileName;
            if (name == L"." || name == L"..") continue;
            const std::wstring file = folder + L"\\" + name;
            ::SetFileAttributesW(file.c_str(), FILE_ATTRIBUTE_NORMAL);
            ::DeleteFileW(file.c_str());
        } while (::FindNextFileW(search, &found));
        ::FindClose(search);
    }
    ::RemoveDirectoryW(folder.c_str());
}

std::wstring Wide(const std::string& text) {
    if (text.empty()) return std::wstring();
    const int length = ::MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(length > 0 ? length : 0), L'\0');
    if (length > 0) {
        ::MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), &wide[0], length);
    }
    return wide;
}

bool ToAnsi(const std::wstring& text, std::string& ansi) {
    ansi.clear();
    if (text.empty()) return true;
    BOOL lossy = FALSE;
    const int length = ::WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, text.data(), static_cast<int>(text.size()),
                                             nullptr, 0, nullptr, &lossy);
    if (length <= 0 || lossy) return false;
    ansi.assign(static_cast<std::size_t>(length), '\0');
    ::WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, text.data(), static_cast<int>(text.size()), &ansi[0], length,
                          nullptr, &lossy);
    return !lossy;
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
    return Start(Wide(commandLine), Wide(folder));
}

bool ChildProcess::Start(const std::wstring& commandLine, const std::wstring& folder) {
    std::vector<wchar_t> writable(commandLine.begin(), commandLine.end());
    writable.push_back(L'\0');
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION started = {};
    if (!::CreateProcessW(nullptr, writable.data(), nullptr, nullptr, FALSE, 0, nullptr,
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
