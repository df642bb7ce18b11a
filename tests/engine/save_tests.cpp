// Saving a version from its file once: the kept signature of the newest
// version is used only when it is right, changed regions of every size are
// found to the byte, an unrelated file is given up on early, and a frame is
// handed out only when its own hash holds.
#include "archive_helpers.h"
#include "blocks.h"
#include "commit.h"
#include "forge.h"
#include "signature.h"
#include "test_data.h"

using namespace kseng;
using namespace kseng::testing;

namespace {

ArchiveState stateOf(MemoryFiles& fs) {
    ArchiveState state;
    EXPECT_EQ(readState(fs, kArchive, &state), kOk);
    return state;
}

TEST(Save, TheSignatureOfADeletedVersionIsDropped) {
    MemoryFiles fs;
    std::mt19937 rng(1);
    Bytes first = textLike(rng, 100000);
    ASSERT_EQ(create(fs, first), kOk);
    ASSERT_EQ(add(fs, edited(rng, first, 3)), kOk);
    ArchiveState state = stateOf(fs);
    ASSERT_GT(state.signatureCapacity, 0u);
    EXPECT_EQ(state.signatureNode, state.versions.back().node);
    ASSERT_EQ(change(fs, [](File& f) { return deleteVersion(f, 2); }), kOk);
    state = stateOf(fs);
    EXPECT_EQ(state.signatureCapacity, 0u) << "it describes nothing the archive holds";
    // The next save makes one from the newest version's content.
    Bytes next = edited(rng, first, 2);
    ASSERT_EQ(add(fs, next), kOk);
    state = stateOf(fs);
    EXPECT_EQ(state.signatureNode, state.versions.back().node);
    Bytes read;
    ASSERT_EQ(readVersion(fs, kArchive, 3, &read), kOk);
    EXPECT_EQ(read, next);
}

// Rewrites the kept signature, with a right hash, through edit.
void forgeSignature(MemoryFiles& fs, const std::function<void(Signature&)>& edit) {
    Bytes archive;
    fs.get(kArchive, &archive);
    ArchiveState state = decodeNewest(archive);
    Bytes bytes(archive.begin() + static_cast<std::ptrdiff_t>(state.signatureOffset),
                archive.begin() + static_cast<std::ptrdiff_t>(state.signatureOffset + state.signatureCapacity));
    uint32_t count;
    std::memcpy(&count, bytes.data() + kSignatureHeaderSize - 4, 4);
    bytes.resize(static_cast<size_t>(encodedSignatureSize(count)));
    Signature s;
    ASSERT_TRUE(decodeSignature(bytes, &s));
    edit(s);
    Bytes forged = encodeSignature(s);
    ASSERT_LE(forged.size(), state.signatureCapacity);
    std::copy(forged.begin(), forged.end(), archive.begin() + static_cast<std::ptrdiff_t>(state.signatureOffset));
    fs.put(kArchive, archive);
}

TEST(Save, ASignatureThatDoesNotFitItsVersionIsNeverBelieved) {
    std::mt19937 rng(2);
    Bytes first = textLike(rng, 300000);
    const std::function<void(Signature&)> forgeries[] = {
        [](Signature& s) { s.entries[1].length += 1; },                          // chunks longer than the content
        [](Signature& s) { s.entries.back().length -= 1; },                      // shorter
        [](Signature& s) { s.entries[0].length = uint32_t(ChunkSizes{s.shift}.max() + 1); },
        [](Signature& s) { s.contentHash ^= 1; },
        [](Signature& s) { s.node += 1; },
        // The signature of a longer content under the version's node and
        // hash: believed, the save would copy from past the old content.
        [&first](Signature& s) {
            Bytes longer = first;
            longer.insert(longer.end(), first.begin(), first.begin() + 50000);
            ChunkSizes sizes = chunkSizesFor(longer.size());
            s.entries.clear();
            for (size_t at = 0; at < longer.size();) {
                size_t cut = nextCut(longer.data() + at, longer.size() - at, true, sizes);
                s.entries.push_back(SignatureEntry{static_cast<uint32_t>(cut), hash64(longer.data() + at, cut)});
                at += cut;
            }
            s.contentSize = longer.size();
        },
    };
    for (size_t f = 0; f < sizeof forgeries / sizeof *forgeries; ++f) {
        MemoryFiles fs;
        ASSERT_EQ(create(fs, first), kOk);
        forgeSignature(fs, forgeries[f]);
        Bytes next = edited(rng, first, 4);
        if (f == sizeof forgeries / sizeof *forgeries - 1)
            next.insert(next.end(), first.begin(), first.begin() + 50000);  // the content the forgery describes
        ASSERT_EQ(add(fs, next), kOk) << f;
        Contents contents;
        ASSERT_EQ(readAll(fs, &contents), kOk) << f;
        EXPECT_EQ(contents, (Contents{{1, first}, {2, next}})) << "forgery " << f;
    }
}

// A changed region longer than the old bytes one look takes: the old bytes
// are taken from both of its ends, and what matches at either is copied.
TEST(Save, ALongChangedRegionIsFoundFromBothEnds) {
    MemoryFiles fs;
    std::mt19937 rng(3);
    Bytes first = randomBytes(rng, 8 << 20);
    ASSERT_EQ(create(fs, first), kOk);
    // Two megabytes in the middle with a byte changed every 1,000: no chunk
    // of it matches, yet nearly all of its bytes are the old ones. (Random
    // content: text would let the matcher find short copies anywhere.)
    Bytes next = first;
    for (size_t at = 3 << 20; at < (5u << 20); at += 1000) next[at] ^= 0x40;
    ASSERT_EQ(add(fs, next), kOk);
    Bytes read;
    ASSERT_EQ(readVersion(fs, kArchive, 2, &read), kOk);
    EXPECT_EQ(read, next);
    ArchiveState state = stateOf(fs);
    const ContentNode* delta = state.findNode(state.versions.back().node);
    ASSERT_EQ(delta->kind, ContentNode::Delta);
    // The ends found in the old bytes take no literals; the middle no look
    // reached does.
    EXPECT_LT(delta->literalLength, (2u << 20) - (1u << 20) + (64u << 10));
}

// Counts what is read from the files it hands out.
class CountingFiles final : public FileSystem {
public:
    explicit CountingFiles(MemoryFiles& inner) : inner_(inner) {}
    uint64_t bytesRead = 0;
    std::unique_ptr<File> open(const std::string& path, OpenMode mode, OpenError* error = nullptr) override {
        std::unique_ptr<File> file = inner_.open(path, mode, error);
        return file ? std::make_unique<Counted>(std::move(file), this) : nullptr;
    }
    bool publish(const std::string& temp, const std::string& final) override { return inner_.publish(temp, final); }
    bool replace(const std::string& temp, const std::string& final) override { return inner_.replace(temp, final); }
    bool remove(const std::string& path) override { return inner_.remove(path); }
    std::string scratchNameBeside(const std::string& path) override { return inner_.scratchNameBeside(path); }

private:
    struct Counted final : File {
        Counted(std::unique_ptr<File> f, CountingFiles* owner) : file(std::move(f)), owner(owner) {}
        bool readAt(uint64_t offset, void* data, size_t len) override {
            owner->bytesRead += len;
            return file->readAt(offset, data, len);
        }
        bool writeAt(uint64_t offset, const void* data, size_t len) override { return file->writeAt(offset, data, len); }
        bool flush() override { return file->flush(); }
        bool size(uint64_t* out) override { return file->size(out); }
        bool truncate(uint64_t len) override { return file->truncate(len); }
        bool tryLock() override { return file->tryLock(); }
        void unlock() override { file->unlock(); }
        std::unique_ptr<File> file;
        CountingFiles* owner;
    };
    MemoryFiles& inner_;
};

TEST(Save, AnUnrelatedFileIsGivenUpOnAsADeltaEarly) {
    MemoryFiles memory;
    std::mt19937 rng(4);
    ASSERT_EQ(create(memory, randomBytes(rng, 24 << 20)), kOk);
    Bytes unrelated = randomBytes(rng, 24 << 20);
    memory.put(kCopy, unrelated);
    CountingFiles fs(memory);
    std::unique_ptr<File> archive = memory.open(kArchive, OpenMode::ReadWrite);
    ASSERT_EQ(addVersion(*archive, kCopy, fs, meta()), kOk);
    archive.reset();
    // Once as a delta for the first 8 MiB or so, then once whole as a base.
    EXPECT_LT(fs.bytesRead, (24u << 20) + (12u << 20));
    ArchiveState state = stateOf(memory);
    EXPECT_EQ(state.findNode(state.versions.back().node)->kind, ContentNode::Full);
    Bytes read;
    ASSERT_EQ(readVersion(memory, kArchive, 2, &read), kOk);
    EXPECT_EQ(read, unrelated);
}

// Only what a frame's own hash vouches for is handed out: the other frames
// of the block still read.
TEST(Save, AFrameIsReadOnlyWhenItsOwnHashHolds) {
    for (FrameCodec method : {FrameCodec::Raw, FrameCodec::Lz}) {
        MemoryFiles fs;
        std::unique_ptr<File> file = fs.open("block", OpenMode::CreateNew);
        Update space(*file);
        space.beginEmpty(method != FrameCodec::Raw, 10);
        std::mt19937 rng(5);
        Bytes content = textLike(rng, 3 * kFrameSize + 1000);
        BlockWriter writer(*file, space, method);
        ASSERT_EQ(writer.write(content.data(), content.size()), kOk);
        ContentNode node;
        ASSERT_EQ(writer.finish(&node), kOk);
        ASSERT_EQ(node.codec, ContentNode::Indexed);
        // A byte of the second frame's stored bytes, its index left alone.
        Bytes bytes;
        fs.get("block", &bytes);
        BlockReader reader;
        ASSERT_EQ(reader.open(*file, node), kOk);
        Bytes frame(kFrameSize);
        ASSERT_EQ(reader.read(kFrameSize, frame.data(), frame.size()), kOk);
        // Where the second frame lies: after the first frame's stored bytes.
        uint32_t firstStored;
        std::memcpy(&firstStored, bytes.data() + node.offset + node.storedLength - 4 * 12, 4);
        bytes[node.offset + (firstStored & 0x3FFFFFFF) + 10] ^= 0x01;
        fs.put("block", bytes);
        std::unique_ptr<File> damaged = fs.open("block", OpenMode::Read);
        BlockReader again;
        ASSERT_EQ(again.open(*damaged, node), kOk);
        EXPECT_EQ(again.read(kFrameSize + 5, frame.data(), 100), kCorrupt);
        EXPECT_EQ(again.read(0, frame.data(), 100), kOk);
        EXPECT_EQ(again.read(2 * kFrameSize, frame.data(), 100), kOk);
    }
}

}  // namespace
