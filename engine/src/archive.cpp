// The engine's operations on whole archives: reading a state or a version,
// creating an archive, and the updates, each one Update committed or none.
#include "archive.h"

#include "commit.h"
#include "content.h"
#include "hash.h"
#include "history.h"

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

Status loadVersionContent(File& file, uint32_t number, Bytes* content) {
    Loaded loaded;
    Status status = loadNewest(file, &loaded);
    if (status != kOk) return status;
    const VersionEntry* v = loaded.current.findVersion(number);
    if (!v) return kNoVersion;
    status = rebuildContent(file, loaded.current, v->node, content);
    if (status != kOk) return status;
    return matchesVersion(loaded.current, *v, *content) ? kOk : kCorrupt;
}

Status readSource(FileSystem& fs, const std::string& path, Bytes* content) {
    bool tooLarge = false;
    if (readWholeFile(fs, path, kMaxContentSize, content, &tooLarge)) return kOk;
    return tooLarge ? kTooLarge : kSourceUnreadable;
}

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

Status loadContent(File& file, const ArchiveState& state, uint32_t nodeId, Bytes* content) {
    return guarded([&] { return state.findNode(nodeId) ? rebuildContent(file, state, nodeId, content) : kNoVersion; });
}

Status readState(FileSystem& fs, const std::string& archivePath, ArchiveState* state) {
    return withArchive(fs, archivePath, [&](File& file) { return loadState(file, state); });
}

Status readVersion(FileSystem& fs, const std::string& archivePath, uint32_t number, Bytes* content) {
    return withArchive(fs, archivePath,
                       [&](File& file) { return guarded([&] { return loadVersionContent(file, number, content); }); });
}

int compareWorking(FileSystem& fs, const std::string& workingPath, const std::string& archivePath) {
    Bytes working;
    Status status = guarded([&] { return readSource(fs, workingPath, &working); });
    if (status != kOk) return -static_cast<int>(status);
    ArchiveState state;
    status = readState(fs, archivePath, &state);
    if (status != kOk) return -static_cast<int>(status);
    if (state.versions.empty()) return 1;
    const VersionEntry& latest = state.versions.back();
    return latest.size == working.size() && latest.contentHash == hash64(working.data(), working.size()) ? 0 : 1;
}

Status extractVersion(FileSystem& fs, const std::string& archivePath, uint32_t number, const std::string& targetPath) {
    return guarded([&] {
        Bytes content;
        Status status = readVersion(fs, archivePath, number, &content);
        if (status != kOk) return status;
        std::string scratch = fs.scratchNameBeside(targetPath);
        std::unique_ptr<File> out = fs.open(scratch, OpenMode::CreateNew);
        if (!out) return kTargetUnwritable;
        bool written = (content.empty() || out->writeAt(0, content.data(), content.size())) && out->flush();
        out.reset();
        if (!written || !fs.replace(scratch, targetPath)) {
            fs.remove(scratch);
            return kTargetUnwritable;
        }
        return kOk;
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
                Bytes content;
                status = rebuildContent(file, loaded.current, v.node, &content);
                if (status == kNoMemory || status == kIoError) return status;
                if (status != kOk || !matchesVersion(loaded.current, v, content)) report->damaged.push_back(v.number);
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
            status = appendVersion(u, [&](Bytes* content) { return readSource(fs, sourcePath, content); }, meta);
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
        if (status == kOk)
            status = appendVersion(u, [&](Bytes* content) { return readSource(fs, sourcePath, content); }, meta);
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
