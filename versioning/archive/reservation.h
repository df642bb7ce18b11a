// The engine's reservation of an archive, held for the length of one step:
// a save, a deletion, or a move, copy or removal of the archive file. A
// reservation belongs to the thread that took it; another writer (thread
// or program) that holds one is waited for a little before giving up.
#ifndef KEEPSHEL_RESERVATION_H
#define KEEPSHEL_RESERVATION_H

#include <windows.h>

#include "archive_context.h"

// How long a step waits for another writer to finish with the archive.
constexpr DWORD kBusyWaitMs = 2000;

class ArchiveReservation {
public:
    ArchiveReservation() = default;
    ~ArchiveReservation() { Release(); }
    ArchiveReservation(const ArchiveReservation&) = delete;
    ArchiveReservation& operator=(const ArchiveReservation&) = delete;

    // Reserves `context`'s archive for this thread, waiting up to `waitMs`
    // while another writer holds it. Answers the engine's status: 0
    // reserved, 3 still reserved by the other writer, 1 no archive.
    int Take(const ArchiveContext& context, DWORD waitMs = kBusyWaitMs);
    // An update has used the reservation: the engine gave it back itself.
    void Consumed() { held_ = false; }
    // Gives the reservation back, if it is held.
    void Release();
    bool held() const { return held_; }

private:
    ArchiveContext context_{};
    bool held_ = false;
};

// Tests watch the order in which writers of different processes hold an
// archive: the observer hears of every reservation taken, while it is held.
using ReservationObserver = void (*)(const char* archivePath);
void SetReservationObserver(ReservationObserver observer);

#endif
