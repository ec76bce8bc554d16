#pragma once

#include <fcntl.h>
#include <unistd.h>

namespace live {

// Runs f with standard error sent to /dev/null: the audio libraries print their probing of
// devices and servers there, which is not the user's business when they fail cleanly.

template <class F>
auto Quietly(F f) -> decltype(f()) {
    const int saved = dup(2);
    const int null = open("/dev/null", O_WRONLY | O_CLOEXEC);
    if (saved >= 0 && null >= 0) {
        dup2(null, 2);
    }
    struct Restore {
        int saved, null;
        ~Restore() {
            if (saved >= 0) {
                dup2(saved, 2);
                close(saved);
            }
            if (null >= 0) {
                close(null);
            }
        }
    } restore{saved, null};
    return f();
}

}  // namespace live
