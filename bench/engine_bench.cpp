// Benchmarks of the version engine against xdelta3 and zstd on the same
// pairs of versions. Every measured step runs in a process of its own, so
// that its time and peak memory are its own:
//
//   engine_bench [--size MiB] [--versions N] [--chain N] [--dir-versions N] [--workdir DIR]
//
// prints, for a text-like and a random file, stored and compressed: per
// version the archive growth and add time next to the peers' delta sizes and
// times, the extraction times of the oldest and newest version, and peak
// memory; then extraction from a long chain against copying the file, and
// reading the directory of an archive with many versions.
#include "archive.h"
#include "hash.h"
#include "kseng32.h"
#include "test_data.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <random>
#include <string>
#include <vector>

extern char** environ;

namespace {

using kseng::Bytes;
using Clock = std::chrono::steady_clock;
// The same content and edits as the engine tests: text-like or random
// files, edits of 50 to 100 bytes.
using kseng::testing::edited;
using kseng::testing::randomBytes;
using kseng::testing::textLike;

struct Run {
    double seconds = 0;
    long peakKiB = 0;
    int status = -1;
};

// Runs a program and measures its wall time and peak resident memory.
Run spawn(const std::vector<std::string>& args, const char* outputPath = "/dev/null") {
    std::vector<char*> argv;
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, outputPath, O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    Run run;
    pid_t pid;
    auto start = Clock::now();
    if (posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ) != 0) return run;
    int status = 0;
    struct rusage usage;
    wait4(pid, &status, 0, &usage);
    run.seconds = std::chrono::duration<double>(Clock::now() - start).count();
    run.peakKiB = usage.ru_maxrss;
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128;
    posix_spawn_file_actions_destroy(&actions);
    return run;
}

uint64_t fileSize(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0 ? static_cast<uint64_t>(st.st_size) : 0;
}

void writeFile(const std::string& path, const Bytes& bytes) {
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                                static_cast<std::streamsize>(bytes.size()));
}

// ---- the measured steps, each run as "engine_bench step ..." -------------------

int step(int argc, char** argv) {
    std::string what = argv[2];
    kseng::FileSystem& fs = kseng::platformFileSystem();
    kseng::VersionMeta meta;
    meta.user = "bench";
    meta.dosTime = kseng::currentDosTime();
    if (what == "create" && argc == 6)
        return kseng::createArchive(fs, argv[3], argv[4], meta, 32767, std::atoi(argv[5]) != 0);
    if (what == "add" && argc == 5) {
        std::unique_ptr<kseng::File> file = fs.open(argv[3], kseng::OpenMode::ReadWrite);
        return file ? kseng::addVersion(*file, argv[4], fs, meta) : 1;
    }
    if (what == "extract" && argc == 6)
        return kseng::extractVersion(fs, argv[3], static_cast<uint32_t>(std::atoi(argv[4])), argv[5]);
    if (what == "copy" && argc == 5) {
        // The baseline for extraction: read the file, write a new one, flush it.
        Bytes content;
        bool tooLarge;
        if (!kseng::readWholeFile(fs, argv[3], UINT64_MAX, &content, &tooLarge)) return 1;
        std::unique_ptr<kseng::File> out = fs.open(argv[4], kseng::OpenMode::CreateNew);
        return out && out->writeAt(0, content.data(), content.size()) && out->flush() ? 0 : 1;
    }
    return 2;
}

// ---- the driver ----------------------------------------------------------------------

struct Options {
    size_t mib = 64;
    int versions = 10;
    int chain = 100;
    int dirVersions = 10000;
    std::string workdir = "/tmp/kseng-bench";
    std::string self;
};

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

