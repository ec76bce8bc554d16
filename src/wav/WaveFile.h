#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

#include "wav/RiffFile.h"

// Reads and writes WAV files: a RIFF form "WAVE" with a "fmt " and a "data" chunk. An object is
// closed, open for reading or open for writing. Failures return false and leave a message that
// GetError() returns; nothing is printed.
class WaveFile {
public:
    WaveFile() = default;
    ~WaveFile();
    WaveFile(const WaveFile&) = delete;
    WaveFile& operator=(const WaveFile&) = delete;

    // Both refuse at once, without blocking, a file that cannot seek (a FIFO, a socket, a
    // terminal); a regular file or a seekable device is opened. OpenWrite creates or truncates.
    bool OpenRead(const char* name);
    bool OpenWrite(const char* name);
    bool Close();
    bool ResetToStart();

    FILE* GetFile();
    const char* GetError() const { return error; }

    uint32_t GetDataLength() const { return dataLength; }
    // The data bytes the file really holds: the header's claim, cut down to what follows the
    // first sample byte when the file is shorter. Callers size their buffers by this.
    uint32_t GetAvailableDataLength() const;
    uint32_t GetSampleRate() const { return sampleRate; }
    uint16_t GetNumChannels() const { return numChannels; }
    uint16_t GetBitsPerChannel() const { return bitsPerChannel; }
    uint16_t GetBytesPerSample() const { return bytesPerSample; }
    uint16_t GetFormatType() const { return formatType; }
    uint32_t GetBytesPerSecond() const { return bytesPerSecond; }
    uint32_t GetNumSamples() const;

    void SetDataLength(unsigned long length);
    void SetSampleRate(unsigned long rate);
    void SetBytesPerSample(unsigned short bytes);
    void SetNumSamples(unsigned long n);

    void SetupFormat(int sampleRate, short bitsPerChannel, short numChannels);
    bool FormatMatches(const WaveFile& other) const;
    void CopyFormatFrom(const WaveFile& other);

    bool ReadRaw(char* buf, unsigned long long n);
    bool WriteRaw(char* buf, unsigned long long n);
    bool ReadSample(unsigned char& sample);
    bool WriteSample(unsigned char sample);
    bool ReadSample(short& sample);
    bool WriteSample(short sample);
    bool ReadSamples(unsigned char* buf, unsigned long long count);
    bool WriteSamples(unsigned char* buf, unsigned long long count);
    bool ReadSamples(short* buf, unsigned long long count);
    bool WriteSamples(short* buf, unsigned long long count);
    bool ReadSample(double& sample);
    bool WriteSample(double sample);
    bool ReadSample(float& sample);
    bool WriteSample(float sample);

    bool CopyFrom(WaveFile& source);

    bool GetFirstExtraItem(std::string& type, std::string& value);
    bool GetNextExtraItem(std::string& type, std::string& value);

private:
    bool Fail(const char* message);
    // The 44-byte header of the fields as they are, at the start of f.
    bool WriteHeaderToFile(FILE* f);
    bool ReadFormatChunk();
    bool CheckBits(uint16_t bits);
    // Whether n more bytes written at the write position keep the RIFF size within 32 bits.
    bool RoomFor(unsigned long long n) const;
    // Counts n bytes just written at the write position.
    void CountWritten(unsigned long long n);

    std::unique_ptr<RiffFile> readFile;
    FILE* writeFile = nullptr;
    uint16_t formatType = 0;
    uint16_t numChannels = 0;
    uint32_t sampleRate = 0;
    uint32_t bytesPerSecond = 0;
    uint16_t bytesPerSample = 0;
    uint16_t bitsPerChannel = 0;
    uint32_t dataLength = 0;
    const char* error = nullptr;
    bool changed = true;

    // Data bytes the opened file holds from the first sample byte on; no limit when writing.
    uint32_t dataPresent = UINT32_MAX;
    // Bytes already counted in dataLength that lie ahead of the write position: after
    // ResetToStart the samples are written again, and rewriting must not count them twice.
    uint32_t overwritable = 0;
};
