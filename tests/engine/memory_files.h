// Files in memory for tests and the fuzz target, with faults on demand: the
// N-th write, flush, truncate or rename fails, or the "machine" stops there.
// A stop may also lose what was written since each file's last flush, as a
// power cut does.
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
    };

    MemoryFiles() = default;
    // A copy holds copies of the files, so a test can branch from one state.
    MemoryFiles(const MemoryFiles& other) { *this = other; }
    MemoryFiles& operator=(const MemoryFiles& other) {
        files_.clear();
        for (const auto& entry : other.files_) {
            auto node = std::make_shared<Node>();
            node->data = entry.second->data;
            files_[entry.first] = node;
        }
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
    struct Undo {
        uint64_t offset;
        std::vector<uint8_t> before;
        size_t sizeBefore;
    };
    struct Node {
        std::vector<uint8_t> data;
        std::vector<Undo> unflushed;
        const void* lockOwner = nullptr;
    };

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
            if (!fs_->event()) {
                // A stop in the middle of a write leaves half of it.
                if (fs_->stopped_ && at == fs_->faults_.stopAt) rawWrite(offset, data, len / 2);
                return false;
            }
            rawWrite(offset, data, len);
            return true;
        }
        bool flush() override {
            if (!fs_->event()) return false;
            node_->unflushed.clear();
            return true;
        }
        bool size(uint64_t* out) override {
            *out = node_->data.size();
            return true;
        }
        bool truncate(uint64_t len) override {
            if (!fs_->event()) return false;
            remember(len, node_->data.size() > len ? node_->data.size() - len : 0);
            node_->data.resize(len);
            return true;
        }
        bool tryLock() override {
            if (node_->lockOwner && node_->lockOwner != this) return false;
            node_->lockOwner = this;
            return true;
        }
        void unlock() override {
            if (node_->lockOwner == this) node_->lockOwner = nullptr;
        }

    private:
        void remember(uint64_t offset, size_t len) {
            Undo undo{offset, {}, node_->data.size()};
            if (offset < node_->data.size()) {
                size_t n = std::min<size_t>(len, node_->data.size() - offset);
                undo.before.assign(node_->data.begin() + offset, node_->data.begin() + offset + n);
            }
            node_->unflushed.push_back(std::move(undo));
        }
        void rawWrite(uint64_t offset, const void* data, size_t len) {
            remember(offset, len);
            if (node_->data.size() < offset + len) node_->data.resize(offset + len);
            if (len) std::memcpy(node_->data.data() + offset, data, len);
        }
        MemoryFiles* fs_;
        std::shared_ptr<Node> node_;
    };

    // Counts one event; false when it fails or the machine has stopped.
    bool event() {
        if (stopped_) return false;
        ++events_;
        if (events_ == faults_.failAt) return false;
        if (events_ == faults_.stopAt) {
            stopped_ = true;
            if (faults_.loseUnflushed) loseUnflushed();
            return false;
        }
        return true;
    }
    void loseUnflushed() {
        for (auto& entry : files_) {
            Node& node = *entry.second;
            for (size_t i = node.unflushed.size(); i-- > 0;) {
                const Undo& undo = node.unflushed[i];
                if (node.data.size() < undo.offset + undo.before.size())
                    node.data.resize(undo.offset + undo.before.size());
                if (!undo.before.empty())
                    std::memcpy(node.data.data() + undo.offset, undo.before.data(), undo.before.size());
                node.data.resize(undo.sizeBefore);
            }
            node.unflushed.clear();
        }
    }
    // Renames reach the disk only after the data they publish.
    void flushAll() {
        for (auto& entry : files_) entry.second->unflushed.clear();
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
