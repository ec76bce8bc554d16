#include "app/AtomicOutput.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <memory>

namespace {

// The permissions a plain fopen would leave: an existing file keeps its own, a new one gets
// 0666 less the umask.
mode_t NewFileMode() {
    const mode_t mask = umask(0);
    umask(mask);
    return 0666 & ~mask;
}

}  // namespace

AtomicOutput::AtomicOutput(const char* name) : target(name) {
    if (target.empty()) {
        return;  // names no file: nothing to write to
    }
    struct stat st;
    mode_t mode;
    if (stat(name, &st) == 0) {
        if (!S_ISREG(st.st_mode)) {
            path = target;
            return;
        }
        // Through a symbolic link the file it points to is replaced, not the link.
        std::unique_ptr<char, decltype(&std::free)> real(realpath(name, nullptr), &std::free);
        if (real) {
            target = real.get();
        }
        mode = st.st_mode & 0777;
    } else if (lstat(name, &st) == 0) {
        // A link to nothing yet: opening it creates the file it names.
        path = target;
        return;
    } else {
        mode = NewFileMode();
    }
    temporary = target + ".XXXXXX";
    const int fd = mkstemp(temporary.data());
    if (fd < 0) {
        temporary.clear();
        return;
    }
    // mkstemp makes the file private (0600).
    const bool made = fchmod(fd, mode) == 0;
    close(fd);
    if (made) {
        path = temporary;
    }
}

AtomicOutput::~AtomicOutput() {
    if (!temporary.empty()) {
        unlink(temporary.c_str());
    }
}

bool AtomicOutput::Commit() {
    if (temporary.empty()) {
        return Ready();
    }
    if (std::rename(temporary.c_str(), target.c_str()) != 0) {
        return false;
    }
    temporary.clear();
    return true;
}
