// A second process for the engine's Wine tests. It saves versions the way
// the shell extension does, so tests can race two of them or kill one in the
// middle of a save.
//
//   engine_worker add <folder> <archive> <tag> <count>
//       count saves of a small file whose text names tag and the attempt;
//       prints "<attempt> <status>" per save.
//   engine_worker grow <folder> <archive> <megabytes>
//       saves ever-changing versions of a large file until killed.
#include "kseng32.h"

#include <windows.h>

#include <fcntl.h>
#include <io.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

bool writeFile(const std::string& path, const std::string& bytes) {
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return false;
    bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    return std::fclose(f) == 0 && ok;
}

int save(const std::string& folder, const std::string& archive, const std::string& copyName) {
    EngineTag tag = {};
    int status = EngineLock("work", archive.c_str(), folder.c_str(), folder.c_str(), "worker", 1, 0, &tag);
    if (status != 0) return status;
    status = EngineAddVersion(copyName.c_str(), archive.c_str(), folder.c_str(), folder.c_str(), "worker", "",
                              "", 0, 0, 0, 0, 0, &tag);
    if (status != 0) EngineLock("work", archive.c_str(), folder.c_str(), folder.c_str(), "worker", 0, 0, &tag);
    return status;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 5) return 2;
    _setmode(_fileno(stdout), _O_BINARY);  // plain "\n" lines for the test to compare
    std::string mode = argv[1], folder = argv[2], archive = argv[3];
    if (mode == "add") {
        std::string tag = argv[4];
        int count = std::atoi(argv[5]);
        std::string copyName = "copy-" + tag;
        for (int i = 0; i < count; ++i) {
            if (!writeFile(folder + "\\" + copyName, "worker " + tag + " attempt " + std::to_string(i))) return 3;
            std::printf("%d %d\n", i, save(folder, archive, copyName));
            std::fflush(stdout);
        }
        return 0;
    }
    if (mode == "grow") {
        size_t size = static_cast<size_t>(std::atoi(argv[4])) << 20;
        std::string content(size, '\0');
        unsigned seed = 12345;
        for (char& c : content) c = static_cast<char>((seed = seed * 1103515245 + 12345) >> 16);
        for (unsigned round = 0;; ++round) {
            for (int edit = 0; edit < 5; ++edit)
                content[(round * 7919 + edit * 104729) % size] ^= static_cast<char>(1 + round);
            content.insert((round * 31337) % size, "inserted text " + std::to_string(round));
            if (!writeFile(folder + "\\grow-copy", content)) return 3;
            save(folder, archive, "grow-copy");
        }
    }
    return 2;
}
