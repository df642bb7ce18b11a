#include "clock.h"

#include "io.h"

#include <atomic>

namespace kseng {
namespace {

std::atomic<ClockSource> gClockSource{nullptr};

// 1980-01-01 and 2107-12-31 23:59:59, in seconds since 1970.
constexpr int64_t kFirstDosSecond = 315532800;
constexpr int64_t kLastDosSecond = 4354819199;

}  // namespace

uint32_t dosTimeFromUnix(int64_t seconds) {
    seconds = seconds < kFirstDosSecond ? kFirstDosSecond : seconds > kLastDosSecond ? kLastDosSecond : seconds;
    int64_t days = seconds / 86400, secondOfDay = seconds % 86400;
    // The proleptic Gregorian calendar from a day count, in eras of 400
    // years that start on March 1st (so the leap day ends a year).
    int64_t z = days + 719468;
    int64_t era = z / 146097;
    int64_t dayOfEra = z - era * 146097;
    int64_t yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    int64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    int64_t shiftedMonth = (5 * dayOfYear + 2) / 153;
    int64_t day = dayOfYear - (153 * shiftedMonth + 2) / 5 + 1;
    int64_t month = shiftedMonth < 10 ? shiftedMonth + 3 : shiftedMonth - 9;
    int64_t year = yearOfEra + era * 400 + (month <= 2 ? 1 : 0);
    return static_cast<uint32_t>(year - 1980) << 25 | static_cast<uint32_t>(month) << 21 |
           static_cast<uint32_t>(day) << 16 | static_cast<uint32_t>(secondOfDay / 3600) << 11 |
           static_cast<uint32_t>(secondOfDay / 60 % 60) << 5 | static_cast<uint32_t>(secondOfDay % 60 / 2);
}

void setClockSource(ClockSource source) { gClockSource = source; }

int64_t currentUnixTime() {
    ClockSource source = gClockSource;
    return source ? source() : systemUnixTime();
}

uint32_t currentDosTime() { return dosTimeFromUnix(currentUnixTime()); }

}  // namespace kseng
