#include "status.h"

namespace kseng {

const char* statusText(int status) {
    switch (status) {
    case kOk: return "success";
    case kNoArchive: return "no archive";
    case kCorrupt: return "archive damaged or not an archive";
    case kReserved: return "archive reserved by another process";
    case kIoError: return "read, write or flush failed";
    case kTooLarge: return "file too large";
    case kNoVersion: return "no such version";
    case kSourceUnreadable: return "file cannot be read";
    case kTargetUnwritable: return "target cannot be written";
    case kExists: return "archive exists already";
    case kBadArgument: return "bad argument";
    case kNoMemory: return "not enough memory";
    case kNumbersExhausted: return "version numbers exhausted";
    case kNewerFormat: return "archive of a newer format";
    }
    return "unknown status";
}

}  // namespace kseng
