#include "io/AtomicOutput.h"

#include <fcntl.h>
#include <limits.h>
#include <pthread.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <mutex>
#include <vector>

namespace {

// Makes a new file from `pattern`, whose last six characters are replaced by letters and digits
// until the name is free, as mkstemp does, but created with `mode` less the umask (mkstemp
// would make it 0600, and reading the umask means changing it, which is not thread-safe).
int MakeTemporary(std::string& pattern, mode_t mode) {
    static const char letters[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    static std::atomic<uint64_t> counter{0};
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    uint64_t x = uint64_t(now.tv_nsec) ^ uint64_t(now.tv_sec) << 30 ^ uint64_t(getpid()) << 12 ^
                 counter.fetch_add(0x9E3779B97F4A7C15ULL);
    const size_t at = pattern.size() - 6;
    for (int attempt = 0; attempt < 1000; attempt++) {
        for (size_t i = 0; i < 6; i++) {
            // xorshift64*: plenty to spread the names; O_EXCL makes them safe.
            x ^= x >> 12;
            x ^= x << 25;
            x ^= x >> 27;
            pattern[at + i] = letters[(x * 0x2545F4914F6CDD1DULL >> 32) % 62];
        }
        const int fd = open(pattern.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, mode);
        if (fd >= 0 || errno != EEXIST) {
            return fd;
        }
    }
    return -1;
}

// ---------------------------------------------------------------------------------------------
// The temporaries the signal handler removes. Each slot goes Free -> Filling (its path being
// copied) -> Active -> Free when its writer is done, or Active -> Removing when the handler
// takes it (then the process is ending and the slot is never reused). Only lock-free atomics
// and unlink are used in the handler.

const int slotCount = 16;
enum SlotState : int { Free, Filling, Active, Removing };
struct Slot {
    std::atomic<int> state{Free};
    char path[PATH_MAX];
};
static_assert(std::atomic<int>::is_always_lock_free, "the handler may only use lock-free atomics");
Slot slots[slotCount];

// The signals that end a process by default and that a user or a system sends to stop it.
const int caughtSignals[] = {SIGINT, SIGTERM, SIGHUP};
const int caughtCount = sizeof caughtSignals / sizeof caughtSignals[0];

// Guards what follows and the taking of slots; never used by the handler.
std::mutex registryMutex;
int writers = 0;  // temporaries that exist
struct sigaction previous[caughtCount];
bool replaced[caughtCount];
struct sigaction previousFileSize;
bool fileSizeReplaced = false;

void RemoveTemporariesAndEnd(int sig) {
    const int savedErrno = errno;
    for (Slot& s : slots) {
        int expected = Active;
        if (s.state.compare_exchange_strong(expected, Removing)) {
            unlink(s.path);
        }
    }
    // As if the handler had never been there: the default action, which ends the process with
    // the status 128 + sig. The signal is blocked while this handler runs; it is delivered as
    // soon as it is unblocked. The other caught signals stay blocked (sa_mask), so none of them
    // can cut this short.
    struct sigaction byDefault {};
    byDefault.sa_handler = SIG_DFL;
    sigemptyset(&byDefault.sa_mask);
    sigaction(sig, &byDefault, nullptr);
    raise(sig);
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, sig);
    pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
    errno = savedErrno;
}

bool IsDefault(const struct sigaction& action) {
    return !(action.sa_flags & SA_SIGINFO) && action.sa_handler == SIG_DFL;
}

// Called with the mutex held, when the first temporary is about to be made.
void InstallHandlers() {
    struct sigaction handler {};
    handler.sa_handler = RemoveTemporariesAndEnd;
    sigemptyset(&handler.sa_mask);
    for (int s : caughtSignals) {
        sigaddset(&handler.sa_mask, s);
    }
    for (int i = 0; i < caughtCount; i++) {
        replaced[i] = sigaction(caughtSignals[i], nullptr, &previous[i]) == 0 &&
                      IsDefault(previous[i]) && sigaction(caughtSignals[i], &handler, nullptr) == 0;
    }
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    fileSizeReplaced = sigaction(SIGXFSZ, nullptr, &previousFileSize) == 0 &&
                       IsDefault(previousFileSize) && sigaction(SIGXFSZ, &ignore, nullptr) == 0;
}

// Called with the mutex held, once the last temporary is gone. A disposition someone else set
// in the meantime is left alone.
void RestoreHandlers() {
    struct sigaction current;
    for (int i = 0; i < caughtCount; i++) {
        if (replaced[i] && sigaction(caughtSignals[i], nullptr, &current) == 0 &&
            !(current.sa_flags & SA_SIGINFO) && current.sa_handler == RemoveTemporariesAndEnd) {
            sigaction(caughtSignals[i], &previous[i], nullptr);
        }
        replaced[i] = false;
    }
    if (fileSizeReplaced && sigaction(SIGXFSZ, nullptr, &current) == 0 &&
        !(current.sa_flags & SA_SIGINFO) && current.sa_handler == SIG_IGN) {
        sigaction(SIGXFSZ, &previousFileSize, nullptr);
    }
    fileSizeReplaced = false;
}

// Keeps the caught signals away from this thread for as long as it lives, so that a signal
// cannot fall between making a temporary and recording it, or between renaming it and
// forgetting it; one that arrives meanwhile is handled when the object goes.
class SignalsHeld {
public:
    SignalsHeld() {
        sigset_t set;
        sigemptyset(&set);
        for (int s : caughtSignals) {
            sigaddset(&set, s);
        }
        held = pthread_sigmask(SIG_BLOCK, &set, &saved) == 0;
    }
    ~SignalsHeld() {
        if (held) {
            pthread_sigmask(SIG_SETMASK, &saved, nullptr);
        }
    }
    SignalsHeld(const SignalsHeld&) = delete;
    SignalsHeld& operator=(const SignalsHeld&) = delete;

private:
    sigset_t saved;
    bool held = false;
};

// Counts one more writer (installing the handlers for the first), then makes the temporary from
// `pattern` and records it. Returns the descriptor, or -1 (the count is then taken back).
int MakeRecordedTemporary(std::string& pattern, mode_t mode, int& slot) {
    std::lock_guard<std::mutex> lock(registryMutex);
    if (writers++ == 0) {
        InstallHandlers();
    }
    const int fd = MakeTemporary(pattern, mode);
    slot = -1;
    if (fd >= 0 && pattern.size() < sizeof slots[0].path) {
        for (int i = 0; i < slotCount && slot < 0; i++) {
            int expected = Free;
            if (slots[i].state.compare_exchange_strong(expected, Filling)) {
                std::memcpy(slots[i].path, pattern.c_str(), pattern.size() + 1);
                slots[i].state.store(Active);
                slot = i;
            }
        }
    }
    if (fd < 0 && --writers == 0) {
        RestoreHandlers();
    }
    return fd;
}

// Forgets a temporary that has been renamed or removed.
void ForgetTemporary(int slot) {
    std::lock_guard<std::mutex> lock(registryMutex);
    if (slot >= 0) {
        int expected = Active;
        // Fails only when the handler has taken the slot: the process is ending.
        slots[slot].state.compare_exchange_strong(expected, Free);
    }
    if (--writers == 0) {
        RestoreHandlers();
    }
}

// ---------------------------------------------------------------------------------------------

// The directory part of a name, with its final slash ("" for a name without one).
std::string DirectoryOf(const std::string& name) {
    const size_t slash = name.rfind('/');
    return slash == std::string::npos ? std::string() : name.substr(0, slash + 1);
}

// Follows `name` through symbolic links to the name that is finally opened: a file, or a name
// that does not exist yet. Fills st when that exists. False on a loop or an unreadable link.
bool FollowLinks(std::string& name, struct stat& st, bool& exists) {
    const int maxLinks = 40;  // as the kernel's own limit
    for (int hops = 0;; hops++) {
        if (lstat(name.c_str(), &st) != 0) {
            // A name longer than the file system takes can be neither created nor given to a
            // temporary: refused before anything is written.
            exists = false;
            return errno != ENAMETOOLONG;
        }
        if (!S_ISLNK(st.st_mode)) {
            exists = true;
            return true;
        }
        if (hops == maxLinks) {
            return false;
        }
        std::vector<char> link(PATH_MAX + 1);
        const ssize_t n = readlink(name.c_str(), link.data(), link.size());
        if (n <= 0 || size_t(n) >= link.size()) {
            return false;
        }
        const std::string to(link.data(), size_t(n));
        name = to[0] == '/' ? to : DirectoryOf(name) + to;
    }
}

// The template of the temporary beside `name`: the name with a suffix, or a short name in the
// same directory when the name is too long to take the suffix.
std::string TemporaryPattern(const std::string& name) {
    const std::string directory = DirectoryOf(name);
    const std::string base = name.substr(directory.size());
    long maxName = pathconf(directory.empty() ? "." : directory.c_str(), _PC_NAME_MAX);
    if (maxName <= 0) {
        maxName = NAME_MAX;
    }
    const std::string suffix = ".XXXXXX";
    if (base.size() + suffix.size() <= size_t(maxName)) {
        return name + suffix;
    }
    return directory + "cihear" + suffix;
}

// The directory that holds `name`, opened to be flushed, or -1.
int OpenDirectoryOf(const std::string& name) {
    const std::string directory = DirectoryOf(name);
    return open(directory.empty() ? "." : directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
}

// A directory that cannot be flushed at all (some file systems refuse) is not a failure.
bool FlushDirectory(int fd) {
    const bool ok = fsync(fd) == 0 || errno == EINVAL || errno == ENOTSUP || errno == EROFS;
    close(fd);
    return ok;
}

bool WriteAll(int fd, const void* bytes, size_t size) {
    const char* p = static_cast<const char*>(bytes);
    while (size > 0) {
        const ssize_t n = write(fd, p, size);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return false;
        }
        p += n;
        size -= size_t(n);
    }
    return true;
}

}  // namespace

