#include "version_time.h"

#include <cstring>

#include "module.h"

namespace {

bool DosTimeToSystemTime(uint32_t dosTime, SYSTEMTIME* time) {
    memset(time, 0, sizeof *time);
    time->wYear = static_cast<WORD>((dosTime >> 25) + 1980);
    time->wMonth = static_cast<WORD>((dosTime >> 21) & 0x0F);
    time->wDay = static_cast<WORD>((dosTime >> 16) & 0x1F);
    time->wHour = static_cast<WORD>((dosTime >> 11) & 0x1F);
    time->wMinute = static_cast<WORD>((dosTime >> 5) & 0x3F);
    time->wSecond = static_cast<WORD>((dosTime & 0x1F) * 2);
    FILETIME check;  // rejects a month 0, a day 31 of April and the like
    return SystemTimeToFileTime(time, &check) != FALSE;
}

}  // namespace

bool FormatLocalTime(const SYSTEMTIME& local, char* text) {
    char date[50], time[50];
    text[0] = '\0';
    if (!GetDateFormatA(LOCALE_SYSTEM_DEFAULT, LOCALE_NOUSEROVERRIDE | DATE_SHORTDATE, &local, nullptr, date,
                        sizeof date))
        return false;
    if (!GetTimeFormatA(LOCALE_SYSTEM_DEFAULT, LOCALE_NOUSEROVERRIDE | TIME_NOSECONDS, &local, nullptr, time,
                        sizeof time))
        return false;
    FormatText(text, 100, "%s %s", date, time);
    return true;
}

bool FormatRecordTime(uint32_t dosTime, char* text) {
    SYSTEMTIME utc, local;
    text[0] = '\0';
    if (!DosTimeToSystemTime(dosTime, &utc) || !SystemTimeToTzSpecificLocalTime(nullptr, &utc, &local)) return false;
    return FormatLocalTime(local, text);
}