void benchChain(const Options& o, const char* kind, bool random) {
    std::mt19937 rng(random ? 2 : 1);
    Bytes content = random ? randomBytes(rng, o.mib << 20) : textLike(rng, o.mib << 20);
    std::vector<std::string> files;
    for (int v = 1; v <= o.versions; ++v) {
        if (v > 1) content = edited(rng, std::move(content), 5);
        files.push_back(o.workdir + "/" + kind + "-v" + std::to_string(v));
        writeFile(files.back(), content);
    }
    Bytes().swap(content);

    std::printf("\n== %s file, %zu MiB, %d versions, 5 edits of 50-100 bytes each ==\n", kind, o.mib, o.versions);
    std::printf("%-4s %12s %12s %12s %9s %9s %9s %12s %12s %12s\n", "ver", "growth", "growth", "xdelta3",
                "add s", "add s", "xdelta3 s", "zstd", "zstd s", "");
    std::printf("%-4s %12s %12s %12s %9s %9s %9s %12s %12s\n", "", "stored", "compressed", "delta", "stored",
                "compr.", "", "patch", "");
    std::string archive[2] = {o.workdir + "/" + kind + "-stored.ks", o.workdir + "/" + kind + "-zlib.ks"};
    for (const std::string& a : archive) std::remove(a.c_str());
    long peak[2] = {0, 0}, peerPeak[2] = {0, 0};
    double addSum[2] = {0, 0}, xdSum = 0, zsSum = 0;
    uint64_t growthSum[2] = {0, 0}, xdBytes = 0, zsBytes = 0;
    for (int v = 1; v <= o.versions; ++v) {
        uint64_t growth[2];
        double seconds[2];
        for (int c = 0; c < 2; ++c) {
            uint64_t before = fileSize(archive[c]);
            Run r = v == 1 ? spawn({o.self, "step", "create", archive[c], files[0], std::to_string(c)})
                           : spawn({o.self, "step", "add", archive[c], files[v - 1]});
            if (r.status != 0) std::printf("engine step failed: %d\n", r.status);
            growth[c] = fileSize(archive[c]) - before;
            seconds[c] = r.seconds;
            peak[c] = std::max(peak[c], r.peakKiB);
            if (v > 1) {
                addSum[c] += r.seconds;
                growthSum[c] += growth[c];
            }
        }
        if (v == 1) {
            std::printf("%-4d %12llu %12llu %12s %9.3f %9.3f\n", v, (unsigned long long)growth[0],
                        (unsigned long long)growth[1], "-", seconds[0], seconds[1]);
            continue;
        }
        std::string xd = o.workdir + "/xd.delta", zs = o.workdir + "/zs.patch";
        Run x = spawn({"xdelta3", "-e", "-f", "-s", files[v - 2], files[v - 1], xd});
        Run z = spawn({"zstd", "-q", "-f", "--patch-from=" + files[v - 2], files[v - 1], "-o", zs});
        peerPeak[0] = std::max(peerPeak[0], x.peakKiB);
        peerPeak[1] = std::max(peerPeak[1], z.peakKiB);
        xdSum += x.seconds;
        zsSum += z.seconds;
        xdBytes += fileSize(xd);
        zsBytes += fileSize(zs);
        std::printf("%-4d %12llu %12llu %12llu %9.3f %9.3f %9.3f %12llu %12.3f\n", v, (unsigned long long)growth[0],
                    (unsigned long long)growth[1], (unsigned long long)fileSize(xd), seconds[0], seconds[1],
                    x.seconds, (unsigned long long)fileSize(zs), z.seconds);
    }
    int n = o.versions - 1;
    std::printf("mean %11.0f %12.0f %12.0f %9.3f %9.3f %9.3f %12.0f %12.3f\n", double(growthSum[0]) / n,
                double(growthSum[1]) / n, double(xdBytes) / n, addSum[0] / n, addSum[1] / n, xdSum / n,
                double(zsBytes) / n, zsSum / n);
    std::printf("ratios: compressed growth / xdelta3 delta = %.2f (goal <= 1); stored growth = %.0f B (goal <= 4096)\n",
                double(growthSum[1]) / double(std::max<uint64_t>(xdBytes, 1)), double(growthSum[0]) / n);
    std::printf("        add time / xdelta3 -e = %.2f stored, %.2f compressed (goal <= 0.5)\n", addSum[0] / xdSum,
                addSum[1] / xdSum);
    std::string out = o.workdir + "/extracted";
    for (int c = 0; c < 2; ++c) {
        std::remove(out.c_str());
        Run oldest = spawn({o.self, "step", "extract", archive[c], "1", out});
        std::remove(out.c_str());
        Run newest = spawn({o.self, "step", "extract", archive[c], std::to_string(o.versions), out});
        peak[c] = std::max({peak[c], oldest.peakKiB, newest.peakKiB});
        std::printf("%s: archive %llu bytes; extract oldest %.3f s, newest %.3f s; peak memory %ld MiB "
                    "(goal <= %zu MiB)\n",
                    c ? "compressed" : "stored", (unsigned long long)fileSize(archive[c]), oldest.seconds,
                    newest.seconds, peak[c] / 1024, 2 * o.mib + 64);
    }
    std::printf("peers' peak memory: xdelta3 %ld MiB, zstd %ld MiB\n", peerPeak[0] / 1024, peerPeak[1] / 1024);
    for (const std::string& f : files) std::remove(f.c_str());
    for (const std::string& a : archive) std::remove(a.c_str());
}

