// The engine's operations on whole archives: reading a state or a version,
// creating an archive, and the updates, each one Update committed or none.
#include "archive.h"

#include "commit.h"
#include "content.h"
#include "codec.h"
#include "hash.h"
#include "history.h"
#include "limits.h"

#include <algorithm>
#include <cstring>
#include <functional>
#include <new>
#include <stdexcept>

namespace kseng {
namespace {

constexpr int kReadAttempts = 4;

// The header copies as they are on disk: when they have not changed, a
// damaged read was no race with a writer.
Bytes headerSlots(File& file) {
    Bytes slots(4 * kHeaderSize, 0);
    for (int i = 0; i < 2; ++i) {
        file.readAt(kSlotOffset[i], slots.data() + i * kHeaderSize, kHeaderSize);
        file.readAt(kMirrorOffset[i], slots.data() + (2 + i) * kHeaderSize, kHeaderSize);
    }
    return slots;
}

// Runs one read-only look at an archive, again when a concurrent writer
// committed while it was reading.
Status withArchive(FileSystem& fs, const std::string& path, const std::function<Status(File&)>& look) {
    Status status = kCorrupt;
    for (int attempt = 0; attempt < kReadAttempts; ++attempt) {
        OpenError error;
        std::unique_ptr<File> file = fs.open(path, OpenMode::Read, &error);
        if (!file) return error == OpenError::NotFound ? kNoArchive : kIoError;
        Bytes before = headerSlots(*file);
        status = look(*file);
        if (status != kCorrupt || headerSlots(*file) == before) return status;
    }
    return status;
}

Status guarded(const std::function<Status()>& body) {
    try {
        return body();
    } catch (const std::bad_alloc&) {
        return kNoMemory;
    } catch (const std::length_error&) {
        return kNoMemory;
    }
}

// Hands version number's content to out, checked against its hash.
Status streamNumber(File& file, uint32_t number, const std::function<Status(const uint8_t*, size_t)>& out,
                    uint64_t* size = nullptr) {
    Loaded loaded;
    Status status = loadNewest(file, &loaded);
    if (status != kOk) return status;
    const VersionEntry* v = loaded.current.findVersion(number);
    if (!v) return kNoVersion;
    if (v->size > kMaxContentSize) return kTooLarge;  // saved by a build that takes larger files
    if (size) *size = v->size;
    return streamVersion(file, loaded.current, *v, out);
}

// Writes an extracted version into target: where the file system reads a
// never-written range as zeros, runs of zeros are skipped, so that a sparse
// version comes back sparse.
class ExtractionWriter {
public:
    explicit ExtractionWriter(File& target) : target_(target), skipZeros_(target.makeSparse()) {}
    Status write(const uint8_t* data, size_t length) {
        constexpr size_t kRun = 64 * 1024;
        while (length > 0) {
            size_t take = std::min(length, kRun - static_cast<size_t>(at_ % kRun));
            bool zeros = skipZeros_ && std::all_of(data, data + take, [](uint8_t b) { return b == 0; });
            if (!zeros && !target_.writeAt(at_, data, take)) return kTargetUnwritable;
            at_ += take;
            data += take;
            length -= take;
        }
        return kOk;
    }
    Status finish() {
        uint64_t size = 0;
        if (!target_.size(&size) || (size < at_ && !target_.truncate(at_)) || !target_.flush()) return kTargetUnwritable;
        return kOk;
    }

private:
    File& target_;
    bool skipZeros_;
    uint64_t at_ = 0;
};

}  // namespace
// ---- state queries --------------------------------------------------------------------

const VersionEntry* ArchiveState::findVersion(uint32_t number) const {
    auto it = std::lower_bound(versions.begin(), versions.end(), number,
                               [](const VersionEntry& v, uint32_t n) { return v.number < n; });
    return it != versions.end() && it->number == number ? &*it : nullptr;
}

const ContentNode* ArchiveState::findNode(uint32_t id) const {
    auto it = std::lower_bound(nodes.begin(), nodes.end(), id,
                               [](const ContentNode& n, uint32_t i) { return n.id < i; });
    return it != nodes.end() && it->id == id ? &*it : nullptr;
}

size_t ArchiveState::temporaryCount() const {
    return static_cast<size_t>(std::count_if(versions.begin(), versions.end(),
                                             [](const VersionEntry& v) { return !v.permanent; }));
}

std::string boundedText(const char* text, size_t max) {
    if (!text) return std::string();
    size_t n = 0;
    while (n < max && text[n]) ++n;
    return std::string(text, n);
}

Status loadState(File& file, ArchiveState* state) {
    return guarded([&] {
        Loaded loaded;
        Status status = loadNewest(file, &loaded);
        if (status == kOk) *state = std::move(loaded.current);
        return status;
    });
}

Status readState(FileSystem& fs, const std::string& archivePath, ArchiveState* state) {
    return withArchive(fs, archivePath, [&](File& file) { return loadState(file, state); });
}

Status readVersion(FileSystem& fs, const std::string& archivePath, uint32_t number, Bytes* content) {
    return withArchive(fs, archivePath, [&](File& file) {
        return guarded([&] {
            content->clear();
            return streamNumber(file, number, [&](const uint8_t* data, size_t length) {
                content->insert(content->end(), data, data + length);
                return kOk;
            });
        });
    });
}

int compareWorking(FileSystem& fs, const std::string& workingPath, const std::string& archivePath) {
    Status status = guarded([&] {
        std::unique_ptr<File> working = fs.open(workingPath, OpenMode::Read);
        uint64_t size = 0;
        if (!working || !working->size(&size)) return kSourceUnreadable;
        if (size > kMaxContentSize) return kTooLarge;
        ArchiveState state;
        Status read = readState(fs, archivePath, &state);
        if (read != kOk) return read;
        // A positive answer: kOk and differs; kNoVersion stands for "no version to compare with".
        if (state.versions.empty() || state.versions.back().size != size) return kNoVersion;
        Hasher hasher;
        Bytes buffer(static_cast<size_t>(std::min<uint64_t>(size, kFrameSize)));
        for (uint64_t at = 0; at < size;) {
            size_t take = static_cast<size_t>(std::min<uint64_t>(buffer.size(), size - at));
            if (!working->readAt(at, buffer.data(), take)) return kSourceUnreadable;
            hasher.update(buffer.data(), take);
            at += take;
        }
        return hasher.digest() == state.versions.back().contentHash ? kOk : kNoVersion;
    });
    return status == kOk ? 0 : status == kNoVersion ? 1 : -static_cast<int>(status);
}

Status extractVersion(FileSystem& fs, const std::string& archivePath, uint32_t number, const std::string& targetPath) {
    return guarded([&] {
        std::string scratch = fs.scratchNameBeside(targetPath);
        Status status = withArchive(fs, archivePath, [&](File& file) {
            fs.remove(scratch);  // what an attempt that met a concurrent writer left
            std::unique_ptr<File> out;
            ExtractionWriter* writer = nullptr;
            std::unique_ptr<ExtractionWriter> owner;
            Status streamed = streamNumber(file, number, [&](const uint8_t* data, size_t length) {
                if (!writer) {
                    out = fs.open(scratch, OpenMode::CreateNew);
                    if (!out) return kTargetUnwritable;
                    owner = std::make_unique<ExtractionWriter>(*out);
                    writer = owner.get();
                }
                return writer->write(data, length);
            });
            if (streamed != kOk) return streamed;
            if (!out) out = fs.open(scratch, OpenMode::CreateNew);  // an empty version
            if (!out) return kTargetUnwritable;
            return owner ? owner->finish() : (out->flush() ? kOk : kTargetUnwritable);
        });
        if (status == kOk && !fs.replace(scratch, targetPath)) status = kTargetUnwritable;
        if (status != kOk) fs.remove(scratch);
        return status;
    });
}

Status verifyArchive(FileSystem& fs, const std::string& archivePath, VerifyReport* report) {
    *report = VerifyReport();
    // Damage found while a writer committed may be the writer's doing:
    // withArchive looks again then.
    return withArchive(fs, archivePath, [&](File& file) {
        return guarded([&] {
            *report = VerifyReport();
            Loaded loaded;
            Status status = loadNewest(file, &loaded);
            report->damagedHeaderCopies = loaded.damagedCopies;
            if (status != kOk) return status;
            report->directoryRead = true;
            report->versionCount = loaded.current.versions.size();
            for (const VersionEntry& v : loaded.current.versions) {
                if (v.size > kMaxContentSize) continue;  // this build cannot read it; another may
                status = streamVersion(file, loaded.current, v, [](const uint8_t*, size_t) { return kOk; });
                if (status == kNoMemory || status == kIoError) return status;
                if (status != kOk) report->damaged.push_back(v.number);
            }
            return report->damaged.empty() ? kOk : kCorrupt;
        });
    });
}

Status createArchive(FileSystem& fs, const std::string& archivePath, const std::string& sourcePath,
                     const VersionMeta& meta, uint32_t maxTemporary, bool compress) {
    return guarded([&] {
        if (std::unique_ptr<File> existing = fs.open(archivePath, OpenMode::Read)) return kExists;
        Status status = kOk;
        std::string scratch = fs.scratchNameBeside(archivePath);
        std::unique_ptr<File> file = fs.open(scratch, OpenMode::CreateNew);
        if (!file) return kIoError;
        // The header sectors first, so that the file has its full header even
        // where no slot copy goes.
        Bytes headerSectors(kDataStart, 0);
        if (!file->writeAt(0, headerSectors.data(), headerSectors.size())) {
            status = kIoError;
        } else {
            Update u(*file);
            u.beginEmpty(compress, std::min(std::max(maxTemporary, kMinTemporaryLimit), kMaxTemporaryLimit));
            status = appendVersion(u, fs, sourcePath, meta);
            if (status == kOk) status = u.commit();
        }
        file.reset();
        if (status == kOk && !fs.publish(scratch, archivePath)) {
            std::unique_ptr<File> existing = fs.open(archivePath, OpenMode::Read);
            status = existing ? kExists : kIoError;
        }
        if (status != kOk) fs.remove(scratch);
        return status;
    });
}

Status addVersion(File& file, const std::string& sourcePath, FileSystem& fs, const VersionMeta& meta) {
    return guarded([&] {
        Update u(file);
        Status status = u.begin();
        if (status == kOk) status = appendVersion(u, fs, sourcePath, meta);
        return status == kOk ? u.commit() : status;
    });
}

Status deleteVersion(File& file, uint32_t number) {
    return guarded([&] {
        Update u(file);
        Status status = u.begin();
        if (status != kOk) return status;
        const VersionEntry* v = u.state().findVersion(number);
        if (!v) return kNoVersion;
        status = removeVersion(u, static_cast<size_t>(v - u.state().versions.data()));
        if (status != kOk) return status;
        dropUnusedNodes(u.state());
        return u.commit();
    });
}

Status setPermanent(File& file, uint32_t number, bool permanent) {
    return guarded([&] {
        Update u(file);
        Status status = u.begin();
        if (status != kOk) return status;
        const VersionEntry* v = u.state().findVersion(number);
        if (!v) return kNoVersion;
        if (v->permanent == permanent) return kOk;
        u.state().versions[static_cast<size_t>(v - u.state().versions.data())].permanent = permanent;
        return u.commit();
    });
}

Status setMaxTemporary(File& file, uint32_t count) {
    if (count < kMinTemporaryLimit || count > kMaxTemporaryLimit) return kBadArgument;
    return guarded([&] {
        Update u(file);
        Status status = u.begin();
        if (status != kOk) return status;
        if (u.state().maxTemporary == count) return kOk;
        u.state().maxTemporary = count;
        status = pruneTemporary(u);
        return status == kOk ? u.commit() : status;
    });
}


}  // namespace kseng
