#include "reservation.h"

namespace {

constexpr int kReserve = 1;
constexpr int kRelease = 0;
constexpr int kStatusReserved = 3;
constexpr DWORD kRetryMs = 50;

ReservationObserver g_observer = nullptr;

}  // namespace

void SetReservationObserver(ReservationObserver observer) { g_observer = observer; }

int ArchiveReservation::Take(const ArchiveContext& context, DWORD waitMs) {
    Release();
    context_ = context;
    const DWORD start = GetTickCount();
    for (;;) {
        int status = EngineLock(context_.workingName, context_.archiveName, context_.workingFolder,
                                context_.archiveFolder, context_.userName, kReserve, 0, &context_.productTag);
        if (status == 0) {
            held_ = true;
            if (g_observer) g_observer(context_.archivePath);
            return 0;
        }
        if (status != kStatusReserved || GetTickCount() - start >= waitMs) return status;
        Sleep(kRetryMs);
    }
}

void ArchiveReservation::Release() {
    if (!held_) return;
    held_ = false;
    EngineLock(context_.workingName, context_.archiveName, context_.workingFolder, context_.archiveFolder,
               context_.userName, kRelease, 0, &context_.productTag);
}
