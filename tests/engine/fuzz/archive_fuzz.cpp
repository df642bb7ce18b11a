// Fuzz target over everything that reads an archive: the header slots, the
// directory, the blocks and deltas, and the updates that start from them.
// Inputs are either a whole archive, or edits (byte flips and a cut) applied
// to a well-formed archive, which takes the fuzzer deep into valid structure.
#include "archive.h"
#include "memory_files.h"

#include <cstdint>
#include <cstring>

using namespace kseng;
using kseng::testing::MemoryFiles;

namespace {

const char* kArchive = "a.ks";

Bytes buildArchive(bool compress) {
    MemoryFiles fs;
    Bytes content;
    for (int i = 0; i < 3000; ++i) content.push_back(static_cast<uint8_t>("version history "[i % 16] + i / 700));
    fs.put("copy", content);
    VersionMeta meta;
    meta.user = "fuzz";
    meta.comment = "seed";
    createArchive(fs, kArchive, "copy", meta, 3, compress);
    for (int v = 0; v < 4; ++v) {
        content.insert(content.begin() + 100 * v, 60, static_cast<uint8_t>('a' + v));
        fs.put("copy", content);
        std::unique_ptr<File> file = fs.open(kArchive, OpenMode::ReadWrite);
        addVersion(*file, "copy", fs, meta);
    }
    std::unique_ptr<File> file = fs.open(kArchive, OpenMode::ReadWrite);
    deleteVersion(*file, 3);
    Bytes archive;
    fs.get(kArchive, &archive);
    return archive;
}

void exercise(const Bytes& archive) {
    MemoryFiles fs;
    fs.put(kArchive, archive);
    ArchiveState state;
    if (readState(fs, kArchive, &state) == kOk) {
        for (const VersionEntry& v : state.versions) {
            Bytes content;
            readVersion(fs, kArchive, v.number, &content);
        }
    }
    fs.put("work", Bytes(100, 'w'));
    compareWorking(fs, "work", kArchive);
    extractVersion(fs, kArchive, 2, "out");
    // Updates start by reading too; they must refuse damage, not spread it.
    fs.put("copy", Bytes(3100, 'n'));
    VersionMeta meta;
    if (std::unique_ptr<File> file = fs.open(kArchive, OpenMode::ReadWrite)) {
        addVersion(*file, "copy", fs, meta);
        deleteVersion(*file, 1);
        setMaxTemporary(*file, 1);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const Bytes seeds[2] = {buildArchive(true), buildArchive(false)};
    if (size < 1) return 0;
    uint8_t mode = data[0] % 3;
    ++data;
    --size;
    if (mode == 0) {
        exercise(Bytes(data, data + size));
        return 0;
    }
    Bytes archive = seeds[mode - 1];
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
