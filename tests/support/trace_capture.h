// Collects the OutputDebugStringA lines written while it lives, from any
// thread of the process: OutputDebugStringA raises DBG_PRINTEXCEPTION_C,
// and a vectored exception handler sees it first.
#ifndef KSTEST_TRACE_CAPTURE_H
#define KSTEST_TRACE_CAPTURE_H

#include <windows.h>

#include <string>
#include <vector>

namespace kstest {

class TraceCapture {
public:
    TraceCapture();
    ~TraceCapture();
    TraceCapture(const TraceCapture&) = delete;
    TraceCapture& operator=(const TraceCapture&) = delete;

    std::vector<std::string> Lines() const;
    bool Contains(const std::string& line) const;
    size_t Count(const std::string& line) const;
    void Clear();

private:
    static LONG CALLBACK Handler(EXCEPTION_POINTERS* info);
    void Add(const char* text, size_t length);

    void* handler_ = nullptr;
    mutable CRITICAL_SECTION lock_;
    std::vector<std::string> lines_;
};

}  // namespace kstest

#endif
