// Benchmarks of the version engine against xdelta3, zstd --patch-from and
// rdiff (signature + delta) on the same versions, in one run. Every measured
// step runs in a process of its own, so that its time and peak memory are
// its own; bench/run.sh pins the whole run to one processor.
//
//   engine_bench [--size MiB] [--versions N] [--large-mib N] [--large-versions N]
//                [--single-gib N] [--chain N] [--dir-versions N] [--repeat N] [--workdir DIR]
//
// Cases: a chain of versions (text-like and random, 5 edits of 50-100 bytes
// each) saved stored and compressed, with growth, time and memory per save
// next to the peers' deltas, and extraction next to a copy; the same for a
// large chain; one very large file saved and extracted (memory); extraction
// from a long chain; and an archive of many versions (adds and directory
// reads). The summary at the end puts each goal next to its measured ratio.
#include "archive.h"
#include "hash.h"
#include "kseng32.h"
#include "peak_memory.h"
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
// The same content and edits as the engine tests.
using kseng::testing::edited;
using kseng::testing::randomBytes;
using kseng::testing::textLike;

constexpr double kMiB = 1024.0 * 1024.0;

struct Run {
    double seconds = 0;
    uint64_t peakBytes = 0;
    int status = -1;
};

// The engine's steps report their own peak (VmHWM: this program alone); a
// peer's is its resource usage, which also counts the few MiB this driver
// held when it started it.
Run spawn(const std::vector<std::string>& args, const char* outputPath = "/dev/null") {
    std::vector<char*> argv;
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    std::string capture = std::string(outputPath) == "/dev/null" ? "/tmp/kseng-bench-step.out" : outputPath;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, capture.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    Run run;
    pid_t pid;
    auto start = Clock::now();
    if (posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ) != 0) return run;
    int status = 0;
    struct rusage usage;
    wait4(pid, &status, 0, &usage);
    run.seconds = std::chrono::duration<double>(Clock::now() - start).count();
    run.peakBytes = static_cast<uint64_t>(usage.ru_maxrss) * 1024;
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128;
    posix_spawn_file_actions_destroy(&actions);
    if (FILE* out = std::fopen(capture.c_str(), "r")) {
        char line[128];
        while (std::fgets(line, sizeof line, out))
            if (std::strncmp(line, "peak ", 5) == 0) run.peakBytes = std::strtoull(line + 5, nullptr, 10);
        std::fclose(out);
    }
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

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

// ---- the measured steps, each run as "engine_bench step ..." -------------------

int runStep(int argc, char** argv) {
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
        // The baseline for extraction: read the file and write a new one a
        // megabyte at a time, then flush it.
        std::unique_ptr<kseng::File> in = fs.open(argv[3], kseng::OpenMode::Read);
        std::unique_ptr<kseng::File> out = fs.open(argv[4], kseng::OpenMode::CreateNew);
        uint64_t size = 0;
        if (!in || !out || !in->size(&size)) return 1;
        Bytes buffer(1 << 20);
        for (uint64_t at = 0; at < size;) {
            size_t take = static_cast<size_t>(std::min<uint64_t>(buffer.size(), size - at));
            if (!in->readAt(at, buffer.data(), take) || !out->writeAt(at, buffer.data(), take)) return 1;
            at += take;
        }
        return out->flush() ? 0 : 1;
    }
    return 2;
}

int step(int argc, char** argv) {
    int status = runStep(argc, argv);
    std::printf("peak %llu\n", kseng::testing::peakMemoryBytes());
    return status;
}

// ---- the driver ----------------------------------------------------------------------

struct Options {
    size_t mib = 64;
    int versions = 10;
    size_t largeMib = 1024;
    int largeVersions = 4;
    size_t singleGib = 4;
    int chain = 100;
    int dirVersions = 10000;
    int repeat = 3;
    std::string workdir = "/tmp/kseng-bench";
    std::string self;
};

// What the summary shows: a measured ratio and its goal.
struct Goal {
    std::string what;
    double measured;
    double limit;
    const char* unit;
};
std::vector<Goal> goals;

void goal(const std::string& what, double measured, double limit, const char* unit = "") {
    goals.push_back(Goal{what, measured, limit, unit});
}

