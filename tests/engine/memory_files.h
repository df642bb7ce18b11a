// Files in memory for tests and the fuzz target, with faults on demand: the
// N-th write, flush, truncate or rename fails, or the "machine" stops there.
// A stop models a power cut: of the writes and truncations made since a
// file's last flush, any chosen subset reaches the disk, in order, and the
// write the machine stopped in reaches it only half.
#ifndef KSENG_TESTS_MEMORY_FILES_H
#define KSENG_TESTS_MEMORY_FILES_H

#include "io.h"

#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace kseng {
namespace testing {

class MemoryFiles final : public FileSystem {
public:
    struct Faults {
        long failAt = 0;           // event that fails (1-based), 0 for none
        long stopAt = 0;           // event at which everything stops, 0 for none
        bool loseUnflushed = false;
        // With loseUnflushed: bit i (modulo 64) keeps the i-th unflushed change
        // of a file; 0 loses them all.
        uint64_t keepMask = 0;
    };

    MemoryFiles() = default;
    // A copy holds copies of the files, so a test can branch from one state.
    MemoryFiles(const MemoryFiles& other) { *this = other; }
    MemoryFiles& operator=(const MemoryFiles& other) {
        if (this == &other) return *this;
        files_.clear();
        for (const auto& entry : other.files_) files_[entry.first] = std::make_shared<Node>(*entry.second);
        faults_ = other.faults_;
        events_ = other.events_;
        stopped_ = other.stopped_;
        scratchCounter_ = other.scratchCounter_;
        return *this;
    }

    void setFaults(const Faults& faults) {
        faults_ = faults;
        events_ = 0;
        stopped_ = false;
    }
    long events() const { return events_; }
    bool stopped() const { return stopped_; }

    // The power goes off now: of every file's changes since its last flush,
    // those that keepMask selects survive.
    void powerCut(uint64_t keepMask) {
        for (auto& entry : files_) {
            Node& node = *entry.second;
            if (node.changes.empty()) continue;
            node.data = node.durable;
            for (size_t i = 0; i < node.changes.size(); ++i)
                if (keepMask >> (i % 64) & 1) apply(node.data, node.changes[i]);
            node.changes.clear();
            node.durable.clear();
        }
    }
    // Unflushed changes of the file at path (writes and truncations).
    size_t unflushedChanges(const std::string& path) const {
        auto it = files_.find(path);
        return it == files_.end() ? 0 : it->second->changes.size();
    }

    void put(const std::string& path, const std::vector<uint8_t>& bytes) {
        auto node = std::make_shared<Node>();
        node->data = bytes;
        files_[path] = node;
    }
    bool get(const std::string& path, std::vector<uint8_t>* bytes) const {
        auto it = files_.find(path);
        if (it == files_.end()) return false;
        *bytes = it->second->data;
        return true;
    }
    bool exists(const std::string& path) const { return files_.count(path) != 0; }
    size_t fileCount() const { return files_.size(); }

    std::unique_ptr<File> open(const std::string& path, OpenMode mode, OpenError* error = nullptr) override {
        auto it = files_.find(path);
        if (mode == OpenMode::CreateNew) {
            if (it != files_.end() || !event()) {
                if (error) *error = it != files_.end() ? OpenError::Exists : OpenError::Other;
                return nullptr;
            }
            files_[path] = std::make_shared<Node>();
            it = files_.find(path);
        } else if (it == files_.end()) {
            if (error) *error = OpenError::NotFound;
            return nullptr;
        }
        if (error) *error = OpenError::None;
        return std::make_unique<Handle>(this, it->second);
    }
    bool publish(const std::string& temp, const std::string& final) override {
        if (files_.count(final) || !files_.count(temp) || !event()) return false;
        flushAll();
        files_[final] = files_[temp];
        files_.erase(temp);
        return true;
    }
    bool replace(const std::string& temp, const std::string& final) override {
        if (!files_.count(temp) || !event()) return false;
        flushAll();
        files_[final] = files_[temp];
        files_.erase(temp);
        return true;
    }
    bool remove(const std::string& path) override {
        if (stopped_) return false;
        return files_.erase(path) != 0;
    }
    std::string scratchNameBeside(const std::string& path) override {
        return path + ".~scratch" + std::to_string(scratchCounter_++);
    }

private:
    // A write (bytes at offset) or a truncation (to size).
    struct Change {
        bool truncation;
        uint64_t offset;
        std::vector<uint8_t> bytes;
    };
    struct Node {
        std::vector<uint8_t> data;
        std::vector<uint8_t> durable;  // the content at the last flush, while changes are pending
        std::vector<Change> changes;
        const void* lockOwner = nullptr;
    };

