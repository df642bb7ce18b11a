// The commit protocol: how a reader finds the archive's state, where an
// update's new blocks may go, and how the new state becomes the archive's
// with the write of one header slot. FORMAT.md ("Committing") gives the
// argument for why a crash at any instant leaves the old or the new state.
#ifndef KSENG_COMMIT_H
#define KSENG_COMMIT_H

#include "archive.h"
#include "blocks.h"
#include "format.h"
#include "signature.h"

#include <vector>

namespace kseng {

// The header copies as read, and the state they lead to.
struct Loaded {
    ArchiveState current;
    uint64_t highestSequence = 0;
    uint8_t copies[4][kHeaderSize] = {};  // slot 0, slot 1, mirror of 0, mirror of 1
    int newestCopy = -1;                  // the copy the current state was found through
    uint64_t directoryHash = 0;           // of the current state's newest directory record
    int damagedCopies = 0;                // copies that were neither valid nor unused
};

// Reads the header copies and the newest state. A state that the copies
// name but that is not intact is damage, never a reason to go back to an
// older state without a word: the answer is then kCorrupt.
Status loadNewest(File& file, Loaded* loaded);

// The space a state's blocks, directory and signature occupy.
void collectExtents(const ArchiveState& s, std::vector<Extent>* out);

// One change to an open archive: new blocks go only where the current state
// has no data, and the new state becomes visible with the write of one header
// slot (both of its copies).
class Update final : public BlockSpace {
public:
    explicit Update(File& file) : file_(file) {}

    // Starts from the archive's newest state.
    Status begin();
    // Starts a new archive from an empty state.
    void beginEmpty(bool compressed, uint32_t maxTemporary);
    ArchiveState& state() { return next_; }
    File& file() { return file_; }

    uint64_t allocate(uint64_t length) override;
    uint64_t tail() const override;
    void claim(uint64_t offset, uint64_t length) override;
    // Gives back room taken by a block the update then did not use.
    void release(uint64_t offset, uint64_t length);

    // The signature the archive keeps, when it is the one of node.
    bool readSignature(uint32_t node, Signature* signature);
    // Keeps the signature of the node it names: over the one kept now when
    // it fits there (a signature is only a hint, checked before use, so no
    // state relies on those bytes), else in new room.
    Status writeSignature(const Signature& signature);

    Status commit();

private:
    bool writeSlot(int slot, const Bytes& header);

    File& file_;
    Loaded loaded_;
    bool empty_ = false;
    ArchiveState next_;
    std::vector<Extent> used_;
};

}  // namespace kseng

#endif