std::string mib(uint64_t bytes) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f", double(bytes) / kMiB);
    return text;
}

// Saves a chain of versions stored and compressed, each next to the peers'
// deltas from the version before, then extracts the oldest and newest.
void benchChain(const Options& o, const char* kind, bool random, size_t sizeMib, int versions, bool withZstd) {
    std::mt19937 rng(random ? 2 : 1);
    std::vector<std::string> files;
    {
        Bytes content = random ? randomBytes(rng, sizeMib << 20) : textLike(rng, sizeMib << 20);
        for (int v = 1; v <= versions; ++v) {
            if (v > 1) content = edited(rng, std::move(content), 5);
            files.push_back(o.workdir + "/" + kind + "-v" + std::to_string(v));
            writeFile(files.back(), content);
        }
    }
    uint64_t size = fileSize(files[0]);
    std::printf("\n== %s, %zu MiB, %d versions, 5 edits of 50-100 bytes each ==\n", kind, sizeMib, versions);
    std::printf("%-4s | %9s %9s %7s %7s | %8s %7s | %8s %7s | %8s %8s %7s\n", "ver", "growth B", "growth B", "add s",
                "add s", "xdelta3", "s", "zstd", "s", "rdiff", "sig s", "delta s");
    std::printf("%-4s | %9s %9s %7s %7s | %8s %7s | %8s %7s | %8s %8s %7s\n", "", "stored", "compr.", "stored",
                "compr.", "delta B", "", "patch B", "", "delta B", "", "");
    std::string archive[2] = {o.workdir + "/" + kind + "-stored.ks", o.workdir + "/" + kind + "-lz.ks"};
    for (const std::string& a : archive) std::remove(a.c_str());
    uint64_t peak[2] = {0, 0}, createPeak[2] = {0, 0}, peerPeak[3] = {0, 0, 0};
    double addSum[2] = {0, 0}, xdSum = 0, zsSum = 0, rdSum = 0;
    uint64_t growthSum[2] = {0, 0}, xdBytes = 0, zsBytes = 0, rdBytes = 0;
    std::string xd = o.workdir + "/xd.delta", zs = o.workdir + "/zs.patch", sig = o.workdir + "/rd.sig",
                rd = o.workdir + "/rd.delta";
    for (int v = 1; v <= versions; ++v) {
        // An add may shrink the archive (pruning, a directory written whole
        // again): growth is signed.
        int64_t growth[2];
        double seconds[2];
        for (int c = 0; c < 2; ++c) {
            uint64_t before = fileSize(archive[c]);
            Run r = v == 1 ? spawn({o.self, "step", "create", archive[c], files[0], std::to_string(c)})
                           : spawn({o.self, "step", "add", archive[c], files[v - 1]});
            if (r.status != 0) std::printf("engine step failed: %d\n", r.status);
            growth[c] = static_cast<int64_t>(fileSize(archive[c]) - before);
            seconds[c] = r.seconds;
            (v == 1 ? createPeak[c] : peak[c]) = std::max(v == 1 ? createPeak[c] : peak[c], r.peakBytes);
            if (v > 1) {
                addSum[c] += r.seconds;
                growthSum[c] += static_cast<uint64_t>(growth[c]);
            }
        }
        if (v == 1) {
            std::printf("%-4d | %9lld %9lld %7.3f %7.3f |\n", v, (long long)growth[0], (long long)growth[1],
                        seconds[0], seconds[1]);
            continue;
        }
        Run x = spawn({"xdelta3", "-e", "-f", "-s", files[v - 2], files[v - 1], xd});
        Run z;
        if (withZstd) z = spawn({"zstd", "-q", "-f", "--patch-from=" + files[v - 2], files[v - 1], "-o", zs});
        std::remove(sig.c_str());
        std::remove(rd.c_str());
        Run rs = spawn({"rdiff", "signature", files[v - 2], sig});
        Run rdl = spawn({"rdiff", "delta", sig, files[v - 1], rd});
        peerPeak[0] = std::max(peerPeak[0], x.peakBytes);
        peerPeak[1] = std::max(peerPeak[1], z.peakBytes);
        peerPeak[2] = std::max({peerPeak[2], rs.peakBytes, rdl.peakBytes});
        xdSum += x.seconds;
        zsSum += z.seconds;
        rdSum += rs.seconds + rdl.seconds;
        xdBytes += fileSize(xd);
        zsBytes += withZstd ? fileSize(zs) : 0;
        rdBytes += fileSize(rd);
        std::printf("%-4d | %9lld %9lld %7.3f %7.3f | %8llu %7.3f | %8llu %7.3f | %8llu %8.3f %7.3f\n", v,
                    (long long)growth[0], (long long)growth[1], seconds[0], seconds[1],
                    (unsigned long long)fileSize(xd), x.seconds, (unsigned long long)(withZstd ? fileSize(zs) : 0),
                    z.seconds, (unsigned long long)fileSize(rd), rs.seconds, rdl.seconds);
    }
    int n = versions - 1;
    std::printf("mean | %9.0f %9.0f %7.3f %7.3f | %8.0f %7.3f | %8.0f %7.3f | %8.0f %16.3f\n",
                double(growthSum[0]) / n, double(growthSum[1]) / n, addSum[0] / n, addSum[1] / n,
                double(xdBytes) / n, xdSum / n, double(zsBytes) / n, zsSum / n, double(rdBytes) / n, rdSum / n);
    std::string name = std::string(kind) + " " + std::to_string(sizeMib) + " MiB";
    std::printf("save / xdelta3 -e: %.2f stored, %.2f compressed; save / (rdiff signature + delta): %.2f, %.2f\n",
                addSum[0] / xdSum, addSum[1] / xdSum, addSum[0] / rdSum, addSum[1] / rdSum);
    goal(name + ": save / xdelta3 -e, stored", addSum[0] / xdSum, 0.5);
    goal(name + ": save / xdelta3 -e, compressed", addSum[1] / xdSum, 0.5);
    goal(name + ": save / rdiff sig+delta, compressed", addSum[1] / rdSum, 1.0);
    if (sizeMib == o.mib) {
        goal(name + ": growth / xdelta3 delta, compressed", double(growthSum[1]) / double(std::max<uint64_t>(xdBytes, 1)), 1.0);
        goal(name + ": growth per version, stored", double(growthSum[0]) / n, 4096, " B");
    }
    std::string out = o.workdir + "/extracted";
    for (int c = 0; c < 2; ++c) {
        std::vector<double> oldest, newest, copy;
        for (int i = 0; i < o.repeat; ++i) {
            std::remove(out.c_str());
            Run old = spawn({o.self, "step", "extract", archive[c], "1", out});
            std::remove(out.c_str());
            Run last = spawn({o.self, "step", "extract", archive[c], std::to_string(versions), out});
            std::remove(out.c_str());
            copy.push_back(spawn({o.self, "step", "copy", files.back(), out}).seconds);
            oldest.push_back(old.seconds);
            newest.push_back(last.seconds);
            peak[c] = std::max({peak[c], old.peakBytes, last.peakBytes});
        }
        double worst = std::max(median(oldest), median(newest)) / median(copy);
        std::printf("%s: archive %s MiB; extract oldest %.3f s, newest %.3f s, copy %.3f s (%.2fx); "
                    "peak memory: create %s MiB, add and extract %s MiB (ceiling %s MiB)\n",
                    c ? "compressed" : "stored", mib(fileSize(archive[c])).c_str(), median(oldest), median(newest),
                    median(copy), worst, mib(createPeak[c]).c_str(), mib(peak[c]).c_str(),
                    mib(kseng::memoryCeiling(size)).c_str());
        goal(name + ": extraction / copy, " + (c ? "compressed" : "stored"), worst, 2.0);
        goal(name + ": peak memory / ceiling, " + (c ? "compressed" : "stored"),
             double(std::max(peak[c], createPeak[c])) / double(kseng::memoryCeiling(size)), 1.0);
    }
    std::remove(out.c_str());
    std::printf("peers' peak memory: xdelta3 %s MiB, zstd %s MiB, rdiff %s MiB\n", mib(peerPeak[0]).c_str(),
                mib(peerPeak[1]).c_str(), mib(peerPeak[2]).c_str());
    for (const std::string& f : files) std::remove(f.c_str());
    for (const std::string& a : archive) std::remove(a.c_str());
    for (const std::string& f : {xd, zs, sig, rd}) std::remove(f.c_str());
}

