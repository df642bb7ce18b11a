// Fuzz target over everything that reads an archive: the header copies, the
// directory, the blocks and deltas, and the updates that start from them.
// Inputs are a whole archive, byte edits of a well-formed one, or forgeries:
// changes to the fields of a well-formed archive's directory (whole, or as a
// record of changes), blocks or the kept signature that keep every checksum
// right, so that the checks behind the checksums are the ones tried.
//
// Beyond the sanitizers, every outcome is compared with a reference: a
// version that reads is exactly the content saved under its hash, extraction
// and verification agree with reading, and an update either keeps every
// version that stays byte for byte or fails and changes nothing.
#include "archive.h"
#include "forge.h"
#include "hash.h"
#include "memory_files.h"
#include "signature.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <map>
#include <type_traits>

using namespace kseng;
using kseng::testing::MemoryFiles;

namespace {

const char* kArchive = "a.ks";

// Every content the seed archives were given, by hash.
std::map<uint64_t, Bytes>& truth() {
    static std::map<uint64_t, Bytes> contents;
    return contents;
}

void saveTruth(const Bytes& content) { truth()[hash64(content.data(), content.size())] = content; }

Bytes buildArchive(bool compress) {
    MemoryFiles fs;
    Bytes content;
    for (int i = 0; i < 3000; ++i) content.push_back(static_cast<uint8_t>("version history "[i % 16] + i / 700));
    fs.put("copy", content);
    saveTruth(content);
    VersionMeta meta;
    meta.user = "fuzz";
    meta.comment = "seed";
    createArchive(fs, kArchive, "copy", meta, 3, compress);
    for (int v = 0; v < 4; ++v) {
        content.insert(content.begin() + 100 * v, 60, static_cast<uint8_t>('a' + v));
        if (v == 2) content.assign(1500, 'z');  // a second base
        fs.put("copy", content);
        saveTruth(content);
        std::unique_ptr<File> file = fs.open(kArchive, OpenMode::ReadWrite);
        meta.permanent = v == 1;
        addVersion(*file, "copy", fs, meta);
    }
    std::unique_ptr<File> file = fs.open(kArchive, OpenMode::ReadWrite);
    deleteVersion(*file, 3);
    Bytes archive;
    fs.get(kArchive, &archive);
    return archive;
}

// A history long enough for its directory to be kept as records of changes.
Bytes buildLongHistory() {
    MemoryFiles fs;
    Bytes content(2000, 'h');
    fs.put("copy", content);
    saveTruth(content);
    VersionMeta meta;
    meta.user = "fuzz";
    meta.comment = std::string(60, 'c');
    createArchive(fs, kArchive, "copy", meta, 100, true);
    for (int v = 2; v <= 140; ++v) {
        content[v % content.size()] = static_cast<uint8_t>(v);
        fs.put("copy", content);
        saveTruth(content);
        std::unique_ptr<File> file = fs.open(kArchive, OpenMode::ReadWrite);
        meta.permanent = v % 7 == 0;
        addVersion(*file, "copy", fs, meta);
    }
    Bytes archive;
    fs.get(kArchive, &archive);
    return archive;
}

void require(bool condition, const char* what) {
    if (!condition) {
        std::fprintf(stderr, "reference mismatch: %s\n", what);
        std::abort();
    }
}

// The versions of the archive that read, with their content.
std::map<uint32_t, Bytes> readable(MemoryFiles& fs, ArchiveState* state, Status* stateStatus) {
    std::map<uint32_t, Bytes> out;
    *stateStatus = readState(fs, kArchive, state);
    if (*stateStatus != kOk) return out;
    for (const VersionEntry& v : state->versions) {
        Bytes content;
        if (readVersion(fs, kArchive, v.number, &content) == kOk) out[v.number] = std::move(content);
    }
    return out;
}

void exercise(const Bytes& archive) {
    MemoryFiles fs;
    fs.put(kArchive, archive);
    ArchiveState state;
    Status stateStatus;
    std::map<uint32_t, Bytes> before = readable(fs, &state, &stateStatus);
    if (stateStatus == kOk) {
        std::vector<uint16_t> unreadable;
        for (const VersionEntry& v : state.versions) {
            auto it = before.find(v.number);
            Status extracted = extractVersion(fs, kArchive, v.number, "out");
            if (it == before.end()) {
                // Too large for this build is no damage: verification skips it.
                if (v.size <= kMaxContentSize) unreadable.push_back(v.number);
                require(extracted != kOk, "extraction of a version that does not read");
                continue;
            }
            const Bytes& content = it->second;
            require(content.size() == v.size && hash64(content.data(), content.size()) == v.contentHash,
                    "a version read with another size or hash than its record");
            auto known = truth().find(v.contentHash);
            require(known == truth().end() || known->second == content, "a version read as other content");
            Bytes out;
            require(extracted == kOk && fs.get("out", &out) && out == content, "extraction differs from reading");
            fs.remove("out");
        }
        VerifyReport report;
        Status verified = verifyArchive(fs, kArchive, &report);
        if (verified != kNoMemory) {
            require(verified == (unreadable.empty() ? kOk : kCorrupt), "verification status differs from reading");
            require(report.damaged == unreadable, "verification names other versions than reading");
        }
        if (!state.versions.empty() && before.count(state.versions.back().number)) {
            fs.put("work", before[state.versions.back().number]);
            require(compareWorking(fs, "work", kArchive) == 0, "the newest version compares unequal to itself");
        }
    } else {
        fs.put("work", Bytes(100, 'w'));
        require(compareWorking(fs, "work", kArchive) < 0, "comparing with an unreadable archive says a save is due");
    }

    // Updates start by reading too; they must refuse damage, not spread it.
    // A successful one keeps what stays exactly; a failed one changes nothing.
    auto checkUpdate = [&](Status status, const char* what) {
        ArchiveState after;
        Status afterStatus;
        std::map<uint32_t, Bytes> now = readable(fs, &after, &afterStatus);
        if (status != kOk) {
            require(afterStatus == stateStatus && now == before, what);
            return;
        }
        require(afterStatus == kOk, what);
        for (const VersionEntry& v : after.versions)
            if (before.count(v.number)) require(now.count(v.number) && now[v.number] == before[v.number], what);
        before = now;
        state = after;
    };
    Bytes next(3100, 'n');
    fs.put("copy", next);
    VersionMeta meta;
    if (std::unique_ptr<File> file = fs.open(kArchive, OpenMode::ReadWrite)) {
        uint32_t expectedNumber = state.versionCounter;
        Status added = addVersion(*file, "copy", fs, meta);
        checkUpdate(added, "an add changed what it did not add");
        if (added == kOk) {
            require(state.versions.back().number == expectedNumber, "the new version took another number");
            require(before[expectedNumber] == next, "the new version reads as other content");
        }
        checkUpdate(deleteVersion(*file, 1), "a delete changed another version");
        checkUpdate(setMaxTemporary(*file, 1), "pruning changed a version that stays");
    }
}

// Forgery: fuzz bytes pick fields of the decoded directory and new values.
void forgeFields(ArchiveState& s, const uint8_t* data, size_t size) {
    for (; size >= 4; data += 4, size -= 4) {
        uint8_t which = data[0], index = data[1];
        int64_t small = static_cast<int8_t>(data[2]);
        uint64_t value = data[3] & 0x80 ? uint64_t(small) << (data[3] & 0x3F) : uint64_t(small);
        auto bump = [&](auto& field) {
            using T = std::remove_reference_t<decltype(field)>;
            field = data[3] & 0x40 ? static_cast<T>(value) : static_cast<T>(field + small);
        };
        if (which % 3 == 0 && !s.versions.empty()) {
            VersionEntry& v = s.versions[index % s.versions.size()];
            switch (which / 3 % 6) {
            case 0: bump(v.number); break;
            case 1: bump(v.size); break;
            case 2: bump(v.contentHash); break;
            case 3: bump(v.node); break;
            case 4: v.permanent = !v.permanent; break;
            default: v = s.versions[data[2] % s.versions.size()]; break;
            }
        } else if (which % 3 == 1 && !s.nodes.empty()) {
            ContentNode& n = s.nodes[index % s.nodes.size()];
            switch (which / 3 % 10) {
            case 0: bump(n.id); break;
            case 1: bump(n.kind); break;
            case 2: bump(n.codec); break;
            case 3: bump(n.parent); break;
            case 4: bump(n.offset); break;
            case 5: bump(n.storedLength); break;
            case 6: bump(n.rawLength); break;
            case 7: bump(n.contentSize); break;
            case 8: bump(n.layout); break;
            default: bump(n.literalLength); break;
            }
        } else {
            switch (which / 3 % 5) {
            case 0: bump(s.versionCounter); break;
            case 1: bump(s.maxTemporary); break;
            case 2: bump(s.nextNode); break;
            case 3: bump(s.signatureOffset); break;
            default: bump(s.signatureCapacity); break;
            }
        }
    }
}

// The signature the next save starts from, forged under a right hash: a
// save must never believe one that does not fit the newest version.
void forgeSignature(Bytes archive, const uint8_t* data, size_t size) {
    ArchiveState s = testing::decodeNewest(archive);
    if (!s.signatureCapacity) return;
    auto room = archive.begin() + static_cast<std::ptrdiff_t>(s.signatureOffset);
    Bytes bytes(room, room + static_cast<std::ptrdiff_t>(s.signatureCapacity));
    uint32_t count;
    std::memcpy(&count, bytes.data() + kSignatureHeaderSize - 4, 4);
    if (encodedSignatureSize(count) > bytes.size()) return;
    bytes.resize(static_cast<size_t>(encodedSignatureSize(count)));
    Signature signature;
    if (!decodeSignature(bytes, &signature)) return;
    for (; size >= 4; data += 4, size -= 4) {
        int8_t small = static_cast<int8_t>(data[2]);
        uint64_t bits = uint64_t(data[2]) << (data[3] % 57);
        SignatureEntry* entry =
            signature.entries.empty() ? nullptr : &signature.entries[data[1] % signature.entries.size()];
        switch (data[0] % 6) {
        case 0: signature.node += small; break;
        case 1: signature.contentSize += small; break;
        case 2: signature.contentHash ^= bits; break;
        case 3: signature.shift = static_cast<uint8_t>(signature.shift + small); break;
        case 4: if (entry) entry->length += small; break;
        default: if (entry) entry->hash ^= bits; break;
        }
    }
    Bytes forged = encodeSignature(signature);
    if (forged.size() > s.signatureCapacity) return;
    std::copy(forged.begin(), forged.end(), room);
    exercise(archive);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const Bytes seeds[2] = {buildArchive(true), buildArchive(false)};
    static const Bytes longHistory = buildLongHistory();
    if (size < 1) return 0;
    uint8_t mode = data[0] % 7;
    ++data;
    --size;
    if (mode == 6) {
        forgeSignature(seeds[size > 0 && (data[0] & 0x80)], data, size);
        return 0;
    }
    if (mode == 5) {
        // A record of changes on a long history, its entries forged.
        exercise(testing::forgeChanges(longHistory, [&](DirectoryChanges& link, ArchiveState&, ArchiveState& after) {
            if (size >= 2 && (data[0] & 1)) link.depth += static_cast<int8_t>(data[1]);
            forgeFields(after, data, size);
        }));
        return 0;
    }
    if (mode == 0) {
        exercise(Bytes(data, data + size));
        return 0;
    }
    Bytes archive = seeds[mode % 2];
    if (mode >= 3) {
        // Forgery: first a block's byte changed under a right hash, then fields.
        if (size >= 3 && (data[0] & 1)) {
            ArchiveState s = testing::decodeNewest(archive);
            const ContentNode& n = s.nodes[data[1] % s.nodes.size()];
            uint8_t flip = data[2] | 1;
            archive = testing::forgeBlock(archive, n.id, [&](Bytes& stored) {
                if (!stored.empty()) stored[(data[1] * 131u + data[2]) % stored.size()] ^= flip;
            });
        }
        if (size >= 3) {
            data += 3;
            size -= 3;
        }
        archive = testing::forgeState(archive, [&](ArchiveState& s) { forgeFields(s, data, size); });
        exercise(archive);
        return 0;
    }
    if (size >= 3) {
        uint32_t cut = (data[0] | data[1] << 8 | data[2] << 16);
        if (cut < archive.size() && (data[2] & 0x80)) archive.resize(cut);
        data += 3;
        size -= 3;
    }
    for (; size >= 3 && !archive.empty(); data += 3, size -= 3)
        archive[(data[0] | data[1] << 8) % archive.size()] ^= data[2];
    exercise(archive);
    return 0;
}
