#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

class RiffFile;

// One chunk that has been entered: its header as read, and where its content begins and ends.
// Offsets are 64-bit: a RIFF file may be close to 4 GiB long, and start + size of a chunk
// near that limit must not wrap around.
class RiffChunk {
public:
    // Reads a chunk header at the stream position of `file`. A short read is not reported here;
    // the caller sees it through the stream's end-of-file (or error) indicator.
    explicit RiffChunk(RiffFile& file);

    char name[5];
    uint32_t size;  // content size; for "RIFF" and "LIST" without the 4 type bytes
    char subType[5];
    int64_t start;  // offset of the first content byte
    int64_t after;  // offset just past the content and its pad byte
};

// Reads a RIFF file and walks its chunk tree. The bottom of the stack is the file's "RIFF"
// chunk, the top is the current chunk. Every walk moves the stream forward, so any file, however
// damaged, is walked to its end in a bounded number of steps.
class RiffFile {
public:
    explicit RiffFile(const char* name);
    ~RiffFile();
    RiffFile(const RiffFile&) = delete;
    RiffFile& operator=(const RiffFile&) = delete;

    FILE* filep() { return fp; }

    bool rewind();
    bool push(const char* name = nullptr);
    bool pop();

    uint32_t chunkSize() const;
    const char* chunkName() const;
    const char* subType() const;

    bool getNextExtraItem(std::string& type, std::string& value);
    bool readExtraItem(std::string& type, std::string& value);

    // Bytes from the stream position to the end of the file (0 when past it), so that readers
    // can check a size read from the file against what the file really holds.
    int64_t bytesLeft();

private:
    // True once a read hit the end of the file or failed: either way no header can follow.
    bool atEnd() { return std::feof(fp) || std::ferror(fp); }
    bool seek(int64_t offset);
    bool currentIsInfoList() const;

    FILE* fp = nullptr;
    std::vector<RiffChunk> stack;
    int64_t fileLength = 0;
};