// One very large file saved and extracted: text in every 64 MiB stretch,
// zeros (holes) between, so that generating it stays quick.
void benchSingle(const Options& o) {
    uint64_t size = uint64_t(o.singleGib) << 30;
    std::string file = o.workdir + "/single", out = o.workdir + "/single-out";
    {
        std::mt19937 rng(7);
        int fd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        for (uint64_t at = 0; at < size; at += uint64_t(64) << 20) {
            Bytes text = textLike(rng, 8 << 20);
            if (::pwrite(fd, text.data(), text.size(), static_cast<off_t>(at)) < 0) break;
        }
        if (::ftruncate(fd, static_cast<off_t>(size)) != 0) std::printf("cannot make the file\n");
        ::close(fd);
    }
    std::printf("\n== one %zu GiB file (8 MiB of text in every 64 MiB, zeros between), saved and extracted ==\n",
                o.singleGib);
    uint64_t ceiling = kseng::memoryCeiling(size);
    for (int c = 0; c < 2; ++c) {
        std::string archive = o.workdir + "/single.ks";
        std::remove(archive.c_str());
        Run save = spawn({o.self, "step", "create", archive, file, std::to_string(c)});
        std::remove(out.c_str());
        Run extract = spawn({o.self, "step", "extract", archive, "1", out});
        std::remove(out.c_str());
        Run copy = spawn({o.self, "step", "copy", file, out});
        std::printf("%s: save %.1f s, peak %s MiB; extract %.1f s, peak %s MiB; copy %.1f s; ceiling %s MiB; "
                    "archive %s MiB\n",
                    c ? "compressed" : "stored", save.seconds, mib(save.peakBytes).c_str(), extract.seconds,
                    mib(extract.peakBytes).c_str(), copy.seconds, mib(ceiling).c_str(),
                    mib(fileSize(archive)).c_str());
        goal(std::to_string(o.singleGib) + " GiB single: save peak / ceiling, " + (c ? "compressed" : "stored"),
             double(save.peakBytes) / double(ceiling), 1.0);
        goal(std::to_string(o.singleGib) + " GiB single: extraction peak / ceiling, " + (c ? "compressed" : "stored"),
             double(extract.peakBytes) / double(ceiling), 1.0);
        std::remove(archive.c_str());
        std::remove(out.c_str());
    }
    std::string zs = o.workdir + "/single.zst";
    Run z = spawn({"zstd", "-q", "-f", "-T1", file, "-o", zs});
    std::printf("peer: zstd -T1 %.1f s, peak %s MiB\n", z.seconds, mib(z.peakBytes).c_str());
    std::remove(zs.c_str());
    std::remove(file.c_str());
}

