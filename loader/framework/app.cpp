#include "app.h"

namespace kickoff {

CApplication* CApplication::current_ = nullptr;

CApplication::CApplication() { current_ = this; }

CApplication::~CApplication() {
    if (current_ == this) current_ = nullptr;
}

int CApplication::Run(HINSTANCE instance, const char* commandLineTail) {
    instance_ = instance;
    commandLineTail_ = commandLineTail != nullptr ? commandLineTail : "";
    if (!InitInstance()) return 0;

    MSG message;
    while (::GetMessageA(&message, nullptr, 0, 0) > 0) {
        ::TranslateMessage(&message);
        ::DispatchMessageA(&message);
    }
    return static_cast<int>(message.wParam);
}

HINSTANCE ResourceInstance() {
    if (CApplication* app = CApplication::Current()) {
        if (app->Instance() != nullptr) return app->Instance();
    }
    return ::GetModuleHandleA(nullptr);
}

std::string ApplicationName() {
    char path[MAX_PATH] = {};
    const DWORD length = ::GetModuleFileNameA(nullptr, path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return "kickoff";
    std::string name(path, length);
    const std::size_t slash = name.find_last_of("\\/");
    if (slash != std::string::npos) name.erase(0, slash + 1);
    const std::size_t dot = name.rfind('.');
    if (dot != std::string::npos) name.erase(dot);
    return name;
}

std::string ProfileFileName() { return ApplicationName() + ".INI"; }

std::string CommandLineTailOf(const char* commandLine) {
    if (commandLine == nullptr) return std::string();
    const char* p = commandLine;
    if (*p == '"') {
        ++p;
        while (*p != '\0' && *p != '"') ++p;
        if (*p == '"') ++p;
    } else {
        while (*p != '\0' && *p != ' ' && *p != '\t') ++p;
    }
    while (*p == ' ' || *p == '\t') ++p;
    return std::string(p);
}

}  // namespace kickoff