    static void apply(std::vector<uint8_t>& data, const Change& change) {
        if (change.truncation) {
            data.resize(change.offset);
            return;
        }
        if (data.size() < change.offset + change.bytes.size()) data.resize(change.offset + change.bytes.size());
        if (!change.bytes.empty()) std::memcpy(data.data() + change.offset, change.bytes.data(), change.bytes.size());
    }

    class Handle final : public File {
    public:
        Handle(MemoryFiles* fs, std::shared_ptr<Node> node) : fs_(fs), node_(std::move(node)) {}
        ~Handle() override { unlock(); }
        bool readAt(uint64_t offset, void* data, size_t len) override {
            if (offset > node_->data.size() || len > node_->data.size() - offset) return false;
            if (len) std::memcpy(data, node_->data.data() + offset, len);
            return true;
        }
        bool writeAt(uint64_t offset, const void* data, size_t len) override {
            long at = fs_->events_ + 1;
            const auto* bytes = static_cast<const uint8_t*>(data);
            if (!fs_->event(/*cutLater=*/true)) {
                // A stop in the middle of a write leaves half of it, if any.
                if (fs_->stopped_ && at == fs_->faults_.stopAt) {
                    record({false, offset, std::vector<uint8_t>(bytes, bytes + len / 2)});
                    fs_->cutIfAsked();
                }
                return false;
            }
            record({false, offset, std::vector<uint8_t>(bytes, bytes + len)});
            return true;
        }
        bool flush() override {
            if (!fs_->event()) return false;
            node_->changes.clear();
            node_->durable.clear();
            return true;
        }
        bool size(uint64_t* out) override {
            *out = node_->data.size();
            return true;
        }
        bool truncate(uint64_t len) override {
            if (!fs_->event()) return false;
            record({true, len, {}});
            return true;
        }
        bool makeSparse() override { return true; }
        bool tryLock() override {
            if (node_->lockOwner && node_->lockOwner != this) return false;
            node_->lockOwner = this;
            return true;
        }
        void unlock() override {
            if (node_->lockOwner == this) node_->lockOwner = nullptr;
        }

    private:
        void record(Change change) {
            if (node_->changes.empty()) node_->durable = node_->data;
            apply(node_->data, change);
            node_->changes.push_back(std::move(change));
        }
        MemoryFiles* fs_;
        std::shared_ptr<Node> node_;
    };

    // Counts one event; false when it fails or the machine has stopped.
    // A write that stops records its torn half first and cuts the power then.
    bool event(bool cutLater = false) {
        if (stopped_) return false;
        ++events_;
        if (events_ == faults_.failAt) return false;
        if (events_ == faults_.stopAt) {
            stopped_ = true;
            if (!cutLater) cutIfAsked();
            return false;
        }
        return true;
    }
    void cutIfAsked() {
        if (faults_.loseUnflushed) powerCut(faults_.keepMask);
    }
    // Renames reach the disk only after the data they publish.
    void flushAll() {
        for (auto& entry : files_) {
            entry.second->changes.clear();
            entry.second->durable.clear();
        }
    }

    std::map<std::string, std::shared_ptr<Node>> files_;
    Faults faults_;
    long events_ = 0;
    bool stopped_ = false;
    unsigned scratchCounter_ = 0;
};

}  // namespace testing
}  // namespace kseng

#endif