AtomicOutput::AtomicOutput(const char* name) {
    if (name == nullptr || *name == '\0') {
        return;  // names no file: nothing to write to
    }
    target = name;
    struct stat st;
    bool exists = false;
    if (!FollowLinks(target, st, exists)) {
        return;
    }
    if (exists && !S_ISREG(st.st_mode)) {
        // A device (or a FIFO, which the writer refuses): written as it is, never replaced.
        path = name;
        return;
    }
    if (DirectoryOf(target).size() == target.size()) {
        return;  // "dir/": no file name to give the result
    }
    std::string pattern = TemporaryPattern(target);
    path.reserve(pattern.size());  // nothing below allocates once the temporary exists
    SignalsHeld held;
    // A new file gets the permissions a plain fopen would give it (0666 less the umask); one
    // that replaces a file gets that file's permission bits (not set-user-ID and the like, as
    // rewriting it would clear them too), once it is made private to start with.
    descriptor = MakeRecordedTemporary(pattern, exists ? 0600 : 0666, slot);
    if (descriptor < 0) {
        return;
    }
    temporary.swap(pattern);
    if (exists && fchmod(descriptor, st.st_mode & 0777) != 0) {
        return;  // not Ready; the destructor removes the temporary
    }
    path.assign(temporary);
}

