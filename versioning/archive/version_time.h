// The time of a version as the user reads it.
#ifndef KEEPSHEL_VERSION_TIME_H
#define KEEPSHEL_VERSION_TIME_H

#include <windows.h>
#include <stdint.h>

// "short date hh:mm" of a local time, in the system's default locale and
// ignoring the user's overrides; `text` holds 100. False (text empty) on failure.
bool FormatLocalTime(const SYSTEMTIME& local, char* text);

// The same for an engine record's time: UTC in MS-DOS packing, converted
// to local time as one calendar value with the zone rules of its own date.
bool FormatRecordTime(uint32_t dosTime, char* text);

#endif
