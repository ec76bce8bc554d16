// Feeds files to a fuzz harness without libFuzzer, so that the test suite replays the seed corpus
// and every reproducer ever found on each build, with whatever compiler and sanitizers it uses.
// Arguments are files or directories (read recursively, in name order; names beginning with a
// dot are skipped). Fails when an argument does not exist or when nothing was replayed; a
// harness that finds a fault aborts the process itself.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace fs = std::filesystem;

namespace {

bool Collect(const fs::path& path, std::vector<fs::path>& files) {
    std::error_code ec;
    if (fs::is_regular_file(path, ec)) {
        files.push_back(path);
        return true;
    }
    if (!fs::is_directory(path, ec)) {
        std::fprintf(stderr, "replay: no such file or directory: %s\n", path.c_str());
        return false;
    }
    std::vector<fs::path> found;
    for (const fs::directory_entry& entry : fs::recursive_directory_iterator(path, ec)) {
        if (entry.is_regular_file() && entry.path().filename().string().rfind('.', 0) != 0) {
            found.push_back(entry.path());
        }
    }
    if (ec) {
        std::fprintf(stderr, "replay: cannot list %s: %s\n", path.c_str(), ec.message().c_str());
        return false;
    }
    std::sort(found.begin(), found.end());
    files.insert(files.end(), found.begin(), found.end());
    return true;
}

}  // namespace

int main(int argc, char* argv[]) {
    std::vector<fs::path> files;
    for (int i = 1; i < argc; i++) {
        if (!Collect(argv[i], files)) {
            return 1;
        }
    }
    if (files.empty()) {
        std::fprintf(stderr, "replay: nothing to replay\n");
        return 1;
    }
    for (const fs::path& file : files) {
        std::ifstream in(file, std::ios::binary);
        const std::vector<char> bytes((std::istreambuf_iterator<char>(in)),
                                      std::istreambuf_iterator<char>());
        if (!in.good() && !in.eof()) {
            std::fprintf(stderr, "replay: cannot read %s\n", file.c_str());
            return 1;
        }
        // Named before the run, so that a fault report says which file caused it.
        std::fprintf(stderr, "replay: %s\n", file.c_str());
        LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
    }
    std::printf("replayed %zu files\n", files.size());
    return 0;
}
