// The other program of the concurrency test: saves one working file again
// and again through keepshel's operations, as a user of another process
// would, and writes down what each save answered and when it held the
// archive. Stops when the shared clock says so.
//
//   keepshel_test_saver <clock name> <working file> <log file>
#include <windows.h>

#include <cstdio>
#include <string>

#include "archive/archive_context.h"
#include "archive/module.h"
#include "archive/refusals.h"
#include "archive/reservation.h"
#include "shared_clock.h"

namespace {

kstest::SharedClock* g_clock = nullptr;
LONG g_reserved = 0;

void OnReserved(const char*) { g_reserved = kstest::Tick(g_clock); }

// Writes the content into the working file only while it is there: the
// other process moves and deletes it, and the file must not come back
// under the old name in between. Others may rename or delete it meanwhile.
bool WriteExisting(const std::string& path, const std::string& content) {
    // An empty file is no working file of this test: it is the moment's
    // probe a move makes to learn the short form of its destination.
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data) || (data.nFileSizeLow == 0 && data.nFileSizeHigh == 0))
        return false;
    HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, TRUNCATE_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    DWORD written = 0;
    BOOL ok = WriteFile(file, content.data(), static_cast<DWORD>(content.size()), &written, nullptr);
    CloseHandle(file);
    return ok && written == content.size();
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 4) return 2;
    SetModuleInstance(GetModuleHandleA(nullptr));
    HANDLE mapping = nullptr;
    g_clock = kstest::OpenSharedClock(argv[1], &mapping);
    if (!g_clock) return 3;
    const std::string path = argv[2];
    FILE* log = fopen(argv[3], "w");
    if (!log) return 4;
    SetReservationObserver(&OnReserved);

    for (int save = 1; !g_clock->stop; ++save) {
        if (!WriteExisting(path, kstest::SaveContent(save))) {
            Sleep(2);
            continue;
        }
        kstest::SaveRecord record;
        record.save = save;
        record.written = kstest::Tick(g_clock);
        ArchiveContext context;
        g_reserved = 0;
        record.before = kstest::Tick(g_clock);
        int problem = context.Locate(path.c_str());
        if (problem) {
            record.result = problem;
        } else if (!context.ArchiveExists()) {
            record.first = true;
            record.result = context.SaveFirstVersion(0, 32767, 0, 1);
        } else {
            record.result = context.AddNextVersion(("save " + std::to_string(save)).c_str(), 0);
        }
        record.after = kstest::Tick(g_clock);
        record.reserved = g_reserved;
        char reason[400] = "";
        if (record.result != 0) FormatRefusalReason(context, record.result, reason, sizeof reason);
        fprintf(log, "%d %d %d %ld %ld %ld %ld %s\n", record.save, record.first ? 1 : 0, record.result, record.written,
                record.reserved, record.before, record.after, reason);
        fflush(log);
        Sleep(3);
    }
    fclose(log);
    UnmapViewOfFile(g_clock);
    CloseHandle(mapping);
    return 0;
}
