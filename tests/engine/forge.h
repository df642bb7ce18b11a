// Forged archives: damage that keeps every checksum right, so that the checks
// behind the checksums are the ones that must catch it. A forgery rewrites
// the newest directory (or a block and the directory naming it) with correct
// hashes at the end of the file, and points both copies of its header slot
// at it.
#ifndef KSENG_TESTS_FORGE_H
#define KSENG_TESTS_FORGE_H

#include "commit.h"
#include "format.h"
#include "hash.h"
#include "memory_files.h"

#include <functional>

namespace kseng {
namespace testing {

// The newest state of an archive held in bytes (status in *status).
inline ArchiveState decodeNewest(const Bytes& archive, Status* status = nullptr, Loaded* loadedOut = nullptr) {
    MemoryFiles fs;
    fs.put("forge.ks", archive);
    std::unique_ptr<File> file = fs.open("forge.ks", OpenMode::Read);
    Loaded loaded;
    Status s = loadNewest(*file, &loaded);
    if (status) *status = s;
    if (loadedOut) *loadedOut = loaded;
    return loaded.current;
}

// Writes header h, with a correct hash, into both copies of slot.
inline void forgeSlot(Bytes& archive, int slot, const Header& h) {
    Bytes header = encodeHeader(h);
    std::memcpy(archive.data() + kSlotOffset[slot], header.data(), header.size());
    std::memcpy(archive.data() + kMirrorOffset[slot], header.data(), header.size());
}

// The header the newest state was read through.
inline Header newestHeader(const Bytes& archive, int* slot = nullptr) {
    Loaded loaded;
    decodeNewest(archive, nullptr, &loaded);
    Header h;
    decodeHeader(loaded.copies[loaded.newestCopy], &h);
    if (slot) *slot = loaded.newestCopy % 2;
    return h;
}

// Changes the newest state through edit and writes it back as a well-formed
// directory with correct hashes, appended to the file.
inline Bytes forgeState(Bytes archive, const std::function<void(ArchiveState&)>& edit) {
    int slot;
    Header h = newestHeader(archive, &slot);
    ArchiveState state = decodeNewest(archive);
    edit(state);
    Bytes directory = encodeDirectory(state, h.sequence);
    h.formatVersion = kFormatVersion;
    h.directoryOffset = archive.size();
    h.directoryLength = directory.size();
    h.directoryHash = hash64(directory.data(), directory.size());
    archive.insert(archive.end(), directory.begin(), directory.end());
    forgeSlot(archive, slot, h);
    return archive;
}

// Changes the stored bytes of a node's block through edit, writes them at the
// end of the file, and names them with correct hash and lengths.
inline Bytes forgeBlock(Bytes archive, uint32_t nodeId, const std::function<void(Bytes&)>& edit) {
    ArchiveState state = decodeNewest(archive);
    const ContentNode* n = state.findNode(nodeId);
    Bytes stored(archive.begin() + static_cast<std::ptrdiff_t>(n->offset),
                 archive.begin() + static_cast<std::ptrdiff_t>(n->offset + n->storedLength));
    edit(stored);
    uint64_t at = archive.size();
    archive.insert(archive.end(), stored.begin(), stored.end());
    return forgeState(archive, [&](ArchiveState& s) {
        for (ContentNode& node : s.nodes)
            if (node.id == nodeId) {
                node.offset = at;
                if (node.codec == ContentNode::Stored) node.rawLength = stored.size();
                node.storedLength = stored.size();
                node.blockHash = hash64(stored.data(), stored.size());
            }
    });
}

// A record of changes written by hand onto the archive's newest record:
// edit may change the link and the states the changes are taken between.
// A sequenceStep of 0 gives the record the sequence of the one before it;
// both slots then name it, so that it is the newest state.
inline Bytes forgeChanges(const Bytes& archive, const std::function<void(DirectoryChanges&, ArchiveState& before, ArchiveState& after)>& edit,
                          uint64_t sequenceStep = 1) {
    int slot;
    Header h = newestHeader(archive, &slot);
    ArchiveState before = decodeNewest(archive), after = before;
    DirectoryChanges link;
    link.previous = Extent{h.directoryOffset, h.directoryLength};
    link.previousHash = h.directoryHash;
    link.depth = static_cast<uint32_t>(before.directoryChain.size());
    after.versions.back().comment = "changed by a record";
    edit(link, before, after);
    Bytes record = encodeChanges(before, after, h.sequence + sequenceStep, link);
    Bytes forged = archive;
    h.sequence += sequenceStep;
    h.directoryOffset = forged.size();
    h.directoryLength = record.size();
    h.directoryHash = hash64(record.data(), record.size());
    forged.insert(forged.end(), record.begin(), record.end());
    forgeSlot(forged, 1 - slot, h);
    if (!sequenceStep) forgeSlot(forged, slot, h);
    return forged;
}

}  // namespace testing
}  // namespace kseng

#endif
