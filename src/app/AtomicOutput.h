#pragma once

#include <string>

// Where an output file is written so that nobody ever finds a half-written file under its name
// and a failed write leaves whatever was there before. A regular file, or a name that does not
// exist yet, is written as a temporary file beside it (same directory, so the same file system)
// that Commit renames over the name; the temporary is removed if Commit is never reached.
// Targets that cannot be replaced that way (devices, pipes) are written directly.
class AtomicOutput {
public:
    explicit AtomicOutput(const char* name);
    AtomicOutput(const AtomicOutput&) = delete;
    AtomicOutput& operator=(const AtomicOutput&) = delete;
    ~AtomicOutput();

    // Whether there is a path to write to: false when the temporary file could not be made.
    bool Ready() const { return !path.empty(); }
    // The file to open for writing.
    const char* Path() const { return path.c_str(); }
    // Puts the written file in place; call once the writer has closed it successfully.
    bool Commit();

private:
    std::string target;     // the name the finished file gets
    std::string temporary;  // empty when writing directly or after Commit
    std::string path;
};
