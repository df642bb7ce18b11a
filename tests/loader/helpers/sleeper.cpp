// A process for the loader to find and end: it only waits. Its life is
// bounded so that nothing outlives a test run that went wrong.
#include <windows.h>

int main() {
    ::Sleep(60000);
    return 0;
}
