// Status values returned by the engine. 0 is success; every other value is
// described in engine/FORMAT.md. Values are part of the interface: callers
// pass some of them on to users, so they never change meaning.
#ifndef KSENG_STATUS_H
#define KSENG_STATUS_H

namespace kseng {

enum Status : int {
    kOk = 0,
    kNoArchive = 1,        // the archive file does not exist or cannot be opened
    kCorrupt = 2,          // not an archive, or damaged beyond what its spare header recovers
    kReserved = 3,         // another process or thread holds the reservation
    kIoError = 4,          // a read, write or flush failed; the archive is unchanged
    kTooLarge = 5,         // content above the size the engine accepts
    kNoVersion = 6,        // no version with that number
    kSourceUnreadable = 7, // the file to be added or compared cannot be read
    kTargetUnwritable = 8, // the extraction target cannot be written
    kExists = 9,           // an archive is already there (create never overwrites)
    kBadArgument = 10,     // missing text, path too long, count out of range, unknown mode
    kNoMemory = 11,        // not enough memory for the operation
    kNumbersExhausted = 12,// version number 65535 has been used
    kNewerFormat = 13,     // written by a newer engine with a format this one cannot read
};

const char* statusText(int status);

}  // namespace kseng

#endif