// Extraction from a long chain: every version is a few edits on the one before.
void benchLongChain(const Options& o) {
    std::mt19937 rng(5);
    Bytes content = textLike(rng, o.mib << 20);
    std::string file = o.workdir + "/chain-file", out = o.workdir + "/chain-out";
    std::printf("\n== extraction from a %d-version chain, text-like %zu MiB ==\n", o.chain, o.mib);
    for (int c = 0; c < 2; ++c) {
        std::string archive = o.workdir + "/chain.ks";
        std::remove(archive.c_str());
        Bytes version = content;
        writeFile(file, version);
        spawn({o.self, "step", "create", archive, file, std::to_string(c)});
        for (int v = 2; v <= o.chain; ++v) {
            version = edited(rng, std::move(version), 5);
            writeFile(file, version);
            spawn({o.self, "step", "add", archive, file});
        }
        std::vector<double> copy, first, middle, last;
        for (int i = 0; i < 3; ++i) {
            std::remove(out.c_str());
            copy.push_back(spawn({o.self, "step", "copy", file, out}).seconds);
            std::remove(out.c_str());
            first.push_back(spawn({o.self, "step", "extract", archive, "1", out}).seconds);
            std::remove(out.c_str());
            middle.push_back(spawn({o.self, "step", "extract", archive, std::to_string(o.chain / 2), out}).seconds);
            std::remove(out.c_str());
            last.push_back(spawn({o.self, "step", "extract", archive, std::to_string(o.chain), out}).seconds);
        }
        double base = median(copy);
        std::printf("%s: copy %.3f s; extract v1 %.3f s (%.2fx), v%d %.3f s (%.2fx), v%d %.3f s (%.2fx) "
                    "(goal <= 2x); archive %llu bytes\n",
                    c ? "compressed" : "stored", base, median(first), median(first) / base, o.chain / 2,
                    median(middle), median(middle) / base, o.chain, median(last), median(last) / base,
                    (unsigned long long)fileSize(archive));
        std::remove(archive.c_str());
    }
    std::remove(file.c_str());
    std::remove(out.c_str());
}

// Reading the directory of an archive with many versions, as the history does.
void benchDirectory(const Options& o) {
    std::string archive = o.workdir + "/many.ks", file = o.workdir + "/many-file";
    std::remove(archive.c_str());
    std::mt19937 rng(9);
    Bytes content = textLike(rng, 4096);
    writeFile(file, content);
    kseng::FileSystem& fs = kseng::platformFileSystem();
    kseng::VersionMeta meta;
    meta.user = "bench";
    meta.comment = "a comment of ordinary length for this version";
    kseng::createArchive(fs, archive, file, meta, 32767, true);
    {
        std::unique_ptr<kseng::File> handle = fs.open(archive, kseng::OpenMode::ReadWrite);
        for (int v = 2; v <= o.dirVersions; ++v) {
            content[rng() % content.size()] ^= 1;
            writeFile(file, content);
            meta.permanent = v % 3 == 0;
            kseng::addVersion(*handle, file, fs, meta);
        }
    }
    std::vector<double> times;
    ArchiveDirectory directory;
    EngineDirHandle dirHandle;
    int count = 0;
    for (int i = 0; i < 50; ++i) {
        auto start = Clock::now();
        std::memset(&directory, 0, sizeof directory);
        if (EngineReadDirectory(archive.c_str(), &directory, &dirHandle) == 0) {
            EngineCloseDirectory(dirHandle);
            count = directory.versionCount;
        }
        times.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
    }
    std::printf("\n== directory of an archive with %d versions (%llu bytes) ==\n", count,
                (unsigned long long)fileSize(archive));
    std::printf("EngineReadDirectory: median %.2f ms, worst %.2f ms over 50 reads (goal <= 5 ms)\n", median(times),
                *std::max_element(times.begin(), times.end()));
    std::remove(archive.c_str());
    std::remove(file.c_str());
}

}  // namespace

int main(int argc, char** argv) {
    if (argc >= 2 && std::string(argv[1]) == "step") return step(argc, argv);
    std::setvbuf(stdout, nullptr, _IOLBF, 0);  // lines as they come, also into a file
    Options o;
    char self[4096];
    ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
    o.self = n > 0 ? std::string(self, static_cast<size_t>(n)) : argv[0];
    for (int i = 1; i + 1 < argc; i += 2) {
        std::string key = argv[i], value = argv[i + 1];
        if (key == "--size") o.mib = std::strtoul(value.c_str(), nullptr, 10);
        else if (key == "--versions") o.versions = std::atoi(value.c_str());
        else if (key == "--chain") o.chain = std::atoi(value.c_str());
        else if (key == "--dir-versions") o.dirVersions = std::atoi(value.c_str());
        else if (key == "--workdir") o.workdir = value;
    }
    mkdir(o.workdir.c_str(), 0755);
    benchChain(o, "text", false);
    benchChain(o, "random", true);
    benchLongChain(o);
    benchDirectory(o);
    return 0;
}
