#include "trace_capture.h"

#include <algorithm>

namespace kstest {

namespace {
// OutputDebugStringA raises this with the text's length and address.
constexpr DWORD kDbgPrintException = 0x40010006;  // DBG_PRINTEXCEPTION_C
TraceCapture* g_active = nullptr;
}  // namespace

TraceCapture::TraceCapture() {
    InitializeCriticalSection(&lock_);
    g_active = this;
    handler_ = AddVectoredExceptionHandler(1, Handler);
}

TraceCapture::~TraceCapture() {
    if (handler_) RemoveVectoredExceptionHandler(handler_);
    g_active = nullptr;
    DeleteCriticalSection(&lock_);
}

LONG CALLBACK TraceCapture::Handler(EXCEPTION_POINTERS* info) {
    const EXCEPTION_RECORD* record = info->ExceptionRecord;
    if (record->ExceptionCode == kDbgPrintException && record->NumberParameters >= 2 && g_active) {
        size_t length = static_cast<size_t>(record->ExceptionInformation[0]);
        const char* text = reinterpret_cast<const char*>(record->ExceptionInformation[1]);
        if (text) {
            // The length counts the terminator.
            while (length > 0 && text[length - 1] == '\0') --length;
            g_active->Add(text, length);
        }
    }
    // Let the system finish OutputDebugStringA as usual.
    return EXCEPTION_CONTINUE_SEARCH;
}

void TraceCapture::Add(const char* text, size_t length) {
    EnterCriticalSection(&lock_);
    lines_.emplace_back(text, length);
    LeaveCriticalSection(&lock_);
}

std::vector<std::string> TraceCapture::Lines() const {
    EnterCriticalSection(&lock_);
    std::vector<std::string> copy = lines_;
    LeaveCriticalSection(&lock_);
    return copy;
}

bool TraceCapture::Contains(const std::string& line) const { return Count(line) > 0; }

size_t TraceCapture::Count(const std::string& line) const {
    std::vector<std::string> lines = Lines();
    return static_cast<size_t>(std::count(lines.begin(), lines.end(), line));
}

void TraceCapture::Clear() {
    EnterCriticalSection(&lock_);
    lines_.clear();
    LeaveCriticalSection(&lock_);
}

}  // namespace kstest
