#include "wav/WaveFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <new>

// Sample arrays go to and from the file as they lie in memory, which is the file's byte order
// only on a little-endian host.
static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__, "sample I/O assumes a little-endian host");

namespace {

const uint32_t fmtChunkLength = 16;
// The RIFF size minus the data length: the header bytes from offset 8 to the first sample byte.
const uint32_t waveHeaderLength = 36;
const int64_t firstSampleOffset = waveHeaderLength + 8;

uint16_t getLE16(const unsigned char* p) {
    return static_cast<uint16_t>(p[0] | p[1] << 8);
}

uint32_t getLE32(const unsigned char* p) {
    return static_cast<uint32_t>(getLE16(p)) | static_cast<uint32_t>(getLE16(p + 2)) << 16;
}

unsigned char* putLE16(unsigned char* p, uint16_t v) {
    p[0] = static_cast<unsigned char>(v & 0xFF);
    p[1] = static_cast<unsigned char>(v >> 8);
    return p + 2;
}

unsigned char* putLE32(unsigned char* p, uint32_t v) {
    return putLE16(putLE16(p, static_cast<uint16_t>(v & 0xFFFF)), static_cast<uint16_t>(v >> 16));
}

unsigned char* putId(unsigned char* p, const char* id) {
    std::memcpy(p, id, 4);
    return p + 4;
}

// Truncation toward zero as the hardware conversion does it: a NaN or a value outside the
// signed 32-bit range gives INT32_MIN (a plain cast would be undefined there).
int32_t truncateToInt32(double x) {
    if (x > -2147483649.0 && x < 2147483648.0) {
        return static_cast<int32_t>(x);
    }
    return INT32_MIN;
}

// Two's complement reading of 16 bits, without relying on an implementation-defined cast.
short fromBits16(uint16_t bits) {
    return static_cast<short>(bits < 0x8000 ? static_cast<int>(bits)
                                            : static_cast<int>(bits) - 0x10000);
}

// Whether the opened file can be read or written as a WAV file is: a regular file, or another
// one that can seek (a device such as /dev/null). FIFOs, sockets and terminals cannot.
bool Seekable(int fd) {
    struct stat st;
    return fstat(fd, &st) == 0 && (S_ISREG(st.st_mode) || lseek(fd, 0, SEEK_CUR) >= 0);
}

// Opens without waiting: a FIFO with nobody at the other end would block in open forever. The
// file is refused unless it is seekable; the descriptor returned blocks as usual again.
int OpenWithoutWaiting(const char* name, int flags) {
    const int fd = open(name, flags | O_NONBLOCK | O_CLOEXEC, 0666);
    if (fd < 0) {
        return -1;
    }
    const int status = fcntl(fd, F_GETFL);
    if (!Seekable(fd) || status < 0 || fcntl(fd, F_SETFL, status & ~O_NONBLOCK) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

}  // namespace

WaveFile::~WaveFile() {
    Close();
}

bool WaveFile::Fail(const char* message) {
    error = message;
    return false;
}

bool WaveFile::OpenRead(const char* name) {
    Close();
    // The reader opens the file by its name; it is looked at first, without waiting, so that a
    // FIFO is refused instead of blocking the open.
    const int fd = OpenWithoutWaiting(name, O_RDONLY);
    if (fd < 0) {
        return Fail("Couldn't open file");
    }
    close(fd);
    try {
        readFile.reset(new RiffFile(name));
        const char* failure = nullptr;
        if (readFile->filep() == nullptr) {
            failure = "Couldn't open file";
        } else if (std::strcmp(readFile->chunkName(), "RIFF") != 0 ||
                   readFile->subType() == nullptr ||
                   std::strcmp(readFile->subType(), "WAVE") != 0 || !readFile->push("fmt ")) {
            failure = "Couldn't find RIFF, WAVE, or fmt";
        } else if (!ReadFormatChunk()) {
            failure = "Error reading format chunk";
        } else if (!readFile->pop() || !readFile->push("data")) {
            failure = "Couldn't find data chunk";
        }
        if (failure != nullptr) {
            Close();
            return Fail(failure);
        }
        dataLength = readFile->chunkSize();
        dataPresent = static_cast<uint32_t>(std::min<int64_t>(readFile->bytesLeft(), UINT32_MAX));
        return true;
    } catch (...) {
        Close();
        return false;
    }
}

// The format is the first 16 bytes of the "fmt " content; longer variants add fields after them.
// The whole content must be in the file, but only those 16 bytes are read, so a chunk that
// claims more than the file holds is refused without reserving memory for the claim.
bool WaveFile::ReadFormatChunk() {
    const uint32_t size = readFile->chunkSize();
    if (size < fmtChunkLength || size > readFile->bytesLeft()) {
        return false;
    }
    unsigned char buf[fmtChunkLength];
    if (std::fread(buf, 1, sizeof buf, readFile->filep()) != sizeof buf) {
        return false;
    }
    formatType = getLE16(buf);
    numChannels = getLE16(buf + 2);
    sampleRate = getLE32(buf + 4);
    bytesPerSecond = getLE32(buf + 8);
    bytesPerSample = getLE16(buf + 12);
    bitsPerChannel = getLE16(buf + 14);
    return true;
}

bool WaveFile::OpenWrite(const char* name) {
    Close();
    // As fopen(name, "wb") does, but refusing at once what cannot be written as a WAV file: the
    // header is written again at the start once the samples are known.
    const int fd = OpenWithoutWaiting(name, O_WRONLY | O_CREAT | O_TRUNC);
    if (fd >= 0) {
        writeFile = fdopen(fd, "wb");
        if (writeFile == nullptr) {
            close(fd);
        }
    }
    if (writeFile == nullptr) {
        return Fail("Couldn't open output file");
    }
    dataLength = 0;
    dataPresent = UINT32_MAX;
    overwritable = 0;
    return WriteHeaderToFile(writeFile);
}

bool WaveFile::WriteHeaderToFile(FILE* f) {
    if (fseeko(f, 0, SEEK_SET) != 0) {
        return false;
    }
    unsigned char header[firstSampleOffset];
    unsigned char* p = putId(header, "RIFF");
    p = putLE32(p, dataLength + waveHeaderLength);
    p = putId(p, "WAVE");
    p = putId(p, "fmt ");
    p = putLE32(p, fmtChunkLength);
    p = putLE16(p, formatType);
    p = putLE16(p, numChannels);
    p = putLE32(p, sampleRate);
    p = putLE32(p, bytesPerSecond);
    p = putLE16(p, bytesPerSample);
    p = putLE16(p, bitsPerChannel);
    p = putId(p, "data");
    putLE32(p, dataLength);
    if (std::fwrite(header, 1, sizeof header, f) != sizeof header) {
        return Fail("Error writing header");
    }
    if (f == writeFile) {
        changed = false;
    }
    return true;
}

bool WaveFile::Close() {
    bool result = true;
    readFile.reset();
    if (writeFile != nullptr) {
        if (changed) {
            const off_t position = ftello(writeFile);
            result = WriteHeaderToFile(writeFile);
            fseeko(writeFile, position, SEEK_SET);
        }
        // Samples and header may still sit in the stream's buffer: a failure to flush them
        // means the file is incomplete.
        if (std::fclose(writeFile) != 0) {
            result = Fail("Couldn't write samples");
        }
        writeFile = nullptr;
    }
    return result;
}

bool WaveFile::ResetToStart() {
    if (readFile) {
        if (!readFile->rewind() || !readFile->push("data")) {
            return Fail("Couldn't find data chunk on reset");
        }
        return true;
    }
    if (writeFile != nullptr) {
        // Back to the first sample byte: the samples written from here replace those written
        // before, up to the data length already counted.
        if (fseeko(writeFile, firstSampleOffset, SEEK_SET) != 0) {
            return false;
        }
        overwritable = dataLength;
        return true;
    }
    return false;
}

FILE* WaveFile::GetFile() {
    return readFile ? readFile->filep() : writeFile;
}

uint32_t WaveFile::GetAvailableDataLength() const {
    return std::min(dataLength, dataPresent);
}

uint32_t WaveFile::GetNumSamples() const {
    return bytesPerSample == 0 ? 0 : dataLength / bytesPerSample;
}

void WaveFile::SetDataLength(unsigned long length) {
    dataLength = static_cast<uint32_t>(length);
    changed = true;
}

void WaveFile::SetSampleRate(unsigned long rate) {
    sampleRate = static_cast<uint32_t>(rate);
    changed = true;
}

void WaveFile::SetBytesPerSample(unsigned short bytes) {
    bytesPerSample = bytes;
    changed = true;
}

void WaveFile::SetNumSamples(unsigned long n) {
    SetDataLength(bytesPerSample * n);
}

void WaveFile::SetupFormat(int sampleRate, short bitsPerChannel, short numChannels) {
    formatType = 1;
    this->numChannels = static_cast<uint16_t>(numChannels);
    SetSampleRate(static_cast<unsigned long>(sampleRate));
    SetBytesPerSample(static_cast<unsigned short>(numChannels * (bitsPerChannel >> 3)));
    bytesPerSecond = static_cast<uint32_t>(bytesPerSample) * this->sampleRate;
    this->bitsPerChannel = static_cast<uint16_t>(bitsPerChannel);
    SetDataLength(0);  // marks the header changed
}

bool WaveFile::FormatMatches(const WaveFile& other) const {
    return formatType == other.formatType && numChannels == other.numChannels &&
           sampleRate == other.sampleRate && bytesPerSecond == other.bytesPerSecond &&
           bytesPerSample == other.bytesPerSample && bitsPerChannel == other.bitsPerChannel;
}

void WaveFile::CopyFormatFrom(const WaveFile& other) {
    formatType = other.formatType;
    numChannels = other.numChannels;
    sampleRate = other.sampleRate;
    bytesPerSecond = other.bytesPerSecond;
    bytesPerSample = other.bytesPerSample;
    bitsPerChannel = other.bitsPerChannel;
}

bool WaveFile::RoomFor(unsigned long long n) const {
    const unsigned long long grows = n - std::min<unsigned long long>(n, overwritable);
    return grows <= UINT32_MAX - waveHeaderLength - dataLength;
}

void WaveFile::CountWritten(unsigned long long n) {
    const uint32_t replaced = static_cast<uint32_t>(std::min<unsigned long long>(n, overwritable));
    overwritable -= replaced;
    SetDataLength(dataLength + static_cast<uint32_t>(n - replaced));
}

bool WaveFile::ReadRaw(char* buf, unsigned long long n) {
    FILE* f = GetFile();
    if (f == nullptr || std::fread(buf, 1, n, f) != n) {
        return Fail("Couldn't read samples");
    }
    return true;
}

// Data beyond 4 GiB cannot be described by the header, so such a write is refused before
// anything reaches the file.
bool WaveFile::WriteRaw(char* buf, unsigned long long n) {
    if (writeFile == nullptr || !RoomFor(n) || std::fwrite(buf, 1, n, writeFile) != n) {
        return Fail("Couldn't write samples");
    }
    CountWritten(n);
    return true;
}

bool WaveFile::CheckBits(uint16_t bits) {
    return bitsPerChannel == bits || Fail("Sample size mismatch");
}

bool WaveFile::ReadSample(unsigned char& sample) {
    return CheckBits(8) && ReadRaw(reinterpret_cast<char*>(&sample), 1);
}

bool WaveFile::WriteSample(unsigned char sample) {
    return CheckBits(8) && WriteRaw(reinterpret_cast<char*>(&sample), 1);
}

bool WaveFile::ReadSample(short& sample) {
    unsigned char bytes[2];
    if (!CheckBits(16) || !ReadRaw(reinterpret_cast<char*>(bytes), 2)) {
        return false;
    }
    sample = fromBits16(getLE16(bytes));
    return true;
}

bool WaveFile::WriteSample(short sample) {
    unsigned char bytes[2];
    putLE16(bytes, static_cast<uint16_t>(sample));
    return CheckBits(16) && WriteRaw(reinterpret_cast<char*>(bytes), 2);
}

bool WaveFile::ReadSamples(unsigned char* buf, unsigned long long count) {
    return CheckBits(8) && ReadRaw(reinterpret_cast<char*>(buf), numChannels * count);
}

bool WaveFile::WriteSamples(unsigned char* buf, unsigned long long count) {
    return CheckBits(8) && WriteRaw(reinterpret_cast<char*>(buf), numChannels * count);
}

bool WaveFile::ReadSamples(short* buf, unsigned long long count) {
    return CheckBits(16) && ReadRaw(reinterpret_cast<char*>(buf), numChannels * 2ULL * count);
}

bool WaveFile::WriteSamples(short* buf, unsigned long long count) {
    return CheckBits(16) && WriteRaw(reinterpret_cast<char*>(buf), numChannels * 2ULL * count);
}

bool WaveFile::ReadSample(double& sample) {
    if (bitsPerChannel == 8) {
        unsigned char b = 0;
        const bool ok = ReadSample(b);
        sample = b / 127.0 - 1.0;
        return ok;
    }
    if (bitsPerChannel == 16) {
        short s = 0;
        const bool ok = ReadSample(s);
        sample = s / 32767.0;
        return ok;
    }
    return Fail("Floats can be written only as 8 or 16-bit samples");
}

bool WaveFile::WriteSample(double sample) {
    if (bitsPerChannel == 8) {
        const int32_t v = truncateToInt32(127.0 * (sample + 1.0));
        return WriteSample(static_cast<unsigned char>(v & 0xFF));
    }
    if (bitsPerChannel == 16) {
        const int32_t v = truncateToInt32(32767.0 * sample);
        return WriteSample(fromBits16(static_cast<uint16_t>(v & 0xFFFF)));
    }
    return Fail("Floats can be written only as 8 or 16-bit samples");
}

bool WaveFile::ReadSample(float& sample) {
    double wide = sample;  // a failed read at another depth leaves the value as it was
    const bool ok = ReadSample(wide);
    sample = static_cast<float>(wide);
    return ok;
}

bool WaveFile::WriteSample(float sample) {
    return WriteSample(static_cast<double>(sample));
}

bool WaveFile::CopyFrom(WaveFile& source) {
    if (writeFile == nullptr) {
        return Fail("Copy to an unopened file");
    }
    if (!source.readFile) {
        return Fail("Copy from an unopened file");
    }
    if (!source.ResetToStart()) {
        return Fail("Couldn't reset input file to start");
    }
    char buf[4096];
    FILE* in = source.GetFile();
    for (uint32_t copied = 0; copied < source.dataLength;) {
        const uint32_t n = std::min<uint32_t>(sizeof buf, source.dataLength - copied);
        if (std::fread(buf, 1, n, in) != n) {
            return Fail("Error reading samples from input file");
        }
        copied += n;
        if (!RoomFor(n) || std::fwrite(buf, 1, n, writeFile) != n) {
            return Fail("Error writing samples to output file");
        }
        CountWritten(n);
    }
    return true;
}

bool WaveFile::GetFirstExtraItem(std::string& type, std::string& value) {
    if (!readFile || !readFile->rewind()) {
        return false;
    }
    return readFile->getNextExtraItem(type, value);
}

bool WaveFile::GetNextExtraItem(std::string& type, std::string& value) {
    return readFile && readFile->getNextExtraItem(type, value);
}
