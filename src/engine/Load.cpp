// What the program refuses to load, judged from a WAV file's header alone.
#include <sstream>

#include "engine/Engine.h"
#include "wav/WaveFile.h"

namespace engine {

std::string Unloadable(const WaveFile& wave) {
    std::ostringstream why;
    const unsigned channels = wave.GetNumChannels();
    if (channels != 1 && channels != 2) {
        why << "unsupported number of channels (" << channels
            << "); only mono and stereo are supported";
    } else if (wave.GetSampleRate() == 0) {
        why << Unconvertible(wave.GetNumSamples(), 0);
    } else if (wave.GetAvailableDataLength() < wave.GetDataLength()) {
        why << "file is truncated: the data chunk declares " << wave.GetDataLength()
            << " bytes but only " << wave.GetAvailableDataLength() << " follow";
    } else if (wave.GetBitsPerChannel() != 16 || wave.GetBytesPerSample() != 2 * channels) {
        // Only 16-bit frames of one sample per channel are read.
        why << "could not read samples from file";
    } else {
        why << Unconvertible(wave.GetNumSamples(), wave.GetSampleRate());
    }
    return why.str();
}

}  // namespace engine
