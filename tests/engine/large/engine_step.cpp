// One engine operation in a process of its own, so that a test can measure
// its peak memory alone:
//   engine_step create <archive> <source> <compress 0|1>
//   engine_step add <archive> <source>
//   engine_step extract <archive> <number> <target>
//   engine_step verify <archive>
// The exit status is the engine's status; the last line of the output is
// "peak <bytes>", the most memory the process held resident.
#include "archive.h"
#include "peak_memory.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

int run(int argc, char** argv) {
    using namespace kseng;
    if (argc < 3) return 100;
    std::string what = argv[1], archive = argv[2];
    FileSystem& fs = platformFileSystem();
    VersionMeta meta;
    meta.user = "large";
    meta.dosTime = currentDosTime();
    if (what == "create" && argc == 5) return createArchive(fs, archive, argv[3], meta, 100, std::atoi(argv[4]) != 0);
    if (what == "add" && argc == 4) {
        std::unique_ptr<File> file = fs.open(archive, OpenMode::ReadWrite);
        return file ? addVersion(*file, argv[3], fs, meta) : kNoArchive;
    }
    if (what == "extract" && argc == 5)
        return extractVersion(fs, archive, static_cast<uint32_t>(std::atoi(argv[3])), argv[4]);
    if (what == "verify" && argc == 3) {
        VerifyReport report;
        return verifyArchive(fs, archive, &report);
    }
    return 100;
}

}  // namespace

int main(int argc, char** argv) {
    int status = run(argc, argv);
    std::printf("peak %llu\n", kseng::testing::peakMemoryBytes());
    return status;
}
