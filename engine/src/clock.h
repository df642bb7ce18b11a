// The time versions are stamped with: seconds since 1970 in 64 bits on every
// target (a 32-bit time_t ends in January 2038), packed the MS-DOS way that
// the version records carry.
#ifndef KSENG_CLOCK_H
#define KSENG_CLOCK_H

#include <cstdint>

namespace kseng {

// MS-DOS packing of a UTC time: year-1980<<25 | month<<21 | day<<16 | h<<11 |
// m<<5 | s/2. Times before 1980 give 1980-01-01 00:00:00, times after the
// packing's last second give 2107-12-31 23:59:58.
uint32_t dosTimeFromUnix(int64_t seconds);

// Where the engine takes the time from: the system clock, unless a test has
// set another source (nullptr puts the system clock back).
using ClockSource = int64_t (*)();
void setClockSource(ClockSource source);
int64_t currentUnixTime();

// The current time, UTC, in MS-DOS packing.
uint32_t currentDosTime();

}  // namespace kseng

#endif
