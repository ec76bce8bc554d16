#include "io/FloatWave.h"

#include <algorithm>
#include <cstring>
#include <fstream>
#include <iterator>

#include "io/AtomicOutput.h"

namespace {

const uint16_t kIeeeFloat = 3;
// RIFF, WAVE, the 18-byte fmt chunk, the fact chunk (frames) and the data chunk's header.
const size_t kHeaderSize = 12 + 26 + 12 + 8;
// The largest data chunk the 32-bit sizes of the header can describe.
const uint64_t kMaxSamples = (0xFFFFFFFFull - kHeaderSize) / 4;

void Put16(unsigned char* p, uint32_t v) {
    p[0] = static_cast<unsigned char>(v);
    p[1] = static_cast<unsigned char>(v >> 8);
}

void Put32(unsigned char* p, uint32_t v) {
    Put16(p, v & 0xFFFF);
    Put16(p + 2, v >> 16);
}

uint32_t Get32(const unsigned char* p) {
    return p[0] | p[1] << 8 | p[2] << 16 | uint32_t(p[3]) << 24;
}

}  // namespace

FloatWaveWriter::FloatWaveWriter() = default;

FloatWaveWriter::~FloatWaveWriter() {
    if (file) {
        fclose(file);
    }
}

bool FloatWaveWriter::Open(const std::string& name, uint32_t sampleRate) {
    output = std::make_unique<AtomicOutput>(name);
    rate = sampleRate;
    file = output->Ready() ? fopen(output->Path(), "wb") : nullptr;
    return file && WriteHeader();
}

bool FloatWaveWriter::WriteHeader() {
    const auto data = static_cast<uint32_t>(samples * 4);
    unsigned char h[kHeaderSize];
    memcpy(h, "RIFF", 4);
    Put32(h + 4, static_cast<uint32_t>(kHeaderSize - 8 + data));
    memcpy(h + 8, "WAVEfmt ", 8);
    Put32(h + 16, 18);
    Put16(h + 20, kIeeeFloat);
    Put16(h + 22, 1);         // channels
    Put32(h + 24, rate);      // frames per second
    Put32(h + 28, rate * 4);  // bytes per second
    Put16(h + 32, 4);         // bytes per frame
    Put16(h + 34, 32);        // bits per sample
    Put16(h + 36, 0);         // no extension
    memcpy(h + 38, "fact", 4);
    Put32(h + 42, 4);
    Put32(h + 46, static_cast<uint32_t>(samples));
    memcpy(h + 50, "data", 4);
    Put32(h + 54, data);
    failed = failed || fseek(file, 0, SEEK_SET) != 0 || fwrite(h, 1, sizeof h, file) != sizeof h;
    return !failed;
}

bool FloatWaveWriter::Append(const float* x, size_t count) {
    if (!file || failed || count > kMaxSamples - samples) {
        failed = true;
        return false;
    }
    unsigned char bytes[4096];
    for (size_t done = 0; done < count && !failed;) {
        const size_t n = std::min(count - done, sizeof bytes / 4);
        for (size_t i = 0; i < n; i++) {
            uint32_t v;
            memcpy(&v, &x[done + i], 4);
            Put32(bytes + 4 * i, v);
        }
        failed = fwrite(bytes, 4, n, file) != n;
        done += n;
    }
    samples += failed ? 0 : count;
    return !failed;
}

bool FloatWaveWriter::Finish() {
    if (!file) {
        return false;
    }
    const bool written = WriteHeader() && fflush(file) == 0;
    const bool closed = fclose(file) == 0;
    file = nullptr;
    return written && closed && output->Commit();
}

bool ReadFloatWave(const std::string& name, std::vector<float>& samples, uint32_t& rate,
                   std::string& why) {
    std::ifstream in(name, std::ios::binary);
    const std::vector<unsigned char> b((std::istreambuf_iterator<char>(in)),
                                       std::istreambuf_iterator<char>());
    if (!in.eof() && !in) {
        why = "cannot read " + name;
        return false;
    }
    if (b.size() < 12 || memcmp(b.data(), "RIFF", 4) != 0 || memcmp(b.data() + 8, "WAVE", 4)) {
        why = name + " is not a WAV file";
        return false;
    }
    bool format = false;
    for (size_t at = 12; at + 8 <= b.size();) {
        const uint32_t size = Get32(&b[at + 4]);
        const size_t body = at + 8;
        if (size > b.size() - body) {
            break;
        }
        if (memcmp(&b[at], "fmt ", 4) == 0 && size >= 16) {
            format = (b[body] | b[body + 1] << 8) == kIeeeFloat && b[body + 2] == 1 &&
                     b[body + 3] == 0 && b[body + 14] == 32 && b[body + 15] == 0;
            rate = Get32(&b[body + 4]);
        } else if (memcmp(&b[at], "data", 4) == 0 && format) {
            samples.resize(size / 4);
            for (size_t i = 0; i < samples.size(); i++) {
                const uint32_t v = Get32(&b[body + 4 * i]);
                memcpy(&samples[i], &v, 4);
            }
            return true;
        }
        at = body + size + (size & 1);
    }
    why = name + (format ? " has no complete data chunk" : " is not mono 32-bit float WAV");
    return false;
}
