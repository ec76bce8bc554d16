#pragma once

// The harnesses feed the code under test through files, as the program sees its input. Each
// process writes every input to a file of its own, in memory when /dev/shm is there, and
// removes it when the process exits normally (a crashing run leaves it for a look).

#include <sys/stat.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace fuzzinput {

class InputFile {
public:
    explicit InputFile(const char* harness) {
        struct stat st;
        const char* tmp = std::getenv("TMPDIR");
        std::string dir =
            stat("/dev/shm", &st) == 0 && S_ISDIR(st.st_mode) && access("/dev/shm", W_OK) == 0
                ? "/dev/shm"
                : (tmp != nullptr && *tmp != '\0' ? tmp : "/tmp");
        path = dir + "/cihear-" + harness + "-" + std::to_string(getpid()) + ".wav";
    }
    InputFile(const InputFile&) = delete;
    InputFile& operator=(const InputFile&) = delete;
    ~InputFile() { std::remove(path.c_str()); }

    // Replaces the file's content with the input; aborts if it cannot, since a harness that
    // silently tested an old or empty file would report nothing for the wrong reason.
    const char* Write(const uint8_t* data, size_t size) {
        FILE* f = std::fopen(path.c_str(), "wb");
        if (f == nullptr || (size > 0 && std::fwrite(data, 1, size, f) != size) ||
            std::fclose(f) != 0) {
            std::perror(path.c_str());
            std::abort();
        }
        return path.c_str();
    }

private:
    std::string path;
};

// Stops the run with a message when a property the code promises does not hold; libFuzzer and
// the replay driver both report the abort with the input that caused it.
inline void Require(bool holds, const char* what) {
    if (!holds) {
        std::fprintf(stderr, "property violated: %s\n", what);
        std::abort();
    }
}

}  // namespace fuzzinput
