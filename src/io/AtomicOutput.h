#pragma once

#include <cstddef>
#include <string>

// Where an output file is written so that nobody ever finds a half-written file under its name
// and a failed write leaves whatever was there before.
//
// A regular file, a name that does not exist yet, and a symbolic link (followed to the end of
// its chain, dangling or not) are written as a temporary file beside the final file, in the
// same directory and so on the same file system. Commit flushes the temporary to stable
// storage, renames it over the final name and flushes the directory, so that a file that has
// been committed survives a crash whole. The temporary is removed if Commit is never reached.
// Other targets (devices such as /dev/null) are written directly; the writer refuses those
// that cannot be written without blocking or seeking (FIFOs, sockets, terminals).
//
// While a temporary exists:
// - SIGINT, SIGTERM and SIGHUP, when their disposition is the default one, are caught: the
//   handler removes every temporary of the process, restores the default disposition and
//   raises the signal again, so the process ends with the same status as without the handler.
//   A signal the process ignores stays ignored (nohup, background jobs), and one it handles
//   itself is left to its handler (the temporary then goes when the writer is destroyed).
// - SIGXFSZ, when its disposition is the default one, is ignored, so that a write beyond the
//   file size limit fails with EFBIG and is reported instead of killing the process.
// The previous dispositions come back once the last temporary of the process is gone. The
// temporaries' names are kept for the handler in a small fixed table in static storage (signal
// dispositions are process-wide anyway); a writer finding the table full still works, only
// without the removal on a signal. Relative names are taken against the working directory,
// which must not change while a temporary exists.
//
// Not covered: SIGKILL, a crash or a power loss while writing may leave a temporary (never a
// partial file under the final name); a directory that refuses new files cannot be written to
// at all (the writer is then not Ready).
class AtomicOutput {
public:
    explicit AtomicOutput(const char* name);
    explicit AtomicOutput(const std::string& name) : AtomicOutput(name.c_str()) {}
    AtomicOutput(const AtomicOutput&) = delete;
    AtomicOutput& operator=(const AtomicOutput&) = delete;
    ~AtomicOutput();

    // Whether there is a path to write to: false when the temporary file could not be made.
    bool Ready() const { return !path.empty(); }
    // The file to open for writing: the temporary, or the named file itself when written
    // directly.
    const char* Path() const { return path.c_str(); }
    // Whether Path() is the named file itself (a device), so that nothing is renamed.
    bool Direct() const { return Ready() && temporary.empty() && !committed; }
    // Puts the written file in place; call once the writer has closed it successfully. False
    // when the file could not be flushed or renamed; the temporary is then removed when the
    // object is destroyed and the named file is as it was.
    bool Commit();

private:
    friend bool WriteFileAtomically(const std::string& name, const void* bytes, size_t size);

    void Release();

    std::string target;     // the name the finished file gets
    std::string temporary;  // empty when writing directly or after Commit
    std::string path;
    int descriptor = -1;  // the temporary, kept open to flush it
    int slot = -1;        // its entry in the table the signal handler reads, or -1
    bool committed = false;
};

// Writes size bytes as the whole content of the file `name`, through an AtomicOutput: the file
// has either its old content or all of the new one. False (errno set) when the file could not
// be made, written or put in place. For front ends that build the bytes themselves.
bool WriteFileAtomically(const std::string& name, const void* bytes, size_t size);
