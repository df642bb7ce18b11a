// Files far beyond what fits in memory, natively: a 5 GiB file (sparse where
// its content is zeros) saved, changed, saved again and extracted, each step
// in a process of its own whose peak memory must stay within 64 MiB plus
// 1/256 of the file's size; and a stored archive of a version above what the
// 32-bit build once took (256 MiB).
#include "hash.h"
#include "limits.h"
#include "test_data.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <cstdlib>
#include <string>
#include <vector>

using namespace kseng;

namespace {

struct Step {
    int status = -1;
    uint64_t peakBytes = 0;
};

// Runs engine_step with args: its exit status and the peak it reports.
Step runStep(const std::vector<std::string>& args) {
    std::string command = KSENG_STEP;
    for (const std::string& a : args) command += " '" + a + "'";
    Step step;
    FILE* out = ::popen(command.c_str(), "r");
    if (!out) return step;
    char line[256];
    while (std::fgets(line, sizeof line, out))
        if (std::strncmp(line, "peak ", 5) == 0) step.peakBytes = std::strtoull(line + 5, nullptr, 10);
    int status = ::pclose(out);
    step.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128;
    return step;
}

class LargeFiles : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/kseng-large-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir_ = pattern;
    }
    void TearDown() override { std::system(("rm -rf " + dir_).c_str()); }
    std::string path(const char* name) const { return dir_ + "/" + name; }

    // A file of size bytes, zero (a hole) except for the given pieces.
    struct Piece {
        uint64_t offset;
        std::vector<uint8_t> bytes;
    };
    void writeSparse(const std::string& file, uint64_t size, const std::vector<Piece>& pieces) {
        int fd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        ASSERT_GE(fd, 0);
        for (const Piece& p : pieces)
            ASSERT_EQ(::pwrite(fd, p.bytes.data(), p.bytes.size(), static_cast<off_t>(p.offset)), ssize_t(p.bytes.size()));
        ASSERT_EQ(::ftruncate(fd, static_cast<off_t>(size)), 0);
        ::close(fd);
    }
    // Size and hash of a file; its holes are hashed as the zeros they read
    // as, without reading them.
    static std::pair<uint64_t, uint64_t> sizeAndHash(const std::string& file) {
        int fd = ::open(file.c_str(), O_RDONLY);
        if (fd < 0) return {0, 0};
        struct stat st;
        ::fstat(fd, &st);
        uint64_t size = static_cast<uint64_t>(st.st_size);
        std::vector<uint8_t> buffer(4 << 20), zeros(4 << 20, 0);
        Hasher hasher;
        for (uint64_t at = 0; at < size;) {
            off_t data = ::lseek(fd, static_cast<off_t>(at), SEEK_DATA);
            uint64_t dataAt = data < 0 ? size : static_cast<uint64_t>(data);
            for (; at < dataAt; at += std::min<uint64_t>(zeros.size(), dataAt - at))
                hasher.update(zeros.data(), static_cast<size_t>(std::min<uint64_t>(zeros.size(), dataAt - at)));
            if (at >= size) break;
            off_t hole = ::lseek(fd, static_cast<off_t>(at), SEEK_HOLE);
            uint64_t holeAt = hole < 0 ? size : static_cast<uint64_t>(hole);
            while (at < holeAt) {
                ssize_t n = ::pread(fd, buffer.data(), static_cast<size_t>(std::min<uint64_t>(buffer.size(), holeAt - at)),
                                    static_cast<off_t>(at));
                if (n <= 0) break;
                hasher.update(buffer.data(), static_cast<size_t>(n));
                at += static_cast<uint64_t>(n);
            }
        }
        ::close(fd);
        return {size, hasher.digest()};
    }
    void expectWithinMemory(const Step& step, uint64_t size, const char* what) {
        EXPECT_EQ(step.status, 0) << what;
        EXPECT_LE(step.peakBytes, memoryCeiling(size)) << what << ": peak " << (step.peakBytes >> 20) << " MiB";
        std::printf("%s: peak %llu MiB (ceiling %llu MiB)\n", what, (unsigned long long)(step.peakBytes >> 20),
                    (unsigned long long)(memoryCeiling(size) >> 20));
    }

    std::string dir_;
};

TEST_F(LargeFiles, FiveGiBSavedChangedAndExtractedInBoundedMemory) {
    constexpr uint64_t kSize = uint64_t(5) << 30;
    std::mt19937 rng(41);
    std::vector<Piece> pieces = {
        {0, kseng::testing::randomBytes(rng, 4 << 20)},
        {uint64_t(1) << 30, kseng::testing::textLike(rng, 8 << 20)},
        {kSize - (1 << 20), kseng::testing::randomBytes(rng, 1 << 20)},
    };
    writeSparse(path("v1"), kSize, pieces);
    // The second version: a few bytes changed in the text, a few written
    // into a hole.
    pieces[1].bytes[100] ^= 0x20;
    pieces[1].bytes[5000000] ^= 0x20;
    pieces.push_back({(uint64_t(3) << 30) + 12345, kseng::testing::randomBytes(rng, 100)});
    writeSparse(path("v2"), kSize, pieces);
    std::vector<Piece>().swap(pieces);
    const auto expected1 = sizeAndHash(path("v1")), expected2 = sizeAndHash(path("v2"));

    std::string archive = path("big.ks");
    expectWithinMemory(runStep({"create", archive, path("v1"), "1"}), kSize, "create");
    expectWithinMemory(runStep({"add", archive, path("v2")}), kSize, "add");
    struct stat st;
    ASSERT_EQ(stat(archive.c_str(), &st), 0);
    EXPECT_LT(st.st_size, 64 << 20) << "zeros and one edit take little room";
    for (int number : {1, 2}) {
        std::string out = path("out");
        expectWithinMemory(runStep({"extract", archive, std::to_string(number), out}), kSize, "extract");
        EXPECT_EQ(sizeAndHash(out), number == 1 ? expected1 : expected2) << "version " << number;
        ::unlink(out.c_str());
    }
    expectWithinMemory(runStep({"verify", archive}), kSize, "verify");
}

TEST_F(LargeFiles, AStoredVersionAboveTheOld32BitLimit) {
    constexpr uint64_t kSize = (uint64_t(256) << 20) + 1;
    std::mt19937 rng(42);
    std::vector<Piece> pieces = {{0, kseng::testing::textLike(rng, 32 << 20)}, {kSize - 1000, kseng::testing::randomBytes(rng, 1000)}};
    writeSparse(path("v1"), kSize, pieces);
    pieces[0].bytes[123456] ^= 1;
    writeSparse(path("v2"), kSize, pieces);
    std::vector<Piece>().swap(pieces);
    std::string archive = path("stored.ks");
    expectWithinMemory(runStep({"create", archive, path("v1"), "0"}), kSize, "create stored");
    expectWithinMemory(runStep({"add", archive, path("v2")}), kSize, "add stored");
    struct stat after;
    ASSERT_EQ(stat(archive.c_str(), &after), 0);
    for (int number : {1, 2}) {
        std::string out = path("out");
        expectWithinMemory(runStep({"extract", archive, std::to_string(number), out}), kSize, "extract stored");
        EXPECT_EQ(sizeAndHash(out), sizeAndHash(path(number == 1 ? "v1" : "v2"))) << "version " << number;
        ::unlink(out.c_str());
    }
    EXPECT_LT(uint64_t(after.st_size), kSize + (1 << 20)) << "the second version is a small delta";
}

}  // namespace
