// Fuzzes the WAV reading path: opening, every kind of sample read, the descriptive-item walk and
// the reset to the first sample, on any bytes at all. Besides the sanitizers' checks it holds the
// reader to what it promises: reads inside the data it reports succeed, reads of the wrong
// sample size are refused, a reset reads the same samples again, and the item walk ends.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "FuzzInput.h"
#include "wav/WaveFile.h"

using fuzzinput::Require;

namespace {

// Enough samples to reach past every header field and the first data bytes, few enough that a
// file claiming thousands of channels does not make each run slow.
const uint32_t maxSamplesRead = 4096;

// Reads up to `samples` values of type T one at a time from the first sample, handing each to
// check, until a read fails; a failed read must say why, and must not happen at all when a batch
// read has already read those samples.
template <typename T, typename Check>
void ReadEach(WaveFile& wave, unsigned long long samples, bool readBefore, Check check) {
    Require(wave.ResetToStart(), "reset to the first sample failed on an open file");
    for (unsigned long long i = 0; i < samples; i++) {
        T value{};
        if (!wave.ReadSample(value)) {
            Require(wave.GetError() != nullptr, "a failed read left no message");
            Require(!readBefore, "a sample read failed where the batch read succeeded");
            return;
        }
        check(i, value);
    }
}

void CheckBatchReads(WaveFile& wave, uint32_t frames) {
    const uint16_t channels = wave.GetNumChannels();
    const uint16_t bits = wave.GetBitsPerChannel();
    const unsigned long long samples = static_cast<unsigned long long>(frames) * channels;
    const unsigned long long bytes16 = samples * 2;

    std::vector<short> first(samples + 1);
    const bool read16 = wave.ReadSamples(first.data(), frames);
    Require(read16 || bits != 16 || bytes16 > wave.GetAvailableDataLength(),
            "a 16-bit read within the available data failed");
    Require(!read16 || bits == 16, "a 16-bit read of another sample size succeeded");

    Require(wave.ResetToStart(), "reset to the first sample failed on an open file");
    std::vector<unsigned char> bytes(samples + 1);
    const bool read8 = wave.ReadSamples(bytes.data(), frames);
    Require(read8 || bits != 8 || samples > wave.GetAvailableDataLength(),
            "an 8-bit read within the available data failed");
    Require(!read8 || bits == 8, "an 8-bit read of another sample size succeeded");

    // The same samples one at a time, once through each single-sample kind, each time from the
    // first sample: every kind must agree with the batch reads.
    ReadEach<short>(wave, samples, read16, [&](unsigned long long i, short s) {
        Require(bits == 16, "a 16-bit sample read of another sample size succeeded");
        Require(!read16 || s == first[i], "single 16-bit read differs from batch");
    });
    ReadEach<unsigned char>(wave, samples, read8, [&](unsigned long long i, unsigned char b) {
        Require(bits == 8, "an 8-bit sample read of another sample size succeeded");
        Require(!read8 || b == bytes[i], "single 8-bit read differs from batch");
    });
    ReadEach<double>(wave, samples, read16 || read8, [&](unsigned long long i, double d) {
        Require(bits == 8 || bits == 16, "a floating-point read of another sample size succeeded");
        Require(!read16 || d == first[i] / 32767.0, "16-bit double read differs from batch");
        Require(!read8 || d == bytes[i] / 127.0 - 1.0, "8-bit double read differs from batch");
    });
    ReadEach<float>(wave, samples, read16 || read8, [&](unsigned long long i, float f) {
        Require(!read16 || f == static_cast<float>(first[i] / 32767.0),
                "16-bit float read differs from batch");
        Require(!read8 || f == static_cast<float>(bytes[i] / 127.0 - 1.0),
                "8-bit float read differs from batch");
    });

    // Raw bytes, then again after a reset: the data must come back the same.
    const uint32_t rawLength = std::min<uint32_t>(wave.GetAvailableDataLength(), maxSamplesRead);
    std::vector<char> raw1(rawLength + 1);
    std::vector<char> raw2(rawLength + 1);
    Require(wave.ResetToStart(), "third reset failed");
    Require(wave.ReadRaw(raw1.data(), rawLength), "raw read within the available data failed");
    Require(wave.ResetToStart(), "fourth reset failed");
    Require(wave.ReadRaw(raw2.data(), rawLength), "raw read after reset failed");
    Require(std::memcmp(raw1.data(), raw2.data(), rawLength) == 0, "data read after reset differs");
    if (read16) {
        Require(std::memcmp(raw1.data(), first.data(), std::min<size_t>(rawLength, bytes16)) == 0,
                "raw bytes differ from the 16-bit samples");
    }
}

// Walks the descriptive items. Each item is a chunk of its own with an 8-byte header, so a file
// of `size` bytes cannot hold more than size / 8 of them: a walk that goes on longer would never
// end.
void CheckItemWalk(WaveFile& wave, size_t size) {
    std::string type;
    std::string value;
    size_t items = 0;
    for (bool more = wave.GetFirstExtraItem(type, value); more;
         more = wave.GetNextExtraItem(type, value)) {
        Require(!type.empty(), "an item without a description");
        Require(value.size() <= size, "an item longer than the file");
        items++;
        Require(items <= size / 8 + 1, "the item walk does not end");
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static fuzzinput::InputFile input("wav");
    const char* name = input.Write(data, size);

    WaveFile wave;
    if (!wave.OpenRead(name)) {
        Require(wave.GetError() != nullptr, "a failed open left no message");
        Require(wave.GetFile() == nullptr, "a failed open left the file open");
        return 0;
    }
    Require(wave.GetAvailableDataLength() <= wave.GetDataLength(),
            "more data available than claimed");
    Require(wave.GetAvailableDataLength() <= size, "more data available than the file holds");
    Require(static_cast<uint64_t>(wave.GetNumSamples()) * wave.GetBytesPerSample() <=
                wave.GetDataLength(),
            "more frames than the data holds");

    const uint16_t channels = std::max<uint16_t>(wave.GetNumChannels(), 1);
    const uint32_t frames = std::min<uint32_t>(wave.GetNumSamples(), maxSamplesRead / channels);
    CheckBatchReads(wave, frames);

    CheckItemWalk(wave, size);
    // The walk leaves the stream among the chunks; the samples are found again after a reset.
    Require(wave.ResetToStart(), "reset after the item walk failed");
    std::vector<char> again(std::min<uint32_t>(wave.GetAvailableDataLength(), maxSamplesRead) + 1);
    Require(wave.ReadRaw(again.data(), again.size() - 1), "read after the item walk failed");

    // Copying the data to a discarding writer exercises the whole-data read path.
    WaveFile sink;
    if (sink.OpenWrite("/dev/null")) {
        sink.CopyFormatFrom(wave);
        Require(sink.FormatMatches(wave), "copied format does not match");
        sink.CopyFrom(wave);
        sink.Close();
    }
    Require(wave.Close(), "closing a file open for reading failed");
    Require(wave.GetFile() == nullptr, "closed file still open");
    return 0;
}