AtomicOutput::~AtomicOutput() {
    if (!temporary.empty()) {
        SignalsHeld held;
        unlink(temporary.c_str());
        Release();
    }
    if (descriptor >= 0) {
        close(descriptor);
    }
}

void AtomicOutput::Release() {
    ForgetTemporary(slot);
    slot = -1;
    temporary.clear();
}

bool AtomicOutput::Commit() {
    if (temporary.empty()) {
        return Ready();
    }
    // The data first, then the name: a crash after the rename finds the whole file. The
    // directory is opened before anything changes, so that failing to open it changes nothing.
    const int directory = OpenDirectoryOf(target);
    if (directory < 0 || fsync(descriptor) != 0) {
        if (directory >= 0) {
            close(directory);
        }
        return false;
    }
    {
        SignalsHeld held;
        if (std::rename(temporary.c_str(), target.c_str()) != 0) {
            close(directory);
            return false;
        }
        Release();
    }
    committed = true;
    close(descriptor);
    descriptor = -1;
    // The rename itself lasts once the directory is flushed. Failing that (an I/O error), the
    // new file is in place but may not survive a crash: reported as a failure.
    return FlushDirectory(directory);
}

bool WriteFileAtomically(const std::string& name, const void* bytes, size_t size) {
    AtomicOutput output(name);
    if (!output.Ready()) {
        return false;
    }
    if (!output.Direct()) {
        return WriteAll(output.descriptor, bytes, size) && output.Commit();
    }
    // A device: opened without waiting for a reader, and refused unless it behaves as a file.
    const int fd = open(output.Path(), O_WRONLY | O_TRUNC | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        return false;
    }
    struct stat st;
    bool ok = fstat(fd, &st) == 0 && (S_ISREG(st.st_mode) || lseek(fd, 0, SEEK_CUR) >= 0);
    if (!ok) {
        errno = ESPIPE;
    }
    const int flags = fcntl(fd, F_GETFL);
    ok = ok && flags >= 0 && fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) == 0 &&
         WriteAll(fd, bytes, size);
    const int savedErrno = errno;
    ok = close(fd) == 0 && ok;
    if (!ok) {
        errno = savedErrno;
    }
    return ok;
}