// Extraction from a long chain: every version is a few edits on the one before.
void benchLongChain(const Options& o) {
    std::mt19937 rng(5);
    std::string file = o.workdir + "/chain-file", out = o.workdir + "/chain-out";
    std::printf("\n== extraction from a %d-version chain, text-like %zu MiB ==\n", o.chain, o.mib);
    for (int c = 0; c < 2; ++c) {
        std::string archive = o.workdir + "/chain.ks";
        std::remove(archive.c_str());
        {
            Bytes version = textLike(rng, o.mib << 20);
            writeFile(file, version);
            spawn({o.self, "step", "create", archive, file, std::to_string(c)});
            for (int v = 2; v <= o.chain; ++v) {
                version = edited(rng, std::move(version), 5);
                writeFile(file, version);
                spawn({o.self, "step", "add", archive, file});
            }
        }
        std::vector<double> copy, first, middle, last;
        for (int i = 0; i < o.repeat; ++i) {
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
        double worst = std::max({median(first), median(middle), median(last)}) / base;
        std::printf("%s: copy %.3f s; extract v1 %.3f s (%.2fx), v%d %.3f s (%.2fx), v%d %.3f s (%.2fx); archive %s MiB\n",
                    c ? "compressed" : "stored", base, median(first), median(first) / base, o.chain / 2,
                    median(middle), median(middle) / base, o.chain, median(last), median(last) / base,
                    mib(fileSize(archive)).c_str());
        goal(std::to_string(o.chain) + "-version chain: extraction / copy, " + (c ? "compressed" : "stored"), worst, 2.0);
        std::remove(archive.c_str());
    }
    std::remove(file.c_str());
    std::remove(out.c_str());
}

// An archive of many versions, as the history reads it: the cost of one more
// add, at 10 versions and at many, and the time to read the directory.
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
    std::vector<double> early, late;
    auto addOne = [&](int v, std::vector<double>* times) {
        content[rng() % content.size()] ^= 1;
        writeFile(file, content);
        meta.permanent = v % 3 == 0;
        std::unique_ptr<kseng::File> handle = fs.open(archive, kseng::OpenMode::ReadWrite);
        auto start = Clock::now();
        kseng::addVersion(*handle, file, fs, meta);
        if (times) times->push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
    };
    auto build = Clock::now();
    for (int v = 2; v <= o.dirVersions; ++v) addOne(v, v > 10 && v <= 60 ? &early : v > o.dirVersions - 50 ? &late : nullptr);
    double buildSeconds = std::chrono::duration<double>(Clock::now() - build).count();
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
    std::printf("\n== an archive of %d versions (%s MiB), built in %.1f s ==\n", count, mib(fileSize(archive)).c_str(),
                buildSeconds);
    std::printf("add: median %.2f ms at 11-60 versions, %.2f ms at the last 50 (%.2fx)\n", median(early), median(late),
                median(late) / median(early));
    std::printf("EngineReadDirectory: median %.2f ms, worst %.2f ms over 50 reads\n", median(times),
                *std::max_element(times.begin(), times.end()));
    goal(std::to_string(o.dirVersions) + " versions: add / add at 10", median(late) / median(early), 2.0);
    goal(std::to_string(o.dirVersions) + " versions: directory read", median(times), 5.0, " ms");
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
    std::vector<std::string> only;
    for (int i = 1; i + 1 < argc; i += 2) {
        std::string key = argv[i], value = argv[i + 1];
        if (key == "--size") o.mib = std::strtoul(value.c_str(), nullptr, 10);
        else if (key == "--versions") o.versions = std::atoi(value.c_str());
        else if (key == "--large-mib") o.largeMib = std::strtoul(value.c_str(), nullptr, 10);
        else if (key == "--large-versions") o.largeVersions = std::atoi(value.c_str());
        else if (key == "--single-gib") o.singleGib = std::strtoul(value.c_str(), nullptr, 10);
        else if (key == "--chain") o.chain = std::atoi(value.c_str());
        else if (key == "--dir-versions") o.dirVersions = std::atoi(value.c_str());
        else if (key == "--repeat") o.repeat = std::atoi(value.c_str());
        else if (key == "--workdir") o.workdir = value;
        else if (key == "--only") only.push_back(value);
    }
    auto wanted = [&](const char* part) { return only.empty() || std::count(only.begin(), only.end(), part); };
    mkdir(o.workdir.c_str(), 0755);
    if (wanted("chain")) {
        benchChain(o, "text", false, o.mib, o.versions, true);
        benchChain(o, "random", true, o.mib, o.versions, true);
    }
    if (wanted("large")) benchChain(o, "text", false, o.largeMib, o.largeVersions, true);
    if (wanted("single")) benchSingle(o);
    if (wanted("long")) benchLongChain(o);
    if (wanted("directory")) benchDirectory(o);

    std::printf("\n== summary: each goal next to what this run measured ==\n");
    int met = 0;
    for (const Goal& g : goals) {
        bool ok = g.measured <= g.limit;
        met += ok;
        std::printf("%-58s %10.2f%s  (goal <= %.2f%s)  %s\n", g.what.c_str(), g.measured, g.unit, g.limit, g.unit,
                    ok ? "met" : "NOT MET");
    }
    std::printf("%d of %zu goals met\n", met, goals.size());
    return 0;
}
