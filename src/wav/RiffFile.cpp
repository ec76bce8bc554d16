#include "wav/RiffFile.h"

#include <sys/types.h>

#include <algorithm>
#include <cstring>

static_assert(sizeof(off_t) >= 8, "RIFF offsets up to 4 GiB need a 64-bit off_t");

namespace {

struct ExtraType {
    const char* id;
    const char* description;
};

// Descriptive text chunks: the "DISP" chunk and the items of an "INFO" list.
const ExtraType extraTypes[] = {
    {"DISP", "Display name"},  {"IARL", "Archival location"}, {"IART", "Artist"},
    {"ICMS", "Commissioned"},  {"ICMT", "Comments"},          {"ICOP", "Copyright"},
    {"ICRD", "Creation date"}, {"ICRP", "Cropped"},           {"IDIM", "Dimensions"},
    {"IDPI", "Dots Per Inch"}, {"IENG", "Engineer"},          {"IGNR", "Genre"},
    {"IKEY", "Keywords"},      {"ILGT", "Lightness"},         {"IMED", "Medium"},
    {"INAM", "Name"},          {"IPLT", "Palette Setting"},   {"IPRD", "Product"},
    {"ISBJ", "Subject"},       {"ISFT", "Software"},          {"ISHP", "Sharpness"},
    {"ISRC", "Source"},        {"ISRF", "Source Form"},       {"ITCH", "Technician"},
};
const int numExtraTypes = sizeof(extraTypes) / sizeof(extraTypes[0]);
static_assert(numExtraTypes == 24, "one entry per descriptive text chunk");

// Reads 4 bytes as they stand; bytes a short read leaves out stay zero.
void readId(FILE* fp, char (&id)[5]) {
    std::memset(id, 0, sizeof id);
    (void)std::fread(id, 1, 4, fp);
}

uint32_t readLE32(FILE* fp) {
    unsigned char b[4] = {0, 0, 0, 0};
    (void)std::fread(b, 1, 4, fp);
    return static_cast<uint32_t>(b[0]) | static_cast<uint32_t>(b[1]) << 8 |
           static_cast<uint32_t>(b[2]) << 16 | static_cast<uint32_t>(b[3]) << 24;
}

bool hasSubType(const char* id) {
    return std::strcmp(id, "RIFF") == 0 || std::strcmp(id, "LIST") == 0;
}

}  // namespace

RiffChunk::RiffChunk(RiffFile& file) {
    FILE* fp = file.filep();
    readId(fp, name);
    const uint32_t stored = readLE32(fp);
    std::memset(subType, 0, sizeof subType);
    if (hasSubType(name)) {
        readId(fp, subType);
        // The type word is part of the stored size; a size too small to hold it leaves no
        // room for sub-chunks rather than wrapping around to nearly 4 GiB.
        size = stored >= 4 ? stored - 4 : 0;
    } else {
        size = stored;
    }
    start = ftello(fp);
    const int64_t end = start + static_cast<int64_t>(size);
    after = end + (end & 1);
}

RiffFile::RiffFile(const char* name) {
    fp = std::fopen(name, "rb");
    if (fp == nullptr) {
        return;
    }
    if (fseeko(fp, 0, SEEK_END) == 0) {
        fileLength = std::max<int64_t>(ftello(fp), 0);
    }
    if (!rewind()) {
        std::fclose(fp);
        fp = nullptr;
    }
}

RiffFile::~RiffFile() {
    if (fp != nullptr) {
        std::fclose(fp);
    }
}

bool RiffFile::seek(int64_t offset) {
    return fseeko(fp, static_cast<off_t>(offset), SEEK_SET) == 0;
}

bool RiffFile::rewind() {
    stack.clear();
    if (!seek(0)) {
        return false;
    }
    RiffChunk top(*this);
    if (atEnd() || std::strcmp(top.name, "RIFF") != 0) {
        return false;
    }
    stack.push_back(top);
    return true;
}

bool RiffFile::push(const char* name) {
    if (stack.empty()) {
        return false;
    }
    if (name != nullptr && !seek(stack.back().start)) {
        return false;
    }
    // Each header read and each skip moves the stream forward by at least 8 bytes, so the
    // loop ends at the current chunk's end or at the end of the file.
    while (!atEnd() && ftello(fp) < stack.back().after) {
        RiffChunk chunk(*this);
        if (atEnd()) {
            continue;
        }
        if (name == nullptr || std::strcmp(chunk.name, name) == 0) {
            stack.push_back(chunk);
            return true;
        }
        if (!seek(chunk.after)) {
            return false;
        }
    }
    // Seeking back also clears the end-of-file indicator.
    seek(stack.back().start);
    return false;
}

bool RiffFile::pop() {
    if (stack.size() < 2) {
        return false;
    }
    seek(stack.back().after);
    stack.pop_back();
    return true;
}

uint32_t RiffFile::chunkSize() const {
    return stack.empty() ? 0 : stack.back().size;
}

const char* RiffFile::chunkName() const {
    return stack.empty() ? nullptr : stack.back().name;
}

const char* RiffFile::subType() const {
    if (stack.empty() || stack.back().subType[0] == '\0') {
        return nullptr;
    }
    return stack.back().subType;
}

bool RiffFile::currentIsInfoList() const {
    return !stack.empty() && std::strcmp(stack.back().name, "LIST") == 0 &&
           std::strcmp(stack.back().subType, "INFO") == 0;
}

bool RiffFile::getNextExtraItem(std::string& type, std::string& value) {
    if (stack.empty()) {
        return false;
    }
    for (;;) {
        if (currentIsInfoList()) {
            if (push()) {
                if (readExtraItem(type, value)) {
                    return true;
                }
            } else {
                pop();
            }
            continue;
        }
        push();
        if (std::strcmp(chunkName(), "DISP") == 0) {
            return readExtraItem(type, value);
        }
        if (currentIsInfoList() || pop()) {
            continue;
        }
        return false;
    }
}

bool RiffFile::readExtraItem(std::string& type, std::string& value) {
    if (stack.empty()) {
        return false;
    }
    const char* id = chunkName();
    bool match = false;
    for (int i = 0; i < numExtraTypes && !match; i++) {
        if (std::strcmp(id, extraTypes[i].id) == 0) {
            type = extraTypes[i].description;
            match = true;
        }
    }
    if (std::strcmp(id, "DISP") == 0) {
        fseeko(fp, 4, SEEK_CUR);  // the clipboard format that precedes the text
    }
    if (match) {
        value.clear();
        for (int c = std::fgetc(fp); c != EOF && c != 0; c = std::fgetc(fp)) {
            value.push_back(static_cast<char>(c));
        }
    }
    pop();
    return match;
}

int64_t RiffFile::bytesLeft() {
    const int64_t position = ftello(fp);
    return position < 0 ? 0 : std::max<int64_t>(fileLength - position, 0);
}
